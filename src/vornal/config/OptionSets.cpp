#include "vornal/config/OptionSets.h"

#include "vornal/config/OptionTexts.h"

#include <Direduva/SerialConfig.h>

#include <array>

namespace vornal::config::options {

namespace {

using texts::bundle;
using texts::displayAt;
using texts::displayText;
using texts::Entry;
using texts::nameAt;

// The rates come from the serial library's table, which also defines their indexes.
constexpr const auto& kBitRates = Direduva::SerialConfig::bitRateNumbers;
static_assert(kBitRates.size() == 15, "BitRates has one constant per rate");
constexpr std::array<Entry, 4> kDataBits{
    {{"LN_5BITS", "5", false}, {"LN_6BITS", "6", false}, {"LN_7BITS", "7", false}, {"LN_8BITS", "8", false}}};
constexpr std::array<Entry, 2> kStopBits{{{"ST_1BITS", "1", false}, {"ST_2BITS", "2", false}}};
// Parity and "no handshake" read as the constant names in English; other languages have their own.
constexpr std::array<Entry, 5> kParity{{{"NONE", "parity.none", true},
                                        {"ODD", "parity.odd", true},
                                        {"EVEN", "parity.even", true},
                                        {"MARK", "parity.mark", true},
                                        {"SPACE", "parity.space", true}}};
constexpr std::array<Entry, 3> kHandshake{{{"NONE", "handshake.none", true},
                                           {"XON_XOFF", "XON/XOFF (Software)", false},
                                           {"CTS_RTS", "RTS/CTS (Hardware)", false}}};
constexpr std::array<Entry, 3> kInputTerminator{
    {{"EOT", "4 <EOT>", false}, {"LF", "10 <LF>", false}, {"CR", "13 <CR>", false}}};
constexpr std::array<int, 3> kTerminatorCodes{4, 10, 13};
constexpr std::array<Entry, 2> kConnect{{{"MANUAL", "manual", true}, {"AUTO", "auto", true}}};
constexpr std::array<Entry, 2> kDecimalSeparator{{{"DOT", "dot", true}, {"COMMA", "comma", true}}};

// The keys that can be typed before or after a value, with their virtual key codes.
struct KeyEntry {
    Entry entry;
    int keyCode;
};
constexpr std::array<KeyEntry, 26> kKeys{
    {{{"NONE", "key.none", true}, 0},    {{"ENTER", "enter", true}, 10},
     {{"TAB", "tab", true}, 9},          {{"BACKSLASH", "Backslash", false}, 92},
     {{"COMMA", "comma", true}, 44},     {{"DELETE", "delete", true}, 127},
     {{"DOWN", "down", true}, 40},       {{"ESCAPE", "Esc", false}, 27},
     {{"F1", "F1", false}, 112},         {{"F2", "F2", false}, 113},
     {{"F3", "F3", false}, 114},         {{"F4", "F4", false}, 115},
     {{"F5", "F5", false}, 116},         {{"F6", "F6", false}, 117},
     {{"F7", "F7", false}, 118},         {{"F8", "F8", false}, 119},
     {{"F9", "F9", false}, 120},         {{"F10", "F10", false}, 121},
     {{"F11", "F11", false}, 122},       {{"F12", "F12", false}, 123},
     {{"MINUS", "Minus", false}, 45},    {{"MULTIPLY", "key.numpad.multiply", true}, 106},
     {{"RIGHT", "right", true}, 39},     {{"SEMICOLON", "semicolon", true}, 59},
     {{"SLASH", "key.slash", true}, 47}, {{"SPACE", "space", true}, 32}}};

struct SoundEntry {
    Entry entry;
    int percussionNumber;
};
constexpr std::array<SoundEntry, 7> kSounds{{{{"NONE", "sound.none", true}, 0},
                                             {{"RIDE_BELL", "sound.ride_bell", true}, 53},
                                             {{"COWBELL", "sound.cowbell", true}, 56},
                                             {{"HIGH_AGOGO", "sound.high_agogo", true}, 67},
                                             {{"LOW_AGOGO", "sound.low_agogo", true}, 68},
                                             {{"CLAVES", "sound.claves", true}, 75},
                                             {{"OPEN_TRIANGLE", "sound.open_triangle", true}, 81}}};

constexpr std::array<Entry, 5> kKeyboardType{{{"QUERTY", "keyboardType.default", true},
                                              {"US_INTERNATIONAL", "keyboardType.us_international", true},
                                              {"AZERTY", "keyboardType.azerty", true},
                                              {"GERMAN", "keyboardType.german", true},
                                              {"ALL", "keyboardType.all", true}}};
constexpr std::array<Entry, 4> kInputEncoding{{{"ISO_8859_1", "inputEncoding.iso_8859_1", true},
                                               {"UTF_8", "inputEncoding.utf_8", true},
                                               {"WINDOWS_1252", "inputEncoding.windows_1252", true},
                                               {"CP437", "inputEncoding.cp437", true}}};
constexpr std::array<Entry, 3> kMathOperation{
    {{"NONE", "math.none", true}, {"MULTIPLY", "multiply", true}, {"DIVIDE", "divide", true}}};
constexpr std::array<Entry, 7> kRoundingMethod{{{"CEILING", "rounding.ceiling", true},
                                                {"DOWN", "rounding.down", true},
                                                {"FLOOR", "rounding.floor", true},
                                                {"HALF_DOWN", "rounding.half_down", true},
                                                {"HALF_EVEN", "rounding.half_even", true},
                                                {"HALF_UP", "rounding.half_up", true},
                                                {"UP", "rounding.up", true}}};
constexpr std::array<Entry, 2> kEditOperation{{{"REMOVE", "edit.remove", true}, {"KEEP", "edit.keep", true}}};
constexpr std::array<Entry, 2> kEditPosition{{{"FIRST", "edit.first", true}, {"LAST", "edit.last", true}}};

} // namespace

QString BitRates::nameOf(int o) {
    return QStringLiteral("BR_") + displayOf(o);
}
QString BitRates::displayOf(int o) {
    return QString::number(kBitRates.at(std::size_t(o)));
}
int BitRates::getRate() const {
    return kBitRates.at(std::size_t(ordinal()));
}

QString DataBits::nameOf(int o) {
    return nameAt(kDataBits, o);
}
QString DataBits::displayOf(int o) {
    return displayAt(kDataBits, o);
}
QString StopBits::nameOf(int o) {
    return nameAt(kStopBits, o);
}
QString StopBits::displayOf(int o) {
    return displayAt(kStopBits, o);
}
QString Parity::nameOf(int o) {
    return nameAt(kParity, o);
}
QString Parity::displayOf(int o) {
    return displayAt(kParity, o);
}
QString Handshake::nameOf(int o) {
    return nameAt(kHandshake, o);
}
QString Handshake::displayOf(int o) {
    return displayAt(kHandshake, o);
}

QString InputTerminator::nameOf(int o) {
    return nameAt(kInputTerminator, o);
}
QString InputTerminator::displayOf(int o) {
    return displayAt(kInputTerminator, o);
}
int InputTerminator::getDecimal() const {
    return kTerminatorCodes.at(std::size_t(ordinal()));
}
std::optional<InputTerminator> InputTerminator::itemFromDecimal(int code) {
    for (const InputTerminator& t : values())
        if (t.getDecimal() == code)
            return t;
    return std::nullopt;
}

QString Connect::nameOf(int o) {
    return nameAt(kConnect, o);
}
QString Connect::displayOf(int o) {
    return displayAt(kConnect, o);
}
QString DecimalSeparator::nameOf(int o) {
    return nameAt(kDecimalSeparator, o);
}
QString DecimalSeparator::displayOf(int o) {
    return displayAt(kDecimalSeparator, o);
}
QChar DecimalSeparator::getCharacter() const {
    return *this == COMMA ? u',' : u'.';
}

QString StartWith::nameOf(int o) {
    return QString::fromLatin1(kKeys.at(std::size_t(o)).entry.name);
}
QString StartWith::displayOf(int o) {
    return displayText(kKeys.at(std::size_t(o)).entry);
}
int StartWith::getKeyCode() const {
    return getKeyEvent(name());
}
QString OutputTerminator::nameOf(int o) {
    return QString::fromLatin1(kKeys.at(std::size_t(o)).entry.name);
}
QString OutputTerminator::displayOf(int o) {
    return displayText(kKeys.at(std::size_t(o)).entry);
}
int OutputTerminator::getKeyCode() const {
    return getKeyEvent(name());
}

QString Sound::nameOf(int o) {
    return QString::fromLatin1(kSounds.at(std::size_t(o)).entry.name);
}
QString Sound::displayOf(int o) {
    return displayText(kSounds.at(std::size_t(o)).entry);
}
int Sound::getPercussionNumber() const {
    return kSounds.at(std::size_t(ordinal())).percussionNumber;
}

QString KeyboardType::nameOf(int o) {
    return nameAt(kKeyboardType, o);
}
QString KeyboardType::displayOf(int o) {
    return displayAt(kKeyboardType, o);
}
std::optional<KeyboardType> KeyboardType::fromUserText(const QString& text) {
    // The stored name keeps its historical spelling; people write the layout's name.
    if (text.compare(QLatin1String("QWERTY"), Qt::CaseInsensitive) == 0)
        return QUERTY;
    return valueOf(text);
}
QString InputEncoding::nameOf(int o) {
    return nameAt(kInputEncoding, o);
}
QString InputEncoding::displayOf(int o) {
    return displayAt(kInputEncoding, o);
}
QString MathOperation::nameOf(int o) {
    return nameAt(kMathOperation, o);
}
QString MathOperation::displayOf(int o) {
    return displayAt(kMathOperation, o);
}
QString RoundingMethod::nameOf(int o) {
    return nameAt(kRoundingMethod, o);
}
QString RoundingMethod::displayOf(int o) {
    return displayAt(kRoundingMethod, o);
}
QString EditOperation::nameOf(int o) {
    return nameAt(kEditOperation, o);
}
QString EditOperation::displayOf(int o) {
    return displayAt(kEditOperation, o);
}
QString EditPosition::nameOf(int o) {
    return nameAt(kEditPosition, o);
}
QString EditPosition::displayOf(int o) {
    return displayAt(kEditPosition, o);
}

int getKeyEvent(const QString& constantName) {
    for (const KeyEntry& k : kKeys)
        if (constantName == QLatin1String(k.entry.name))
            return k.keyCode;
    return 0;
}

QStringList bundleKeys() {
    QStringList keys;
    const auto add = [&keys](const Entry& e) { texts::addBundleKey(keys, e); };
    for (const auto* table :
         {kConnect.data(), kDecimalSeparator.data(), kEditOperation.data(), kEditPosition.data()})
        for (int i = 0; i < 2; ++i)
            add(table[i]);
    for (const auto& e : kKeyboardType)
        add(e);
    for (const auto& e : kParity)
        add(e);
    for (const auto& e : kInputEncoding)
        add(e);
    add(kHandshake[0]);
    for (const auto& e : kMathOperation)
        add(e);
    for (const auto& e : kRoundingMethod)
        add(e);
    for (const auto& k : kKeys)
        add(k.entry);
    for (const auto& s : kSounds)
        add(s.entry);
    return keys;
}

} // namespace vornal::config::options
