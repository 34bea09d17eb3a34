#pragma once

// Keysyms (the X11 / XKB symbol numbers, the same in Xlib, libxkbcommon and the desktop portal) of the
// key codes and characters: shared by the backends that type by keysym.

#include <cstdint>

namespace vornal::platform {

// The keysym of a key code that means a key (ENTER, F5, SHIFT, ...), or of the key that carries it on
// a US keyboard (letters, digits, punctuation, accent keys); 0 for none.
std::uint32_t keysymOfKey(int code);
// The keysym that types `ch` itself: the legacy keysym where one exists (EuroSign 0x20ac), else the
// Unicode keysym (0x01000000 + code point); 0 for a surrogate or a code point beyond Unicode.
std::uint32_t keysymOfChar(char32_t ch);
// The accent key whose accent followed by SPACE gives `ch` (dead_acute for '), else keysymOfChar.
std::uint32_t deadKeysymOf(char32_t ch);

} // namespace vornal::platform
