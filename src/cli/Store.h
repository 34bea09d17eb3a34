#pragma once

// Opening the preferences store for a subcommand: --store FILE selects the file-backed store at FILE,
// otherwise the program's own store (shared installation or per-user, see PreferencesStore).
// Header-only: the command-line program is built from main.cpp and the cmd_*.cpp files.

#include "Cli.h"

#include "vornal/config/Config.h"
#include "vornal/config/Profiles.h"
#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/prefs/PreferencesStore.h"

#include <QDir>

#include <memory>
#include <optional>
#include <vector>

namespace vornal::cli {

// Selects the store of `inv` and returns the settings node ("/halvorn/Vornal"). Never fails: a file
// that cannot be read gives an empty node (the settings load says so), and writes report their own
// failures.
inline std::shared_ptr<prefs::AbstractPreferences> openSettingsNode(const Invocation& inv) {
    prefs::PreferencesStore::select(inv.storeFile);
    return prefs::PreferencesStore::userRoot()->node(QString::fromLatin1(config::Config::SETTINGS_NODE));
}

// The file behind the selected store, for messages.
inline QString storeFileName() {
    return QDir::toNativeSeparators(prefs::PreferencesStore::file());
}

// The stored profiles of the store of `inv` (selected here). `ports` are the ports of the system (an empty
// list: the ports as stored, Profiles::storedPorts). Invalid stored values are reported on standard error
// ("vornal-cli COMMAND: ...") and replaced by their defaults, as the window does.
inline std::vector<config::Profile> loadStation(const Invocation& inv, Io& io, const QStringList& ports) {
    prefs::PreferencesStore::select(inv.storeFile);
    auto root = prefs::PreferencesStore::userRoot();
    const QStringList available = ports.isEmpty() ? config::Profiles::storedPorts(*root) : ports;
    auto loaded = config::Profiles::load(*root, available);
    for (const QString& m : loaded.messages)
        io.err << "vornal-cli " << inv.command << ": " << m << Qt::endl;
    return std::move(loaded.profiles);
}

// "the profiles are: A, B" for messages about a name that is not one of them.
inline QString profileNames(const std::vector<config::Profile>& profiles) {
    QStringList names;
    for (const auto& p : profiles)
        names += QStringLiteral("\"%1\"").arg(p.name);
    return QStringLiteral("the profiles are: %1").arg(names.join(QStringLiteral(", ")));
}

// The stored profile named `name` (ignoring case), e.g. for run --profile NAME; none after printing why
// (exit status in `exitCode`: Usage for an unknown name).
inline std::optional<config::Profile> loadProfile(const Invocation& inv, Io& io, const QString& name,
                                                  const QStringList& ports, int* exitCode) {
    auto profiles = loadStation(inv, io, ports);
    const int index = config::Profiles::find(profiles, name);
    if (index < 0) {
        *exitCode = fail(io, inv,
                         QStringLiteral("no profile is named \"%1\"; %2 (see vornal-cli profiles)")
                             .arg(name, profileNames(profiles)),
                         Usage);
        return std::nullopt;
    }
    return std::move(profiles[std::size_t(index)]);
}

// Stores the profiles of `inv`'s store (Profiles::save); false after printing why.
inline bool saveStation(const Invocation& inv, Io& io, const std::vector<config::Profile>& profiles) {
    const QString why = config::Profiles::save(*prefs::PreferencesStore::userRoot(), profiles);
    if (why.isEmpty())
        return true;
    fail(io, inv, QStringLiteral("cannot store the profiles in %1: %2").arg(storeFileName(), why));
    return false;
}

} // namespace vornal::cli
