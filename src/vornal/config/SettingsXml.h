#pragma once

#include "vornal/prefs/PreferencesXml.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace vornal::prefs {
class AbstractPreferences;
}

namespace vornal::config {

class Config;
struct Profile;

// Export and import of the program's settings (the node "/halvorn/Vornal") through the preferences
// export document. The window shows "Import failed\n" + message (or "export.failed" + message) when ok
// is false.
class SettingsXml {
public:
    struct Result {
        bool ok = false;
        // Why it failed (empty when ok).
        QString message;
        // The keys written (export) or stored (import), in file order; of the first profile for a station.
        QStringList keys;
        // The profiles written or stored (1 for a file of the record alone).
        int profiles = 1;
    };

    // The processing instruction that marks the export of a station (target; data `profiles="N"
    // profileName="first profile's name"`), and the one that carries each further profile (data
    // `profileName="..." key="value" ...`, keys in save order without the program-wide ones). Readers that
    // know nothing of profiles ignore both and read the first profile alone.
    static constexpr const char* STATION_INSTRUCTION = "vornal-station";
    static constexpr const char* PROFILE_INSTRUCTION = "vornal-profile";

    // Settings never written to an export file (passwords): they stay on the computer they were typed on.
    // A setting holding a secret adds its key here.
    static const QStringList& secretKeys();

    // Writes the settings as the record would save them (Config::storedEntries) to `fileName`,
    // atomically. So the file holds exactly what the window shows and can always be imported again.
    static Result exportSettings(const Config& config, const QString& fileName);

    // Writes every profile of a station: the first as exportSettings does (so older versions read it as
    // the settings), the others and the names as processing instructions.
    static Result exportStation(const std::vector<Profile>& profiles, const QString& fileName);

    // Reads `fileName` and, only when every part of it is acceptable, stores its values in
    // `settingsNode` (the settings node "/halvorn/Vornal") and flushes the node. Refused: a file that is
    // not a settings export, entries of another node, unknown keys, a key given twice, and any value the
    // settings' own rules refuse (Config::setByKey). A refused file leaves the store untouched. When the
    // store cannot be written, the previous values are put back in the node (as far as the store allows)
    // and the failure is returned.
    //
    // The export of a station (exportStation) replaces the stored station: the first profile takes the
    // file's values (keys the file does not hold keep their stored values), the other profiles are the
    // file's, stored as Profiles::save does (old or new after a crash). Refused besides: a station whose
    // profiles do not match its count, bad or repeated names, a port used twice, more than
    // Profiles::MAX_PROFILES profiles, program-wide settings in a further profile. A file without the
    // station mark changes the first profile only.
    static Result importSettings(prefs::AbstractPreferences& settingsNode, const QString& fileName);

    // The profiles of a station export (first profile: the file's entries only, over the defaults), checked
    // as importSettings checks them; none for a file without the station mark. Throws
    // prefs::InvalidPreferencesFormatException with the reason.
    struct Station {
        bool present = false;
        QString firstName;
        // The further profiles: name and entries in stored form.
        std::vector<std::pair<QString, prefs::PreferencesXml::Entries>> others;
    };
    static Station checkStation(const prefs::PreferencesXml::Document& document);

    // The checks of importSettings without storing: the entries to store, in stored form. Throws
    // prefs::InvalidPreferencesFormatException with the reason.
    static prefs::PreferencesXml::Entries checkSettings(const prefs::PreferencesXml::Document& document);

private:
    static Result importStation(prefs::AbstractPreferences& settingsNode, const QString& fileName,
                                const prefs::PreferencesXml::Entries& entries, const Station& station);
};

} // namespace vornal::config
