#include "vornal/worker/NumberFormatter.h"

#include "vornal/config/Config.h"

namespace vornal::worker {

namespace {

bool isTrimmed(QChar c) {
    return c.unicode() <= u' ';
}

// The first minus that is a sign. The minus of an exponent ("1.5E-3": E right after a digit or point)
// is not one; taking it for the sign would turn 0.0015 into -3.
qsizetype signPosition(const QString& text) {
    for (qsizetype i = text.indexOf(u'-'); i >= 0; i = text.indexOf(u'-', i + 1)) {
        const bool exponentMinus = i >= 2 && (text[i - 1] == u'E' || text[i - 1] == u'e') &&
                                   ((text[i - 2] >= u'0' && text[i - 2] <= u'9') || text[i - 2] == u'.');
        if (!exponentMinus)
            return i;
    }
    return -1;
}

} // namespace

NumberFormatter::NumberFormatter(NumberFormat settings) : settings_(std::move(settings)) {
    if (settings_.roundingPrecision &&
        (*settings_.roundingPrecision < 0 || *settings_.roundingPrecision > maxPrecision))
        throw decimal::ProcessingError(QStringLiteral("Cannot round to %1 decimal places: use 0 to %2.")
                                           .arg(*settings_.roundingPrecision)
                                           .arg(maxPrecision));
    mathEnabled_ = settings_.mathOperation != NumberFormat::MathOperation::NONE && settings_.mathOperand;
    if (mathEnabled_ && settings_.mathOperation == NumberFormat::MathOperation::DIVIDE &&
        !settings_.roundingPrecision)
        throw decimal::ProcessingError(QStringLiteral(
            "Dividing the value needs a number of decimal places for the quotient: set the decimal places."));
}

NumberFormatter NumberFormatter::fromConfig(const config::Config& config) {
    using MathOperation = config::Config::MathOperation;
    NumberFormat f;
    if (config.roundingEnabled()) {
        f.roundingPrecision = config.getDecimalPlacesAsInt();
        f.roundingMode = config.getRoundingMethod().getRoundingMode();
    }
    if (config.mathOperationEnabled()) {
        f.mathOperation = config.getMathOperation() == MathOperation::DIVIDE
                              ? NumberFormat::MathOperation::DIVIDE
                              : NumberFormat::MathOperation::MULTIPLY;
        QString error;
        f.mathOperand = decimal::Decimal::parse(config.getMathOperand(), &error);
        if (!f.mathOperand)
            throw decimal::ProcessingError(QStringLiteral("The math operand ") + error);
    }
    f.decimalSeparator = config.getDecimalSeparator().getCharacter();
    return NumberFormatter(std::move(f));
}

QString NumberFormatter::format(QStringView value) {
    QString text = value.toString();
    text.replace(u',', u'.');
    // Everything before the first minus is dropped: "G-12.5" is -12.5, "12.5-" a lone minus.
    if (const qsizetype minus = signPosition(text); minus >= 0) {
        qsizetype begin = minus + 1;
        qsizetype end = text.size();
        while (begin < end && isTrimmed(text[begin]))
            ++begin;
        while (end > begin && isTrimmed(text[end - 1]))
            --end;
        text = QLatin1Char('-') + text.mid(begin, end - begin);
    }
    QString error;
    std::optional<decimal::Decimal> parsed = decimal::Decimal::parse(text, &error);
    if (!parsed) {
        if (text == value)
            throw decimal::ProcessingError(QStringLiteral("The value ") + error);
        throw decimal::ProcessingError(
            QStringLiteral("The value %1 cannot be formatted: %2").arg(decimal::quotedValue(value), error));
    }
    decimal::Decimal number = *std::move(parsed);

    const std::optional<int>& precision = settings_.roundingPrecision;
    if (mathEnabled_) {
        switch (settings_.mathOperation) {
        case NumberFormat::MathOperation::MULTIPLY:
            number = number.multiply(*settings_.mathOperand);
            break;
        case NumberFormat::MathOperation::DIVIDE:
            if (settings_.mathOperand->isZero())
                throw decimal::ProcessingError(
                    QStringLiteral("Cannot divide the value %1 by the math operand %2: "
                                   "division by zero. Set an operand other than zero.")
                        .arg(decimal::quotedValue(value),
                             decimal::quotedValue(settings_.mathOperand->toPlainString())));
            number = number.divide(*settings_.mathOperand, *precision, settings_.roundingMode);
            break;
        case NumberFormat::MathOperation::NONE:
            break;
        }
    }

    // Decimals: limited to the configured places, never padded beyond the value's own, and none
    // for a value written with an exponent that leaves no fraction ("1.5E3" prints "1500").
    const int scale = number.scale();
    const int decimals = (precision && scale > 0 && scale > *precision) ? *precision : std::max(scale, 0);
    number = number.setScale(decimals, settings_.roundingMode);
    number_ = number;
    return number.toPlainString(settings_.decimalSeparator);
}

} // namespace vornal::worker
