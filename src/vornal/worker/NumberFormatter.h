#pragma once

#include "vornal/decimal/Decimal.h"

#include <QChar>
#include <QString>
#include <QStringView>

#include <optional>

namespace vornal::config {
class Config;
}

namespace vornal::worker {

// The settings of a NumberFormatter as plain values.
struct NumberFormat {
    enum class MathOperation { NONE, MULTIPLY, DIVIDE };

    // Decimal places to round to (0 or more); none: rounding off.
    std::optional<int> roundingPrecision;
    decimal::RoundingMode roundingMode = decimal::RoundingMode::HALF_UP;
    // Applied only with an operand; a division also needs roundingPrecision (its quotient has exactly
    // that many decimals).
    MathOperation mathOperation = MathOperation::NONE;
    std::optional<decimal::Decimal> mathOperand;
    // "," for the comma setting, "." otherwise.
    QChar decimalSeparator = u'.';
};

// Turns the extracted, edited, whitespace-free value of a line into the text that is typed: sign
// normalised, multiplied or divided exactly, limited to the decimal places with the rounding mode, printed
// with the chosen separator and without grouping. One per connection; format() is called once per line.
//
// A value is never padded beyond its own decimals: with 2 places "12.3" stays "12.3" and "12" stays "12";
// only a quotient always has exactly the configured places. A negative value that rounds to zero is
// printed as zero without a minus sign ("-0.004" with 2 places gives "0.00"): the typed number is zero.
class NumberFormatter {
public:
    // Throws decimal::ProcessingError for settings no connection can work with: negative or absurd decimal
    // places, a division without decimal places.
    explicit NumberFormatter(NumberFormat settings);
    // From the settings record: decimal places and rounding mode only when rounding is enabled, the
    // operation and operand only when the math operation is enabled. Throws decimal::ProcessingError when the
    // operand is no decimal number.
    static NumberFormatter fromConfig(const config::Config& config);

    // The processed text of `value`. Throws decimal::ProcessingError when the value is no decimal number or
    // the divisor is zero; the message quotes the value and says why.
    QString format(QStringView value);

    // The number of the last successful format().
    const decimal::Decimal& number() const { return number_; }
    bool roundingEnabled() const { return settings_.roundingPrecision.has_value(); }
    bool mathEnabled() const { return mathEnabled_; }
    const NumberFormat& settings() const { return settings_; }

    // Largest number of decimal places accepted (the settings allow 0 to 7).
    static constexpr int maxPrecision = 1000;

private:
    NumberFormat settings_;
    bool mathEnabled_ = false;
    decimal::Decimal number_;
};

} // namespace vornal::worker
