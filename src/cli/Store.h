#pragma once

// Opening the preferences store for a subcommand: --store FILE selects the file-backed store at FILE,
// otherwise the program's own store (shared installation or per-user, see PreferencesStore).
// Header-only: the command-line program is built from main.cpp and the cmd_*.cpp files.

#include "Cli.h"

#include "vornal/config/Config.h"
#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/prefs/PreferencesStore.h"

#include <QDir>

#include <memory>

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

} // namespace vornal::cli
