#pragma once

#include "vornal/decimal/RoundingMode.h"

#include <QByteArray>
#include <QChar>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <compare>
#include <optional>
#include <vector>

namespace vornal::config {

class Config; // the settings record (Config.h)

namespace detail {

// One constant of a closed option set, in the manner of an enumeration that carries its own texts.
// A constant is a small value: its ordinal (position in the set, from 0). Constants of the same set compare
// by ordinal; constants of different sets do not compare at all. The set class `E` supplies
// `kCount`, `nameOf(int)` (the stored constant name) and `displayOf(int)` (the text shown to the user).
template <class E> class OptionConstant {
public:
    constexpr int ordinal() const { return ordinal_; }
    // The stable upper-case constant name, e.g. "BR_9600"; this is what the settings store holds.
    QString name() const { return E::nameOf(ordinal_); }
    // The display text (fixed, or looked up in the bundle "vornal.config.ConfigBundle").
    QString toString() const { return E::displayOf(ordinal_); }

    // Every constant, in the order the selection lists show them.
    static const std::vector<E>& values() {
        static const std::vector<E> all = [] {
            std::vector<E> v;
            for (int i = 0; i < E::kCount; ++i)
                v.push_back(E(i));
            return v;
        }();
        return all;
    }
    // The constant with exactly this constant name (case-sensitive), or none.
    static std::optional<E> valueOf(const QString& constantName) {
        for (int i = 0; i < E::kCount; ++i)
            if (E::nameOf(i) == constantName)
                return E(i);
        return std::nullopt;
    }
    // The constant at this ordinal, or none when the ordinal is outside the set.
    static std::optional<E> fromOrdinal(int ordinal) {
        if (ordinal < 0 || ordinal >= E::kCount)
            return std::nullopt;
        return E(ordinal);
    }

    friend constexpr bool operator==(const E& a, const E& b) { return a.ordinal_ == b.ordinal_; }
    friend constexpr std::strong_ordering operator<=>(const E& a, const E& b) {
        return a.ordinal_ <=> b.ordinal_;
    }

protected:
    constexpr explicit OptionConstant(int ordinal) : ordinal_(ordinal) {}

private:
    int ordinal_;
};

// Sets stored by ordinal (index): the index is also the serial library's setting code.
template <class E> class IndexStyle : public OptionConstant<E> {
public:
    // The default constant's index.
    static int getDefault() { return E::kDefaultOrdinal; }
    // True for 0 <= index < number of constants.
    static bool valid(int index) { return index >= 0 && index < E::kCount; }
    // The display text of the constant at `index`, or "" for an index outside the set. Never fails.
    static QString getReadable(int index) { return valid(index) ? E::displayOf(index) : QString(""); }

protected:
    using OptionConstant<E>::OptionConstant;
};

// Sets stored by constant name.
template <class E> class NameStyle : public OptionConstant<E> {
public:
    static E getDefault() { return E(E::kDefaultOrdinal); }
    // True when the text equals a constant name exactly (case-sensitive): "ENTER" yes, "enter" no.
    static bool valid(const QString& constantName) {
        return OptionConstant<E>::valueOf(constantName).has_value();
    }

protected:
    using OptionConstant<E>::OptionConstant;
};

} // namespace detail

// Shared boilerplate of every option set class: the constructor and the two text tables.
#define VORNAL_OPTION_SET(E, BASE, COUNT, DEFAULT_ORDINAL)                                                   \
public:                                                                                                      \
    static constexpr int kCount = COUNT;                                                                     \
    static constexpr int kDefaultOrdinal = DEFAULT_ORDINAL;                                                  \
                                                                                                             \
private:                                                                                                     \
    friend class detail::OptionConstant<E>;                                                                  \
    friend class detail::BASE<E>;                                                                            \
    constexpr explicit E(int ordinal) : detail::BASE<E>(ordinal) {}                                          \
    static QString nameOf(int ordinal);                                                                      \
    static QString displayOf(int ordinal);                                                                   \
                                                                                                             \
public:

// The port defaults of an instrument preset: indices into BitRates, DataBits, StopBits, Parity and
// Handshake, and the input terminator's character code (0..255).
struct PortDefaults {
    int bitRate;
    int dataBits;
    int stopBits;
    int parity;
    int inputTerminator;
    int handshake;
    friend bool operator==(const PortDefaults&, const PortDefaults&) = default;
};

// One sample data line of an instrument and the value that extraction must give ("" = no value).
struct TestString {
    QString line;
    QString expected;
};

// One sample data line and whether the instrument marked it as stable.
struct StabilitySample {
    QString line;
    bool stable;
};

// The value sets of every option, the text rules of the free options and the instrument presets.
// Display texts come from the bundle "vornal.config.ConfigBundle", looked up once on first use in the
// language of ResourceBundle::locale(). All operations are pure and may be called from any thread.
class ConfigHelper {
public:
    // ---- serial port sets, stored by index (the index is the serial library's setting code) ----

