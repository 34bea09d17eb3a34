// vornal-cli as a new user meets it: a missing simulator script, the help of run, the stability options
// of process, the text encoding of the instrument, the usual spelling of the layout.
#include "support/Cli.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using Result = vornal::test::CliResult;

Result cli(const QStringList& args, const QByteArray& input = {}) {
    static QTemporaryDir dir;
    return vornal::test::runCli(
        QStringList{QStringLiteral("--store"), dir.filePath(QStringLiteral("prefs.txt"))} + args, input,
        20000);
}

TEST(CommandLineUse, AMissingSimulatorScriptIsNamedNotTakenForTheCommand) {
    for (const QString& script : {QStringLiteral("/nonexistent.vsim"), QStringLiteral("missing.vsim")}) {
        const Result r = cli({QStringLiteral("--simulate"), script, QStringLiteral("ports")});
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(script)) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("does not exist"))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("unknown command"))) << r.err.toStdString();
    }
    // Without a script the demo is used, and a command right after --simulate is the command.
    const Result demo = cli({QStringLiteral("--simulate"), QStringLiteral("ports")});
    EXPECT_EQ(demo.exitCode, 0) << demo.err.toStdString();
}

TEST(CommandLineUse, TheHelpOfRunDescribesEveryOptionOfItsUsageLine) {
    const Result r = cli({QStringLiteral("run"), QStringLiteral("--help")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString usage = r.out.section(u'\n', 0, 0);
    const QString options = r.out.section(QStringLiteral("Options:"), 1);
    for (const char* name : {"--port", "--print", "--verbose", "--no-reconnect", "--log", "--request-every",
                             "--preset", "--set"}) {
        const QString option = QString::fromLatin1(name);
        EXPECT_TRUE(usage.contains(option)) << name;
        EXPECT_TRUE(options.contains(QStringLiteral("\n  ") + option + u' ')) << name << '\n'
                                                                              << r.out.toStdString();
    }
}

// process applies the stable-reading rules of run, or says why it cannot.
TEST(CommandLineUse, ProcessTypesOnlyStableReadingsAndOnePerPlacementAsRunDoes) {
    const QByteArray lines = "ST,+00000.00 kg\r\nUS,+00012.30 kg\r\nST,+00012.34 kg\r\nST,+00012.35 kg\r\n"
                             "US,+00004.00 kg\r\nST,+00000.00 kg\r\nST,+00008.02 kg\r\n";
    const auto values = [](const Result& r) { return r.out.split(u'\n', Qt::SkipEmptyParts); };
    const Result stable = cli({"process", "--preset", "AND", "--set", "typeOnlyStable=true"}, lines);
    ASSERT_EQ(stable.exitCode, 0) << stable.err.toStdString();
    EXPECT_EQ(values(stable), QStringList({"0.00", "12.34", "12.35", "0.00", "8.02"}));
    const Result once = cli({"process", "--preset", "AND", "--set", "oncePerPlacement=true"}, lines);
    ASSERT_EQ(once.exitCode, 0) << once.err.toStdString();
    EXPECT_EQ(values(once), QStringList({"12.34", "8.02"}));
    // An instrument that marks no stable readings: every reading, and a note why.
    const Result none =
        cli({"process", "--preset", "KERN_572", "--set", "typeOnlyStable=true"}, "12.5 g\r\n");
    ASSERT_EQ(none.exitCode, 0) << none.err.toStdString();
    EXPECT_EQ(values(none), QStringList({"12.5"}));
    EXPECT_TRUE(none.err.contains(QStringLiteral("marks no stable readings"))) << none.err.toStdString();
}

// The bytes of the instrument in the chosen encoding; a byte of no valid sequence costs no line.
TEST(CommandLineUse, TheInputEncodingDecidesHowBytesBecomeCharacters) {
    const QStringList text = {"process", "--preset", "BARCODE", "--set", "customRegEx=([^\\r]+)"};
    const QByteArray utf8 = "12.5 \xC2\xB0"
                            "C\r";
    EXPECT_EQ(cli(text, utf8).out, QString::fromUtf8("12.5 \xC3\x82\xC2\xB0"
                                                     "C\n"))
        << "ISO 8859-1 by default";
    EXPECT_EQ(cli(text + QStringList{"--set", "inputEncoding=UTF_8"}, utf8).out,
              QString::fromUtf8("12.5 \xC2\xB0"
                                "C\n"));
    // A lone Latin-1 degree sign among UTF-8: kept as it was sent, and the next line follows.
    EXPECT_EQ(cli(text + QStringList{"--set", "inputEncoding=UTF_8"}, "7 \xB0"
                                                                      "C\r8 \xC2\xB0"
                                                                      "C\r")
                  .out,
              QString::fromUtf8("7 \xC2\xB0"
                                "C\n8 \xC2\xB0"
                                "C\n"));
    EXPECT_EQ(cli(text + QStringList{"--set", "inputEncoding=CP437"}, "3 \xF8"
                                                                      "C\r")
                  .out,
              QString::fromUtf8("3 \xC2\xB0"
                                "C\n"));
    EXPECT_EQ(cli(text + QStringList{"--set", "inputEncoding=WINDOWS_1252"}, "\x80 5\r").out,
              QString::fromUtf8("\xE2\x82\xAC 5\n"));
    const Result refused = cli(text + QStringList{"--set", "inputEncoding=EBCDIC"}, "1\r");
    EXPECT_NE(refused.exitCode, 0);
}

// The layout is spelled QWERTY by people; the stored name keeps its historical form.
TEST(CommandLineUse, QwertyIsAcceptedAsTheLayoutName) {
    ASSERT_EQ(cli({"set", "keyboardType=QWERTY"}).exitCode, 0);
    EXPECT_TRUE(cli({"settings"}).out.contains(QStringLiteral("\nkeyboardType=QUERTY\n")));
    auto env = vornal::test::cliEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    static QTemporaryDir dir;
    const Result typed = vornal::test::runCli(
        {"--store", dir.filePath("prefs.txt"), "type", "--layout", "QWERTY", "--backend", "x11", "--", "1"},
        {}, 20000, env);
    EXPECT_FALSE(typed.err.contains(QStringLiteral("unknown layout"))) << typed.err.toStdString();
}

} // namespace
