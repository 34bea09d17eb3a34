// vornal-cli process and run, as a user calls them.
#include "support/Cli.h"
#include <QFile>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

using Result = vornal::test::CliResult;

Result cli(const QStringList& args, const QByteArray& input = {}, int timeoutMs = 20000) {
    static QTemporaryDir dir;
    return vornal::test::runCli(
        QStringList{QStringLiteral("--store"), dir.filePath(QStringLiteral("prefs.txt"))} + args, input,
        timeoutMs);
}

} // namespace

TEST(ProcessCli, TheScaleExampleGivesTheCommaValue) {
    const Result r =
        cli({"process", "--preset", "GENERIC", "--set", "decimalSeparator=COMMA"}, "ST,GS,+  12.345 kg\r");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "12,345\n");
}

TEST(ProcessCli, JsonReportsEveryLineWithItsFailureAndTheUnsentRest) {
    const Result r = cli({"process", "--json", "--set", "editNumCharacters=4", "--set", "decimalPlaces=1",
                          "--set", "roundingMethod=HALF_EVEN"},
                         QByteArray("  12.25 kg\rnothing\r1.5\r") + char(0xB0) + "tail");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
    const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    EXPECT_EQ(first["count"].toInt(), 1);
    // "  12.25" extracted, its first 4 characters removed: ".25", rounded to even: "0.2".
    EXPECT_EQ(first["value"].toString(), "0.2");
    EXPECT_EQ(first["raw"].toString(), "  12.25 kg<13>");
    EXPECT_FALSE(first["error"].toBool());
    EXPECT_TRUE(first["failure"].isNull());
    const QJsonObject second = QJsonDocument::fromJson(lines[1].toUtf8()).object();
    EXPECT_EQ(second["value"].toString(), "");
    EXPECT_TRUE(second["failure"].isNull()) << "no match is no failure";
    const QJsonObject third = QJsonDocument::fromJson(lines[2].toUtf8()).object();
    EXPECT_EQ(third["count"].toInt(), 3);
    EXPECT_TRUE(third["failure"].toString().contains("1.5")) << "an edit count larger than the value fails";
    EXPECT_TRUE(r.err.contains("<176>tail")) << r.err.toStdString();
}

TEST(ProcessCli, DuplicatesAreSuppressedWhenSwitchedOn) {
    const Result r = cli({"process", "--set", "ignoreDuplicates=true"}, "5.0\r5.0\r6.0\r6.00\r5.0\r");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Without a difference the formatted texts are compared: 6.00 is not 6.0.
    EXPECT_EQ(r.out, "5.0\n\n6.0\n6.00\n5.0\n");
}

TEST(ProcessCli, BarcodePresetsKeepTheTextAndPresetsBringTheirTerminator) {
    const Result barcode =
        cli({"process", "--preset", "BARCODE_ALPHA_COMPLETE", "--set", "customRegEx=(.*)\\r"}, "AB 12\r");
    EXPECT_EQ(barcode.out, "AB 12\n") << barcode.err.toStdString();
    const Result and_ = cli({"process", "--preset", "AND"}, "ST,+00123.45  g\r\n");
    EXPECT_EQ(and_.out, "123.45\n") << and_.err.toStdString();
}

TEST(ProcessCli, RefusedSettingsAndPresetsSayWhy) {
    const Result badSet = cli({"process", "--set", "decimalPlaces=9"}, "");
    EXPECT_EQ(badSet.exitCode, 2);
    EXPECT_TRUE(badSet.err.contains("decimalPlaces")) << badSet.err.toStdString();
    const Result badPreset = cli({"process", "--preset", "NOPE"}, "");
    EXPECT_EQ(badPreset.exitCode, 2);
    EXPECT_TRUE(badPreset.err.contains("GENERIC")) << "lists the presets";
    const Result badRegex = cli({"process", "--set", "customRegEx=(\\d+"}, "");
    EXPECT_EQ(badRegex.exitCode, 2);
}

TEST(ProcessCli, AnEndlessLineIsReportedAndTheNextLineStillCounts) {
    QByteArray input(200 * 1024, 'x');
    input += "\r7.5\r";
    const Result r = cli({"process"}, input);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "7.5\n");
    EXPECT_EQ(r.err.count("grew past 65536 bytes"), 1) << r.err.toStdString();
}

