// Runs the command-line program against a preferences file in a temporary folder.
#include "support/Cli.h"

#include "vornal/config/Config.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using CliRun = vornal::test::CliResult;

class SettingsCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        store = dir.filePath(QStringLiteral("prefs.txt"));
    }

    CliRun cli(QStringList args) {
        args.prepend(store);
        args.prepend(QStringLiteral("--store"));
        return vornal::test::runCli(args);
    }
    QByteArray storeBytes() {
        QFile f(store);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeStore(const QByteArray& text) {
        QFile f(store);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }

    QTemporaryDir dir;
    QString store;
};

TEST_F(SettingsCliTest, SettingsOfAnEmptyStoreAreTheLoadDefaultsInSaveOrder) {
    const CliRun r = cli({QStringLiteral("settings")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    // One line per key of the settings table, in its save order.
    const QStringList keys = vornal::config::Config::keys();
    ASSERT_EQ(lines.size(), keys.size());
    for (qsizetype i = 0; i < keys.size(); ++i)
        EXPECT_TRUE(lines[i].startsWith(keys[i] + u'=')) << lines[i].toStdString();
    for (const char* line :
         {"port=", "prevPort=", "instrument=GENERIC", "bitRate=7", "ignoreDifference=", "reconnect=true",
          "typeOnlyStable=false", "oncePerPlacement=false", "requestCommand=", "requestHotkey=",
          "requestEverySeconds=", "dataLogFile=", "dataLogMaxBytes=10485760", "dataLogKeep=5",
          "keyBackend=auto", "inputEncoding=ISO_8859_1", "delay=20", "inputTerminator=13",
          "minimizeToTray=false"})
        EXPECT_TRUE(lines.contains(QString::fromLatin1(line))) << line;
    EXPECT_FALSE(QFile::exists(store)); // looking writes nothing
}

TEST_F(SettingsCliTest, SetStoresCheckedValuesInStoredForm) {
    CliRun r =
        cli({QStringLiteral("set"), QStringLiteral("delay=30"), QStringLiteral("decimalSeparator=COMMA"),
             QStringLiteral("minimizeToTray=TRUE"), QStringLiteral("port=/dev/ttyUSB0"),
             QStringLiteral("customRegEx=Wg,([-+]?\\s*[0-9]+)=x")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray text = storeBytes();
    EXPECT_TRUE(text.startsWith("#FilePreferences\n#"));
    EXPECT_TRUE(text.contains("\nhalvorn.Vornal.minimizeToTray=true\n"));
    EXPECT_TRUE(text.contains("\nhalvorn.Vornal.customRegEx=Wg,([-+]?\\\\s*[0-9]+)\\=x\n"));

    r = cli({QStringLiteral("settings")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.contains(QStringLiteral("delay=30")));
    EXPECT_TRUE(lines.contains(QStringLiteral("decimalSeparator=COMMA")));
    EXPECT_TRUE(lines.contains(QStringLiteral("minimizeToTray=true")));
    EXPECT_TRUE(lines.contains(QStringLiteral("port=/dev/ttyUSB0")));
    EXPECT_TRUE(lines.contains(QStringLiteral("prevPort=/dev/ttyUSB0")));
    EXPECT_TRUE(lines.contains(QStringLiteral("customRegEx=Wg,([-+]?\\s*[0-9]+)=x")));
}

TEST_F(SettingsCliTest, SetIsAllOrNothing) {
    ASSERT_EQ(cli({QStringLiteral("set"), QStringLiteral("delay=30")}).exitCode, 0);
    const QByteArray before = storeBytes();

    CliRun r = cli({QStringLiteral("set"), QStringLiteral("delay=40"), QStringLiteral("bitRate=99")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("bitRate"))) << r.err.toStdString();
    EXPECT_EQ(storeBytes(), before);

    r = cli({QStringLiteral("set"), QStringLiteral("delay=40"), QStringLiteral("nosuchkey=1")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("nosuchkey"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("ignoreDifference"))) << r.err.toStdString(); // the key list
    EXPECT_EQ(storeBytes(), before);

    r = cli({QStringLiteral("set"), QStringLiteral("delay")});
    EXPECT_EQ(r.exitCode, 2);
    r = cli({QStringLiteral("set")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(storeBytes(), before);
}

TEST_F(SettingsCliTest, InvalidStoredValuesAreReportedAndShownAsDefaults) {
    writeStore("halvorn.Vornal.delay=5000\nhalvorn.Vornal.instrument=FOO\nhalvorn.Vornal.bitRate=abc\n"
               "halvorn.Vornal.removeCharacters=a\\nb\n");
    const CliRun r = cli({QStringLiteral("settings")});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains(QStringLiteral("\"delay\""))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("\"instrument\""))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("bitRate"))) << r.err.toStdString();
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.contains(QStringLiteral("delay=20")));
    EXPECT_TRUE(lines.contains(QStringLiteral("instrument=GENERIC")));
    EXPECT_TRUE(lines.contains(QStringLiteral("bitRate=7")));
    EXPECT_TRUE(lines.contains(QStringLiteral("removeCharacters=a\\nb"))); // still one line
}

TEST_F(SettingsCliTest, UnwritableStoreFailsWithTheFileName) {
    store = dir.filePath(QStringLiteral("afile/prefs.txt"));
    QFile blocker(dir.filePath(QStringLiteral("afile"))); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const CliRun r = cli({QStringLiteral("set"), QStringLiteral("delay=30")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("afile"))) << r.err.toStdString();
}

} // namespace