    // Bit rate in bit/s; display = the rate as decimal text. Default BR_9600 (index 7).
    class BitRates : public detail::IndexStyle<BitRates> {
        VORNAL_OPTION_SET(BitRates, IndexStyle, 15, 7)
        static const BitRates BR_110, BR_150, BR_300, BR_600, BR_1200, BR_2400, BR_4800, BR_9600, BR_19200,
            BR_38400, BR_57600, BR_115200, BR_230400, BR_460800, BR_921600;
        // The rate in bit/s, e.g. 9600.
        int getRate() const;
    };

    // Data bits per character; display "5".."8". Default LN_8BITS (index 3).
    class DataBits : public detail::IndexStyle<DataBits> {
        VORNAL_OPTION_SET(DataBits, IndexStyle, 4, 3)
        static const DataBits LN_5BITS, LN_6BITS, LN_7BITS, LN_8BITS;
    };

    // Stop bits; display "1" or "2". Default ST_1BITS (index 0).
    class StopBits : public detail::IndexStyle<StopBits> {
        VORNAL_OPTION_SET(StopBits, IndexStyle, 2, 0)
        static const StopBits ST_1BITS, ST_2BITS;
    };

    // Parity; shown by its constant name. Default NONE (index 0).
    class Parity : public detail::IndexStyle<Parity> {
        VORNAL_OPTION_SET(Parity, IndexStyle, 5, 0)
        static const Parity NONE, ODD, EVEN, MARK, SPACE;
    };

    // Flow control. Default NONE (index 0).
    class Handshake : public detail::IndexStyle<Handshake> {
        VORNAL_OPTION_SET(Handshake, IndexStyle, 3, 0)
        static const Handshake NONE, XON_XOFF, CTS_RTS;
    };

    // The character that ends a received data line. The settings hold the character code (0..255), so any
    // byte can be the terminator; the three constants are the named choices of the selection list.
    class InputTerminator : public detail::OptionConstant<InputTerminator> {
        VORNAL_OPTION_SET(InputTerminator, OptionConstant, 3, 2)
        static const InputTerminator EOT, LF, CR;
        // The character code, e.g. 13 for CR.
        int getDecimal() const;
        // The default code, 13 (not the constant).
        static int getDefault() { return 13; }
        // True for codes 0 to 255 inclusive.
        static bool valid(int code) { return code >= 0 && code <= 255; }
        // The constant with this code, or none (e.g. for 3).
        static std::optional<InputTerminator> itemFromDecimal(int code);
        // Shows `code` in an editable selection list that was filled from values() in order: selects the
        // matching constant, or, when no constant has the code, puts the bare number into the list's
        // selection. `List` needs `setCurrentIndex(int)` and `setCurrentText(const QString&)`; an editable
        // QComboBox satisfies this directly.
        template <class List> static void setSelectedItem(List& list, int code) {
            if (const auto item = itemFromDecimal(code))
                list.setCurrentIndex(item->ordinal());
            else
                list.setCurrentText(QString::number(code));
        }
    };

    // ---- connection and output sets, stored by constant name ----

    // Connection mode at start-up. Default MANUAL.
    class Connect : public detail::NameStyle<Connect> {
        VORNAL_OPTION_SET(Connect, NameStyle, 2, 0)
        static const Connect MANUAL, AUTO;
    };

