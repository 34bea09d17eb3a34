// The three features through `vornal-cli run` on simulated instruments, as a script or a user runs them:
// placements on a balance, requests (timer and `vornal-cli request`) and the data log under SIGKILL.
#include "Csv.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

using vornal::test::parseCsv;
using vornal::test::readAll;

namespace {

// A&D lines: two placements, each drifting in, settling and then stable, with the empty platform before,
// between and after.
const char* const kPlacements = R"(port SIMA
wait 100ms
send "ST,+00000.00 kg\r\n"
wait 20ms
send "US,+00003.10 kg\r\n"
wait 20ms
send "US,+00011.80 kg\r\n"
wait 20ms
send "US,+00012.36 kg\r\n"
wait 20ms
send "US,+00012.33 kg\r\n"
wait 20ms
repeat 5
  send "ST,+00012.34 kg\r\n"
  wait 20ms
  send "ST,+00012.35 kg\r\n"
  wait 20ms
end
send "US,+00004.00 kg\r\n"
wait 20ms
send "ST,+00000.00 kg\r\n"
wait 20ms
send "US,+00007.90 kg\r\n"
wait 20ms
repeat 5
  send "ST,+00008.02 kg\r\n"
  wait 20ms
end
send "US,+00000.10 kg\r\n"
wait 20ms
send "ST,+00000.00 kg\r\n"

# A balance that sends only when asked ("S" CR LF: stable weight), recording what it receives.
port SIMQ
record "{record}"
on "S\r\n" send "ST,+00001.25 kg\r\n"

# A fast balance for the data log: a thousand lines.
port SIMF
value w 1.000 step=0.001
repeat 1000
  send "ST,+{w:09} kg\r\n"
  wait 3ms
end
)";

class ReadingsRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        QString script = QString::fromLatin1(kPlacements);
        script.replace(QStringLiteral("{record}"), dir_.filePath(QStringLiteral("received.bin")));
        QFile f(dir_.filePath(QStringLiteral("instruments.vsim")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(script.toLatin1());
    }
    // Starts `vornal-cli --simulate SCRIPT --store FILE ARGS...`.
    void start(QProcess& p, const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        env.insert(QStringLiteral("VORNAL_REQUEST_SOCKET"), socketName());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VORNAL_BIN_DIR "/vornal-cli"),
                QStringList{QStringLiteral("--simulate"), dir_.filePath(QStringLiteral("instruments.vsim")),
                            QStringLiteral("--store"), dir_.filePath(QStringLiteral("prefs.txt"))} +
                    args);
        ASSERT_TRUE(p.waitForStarted());
    }
    QString socketName() const { return dir_.filePath(QStringLiteral("request.socket")); }
    static bool waitUntil(const std::function<bool()>& done, int ms = 15000) {
        for (int i = 0; i < ms / 10; ++i) {
            if (done())
                return true;
            QThread::msleep(10);
        }
        return done();
    }
    // Ends a run with SIGTERM and returns its standard output.
    static QString stop(QProcess& p) {
        p.terminate();
        EXPECT_TRUE(p.waitForFinished(10000));
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    QTemporaryDir dir_;
};

TEST_F(ReadingsRunTest, ExactlyOneValuePerPlacementAndOnlyStableValues) {
    QProcess once;
    start(once, {"run", "--port", "SIMA", "--print", "--preset", "AND", "--set", "oncePerPlacement=true",
                 "--set", "ignoreDifference=0.05"});
    QProcess stable;
    // The same instrument a second time, once the first run has it no more: only stable values.
    ASSERT_TRUE(once.waitForReadyRead(10000));
    QThread::msleep(1500);
    EXPECT_EQ(stop(once).split(u'\n', Qt::SkipEmptyParts), QStringList({"12.34", "8.02"}));

    start(stable, {"run", "--port", "SIMA", "--print", "--preset", "AND", "--set", "typeOnlyStable=true"});
    ASSERT_TRUE(stable.waitForReadyRead(10000));
    QThread::msleep(1500);
    const QStringList values = stop(stable).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(values.size(), 1 + 10 + 1 + 5 + 1) << values.join(u' ').toStdString();
    EXPECT_FALSE(values.contains("12.33") || values.contains("3.10") || values.contains("4.00") ||
                 values.contains("0.10"))
        << values.join(u' ').toStdString();
}

