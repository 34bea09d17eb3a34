#include "platform/hotkey/GlobalHotkey.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include "platform/hotkey/windows/WindowsHotkey.h"
#elif defined(VORNAL_HOTKEY_X11)
#include "platform/hotkey/x11/X11Hotkey.h"
#endif

namespace vornal::platform {

std::unique_ptr<GlobalHotkey> createGlobalHotkey(std::string* why) {
#if defined(_WIN32)
    (void)why;
    return std::make_unique<WindowsHotkey>();
#else
    // On Wayland the compositor hands keys only to the focused window; an X11 grab through XWayland
    // sees keys only while an X11 window has the focus.
    const char* session = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((session && std::strcmp(session, "wayland") == 0) || (wayland && *wayland)) {
        *why = "this desktop (Wayland) gives programs no global shortcut; assign a shortcut in the "
               "desktop's keyboard settings that runs \"vornal-cli request\" instead";
        return nullptr;
    }
#if defined(VORNAL_HOTKEY_X11)
    return X11Hotkey::open(why);
#else
    *why = "this build has no global shortcut support (X11 was not found when it was built)";
    return nullptr;
#endif
#endif
}

} // namespace vornal::platform