    // Separator written into the typed number. Default DOT.
    class DecimalSeparator : public detail::NameStyle<DecimalSeparator> {
        VORNAL_OPTION_SET(DecimalSeparator, NameStyle, 2, 0)
        static const DecimalSeparator DOT, COMMA;
        // '.' or ','.
        QChar getCharacter() const;
    };

    // Key typed before each value. Default NONE (no key).
    class StartWith : public detail::NameStyle<StartWith> {
        VORNAL_OPTION_SET(StartWith, NameStyle, 26, 0)
        static const StartWith NONE, ENTER, TAB, BACKSLASH, COMMA, DELETE, DOWN, ESCAPE, F1, F2, F3, F4, F5,
            F6, F7, F8, F9, F10, F11, F12, MINUS, MULTIPLY, RIGHT, SEMICOLON, SLASH, SPACE;
        // The virtual key code (getKeyEvent of the constant name); 0 for NONE.
        int getKeyCode() const;
    };

    // Key typed after each value; used for both terminator settings. Same constants as StartWith.
    class OutputTerminator : public detail::NameStyle<OutputTerminator> {
        VORNAL_OPTION_SET(OutputTerminator, NameStyle, 26, 0)
        static const OutputTerminator NONE, ENTER, TAB, BACKSLASH, COMMA, DELETE, DOWN, ESCAPE, F1, F2, F3,
            F4, F5, F6, F7, F8, F9, F10, F11, F12, MINUS, MULTIPLY, RIGHT, SEMICOLON, SLASH, SPACE;
        int getKeyCode() const;
    };

    // Percussion sound for each typed value. Default NONE (no sound output).
    class Sound : public detail::NameStyle<Sound> {
        VORNAL_OPTION_SET(Sound, NameStyle, 7, 0)
        static const Sound NONE, RIDE_BELL, COWBELL, HIGH_AGOGO, LOW_AGOGO, CLAVES, OPEN_TRIANGLE;
        // General MIDI percussion note number (0 for NONE).
        int getPercussionNumber() const;
        // The display text.
        QString getPercussionName() const { return toString(); }
    };

    // Keyboard layout used for typing. Default QUERTY (stored in exactly that form).
    class KeyboardType : public detail::NameStyle<KeyboardType> {
        VORNAL_OPTION_SET(KeyboardType, NameStyle, 5, 0)
        static const KeyboardType QUERTY, US_INTERNATIONAL, AZERTY, GERMAN, ALL;
        // The constant a name stands for also in the usual spelling of the command line ("QWERTY").
        static std::optional<KeyboardType> fromUserText(const QString& text);
    };

    // How the bytes the instrument sends become characters. Default ISO_8859_1 (one byte, one character,
    // as stored settings without this setting expect).
    class InputEncoding : public detail::NameStyle<InputEncoding> {
        VORNAL_OPTION_SET(InputEncoding, NameStyle, 4, 0)
        static const InputEncoding ISO_8859_1, UTF_8, WINDOWS_1252, CP437;
    };

    // ---- processing sets, stored by constant name ----

    // Operation applied to the value with the operand. Default NONE.
    class MathOperation : public detail::NameStyle<MathOperation> {
        VORNAL_OPTION_SET(MathOperation, NameStyle, 3, 0)
        static const MathOperation NONE, MULTIPLY, DIVIDE;
    };

    // Rounding used with the number of decimal places. Default HALF_UP.
    class RoundingMethod : public detail::NameStyle<RoundingMethod> {
        VORNAL_OPTION_SET(RoundingMethod, NameStyle, 7, 5)
        static const RoundingMethod CEILING, DOWN, FLOOR, HALF_DOWN, HALF_EVEN, HALF_UP, UP;
        // The rounding mode of the same name.
        decimal::RoundingMode getRoundingMode() const {
            return static_cast<decimal::RoundingMode>(ordinal());
        }
    };

    // What the editing stage does with the counted characters. Default REMOVE.
    class EditOperation : public detail::NameStyle<EditOperation> {
        VORNAL_OPTION_SET(EditOperation, NameStyle, 2, 0)
        static const EditOperation REMOVE, KEEP;
    };

