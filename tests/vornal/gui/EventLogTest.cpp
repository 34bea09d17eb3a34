// The event log: which part of a data line is shown as typed, styles, appends from other threads,
// the line limit, the pane (batched updates, following the end, copying, drawing).
#include "GuiTestMain.h"

#include "EventLog.h"

#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <thread>

namespace vornal::test {
namespace {

using worker::DataLine;

using Piece = EventLog::Piece;

// The last data line of the log as (text, style name) pieces, the time stamp left out.
QList<Piece> lastLine(const EventLog& log) {
    int i = log.lineCount() - 1;
    while (i >= 0 && log.lineText(i).isEmpty())
        --i;
    QList<Piece> out = i >= 0 ? log.pieces(i) : QList<Piece>();
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

TEST_F(EventLogTest, AFullLogKeepsEveryLineInOrderAndDropsTheOldestBlock) {
    for (int i = 0; i < EventLog::kMaxLines; ++i)
        log.eventLogAppend(QStringLiteral("line %1\n").arg(i), QStringLiteral("regular"));
    ASSERT_EQ(log.lineCount(), EventLog::kMaxLines);
    for (int i = 0; i < log.lineCount(); ++i)
        ASSERT_EQ(log.lineText(i), QStringLiteral("line %1").arg(i));
    log.showPending();
    EXPECT_EQ(log.model()->rowCount(), EventLog::kMaxLines);
    // One more: the oldest block goes, the newest stays last.
    log.appendDataLine(line("ST,GS,+  12.345 kg\r\n", "12.345"));
    ASSERT_EQ(log.lineCount(), EventLog::kMaxLines + 1 - EventLog::kDropBlock);
    EXPECT_EQ(log.lineText(0), QStringLiteral("line %1").arg(EventLog::kDropBlock));
    EXPECT_EQ(describe(lastLine(log)),
              QStringLiteral("[regular:][ignored:ST,GS,+  ][typed:12.345][ignored: kg<13><10>]"));
    log.showPending();
    EXPECT_EQ(log.model()->rowCount(), log.lineCount());
    log.clear();
    EXPECT_EQ(log.lineCount(), 0);
    EXPECT_EQ(log.toPlainText(), QString());
}

TEST_F(EventLogTest, OutcomesValuesAndTypedSpansSurviveTheTrimming) {
    log.setLimits(4, 2);
    log.logImportantEvent(QStringLiteral("alarm"));
    log.appendDataLine(line("N  0,75 g\r", "0.75"));
    log.appendDataLine(line("W 12.345\r", "12.35"));
    log.logEvent(QStringLiteral("note"));
    log.appendDataLine(line("ST 1.5\r", "1.5")); // five lines: the oldest two go
    ASSERT_EQ(log.lineCount(), 3);
    const LogEntry& unknown = log.entry(0);
    EXPECT_EQ(unknown.style, LogStyle::Unknown);
    EXPECT_EQ(unknown.value(), QStringLiteral("12.35"));
    EXPECT_EQ(unknown.typedStart, -1);
    EXPECT_FALSE(unknown.important());
    EXPECT_EQ(log.entry(1).style, LogStyle::Regular);
    const LogEntry& typed = log.entry(2);
    EXPECT_EQ(typed.value(), QStringLiteral("1.5"));
    EXPECT_EQ(typed.text().mid(typed.typedStart, typed.typedLength), QStringLiteral("1.5"));
    EXPECT_GT(typed.msecs, 0);
    log.logImportantEvent(QStringLiteral("second alarm"));
    EXPECT_TRUE(log.entry(log.lineCount() - 1).important());
    EXPECT_EQ(lastLine(log).first().style, QStringLiteral("important"));
}

TEST_F(EventLogTest, PiecesOfOneLineKeepTheirStyles) {
    log.eventLogAppend(QStringLiteral("ab"), QStringLiteral("typed"));
    log.eventLogAppend(QStringLiteral("cd"));
    log.eventLogAppend(QStringLiteral("ef\n"), QStringLiteral("important"));
    log.eventLogAppend(QStringLiteral("two\nrows\n"), QStringLiteral("ignored"));
    ASSERT_EQ(log.lineCount(), 2);
    EXPECT_EQ(describe(log.pieces(0)), QStringLiteral("[typed:ab][default:cd][important:ef]"));
    EXPECT_EQ(describe(log.pieces(1)), QStringLiteral("[ignored:two\nrows]"));
    EXPECT_EQ(log.toPlainText(), QStringLiteral("abcdef\ntwo\nrows\n"));
    // An open line is part of the text and goes on with the next piece.
    log.eventLogAppend(QStringLiteral("open"));
    EXPECT_EQ(log.toPlainText(), QStringLiteral("abcdef\ntwo\nrows\nopen"));
    log.showPending();
    log.eventLogAppend(QStringLiteral(" end\n"), QStringLiteral("regular"));
    QSignalSpy changed(log.model(), &QAbstractItemModel::dataChanged);
    log.showPending();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(describe(log.pieces(2)), QStringLiteral("[default:open][regular: end]"));
    EXPECT_EQ(log.model()->rowCount(), 3);
}

TEST_F(EventLogTest, TheViewHearsOfABurstOnceAndInOrder) {
    QSignalSpy inserted(log.model(), &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 500; ++i)
        log.logEvent(QStringLiteral("burst %1").arg(i));
    // Stored at once, announced later.
    EXPECT_EQ(log.lineCount(), 500);
    EXPECT_EQ(log.model()->rowCount(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.model()->rowCount() == 500; }, 2000));
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 499);
    for (int i = 0; i < 500; ++i)
        EXPECT_TRUE(log.model()->index(i, 0).data().toString().endsWith(QStringLiteral(" burst %1").arg(i)));
}

TEST_F(EventLogTest, LinesNotYetShownGoQuietlyWhenABurstOverrunsTheCap) {
    log.setLimits(10, 5);
    for (int i = 0; i < 8; ++i)
        log.logEvent(QStringLiteral("n %1").arg(i));
    log.showPending();
    QSignalSpy removed(log.model(), &QAbstractItemModel::rowsRemoved);
    for (int i = 8; i < 40; ++i)
        log.logEvent(QStringLiteral("n %1").arg(i));
    // The view heard only of the rows it knew going.
    int gone = 0;
    for (const auto& r : removed)
        gone += r[2].toInt() - r[1].toInt() + 1;
    EXPECT_EQ(gone, 8);
    log.showPending();
    ASSERT_EQ(log.model()->rowCount(), log.lineCount());
    ASSERT_LE(log.lineCount(), 10);
    for (int i = 0; i < log.lineCount(); ++i)
        EXPECT_TRUE(log.lineText(i).endsWith(QStringLiteral(" n %1").arg(40 - log.lineCount() + i)));
}

TEST_F(EventLogTest, TheStampOfATimeIsThatOfItsSecond) {
    const qint64 base = QDateTime(QDate(2026, 3, 29), QTime(1, 59, 58)).toMSecsSinceEpoch();
    for (qint64 ms : {base, base + 1, base + 999, base + 1000, base + 999, base + 3600000, -1LL, 0LL})
        EXPECT_EQ(EventLog::timePrefixAt(ms), EventLog::timePrefix(QDateTime::fromMSecsSinceEpoch(ms))) << ms;
}

// The pane on screen (offscreen platform), 20 lines high.
class EventLogPaneTest : public EventLogTest {
protected:
    void SetUp() override {
        log.resize(500, 20 * log.fontMetrics().lineSpacing() + 2 * log.frameWidth());
        log.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
    }
    void add(int from, int to) {
        for (int i = from; i < to; ++i)
            log.logEvent(QStringLiteral("row %1").arg(i));
        log.showPending();
    }
    // The line shown at the top of the pane.
    QString top() const { return log.indexAt(QPoint(5, 2)).data().toString(); }
    QString bottom() const { return log.indexAt(QPoint(5, log.viewport()->height() - 3)).data().toString(); }
};

TEST_F(EventLogPaneTest, FollowsTheEndUnlessScrolledUp) {
    add(0, 100);
    EXPECT_TRUE(log.followsEnd());
    EXPECT_TRUE(bottom().endsWith(QStringLiteral(" row 99"))) << bottom().toStdString();
    add(100, 150);
    EXPECT_TRUE(bottom().endsWith(QStringLiteral(" row 149"))) << bottom().toStdString();

    // Scrolled up: new lines do not move the pane, dropped lines at the top do not either.
    log.setLimits(160, 20);
    log.verticalScrollBar()->setValue(log.verticalScrollBar()->value() - 40);
    EXPECT_FALSE(log.followsEnd());
    const QString shown = top();
    add(150, 170); // 170 > 160: the oldest 20 go
    EXPECT_EQ(log.lineCount(), 150);
    EXPECT_EQ(top().toStdString(), shown.toStdString());
    EXPECT_FALSE(log.followsEnd());

    // Back at the end: following again, also when the oldest go.
    log.verticalScrollBar()->setValue(log.verticalScrollBar()->maximum());
    add(170, 200);
    EXPECT_TRUE(log.followsEnd());
    EXPECT_TRUE(bottom().endsWith(QStringLiteral(" row 199"))) << bottom().toStdString();

    // A long message wraps instead of running out of sight: it takes more than one line of the pane.
    log.logEvent(QString(300, u'x') + QStringLiteral(" the end"));
    log.showPending();
    const QRect last = log.visualRect(log.model()->index(log.model()->rowCount() - 1, 0));
    EXPECT_GT(last.height(), 2 * log.fontMetrics().lineSpacing());
    EXPECT_LE(last.bottom(), log.viewport()->height());
    EXPECT_EQ(log.horizontalScrollBar()->maximum(), 0);
}

TEST_F(EventLogPaneTest, SelectedLinesAreCopiedAsPlainText) {
    add(0, 5);
    log.eventLogAppend(QStringLiteral("a"), QStringLiteral("typed"));
    log.eventLogAppend(QStringLiteral("b\n"), QStringLiteral("ignored"));
    log.showPending();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    // Nothing selected: Ctrl+C leaves the clipboard alone.
    QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    // Rows 4 and 5, selected by clicks (the second with Shift).
    QTest::mouseClick(log.viewport(), Qt::LeftButton, {}, log.visualRect(log.model()->index(5, 0)).center());
    QTest::mouseClick(log.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      log.visualRect(log.model()->index(4, 0)).center());
    QTest::keyClick(&log, Qt::Key_C, Qt::ControlModifier);
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.endsWith(QStringLiteral(" row 4\nab\n"))) << copied.toStdString();
    EXPECT_EQ(copied.count(u'\n'), 2);
    // Select all: the whole log, as its plain text.
    QTest::keyClick(&log, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(log.selectedText(), log.toPlainText());
    // The selection follows its lines when the oldest go.
    log.clearSelection();
    log.selectionModel()->select(log.model()->index(5, 0), QItemSelectionModel::Select);
    log.setLimits(5, 2);
    add(5, 6);
    EXPECT_EQ(log.selectedText(), QStringLiteral("ab\n"));
}

TEST_F(EventLogPaneTest, TheKeysMoveThroughTheLines) {
    add(0, 100);
    log.setFocus();
    QTest::keyClick(&log, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_TRUE(top().endsWith(QStringLiteral(" row 0"))) << top().toStdString();
    EXPECT_FALSE(log.followsEnd());
    add(100, 110);
    EXPECT_TRUE(top().endsWith(QStringLiteral(" row 0"))) << top().toStdString();
    QTest::keyClick(&log, Qt::Key_PageDown);
    EXPECT_GT(log.currentIndex().row(), 10);
    QTest::keyClick(&log, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(log.currentIndex().row(), 109);
    EXPECT_TRUE(log.followsEnd());
    add(110, 120);
    EXPECT_TRUE(bottom().endsWith(QStringLiteral(" row 119"))) << bottom().toStdString();
}

TEST_F(EventLogPaneTest, TheTypedPartAndTheOutcomesAreDrawnInTheirColours) {
    const auto pixels = [this](const QColor& colour) {
        const QImage image = log.viewport()->grab().toImage();
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += image.pixelColor(x, y) == colour;
        return n;
    };
    const QColor typed = log.style(QStringLiteral("typed")).foreground().color();
    const QColor important = log.style(QStringLiteral("important")).foreground().color();
    log.logEvent(QStringLiteral("plain"));
    log.showPending();
    EXPECT_EQ(pixels(typed), 0);
    EXPECT_EQ(pixels(important), 0);
    log.appendDataLine(line("ST,GS,+  12.345 kg\r\n", "12.345"));
    log.logImportantEvent(QStringLiteral("ALARM"));
    log.showPending();
    EXPECT_GT(pixels(typed), 10);
    EXPECT_GT(pixels(important), 10);
}

} // namespace
} // namespace vornal::test
