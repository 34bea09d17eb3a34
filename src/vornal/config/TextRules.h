#pragma once

// The rules of the free-text options: the settings hold the text as typed; these give its default and
// whether it is acceptable. Callers name them through ConfigHelper (ConfigHelper::Delay, ...).

#include <QByteArray>
#include <QString>

#include <optional>

namespace vornal::config::rules {

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
// Seconds between automatic requests: empty (none), or a whole number 1..86400.
struct RequestEverySeconds {
    static QString getDefault() { return QString(""); }
    static bool valid(const QString& text);
};

// True for an empty text or a whole number from low to high (no sign, no spaces).
bool wholeInRange(const QString& text, int low, int high);

} // namespace vornal::config::rules