    // Which end of the value the editing stage counts from. Default FIRST.
    class EditPosition : public detail::NameStyle<EditPosition> {
        VORNAL_OPTION_SET(EditPosition, NameStyle, 2, 0)
        static const EditPosition FIRST, LAST;
    };

    // ---- free-text options: the settings hold the text as typed; these give default and validity ----

    // Multiplier or divisor: empty, or a decimal number other than the exact text "0".
    struct MathOperand {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };
    // Decimal places to round to: empty, or a whole number 0..7.
    struct DecimalPlaces {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };
    // Characters removed or kept by the editing stage: empty, or a whole number 1..99.
    struct EditNumCharacters {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };
    // Characters removed wherever they occur: any text whose characters all have codes 0..255.
    struct RemoveCharacters {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };
    // Every X-th value ends with the second terminator: empty, or a whole number 2..99.
    struct EveryXValues {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };
    // Duplicate tolerance: empty, or a decimal number greater than 0.
    struct IgnoreDifference {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };
    // Duplicate time limit in ms: empty, or a whole number greater than 0.
    struct IgnoreTimeLimit {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };
    // Pause between typed keys in ms: empty, or a whole number 0..1000. Default "20".
    struct Delay {
        static QString getDefault() { return QString("20"); }
        static bool valid(const QString& text);
    };
    // Custom extraction expression: empty, or an expression that compiles and whose first unescaped "("
    // comes before its first unescaped ")" (so it has a group 1).
    struct CustomRegEx {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };

