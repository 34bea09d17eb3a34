#include "vornal/config/ConfigHelper.h"

#include "vornal/config/RegexDialect.h"
#include "vornal/util/ResourceBundle.h"
#include "vornal/util/WholeNumber.h"

#include <Direduva/SerialConfig.h>

#include <array>
#include <atomic>
#include <limits>

namespace vornal::config {

namespace {

using util::ResourceBundle;

const QString kBundleName = QStringLiteral("vornal.config.ConfigBundle");

// The bundle is fixed at first use, so that every text of the option sets comes from one language.
std::atomic<const ResourceBundle*> gBundle{nullptr};

const ResourceBundle& bundle() {
    const ResourceBundle* b = gBundle.load(std::memory_order_acquire);
    if (!b) {
        b = &ResourceBundle::get(kBundleName);
        gBundle.store(b, std::memory_order_release);
    }
    return *b;
}

// One constant of a set: its name and its display text, which is either fixed or a bundle key.
struct Entry {
    const char* name;
    const char* display;
    bool isKey;
};

QString displayText(const Entry& e) {
    return e.isKey ? bundle().getString(QLatin1String(e.display)) : QString::fromUtf8(e.display);
}

template <std::size_t N> QString nameAt(const std::array<Entry, N>& table, int ordinal) {
    return QString::fromLatin1(table.at(std::size_t(ordinal)).name);
}
template <std::size_t N> QString displayAt(const std::array<Entry, N>& table, int ordinal) {
    return displayText(table.at(std::size_t(ordinal)));
}

// The rates come from the serial library's table, which also defines their indexes.
constexpr const auto& kBitRates = Direduva::SerialConfig::bitRateNumbers;
static_assert(kBitRates.size() == 15, "ConfigHelper::BitRates has one constant per rate");
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
constexpr std::array<Entry, 2> kInstrumentType{{{"NUMBER", "NUMBER", false}, {"TEXT", "TEXT", false}}};
constexpr std::array<Entry, 3> kKeyMapType{{{"NUMERIC", "NUMERIC", false},
                                            {"ALPHANUMERIC_BASIC", "ALPHANUMERIC_BASIC", false},
                                            {"ALPHANUMERIC_COMPLETE", "ALPHANUMERIC_COMPLETE", false}}};

// ---- whole and decimal numbers of the text options ----

bool wholeInRange(const QString& text, int low, int high) {
    if (text.isEmpty())
        return true;
    const auto v = util::parseWholeNumber(text);
    return v && *v >= low && *v <= high;
}

constexpr qlonglong kMaxExponent = 1000;

// A decimal number: optional sign, digits with an optional point and fraction (at least one digit
// before or after the point), optional exponent "E"/"e" with optional sign and digits. Only "." is a
// decimal point.
bool isDecimal(const QString& text) {
    static const QRegularExpression decimal(
        QStringLiteral("\\A[-+]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE]([-+]?[0-9]+))?\\z"));
    const QRegularExpressionMatch m = decimal.match(text);
    if (!m.hasMatch())
        return false;
    // A power of ten beyond 10^1000 is no sensible operand or tolerance, and the exact arithmetic would
    // need unbounded memory for it: such exponents are refused.
    if (m.hasCaptured(1)) {
        bool ok = false;
        const qlonglong exponent = m.captured(1).toLongLong(&ok);
        if (!ok || exponent > kMaxExponent || exponent < -kMaxExponent)
            return false;
    }
    return true;
}

// Whether a decimal number (already checked with isDecimal) is greater than zero: its sign is not "-"
// and its significand has a non-zero digit. The exponent cannot change the sign or make it zero.
bool decimalGreaterThanZero(const QString& text) {
    if (text.startsWith(u'-'))
        return false;
    for (const QChar c : text) {
        if (c == u'e' || c == u'E')
            break;
        if (c >= u'1' && c <= u'9')
            return true;
    }
    return false;
}

// Position of the first `bracket` that is at the start or not directly preceded by a backslash; -1 when
// there is none.
qsizetype firstUnescaped(const QString& text, QChar bracket) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == bracket && (i == 0 || text[i - 1] != u'\\'))
            return i;
    return -1;
}

// ---- instrument presets ----

constexpr int kNumber = 0, kText = 1;
constexpr int kNumeric = 0, kAlphaBasic = 1, kAlphaComplete = 2;

// Port defaults in the notation "rate/data bits/parity/stop bits/terminator[, handshake]".
constexpr int rateIndex(int rate) {
    for (std::size_t i = 0; i < kBitRates.size(); ++i)
        if (kBitRates[i] == rate)
            return int(i);
    return -1;
}
constexpr int parityIndex(char p) {
    return p == 'N' ? 0 : p == 'O' ? 1 : p == 'E' ? 2 : p == 'M' ? 3 : p == 'S' ? 4 : -1;
}
constexpr int kNoHandshake = 0, kXonXoff = 1, kCtsRts = 2;
constexpr int kLF = 10, kCR = 13, kETX = 3;
constexpr PortDefaults port(int rate, int dataBits, char parity, int stopBits, int terminator,
                            int handshake = kNoHandshake) {
    return PortDefaults{rateIndex(rate),     dataBits - 5, stopBits - 1,
                        parityIndex(parity), terminator,   handshake};
}

