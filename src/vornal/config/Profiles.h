#pragma once

#include "vornal/config/Config.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace vornal::prefs {
class AbstractPreferences;
}

namespace vornal::config {

// One instrument's settings with the name the user gave it ("Balance", "Scanner").
struct Profile {
    QString name;
    Config config;
};

// The instruments of a station: the settings record at Config::SETTINGS_NODE is the first profile (so every
// stored settings file keeps working unchanged, as one profile); up to MAX_PROFILES in all.
//
// Storage: the first profile is the record at SETTINGS_NODE, keys where they always were. The others are
// child nodes of it ("profile-1a" ... "profile-7a", or the "b" set), listed in order by the first record's
// key PROFILE_NODES_KEY; each holds its record without the program-wide keys and its name under
// PROFILE_NAME_KEY. A save writes the others into the set not in use, then switches the list together with
// the first record in one write, then drops the previous set: a crash leaves the old or the new station.
// Older versions read only the first record's own keys and so see the first profile alone.
class Profiles {
public:
    static constexpr int MAX_PROFILES = 8;
    static constexpr int MAX_NAME_LENGTH = 40;
    // The profile's name (in the first record only when it is not the default name).
    static constexpr const char* PROFILE_NAME_KEY = "profileName";
    // In the first record: the child nodes of the other profiles, in order, separated by ",".
    static constexpr const char* PROFILE_NODES_KEY = "profileNodes";

    // Keys stored once for the whole program (language, tray, update check, typing way, key delay default,
    // ...): kept in the first profile's record; the others take them from it when loaded and never store
    // them.
    static const QStringList& programWideKeys();
    static bool isProgramWide(const QString& key) { return programWideKeys().contains(key); }

    struct LoadResult {
        std::vector<Profile> profiles; // never empty: at least the first profile
        QStringList messages; // one per invalid stored value or unreadable node (as Config::LoadResult)
        bool valid = true;
    };
    // Every stored profile of the store whose root node is `root`, the first one first.
    static LoadResult load(prefs::AbstractPreferences& root, const QStringList& availablePorts);
    // Writes every profile (and removes the stored ones no longer listed) and flushes: "" when all was
    // written, else the first failure (the message names the profile). A crash leaves old or new, never a
    // mixture. Nothing is written when the list itself is refused (empty, over MAX_PROFILES, a bad or
    // repeated name, a port used twice).
    static QString save(prefs::AbstractPreferences& root, const std::vector<Profile>& profiles);
    // "" when `name` may name profile `index` of `profiles` (not empty after trimming, at most 40 characters,
    // no control characters, unique ignoring case); else a message that says what to do. index -1: a new
    // profile.
    static QString checkName(const std::vector<Profile>& profiles, int index, const QString& name);
    // "" when no profile but `index` uses `port` (same device: the trimmed name, case-insensitive for Windows
    // names); else a clear message naming the profile that has it. An empty port never conflicts.
    static QString checkPort(const std::vector<Profile>& profiles, int index, const QString& port);
    // Index of the profile named `name` (ignoring case and surrounding blanks), -1 when none.
    static int find(const std::vector<Profile>& profiles, const QString& name);
    // The name the first profile has when none was stored ("Instrument 1"), and the name offered for a new
    // profile at `index`.
    static QString defaultName(int index);
    // "" when `profiles` may be saved as a station (count, names, ports); else the first problem.
    static QString checkStation(const std::vector<Profile>& profiles);
    // A new profile's record: the program-wide settings of `first`, everything else at its defaults.
    static Config newProfileConfig(const Config& first);
    // Gives every profile but the first the program-wide settings of the first.
    static void shareProgramWide(std::vector<Profile>& profiles);
    // The ports stored by the profiles (as typed, first profile first, each once): for a load that shows
    // the stored ports rather than checking them against the system's (the command line).
    static QStringList storedPorts(prefs::AbstractPreferences& root);
    // The stored form of a port for comparing: trimmed, Windows names in upper case without "\\.\".
    static QString portIdentity(const QString& port);
};

} // namespace vornal::config
