// The profiles of a station through vornal-cli: set/settings --profile, profiles, export and import.
#include "support/Cli.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using CliRun = vornal::test::CliResult;

class ProfilesCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        store = dir.filePath(QStringLiteral("prefs.txt"));
    }
    CliRun cli(QStringList args, const QString& file = QString()) {
        args.prepend(file.isEmpty() ? store : file);
        args.prepend(QStringLiteral("--store"));
        return vornal::test::runCli(args);
    }
    // Runs and expects success.
    QString ok(const QStringList& args, const QString& file = QString()) {
        const CliRun r = cli(args, file);
        EXPECT_EQ(r.exitCode, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    }
    QByteArray storeBytes() {
        QFile f(store);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // A station of three: the first with a name and a preset, a balance, a pH meter without a port.
    void makeStation() {
        ok({"set", "port=/dev/ttyS0", "instrument=BARCODE", "delay=35"});
        ok({"profiles", "rename", "Instrument 1", "Scanner"});
        ok({"set", "--profile", "Balance", "port=/dev/ttyUSB0", "instrument=KERN_572", "decimalPlaces=3",
            "outputTerminator=TAB"});
        ok({"set", "--profile", "pH meter", "customRegEx=pH ([0-9.]+)", "removeCharacters=\"<&>"});
    }

    QTemporaryDir dir;
    QString store;
};

TEST_F(ProfilesCliTest, SetWithAProfileCreatesItAndSettingsShowsIt) {
    EXPECT_EQ(ok({"profiles"}).split(u'\n', Qt::SkipEmptyParts).size(), 2); // header + the first profile
    EXPECT_FALSE(QFile::exists(store));                                     // looking writes nothing
    makeStation();
    const QStringList lines = ok({"profiles"}).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Scanner"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("/dev/ttyS0")) &&
                lines[1].endsWith(QStringLiteral("BARCODE")));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("/dev/ttyUSB0")) &&
                lines[2].endsWith(QStringLiteral("KERN_572")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("pH meter")) && lines[3].contains(QStringLiteral(" - ")));

    const QString balance = ok({"settings", "--profile", "balance"});
    EXPECT_TRUE(balance.contains(QStringLiteral("\nport=/dev/ttyUSB0\n")) ||
                balance.startsWith("port=/dev/ttyUSB0\n"));
    EXPECT_TRUE(balance.contains(QStringLiteral("\ndecimalPlaces=3\n")));
    EXPECT_TRUE(balance.contains(QStringLiteral("\ndelay=35\n"))); // program-wide: the first profile's
    // The first profile, with and without --profile, is untouched by the others.
    const QString first = ok({"settings"});
    EXPECT_EQ(ok({"settings", "--profile", "Scanner"}), first);
    EXPECT_TRUE(first.contains(QStringLiteral("\ndecimalPlaces=\n")));

    const CliRun unknown = cli({"settings", "--profile", "Scale"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("\"Scanner\", \"Balance\", \"pH meter\"")))
        << unknown.err.toStdString();

    // A program-wide setting given for a further profile changes it for all, and says so.
    const CliRun delay = cli({"set", "--profile", "Balance", "delay=50"});
    EXPECT_EQ(delay.exitCode, 0);
    EXPECT_TRUE(delay.err.contains(QStringLiteral("kept once for the program")));
    EXPECT_TRUE(ok({"settings"}).contains(QStringLiteral("\ndelay=50\n")));
    EXPECT_EQ(storeBytes().count("delay="), 1);
}

TEST_F(ProfilesCliTest, APortChosenTwiceIsRefusedAndNothingIsStored) {
    makeStation();
    const QByteArray before = storeBytes();
    const CliRun other = cli({"set", "--profile", "pH meter", "port=/dev/ttyUSB0", "decimalPlaces=1"});
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_TRUE(other.err.contains(QStringLiteral("/dev/ttyUSB0 is already used by the profile \"Balance\"")))
        << other.err.toStdString();
    const CliRun created = cli({"set", "--profile", "Gauge", "port=/dev/ttyS0"});
    EXPECT_EQ(created.exitCode, 1);
    EXPECT_TRUE(created.err.contains(QStringLiteral("\"Scanner\""))) << created.err.toStdString();
    const CliRun first = cli({"set", "port=/dev/ttyUSB0"});
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_TRUE(first.err.contains(QStringLiteral("\"Balance\""))) << first.err.toStdString();
    EXPECT_EQ(storeBytes(), before);
    // Its own port again is no conflict.
    ok({"set", "--profile", "Balance", "port=/dev/ttyUSB0"});
}