constexpr PortDefaults kStandard = port(9600, 8, 'N', 1, kCR);

struct Preset {
    Entry entry;
    int type = kNumber;
    int keyMap = kNumeric;
    PortDefaults ports = kStandard;
    int portsAs = -1;                 // another preset's ordinal whose port defaults this one returns
    const char* messageKey = nullptr; // bundle key of the hint text
    const char* pattern = nullptr;    // nullptr: the common default pattern
    int patternAs = -1;               // another preset's ordinal whose pattern and samples this one returns
};

constexpr const char* kDefaultPattern = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+))";

constexpr int kAnd = 4, kKern572 = 19, kSartorius = 44;

const std::array<Preset, 53> kPresets{{
    /* 0 */ {{"GENERIC", "generic", true}, kNumber, kNumeric, kStandard, -1, "generic.defaultMessage"},
    /* 1 */
    {{"BARCODE", "barcode_numeric", true}, kText, kNumeric, kStandard, -1, "barcode_numeric.defaultMessage"},
    /* 2 */
    {{"BARCODE_ALPHA", "barcode_alphanumeric", true},
     kText,
     kAlphaBasic,
     kStandard,
     -1,
     "barcode_alphanumeric.defaultMessage",
     R"(([\dA-Z]+))"},
    /* 3 */
    {{"BARCODE_ALPHA_COMPLETE", "barcode_alphanumeric_complete", true},
     kText,
     kAlphaComplete,
     kStandard,
     -1,
     "barcode_alphanumeric_complete.defaultMessage",
     R"(([] !"#$%&'()*+,-./\d:;<=>?@A-Z\[\\^_`a-z{|}~]+))"},
    /* 4 */
    {{"AND", "A&D", false},
     kNumber,
     kNumeric,
     port(2400, 7, 'E', 1, kLF),
     -1,
     nullptr,
     R"(([-+]+[0-9]*[\.,]?[0-9]+))"},
    /* 5 */
    {{"AND_SIMPLE", "and_simple", true}, kNumber, kNumeric, {}, kAnd, nullptr, nullptr, kAnd},
    /* 6 */
    {{"AND_EM", "A&D EM", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     "aandd.em.defaultmessage",
     nullptr,
     kAnd},
    /* 7 */ {{"ACCULAB_AL", "Acculab AL", false}, kNumber, kNumeric, port(9600, 7, 'S', 1, kLF)},
    /* 8 */
    {{"ADAM_AZEXTRA_WEIGHT", "adam_azextra_weight", true},
     kNumber,
     kNumeric,
     port(4800, 8, 'N', 1, kLF),
     -1,
     "adam_azextra.defaultMessage",
     R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)kg)"},
    /* 9 */
    {{"ADAM_CBK", "Adam CBK/GBK/GFK", false},
     kNumber,
     kNumeric,
     port(4800, 8, 'N', 1, kLF),
     -1,
     "adam_cbk.defaultMessage"},
    /* 10 */
    {{"ADAM_CPWPLUS", "Adam CPWplus", false},
     kNumber,
     kNumeric,
     kStandard,
     -1,
     "adam_cpwplus.defaultMessage"},
    /* 11 */
    {{"ADAM_GC_WEIGHT", "adam_gbc_gfc_weight", true},
     kNumber,
     kNumeric,
     port(4800, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(Wt\s?([-+]?\s*[0-9]*[\.,]?[0-9]+))"},
    /* 12 */
    {{"ADAM_GC_PCS", "adam_gbc_gfc_pcs", true},
     kNumber,
     kNumeric,
     port(4800, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(pcs))"},
    /* 13 */
    {{"ADAM_HCB", "Adam Highland (HCB)", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     "adam_hcb.defaultMessage"},
    /* 14 */
    {{"ADAM_LABEL", "adam_label", true},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(([-+]?\s*[0-9]*[\.,]?[0-9]+)\s?(kg|g|lb|oz|pcs|ct|d|GN|ozt|dwt|MM|TlH|TlC|Tlt|t|N|g2|TlJ))"},
    /* 15 */ {{"DENVER", "Denver Instrument", false}, kNumber, kNumeric, {}, kSartorius},
    /* 16 */
    {{"DINI_ARGEO", "Dini Argeo", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(([-+]?\ *[0-9]*\.[0-9]+))"},
    /* 17 */
    {{"DINI_ARGEO_DFW", "Dini Argeo DFW/DFWL", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(,\ *([-+]?\ *[0-9]*\.?[0-9]+),)"},
    /* 18 */ {{"KERND_440E", "Kern 440", false}, kNumber, kNumeric, {}, kKern572},
    /* 19 */ {{"KERN_572", "Kern 572", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kLF)},
    /* 20 */ {{"KERN_573", "Kern 573", false}, kNumber, kNumeric, {}, kKern572},
    /* 21 */
    {{"KERN_SHIMADZU", "Kern ABP, ABT, ACJ, ACS, PBJ, PBS", false},
     kNumber,
     kNumeric,
     port(1200, 8, 'N', 1, kCR, kCtsRts)},
    /* 22 */ {{"KERND_DE", "Kern DE", false}, kNumber, kNumeric, {}, kKern572},
    /* 23 */ {{"KERN_DS", "Kern DS", false}, kNumber, kNumeric, {}, kKern572},
    /* 24 */ {{"KERN_FKB", "Kern FKB", false}, kNumber, kNumeric, {}, kKern572},
    /* 25 */ {{"KERN_KB_N", "Kern KB-N", false}, kNumber, kNumeric, {}, kKern572},
    /* 26 */ {{"KERN_KCP", "Kern KCP", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kLF)},
    /* 27 */ {{"KERN_KFB", "Kern KFB/KFN-TM/IFB", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kLF)},
    /* 28 */
    {{"KERN_MPS", "Kern MPS / MPT / MXS / MWS / MTS / MCB", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(^N.*?(-?\s*[0-9]*[\.,]?[0-9]+)\s*kg)"},
    /* 29 */
    {{"KERN_RPB", "kern_rpb_weight", true},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     "kern_rpb.defaultMessage",
     R"(^N:\s*([0-9]*\.?[0-9]+))"},
    /* 30 */
    {{"KEYENCE_IL", "Keyence IL", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(([+-]+\d*\.?\d+))"},
    /* 31 */ {{"MARS", "Mars Scale", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kLF)},
    /* 32 */
    {{"METTLER_SICS", "Mettler Toledo (MT-SICS)", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF, kXonXoff)},
    /* 33 */
    {{"METTLER_DIALOG", "Mettler Toledo Dialog", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kLF)},
    /* 34 */
    {{"METTLER_PRINT", "Mettler Toledo Print", false}, kNumber, kNumeric, port(2400, 7, 'E', 1, kLF)},
    /* 35 */
    {{"MITUTOYO", "Mitutoyo 264-007", false},
     kNumber,
     kNumeric,
     port(2400, 8, 'N', 1, kCR),
     -1,
     nullptr,
     R"(01A([-+]?\s*[0-9]*[\.,]?[0-9]+))"},
    /* 36 */
    {{"MITUTOYO_LSM_6200", "Mitutoyo LSM-6200", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(([-+]?\s*[0-9]*\.+[0-9]+))"},
    /* 37 */
    {{"MYWEIGH_HD", "MyWeigh HD", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'S', 1, kCR),
     -1,
     "myweigh_hd.defaultMessage"},
    /* 38 */
    {{"MYWEIGH_ULTRA2", "MyWeigh Ultraship-U2", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kETX)},
    /* 39 */ {{"OHAUS", "Ohaus", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kLF)},
    /* 40 */ {{"OHAUSSPU", "ohaus_legacy", true}, kNumber, kNumeric, port(2400, 7, 'N', 1, kLF)},
    /* 41 */ {{"PRECISA", "Precisa", false}, kNumber, kNumeric, port(9600, 7, 'E', 1, kLF)},
    /* 42 */ {{"RADWAG", "Radwag", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kLF)},
    /* 43 */ {{"RICE_LAKE_1280", "Rice Lake 1280", false}, kNumber, kNumeric, port(9600, 8, 'N', 1, kLF)},
    /* 44 */
    {{"SARTORIUS", "sartorius_legacy", true}, kNumber, kNumeric, port(1200, 7, 'O', 1, kLF, kCtsRts)},
    /* 45 */
    {{"SARTORIUS_ENTRIS", "Sartorius Entris, ED, GK, GW", false},
     kNumber,
     kNumeric,
     port(1200, 7, 'O', 1, kLF, kCtsRts)},
    /* 46 */
    {{"SARTORIUS_SBI", "Sartorius (SBI)", false}, kNumber, kNumeric, port(9600, 8, 'O', 1, kLF, kCtsRts)},
    /* 47 */
    {{"SARTORIUS_SICS", "Sartorius (SICS)", false}, kNumber, kNumeric, port(9600, 8, 'O', 1, kLF, kCtsRts)},
    /* 48 */
    {{"SMA_SCP", "Scale Manufacturers Association SCP", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kCR),
     -1,
     nullptr,
     R"(\d.+?(\s*-?[0-9]*[\.,]?[0-9]+))"},
    /* 49 */ {{"SHIMADZU", "Shimadzu", false}, kNumber, kNumeric, port(1200, 8, 'N', 1, kCR, kCtsRts)},
    /* 50 */
    {{"SCHLAGE_HANDPUNCH", "schlage_handpunch", true},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(\(\s*([0-9]*)\))"},
    /* 51 */
    {{"TANITA_TL280", "Tanita TL-280/TL-290", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(Wg,([-+]?\s*[0-9]*[\.,]?[0-9]+))"},
    /* 52 */
    {{"WEDDERBURN", "Wedderburn", false},
     kNumber,
     kNumeric,
     port(9600, 8, 'N', 1, kLF),
     -1,
     nullptr,
     R"(^0(-?\s+[0-9]*\.?[0-9]+))"},
}};

const Preset& preset(int ordinal) {
    return kPresets.at(std::size_t(ordinal));
}

// The preset whose pattern and samples `ordinal` returns.
int patternSource(int ordinal) {
    const int as = preset(ordinal).patternAs;
    return as >= 0 ? as : ordinal;
}

// Sample lines of the presets that carry them (by the ordinal of the preset that owns them).
std::vector<TestString> ownSamples(int ordinal) {
    using CH = ConfigHelper;
    const auto s = [](std::initializer_list<std::pair<const char*, const char*>> pairs) {
        std::vector<TestString> v;
        for (const auto& [line, expected] : pairs)
            v.push_back({QString::fromUtf8(line), QString::fromUtf8(expected)});
        return v;
    };
    switch (ordinal) {
    case CH::Instrument::AND.ordinal():
        return s({{"ST, +00012.34 kg", "+00012.34"},
                  {"US, -00012,45 g", "-00012,45"},
                  {"ST, +00000101 PC", "+00000101"},
                  {"ST, 12345,67 kg", ""}});
    case CH::Instrument::BARCODE_ALPHA_COMPLETE.ordinal():
        return s({{preset(ordinal).pattern, preset(ordinal).pattern},
                  {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
                  {"1234567890", "1234567890"},
                  {" ", " "}});
    case CH::Instrument::ADAM_AZEXTRA_WEIGHT.ordinal():
        return s({{"07/09/2010      16:20:15\r\n"
                   "Item     Net           Price\r\n"
                   "----------------------------\r\n"
                   "Net    0.058kg ?    2.58\r\n"
                   "\r\n"
                   "\r\n",
                   "    0.058"},
                  {"08/09/2010      09:41:02\r\n"
                   "Item     Net           Price\r\n"
                   "----------------------------\r\n"
                   "NET.      1.234kg\r\n"
                   "\r\n"
                   "\r\n",
                   "      1.234"},
                  {"   1.234kg\r\n", "   1.234"}});
    case CH::Instrument::ADAM_CBK.ordinal():
        return s({{"  1.9999 kg\n", "  1.9999"}, {"  -1.8999 kg\n", "-1.8999"}});
    case CH::Instrument::ADAM_CPWPLUS.ordinal():
        return s({{"add:   A\n", ""},
                  {"G/W:+ 60.24   kg\n\n\n\n", "+ 60.24"},
                  {"-  5.10  kg\r\n", "-  5.10"},
                  {"N/W:-  5.10   kg\n\n\n\n\r", "-  5.10"}});
    case CH::Instrument::ADAM_GC_WEIGHT.ordinal():
        return s({{"Date   07/09/2010\r", ""},
                  {"Time   16:20:15\r", ""},
                  {"Scale ID         \r", ""},
                  {"User ID          \r", ""},
                  {"Gross Wt   0.0020 kg\r", "  0.0020"},
                  {"Net Wt     0.0845 kg\r", "    0.0845"}});
    case CH::Instrument::DINI_ARGEO.ordinal():
        return s({{"ST,GS, 0.0,kg", " 0.0"}, {"ST,NT,1,   2.000,kg,PT,     1.000kg", "   2.000"}});
    case CH::Instrument::DINI_ARGEO_DFW.ordinal():
        return s({{"1,ST,     2.000,       0.000,         0,kg<13><10>\r\n", "2.000"},
                  {"1,ST,    -2.000,       2.005,         0,kg\r\n", "-2.000"}});
    case CH::Instrument::KERN_MPS.ordinal():
        return s({{"NET  WEIGHT  3.3kg\n", "  3.3"}, {"N  60.24 kg\n", "  60.24"}});
    case CH::Instrument::KERN_RPB.ordinal():
        return s({{"N:    0.404 kg\r", "0.404"}, {"   0.34 EUR/kg\r", ""}, {"N:  4000 g\r", "4000"}});
    case CH::Instrument::KEYENCE_IL.ordinal():
        return s({{"DR,08,-99.998\r", "-99.998"}, {"DR,02,+123.567\r", "+123.567"}, {"DR,02,123.567\r", ""}});
    case CH::Instrument::METTLER_SICS.ordinal():
        return s({{"S S       16.7 g\r\n", "       16.7"}, {"S S      -16.7 g\n", "-16.7"}});
    case CH::Instrument::MITUTOYO.ordinal():
        return s({{"01A+001.1920\r", "+001.1920"}, {"01A-001.1805", "-001.1805"}, {"+123.45", ""}});
    case CH::Instrument::MITUTOYO_LSM_6200.ordinal():
        return s({{"P00, 12.3456\r\n", " 12.3456"}, {"12.3456", "12.3456"}, {"P00, +012.3456", "+012.3456"}});
    case CH::Instrument::MYWEIGH_ULTRA2.ordinal():
        return s({{"\x02\x0b"
                   "D   0.248KO\x03",
                   "   0.248"}});
    case CH::Instrument::RICE_LAKE_1280.ordinal():
        return s({{"S         1.458 kg", "         1.458"}, {"SI   -    0.758 kg ", "-    0.758"}});
    case CH::Instrument::SMA_SCP.ordinal():
        return s({{" 2GM      -7.650kg ", "      -7.650"}, {" 1N    100000lb ", "    100000"}});
    case CH::Instrument::SCHLAGE_HANDPUNCH.ordinal():
        return s({{"021   001   15:27:00  06/29/16  IDENTITY VERIFIED FOR ID ( 999)", "999"}});
    case CH::Instrument::TANITA_TL280.ordinal():
        return s({{R"({0,16,~0,1,MO,"TL-280",Wg,123,Pt,0)", "123"},
                  {R"({0,16,~0,1,MO,"TL-280",Wg,-12.3,Pt,0)", "-12.3"}});
    case CH::Instrument::WEDDERBURN.ordinal():
        return s({{"\nA    2.10", ""},
                  {"0    2.45", "    2.45"},
                  {"4-    0.35", ""},
                  {"14/06/2016 13:26:35", ""},
                  {"1", ""},
                  {"B@G", ""}});
    default:
        return s({{"", ""}});
    }
}

// The stability rule of the presets whose instruments mark stable readings (by the ordinal of the
// preset that owns the pattern), with sample lines in the instrument's documented format.
struct StabilityRule {
    const char* pattern;
    std::vector<std::pair<const char*, bool>> samples;
};

std::optional<StabilityRule> stabilityRule(int ordinal) {
    using CH = ConfigHelper;
    switch (ordinal) {
    case CH::Instrument::AND.ordinal():
        // Header ST stable, QT stable count, US unstable, OL overload.
        return StabilityRule{R"(^\s*(ST|QT),)",
                             {{"ST, +00012.34 kg", true},
                              {"US, -00012,45 g", false},
                              {"ST, +00000101 PC", true},
                              {"QT,+00000101 PC", true},
                              {"US,+00012.31 kg", false},
                              {"OL,+9999999 kg", false},
                              {"\nST,+00001.25 kg\r", true},
                              {"\nUS,+00001.20 kg\r", false}}};
    case CH::Instrument::DINI_ARGEO.ordinal():
        // Header ST stable, US unstable, OL overload.
        return StabilityRule{R"(^\s*ST,)",
                             {{"ST,GS, 0.0,kg", true},
                              {"ST,NT,1,   2.000,kg,PT,     1.000kg", true},
                              {"US,GS,   1.254,kg", false},
                              {"OL,GS,        ,kg", false}}};
    case CH::Instrument::DINI_ARGEO_DFW.ordinal():
        // Scale number, then ST stable or US unstable.
        return StabilityRule{R"(^\s*\d*,ST,)",
                             {{"1,ST,     2.000,       0.000,         0,kg\r\n", true},
                              {"1,ST,    -2.000,       2.005,         0,kg\r\n", true},
                              {"1,US,     1.950,       0.000,         0,kg\r\n", false}}};
    case CH::Instrument::METTLER_SICS.ordinal():
        // "S S" stable weight, "S D" dynamic (unstable), "S I" busy.
        return StabilityRule{R"(^\s*S S\s)",
                             {{"S S       16.7 g\r\n", true},
                              {"S S      -16.7 g\n", true},
                              {"S D       16.3 g\r\n", false},
                              {"S I\r\n", false},
                              {"\nS S      1.25 g\r", true}}};
    case CH::Instrument::SMA_SCP.ordinal():
        // Status, range, gross/net/tare, then M while the scale is in motion.
        return StabilityRule{R"(^[\r\n]*[ A-Z][0-9][GNT][^M])",
                             {{" 2GM      -7.650kg ", false},
                              {" 1N    100000lb ", true},
                              {"\n 1G       7.650kg \r", true},
                              {"Z1G       0.000kg ", true},
                              {"\n 1GM      7.412kg \r", false}}};
    default:
        return std::nullopt;
    }
}

// The request command of the presets whose instruments answer one (the notation of requestCommand).
const char* requestCommand(int ordinal) {
    using CH = ConfigHelper;
    switch (ordinal) {
    case CH::Instrument::AND.ordinal():
    case CH::Instrument::AND_SIMPLE.ordinal():
    case CH::Instrument::AND_EM.ordinal():
        return "S<13><10>"; // stable weight
    case CH::Instrument::DINI_ARGEO.ordinal():
    case CH::Instrument::DINI_ARGEO_DFW.ordinal():
        return "READ<13><10>";
    case CH::Instrument::METTLER_SICS.ordinal():
    case CH::Instrument::SARTORIUS_SICS.ordinal():
        return "S<13><10>"; // stable weight
    case CH::Instrument::SARTORIUS_SBI.ordinal():
        return "<27>P<13><10>"; // print
    case CH::Instrument::SMA_SCP.ordinal():
        return "<10>W<13>"; // weight
    case CH::Instrument::OHAUS.ordinal():
        return "P<13><10>"; // print
    case CH::Instrument::RADWAG.ordinal():
        return "S<13><10>"; // stable weight
    case CH::Instrument::KEYENCE_IL.ordinal():
        return "M0<13><10>"; // measured value
    default:
        return "";
    }
}

} // namespace

// ---- names and display texts ----

QString ConfigHelper::BitRates::nameOf(int o) {
    return QStringLiteral("BR_") + displayOf(o);
}
QString ConfigHelper::BitRates::displayOf(int o) {
    return QString::number(kBitRates.at(std::size_t(o)));
}
int ConfigHelper::BitRates::getRate() const {
    return kBitRates.at(std::size_t(ordinal()));
}

QString ConfigHelper::DataBits::nameOf(int o) {
    return nameAt(kDataBits, o);
}
QString ConfigHelper::DataBits::displayOf(int o) {
    return displayAt(kDataBits, o);
}
QString ConfigHelper::StopBits::nameOf(int o) {
    return nameAt(kStopBits, o);
}
QString ConfigHelper::StopBits::displayOf(int o) {
    return displayAt(kStopBits, o);
}
QString ConfigHelper::Parity::nameOf(int o) {
    return nameAt(kParity, o);
}
QString ConfigHelper::Parity::displayOf(int o) {
    return displayAt(kParity, o);
}
QString ConfigHelper::Handshake::nameOf(int o) {
    return nameAt(kHandshake, o);
}
QString ConfigHelper::Handshake::displayOf(int o) {
    return displayAt(kHandshake, o);
}

QString ConfigHelper::InputTerminator::nameOf(int o) {
    return nameAt(kInputTerminator, o);
}
QString ConfigHelper::InputTerminator::displayOf(int o) {
    return displayAt(kInputTerminator, o);
}
int ConfigHelper::InputTerminator::getDecimal() const {
    return kTerminatorCodes.at(std::size_t(ordinal()));
}
std::optional<ConfigHelper::InputTerminator> ConfigHelper::InputTerminator::itemFromDecimal(int code) {
    for (const InputTerminator& t : values())
        if (t.getDecimal() == code)
            return t;
    return std::nullopt;
}

QString ConfigHelper::Connect::nameOf(int o) {
    return nameAt(kConnect, o);
}
QString ConfigHelper::Connect::displayOf(int o) {
    return displayAt(kConnect, o);
}
QString ConfigHelper::DecimalSeparator::nameOf(int o) {
    return nameAt(kDecimalSeparator, o);
}
QString ConfigHelper::DecimalSeparator::displayOf(int o) {
    return displayAt(kDecimalSeparator, o);
}
QChar ConfigHelper::DecimalSeparator::getCharacter() const {
    return *this == COMMA ? u',' : u'.';
}

QString ConfigHelper::StartWith::nameOf(int o) {
    return QString::fromLatin1(kKeys.at(std::size_t(o)).entry.name);
}
QString ConfigHelper::StartWith::displayOf(int o) {
    return displayText(kKeys.at(std::size_t(o)).entry);
}
int ConfigHelper::StartWith::getKeyCode() const {
    return getKeyEvent(name());
}
QString ConfigHelper::OutputTerminator::nameOf(int o) {
    return QString::fromLatin1(kKeys.at(std::size_t(o)).entry.name);
}
QString ConfigHelper::OutputTerminator::displayOf(int o) {
    return displayText(kKeys.at(std::size_t(o)).entry);
}
int ConfigHelper::OutputTerminator::getKeyCode() const {
    return getKeyEvent(name());
}

QString ConfigHelper::Sound::nameOf(int o) {
    return QString::fromLatin1(kSounds.at(std::size_t(o)).entry.name);
}
QString ConfigHelper::Sound::displayOf(int o) {
    return displayText(kSounds.at(std::size_t(o)).entry);
}
int ConfigHelper::Sound::getPercussionNumber() const {
    return kSounds.at(std::size_t(ordinal())).percussionNumber;
}

QString ConfigHelper::KeyboardType::nameOf(int o) {
    return nameAt(kKeyboardType, o);
}
QString ConfigHelper::KeyboardType::displayOf(int o) {
    return displayAt(kKeyboardType, o);
}
std::optional<ConfigHelper::KeyboardType> ConfigHelper::KeyboardType::fromUserText(const QString& text) {
    // The stored name keeps its historical spelling; people write the layout's name.
    if (text.compare(QLatin1String("QWERTY"), Qt::CaseInsensitive) == 0)
        return QUERTY;
    return valueOf(text);
}
QString ConfigHelper::InputEncoding::nameOf(int o) {
    return nameAt(kInputEncoding, o);
}
QString ConfigHelper::InputEncoding::displayOf(int o) {
    return displayAt(kInputEncoding, o);
}
QString ConfigHelper::MathOperation::nameOf(int o) {
    return nameAt(kMathOperation, o);
}
QString ConfigHelper::MathOperation::displayOf(int o) {
    return displayAt(kMathOperation, o);
}
QString ConfigHelper::RoundingMethod::nameOf(int o) {
    return nameAt(kRoundingMethod, o);
}
QString ConfigHelper::RoundingMethod::displayOf(int o) {
    return displayAt(kRoundingMethod, o);
}
QString ConfigHelper::EditOperation::nameOf(int o) {
    return nameAt(kEditOperation, o);
}
QString ConfigHelper::EditOperation::displayOf(int o) {
    return displayAt(kEditOperation, o);
}
QString ConfigHelper::EditPosition::nameOf(int o) {
    return nameAt(kEditPosition, o);
}
QString ConfigHelper::EditPosition::displayOf(int o) {
    return displayAt(kEditPosition, o);
}
QString ConfigHelper::InstrumentType::nameOf(int o) {
    return nameAt(kInstrumentType, o);
}
QString ConfigHelper::InstrumentType::displayOf(int o) {
    return displayAt(kInstrumentType, o);
}
QString ConfigHelper::KeyMapType::nameOf(int o) {
    return nameAt(kKeyMapType, o);
}
QString ConfigHelper::KeyMapType::displayOf(int o) {
    return displayAt(kKeyMapType, o);
}

// ---- text options ----

bool ConfigHelper::MathOperand::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    return text != u"0" && isDecimal(text);
}
bool ConfigHelper::DecimalPlaces::valid(const QString& text) {
    return wholeInRange(text, 0, 7);
}
bool ConfigHelper::EditNumCharacters::valid(const QString& text) {
    return wholeInRange(text, 1, 99);
}
bool ConfigHelper::RemoveCharacters::valid(const QString& text) {
    for (const char32_t code : text.toUcs4())
        if (code > 255)
            return false;
    return true;
}
bool ConfigHelper::EveryXValues::valid(const QString& text) {
    return wholeInRange(text, 2, 99);
}
bool ConfigHelper::IgnoreDifference::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    return isDecimal(text) && decimalGreaterThanZero(text);
}
bool ConfigHelper::IgnoreTimeLimit::valid(const QString& text) {
    return wholeInRange(text, 1, std::numeric_limits<int>::max());
}
bool ConfigHelper::Delay::valid(const QString& text) {
    return wholeInRange(text, 0, 1000);
}
bool ConfigHelper::CustomRegEx::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    if (!compileInstrumentPattern(text).isValid())
        return false;
    return firstUnescaped(text, u'(') < firstUnescaped(text, u')');
}

std::optional<QByteArray> ConfigHelper::RequestCommand::toBytes(const QString& text, QString* error) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'<') {
            qsizetype end = i + 1;
            while (end < text.size() && end - i <= 3 && text[end] >= u'0' && text[end] <= u'9')
                ++end;
            const int code = text.mid(i + 1, end - i - 1).toInt();
            if (end > i + 1 && end < text.size() && text[end] == u'>' && code <= 255) {
                out += char(code);
                i = end;
                continue;
            }
        }
        if (c > 255) {
            if (error)
                *error = QStringLiteral("the character '%1' cannot be sent: use characters with codes 0 to "
                                        "255, written as <code> where needed, e.g. <13> for CR")
                             .arg(text[i]);
            return std::nullopt;
        }
        out += char(c);
    }
    return out;
}

std::optional<ConfigHelper::RequestHotkey::Parsed> ConfigHelper::RequestHotkey::parse(const QString& text) {
    const QStringList parts = text.split(u'+');
    Parsed p{0, QString()};
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const QString m = parts[i].trimmed().toLower();
        // Also as a German desktop writes them (the hotkey field shows the desktop's notation).
        const unsigned bit = m == u"ctrl" || m == u"control" || m == u"strg" ? Ctrl
                             : m == u"alt"                                   ? Alt
                             : m == u"shift" || m == u"umschalt"             ? Shift
                             : m == u"meta" || m == u"super"                 ? Meta
                                                                             : 0u;
        if (bit == 0 || (p.modifiers & bit))
            return std::nullopt;
        p.modifiers |= bit;
    }
    const QString key = parts.last().trimmed().toUpper();
    if (key.size() == 1 && ((key[0] >= u'A' && key[0] <= u'Z') || (key[0] >= u'0' && key[0] <= u'9'))) {
        // A letter or digit alone would take that key from every application.
        if (p.modifiers == 0 || p.modifiers == Shift)
            return std::nullopt;
    } else if (!(key.size() >= 2 && key[0] == u'F' && key[1] >= u'1' && key[1] <= u'9' &&
                 wholeInRange(key.mid(1), 1, 24))) {
        return std::nullopt;
    }
    // Ctrl+Alt+F1..F12 switch to the text consoles on Linux desktops: the program would never see them.
    if ((p.modifiers & (Ctrl | Alt)) == (Ctrl | Alt) && key.size() >= 2 && key[0] == u'F' &&
        key.mid(1).toInt() <= 12)
        return std::nullopt;
    p.key = key;
    return p;
}

bool ConfigHelper::RequestEverySeconds::valid(const QString& text) {
    return text.isEmpty() || (text[0] >= u'1' && text[0] <= u'9' && wholeInRange(text, 1, 86400));
}

// ---- instrument presets ----

QString ConfigHelper::Instrument::nameOf(int o) {
    return QString::fromLatin1(preset(o).entry.name);
}
QString ConfigHelper::Instrument::displayOf(int o) {
    return displayText(preset(o).entry);
}

PortDefaults ConfigHelper::Instrument::getPortDefaults() const {
    const Preset& p = preset(ordinal());
    if (p.portsAs >= 0)
        return Instrument(p.portsAs).getPortDefaults();
    return p.ports;
}

QString ConfigHelper::Instrument::getDefaultMessageKey() const {
    const char* key = preset(ordinal()).messageKey;
    return key ? QString::fromLatin1(key) : QString("");
}

std::optional<QString> ConfigHelper::Instrument::getDefaultMessage() const {
    const QString key = getDefaultMessageKey();
    if (key.isEmpty())
        return std::nullopt;
    return bundle().getString(key);
}

ConfigHelper::InstrumentType ConfigHelper::Instrument::getInstrumentType() const {
    return InstrumentType::values().at(std::size_t(preset(ordinal()).type));
}

ConfigHelper::KeyMapType ConfigHelper::Instrument::getKeyMapType() const {
    return KeyMapType::values().at(std::size_t(preset(ordinal()).keyMap));
}

QString ConfigHelper::Instrument::getPattern() const {
    const char* pattern = preset(patternSource(ordinal())).pattern;
    return QString::fromUtf8(pattern ? pattern : kDefaultPattern);
}

const QRegularExpression& ConfigHelper::Instrument::getRegularExpression() const {
    static const std::vector<QRegularExpression> compiled = [] {
        std::vector<QRegularExpression> v;
        for (const Instrument& i : values())
            v.push_back(compileInstrumentPattern(i.getPattern()));
        return v;
    }();
    return compiled.at(std::size_t(ordinal()));
}

std::vector<TestString> ConfigHelper::Instrument::getTestStrings() const {
    return ownSamples(patternSource(ordinal()));
}

QString ConfigHelper::Instrument::getStabilityPattern() const {
    const auto rule = stabilityRule(patternSource(ordinal()));
    return rule ? QString::fromUtf8(rule->pattern) : QString("");
}

const QRegularExpression& ConfigHelper::Instrument::getStabilityExpression() const {
    static const std::vector<QRegularExpression> compiled = [] {
        std::vector<QRegularExpression> v;
        for (const Instrument& i : values())
            v.push_back(i.hasStabilityRule() ? compileInstrumentPattern(i.getStabilityPattern())
                                             : QRegularExpression(QStringLiteral("(")));
        return v;
    }();
    return compiled.at(std::size_t(ordinal()));
}

std::vector<StabilitySample> ConfigHelper::Instrument::getStabilitySamples() const {
    std::vector<StabilitySample> v;
    if (const auto rule = stabilityRule(patternSource(ordinal())))
        for (const auto& [line, stable] : rule->samples)
            v.push_back({QString::fromUtf8(line), stable});
    return v;
}

QString ConfigHelper::Instrument::getRequestCommand() const {
    return QString::fromLatin1(requestCommand(ordinal()));
}

QString ConfigHelper::Instrument::toString() const {
    const QString name = toPlainString();
    if (getInstrumentType() == InstrumentType::TEXT)
        return QStringLiteral("<html><body><i>") + name + QStringLiteral("</i></body></html>");
    return name;
}

// ---- helpers ----

int ConfigHelper::getKeyEvent(const QString& constantName) {
    for (const KeyEntry& k : kKeys)
        if (constantName == QLatin1String(k.entry.name))
            return k.keyCode;
    return 0;
}

QStringList ConfigHelper::bundleKeys() {
    QStringList keys;
    const auto add = [&keys](const Entry& e) {
        if (e.isKey && !keys.contains(QLatin1String(e.display)))
            keys << QString::fromLatin1(e.display);
    };
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
    for (const auto& p : kPresets) {
        add(p.entry);
        if (p.messageKey)
            add(Entry{p.messageKey, p.messageKey, true});
    }
    return keys;
}

void ConfigHelper::reloadTexts() {
    gBundle.store(nullptr, std::memory_order_release);
}

} // namespace vornal::config
