#pragma once

// Which keys produce which character on each keyboard layout: the chords Keybot presses.

#include "vornal/config/ConfigHelper.h"

#include "platform/keys/KeyCodes.h"

#include <vector>

namespace vornal::worker {

// Character (code point) -> key codes: a chord (pressed in order, released in reverse), an ALT +
// numeric-pad code (starts with ALT), or an accent chord followed by SPACE (dead key).
using KeyMap = platform::CharChords;

// The map of `layout` restricted to the characters of `type` (NUMERIC: digits, minus, plus, comma,
// period; ALPHANUMERIC_BASIC: those and A-Z; ALPHANUMERIC_COMPLETE: every printable ASCII character).
// A new map on every call.
KeyMap getKeymap(config::ConfigHelper::KeyboardType layout, config::ConfigHelper::KeyMapType type);

// The keys pressed as keys rather than typed as characters (start and terminator keys), the same 20
// for every layout: ENTER, TAB, RIGHT, DOWN, SPACE, DELETE, ESCAPE, numeric-pad MULTIPLY, F1-F12.
std::vector<int> getDirectKeys(config::ConfigHelper::KeyboardType layout);

} // namespace vornal::worker
