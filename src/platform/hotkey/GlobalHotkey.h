#pragma once
// A global keyboard shortcut: a key combination that reaches the program whatever window has the focus
// (the request hotkey). Qt-free. Backends: X11 (XGrabKey on the root window), Windows (RegisterHotKey)
// and a fake for tests. Desktops that give programs no global shortcut (Wayland) have no backend.

#include <functional>
#include <memory>
#include <string>

namespace vornal::platform {

struct HotkeyChord {
    enum Modifier : unsigned { Ctrl = 1, Alt = 2, Shift = 4, Meta = 8 };
    unsigned modifiers = 0;
    std::string key; // "A".."Z", "0".."9", "F1".."F24"
};

class GlobalHotkey {
public:
    // Called on the backend's own thread once per press (holding the keys down does not repeat).
    using Callback = std::function<void()>;

    virtual ~GlobalHotkey() = default;
    // "X11", "Windows", "fake".
    virtual std::string name() const = 0;
    // Takes the chord (releasing one taken before). "" on success, else why not (another program holds
    // the combination, unknown key).
    virtual std::string grab(const HotkeyChord& chord, Callback onPress) = 0;
    // Gives the chord back; no press is reported after it returns (one already being reported may end).
    virtual void release() = 0;
};

// The backend of this desktop, or null with the reason in `why` when it offers no global shortcut
// (Wayland, no display, a build without X11).
std::unique_ptr<GlobalHotkey> createGlobalHotkey(std::string* why);

} // namespace vornal::platform
