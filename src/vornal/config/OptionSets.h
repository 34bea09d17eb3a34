#pragma once

// The value sets of the options: serial port settings stored by index, connection, output and processing
// choices stored by constant name. Display texts come from the bundle "vornal.config.ConfigBundle".
// Callers name them through ConfigHelper (ConfigHelper::BitRates, ...).

#include "vornal/config/OptionSet.h"
#include "vornal/decimal/RoundingMode.h"

#include <QChar>
#include <QStringList>

namespace vornal::config::options {

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
    static const StartWith NONE, ENTER, TAB, BACKSLASH, COMMA, DELETE, DOWN, ESCAPE, F1, F2, F3, F4, F5, F6,
        F7, F8, F9, F10, F11, F12, MINUS, MULTIPLY, RIGHT, SEMICOLON, SLASH, SPACE;
    // The virtual key code (getKeyEvent of the constant name); 0 for NONE.
    int getKeyCode() const;
};

// Key typed after each value; used for both terminator settings. Same constants as StartWith.
class OutputTerminator : public detail::NameStyle<OutputTerminator> {
    VORNAL_OPTION_SET(OutputTerminator, NameStyle, 26, 0)
    static const OutputTerminator NONE, ENTER, TAB, BACKSLASH, COMMA, DELETE, DOWN, ESCAPE, F1, F2, F3, F4,
        F5, F6, F7, F8, F9, F10, F11, F12, MINUS, MULTIPLY, RIGHT, SEMICOLON, SLASH, SPACE;
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
    decimal::RoundingMode getRoundingMode() const { return static_cast<decimal::RoundingMode>(ordinal()); }
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

// The virtual key code of a key constant name ("ENTER" 10, "TAB" 9, "F12" 123, ...); 0 for "NONE" and every
// other text.
int getKeyEvent(const QString& constantName);

// Every key the option sets look up in "vornal.config.ConfigBundle".
QStringList bundleKeys();

// ---- the constants ----

inline constexpr BitRates BitRates::BR_110{0};
inline constexpr BitRates BitRates::BR_150{1};
inline constexpr BitRates BitRates::BR_300{2};
inline constexpr BitRates BitRates::BR_600{3};
inline constexpr BitRates BitRates::BR_1200{4};
inline constexpr BitRates BitRates::BR_2400{5};
inline constexpr BitRates BitRates::BR_4800{6};
inline constexpr BitRates BitRates::BR_9600{7};
inline constexpr BitRates BitRates::BR_19200{8};
inline constexpr BitRates BitRates::BR_38400{9};
inline constexpr BitRates BitRates::BR_57600{10};
inline constexpr BitRates BitRates::BR_115200{11};
inline constexpr BitRates BitRates::BR_230400{12};
inline constexpr BitRates BitRates::BR_460800{13};
inline constexpr BitRates BitRates::BR_921600{14};

inline constexpr DataBits DataBits::LN_5BITS{0};
inline constexpr DataBits DataBits::LN_6BITS{1};
inline constexpr DataBits DataBits::LN_7BITS{2};
inline constexpr DataBits DataBits::LN_8BITS{3};

inline constexpr StopBits StopBits::ST_1BITS{0};
inline constexpr StopBits StopBits::ST_2BITS{1};

inline constexpr Parity Parity::NONE{0};
inline constexpr Parity Parity::ODD{1};
inline constexpr Parity Parity::EVEN{2};
inline constexpr Parity Parity::MARK{3};
inline constexpr Parity Parity::SPACE{4};

inline constexpr Handshake Handshake::NONE{0};
inline constexpr Handshake Handshake::XON_XOFF{1};
inline constexpr Handshake Handshake::CTS_RTS{2};

inline constexpr InputTerminator InputTerminator::EOT{0};
inline constexpr InputTerminator InputTerminator::LF{1};
inline constexpr InputTerminator InputTerminator::CR{2};

inline constexpr Connect Connect::MANUAL{0};
inline constexpr Connect Connect::AUTO{1};

inline constexpr DecimalSeparator DecimalSeparator::DOT{0};
inline constexpr DecimalSeparator DecimalSeparator::COMMA{1};

inline constexpr StartWith StartWith::NONE{0};
inline constexpr StartWith StartWith::ENTER{1};
inline constexpr StartWith StartWith::TAB{2};
inline constexpr StartWith StartWith::BACKSLASH{3};
inline constexpr StartWith StartWith::COMMA{4};
inline constexpr StartWith StartWith::DELETE{5};
inline constexpr StartWith StartWith::DOWN{6};
inline constexpr StartWith StartWith::ESCAPE{7};
inline constexpr StartWith StartWith::F1{8};
inline constexpr StartWith StartWith::F2{9};
inline constexpr StartWith StartWith::F3{10};
inline constexpr StartWith StartWith::F4{11};
inline constexpr StartWith StartWith::F5{12};
inline constexpr StartWith StartWith::F6{13};
inline constexpr StartWith StartWith::F7{14};
inline constexpr StartWith StartWith::F8{15};
inline constexpr StartWith StartWith::F9{16};
inline constexpr StartWith StartWith::F10{17};
inline constexpr StartWith StartWith::F11{18};
inline constexpr StartWith StartWith::F12{19};
inline constexpr StartWith StartWith::MINUS{20};
inline constexpr StartWith StartWith::MULTIPLY{21};
inline constexpr StartWith StartWith::RIGHT{22};
inline constexpr StartWith StartWith::SEMICOLON{23};
inline constexpr StartWith StartWith::SLASH{24};
inline constexpr StartWith StartWith::SPACE{25};

inline constexpr OutputTerminator OutputTerminator::NONE{0};
inline constexpr OutputTerminator OutputTerminator::ENTER{1};
inline constexpr OutputTerminator OutputTerminator::TAB{2};
inline constexpr OutputTerminator OutputTerminator::BACKSLASH{3};
inline constexpr OutputTerminator OutputTerminator::COMMA{4};
inline constexpr OutputTerminator OutputTerminator::DELETE{5};
inline constexpr OutputTerminator OutputTerminator::DOWN{6};
inline constexpr OutputTerminator OutputTerminator::ESCAPE{7};
inline constexpr OutputTerminator OutputTerminator::F1{8};
inline constexpr OutputTerminator OutputTerminator::F2{9};
inline constexpr OutputTerminator OutputTerminator::F3{10};
inline constexpr OutputTerminator OutputTerminator::F4{11};
inline constexpr OutputTerminator OutputTerminator::F5{12};
inline constexpr OutputTerminator OutputTerminator::F6{13};
inline constexpr OutputTerminator OutputTerminator::F7{14};
inline constexpr OutputTerminator OutputTerminator::F8{15};
inline constexpr OutputTerminator OutputTerminator::F9{16};
inline constexpr OutputTerminator OutputTerminator::F10{17};
inline constexpr OutputTerminator OutputTerminator::F11{18};
inline constexpr OutputTerminator OutputTerminator::F12{19};
inline constexpr OutputTerminator OutputTerminator::MINUS{20};
inline constexpr OutputTerminator OutputTerminator::MULTIPLY{21};
inline constexpr OutputTerminator OutputTerminator::RIGHT{22};
inline constexpr OutputTerminator OutputTerminator::SEMICOLON{23};
inline constexpr OutputTerminator OutputTerminator::SLASH{24};
inline constexpr OutputTerminator OutputTerminator::SPACE{25};

inline constexpr Sound Sound::NONE{0};
inline constexpr Sound Sound::RIDE_BELL{1};
inline constexpr Sound Sound::COWBELL{2};
inline constexpr Sound Sound::HIGH_AGOGO{3};
inline constexpr Sound Sound::LOW_AGOGO{4};
inline constexpr Sound Sound::CLAVES{5};
inline constexpr Sound Sound::OPEN_TRIANGLE{6};

inline constexpr KeyboardType KeyboardType::QUERTY{0};
inline constexpr KeyboardType KeyboardType::US_INTERNATIONAL{1};
inline constexpr KeyboardType KeyboardType::AZERTY{2};
inline constexpr KeyboardType KeyboardType::GERMAN{3};
inline constexpr KeyboardType KeyboardType::ALL{4};

inline constexpr InputEncoding InputEncoding::ISO_8859_1{0};
inline constexpr InputEncoding InputEncoding::UTF_8{1};
inline constexpr InputEncoding InputEncoding::WINDOWS_1252{2};
inline constexpr InputEncoding InputEncoding::CP437{3};

inline constexpr MathOperation MathOperation::NONE{0};
inline constexpr MathOperation MathOperation::MULTIPLY{1};
inline constexpr MathOperation MathOperation::DIVIDE{2};

inline constexpr RoundingMethod RoundingMethod::CEILING{0};
inline constexpr RoundingMethod RoundingMethod::DOWN{1};
inline constexpr RoundingMethod RoundingMethod::FLOOR{2};
inline constexpr RoundingMethod RoundingMethod::HALF_DOWN{3};
inline constexpr RoundingMethod RoundingMethod::HALF_EVEN{4};
inline constexpr RoundingMethod RoundingMethod::HALF_UP{5};
inline constexpr RoundingMethod RoundingMethod::UP{6};

inline constexpr EditOperation EditOperation::REMOVE{0};
inline constexpr EditOperation EditOperation::KEEP{1};

inline constexpr EditPosition EditPosition::FIRST{0};
inline constexpr EditPosition EditPosition::LAST{1};

} // namespace vornal::config::options
