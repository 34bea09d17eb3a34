#include "MessageBoxes.h"
#include "dialogs/DialogTexts.h"
#include "dialogs/SettingsTransferDialogs.h"
#include "vornal/config/Config.h"
#include "vornal/prefs/FilePreferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace vornal;
using prefs::FilePreferencesFactory;

namespace {

QString t(const char* key) {
    return DialogTexts::text(QString::fromLatin1(key));
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class SettingsTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        FilePreferencesFactory::setFileProperty(dir.filePath(QStringLiteral("store.prefs")));
        FilePreferencesFactory::reset();
        node = FilePreferencesFactory::userRoot()->node(QStringLiteral("/halvorn/Vornal"));
        MessageBoxes::takeRecords();
        SettingsTransferDialogs::forgetLastFolder();
        SettingsTransferDialogs::setFileChooser([this](QWidget*, bool save, const QString& suggested) {
            lastSave = save;
            lastSuggested = suggested;
            return chosen;
        });
        config.setDelay(QStringLiteral("20"));
    }
    void TearDown() override {
        SettingsTransferDialogs::setFileChooser(nullptr);
        FilePreferencesFactory::setFileProperty(QString());
        FilePreferencesFactory::reset();
    }
    // What the window does before exporting: copy the controls (here: a changed delay) and save.
    std::function<QString()> updateAndSave(const QString& delay, const QString& failure = QString()) {
        return [this, delay, failure] {
            ++saves;
            config.setDelay(delay);
            return failure;
        };
    }

    QTemporaryDir dir;
    std::shared_ptr<prefs::AbstractPreferences> node;
    config::Config config;
    QString chosen;
    bool lastSave = false;
    QString lastSuggested;
    int saves = 0;
};

} // namespace

TEST_F(SettingsTransferTest, ExportWritesWhatTheWindowShows) {
    chosen = dir.filePath(QStringLiteral("out.xml"));
    EXPECT_EQ(SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("55"))),
              SettingsTransferDialogs::ExportOutcome::Exported);
    EXPECT_TRUE(lastSave);
    EXPECT_TRUE(lastSuggested.endsWith(QStringLiteral("Vornal.xml")));
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(readAll(chosen).contains("<entry key=\"delay\" value=\"55\"/>"))
        << readAll(chosen).toStdString();
    const auto records = MessageBoxes::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].kind, MessageBoxes::Kind::Information);
    EXPECT_EQ(records[0].title, t("export.successful"));
    EXPECT_EQ(records[0].text, t("configuration.exported.to.file.n") + QDir::toNativeSeparators(chosen));
}

TEST_F(SettingsTransferTest, ExportCancelledOrNotOverwritten) {
    chosen.clear();
    EXPECT_EQ(SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("55"))),
              SettingsTransferDialogs::ExportOutcome::Cancelled);
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());

    chosen = dir.filePath(QStringLiteral("existing.xml"));
    {
        QFile f(chosen);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    MessageBoxes::setNextAnswer(QMessageBox::No);
    EXPECT_EQ(SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("55"))),
              SettingsTransferDialogs::ExportOutcome::Cancelled);
    EXPECT_EQ(readAll(chosen), QByteArray("keep me"));
    EXPECT_EQ(saves, 0);
    auto records = MessageBoxes::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].kind, MessageBoxes::Kind::Question);
    EXPECT_EQ(records[0].text, t("file.already.exists.overwrite"));
    EXPECT_EQ(records[0].title, t("overwrite"));
    // Replacing a file is never the default: Enter keeps it.
    EXPECT_EQ(records[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(records[0].defaultButton, QMessageBox::No);

    MessageBoxes::setNextAnswer(QMessageBox::Yes);
    EXPECT_EQ(SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("7"))),
              SettingsTransferDialogs::ExportOutcome::Exported);
    EXPECT_TRUE(readAll(chosen).contains("value=\"7\""));
}

TEST_F(SettingsTransferTest, ExportFailures) {
    chosen = dir.filePath(QStringLiteral("out.xml"));
    EXPECT_EQ(SettingsTransferDialogs::exportSettings(
                  nullptr, config, updateAndSave(QStringLiteral("5"), QStringLiteral("disk full"))),
              SettingsTransferDialogs::ExportOutcome::Failed);
    auto records = MessageBoxes::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].text, t("export.failed") + QStringLiteral("disk full"));
    EXPECT_EQ(records[0].title, t("error"));
    EXPECT_FALSE(QFile::exists(chosen));

    chosen = dir.filePath(QStringLiteral("no/such/folder/out.xml"));
    EXPECT_EQ(SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("5"))),
              SettingsTransferDialogs::ExportOutcome::Failed);
    records = MessageBoxes::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_TRUE(records[0].text.startsWith(t("export.failed")));
    EXPECT_GT(records[0].text.size(), t("export.failed").size()) << "the reason is given";
}

