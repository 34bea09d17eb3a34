#include "vornal/worker/NumberFormatter.h"

#include <gtest/gtest.h>

using vornal::decimal::Decimal;
using vornal::decimal::ProcessingError;
using vornal::decimal::RoundingMode;
using vornal::worker::NumberFormat;
using vornal::worker::NumberFormatter;
using Op = NumberFormat::MathOperation;

namespace {

NumberFormat places(int precision, RoundingMode mode = RoundingMode::HALF_UP) {
    NumberFormat f;
    f.roundingPrecision = precision;
    f.roundingMode = mode;
    return f;
}

NumberFormat math(NumberFormat f, Op op, const char* operand) {
    f.mathOperation = op;
    f.mathOperand = Decimal::fromString(QString::fromLatin1(operand));
    return f;
}

std::string format(const NumberFormat& settings, const char* value) {
    NumberFormatter formatter(settings);
    return formatter.format(QString::fromLatin1(value)).toStdString();
}

// The message of the failure format() raises, or "" when it succeeds.
std::string failure(const NumberFormat& settings, const char* value) {
    try {
        NumberFormatter(settings).format(QString::fromLatin1(value));
    } catch (const ProcessingError& e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(NumberFormatter, SignSeparatorAndScaleWithoutRounding) {
    const NumberFormat plain;
    NumberFormat comma;
    comma.decimalSeparator = u',';
    struct Case {
        const NumberFormat* settings;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {&plain, "0012.500", "12.500"}, // leading zeros dropped, scale kept
        {&plain, "1,5", "1.5"},
        {&comma, "1.5", "1,5"},
        {&comma, "+12.345", "12,345"},
        {&plain, "N-0.35", "-0.35"}, // everything up to the first minus dropped
        {&plain, "G-12.5", "-12.5"},
        {&plain, "-\t12.5 ", "-12.5"},
        {&plain, "+-5", "-5"},
        {&plain, "-0.00", "0.00"},
        {&plain, "1.5E3", "1500"},    // an exponent never shows, nor do decimals it removed
        {&plain, "1.5E-3", "0.0015"}, // the minus of an exponent is no sign
        {&plain, "-1.5E-3", "-0.0015"},
        {&plain, "G-2e-1", "-0.2"},
        {&plain, "1.E-1", "0.1"},
        {&plain, "12.50E1", "125.0"},
        {&plain, ".5", "0.5"},
        {&plain, "1234567890123456789012345678901234567890.5", "1234567890123456789012345678901234567890.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(format(*c.settings, c.value), c.expected);
    }
}

TEST(NumberFormatter, DecimalPlacesLimitButNeverPad) {
    EXPECT_EQ(format(places(2), "12.3"), "12.3");
    EXPECT_EQ(format(places(2), "12"), "12");
    EXPECT_EQ(format(places(2), "12.345"), "12.35");
    EXPECT_EQ(format(places(2), "12.300"), "12.30");
    EXPECT_EQ(format(places(2), "12.34"), "12.34");
    EXPECT_EQ(format(places(0, RoundingMode::HALF_UP), "7.5"), "8");
    EXPECT_EQ(format(places(0, RoundingMode::HALF_EVEN), "6.5"), "6");
    EXPECT_EQ(format(places(0, RoundingMode::HALF_DOWN), "6.5"), "6");
    EXPECT_EQ(format(places(1, RoundingMode::HALF_EVEN), "0.25"), "0.2");
    EXPECT_EQ(format(places(1, RoundingMode::HALF_EVEN), "0.35"), "0.4");
    EXPECT_EQ(format(places(2, RoundingMode::FLOOR), "-12.341"), "-12.35");
    EXPECT_EQ(format(places(2), "1.5E3"), "1500");
    EXPECT_EQ(format(places(2), "1.5E-3"), "0.00");
    EXPECT_EQ(format(places(7), "1.23456789"), "1.2345679");
    NumberFormat comma = places(1);
    comma.decimalSeparator = u',';
    EXPECT_EQ(format(comma, "1,25"), "1,3");
}

// A negative value that rounds to zero is typed as zero with the configured places, without a minus.
TEST(NumberFormatter, NegativeValuesRoundingToZeroPrintWithoutMinus) {
    EXPECT_EQ(format(places(2), "-0.004"), "0.00");
    EXPECT_EQ(format(places(0), "-0.4"), "0");
    EXPECT_EQ(format(places(0, RoundingMode::CEILING), "-0.9"), "0");
    EXPECT_EQ(format(places(0, RoundingMode::FLOOR), "-0.1"), "-1");
    EXPECT_EQ(format(places(1, RoundingMode::HALF_UP), "-0.05"), "-0.1");
    EXPECT_EQ(format(places(1, RoundingMode::HALF_DOWN), "-0.05"), "0.0");
    EXPECT_EQ(format(math(places(2), Op::DIVIDE, "1000"), "-1"), "0.00");
}

TEST(NumberFormatter, MultiplyAndDivide) {
    EXPECT_EQ(format(math({}, Op::MULTIPLY, "1000"), "2.5"), "2500.0");
    EXPECT_EQ(format(math(places(0), Op::MULTIPLY, "1000"), "2.5"), "2500");
    EXPECT_EQ(format(math(places(2, RoundingMode::HALF_EVEN), Op::MULTIPLY, "1.5"), "1.25"), "1.88");
    EXPECT_EQ(format(math({}, Op::MULTIPLY, "-0.001"), "G-12.5"), "0.0125");
    EXPECT_EQ(format(math({}, Op::MULTIPLY, "1E3"), "2.5"), "2500");
    EXPECT_EQ(format(math(places(2, RoundingMode::HALF_EVEN), Op::DIVIDE, "3"), "10"), "3.33");
    EXPECT_EQ(format(math(places(2), Op::DIVIDE, "4"), "10"), "2.50");
    EXPECT_EQ(format(math(places(0, RoundingMode::HALF_EVEN), Op::DIVIDE, "4"), "10"), "2");
    EXPECT_EQ(format(math(places(3, RoundingMode::UP), Op::DIVIDE, "-7"), "1,0"), "-0.143");
    // Math off without an operand.
    NumberFormat noOperand;
    noOperand.mathOperation = Op::MULTIPLY;
    EXPECT_FALSE(NumberFormatter(noOperand).mathEnabled());
    EXPECT_EQ(format(noOperand, "2.5"), "2.5");
}

TEST(NumberFormatter, FailuresNameTheValueAndTheReason) {
    const std::string notNumber = failure({}, "1.234,5");
    EXPECT_NE(notNumber.find("\"1.234,5\""), std::string::npos) << notNumber;
    EXPECT_NE(notNumber.find("not a decimal number"), std::string::npos) << notNumber;
    EXPECT_NE(failure({}, "12.5-"), "");
    EXPECT_NE(failure({}, "12kg"), "");
    EXPECT_NE(failure({}, ""), "");
    EXPECT_NE(failure({}, "1E999999999").find("exponent"), std::string::npos);
    for (const char* zero : {"0.0", "0", "-0.00"}) {
        const std::string message = failure(math(places(2), Op::DIVIDE, zero), "12.5");
        EXPECT_NE(message.find("division by zero"), std::string::npos) << zero << ": " << message;
    }
    // The same formatter goes on after a failure.
    NumberFormatter formatter(places(1));
    EXPECT_THROW(formatter.format(u"x"), ProcessingError);
    EXPECT_EQ(formatter.format(u"1.25").toStdString(), "1.3");
    EXPECT_EQ(formatter.number().toPlainString().toStdString(), "1.3");
}

TEST(NumberFormatter, RefusesSettingsNoConnectionCanUse) {
    NumberFormat divideWithoutPlaces;
    divideWithoutPlaces.mathOperation = Op::DIVIDE;
    divideWithoutPlaces.mathOperand = Decimal(4);
    EXPECT_THROW(NumberFormatter{divideWithoutPlaces}, ProcessingError);
    EXPECT_THROW(NumberFormatter{places(-1)}, ProcessingError);
    EXPECT_NO_THROW(NumberFormatter{places(0)});
}
