// The event log: which part of a data line is shown as typed, styles, appends from other threads,
// the line limit.
#include "GuiTestMain.h"

#include "EventLog.h"

#include <QTest>
#include <QTextBlock>

#include <thread>

namespace vornal::test {
namespace {

using worker::DataLine;

struct Piece {
    QString text;
    QString style;
};

// The last data line of the log as (text, style name) pieces, the time stamp left out.
QList<Piece> lastLine(const EventLog& log) {
    const QStringList names = {QStringLiteral("typed"), QStringLiteral("ignored"), QStringLiteral("unknown"),
                               QStringLiteral("important"), QStringLiteral("regular")};
    QTextBlock b = log.document()->lastBlock();
    while (b.isValid() && b.text().isEmpty())
        b = b.previous();
    QList<Piece> out;
    for (auto it = b.begin(); !it.atEnd(); ++it) {
        const QTextCharFormat f = it.fragment().charFormat();
        QString style = QStringLiteral("?");
        for (const QString& n : names) {
            const QTextCharFormat s = log.style(n);
            if (s.foreground() == f.foreground() && s.fontItalic() == f.fontItalic() &&
                s.fontWeight() == f.fontWeight()) {
                style = n;
                break;
            }
        }
        out.append({it.fragment().text(), style});
    }
    if (!out.isEmpty())
        out.first().text = out.first().text.mid(9); // "HH:mm:ss "
    return out;
}

DataLine line(const char* raw, const char* value) {
    return DataLine(QString::fromLatin1(raw), QString::fromLatin1(value), 1, DataLine::now(), false);
}

QString describe(const QList<Piece>& pieces) {
    QString s;
    for (const auto& p : pieces)
        s += u'[' + p.style + u':' + p.text + u']';
    return s;
}

class EventLogTest : public ::testing::Test {
protected:
    EventLog log;
};

TEST_F(EventLogTest, DataLinesShowTheValueAtItsPlace) {
    struct Case {
        const char* raw;
        const char* value;
        const char* expected;
    } cases[] = {
        // Prefix and unit are ignored, the value typed.
        {"ST,GS,+  12.345 kg\r\n", "12.345",
         "[regular:][ignored:ST,GS,+  ][typed:12.345][ignored: kg<13><10>]"},
        // The processing turned the point into a comma: found by the point.
        {"ST,GS,+  12.345 kg\r", "12,345", "[regular:][ignored:ST,GS,+  ][typed:12.345][ignored: kg<13>]"},
        // ...and the other way round.
        {"N  0,75 g\r", "0.75", "[regular:][ignored:N  ][typed:0,75][ignored: g<13>]"},
        // The value starts the line.
        {"4006381333931\r\n", "4006381333931", "[regular:][typed:4006381333931][ignored:<13><10>]"},
        // A control character before the value: unknown where it really was.
        {"\x02"
         "12.5\r",
         "12.5", "[unknown:<2>12.5<13>]"},
        // Processed beyond recognition (rounded): unknown.
        {"W 12.345\r", "12.35", "[unknown:W 12.345<13>]"},
        // No value, or a suppressed duplicate: the whole line ignored.
        {"ST,GS,+  12.345 kg\r", "", "[ignored:ST,GS,+  12.345 kg<13>]"},
    };
    for (const auto& c : cases) {
        log.appendDataLine(line(c.raw, c.value));
        EXPECT_EQ(describe(lastLine(log)), QString::fromLatin1(c.expected)) << c.raw;
    }
}

TEST_F(EventLogTest, StylesAreDistinctAndMessagesStamped) {
    const QStringList names = {QStringLiteral("regular"), QStringLiteral("unknown"),
                               QStringLiteral("important"), QStringLiteral("typed"),
                               QStringLiteral("ignored")};
    for (int i = 0; i < names.size(); ++i)
        for (int j = i + 1; j < names.size(); ++j)
            EXPECT_NE(log.style(names[i]), log.style(names[j]))
                << names[i].toStdString() << names[j].toStdString();
    log.logEvent(QStringLiteral("plain"));
    log.logImportantEvent(QStringLiteral("alarm"));
    const QStringList lines = log.toPlainText().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    static const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
    EXPECT_TRUE(stamp.match(lines[0]).hasMatch());
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" plain")));
    EXPECT_EQ(lastLine(log).first().style, QStringLiteral("important"));
    // Fragments without a stamp; an unknown style gives plain text.
    log.eventLogAppend(QStringLiteral("a"));
    log.eventLogAppend(QStringLiteral("b\n"), QStringLiteral("no-such-style"));
    EXPECT_TRUE(log.toPlainText().endsWith(QStringLiteral("ab\n")));
    EXPECT_FALSE(log.hasStyle(QStringLiteral("no-such-style")));
}

TEST_F(EventLogTest, AppendsFromOtherThreadsArriveWholeAndInOrder) {
    std::thread writers[2];
    for (int t = 0; t < 2; ++t)
        writers[t] = std::thread([this, t] {
            for (int i = 0; i < 200; ++i)
                log.logEvent(QStringLiteral("thread %1 message %2").arg(t).arg(i));
        });
    for (auto& w : writers)
        w.join();
    QCoreApplication::processEvents();
    const QStringList lines = log.toPlainText().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 400);
    int next[2] = {0, 0};
    static const QRegularExpression re(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d thread (\\d) message (\\d+)$"));
    for (const QString& l : lines) {
        const auto m = re.match(l);
        ASSERT_TRUE(m.hasMatch()) << l.toStdString();
        const int t = m.captured(1).toInt();
        EXPECT_EQ(m.captured(2).toInt(), next[t]++);
    }
}

TEST_F(EventLogTest, TheOldestLinesGoInBlocksBeyondTheLimit) {
    EXPECT_EQ(log.maxLines(), 100000);
    log.setLimits(50, 10);
    for (int i = 0; i < 51; ++i)
        log.logEvent(QStringLiteral("line %1").arg(i));
    QStringList lines = log.toPlainText().split(u'\n', Qt::SkipEmptyParts);
    // 51 lines: over the limit, the oldest 10 went.
    ASSERT_EQ(lines.size(), 41);
    EXPECT_TRUE(lines.first().endsWith(QStringLiteral("line 10")));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("line 50")));
    for (int i = 51; i < 200; ++i)
        log.logEvent(QStringLiteral("line %1").arg(i));
    lines = log.toPlainText().split(u'\n', Qt::SkipEmptyParts);
    EXPECT_LE(lines.size(), 50);
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("line 199")));
}

} // namespace
} // namespace vornal::test