    // The command that asks the instrument for a reading: characters 0-255 as they are, and "<code>"
    // (decimal 0-255) for any byte, as the event log shows control characters: "S<13><10>" is S, CR, LF.
    // A "<" that does not start such a code is itself. Default: the preset's command.
    struct RequestCommand {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text) { return toBytes(text).has_value(); }
        // The bytes to send; none (with the reason) for characters above 255.
        static std::optional<QByteArray> toBytes(const QString& text, QString* error = nullptr);
    };
    // The global shortcut that sends the request: empty, or modifiers and a key joined by "+", as in
    // "Ctrl+Alt+R" or "Shift+F9". Modifiers Ctrl, Alt, Shift, Meta (any case); keys A-Z, 0-9, F1-F24.
    struct RequestHotkey {
        enum Modifier : unsigned { Ctrl = 1, Alt = 2, Shift = 4, Meta = 8 };
        struct Parsed {
            unsigned modifiers;
            QString key; // "R", "7", "F9"
        };
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text) { return text.isEmpty() || parse(text).has_value(); }
        static std::optional<Parsed> parse(const QString& text);
    };
    // Seconds between automatic requests: empty (none), or a whole number 1..86400.
    struct RequestEverySeconds {
        static QString getDefault() { return QString(""); }
        static bool valid(const QString& text);
    };

    // ---- instrument presets ----

    // Whether a preset's value is a number (numeric stages, plain worker) or free text (barcode worker).
    class InstrumentType : public detail::NameStyle<InstrumentType> {
        VORNAL_OPTION_SET(InstrumentType, NameStyle, 2, 0)
        static const InstrumentType NUMBER, TEXT;
    };

    // Which character-to-key map the keystroke output uses.
    class KeyMapType : public detail::NameStyle<KeyMapType> {
        VORNAL_OPTION_SET(KeyMapType, NameStyle, 3, 0)
        static const KeyMapType NUMERIC, ALPHANUMERIC_BASIC, ALPHANUMERIC_COMPLETE;
    };

    // The 53 instrument presets, in the order of the instrument list. Default GENERIC.
    class Instrument : public detail::NameStyle<Instrument> {
        VORNAL_OPTION_SET(Instrument, NameStyle, 53, 0)
        static const Instrument GENERIC, BARCODE, BARCODE_ALPHA, BARCODE_ALPHA_COMPLETE, AND, AND_SIMPLE,
            AND_EM, ACCULAB_AL, ADAM_AZEXTRA_WEIGHT, ADAM_CBK, ADAM_CPWPLUS, ADAM_GC_WEIGHT, ADAM_GC_PCS,
            ADAM_HCB, ADAM_LABEL, DENVER, DINI_ARGEO, DINI_ARGEO_DFW, KERND_440E, KERN_572, KERN_573,
            KERN_SHIMADZU, KERND_DE, KERN_DS, KERN_FKB, KERN_KB_N, KERN_KCP, KERN_KFB, KERN_MPS, KERN_RPB,
            KEYENCE_IL, MARS, METTLER_SICS, METTLER_DIALOG, METTLER_PRINT, MITUTOYO, MITUTOYO_LSM_6200,
            MYWEIGH_HD, MYWEIGH_ULTRA2, OHAUS, OHAUSSPU, PRECISA, RADWAG, RICE_LAKE_1280, SARTORIUS,
            SARTORIUS_ENTRIS, SARTORIUS_SBI, SARTORIUS_SICS, SMA_SCP, SHIMADZU, SCHLAGE_HANDPUNCH,
            TANITA_TL280, WEDDERBURN;

        // Number of the pattern group whose text is the value: 1 for every preset.
        int getCaptureGroup() const { return 1; }
        // The usual port settings of the instrument.
        PortDefaults getPortDefaults() const;
        // A fresh settings record (default constructor) with only the port fields set from
        // getPortDefaults(). Defined with the settings record, in Config.cpp.
        Config getDefaultConfig() const;
        // The hint text shown by the default-settings button, or none.
        std::optional<QString> getDefaultMessage() const;
        // The bundle key of the hint text, or "" when the preset has none.
        QString getDefaultMessageKey() const;
        InstrumentType getInstrumentType() const;
        KeyMapType getKeyMapType() const;
        // The extraction pattern as text, in the instruments' regular-expression dialect.
        QString getPattern() const;
        // getPattern() compiled once for this process (see compileInstrumentPattern).
        const QRegularExpression& getRegularExpression() const;
        // Sample data lines and the value each must give; one pair of empty texts when the preset has none.
        std::vector<TestString> getTestStrings() const;
        // The stability rule: an expression (instruments' dialect) that finds a match in a line the
        // instrument marked as stable, e.g. the "ST," header of a balance; "" when the instrument marks
        // no stability (the stable-reading options are then off).
        QString getStabilityPattern() const;
        bool hasStabilityRule() const { return !getStabilityPattern().isEmpty(); }
        // getStabilityPattern() compiled once for this process; an invalid expression when there is none.
        const QRegularExpression& getStabilityExpression() const;
        // Sample lines and whether the instrument marked each as stable; empty without a rule.
        std::vector<StabilitySample> getStabilitySamples() const;
        // The command that asks the instrument for a reading, in the notation of requestCommand
        // ("S<13><10>");
        // "" when the instrument sends only on its own.
        QString getRequestCommand() const;
        // The display name.
        QString toPlainString() const { return displayOf(ordinal()); }
        // The text of the instrument list: the display name; text presets in italics through HTML.
        QString toString() const;
    };

    // ---- helpers ----

    // The virtual key code of a key constant name ("ENTER" 10, "TAB" 9, "F12" 123, ...); 0 for "NONE" and
    // every other text.
    static int getKeyEvent(const QString& constantName);

    // Every key the option sets and presets look up in "vornal.config.ConfigBundle" (for a resource check).
    static QStringList bundleKeys();

    // Forgets the looked-up display texts so that the next use reads them again in the current language.
    // For tests that switch ResourceBundle::setLocale; not needed in the program.
    static void reloadTexts();
};

#undef VORNAL_OPTION_SET

// ---- the constants ----

inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_110{0};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_150{1};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_300{2};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_600{3};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_1200{4};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_2400{5};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_4800{6};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_9600{7};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_19200{8};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_38400{9};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_57600{10};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_115200{11};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_230400{12};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_460800{13};
inline constexpr ConfigHelper::BitRates ConfigHelper::BitRates::BR_921600{14};

inline constexpr ConfigHelper::DataBits ConfigHelper::DataBits::LN_5BITS{0};
inline constexpr ConfigHelper::DataBits ConfigHelper::DataBits::LN_6BITS{1};
inline constexpr ConfigHelper::DataBits ConfigHelper::DataBits::LN_7BITS{2};
inline constexpr ConfigHelper::DataBits ConfigHelper::DataBits::LN_8BITS{3};

