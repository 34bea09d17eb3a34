#pragma once

// The keymap the Wayland backend hands to the compositor for its virtual keyboard, and where each
// keysym sits in it. It is laid out like a real keyboard, because receivers read more than the keysym:
// Chromium (and every Electron program) takes the physical key from the evdev code and acts on it. A
// character put on the code of F1 opened Chromium's help and took the focus from the page, one on
// Backspace deleted, one on a Control or an unknown code vanished. So:
// - the keys that mean themselves (Return, Tab, arrows, Escape, Delete, F1-F12, the numeric pad, the
//   modifiers) sit on their own evdev codes;
// - characters sit only on the 48 keys of the main writing block (digits row to slash, plus the key
//   left of Z), printable ASCII exactly where a US keyboard has it, on the first two levels;
// - the other characters on levels 3 to 8 of the same keys: Latin-1, the euro sign and Latin
//   Extended-A from the start, then room for characters added later.
// Levels are chosen by modifiers the backend sends itself (Shift, Mod5 for level 3, Mod3 for level 5);
// no modifier key is pressed for them.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vornal::platform {

class TypingKeymap {
public:
    using Keysym = std::uint32_t;

    // A keysym's key (evdev code) and the modifiers that select its level.
    struct Place {
        std::uint32_t key = 0;
        std::uint32_t mods = 0; // a mask of the real modifiers below
        bool operator==(const Place&) const = default;
    };
    // The real modifiers of the keymap (their indices are fixed by XKB: Shift 0, Lock 1, Control 2,
    // Mod1 3, Mod2 4, Mod3 5, Mod4 6, Mod5 7).
    static constexpr std::uint32_t SHIFT = 1u << 0;
    static constexpr std::uint32_t CONTROL = 1u << 2;
    static constexpr std::uint32_t ALT = 1u << 3;    // Mod1
    static constexpr std::uint32_t LEVEL5 = 1u << 5; // Mod3
    static constexpr std::uint32_t LEVEL3 = 1u << 7; // Mod5

    // Fixed keys, printable ASCII, Latin-1, the euro sign, Latin Extended-A.
    TypingKeymap();

    std::optional<Place> find(Keysym ks) const;
    // Puts `ks` on a free level (or on the one added longest ago, when every level is taken) and returns
    // its place. The keymap text changes: it must be handed to the compositor again.
    Place add(Keysym ks);
    // The modifier mask of a modifier keysym (Shift_L, Control_L, Alt_L), 0 for any other.
    static std::uint32_t modifierMask(Keysym ks);

    // The keymap in XKB text form.
    std::string text() const;

    // The 48 keys that carry characters, and the levels each has.
    static const std::vector<std::uint32_t>& writingKeys();
    static constexpr int LEVELS = 8;

private:
    struct Fixed {
        std::uint32_t key;
        Keysym ks;
    };
    static std::uint32_t levelMods(int level);
    std::vector<Fixed> fixed_;
    // slots_[k * LEVELS + level]: the keysym on writing key k at that level, 0 when free.
    std::vector<Keysym> slots_;
    std::size_t firstAdded_ = 0; // slots from here on may be reused, oldest first
    std::vector<std::size_t> addedOrder_;
};

} // namespace vornal::platform
