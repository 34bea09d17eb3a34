#pragma once

#include "vornal/decimal/RoundingMode.h"

#include <gmpxx.h>

#include <QString>
#include <QStringView>

#include <compare>
#include <optional>
#include <stdexcept>
#include <string>

namespace vornal::decimal {

// The failure of one processing stage for one line (a value that is not a number, a division by zero,
// an edit count larger than the value). The reading worker reports what() after "Error [WW]: " and goes
// on with the next line. The message is UTF-8.
class ProcessingError : public std::runtime_error {
public:
    explicit ProcessingError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// A value quoted for a message: in double quotes, control characters shown as "<13>", cut after 40
// characters.
QString quotedValue(QStringView text);

// An exact decimal number: unscaled integer × 10^-scale. The scale may be negative ("1.5E3" is 15 with
// scale -2) and is kept as written ("12.50" has scale 2), so the number of decimals a value was sent
// with survives parsing. No floating point is used anywhere.
class Decimal {
public:
    // Largest exponent accepted by parse(), in either direction: "9E9999" would be typed as 10,000
    // digits, "1E999999999" would need a gigabyte. No instrument sends exponents anywhere near this. The
    // same bound as the settings' decimal numbers (operands, tolerances), so that a value and a setting
    // accept the same exponents.
    static constexpr int maxExponent = 1000;
    // Largest scale parse() accepts in either direction (decimals written plus exponent). Keeps every
    // power of ten the arithmetic needs small.
    static constexpr int maxScale = 100000;

    Decimal() = default; // zero, scale 0
    Decimal(const mpz_class& unscaled, int scale) : unscaled_(unscaled), scale_(scale) {}
    explicit Decimal(long value) : unscaled_(value) {}

    // Parses the decimal text grammar: optional "+" or "-", digits with an optional "." and fraction
    // (at least one digit in all), optional "E" or "e" with an optional sign and digits. Nothing else,
    // no blanks, only ASCII digits. On failure returns nothing and, when `error` is given, a message
    // that quotes the text and says why.
    static std::optional<Decimal> parse(QStringView text, QString* error = nullptr);
    // The same, throwing ProcessingError with that message.
    static Decimal fromString(QStringView text);

    const mpz_class& unscaled() const { return unscaled_; }
    int scale() const { return scale_; }
    int signum() const { return sgn(unscaled_); }
    bool isZero() const { return sgn(unscaled_) == 0; }

    Decimal negate() const { return Decimal(mpz_class(-unscaled_), scale_); }
    Decimal abs() const { return Decimal(mpz_class(::abs(unscaled_)), scale_); }
    // Exact; the scale of the result is the larger of both scales.
    Decimal add(const Decimal& other) const;
    Decimal subtract(const Decimal& other) const;
    // Exact; the scale of the result is the sum of both scales.
    Decimal multiply(const Decimal& other) const;
    // This ÷ divisor with exactly `scale` decimals, rounded with `mode` from the exact quotient.
    // Throws ProcessingError on a zero divisor (also "0.0").
    Decimal divide(const Decimal& divisor, int scale, RoundingMode mode) const;
    // The same value with `newScale` decimals: exact when more decimals, rounded with `mode` when fewer.
    Decimal setScale(int newScale, RoundingMode mode) const;

    // Numeric comparison: 2.50 and 2.5 are equal here.
    std::strong_ordering compare(const Decimal& other) const;
    bool sameValue(const Decimal& other) const { return compare(other) == 0; }
    // Numeric as well: 2.50 == 2.5. Compare toPlainString() to tell the scales apart.
    friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) { return a.compare(b); }
    friend bool operator==(const Decimal& a, const Decimal& b) { return a.compare(b) == 0; }

    // Plain notation without exponent: trailing zeros as the scale says, a negative scale printed as
    // zeros before the point ("1.5E3" gives "1500"), "-" in front of negative numbers, no grouping.
    QString toPlainString(QChar decimalSeparator = u'.') const;

    // Rounds the integer quotient numerator ÷ denominator (denominator ≠ 0) with `mode`.
    static mpz_class roundedQuotient(const mpz_class& numerator, const mpz_class& denominator,
                                     RoundingMode mode);

private:
    mpz_class unscaled_;
    int scale_ = 0;
};

// The name of a rounding mode as the user sees it in the settings ("HALF_UP").
const char* roundingModeName(RoundingMode mode);

} // namespace vornal::decimal