inline constexpr ConfigHelper::StopBits ConfigHelper::StopBits::ST_1BITS{0};
inline constexpr ConfigHelper::StopBits ConfigHelper::StopBits::ST_2BITS{1};

inline constexpr ConfigHelper::Parity ConfigHelper::Parity::NONE{0};
inline constexpr ConfigHelper::Parity ConfigHelper::Parity::ODD{1};
inline constexpr ConfigHelper::Parity ConfigHelper::Parity::EVEN{2};
inline constexpr ConfigHelper::Parity ConfigHelper::Parity::MARK{3};
inline constexpr ConfigHelper::Parity ConfigHelper::Parity::SPACE{4};

inline constexpr ConfigHelper::Handshake ConfigHelper::Handshake::NONE{0};
inline constexpr ConfigHelper::Handshake ConfigHelper::Handshake::XON_XOFF{1};
inline constexpr ConfigHelper::Handshake ConfigHelper::Handshake::CTS_RTS{2};

inline constexpr ConfigHelper::InputTerminator ConfigHelper::InputTerminator::EOT{0};
inline constexpr ConfigHelper::InputTerminator ConfigHelper::InputTerminator::LF{1};
inline constexpr ConfigHelper::InputTerminator ConfigHelper::InputTerminator::CR{2};

inline constexpr ConfigHelper::Connect ConfigHelper::Connect::MANUAL{0};
inline constexpr ConfigHelper::Connect ConfigHelper::Connect::AUTO{1};

inline constexpr ConfigHelper::DecimalSeparator ConfigHelper::DecimalSeparator::DOT{0};
inline constexpr ConfigHelper::DecimalSeparator ConfigHelper::DecimalSeparator::COMMA{1};

inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::NONE{0};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::ENTER{1};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::TAB{2};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::BACKSLASH{3};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::COMMA{4};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::DELETE{5};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::DOWN{6};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::ESCAPE{7};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F1{8};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F2{9};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F3{10};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F4{11};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F5{12};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F6{13};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F7{14};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F8{15};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F9{16};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F10{17};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F11{18};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::F12{19};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::MINUS{20};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::MULTIPLY{21};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::RIGHT{22};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::SEMICOLON{23};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::SLASH{24};
inline constexpr ConfigHelper::StartWith ConfigHelper::StartWith::SPACE{25};

inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::NONE{0};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::ENTER{1};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::TAB{2};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::BACKSLASH{3};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::COMMA{4};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::DELETE{5};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::DOWN{6};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::ESCAPE{7};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F1{8};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F2{9};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F3{10};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F4{11};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F5{12};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F6{13};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F7{14};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F8{15};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F9{16};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F10{17};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F11{18};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::F12{19};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::MINUS{20};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::MULTIPLY{21};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::RIGHT{22};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::SEMICOLON{23};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::SLASH{24};
inline constexpr ConfigHelper::OutputTerminator ConfigHelper::OutputTerminator::SPACE{25};

inline constexpr ConfigHelper::Sound ConfigHelper::Sound::NONE{0};
inline constexpr ConfigHelper::Sound ConfigHelper::Sound::RIDE_BELL{1};
inline constexpr ConfigHelper::Sound ConfigHelper::Sound::COWBELL{2};
inline constexpr ConfigHelper::Sound ConfigHelper::Sound::HIGH_AGOGO{3};
inline constexpr ConfigHelper::Sound ConfigHelper::Sound::LOW_AGOGO{4};
inline constexpr ConfigHelper::Sound ConfigHelper::Sound::CLAVES{5};
inline constexpr ConfigHelper::Sound ConfigHelper::Sound::OPEN_TRIANGLE{6};