TEST_F(ReadingsRunTest, RequestsOnTheTimerAndFromTheCommandLineAreAnswered) {
    QProcess run;
    start(run, {"run", "--port", "SIMQ", "--print", "--preset", "AND", "--request-every", "1"});
    ASSERT_TRUE(run.waitForReadyRead(10000)) << run.readAllStandardError().toStdString();
    EXPECT_EQ(run.readLine().trimmed(), "1.25") << "the timer's request was answered";

    QProcess request;
    start(request, {"request"});
    ASSERT_TRUE(request.waitForFinished(10000));
    EXPECT_EQ(request.exitCode(), 0) << request.readAllStandardError().toStdString();
    // It says what was sent, and to which port.
    EXPECT_EQ(request.readAllStandardOutput().trimmed(),
              "request S<13><10> sent to SIMQ by the running connection");
    const QString out = stop(run);
    const QByteArray received = readAll(dir_.filePath(QStringLiteral("received.bin")));
    EXPECT_GE(received.count("S\r\n"), 2);
    EXPECT_EQ(received.size() % 3, 0) << "only whole commands";
    EXPECT_GE(out.count(QStringLiteral("1.25")), 1);

    // Without a running connection the command says so and fails.
    QProcess alone;
    start(alone, {"request"});
    ASSERT_TRUE(alone.waitForFinished(10000));
    EXPECT_EQ(alone.exitCode(), 1);
    EXPECT_TRUE(alone.readAllStandardError().contains("no Vornal connection is running"));

    // A preset without a request command cannot request on a timer.
    QProcess generic;
    start(generic, {"run", "--port", "SIMQ", "--print", "--preset", "GENERIC", "--request-every", "1"});
    ASSERT_TRUE(generic.waitForFinished(10000));
    EXPECT_EQ(generic.exitCode(), 2);
    EXPECT_TRUE(generic.readAllStandardError().contains("requestCommand"));
}

#ifdef Q_OS_UNIX
TEST_F(ReadingsRunTest, SigkillDuringAThousandLineRunLeavesAParseableLog) {
    const QString log = dir_.filePath(QStringLiteral("readings.csv"));
    QProcess run;
    start(run, {"run", "--port", "SIMF", "--print", "--preset", "AND", "--log", log});
    ASSERT_TRUE(waitUntil([&] { return readAll(log).count('\n') > 300; }))
        << run.readAllStandardError().toStdString();
    ::kill(pid_t(run.processId()), SIGKILL);
    ASSERT_TRUE(run.waitForFinished(10000));
    const auto table = parseCsv(readAll(log));
    ASSERT_TRUE(table) << "a cut-off row";
    ASSERT_GT(table->size(), 300u);
    ASSERT_LT(table->size(), 1001u) << "killed during the run";
    for (std::size_t i = 1; i < table->size(); ++i) {
        const auto& row = (*table)[i];
        ASSERT_EQ(row.size(), 7u);
        EXPECT_EQ(row[1], "SIMF");
        // The instrument as the window names it; its constant name for scripts at the end.
        EXPECT_EQ(row[2], "A&D");
        EXPECT_EQ(row[6], "AND");
        // Consecutive readings of the counting balance: nothing lost in between.
        if (i > 1) {
            EXPECT_EQ(qRound(row[4].toDouble() * 1000) - qRound((*table)[i - 1][4].toDouble() * 1000), 1);
        }
        EXPECT_EQ(row[5], "printed");
    }
}

TEST_F(ReadingsRunTest, AnUnwritableLogGivesOneMessageAndTypingGoesOn) {
    QFile blocker(dir_.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QProcess run;
    start(run,
          {"run", "--port", "SIMA", "--print", "--preset", "AND", "--log", blocker.fileName() + "/log.csv"});
    ASSERT_TRUE(run.waitForReadyRead(10000));
    QThread::msleep(1500);
    const QString out = stop(run);
    EXPECT_GE(out.split(u'\n', Qt::SkipEmptyParts).size(), 20);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    EXPECT_EQ(err.count(QStringLiteral("cannot be written")), 1) << err.toStdString();
    EXPECT_EQ(run.exitCode(), 0);
}
#endif

} // namespace
