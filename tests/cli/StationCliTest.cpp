// `vornal-cli run` with several profiles (a station): one connection per profile, --print naming the
// profile of each value, request --profile, an instrument that goes away while the others go on, and
// a port chosen twice.
#include "support/Cli.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace vornal;

namespace {

const char* const kScript = R"(port SIMA
value a 1 step=1
every 20ms send "ST,GS,+  {a} kg\r"

port SIMB
value b 500 step=1
every 20ms send "ST,GS,+  {b} kg\r"

port GONE
unplug after 300ms
every 20ms send "ST,GS,+  7 kg\r"

# Answers "S" CR LF with a weight, recording what it receives.
port SIMQ
record "{record}"
on "S\r\n" send "ST,GS,+  1.25 kg\r"
)";

class StationCli : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        std::string script = kScript;
        const std::string record = dir_.filePath(QStringLiteral("received.bin")).toStdString();
        script.replace(script.find("{record}"), 8, record);
        std::ofstream(dir_.filePath(QStringLiteral("station.vsim")).toStdString()) << script;
        env_ = test::cliEnvironment();
        env_.insert(QStringLiteral("VORNAL_REQUEST_SOCKET"), dir_.filePath(QStringLiteral("request")));
    }
    QStringList common() const {
        return {"--store", dir_.filePath(QStringLiteral("prefs.txt")), "--simulate",
                dir_.filePath(QStringLiteral("station.vsim"))};
    }
    test::CliResult cli(const QStringList& args) { return test::runCli(common() + args, {}, 30000, env_); }
    // A profile for a simulated scale (lines end with CR).
    void profile(const QString& name, const QStringList& settings) {
        const auto r =
            cli(QStringList{"set", "--profile", name, "inputTerminator=13", "bitRate=7", "dataBits=3"} +
                settings);
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    void start(QProcess& p, const QStringList& args) { test::startCli(p, common() + args, env_); }
    static bool waitUntil(const std::function<bool()>& done, int ms = 15000) {
        for (int i = 0; i < ms / 10; ++i) {
            if (done())
                return true;
            QThread::msleep(10);
        }
        return done();
    }
    // Reads what has arrived on standard output so far into `out`.
    static void drain(QProcess& p, QString& out) {
        p.waitForReadyRead(20);
        out += QString::fromUtf8(p.readAllStandardOutput());
    }
    static void stop(QProcess& p, QString& out) {
        p.terminate();
        EXPECT_TRUE(p.waitForFinished(10000));
        out += QString::fromUtf8(p.readAllStandardOutput());
    }

    QTemporaryDir dir_;
    QProcessEnvironment env_;
};

} // namespace

TEST_F(StationCli, RunAllPrintsEachValueWithItsProfileInTheOrderOfEachInstrument) {
    profile(QStringLiteral("Left"), {"port=SIMA"});
    profile(QStringLiteral("Right scale"), {"port=SIMB"});
    QProcess run;
    start(run, {"run", "--all", "--print"});
    QString out;
    ASSERT_TRUE(waitUntil([&] {
        drain(run, out);
        return out.count(QStringLiteral("Left\t")) >= 10 && out.count(QStringLiteral("Right scale\t")) >= 10;
    })) << out.toStdString()
        << run.readAllStandardError().toStdString();
    stop(run, out);
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    int nextA = 1, nextB = 500;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
        const QString who = line.section(u'\t', 0, 0), value = line.section(u'\t', 1);
        if (who == QStringLiteral("Left"))
            EXPECT_EQ(value, QString::number(nextA++));
        else if (who == QStringLiteral("Right scale"))
            EXPECT_EQ(value, QString::number(nextB++));
        else
            ADD_FAILURE() << "a line without its profile: " << line.toStdString();
    }

    // One profile alone prints its values as before, without a name.
    QProcess one;
    start(one, {"run", "--profile", "Left", "--print"});
    QString single;
    ASSERT_TRUE(waitUntil([&] {
        drain(one, single);
        return single.count(u'\n') >= 3;
    }));
    stop(one, single);
    EXPECT_TRUE(single.startsWith(QStringLiteral("1\n2\n3\n"))) << single.toStdString();
}

TEST_F(StationCli, OptionsForOneInstrumentAndUnknownOrRepeatedProfilesAreRefusedBeforeAnythingStarts) {
    profile(QStringLiteral("One"), {"port=SIMA"});
    profile(QStringLiteral("Two"), {"port=SIMB"});
    auto r = cli({"run", "--all", "--print", "--port", "SIMB"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("set one instrument"))) << r.err.toStdString();
    r = cli({"run", "--all", "--print", "--set", "delay=5"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("--preset and --set change one instrument")))
        << r.err.toStdString();
    r = cli({"run", "--all", "--profile", "One", "--print"});
    EXPECT_EQ(r.exitCode, 2);
    r = cli({"run", "--profile", "One", "--profile", "one", "--print"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("named twice"))) << r.err.toStdString();
    r = cli({"run", "--profile", "Nobody", "--print"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no profile is named \"Nobody\""))) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    r = cli({"request", "--profile"});
    EXPECT_EQ(r.exitCode, 2);
}

TEST_F(StationCli, AnInstrumentThatGoesAwayEndsAloneTheOtherGoesOn) {
    profile(QStringLiteral("Gone"), {"port=GONE"});
    profile(QStringLiteral("Stays"), {"port=SIMB"});
    QProcess run;
    start(run, {"run", "--all", "--print", "--no-reconnect"});
    QString out, err;
    ASSERT_TRUE(waitUntil([&] {
        drain(run, out);
        err += QString::fromUtf8(run.readAllStandardError());
        return err.contains(QStringLiteral("[Gone]")) && err.contains(QStringLiteral("is gone"));
    })) << err.toStdString();
    const int before = static_cast<int>(out.count(QStringLiteral("Stays\t")));
    ASSERT_TRUE(waitUntil([&] {
        drain(run, out);
        return out.count(QStringLiteral("Stays\t")) >= before + 10;
    })) << "the other instrument stopped too";
    EXPECT_EQ(run.state(), QProcess::Running);
    stop(run, out);
    err += QString::fromUtf8(run.readAllStandardError());
    EXPECT_EQ(run.exitCode(), 1) << "an instrument ended by itself: " << err.toStdString();
}

TEST_F(StationCli, RequestWithAProfileReachesThatProfilesConnection) {
    profile(QStringLiteral("Asked"), {"port=SIMQ", "requestCommand=S<13><10>"});
    profile(QStringLiteral("Other"), {"port=SIMA"});
    QProcess run;
    start(run, {"run", "--all", "--print"});
    QString out;
    ASSERT_TRUE(waitUntil([&] {
        drain(run, out);
        return out.contains(QStringLiteral("Other\t"));
    }));
    auto r = cli({"request", "--profile", "Asked"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), QStringLiteral("request S<13><10> sent to SIMQ by the running connection"));
    ASSERT_TRUE(waitUntil([&] {
        drain(run, out);
        return out.contains(QStringLiteral("Asked\t1.25"));
    })) << out.toStdString();
    // The other profile has no request command; no connection runs without a profile.
    r = cli({"request", "--profile", "Other"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("profile 'Other'"))) << r.err.toStdString();
    r = cli({"request"});
    EXPECT_EQ(r.exitCode, 1);
    stop(run, out);
}
