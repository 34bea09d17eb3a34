#include "vornal/config/InstrumentPresets.h"

#include "vornal/config/ConfigHelper.h"
#include "vornal/config/OptionTexts.h"
#include "vornal/config/RegexDialect.h"

#include <Direduva/SerialConfig.h>

#include <array>

namespace vornal::config::presets {

namespace {

using texts::bundle;
using texts::displayAt;
using texts::displayText;
using texts::Entry;
using texts::nameAt;

// The rates come from the serial library's table, which also defines their indexes.
constexpr const auto& kBitRates = Direduva::SerialConfig::bitRateNumbers;

constexpr std::array<Entry, 2> kInstrumentType{{{"NUMBER", "NUMBER", false}, {"TEXT", "TEXT", false}}};
constexpr std::array<Entry, 3> kKeyMapType{{{"NUMERIC", "NUMERIC", false},
                                            {"ALPHANUMERIC_BASIC", "ALPHANUMERIC_BASIC", false},
                                            {"ALPHANUMERIC_COMPLETE", "ALPHANUMERIC_COMPLETE", false}}};

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

QString InstrumentType::nameOf(int o) {
    return nameAt(kInstrumentType, o);
}
QString InstrumentType::displayOf(int o) {
    return displayAt(kInstrumentType, o);
}
QString KeyMapType::nameOf(int o) {
    return nameAt(kKeyMapType, o);
}
QString KeyMapType::displayOf(int o) {
    return displayAt(kKeyMapType, o);
}

QString Instrument::nameOf(int o) {
    return QString::fromLatin1(preset(o).entry.name);
}
QString Instrument::displayOf(int o) {
    return displayText(preset(o).entry);
}

PortDefaults Instrument::getPortDefaults() const {
    const Preset& p = preset(ordinal());
    if (p.portsAs >= 0)
        return Instrument(p.portsAs).getPortDefaults();
    return p.ports;
}

QString Instrument::getDefaultMessageKey() const {
    const char* key = preset(ordinal()).messageKey;
    return key ? QString::fromLatin1(key) : QString("");
}

std::optional<QString> Instrument::getDefaultMessage() const {
    const QString key = getDefaultMessageKey();
    if (key.isEmpty())
        return std::nullopt;
    return bundle().getString(key);
}

InstrumentType Instrument::getInstrumentType() const {
    return InstrumentType::values().at(std::size_t(preset(ordinal()).type));
}

KeyMapType Instrument::getKeyMapType() const {
    return KeyMapType::values().at(std::size_t(preset(ordinal()).keyMap));
}

QString Instrument::getPattern() const {
    const char* pattern = preset(patternSource(ordinal())).pattern;
    return QString::fromUtf8(pattern ? pattern : kDefaultPattern);
}

const QRegularExpression& Instrument::getRegularExpression() const {
    static const std::vector<QRegularExpression> compiled = [] {
        std::vector<QRegularExpression> v;
        for (const Instrument& i : values())
            v.push_back(compileInstrumentPattern(i.getPattern()));
        return v;
    }();
    return compiled.at(std::size_t(ordinal()));
}

std::vector<TestString> Instrument::getTestStrings() const {
    return ownSamples(patternSource(ordinal()));
}

QString Instrument::getStabilityPattern() const {
    const auto rule = stabilityRule(patternSource(ordinal()));
    return rule ? QString::fromUtf8(rule->pattern) : QString("");
}

const QRegularExpression& Instrument::getStabilityExpression() const {
    static const std::vector<QRegularExpression> compiled = [] {
        std::vector<QRegularExpression> v;
        for (const Instrument& i : values())
            v.push_back(i.hasStabilityRule() ? compileInstrumentPattern(i.getStabilityPattern())
                                             : QRegularExpression(QStringLiteral("(")));
        return v;
    }();
    return compiled.at(std::size_t(ordinal()));
}

std::vector<StabilitySample> Instrument::getStabilitySamples() const {
    std::vector<StabilitySample> v;
    if (const auto rule = stabilityRule(patternSource(ordinal())))
        for (const auto& [line, stable] : rule->samples)
            v.push_back({QString::fromUtf8(line), stable});
    return v;
}

QString Instrument::getRequestCommand() const {
    return QString::fromLatin1(requestCommand(ordinal()));
}

QString Instrument::toString() const {
    const QString name = toPlainString();
    if (getInstrumentType() == InstrumentType::TEXT)
        return QStringLiteral("<html><body><i>") + name + QStringLiteral("</i></body></html>");
    return name;
}

QStringList bundleKeys() {
    QStringList keys;
    for (const auto& p : kPresets) {
        texts::addBundleKey(keys, p.entry);
        if (p.messageKey)
            texts::addBundleKey(keys, texts::Entry{p.messageKey, p.messageKey, true});
    }
    return keys;
}

} // namespace vornal::config::presets
