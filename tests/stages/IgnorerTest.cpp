#include "vornal/worker/Ignorer.h"
#include "vornal/worker/DataLine.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vornal::decimal::Decimal;
using vornal::worker::DataLine;
using vornal::worker::Ignorer;

namespace {

const DataLine::Instant t0 =
    DataLine::Instant(std::chrono::sys_days(std::chrono::year(2026) / 12 / 7).time_since_epoch());

DataLine line(const char* value, std::chrono::nanoseconds at = 0ns, qint32 count = 1) {
    return DataLine(QStringLiteral("ST,GS,") + QString::fromLatin1(value) + QStringLiteral(" kg\r"),
                    QString::fromLatin1(value), count, t0 + at, false);
}

// Runs the lines through the ignorer; the values that would be typed, "-" for suppressed ones.
std::vector<std::string> typed(Ignorer& ignorer, std::vector<DataLine> lines) {
    std::vector<std::string> out;
    for (DataLine& l : lines) {
        const bool had = l.hasValue();
        ignorer.process(l);
        out.push_back(l.hasValue() ? l.getProcessedData().toStdString() : (had ? "-" : "none"));
    }
    return out;
}

using V = std::vector<std::string>;

} // namespace

TEST(Ignorer, WithoutLimitsEveryRepeatIsSuppressed) {
    Ignorer ignorer(0, Decimal());
    EXPECT_EQ(typed(ignorer, {line("12.50"), line("12.50", 1h), line("12.5", 2h), line("12.5", 3h),
                              line("", 4h), line("12.5", 5h), line("13", 6h)}),
              (V{"12.50", "-", "12.5", "-", "none", "-", "13"}));
    // A suppressed line keeps its raw text and number.
    DataLine again = line("13", 7h, 8);
    ignorer.process(again);
    EXPECT_FALSE(again.hasValue());
    EXPECT_EQ(again.getCount(), 8);
    EXPECT_EQ(again.getRawData(), QStringLiteral("ST,GS,13 kg<13>"));
}

TEST(Ignorer, TimeLimitIsInclusiveInWholeMilliseconds) {
    Ignorer ignorer(1000, Decimal());
    EXPECT_EQ(typed(ignorer, {line("5"), line("5", 1000ms), line("5", 2001ms), line("5", 3001ms + 999us),
                              line("5", 4003ms)}),
              (V{"5", "-", "5", "-", "5"}));
    // The reference moved with every valued line, so 1001 ms after the suppressed one is typed.
}

TEST(Ignorer, ToleranceFollowsTheDriftingReference) {
    Ignorer ignorer(0, Decimal::fromString(u"0.05"));
    EXPECT_EQ(typed(ignorer, {line("12.04"), line("12.00"), line("12.10"), line("12.14"), line("12.19"),
                              line("12.25")}),
              (V{"12.04", "-", "12.10", "-", "-", "12.25"}));
    // Formatted with a comma separator, and exactly on the boundary.
    Ignorer comma(0, Decimal::fromString(u"0.05"));
    EXPECT_EQ(typed(comma, {line("1,00"), line("1,05"), line("1,1"), line("-1,1")}),
              (V{"1,00", "-", "-", "-1,1"}));
}

TEST(Ignorer, ComesFromTheSettingsTexts) {
    Ignorer text = Ignorer::fromSettings(QStringLiteral("1000"), QStringLiteral("0.5"), true);
    EXPECT_TRUE(text.difference().isZero());
    EXPECT_EQ(text.timeLimit(), 1000);
    EXPECT_EQ(typed(text, {line("4711"), line("4711.0"), line("4711")}), (V{"4711", "4711.0", "4711"}));

    Ignorer bad = Ignorer::fromSettings(QStringLiteral("soon"), QStringLiteral("0,5"), false);
    EXPECT_EQ(bad.timeLimit(), 0);
    EXPECT_TRUE(bad.difference().isZero());
    for (const char* limit : {"", " 250", "250 ", "2.5", "2147483648", "-"})
        EXPECT_EQ(Ignorer::fromSettings(QString::fromLatin1(limit), QString(), false).timeLimit(), 0)
            << limit;
    EXPECT_EQ(Ignorer::fromSettings(QStringLiteral("+2147483647"), QString(), false).timeLimit(), 2147483647);
    Ignorer number = Ignorer::fromSettings(QStringLiteral("250"), QStringLiteral("0.5"), false);
    EXPECT_EQ(number.difference().toPlainString(), QStringLiteral("0.5"));
}

TEST(DataLine, ShowsControlAndNonAsciiCharactersAsCodes) {
    EXPECT_EQ(DataLine::transformControlChars(u"12.5 kg\r\n"), QStringLiteral("12.5 kg<13><10>"));
    EXPECT_EQ(DataLine::transformControlChars(QStringLiteral("\u00B0C\u007F~ \x01")),
              QStringLiteral("<176>C<127>~ <1>"));
    EXPECT_EQ(DataLine::transformControlChars(QString(QChar(0)) + QChar(0xFF)), QStringLiteral("<0><255>"));
    EXPECT_EQ(DataLine::transformControlChars(QString::fromUcs4(U"\U0001F600")), QStringLiteral("<128512>"));
    const QByteArray bytes("\xB0\x00\r", 3);
    EXPECT_EQ(DataLine::transformControlChars(DataLine::textOfBytes(bytes)), QStringLiteral("<176><0><13>"));
}

TEST(DataLine, DateTimeIsTheInstantInLocalTime) {
    const DataLine a(QStringLiteral("+12.5\r"), QStringLiteral("12.5"), 3, t0 + 1500ms, true);
    EXPECT_EQ(a.getDateTime().timeSpec(), Qt::LocalTime);
    EXPECT_EQ(
        a.getDateTime().toMSecsSinceEpoch(),
        std::chrono::duration_cast<std::chrono::milliseconds>((t0 + 1500ms).time_since_epoch()).count());
}
