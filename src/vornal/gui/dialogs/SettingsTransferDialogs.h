#pragma once

#include "vornal/config/Profiles.h"
#include "vornal/config/SettingsXml.h"

#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace vornal::config {
class Config;
}
namespace vornal::prefs {
class AbstractPreferences;
}

namespace vornal {

// The dialogs of the settings export and import (the Settings tab's two buttons).
//
// exportSettingsButton:  SettingsTransferDialogs::exportSettings(this, config_, [this] {
//                            updateConfigFromTabs(); return saveConfig(); });
// importSettingsButton:  if (SettingsTransferDialogs::importSettings(this, *node_) ==
//                            SettingsTransferDialogs::ImportOutcome::ExitRequested)
//                            exit at once with EXIT_AFTER_IMPORT, without the closing handler (so the
//                            window does not save its own settings over the imported ones).
class SettingsTransferDialogs {
public:
    static constexpr int EXIT_AFTER_IMPORT = 4;
    static inline const QString DEFAULT_FILE_NAME = QStringLiteral("Vornal.xml");

    enum class ExportOutcome { Cancelled, Exported, Failed };
    enum class ImportOutcome {
        Cancelled,           // no file chosen
        Failed,              // "Import failed" shown; nothing changed
        ImportedKeepRunning, // stored, the user chose not to exit; the window's next save overwrites it
        ExitRequested        // stored and confirmed: exit with EXIT_AFTER_IMPORT now
    };

    // Asks for the file ("Vornal.xml" offered), confirms overwriting an existing file, runs
    // `updateAndSave` (copies the controls into `config` and saves it; returns the failure's message or
    // ""), writes the file from `config` and reports success or failure.
    static ExportOutcome exportSettings(QWidget* owner, const config::Config& config,
                                        const std::function<QString()>& updateAndSave);
    // The same for a station of several instruments: `station` gives them after `updateAndSave`.
    static ExportOutcome exportStation(QWidget* owner,
                                       const std::function<std::vector<config::Profile>()>& station,
                                       const std::function<QString()>& updateAndSave);

    // Asks for the file, reads it into the settings node `settingsNode` (all or nothing) and asks
    // "Apply imported configuration and exit?".
    static ImportOutcome importSettings(QWidget* owner, prefs::AbstractPreferences& settingsNode);

    // How a file is chosen: `save` for the export; `suggested` is the offered file. Returns the chosen
    // path or "" when the user cancelled. The default shows the platform's file dialog; tests replace it.
    using FileChooser = std::function<QString(QWidget* owner, bool save, const QString& suggested)>;
    static void setFileChooser(FileChooser chooser);
    // File dialogs open in the folder of the last file chosen in this run (the home folder before);
    // this starts over from the home folder.
    static void forgetLastFolder();

private:
    static ExportOutcome
    exportWith(QWidget* owner, const std::function<QString()>& updateAndSave,
               const std::function<config::SettingsXml::Result(const QString& file)>& write);
    // Shows the file dialog and remembers the chosen file's folder.
    static QString chooseFile(QWidget* owner, bool save, const QString& suggested);
    static QString showFileDialog(QWidget* owner, bool save, const QString& suggested);
};

} // namespace vornal
