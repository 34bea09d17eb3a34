#pragma once

// The virtual key codes of the key maps: what Keybot presses and what every key-injection backend
// understands. They are the classic desktop key codes (ENTER is 10, letters are their capitals).

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vornal::platform {

namespace key {
inline constexpr int TAB = 9;
inline constexpr int ENTER = 10;
inline constexpr int SHIFT = 16;
inline constexpr int CONTROL = 17;
inline constexpr int ALT = 18;
inline constexpr int ESCAPE = 27;
inline constexpr int SPACE = 32;
inline constexpr int RIGHT = 39;
inline constexpr int DOWN = 40;
inline constexpr int COMMA = 44;
inline constexpr int MINUS = 45;
inline constexpr int PERIOD = 46;
inline constexpr int SLASH = 47;
inline constexpr int DIGIT_0 = 48; // ... DIGIT_0 + 9
inline constexpr int SEMICOLON = 59;
inline constexpr int EQUALS = 61;
inline constexpr int LETTER_A = 65; // ... LETTER_A + 25
inline constexpr int OPEN_BRACKET = 91;
inline constexpr int BACK_SLASH = 92;
inline constexpr int CLOSE_BRACKET = 93;
inline constexpr int NUMPAD_0 = 96; // ... NUMPAD_0 + 9
inline constexpr int MULTIPLY = 106;
inline constexpr int ADD = 107;
inline constexpr int DIVIDE = 111;
inline constexpr int F1 = 112; // ... F1 + 11
inline constexpr int DELETE = 127;
inline constexpr int DEAD_GRAVE = 128;
inline constexpr int DEAD_ACUTE = 129;
inline constexpr int DEAD_CIRCUMFLEX = 130;
inline constexpr int LESS = 153;
inline constexpr int BACK_QUOTE = 192;
inline constexpr int QUOTE = 222;
inline constexpr int COLON = 513;
inline constexpr int DOLLAR = 515;
inline constexpr int EXCLAMATION_MARK = 517;
inline constexpr int NUMBER_SIGN = 520;
inline constexpr int PLUS = 521;
inline constexpr int RIGHT_PARENTHESIS = 522;
} // namespace key

// True for the codes listed above (the only ones a backend accepts).
bool isKnownKeyCode(int code);
// The key's name ("SHIFT", "A", "NUMPAD3", "F12"), or none for an unknown code.
std::optional<std::string> keyCodeName(int code);
bool isModifierCode(int code);
// 0..9 for a numeric-pad digit, else none.
std::optional<int> numpadDigit(int code);

// A keyboard layout as the key maps describe it: character (Unicode code point) -> key codes that
// produce it (a chord, an ALT + numeric-pad code, or an accent chord followed by SPACE).
using CharChords = std::map<char32_t, std::vector<int>>;

} // namespace vornal::platform
