#include "KeyMaps.h"

#include <array>

namespace vornal::worker {

namespace {

using config::ConfigHelper;
namespace k = platform::key;

constexpr int S = k::SHIFT;
constexpr int C = k::CONTROL;
constexpr int A = k::ALT;
constexpr int SP = k::SPACE;

constexpr int digit(int d) {
    return k::DIGIT_0 + d;
}
constexpr int pad(int d) {
    return k::NUMPAD_0 + d;
}

// ALT + the numeric-pad digits of the decimal code, without leading zeros.
std::vector<int> altCode(char32_t ch) {
    std::vector<int> seq{A};
    const std::string digits = std::to_string(static_cast<unsigned>(ch));
    for (char d : digits)
        seq.push_back(pad(d - '0'));
    return seq;
}

struct Row {
    char ch;
    std::vector<int> querty, usInt, azerty, german;
};

// Punctuation and space; letters and digits follow rules (see sequenceOf).
const std::vector<Row>& punctuation() {
    static const std::vector<Row> rows = {
        {' ', {SP}, {SP}, {SP}, {SP}},
        {'!', {S, digit(1)}, {S, digit(1)}, {k::EXCLAMATION_MARK}, {S, digit(1)}},
        {'"', {S, k::QUOTE}, {S, k::DEAD_ACUTE, SP}, {digit(3)}, {S, digit(2)}},
        {'#', {S, digit(3)}, {S, digit(3)}, {C, A, digit(3)}, {k::NUMBER_SIGN}},
        {'$', {S, digit(4)}, {S, digit(4)}, {k::DOLLAR}, {S, digit(4)}},
        {'%', {S, digit(5)}, {S, digit(5)}, {A, pad(3), pad(7)}, {S, digit(5)}},
        {'&', {S, digit(7)}, {S, digit(7)}, {digit(1)}, {S, digit(6)}},
        {'\'', {k::QUOTE}, {k::DEAD_ACUTE, SP}, {digit(4)}, {S, k::NUMBER_SIGN}},
        {'(', {S, digit(9)}, {S, digit(9)}, {digit(5)}, {S, digit(8)}},
        {')', {S, digit(0)}, {S, digit(0)}, {k::RIGHT_PARENTHESIS}, {S, digit(9)}},
        {'*', {k::MULTIPLY}, {k::MULTIPLY}, {k::MULTIPLY}, {k::MULTIPLY}},
        {'+', {k::ADD}, {k::ADD}, {k::ADD}, {k::ADD}},
        {',', {k::COMMA}, {k::COMMA}, {k::COMMA}, {k::COMMA}},
        {'-', {k::MINUS}, {k::MINUS}, {digit(6)}, {k::MINUS}},
        {'.', {k::PERIOD}, {k::PERIOD}, {S, k::SEMICOLON}, {k::PERIOD}},
        {'/', {k::DIVIDE}, {k::DIVIDE}, {k::DIVIDE}, {k::DIVIDE}},
        {':', {S, k::SEMICOLON}, {S, k::SEMICOLON}, {k::COLON}, {S, k::PERIOD}},
        {';', {k::SEMICOLON}, {k::SEMICOLON}, {k::SEMICOLON}, {S, k::COMMA}},
        {'<', {S, k::COMMA}, {S, k::COMMA}, {k::LESS}, {k::LESS}},
        {'=', {k::EQUALS}, {k::EQUALS}, {k::EQUALS}, {S, digit(0)}},
        {'>', {S, k::PERIOD}, {S, k::PERIOD}, {S, k::LESS}, {S, k::LESS}},
        {'?', {S, k::SLASH}, {S, k::SLASH}, {S, k::COMMA}, {A, pad(6), pad(3)}},
        {'@', {S, digit(2)}, {S, digit(2)}, {C, A, digit(0)}, {C, A, k::LETTER_A + ('Q' - 'A')}},
        {'[', {k::OPEN_BRACKET}, {k::OPEN_BRACKET}, {C, A, digit(5)}, {C, A, digit(8)}},
        {'\\', {k::BACK_SLASH}, {k::BACK_SLASH}, {C, A, digit(8)}, {A, pad(9), pad(2)}},
        {']', {k::CLOSE_BRACKET}, {k::CLOSE_BRACKET}, {C, A, k::RIGHT_PARENTHESIS}, {C, A, digit(9)}},
        {'^', {S, digit(6)}, {S, digit(6), SP}, {k::DEAD_CIRCUMFLEX, SP}, {k::DEAD_CIRCUMFLEX, SP}},
        {'_', {S, k::MINUS}, {S, k::MINUS}, {digit(8)}, {S, k::MINUS}},
        {'`', {k::BACK_QUOTE}, {k::DEAD_GRAVE, SP}, {C, A, digit(7), SP}, {S, k::DEAD_ACUTE, SP}},
        {'{', {S, k::OPEN_BRACKET}, {S, k::OPEN_BRACKET}, {C, A, digit(4)}, {C, A, digit(7)}},
        {'|', {S, k::BACK_SLASH}, {S, k::BACK_SLASH}, {C, A, digit(6)}, {C, A, k::LESS}},
        {'}', {S, k::CLOSE_BRACKET}, {S, k::CLOSE_BRACKET}, {C, A, k::EQUALS}, {C, A, digit(0)}},
        {'~', {S, k::BACK_QUOTE}, {S, k::DEAD_GRAVE, SP}, {C, A, digit(2), SP}, {C, A, k::PLUS}},
    };
    return rows;
}

std::vector<int> sequenceOf(ConfigHelper::KeyboardType layout, char ch) {
    if (layout == ConfigHelper::KeyboardType::ALL)
        return altCode(static_cast<unsigned char>(ch));
    if (ch >= 'a' && ch <= 'z')
        return {k::LETTER_A + (ch - 'a')};
    if (ch >= 'A' && ch <= 'Z')
        return {S, k::LETTER_A + (ch - 'A')};
    if (ch >= '0' && ch <= '9') {
        if (layout == ConfigHelper::KeyboardType::AZERTY)
            return {S, digit(ch - '0')};
        return {digit(ch - '0')};
    }
    for (const Row& r : punctuation()) {
        if (r.ch != ch)
            continue;
        if (layout == ConfigHelper::KeyboardType::US_INTERNATIONAL)
            return r.usInt;
        if (layout == ConfigHelper::KeyboardType::AZERTY)
            return r.azerty;
        if (layout == ConfigHelper::KeyboardType::GERMAN)
            return r.german;
        return r.querty;
    }
    return {};
}

std::string charactersOf(ConfigHelper::KeyMapType type) {
    std::string chars = "0123456789-+,.";
    if (type == ConfigHelper::KeyMapType::NUMERIC)
        return chars;
    if (type == ConfigHelper::KeyMapType::ALPHANUMERIC_BASIC) {
        for (char c = 'A'; c <= 'Z'; ++c)
            chars += c;
        return chars;
    }
    chars.clear();
    for (char c = 0x20; c <= 0x7E; ++c)
        chars += c;
    return chars;
}

} // namespace

KeyMap getKeymap(ConfigHelper::KeyboardType layout, ConfigHelper::KeyMapType type) {
    KeyMap map;
    for (char ch : charactersOf(type))
        map[static_cast<char32_t>(ch)] = sequenceOf(layout, ch);
    return map;
}

std::vector<int> getDirectKeys(ConfigHelper::KeyboardType) {
    std::vector<int> keys{k::ENTER, k::TAB, k::RIGHT, k::DOWN, k::SPACE, k::DELETE, k::ESCAPE, k::MULTIPLY};
    for (int f = 0; f < 12; ++f)
        keys.push_back(k::F1 + f);
    return keys;
}

} // namespace vornal::worker
