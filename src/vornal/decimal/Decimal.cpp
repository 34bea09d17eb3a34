#include "vornal/decimal/Decimal.h"

#include "vornal/util/ControlChars.h"

#include <cstdint>
#include <limits>

namespace vornal::decimal {

namespace {

// Powers of ten beyond this would only come from scales no parsed value can have; refusing them keeps
// a wrong caller from exhausting memory.
constexpr std::int64_t maxPowerOfTen = 8 * std::int64_t(Decimal::maxScale);

mpz_class powerOfTen(std::int64_t exponent) {
    if (exponent < 0 || exponent > maxPowerOfTen)
        throw ProcessingError(QStringLiteral("Decimal arithmetic needs 10^%1, which is beyond the supported "
                                             "range of %2 decimal places.")
                                  .arg(exponent)
                                  .arg(maxPowerOfTen));
    mpz_class result;
    mpz_ui_pow_ui(result.get_mpz_t(), 10, static_cast<unsigned long>(exponent));
    return result;
}

int checkedScale(std::int64_t scale) {
    if (scale > std::numeric_limits<int>::max() || scale < std::numeric_limits<int>::min())
        throw ProcessingError(
            QStringLiteral("Decimal result has a scale of %1, beyond the supported range.").arg(scale));
    return static_cast<int>(scale);
}

// Both unscaled values brought to the larger of both scales.
struct Aligned {
    mpz_class a;
    mpz_class b;
    int scale;
};

Aligned align(const Decimal& x, const Decimal& y) {
    if (x.scale() == y.scale())
        return {x.unscaled(), y.unscaled(), x.scale()};
    if (x.scale() > y.scale())
        return {x.unscaled(), mpz_class(y.unscaled() * powerOfTen(std::int64_t(x.scale()) - y.scale())),
                x.scale()};
    return {mpz_class(x.unscaled() * powerOfTen(std::int64_t(y.scale()) - x.scale())), y.unscaled(),
            y.scale()};
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

QString quotedValue(QStringView text) {
    constexpr qsizetype limit = 40;
    QString shown = util::showControlChars(text.size() > limit ? text.left(limit) : text);
    if (text.size() > limit)
        shown += QStringLiteral("...");
    return u'"' + shown + u'"';
}

std::optional<Decimal> Decimal::parse(QStringView text, QString* error) {
    auto fail = [&](const QString& reason) -> std::optional<Decimal> {
        if (error)
            *error = quotedValue(text) + QStringLiteral(" is not a decimal number: ") + reason;
        return std::nullopt;
    };
    const qsizetype n = text.size();
    if (n == 0)
        return fail(QStringLiteral("the text is empty."));
    qsizetype i = 0;
    std::string digits;
    digits.reserve(std::size_t(n) + 1);
    if (text[0] == u'-' || text[0] == u'+') {
        if (text[0] == u'-')
            digits += '-';
        ++i;
    }
    std::int64_t fractionDigits = 0;
    bool point = false;
    bool anyDigit = false;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (isDigit(c)) {
            digits += char(c);
            anyDigit = true;
            if (point)
                ++fractionDigits;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!anyDigit)
        return fail(QStringLiteral("it has no digits before the exponent or end."));
    std::int64_t exponent = 0;
    if (i < n && (text[i] == u'E' || text[i] == u'e')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (text[i] == u'-' || text[i] == u'+')) {
            negativeExponent = text[i] == u'-';
            ++i;
        }
        const qsizetype start = i;
        for (; i < n && isDigit(text[i].unicode()); ++i) {
            if (exponent <= maxExponent)
                exponent = exponent * 10 + (text[i].unicode() - u'0');
        }
        if (i == start)
            return fail(QStringLiteral("the exponent after \"E\" has no digits."));
        if (exponent > maxExponent)
            return fail(
                QStringLiteral("the exponent is beyond the supported range of -%1 to %1.").arg(maxExponent));
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i < n)
        return fail(QStringLiteral("unexpected character %1 at position %2.")
                        .arg(quotedValue(text.mid(i, 1)))
                        .arg(i + 1));
    const std::int64_t scale = fractionDigits - exponent;
    if (scale > maxScale || scale < -maxScale)
        return fail(QStringLiteral("it has more than %1 decimal places.").arg(maxScale));
    Decimal result;
    result.unscaled_.set_str(digits, 10);
    result.scale_ = static_cast<int>(scale);
    return result;
}

Decimal Decimal::fromString(QStringView text) {
    QString error;
    std::optional<Decimal> d = parse(text, &error);
    if (!d)
        throw ProcessingError(error);
    return *std::move(d);
}

Decimal Decimal::add(const Decimal& other) const {
    Aligned al = align(*this, other);
    return Decimal(mpz_class(al.a + al.b), al.scale);
}

Decimal Decimal::subtract(const Decimal& other) const {
    Aligned al = align(*this, other);
    return Decimal(mpz_class(al.a - al.b), al.scale);
}

Decimal Decimal::multiply(const Decimal& other) const {
    return Decimal(mpz_class(unscaled_ * other.unscaled_), checkedScale(std::int64_t(scale_) + other.scale_));
}

Decimal Decimal::divide(const Decimal& divisor, int scale, RoundingMode mode) const {
    if (divisor.isZero())
        throw ProcessingError(QStringLiteral("Cannot divide %1 by %2: division by zero.")
                                  .arg(quotedValue(toPlainString()), quotedValue(divisor.toPlainString())));
    // this ÷ divisor = (u / du) × 10^(ds - s); the result's unscaled value is that × 10^scale.
    const std::int64_t shift = std::int64_t(scale) + divisor.scale_ - scale_;
    if (shift >= 0)
        return Decimal(roundedQuotient(mpz_class(unscaled_ * powerOfTen(shift)), divisor.unscaled_, mode),
                       scale);
    return Decimal(roundedQuotient(unscaled_, mpz_class(divisor.unscaled_ * powerOfTen(-shift)), mode),
                   scale);
}

Decimal Decimal::setScale(int newScale, RoundingMode mode) const {
    if (newScale == scale_)
        return *this;
    if (newScale > scale_)
        return Decimal(mpz_class(unscaled_ * powerOfTen(std::int64_t(newScale) - scale_)), newScale);
    return Decimal(roundedQuotient(unscaled_, powerOfTen(std::int64_t(scale_) - newScale), mode), newScale);
}

mpz_class Decimal::roundedQuotient(const mpz_class& numerator, const mpz_class& denominator,
                                   RoundingMode mode) {
    mpz_class quotient;
    mpz_class remainder;
    mpz_tdiv_qr(quotient.get_mpz_t(), remainder.get_mpz_t(), numerator.get_mpz_t(), denominator.get_mpz_t());
    if (sgn(remainder) == 0)
        return quotient;
    // The exact quotient lies strictly between `quotient` and its neighbour away from zero.
    const int sign = sgn(numerator) * sgn(denominator);
    const mpz_class twiceRemainder = mpz_class(::abs(remainder) * 2);
    const int half = cmp(twiceRemainder, mpz_class(::abs(denominator))); // <0 below, 0 at, >0 above the tie
    bool awayFromZero = false;
    switch (mode) {
    case RoundingMode::UP:
        awayFromZero = true;
        break;
    case RoundingMode::DOWN:
        awayFromZero = false;
        break;
    case RoundingMode::CEILING:
        awayFromZero = sign > 0;
        break;
    case RoundingMode::FLOOR:
        awayFromZero = sign < 0;
        break;
    case RoundingMode::HALF_UP:
        awayFromZero = half >= 0;
        break;
    case RoundingMode::HALF_DOWN:
        awayFromZero = half > 0;
        break;
    case RoundingMode::HALF_EVEN:
        awayFromZero = half > 0 || (half == 0 && mpz_odd_p(quotient.get_mpz_t()));
        break;
    }
    if (awayFromZero)
        quotient += sign;
    return quotient;
}

std::strong_ordering Decimal::compare(const Decimal& other) const {
    const int signs = signum() - other.signum();
    if (signs != 0 || signum() == 0)
        return signs <=> 0;
    Aligned al = align(*this, other);
    return cmp(al.a, al.b) <=> 0;
}

QString Decimal::toPlainString(QChar decimalSeparator) const {
    if (isZero() && scale_ <= 0)
        return QStringLiteral("0");
    std::string digits = mpz_class(::abs(unscaled_)).get_str(10);
    QString out;
    out.reserve(qsizetype(digits.size()) + (scale_ < 0 ? -std::int64_t(scale_) : 2) + 2);
    if (signum() < 0)
        out += u'-';
    if (scale_ <= 0) {
        out += QLatin1StringView(digits.data(), qsizetype(digits.size()));
        out += QString(-std::int64_t(scale_), u'0');
        return out;
    }
    const std::size_t scale = std::size_t(scale_);
    if (digits.size() <= scale)
        digits.insert(0, scale + 1 - digits.size(), '0');
    const std::size_t integerDigits = digits.size() - scale;
    out += QLatin1StringView(digits.data(), qsizetype(integerDigits));
    out += decimalSeparator;
    out += QLatin1StringView(digits.data() + integerDigits, qsizetype(scale));
    return out;
}

const char* roundingModeName(RoundingMode mode) {
    switch (mode) {
    case RoundingMode::CEILING:
        return "CEILING";
    case RoundingMode::DOWN:
        return "DOWN";
    case RoundingMode::FLOOR:
        return "FLOOR";
    case RoundingMode::HALF_DOWN:
        return "HALF_DOWN";
    case RoundingMode::HALF_EVEN:
        return "HALF_EVEN";
    case RoundingMode::HALF_UP:
        return "HALF_UP";
    case RoundingMode::UP:
        return "UP";
    }
    return "?";
}

} // namespace vornal::decimal
