#pragma once

// What the option sets and the presets share to name their constants: the bundle of display texts and a
// table entry that holds a constant's name and its fixed text or bundle key. Internal to config/.

#include "vornal/util/ResourceBundle.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>

namespace vornal::config::texts {

// The bundle "vornal.config.ConfigBundle", fixed at first use, so that every text of the option sets
// comes from one language.
const util::ResourceBundle& bundle();
// Forgets the bundle: the next text is looked up again in the current language.
void reload();

// One constant of a set: its name and its display text, which is either fixed or a bundle key.
struct Entry {
    const char* name;
    const char* display;
    bool isKey;
};

QString displayText(const Entry& e);

template <std::size_t N> QString nameAt(const std::array<Entry, N>& table, int ordinal) {
    return QString::fromLatin1(table.at(std::size_t(ordinal)).name);
}
template <std::size_t N> QString displayAt(const std::array<Entry, N>& table, int ordinal) {
    return displayText(table.at(std::size_t(ordinal)));
}

// Adds the entry's bundle key to keys, once; nothing for a fixed text.
void addBundleKey(QStringList& keys, const Entry& e);

} // namespace vornal::config::texts
