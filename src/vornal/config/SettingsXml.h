#pragma once

#include "vornal/prefs/PreferencesXml.h"

#include <QString>
#include <QStringList>

namespace vornal::prefs {
class AbstractPreferences;
}

namespace vornal::config {

class Config;

// Export and import of the program's settings (the node "/halvorn/Vornal") through the preferences
// export document. The window shows "Import failed\n" + message (or "export.failed" + message) when ok
// is false.
class SettingsXml {
public:
    struct Result {
        bool ok = false;
        // Why it failed (empty when ok).
        QString message;
        // The keys written (export) or stored (import), in file order.
        QStringList keys;
    };

    // Writes the settings as the record would save them (Config::storedEntries) to `fileName`,
    // atomically. So the file holds exactly what the window shows and can always be imported again.
    static Result exportSettings(const Config& config, const QString& fileName);

    // Reads `fileName` and, only when every part of it is acceptable, stores its values in
    // `settingsNode` (the settings node "/halvorn/Vornal") and flushes the node. Refused: a file that is
    // not a settings export, entries of another node, unknown keys, a key given twice, and any value the
    // settings' own rules refuse (Config::setByKey). A refused file leaves the store untouched. When the
    // store cannot be written, the previous values are put back in the node (as far as the store allows)
    // and the failure is returned.
    static Result importSettings(prefs::AbstractPreferences& settingsNode, const QString& fileName);

    // The checks of importSettings without storing: the entries to store, in stored form. Throws
    // prefs::InvalidPreferencesFormatException with the reason.
    static prefs::PreferencesXml::Entries checkSettings(const prefs::PreferencesXml::Document& document);
};

} // namespace vornal::config
