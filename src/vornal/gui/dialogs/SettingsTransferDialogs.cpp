#include "SettingsTransferDialogs.h"

#include "DialogTexts.h"
#include "MessageBoxes.h"
#include "vornal/config/SettingsXml.h"
#include "vornal/prefs/PreferencesXml.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace vornal {

namespace {
SettingsTransferDialogs::FileChooser& fileChooser() {
    static SettingsTransferDialogs::FileChooser chooser;
    return chooser;
}

// The folder of the last file chosen in this run ("" before the first choice).
QString& lastFolder() {
    static QString folder;
    return folder;
}

QString startFolder() {
    return lastFolder().isEmpty() ? QDir::homePath() : lastFolder();
}

QString t(const char* key) {
    return DialogTexts::text(QString::fromLatin1(key));
}
} // namespace

void SettingsTransferDialogs::setFileChooser(FileChooser chooser) {
    fileChooser() = std::move(chooser);
}

QString SettingsTransferDialogs::chooseFile(QWidget* owner, bool save, const QString& suggested) {
    const QString chosen = showFileDialog(owner, save, suggested);
    if (!chosen.isEmpty())
        lastFolder() = QFileInfo(chosen).absolutePath();
    return chosen;
}

void SettingsTransferDialogs::forgetLastFolder() {
    lastFolder().clear();
}

QString SettingsTransferDialogs::showFileDialog(QWidget* owner, bool save, const QString& suggested) {
    if (fileChooser())
        return fileChooser()(owner, save, suggested);
    const QString filter = t("settings.file.filter") + QStringLiteral(" (*.xml);;") + t("all.files.filter") +
                           QStringLiteral(" (*)");
    if (save)
        // The overwrite question is ours (with our texts), not the file dialog's.
        return QFileDialog::getSaveFileName(owner, t("export.settings.dialog.title"), suggested, filter,
                                            nullptr, QFileDialog::DontConfirmOverwrite);
    return QFileDialog::getOpenFileName(owner, t("import.settings.dialog.title"), suggested, filter);
}

SettingsTransferDialogs::ExportOutcome
SettingsTransferDialogs::exportSettings(QWidget* owner, const config::Config& config,
                                        const std::function<QString()>& updateAndSave) {
    return exportWith(owner, updateAndSave, [&config](const QString& file) {
        return config::SettingsXml::exportSettings(config, file);
    });
}

SettingsTransferDialogs::ExportOutcome
SettingsTransferDialogs::exportStation(QWidget* owner,
                                       const std::function<std::vector<config::Profile>()>& station,
                                       const std::function<QString()>& updateAndSave) {
    return exportWith(owner, updateAndSave, [&station](const QString& file) {
        return config::SettingsXml::exportStation(station(), file);
    });
}

SettingsTransferDialogs::ExportOutcome SettingsTransferDialogs::exportWith(
    QWidget* owner, const std::function<QString()>& updateAndSave,
    const std::function<config::SettingsXml::Result(const QString& file)>& write) {
    const QString file = chooseFile(owner, true, QDir(startFolder()).filePath(DEFAULT_FILE_NAME));
    if (file.isEmpty())
        return ExportOutcome::Cancelled;
    if (QFileInfo::exists(file) && !MessageBoxes::confirm(owner, t("file.already.exists.overwrite"),
                                                          t("overwrite"), MessageBoxes::Choice::NoYes))
        return ExportOutcome::Cancelled;
    if (updateAndSave) {
        const QString failure = updateAndSave();
        if (!failure.isEmpty()) {
            MessageBoxes::error(owner, t("export.failed") + failure, t("error"));
            return ExportOutcome::Failed;
        }
    }
    const config::SettingsXml::Result result = write(file);
    if (!result.ok) {
        MessageBoxes::error(owner, t("export.failed") + result.message, t("error"));
        return ExportOutcome::Failed;
    }
    MessageBoxes::information(owner, t("configuration.exported.to.file.n") + QDir::toNativeSeparators(file),
                              t("export.successful"));
    return ExportOutcome::Exported;
}

SettingsTransferDialogs::ImportOutcome
SettingsTransferDialogs::importSettings(QWidget* owner, prefs::AbstractPreferences& node) {
    const QString file = chooseFile(owner, false, startFolder());
    if (file.isEmpty())
        return ImportOutcome::Cancelled;
    const config::SettingsXml::Result result = config::SettingsXml::importSettings(node, file);
    if (!result.ok) {
        MessageBoxes::error(owner, t("import.failed") + u'\n' + result.message, t("error"));
        return ImportOutcome::Failed;
    }
    if (MessageBoxes::confirm(owner, t("import.apply.and.exit"), t("import.restart.required"),
                              MessageBoxes::Choice::OkCancel))
        return ImportOutcome::ExitRequested;
    return ImportOutcome::ImportedKeepRunning;
}

} // namespace vornal