TEST(ProcessCli, CustomExpressionsFollowTheInstrumentsDialect) {
    // "$" matches before the line's terminator.
    Result r = cli({"process", "--json", "--set", "customRegEx=(\\d+) kg$"}, "12 kg\r");
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(r.out.toUtf8()).object()["value"].toString(), "12")
        << r.out.toStdString();
    // A captured exponent beyond the bound is that line's failure, not a 10,000-digit value.
    r = cli({"process", "--json", "--set", "customRegEx=([-+\\d.eE]+)"}, "9E9999\r12E2\r");
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
    const QJsonObject huge = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    EXPECT_EQ(huge["value"].toString(), "");
    EXPECT_TRUE(huge["failure"].toString().contains("exponent")) << lines[0].toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(lines[1].toUtf8()).object()["value"].toString(), "1200");
    // The dialect warnings reach standard error, when processing and when storing the expression.
    for (const QStringList& args : {QStringList{"process", "--set", "customRegEx=([0-9&&[^x]]+)"},
                                    QStringList{"set", "customRegEx=([0-9&&[^x]]+)"}}) {
        r = cli(args, "12\r");
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("inside a character class")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("\"&&\"")) << r.err.toStdString();
    }
    r = cli({"set", "customRegEx=([0-9]+)"});
    EXPECT_EQ(r.err, "");
    cli({"set", "customRegEx="});
}

TEST(RunCli, ASimulatedScaleIsReadUntilTheProgramIsStopped) {
    QTemporaryDir dir;
    QProcess p;
    vornal::test::startCli(
        p, {"--store", dir.filePath("prefs.txt"), "--simulate", "run", "--port", "SIM1", "--print"});
    ASSERT_EQ(p.state(), QProcess::Running);
    QByteArray out;
    for (int i = 0; i < 100 && out.count('\n') < 2; ++i) {
        p.waitForReadyRead(100);
        out += p.readAllStandardOutput();
    }
    p.terminate(); // SIGTERM: a clean stop
    ASSERT_TRUE(p.waitForFinished(5000));
    out += p.readAllStandardOutput();
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QList<QByteArray> values = out.split('\n');
    ASSERT_GE(values.size(), 2);
    EXPECT_TRUE(values[0].startsWith("12.")) << out.toStdString();
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains("stopped")) << err.toStdString();
}

TEST(RunCli, APortThatCannotBeOpenedFailsWithTheReason) {
    const Result r = cli({"--simulate", "run", "--port", "NOSUCHPORT", "--print"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("cannot open NOSUCHPORT")) << r.err.toStdString();
    // The driver's own reason, not only the library's code.
    const Result null = cli({"run", "--port", "/dev/null", "--print"});
    EXPECT_NE(null.exitCode, 0);
    EXPECT_TRUE(null.err.contains("not a serial port")) << null.err.toStdString();
}

TEST(RunCli, TypingIsCheckedBeforeThePortIsOpened) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    QTemporaryDir dir;
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VORNAL_BIN_DIR "/vornal-cli"),
            {"--store", dir.filePath("prefs.txt"), "--simulate", "run", "--port", "SIM1"});
    ASSERT_TRUE(p.waitForFinished(20000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(err.contains("--print")) << err.toStdString();
    EXPECT_FALSE(err.contains("opened"))
        << "the port is not opened when typing is impossible: " << err.toStdString();
}

namespace {

// Runs `vornal-cli run` until `stop` is true of what it printed so far (or 10 s), then ends it with
// `signal`. Standard output and standard error as they were at the end.
struct RunResult {
    int exitCode = -1;
    QString out, err;
};
RunResult runUntil(const QStringList& args, const std::function<bool(const QString&, const QString&)>& stop,
                   int signal = SIGTERM) {
    QTemporaryDir dir;
    QProcess p;
    p.start(QStringLiteral(VORNAL_BIN_DIR "/vornal-cli"),
            QStringList{"--store", dir.filePath("prefs.txt")} + args);
    EXPECT_TRUE(p.waitForStarted());
    RunResult r;
    for (int i = 0; i < 100 && p.state() == QProcess::Running && !stop(r.out, r.err); ++i) {
        p.waitForReadyRead(100);
        r.out += QString::fromUtf8(p.readAllStandardOutput());
        r.err += QString::fromUtf8(p.readAllStandardError());
    }
    if (p.state() == QProcess::Running)
        ::kill(pid_t(p.processId()), signal);
    EXPECT_TRUE(p.state() == QProcess::NotRunning || p.waitForFinished(5000));
    r.out += QString::fromUtf8(p.readAllStandardOutput());
    r.err += QString::fromUtf8(p.readAllStandardError());
    r.exitCode = p.exitCode();
    return r;
}

} // namespace

TEST(RunCli, APresetSetsAllItsPortSettingsAndSetAfterItWins) {
    // The A&D balance of the demo sends at 2400 bit/s, 7 data bits, even parity.
    const auto opened = [](const QString&, const QString& err) { return err.contains("opened"); };
    const RunResult r =
        runUntil({"--simulate", "run", "--port", "SIM3", "--preset", "AND", "--print"}, opened);
    EXPECT_TRUE(r.err.contains("2400 bit/s, data bits: 7, stop bits: 1, parity: EVEN"))
        << r.err.toStdString();
    const RunResult set = runUntil(
        {"--simulate", "run", "--port", "SIM3", "--preset", "AND", "--set", "bitRate=7", "--print"}, opened);
    EXPECT_TRUE(set.err.contains("9600 bit/s, data bits: 7")) << set.err.toStdString();
}

TEST(RunCli, ACrLfInstrumentStopsWithoutAnUnsentDataWarning) {
    // SIM1 ends its lines with CR LF; the terminator is CR, so the LF of the last line waits at the stop.
    const RunResult r = runUntil({"--simulate", "run", "--port", "SIM1", "--print"},
                                 [](const QString& out, const QString&) { return out.count(u'\n') >= 3; });
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("after the last complete line")) << r.err.toStdString();
}

