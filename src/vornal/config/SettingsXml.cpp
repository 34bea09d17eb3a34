#include "vornal/config/SettingsXml.h"

#include "vornal/config/Config.h"
#include "vornal/prefs/AbstractPreferences.h"

#include <QDir>

#include <optional>
#include <set>

namespace vornal::config {

namespace {

[[noreturn]] void refuse(const QString& reason) {
    throw prefs::InvalidPreferencesFormatException(reason);
}

} // namespace

prefs::PreferencesXml::Entries SettingsXml::checkSettings(const prefs::PreferencesXml::Document& document) {
    const QString settingsNode = QString::fromLatin1(Config::SETTINGS_NODE);
    if (document.nodePath != settingsNode)
        refuse(QStringLiteral("it holds the preferences node \"%1\", not Vornal's settings (\"%2\")")
                   .arg(document.nodePath, settingsNode));
    if (document.entries.empty())
        refuse(QStringLiteral("it holds no settings"));
    Config checked;
    std::set<QString> seen;
    prefs::PreferencesXml::Entries out;
    for (const auto& [key, value] : document.entries) {
        if (!seen.insert(key).second)
            refuse(QStringLiteral("the setting \"%1\" appears more than once").arg(key));
        QString why;
        if (!checked.setByKey(key, value, &why))
            refuse(why);
        out.emplace_back(key, checked.getByKey(key));
    }
    return out;
}

SettingsXml::Result SettingsXml::exportSettings(const Config& config, const QString& fileName) {
    Result result;
    const auto entries = config.storedEntries();
    try {
        prefs::PreferencesXml::writeFile(fileName,
                                         prefs::PreferencesXml::toDocument(
                                             QString::fromLatin1(Config::SETTINGS_NODE),
                                             prefs::PreferencesXml::Entries(entries.begin(), entries.end())));
    } catch (const std::exception& e) {
        result.message = QString::fromUtf8(e.what());
        return result;
    }
    for (const auto& e : entries)
        result.keys += e.first;
    result.ok = true;
    return result;
}

SettingsXml::Result SettingsXml::importSettings(prefs::AbstractPreferences& settingsNode,
                                                const QString& fileName) {
    Result result;
    prefs::PreferencesXml::Entries entries;
    try {
        const auto document = prefs::PreferencesXml::readFile(fileName);
        try {
            entries = checkSettings(document);
        } catch (const prefs::InvalidPreferencesFormatException& e) {
            refuse(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), e.message()));
        }
    } catch (const prefs::InvalidPreferencesFormatException& e) {
        result.message = e.message();
        return result;
    }

    // What the node held before, to put back when the store cannot take the new values.
    std::vector<std::pair<QString, std::optional<QString>>> previous;
    try {
        const QStringList present = settingsNode.keys();
        for (const auto& e : entries)
            previous.emplace_back(e.first, present.contains(e.first)
                                               ? std::optional<QString>(settingsNode.get(e.first, QString()))
                                               : std::nullopt);
        for (const auto& [key, value] : entries)
            settingsNode.put(key, value);
        settingsNode.flush();
    } catch (const std::exception& e) {
        result.message =
            QStringLiteral("the settings could not be stored: %1").arg(QString::fromUtf8(e.what()));
        try {
            for (const auto& [key, value] : previous) {
                if (value)
                    settingsNode.put(key, *value);
                else
                    settingsNode.remove(key);
            }
            settingsNode.flush();
        } catch (const std::exception&) {
            // The store is failing; the message above says so.
        }
        return result;
    }
    for (const auto& e : entries)
        result.keys += e.first;
    result.ok = true;
    return result;
}

} // namespace vornal::config