inline constexpr ConfigHelper::KeyboardType ConfigHelper::KeyboardType::QUERTY{0};
inline constexpr ConfigHelper::KeyboardType ConfigHelper::KeyboardType::US_INTERNATIONAL{1};
inline constexpr ConfigHelper::KeyboardType ConfigHelper::KeyboardType::AZERTY{2};
inline constexpr ConfigHelper::KeyboardType ConfigHelper::KeyboardType::GERMAN{3};
inline constexpr ConfigHelper::KeyboardType ConfigHelper::KeyboardType::ALL{4};
inline constexpr ConfigHelper::InputEncoding ConfigHelper::InputEncoding::ISO_8859_1{0};
inline constexpr ConfigHelper::InputEncoding ConfigHelper::InputEncoding::UTF_8{1};
inline constexpr ConfigHelper::InputEncoding ConfigHelper::InputEncoding::WINDOWS_1252{2};
inline constexpr ConfigHelper::InputEncoding ConfigHelper::InputEncoding::CP437{3};

inline constexpr ConfigHelper::MathOperation ConfigHelper::MathOperation::NONE{0};
inline constexpr ConfigHelper::MathOperation ConfigHelper::MathOperation::MULTIPLY{1};
inline constexpr ConfigHelper::MathOperation ConfigHelper::MathOperation::DIVIDE{2};

inline constexpr ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::CEILING{0};
inline constexpr ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::DOWN{1};
inline constexpr ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::FLOOR{2};
inline constexpr ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::HALF_DOWN{3};
inline constexpr ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::HALF_EVEN{4};
inline constexpr ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::HALF_UP{5};
inline constexpr ConfigHelper::RoundingMethod ConfigHelper::RoundingMethod::UP{6};

inline constexpr ConfigHelper::EditOperation ConfigHelper::EditOperation::REMOVE{0};
inline constexpr ConfigHelper::EditOperation ConfigHelper::EditOperation::KEEP{1};

inline constexpr ConfigHelper::EditPosition ConfigHelper::EditPosition::FIRST{0};
inline constexpr ConfigHelper::EditPosition ConfigHelper::EditPosition::LAST{1};

inline constexpr ConfigHelper::InstrumentType ConfigHelper::InstrumentType::NUMBER{0};
inline constexpr ConfigHelper::InstrumentType ConfigHelper::InstrumentType::TEXT{1};

inline constexpr ConfigHelper::KeyMapType ConfigHelper::KeyMapType::NUMERIC{0};
inline constexpr ConfigHelper::KeyMapType ConfigHelper::KeyMapType::ALPHANUMERIC_BASIC{1};
inline constexpr ConfigHelper::KeyMapType ConfigHelper::KeyMapType::ALPHANUMERIC_COMPLETE{2};

inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::GENERIC{0};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::BARCODE{1};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::BARCODE_ALPHA{2};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::BARCODE_ALPHA_COMPLETE{3};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::AND{4};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::AND_SIMPLE{5};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::AND_EM{6};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::ACCULAB_AL{7};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::ADAM_AZEXTRA_WEIGHT{8};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::ADAM_CBK{9};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::ADAM_CPWPLUS{10};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::ADAM_GC_WEIGHT{11};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::ADAM_GC_PCS{12};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::ADAM_HCB{13};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::ADAM_LABEL{14};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::DENVER{15};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::DINI_ARGEO{16};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::DINI_ARGEO_DFW{17};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERND_440E{18};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_572{19};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_573{20};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_SHIMADZU{21};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERND_DE{22};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_DS{23};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_FKB{24};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_KB_N{25};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_KCP{26};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_KFB{27};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_MPS{28};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KERN_RPB{29};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::KEYENCE_IL{30};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::MARS{31};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::METTLER_SICS{32};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::METTLER_DIALOG{33};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::METTLER_PRINT{34};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::MITUTOYO{35};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::MITUTOYO_LSM_6200{36};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::MYWEIGH_HD{37};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::MYWEIGH_ULTRA2{38};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::OHAUS{39};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::OHAUSSPU{40};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::PRECISA{41};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::RADWAG{42};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::RICE_LAKE_1280{43};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::SARTORIUS{44};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::SARTORIUS_ENTRIS{45};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::SARTORIUS_SBI{46};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::SARTORIUS_SICS{47};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::SMA_SCP{48};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::SHIMADZU{49};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::SCHLAGE_HANDPUNCH{50};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::TANITA_TL280{51};
inline constexpr ConfigHelper::Instrument ConfigHelper::Instrument::WEDDERBURN{52};

} // namespace vornal::config
