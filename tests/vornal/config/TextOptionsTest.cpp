// Validity rules of the free-text options: what the settings load accepts as typed.
#include "vornal/config/ConfigHelper.h"

#include <gtest/gtest.h>

namespace {

using CH = vornal::config::ConfigHelper;

template <class Holder> void expectValidity(const QStringList& good, const QStringList& bad) {
    for (const QString& t : good)
        EXPECT_TRUE(Holder::valid(t)) << "should accept '" << t.toStdString() << "'";
    for (const QString& t : bad)
        EXPECT_FALSE(Holder::valid(t)) << "should refuse '" << t.toStdString() << "'";
}

TEST(TextOptions, Defaults) {
    EXPECT_EQ(CH::Delay::getDefault(), "20");
    for (const QString& d : {CH::MathOperand::getDefault(), CH::DecimalPlaces::getDefault(),
                             CH::EditNumCharacters::getDefault(), CH::RemoveCharacters::getDefault(),
                             CH::EveryXValues::getDefault(), CH::IgnoreDifference::getDefault(),
                             CH::IgnoreTimeLimit::getDefault(), CH::CustomRegEx::getDefault()}) {
        EXPECT_TRUE(d.isEmpty());
        EXPECT_FALSE(d.isNull()); // stored as an empty text, not as a missing one
    }
    // Every default passes its own rule.
    EXPECT_TRUE(CH::Delay::valid(CH::Delay::getDefault()));
    EXPECT_TRUE(CH::CustomRegEx::valid(CH::CustomRegEx::getDefault()));
}

TEST(TextOptions, WholeNumberRanges) {
    expectValidity<CH::DecimalPlaces>({"", "0", "7", "+3", "03"},
                                      {"8", "-1", "2.5", " 2", "2 ", "x", "+", "0x2"});
    expectValidity<CH::EveryXValues>({"", "2", "99"}, {"1", "100", "0", "-5"});
    expectValidity<CH::EditNumCharacters>({"", "1", "99"}, {"0", "100", "1e1"});
    expectValidity<CH::Delay>({"", "0", "1000"}, {"1001", "-1", "20ms"});
    expectValidity<CH::IgnoreTimeLimit>({"", "1", "2147483647"},
                                        {"0", "-1", "2147483648", "99999999999999999999"});
}

TEST(TextOptions, DecimalNumbers) {
    expectValidity<CH::MathOperand>(
        {"", "0.0", "-2.5", "1000", "+1.5", ".5", "5.", "1E3", "2.5e-2", "00"},
        {"0", "abc", "0,5", "1,000", "1.2.3", ".", "-", "1E", "E5", " 1", "1e99999"});
    expectValidity<CH::IgnoreDifference>({"", "0.001", "1", "5E-3", "+0.1"},
                                         {"0", "0.0", "-0.001", "0,5", "0E7", "-1", "abc"});
}

TEST(TextOptions, RemoveCharactersLatin1Only) {
    expectValidity<CH::RemoveCharacters>(
        {"", "kg", QString::fromUtf8("ÿ"), QString(QChar(0)), QString::fromUtf8("µ°")},
        {QString::fromUtf8("€"), QString::fromUtf8("ab€"), QString::fromUtf8("😀") /* surrogate pair */});
}

TEST(TextOptions, CustomExpressionNeedsAGroupBeforeItsEnd) {
    expectValidity<CH::CustomRegEx>({"", "(\\d+)", "Wg,(\\d+)", "(?:a)(b)", "\\((\\d+)\\)", "(a)b"},
                                    {"([0-9]+", "[0-9]+", "\\d+", "\\(\\d+\\)", "a)(b", "(a))("});
    // The rule looks at the text, not at the syntax: a ")" inside a class before the group still counts.
    EXPECT_FALSE(CH::CustomRegEx::valid("[)](a)"));
}

} // namespace