TEST_F(ProfilesCliTest, ANinthProfileAndBadNamesAreRefused) {
    for (int i = 2; i <= 8; ++i)
        ok({"set", "--profile", QStringLiteral("Scale %1").arg(i),
            QStringLiteral("port=/dev/ttyUSB%1").arg(i)});
    const QByteArray eight = storeBytes();
    const CliRun ninth = cli({"set", "--profile", "Scale 9", "decimalPlaces=1"});
    EXPECT_EQ(ninth.exitCode, 1);
    EXPECT_TRUE(ninth.err.contains(QStringLiteral("at most 8 profiles"))) << ninth.err.toStdString();
    // An existing one can still be changed.
    ok({"set", "--profile", "scale 8", "decimalPlaces=1"});
    EXPECT_NE(storeBytes(), eight);

    const QByteArray before = storeBytes();
    for (const QString& bad : {QStringLiteral(" "), QString(41, u'n'), QStringLiteral("a\tb")}) {
        ok({"profiles", "remove", "Scale 7"}); // room for one
        const CliRun r = cli({"set", "--profile", bad, "decimalPlaces=1"});
        EXPECT_EQ(r.exitCode, 2) << bad.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Nothing was stored"))) << r.err.toStdString();
        ok({"set", "--profile", "Scale 7", "port=/dev/ttyUSB7"});
    }
    const CliRun dup = cli({"profiles", "rename", "Scale 2", "SCALE 3"});
    EXPECT_EQ(dup.exitCode, 2);
    EXPECT_TRUE(dup.err.contains(QStringLiteral("already named \"Scale 3\""))) << dup.err.toStdString();
    EXPECT_EQ(ok({"profiles"}).split(u'\n', Qt::SkipEmptyParts).size(), 9);
}

TEST_F(ProfilesCliTest, RenameAndRemoveWithTheFirstProfilePromotingTheNext) {
    makeStation();
    EXPECT_TRUE(ok({"profiles", "rename", "balance", "Scale"}).contains(QStringLiteral("to \"Scale\"")));
    EXPECT_TRUE(ok({"settings", "--profile", "Scale"}).contains(QStringLiteral("decimalPlaces=3")));

    const CliRun missing = cli({"profiles", "remove", "Balance"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(ok({"profiles", "remove", "Scanner"}).contains(QStringLiteral("\"Scale\" is now the first")));
    // The promoted profile's settings are now the record older versions read; program-wide ones kept.
    const QString first = ok({"settings"});
    EXPECT_TRUE(first.contains(QStringLiteral("port=/dev/ttyUSB0\n")));
    EXPECT_TRUE(first.contains(QStringLiteral("\ninstrument=KERN_572\n")));
    EXPECT_TRUE(first.contains(QStringLiteral("\ndelay=35\n")));
    ok({"profiles", "remove", "pH meter"});
    const CliRun last = cli({"profiles", "remove", "Scale"});
    EXPECT_EQ(last.exitCode, 1);
    EXPECT_TRUE(last.err.contains(QStringLiteral("only profile")));
    EXPECT_FALSE(storeBytes().contains("pH"));
    EXPECT_FALSE(storeBytes().contains("BARCODE"));
}

TEST_F(ProfilesCliTest, ExportAndImportOfThreeProfilesRoundTripExactly) {
    makeStation();
    const QString xml = dir.filePath(QStringLiteral("station.xml"));
    EXPECT_TRUE(ok({"export", xml}).contains(QStringLiteral("and 2 further profiles")));

    const QString other = dir.filePath(QStringLiteral("other.txt"));
    ok({"set", "--profile", "Old", "port=/dev/ttyACM0"}, other); // replaced by the import
    EXPECT_TRUE(ok({"import", xml}, other).contains(QStringLiteral("and 2 further profiles")));
    EXPECT_EQ(ok({"profiles"}, other), ok({"profiles"}));
    for (const char* name : {"Scanner", "Balance", "pH meter"})
        EXPECT_EQ(ok({"settings", "--profile", name}, other), ok({"settings", "--profile", name})) << name;
    const QString again = dir.filePath(QStringLiteral("again.xml"));
    ok({"export", again}, other);
    QFile a(xml), b(again);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());

    // A station whose profiles share a port is refused as a whole.
    QFile f(xml);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray text = f.readAll();
    f.close();
    text.replace("port=\"/dev/ttyUSB0\"", "port=\"/dev/ttyS0\"");
    const QString clash = dir.filePath(QStringLiteral("clash.xml"));
    QFile c(clash);
    ASSERT_TRUE(c.open(QIODevice::WriteOnly));
    c.write(text);
    c.close();
    const QByteArray before = storeBytes();
    const CliRun r = cli({"import", clash});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("already used by the profile \"Scanner\"")))
        << r.err.toStdString();
    EXPECT_EQ(storeBytes(), before);
}

} // namespace