TEST_F(SettingsTransferTest, ImportAsksToExitAndStoresTheValues) {
    chosen = dir.filePath(QStringLiteral("settings.xml"));
    ASSERT_EQ(SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("321"))),
              SettingsTransferDialogs::ExportOutcome::Exported);
    MessageBoxes::takeRecords();

    MessageBoxes::setNextAnswer(QMessageBox::Ok);
    EXPECT_EQ(SettingsTransferDialogs::importSettings(nullptr, *node),
              SettingsTransferDialogs::ImportOutcome::ExitRequested);
    EXPECT_FALSE(lastSave);
    EXPECT_EQ(node->get(QStringLiteral("delay"), QString()), QStringLiteral("321"));
    auto records = MessageBoxes::takeRecords();
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].kind, MessageBoxes::Kind::Question);
    EXPECT_EQ(records[0].text, QStringLiteral("Apply imported configuration and exit?"));
    EXPECT_EQ(records[0].title, QStringLiteral("Restart required"));
    EXPECT_EQ(records[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(records[0].defaultButton, QMessageBox::Ok);
    EXPECT_EQ(SettingsTransferDialogs::EXIT_AFTER_IMPORT, 4);

    MessageBoxes::setNextAnswer(QMessageBox::Cancel);
    EXPECT_EQ(SettingsTransferDialogs::importSettings(nullptr, *node),
              SettingsTransferDialogs::ImportOutcome::ImportedKeepRunning);
    MessageBoxes::takeRecords();

    chosen.clear();
    EXPECT_EQ(SettingsTransferDialogs::importSettings(nullptr, *node),
              SettingsTransferDialogs::ImportOutcome::Cancelled);
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());
}

TEST_F(SettingsTransferTest, ImportOfAFileThatIsNoExportChangesNothing) {
    node->put(QStringLiteral("delay"), QStringLiteral("20"));
    node->flush();
    for (const QByteArray& content :
         {QByteArray("just text"), QByteArray("<?xml version=\"1.0\"?><preferences/>"), QByteArray()}) {
        chosen = dir.filePath(QStringLiteral("bad.xml"));
        QFile f(chosen);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        EXPECT_EQ(SettingsTransferDialogs::importSettings(nullptr, *node),
                  SettingsTransferDialogs::ImportOutcome::Failed);
        const auto records = MessageBoxes::takeRecords();
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(records[0].kind, MessageBoxes::Kind::Error);
        EXPECT_TRUE(records[0].text.startsWith(QStringLiteral("Import failed\n")))
            << records[0].text.toStdString();
        EXPECT_GT(records[0].text.size(), 14);
        EXPECT_EQ(records[0].title, t("error"));
        EXPECT_EQ(node->get(QStringLiteral("delay"), QString()), QStringLiteral("20"));
    }
    chosen = dir.filePath(QStringLiteral("missing.xml"));
    EXPECT_EQ(SettingsTransferDialogs::importSettings(nullptr, *node),
              SettingsTransferDialogs::ImportOutcome::Failed);
    EXPECT_EQ(MessageBoxes::takeRecords().size(), 1);
}

TEST_F(SettingsTransferTest, FileDialogsOpenInTheLastFolderUsed) {
    chosen.clear();
    SettingsTransferDialogs::importSettings(nullptr, *node);
    EXPECT_EQ(lastSuggested, QDir::homePath());
    SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("5")));
    EXPECT_EQ(lastSuggested, QDir::home().filePath(QStringLiteral("Vornal.xml")));
    // A cancelled dialog changes nothing; a chosen file's folder is where the next dialog opens.
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    chosen = dir.filePath(QStringLiteral("sub/mine.xml"));
    ASSERT_EQ(SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("5"))),
              SettingsTransferDialogs::ExportOutcome::Exported);
    chosen.clear();
    SettingsTransferDialogs::importSettings(nullptr, *node);
    EXPECT_EQ(lastSuggested, QFileInfo(dir.filePath(QStringLiteral("sub"))).absoluteFilePath());
    SettingsTransferDialogs::exportSettings(nullptr, config, updateAndSave(QStringLiteral("5")));
    EXPECT_EQ(lastSuggested, QFileInfo(dir.filePath(QStringLiteral("sub"))).absoluteFilePath() +
                                 QStringLiteral("/Vornal.xml"));
}
