// vornal-cli process and run, as a user calls them.
#include "support/Cli.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    QTemporaryDir dir;
    const Result r = cli({"--simulate", "run", "--port", "NOSUCHPORT"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("cannot open NOSUCHPORT")) << r.err.toStdString();
}
