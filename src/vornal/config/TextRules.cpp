#include "vornal/config/TextRules.h"

#include "vornal/config/RegexDialect.h"
#include "vornal/util/WholeNumber.h"

#include <QRegularExpression>

#include <limits>

namespace vornal::config::rules {

bool wholeInRange(const QString& text, int low, int high) {
    if (text.isEmpty())
        return true;
    const auto v = util::parseWholeNumber(text);
    return v && *v >= low && *v <= high;
}

namespace {

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

} // namespace

bool MathOperand::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    return text != u"0" && isDecimal(text);
}
bool DecimalPlaces::valid(const QString& text) {
    return wholeInRange(text, 0, 7);
}
bool EditNumCharacters::valid(const QString& text) {
    return wholeInRange(text, 1, 99);
}
bool RemoveCharacters::valid(const QString& text) {
    for (const char32_t code : text.toUcs4())
        if (code > 255)
            return false;
    return true;
}
bool EveryXValues::valid(const QString& text) {
    return wholeInRange(text, 2, 99);
}
bool IgnoreDifference::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    return isDecimal(text) && decimalGreaterThanZero(text);
}
bool IgnoreTimeLimit::valid(const QString& text) {
    return wholeInRange(text, 1, std::numeric_limits<int>::max());
}
bool Delay::valid(const QString& text) {
    return wholeInRange(text, 0, 1000);
}
bool CustomRegEx::valid(const QString& text) {
    if (text.isEmpty())
        return true;
    if (!compileInstrumentPattern(text).isValid())
        return false;
    return firstUnescaped(text, u'(') < firstUnescaped(text, u')');
}

std::optional<QByteArray> RequestCommand::toBytes(const QString& text, QString* error) {
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

bool RequestEverySeconds::valid(const QString& text) {
    return text.isEmpty() || (text[0] >= u'1' && text[0] <= u'9' && wholeInRange(text, 1, 86400));
}

} // namespace vornal::config::rules
