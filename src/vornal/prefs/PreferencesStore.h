#pragma once

#include "vornal/prefs/AbstractPreferences.h"

#include <QString>

#include <memory>

namespace vornal::prefs {

// Which file backs the preferences tree of this process. Every backend uses the file format of
// FilePreferences; they differ only in the file's location:
//
// - per-user (normal installation): QStandardPaths::GenericConfigLocation + "/Halvorn/Vornal/prefs.txt"
//   (Linux: ~/.config/Halvorn/Vornal/prefs.txt; Windows: %LOCALAPPDATA%/Halvorn/Vornal/prefs.txt);
// - shared installation (all users of the machine share one set of settings): the environment variable
//   "ProgramData" + "/Halvorn/VornalMU/prefs.txt"; when "ProgramData" is not set, C:/ProgramData on
//   Windows and /var/lib elsewhere (so /var/lib/Halvorn/VornalMU/prefs.txt on Linux, which the
//   installer makes writable for the users' group). A shared installation is recognised at launch by
//   the environment variable VORNAL_SHARED=1 or by a file "vornal.shared" next to the executable;
// - an explicit file (vornal-cli --store FILE, tests).
class PreferencesStore {
public:
    enum class Kind { PerUser, Shared, Explicit };

    static constexpr const char* SHARED_ENVIRONMENT = "VORNAL_SHARED";
    static constexpr const char* SHARED_MARKER = "vornal.shared";

    static QString perUserFile();
    static QString sharedFile();
    // VORNAL_SHARED set to anything but "" or "0", or the marker file in `programDir`
    // (default: the running program's folder).
    static bool isSharedInstallation(const QString& programDir = QString());

    // Decides the backend before the first access to the tree and installs it: `explicitFile` when not
    // empty, otherwise shared or per-user. Replaces a backend selected before. Returns the kind chosen.
    static Kind select(const QString& explicitFile = QString());
    static Kind selectedKind();
    // The file behind the tree (after select()).
    static QString file();

    // The user root of the selected tree (selects the default backend when nothing was selected).
    static std::shared_ptr<AbstractPreferences> userRoot();
};

} // namespace vornal::prefs
