#pragma once

// Shared by the real backends: follows the modifier keys (SHIFT, CONTROL, ALT) that are held, and
// decodes the key pressed under them back into the character that chord means on the configured
// layout. ALT + numeric-pad digits are collected and become a character code when ALT is released.

#include "KeyCodes.h"

#include <optional>
#include <vector>

namespace vornal::platform {

class ChordDecoder {
public:
    explicit ChordDecoder(const CharChords& layout);

    struct Meaning {
        enum class Kind {
            Character,     // type `ch`
            DeadCharacter, // the accent key whose accent + SPACE gives `ch`
            Key            // no character: the key `code` itself with the real `modifiers`
        };
        Kind kind = Kind::Key;
        char32_t ch = 0;
        int code = 0;
        std::vector<int> modifiers; // modifier codes held, in press order (Kind::Key only)
    };

    // A modifier key went down / up. Releasing ALT after numeric-pad digits gives their decimal number.
    void modifierDown(int code);
    std::optional<int> modifierUp(int code);
    // True when `code` is a numeric-pad digit typed under ALT alone: collected, nothing to press.
    bool collectAltDigit(int code);
    // What a key press is before its meaning is decoded: a modifier (held logically: which real
    // modifiers go down depends on the key that follows), an ALT + numeric-pad digit (collected), the
    // SPACE that would complete an accent already typed as its own character (dropped; the backend
    // still remembers it as down, so that its release is dropped too), or a key to type.
    enum class Press { Modifier, AltDigit, DroppedSpace, Key };
    Press press(int code);
    // The accent was typed as its plain character: the SPACE that follows to complete it is dropped.
    void dropNextSpace() { dropSpace_ = true; }
    // Something else was typed meanwhile: the next SPACE is a SPACE again.
    void keepNextSpace() { dropSpace_ = false; }
    // The meaning of pressing `code` (not a modifier) with the modifiers held now.
    Meaning decode(int code) const;
    const std::vector<int>& heldModifiers() const { return held_; }
    // Clears held modifiers and collected digits.
    void reset();

    // Keys that mean themselves, never a character: ENTER, TAB, arrows, SPACE, DELETE, ESCAPE, the
    // numeric-pad operators, F1-F12.
    static bool isFixedKey(int code);

private:
    struct Entry {
        std::vector<int> modifiers; // sorted
        int key;
        char32_t ch;
        bool dead;
    };
    std::vector<Entry> entries_;
    std::vector<int> held_;
    std::vector<int> altDigits_;
    bool dropSpace_ = false;
};

} // namespace vornal::platform
