#include "Keysyms.h"

#include "KeyCodes.h"

#ifdef VORNAL_KEYS_XKBCOMMON
#include <xkbcommon/xkbcommon.h>
#endif

namespace vornal::platform {

std::uint32_t keysymOfKey(int code) {
    switch (code) {
    case key::ENTER:
        return 0xff0d; // Return
    case key::TAB:
        return 0xff09;
    case key::RIGHT:
        return 0xff53;
    case key::DOWN:
        return 0xff54;
    case key::SPACE:
        return 0x20;
    case key::DELETE:
        return 0xffff;
    case key::ESCAPE:
        return 0xff1b;
    case key::MULTIPLY:
        return 0xffaa; // KP_Multiply
    case key::ADD:
        return 0xffab; // KP_Add
    case key::DIVIDE:
        return 0xffaf; // KP_Divide
    case key::SHIFT:
        return 0xffe1; // Shift_L
    case key::CONTROL:
        return 0xffe3; // Control_L
    case key::ALT:
        return 0xffe9; // Alt_L
    case key::DEAD_GRAVE:
        return 0xfe50;
    case key::DEAD_ACUTE:
        return 0xfe51;
    case key::DEAD_CIRCUMFLEX:
        return 0xfe52;
    default:
        break;
    }
    if (code >= key::F1 && code <= key::F1 + 11)
        return 0xffbe + static_cast<std::uint32_t>(code - key::F1);
    if (auto d = numpadDigit(code))
        return 0xffb0 + static_cast<std::uint32_t>(*d); // KP_0 ...
    if (code >= key::LETTER_A && code <= key::LETTER_A + 25)
        return 'a' + static_cast<std::uint32_t>(code - key::LETTER_A);
    if (code >= key::DIGIT_0 && code <= key::DIGIT_0 + 9)
        return static_cast<std::uint32_t>(code);
    // The remaining keys by the character they carry on a US keyboard.
    switch (code) {
    case key::COMMA:
        return ',';
    case key::MINUS:
        return '-';
    case key::PERIOD:
        return '.';
    case key::SLASH:
        return '/';
    case key::SEMICOLON:
        return ';';
    case key::EQUALS:
        return '=';
    case key::OPEN_BRACKET:
        return '[';
    case key::BACK_SLASH:
        return '\\';
    case key::CLOSE_BRACKET:
        return ']';
    case key::BACK_QUOTE:
        return '`';
    case key::QUOTE:
        return '\'';
    case key::LESS:
        return '<';
    case key::COLON:
        return ':';
    case key::DOLLAR:
        return '$';
    case key::EXCLAMATION_MARK:
        return '!';
    case key::NUMBER_SIGN:
        return '#';
    case key::PLUS:
        return '+';
    case key::RIGHT_PARENTHESIS:
        return ')';
    default:
        return 0;
    }
}

std::uint32_t keysymOfChar(char32_t ch) {
    if (ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF))
        return 0;
#ifdef VORNAL_KEYS_XKBCOMMON
    // Layouts carry the legacy keysym where one exists (EuroSign 0x20ac, not 0x010020ac): desktops and
    // X servers look keys up by exactly that number. libxkbcommon knows the table; the Unicode keysym
    // (0x01000000 + code point) only for characters without a legacy one.
    return xkb_utf32_to_keysym(static_cast<std::uint32_t>(ch));
#else
    // Builds without libxkbcommon (Windows) type by character, not by keysym: Latin-1 is the same in
    // both, the rest by its Unicode keysym.
    if ((ch >= 0x20 && ch <= 0x7E) || (ch >= 0xA0 && ch <= 0xFF))
        return ch;
    return 0x01000000 | ch;
#endif
}

std::uint32_t deadKeysymOf(char32_t ch) {
    switch (ch) {
    case U'\'':
        return 0xfe51; // dead_acute
    case U'"':
        return 0xfe57; // dead_diaeresis
    case U'`':
        return 0xfe50; // dead_grave
    case U'~':
        return 0xfe53; // dead_tilde
    case U'^':
        return 0xfe52; // dead_circumflex
    default:
        return keysymOfChar(ch);
    }
}

} // namespace vornal::platform
