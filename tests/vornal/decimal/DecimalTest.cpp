#include "vornal/decimal/Decimal.h"

#include "vornal/config/ConfigHelper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <regex>

using vornal::decimal::Decimal;
using vornal::decimal::ProcessingError;
using vornal::decimal::RoundingMode;

namespace {

std::string plain(const Decimal& d) {
    return d.toPlainString().toStdString();
}

Decimal dec(const char* text) {
    return Decimal::fromString(QString::fromLatin1(text));
}

constexpr RoundingMode allModes[] = {RoundingMode::UP,       RoundingMode::DOWN,    RoundingMode::CEILING,
                                     RoundingMode::FLOOR,    RoundingMode::HALF_UP, RoundingMode::HALF_DOWN,
                                     RoundingMode::HALF_EVEN};

} // namespace

TEST(Decimal, ParsesTheGrammarAndKeepsTheWrittenScale) {
    struct Case {
        const char* text;
        const char* plain;
        int scale;
    };
    const Case cases[] = {
        {"0", "0", 0},           {"12.50", "12.50", 2},   {"0012.500", "12.500", 3},
        {"+7", "7", 0},          {"-0.35", "-0.35", 2},   {".5", "0.5", 1},
        {"5.", "5", 0},          {"1.5E3", "1500", -2},   {"1.5e+3", "1500", -2},
        {"1.5E-3", "0.0015", 4}, {"12.50E1", "125.0", 1}, {"-0E5", "0", -5},
        {"1E0003", "1000", -3},  {"-0.00", "0.00", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<Decimal> d = Decimal::parse(QString::fromLatin1(c.text));
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(plain(*d), c.plain);
        EXPECT_EQ(d->scale(), c.scale);
    }
}

TEST(Decimal, RefusesEverythingElseWithAMessageThatQuotesTheText) {
    for (const char* text : {"", "-", "+", ".", "-.", "1.2.3", "1,5", " 1", "1 ", "1e", "1E+", "E5", "0x10",
                             "1.5E3.2", "--1", "+-1", "12.5-", "abc", "1\r"}) {
        SCOPED_TRACE(text);
        QString error;
        EXPECT_FALSE(Decimal::parse(QString::fromLatin1(text), &error).has_value());
        EXPECT_TRUE(error.contains(QStringLiteral("is not a decimal number"))) << error.toStdString();
    }
    QString error;
    Decimal::parse(u"1\r", &error);
    EXPECT_TRUE(error.contains(QStringLiteral("<13>"))) << error.toStdString();
    EXPECT_THROW(Decimal::fromString(u"12kg"), ProcessingError);
}

// The grammar against a regular expression of it (exponents up to 1000), on random short texts of the
// characters that matter.
TEST(Decimal, AcceptsExactlyTheGrammarOnRandomTexts) {
    const std::regex grammar(R"([+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?(0*[0-9]{1,3}|0*1000))?)");
    const std::string alphabet = "0123456789..+-eE ,x";
    std::mt19937 random(42);
    for (int i = 0; i < 50000; ++i) {
        std::string text(random() % 7, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        ASSERT_EQ(Decimal::parse(QString::fromStdString(text)).has_value(), std::regex_match(text, grammar))
            << '"' << text << '"';
    }
}

TEST(Decimal, HugeExponentsAreRefusedAtOnceAndLongValuesStayExact) {
    const auto start = std::chrono::steady_clock::now();
    for (const char* text :
         {"1E999999999", "1E-999999999", "1E99999999999999999999999", "1E1001", "9E9999", "-1.5e-1001"}) {
        QString error;
        EXPECT_FALSE(Decimal::parse(QString::fromLatin1(text), &error).has_value()) << text;
        EXPECT_TRUE(error.contains(QStringLiteral("exponent"))) << error.toStdString();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(plain(dec("1E1000")).size(), 1001u);
    EXPECT_EQ(dec("1E-1000").scale(), 1000);

    const Decimal big = dec("1234567890123456789012345678901234567890.123456789");
    EXPECT_EQ(plain(big), "1234567890123456789012345678901234567890.123456789");
    EXPECT_EQ(plain(big.multiply(dec("1000"))), "1234567890123456789012345678901234567890123.456789000");
    EXPECT_EQ(plain(big.setScale(2, RoundingMode::HALF_UP)), "1234567890123456789012345678901234567890.12");
    EXPECT_EQ(plain(big.divide(dec("3"), 3, RoundingMode::DOWN)),
              "411522630041152263004115226300411522630.041");
}

TEST(Decimal, ValuesAndSettingsAcceptTheSameExponents) {
    using vornal::config::ConfigHelper;
    for (const char* text : {"1E1000", "1e-1000", "2.5E+1000", "1E1001", "1E-1001", "9E9999", "1E0001000"}) {
        const QString t = QString::fromLatin1(text);
        EXPECT_EQ(Decimal::parse(t).has_value(), ConfigHelper::MathOperand::valid(t)) << text;
        EXPECT_EQ(Decimal::parse(t).has_value(), ConfigHelper::IgnoreDifference::valid(t)) << text;
    }
}

TEST(Decimal, ComparesByValueAndSubtractsExactly) {
    EXPECT_TRUE(dec("2.50").sameValue(dec("2.5")));
    EXPECT_TRUE(dec("0").sameValue(dec("-0.000")));
    EXPECT_TRUE(dec("1.5E3").sameValue(dec("1500.00")));
    EXPECT_LT(dec("-3"), dec("-2.99"));
    EXPECT_GT(dec("1E-1000"), dec("0"));
    EXPECT_LT(dec("99999999999999999999999999999999999999.9"), dec("1E38"));
    EXPECT_EQ(plain(dec("12.04").subtract(dec("12.1"))), "-0.06");
    EXPECT_EQ(plain(dec("12.04").subtract(dec("12.1")).abs()), "0.06");
    EXPECT_EQ(plain(dec("1.5E3").add(dec("0.25"))), "1500.25");
    EXPECT_EQ(plain(dec("2.5").negate()), "-2.5");
}

// Rounding one decimal to an integer, every mode on positive and negative values and ties.
TEST(Decimal, EveryRoundingModeOnTiesAndNonTies) {
    struct Row {
        const char* value;
        // UP, DOWN, CEILING, FLOOR, HALF_UP, HALF_DOWN, HALF_EVEN
        const char* expected[7];
    };
    const Row rows[] = {
        {"5.5", {"6", "5", "6", "5", "6", "5", "6"}},
        {"2.5", {"3", "2", "3", "2", "3", "2", "2"}},
        {"1.6", {"2", "1", "2", "1", "2", "2", "2"}},
        {"1.1", {"2", "1", "2", "1", "1", "1", "1"}},
        {"1.0", {"1", "1", "1", "1", "1", "1", "1"}},
        {"0.5", {"1", "0", "1", "0", "1", "0", "0"}},
        {"-0.5", {"-1", "0", "0", "-1", "-1", "0", "0"}},
        {"-1.0", {"-1", "-1", "-1", "-1", "-1", "-1", "-1"}},
        {"-1.1", {"-2", "-1", "-1", "-2", "-1", "-1", "-1"}},
        {"-1.6", {"-2", "-1", "-1", "-2", "-2", "-2", "-2"}},
        {"-2.5", {"-3", "-2", "-2", "-3", "-3", "-2", "-2"}},
        {"-5.5", {"-6", "-5", "-5", "-6", "-6", "-5", "-6"}},
    };
    for (const Row& row : rows) {
        for (int m = 0; m < 7; ++m) {
            SCOPED_TRACE(std::string(row.value) + " " + vornal::decimal::roundingModeName(allModes[m]));
            EXPECT_EQ(plain(dec(row.value).setScale(0, allModes[m])), row.expected[m]);
        }
    }
    // A tie is only a tie when every dropped digit says so.
    EXPECT_EQ(plain(dec("0.125").setScale(2, RoundingMode::HALF_DOWN)), "0.12");
    EXPECT_EQ(plain(dec("0.1250001").setScale(2, RoundingMode::HALF_DOWN)), "0.13");
    EXPECT_EQ(plain(dec("0.125").setScale(2, RoundingMode::HALF_EVEN)), "0.12");
    EXPECT_EQ(plain(dec("0.135").setScale(2, RoundingMode::HALF_EVEN)), "0.14");
    EXPECT_EQ(plain(dec("-0.125").setScale(2, RoundingMode::HALF_EVEN)), "-0.12");
    EXPECT_EQ(plain(dec("0.12499999").setScale(2, RoundingMode::HALF_UP)), "0.12");
    EXPECT_EQ(plain(dec("1.5E3").setScale(2, RoundingMode::UP)), "1500.00");
    EXPECT_EQ(plain(dec("15E-1").setScale(-1, RoundingMode::HALF_UP)), "0");
}

TEST(Decimal, DivisionIsRoundedOnceFromTheExactQuotient) {
    EXPECT_EQ(plain(dec("10").divide(dec("3"), 2, RoundingMode::HALF_EVEN)), "3.33");
    EXPECT_EQ(plain(dec("10").divide(dec("4"), 2, RoundingMode::HALF_EVEN)), "2.50");
    EXPECT_EQ(plain(dec("-10").divide(dec("4"), 0, RoundingMode::HALF_EVEN)), "-2");
    EXPECT_EQ(plain(dec("-10").divide(dec("4"), 0, RoundingMode::HALF_UP)), "-3");
    EXPECT_EQ(plain(dec("1").divide(dec("-3"), 3, RoundingMode::CEILING)), "-0.333");
    EXPECT_EQ(plain(dec("1").divide(dec("-3"), 3, RoundingMode::FLOOR)), "-0.334");
    EXPECT_EQ(plain(dec("1.5E3").divide(dec("0.25"), 1, RoundingMode::UP)), "6000.0");
    // 0.4449 would become a tie after a first rounding to 3 places; rounded once it stays below.
    EXPECT_EQ(plain(dec("0.8898").divide(dec("2"), 2, RoundingMode::HALF_UP)), "0.44");
    for (const char* zero : {"0", "0.0", "-0.000", "0E5"}) {
        try {
            dec("12.5").divide(dec(zero), 2, RoundingMode::HALF_UP);
            ADD_FAILURE() << "no failure dividing by " << zero;
        } catch (const ProcessingError& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("division by zero"))) << e.what();
        }
    }
}

// Division and set-scale against an independent reference: the exact rational quotient, floored, with
// the rounding decided from the fraction that floor left over.
TEST(Decimal, AgreesWithExactRationalsOnRandomCases) {
    std::mt19937_64 random(20261207);
    std::uniform_int_distribution<int> digits(1, 25);
    std::uniform_int_distribution<int> scales(-4, 8);
    std::uniform_int_distribution<int> digit(0, 9);
    auto randomDecimal = [&] {
        std::string s = random() % 2 ? "-" : "";
        const int n = digits(random);
        for (int i = 0; i < n; ++i)
            s += char('0' + digit(random));
        return Decimal(mpz_class(s, 10), scales(random));
    };
    auto exact = [](const Decimal& d) {
        mpq_class q(d.unscaled());
        mpz_class p;
        mpz_ui_pow_ui(p.get_mpz_t(), 10, static_cast<unsigned long>(std::abs(d.scale())));
        if (d.scale() >= 0)
            q /= p;
        else
            q *= p;
        return q;
    };
    auto reference = [](const mpq_class& value, int scale, RoundingMode mode) {
        mpz_class p;
        mpz_ui_pow_ui(p.get_mpz_t(), 10, static_cast<unsigned long>(scale));
        const mpq_class scaled = value * p;
        mpz_class floor;
        mpz_fdiv_q(floor.get_mpz_t(), scaled.get_num_mpz_t(), scaled.get_den_mpz_t());
        const mpq_class frac = scaled - floor;
        if (frac == 0)
            return floor;
        const mpz_class ceil = floor + 1;
        const bool positive = scaled > 0;
        const int half = cmp(frac, mpq_class(1, 2));
        switch (mode) {
        case RoundingMode::UP:
            return positive ? ceil : floor;
        case RoundingMode::DOWN:
            return positive ? floor : ceil;
        case RoundingMode::CEILING:
            return ceil;
        case RoundingMode::FLOOR:
            return floor;
        case RoundingMode::HALF_UP:
            return half > 0 || (half == 0 && positive) ? ceil : floor;
        case RoundingMode::HALF_DOWN:
            return half > 0 || (half == 0 && !positive) ? ceil : floor;
        case RoundingMode::HALF_EVEN:
            return half > 0 || (half == 0 && mpz_odd_p(floor.get_mpz_t())) ? ceil : floor;
        }
        return floor;
    };
    for (int i = 0; i < 20000; ++i) {
        const Decimal a = randomDecimal();
        Decimal b = randomDecimal();
        if (b.isZero())
            b = Decimal(7);
        const RoundingMode mode = allModes[i % 7];
        const int scale = int(random() % 8);
        const Decimal q = a.divide(b, scale, mode);
        ASSERT_EQ(q.scale(), scale);
        ASSERT_EQ(q.unscaled(), reference(exact(a) / exact(b), scale, mode))
            << plain(a) << " / " << plain(b) << " " << vornal::decimal::roundingModeName(mode);
        const Decimal s = a.setScale(scale, mode);
        ASSERT_EQ(s.unscaled(), reference(exact(a), scale, mode))
            << plain(a) << " to " << scale << " " << vornal::decimal::roundingModeName(mode);
    }
}
