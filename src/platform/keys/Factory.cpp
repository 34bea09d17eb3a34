#include "KeyInjector.h"

#include <algorithm>

#if defined(_WIN32)
#include "windows/WindowsInjector.h"
#else
#if defined(VORNAL_KEYS_X11)
#include "x11/X11Injector.h"
#endif
#if defined(VORNAL_KEYS_WAYLAND)
#include "wayland/WaylandInjector.h"
#endif
#include <cstdlib>
#endif

namespace vornal::platform {

std::vector<std::string> keyBackendNames() {
#if defined(_WIN32)
    return {"auto", "windows"};
#else
    return {"auto", "wayland", "portal", "x11"};
#endif
}

#if defined(_WIN32)

std::unique_ptr<KeyInjector> createKeyInjector(const CharChords& layout, const KeyInjectorRequest& request,
                                               KeyInjectorChoice*) {
    if (request.backend != "auto" && request.backend != "windows")
        throw std::invalid_argument("unknown keyboard output '" + request.backend +
                                    "'; the choices are: auto windows");
    return std::make_unique<WindowsInjector>(layout);
}

#else

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

using Opener = std::unique_ptr<KeyInjector> (*)(const CharChords&, std::string*);

std::unique_ptr<KeyInjector> openWayland(const CharChords& layout, std::string* why) {
#if defined(VORNAL_KEYS_WAYLAND)
    return WaylandInjector::open(layout, why);
#else
    (void)layout;
    *why = "this build has no Wayland backend (it needs libwayland-dev, libxkbcommon-dev)";
    return nullptr;
#endif
}

std::unique_ptr<KeyInjector> openX11(const CharChords& layout, std::string* why) {
#if defined(VORNAL_KEYS_X11)
    return X11Injector::open(layout, why);
#else
    (void)layout;
    *why = "this build has no X11 backend (it needs libx11-dev, libxtst-dev)";
    return nullptr;
#endif
}

} // namespace

std::unique_ptr<KeyInjector> createKeyInjector(const CharChords& layout, const KeyInjectorRequest& request,
                                               KeyInjectorChoice* choice) {
    const std::string& want = request.backend.empty() ? std::string("auto") : request.backend;
    const auto names = keyBackendNames();
    if (std::find(names.begin(), names.end(), want) == names.end()) {
        std::string list;
        for (const auto& n : names)
            list += (list.empty() ? "" : " ") + n;
        throw std::invalid_argument("unknown keyboard output '" + want + "'; the choices are: " + list);
    }
    KeyInjectorChoice local;
    KeyInjectorChoice& c = choice ? *choice : local;
    const bool waylandSession = !env("WAYLAND_DISPLAY").empty() || env("XDG_SESSION_TYPE") == "wayland";

    std::string reasons;
    auto attempt = [&](const char* label, auto open) -> std::unique_ptr<KeyInjector> {
        std::string why;
        auto injector = open(layout, &why);
        if (!injector) {
            c.notTaken.push_back(std::string(label) + ": " + why);
            reasons += (reasons.empty() ? "" : "; ") + std::string(label) + ": " + why;
        }
        return injector;
    };
    auto openPortal = [&](const CharChords& l, std::string* why) -> std::unique_ptr<KeyInjector> {
        if (!request.openPortal) {
            *why = "this program has no desktop-portal support";
            return nullptr;
        }
        return request.openPortal(l, why);
    };

    std::unique_ptr<KeyInjector> injector;
    if (want == "wayland" || want == "auto")
        injector = attempt("Wayland virtual keyboard", openWayland);
    if (!injector && (want == "portal" || (want == "auto" && waylandSession)))
        injector = attempt("desktop portal", openPortal);
    if (!injector && (want == "x11" || want == "auto")) {
        injector = attempt("X11", openX11);
        if (injector && waylandSession)
            c.warning = "this is a Wayland session and keys go through XWayland: only X11 windows receive "
                        "them, native Wayland windows receive nothing. A desktop with a virtual keyboard "
                        "(sway, Hyprland, river, labwc, Wayfire) or the desktop portal (GNOME, KDE) types "
                        "into every window";
    }
    if (!injector)
        throw KeyInjectorUnavailable("keyboard output is not available: " + reasons);
    return injector;
}

#endif

} // namespace vornal::platform
