// vornal-cli export and import as a user calls them.
#include "support/Cli.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Result = vornal::test::CliResult;

class SettingsCli : public ::testing::Test {
protected:
    Result cli(const QStringList& args, const QString& store = {}) {
        return vornal::test::runCli(
            QStringList{QStringLiteral("--store"), store.isEmpty() ? path("prefs.txt") : store} + args);
    }
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    QByteArray checksum(const QString& file) const {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return "missing";
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
    }

    QTemporaryDir dir_;
};

} // namespace

TEST_F(SettingsCli, ExportedSettingsImportIntoAnotherStore) {
    ASSERT_EQ(cli({"set", "port=COM4", "delay=45", "customRegEx=([0-9]+)kg"}).exitCode, 0);
    const Result e = cli({"export", path("Vornal.xml")});
    ASSERT_EQ(e.exitCode, 0) << e.err.toStdString();
    EXPECT_TRUE(e.out.contains("Vornal.xml"));

    const Result again = cli({"export", path("Vornal.xml")});
    EXPECT_EQ(again.exitCode, 1) << "an existing file is not overwritten without --force";
    EXPECT_TRUE(again.err.contains("--force"));
    EXPECT_EQ(cli({"export", "--force", path("Vornal.xml")}).exitCode, 0);

    const QString other = path("other.txt");
    const Result i = cli({"import", path("Vornal.xml")}, other);
    ASSERT_EQ(i.exitCode, 0) << i.err.toStdString();
    Result s = cli({"settings"}, other);
    s.out.prepend(u'\n');
    EXPECT_TRUE(s.out.contains("\nport=COM4\n")) << s.out.toStdString();
    EXPECT_TRUE(s.out.contains("\ndelay=45\n"));
    EXPECT_TRUE(s.out.contains("\ncustomRegEx=([0-9]+)kg\n"));
}

TEST_F(SettingsCli, ARefusedImportExitsNonZeroAndLeavesTheStoreFileUnchanged) {
    ASSERT_EQ(cli({"set", "delay=45"}).exitCode, 0);
    ASSERT_EQ(cli({"export", path("Vornal.xml")}).exitCode, 0);
    QFile f(path("Vornal.xml"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray doc = f.readAll();
    f.close();
    ASSERT_TRUE(doc.contains("value=\"45\""));

    struct Case {
        const char* file;
        QByteArray content;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"bad-value.xml", QByteArray(doc).replace("value=\"45\"", "value=\"-1\""), "\"delay\""},
        {"truncated.xml", doc.left(doc.size() / 2), "truncated"},
        {"unknown.xml", QByteArray(doc).replace("key=\"delay\"", "key=\"speed\""), "\"speed\""},
        {"not-xml.xml", "port=COM1\n", "not a settings export"},
    };
    ASSERT_EQ(cli({"set", "delay=12"}).exitCode, 0);
    const QByteArray before = checksum(path("prefs.txt"));
    for (const auto& c : cases) {
        QFile out(path(c.file));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(c.content);
        out.close();
        const Result r = cli({"import", path(c.file)});
        EXPECT_EQ(r.exitCode, 1) << c.file;
        EXPECT_TRUE(r.err.contains("import failed")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String(c.reason))) << c.file << ": " << r.err.toStdString();
        EXPECT_EQ(checksum(path("prefs.txt")), before) << c.file;
    }
    // Into a store that does not exist yet: a refused import does not create it.
    const Result r = cli({"import", path("not-xml.xml")}, path("new-store.txt"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(QFile::exists(path("new-store.txt")));
}

TEST_F(SettingsCli, UsageErrors) {
    EXPECT_EQ(cli({"export"}).exitCode, 2);
    EXPECT_EQ(cli({"import"}).exitCode, 2);
    EXPECT_EQ(cli({"import", "a.xml", "b.xml"}).exitCode, 2);
}