TEST(RunCli, SighupAndAClosedOutputEndWithAMessage) {
    const auto twoValues = [](const QString& out, const QString&) { return out.count(u'\n') >= 2; };
    const RunResult hup = runUntil({"--simulate", "run", "--port", "SIM1", "--print"}, twoValues, SIGHUP);
    EXPECT_EQ(hup.exitCode, 0) << hup.err.toStdString();
    EXPECT_TRUE(hup.err.contains("stopped by SIGHUP")) << hup.err.toStdString();

    // The reader of the values goes away after the first one, as `vornal-cli run --print | head -1`.
    QTemporaryDir dir;
    QProcess p;
    p.start(QStringLiteral("bash"), {"-c", "\"$0\" \"$@\" | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}",
                                     VORNAL_BIN_DIR "/vornal-cli", "--store", dir.filePath("prefs.txt"),
                                     "--simulate", "run", "--port", "SIM1", "--print"});
    ASSERT_TRUE(p.waitForFinished(10000)) << "a closed output pipe ends the run";
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 1) << "1, not 141 (ended by SIGPIPE): " << err.toStdString();
    EXPECT_TRUE(err.contains("standard output was closed")) << err.toStdString();
}

TEST(RunCli, VerboseSaysWhyALineGaveNoValue) {
    QTemporaryDir dir;
    const QString script = dir.filePath("lines.vsim");
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("port SIMV\nloop\n  wait 50ms\n  send \"ST,GS,+  1.5 kg\\r\"\n  wait 50ms\n  send "
            "\"hello\\r\"\nend\n");
    f.close();
    const RunResult r = runUntil({"--simulate", script, "run", "--port", "SIMV", "--print", "--verbose"},
                                 [](const QString&, const QString& err) { return err.contains("no match"); });
    EXPECT_TRUE(r.err.contains("gave no value (no match): hello")) << r.err.toStdString();
}

TEST(RunCli, AnUnpluggedInstrumentIsWaitedForUnlessReconnectIsOff) {
    QTemporaryDir dir;
    const QString script = dir.filePath("plug.vsim");
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("port PLUG\nunplug after 300ms\nreplug after 200ms\nevery 50ms send \"ST,GS,+  2.5 kg\\r\"\n");
    f.close();
    const RunResult r =
        runUntil({"--simulate", script, "run", "--port", "PLUG", "--print"},
                 [](const QString&, const QString& err) { return err.count("reconnected") >= 2; });
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_GE(r.err.count("reconnected: PLUG"), 2) << r.err.toStdString();
    EXPECT_GE(r.err.count("waiting for it to come back"), 2) << r.err.toStdString();
    EXPECT_EQ(r.out.count("2.5\n"), r.out.count(u'\n')) << "only whole values: " << r.out.toStdString();

    const RunResult off =
        runUntil({"--simulate", script, "run", "--port", "PLUG", "--print", "--no-reconnect"},
                 [](const QString&, const QString&) { return false; });
    EXPECT_EQ(off.exitCode, 1) << "the connection ended on its own: " << off.err.toStdString();
    EXPECT_TRUE(off.err.contains("is gone")) << off.err.toStdString();
}

TEST(Cli, EveryCommandHasItsOwnHelp) {
    for (const char* command : {"run", "process", "set", "ports"}) {
        const Result r = cli({command, "--help"});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: vornal-cli %1").arg(QLatin1String(command))))
            << r.out.toStdString();
    }
    const Result run = cli({"run", "--help"});
    EXPECT_TRUE(run.out.contains("--preset")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("--no-reconnect")) << run.out.toStdString();
}
