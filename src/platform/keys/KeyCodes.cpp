#include "KeyCodes.h"

#include <algorithm>
#include <array>

namespace vornal::platform {

namespace {
struct Named {
    int code;
    const char* name;
};
constexpr std::array<Named, 33> kNamed{{
    {key::TAB, "TAB"},
    {key::ENTER, "ENTER"},
    {key::SHIFT, "SHIFT"},
    {key::CONTROL, "CONTROL"},
    {key::ALT, "ALT"},
    {key::ESCAPE, "ESCAPE"},
    {key::SPACE, "SPACE"},
    {key::RIGHT, "RIGHT"},
    {key::DOWN, "DOWN"},
    {key::COMMA, "COMMA"},
    {key::MINUS, "MINUS"},
    {key::PERIOD, "PERIOD"},
    {key::SLASH, "SLASH"},
    {key::SEMICOLON, "SEMICOLON"},
    {key::EQUALS, "EQUALS"},
    {key::OPEN_BRACKET, "OPEN_BRACKET"},
    {key::BACK_SLASH, "BACK_SLASH"},
    {key::CLOSE_BRACKET, "CLOSE_BRACKET"},
    {key::MULTIPLY, "MULTIPLY"},
    {key::ADD, "ADD"},
    {key::DIVIDE, "DIVIDE"},
    {key::DELETE, "DELETE"},
    {key::DEAD_GRAVE, "DEAD_GRAVE"},
    {key::DEAD_ACUTE, "DEAD_ACUTE"},
    {key::DEAD_CIRCUMFLEX, "DEAD_CIRCUMFLEX"},
    {key::LESS, "LESS"},
    {key::BACK_QUOTE, "BACK_QUOTE"},
    {key::QUOTE, "QUOTE"},
    {key::COLON, "COLON"},
    {key::DOLLAR, "DOLLAR"},
    {key::EXCLAMATION_MARK, "EXCLAMATION_MARK"},
    {key::NUMBER_SIGN, "NUMBER_SIGN"},
    {key::PLUS, "PLUS"},
}};
} // namespace

std::optional<std::string> keyCodeName(int code) {
    if (code >= key::DIGIT_0 && code <= key::DIGIT_0 + 9)
        return std::string(1, static_cast<char>('0' + code - key::DIGIT_0));
    if (code >= key::LETTER_A && code <= key::LETTER_A + 25)
        return std::string(1, static_cast<char>('A' + code - key::LETTER_A));
    // Appended rather than concatenated: GCC 12 warns falsely (-Wrestrict) about "literal" + std::string.
    if (code >= key::NUMPAD_0 && code <= key::NUMPAD_0 + 9) {
        std::string name = "NUMPAD";
        name += std::to_string(code - key::NUMPAD_0);
        return name;
    }
    if (code >= key::F1 && code <= key::F1 + 11) {
        std::string name = "F";
        name += std::to_string(code - key::F1 + 1);
        return name;
    }
    if (code == key::RIGHT_PARENTHESIS)
        return std::string("RIGHT_PARENTHESIS");
    const auto it =
        std::find_if(kNamed.begin(), kNamed.end(), [code](const Named& n) { return n.code == code; });
    if (it == kNamed.end())
        return std::nullopt;
    return std::string(it->name);
}

bool isKnownKeyCode(int code) {
    return keyCodeName(code).has_value();
}

bool isModifierCode(int code) {
    return code == key::SHIFT || code == key::CONTROL || code == key::ALT;
}

std::optional<int> numpadDigit(int code) {
    if (code >= key::NUMPAD_0 && code <= key::NUMPAD_0 + 9)
        return code - key::NUMPAD_0;
    return std::nullopt;
}

} // namespace vornal::platform
