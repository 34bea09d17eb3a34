#pragma once

// The desktop's keyboard layout, read from the desktop's own settings (GNOME: the input sources in
// gsettings; KDE: kxkbrc), and how each character is typed on it. The portal's keysym route reaches only
// the first two levels of a key (GNOME and KDE type a keysym of the AltGr levels at the first level, and
// drop one the layout lacks), so characters beyond them are typed as key codes with the level-3/level-5
// modifier key pressed, and characters the layout lacks are refused before anything is typed.

#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vornal::platform {

struct DesktopLayout {
    std::string layout;     // "de"; several as "de,us" never: the current one only
    std::string variant;    // "nodeadkeys", or empty
    std::string options;    // "lv3:ralt_switch,compose:menu", or empty
    std::string unreadable; // why the layout could not be read; the other fields are then empty
    // "de", "de(nodeadkeys)".
    std::string name() const;
};

// The layout of the desktop whose remote-desktop portal backend owns `backendName`
// ("org.freedesktop.impl.portal.desktop.gnome" or ".kde"); decided from XDG_CURRENT_DESKTOP when empty.
DesktopLayout readDesktopLayout(const QString& backendName);
// GNOME: the current input source from the gsettings values of org.gnome.desktop.input-sources
// ("[('xkb', 'de'), ('xkb', 'us')]", its mru-sources, its xkb-options), as printed by `gsettings get`.
DesktopLayout gnomeLayout(const QString& sources, const QString& mruSources, const QString& xkbOptions);
// KDE: layout number `current` (0 = the first) of the [Layout] group of a kxkbrc file's text.
DesktopLayout kdeLayout(const QString& kxkbrc, int current);

// How a character is typed on the layout.
struct KeyWay {
    enum class Kind {
        Keysym,   // on the first two levels: sent as its keysym, the desktop finds the key
        Keycodes, // beyond them (AltGr) or by a dead key: key codes, see strokes
        None      // the layout cannot produce it
    };
    Kind kind = Kind::None;
    std::uint32_t keysym = 0;
    // Evdev key codes; each stroke pressed in order and released in reverse (modifiers first).
    std::vector<std::vector<std::uint32_t>> strokes;
};

class LayoutKeys {
public:
    explicit LayoutKeys(DesktopLayout layout);
    ~LayoutKeys();
    LayoutKeys(const LayoutKeys&) = delete;
    LayoutKeys& operator=(const LayoutKeys&) = delete;

    const DesktopLayout& layout() const;
    KeyWay wayOf(char32_t ch) const;
    // Empty when every character of `text` can be typed; else a message naming those that cannot.
    std::string refusal(const std::u32string& text) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vornal::platform
