#include "vornal/config/SettingsXml.h"

#include "vornal/config/Config.h"
#include "vornal/config/Profiles.h"
#include "vornal/prefs/AbstractPreferences.h"

#include <QDir>

#include <optional>
#include <set>

namespace vornal::config {

namespace {

[[noreturn]] void refuse(const QString& reason) {
    throw prefs::InvalidPreferencesFormatException(reason);
}

QString stationTarget() {
    return QString::fromLatin1(SettingsXml::STATION_INSTRUCTION);
}

QString profileTarget() {
    return QString::fromLatin1(SettingsXml::PROFILE_INSTRUCTION);
}

QString nameKey() {
    return QString::fromLatin1(Profiles::PROFILE_NAME_KEY);
}

// The record's entries as a save writes them, without the secrets (and without the program-wide settings
// for a further profile).
prefs::PreferencesXml::Entries exportedEntries(const Config& config, bool first) {
    prefs::PreferencesXml::Entries out;
    for (auto& e : config.storedEntries())
        if (!SettingsXml::secretKeys().contains(e.first) && (first || !Profiles::isProgramWide(e.first)))
            out.push_back(std::move(e));
    return out;
}

// A profile's settings as the text of its instruction; refused (naming the profile and the setting)
// when a value holds a character a settings file cannot carry.
QString instructionText(const QString& profile, const prefs::PreferencesXml::Entries& entries) {
    QStringList parts;
    for (const auto& [key, value] : entries) {
        for (qsizetype i = 0; i < value.size(); ++i) {
            const QChar c = value[i];
            const bool pair = c.isHighSurrogate() && i + 1 < value.size() && value[i + 1].isLowSurrogate();
            if (pair) {
                ++i;
                continue;
            }
            if ((c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c.isSurrogate() ||
                c.unicode() >= 0xFFFE)
                refuse(QStringLiteral(
                           "the value of the setting \"%1\" of the profile \"%2\" holds the character "
                           "U+%3, which a settings file cannot carry; change the setting and export "
                           "again")
                           .arg(key, profile)
                           .arg(c.unicode(), 4, 16, QLatin1Char('0')));
        }
        parts += QStringLiteral("%1=\"%2\"").arg(key, prefs::PreferencesXml::escapeAttribute(value));
    }
    return parts.join(u' ');
}

} // namespace

const QStringList& SettingsXml::secretKeys() {
    static const QStringList keys;
    return keys;
}

SettingsXml::Station SettingsXml::checkStation(const prefs::PreferencesXml::Document& document) {
    Station station;
    std::vector<Profile> named; // for the name checks
    int declared = 0;
    for (const auto& [target, data] : document.instructions) {
        if (target == stationTarget()) {
            if (station.present)
                refuse(QStringLiteral("it holds more than one station mark (<?%1 ...?>)").arg(target));
            station.present = true;
            for (const auto& [key, value] :
                 prefs::PreferencesXml::parseAttributes(data, QStringLiteral("the station mark"))) {
                if (key == u"profiles") {
                    bool ok = false;
                    declared = value.toInt(&ok);
                    if (!ok || declared < 1 || declared > Profiles::MAX_PROFILES)
                        refuse(QStringLiteral("the station mark gives %1 profiles; a station has 1 to %2")
                                   .arg(value)
                                   .arg(Profiles::MAX_PROFILES));
                } else if (key == nameKey()) {
                    station.firstName = value.trimmed();
                } else {
                    refuse(QStringLiteral("the station mark holds the unknown item \"%1\"").arg(key));
                }
            }
            if (declared == 0)
                refuse(QStringLiteral("the station mark does not say how many profiles the file holds"));
            if (station.firstName.isEmpty())
                station.firstName = Profiles::defaultName(0);
            if (const QString why = Profiles::checkName({}, -1, station.firstName); !why.isEmpty())
                refuse(QStringLiteral("the first profile's name is refused: %1").arg(why));
            named.push_back({station.firstName, Config()});
        } else if (target == profileTarget()) {
            if (!station.present)
                refuse(QStringLiteral("it holds a profile (<?%1 ...?>) before the station mark").arg(target));
            const int number = int(station.others.size()) + 2;
            const auto attributes =
                prefs::PreferencesXml::parseAttributes(data, QStringLiteral("profile %1").arg(number));
            QString name;
            Config checked;
            prefs::PreferencesXml::Entries entries;
            for (const auto& [key, value] : attributes) {
                if (key == nameKey()) {
                    name = value.trimmed();
                    continue;
                }
                const QString shown =
                    name.isEmpty() ? QString::number(number) : QStringLiteral("\"%1\"").arg(name);
                if (Profiles::isProgramWide(key))
                    refuse(
                        QStringLiteral("profile %1 holds \"%2\", which is kept once for the program (in the "
                                       "first profile)")
                            .arg(shown, key));
                QString why;
                if (!checked.setByKey(key, value, &why))
                    refuse(QStringLiteral("profile %1: %2").arg(shown, why));
                entries.emplace_back(key, checked.getByKey(key));
            }
            if (const QString why = Profiles::checkName(named, -1, name); !why.isEmpty())
                refuse(QStringLiteral("profile %1: %2").arg(number).arg(why));
            named.push_back({name, Config()});
            station.others.emplace_back(name, std::move(entries));
        }
    }
    if (station.present && int(station.others.size()) + 1 != declared)
        refuse(QStringLiteral("the station mark gives %1 profiles, but the file holds %2; it may be damaged")
                   .arg(declared)
                   .arg(station.others.size() + 1));
    return station;
}

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
    const auto entries = exportedEntries(config, true);
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

SettingsXml::Result SettingsXml::exportStation(const std::vector<Profile>& profiles,
                                               const QString& fileName) {
    Result result;
    if (const QString why = Profiles::checkStation(profiles); !why.isEmpty()) {
        result.message = why;
        return result;
    }
    const auto entries = exportedEntries(profiles.front().config, true);
    try {
        prefs::PreferencesXml::Instructions instructions;
        instructions.emplace_back(stationTarget(), QStringLiteral("profiles=\"%1\" %2=\"%3\"")
                                                       .arg(profiles.size())
                                                       .arg(nameKey(), prefs::PreferencesXml::escapeAttribute(
                                                                           profiles.front().name.trimmed())));
        for (std::size_t i = 1; i < profiles.size(); ++i) {
            prefs::PreferencesXml::Entries own{{nameKey(), profiles[i].name.trimmed()}};
            for (auto& e : exportedEntries(profiles[i].config, false))
                own.push_back(std::move(e));
            instructions.emplace_back(profileTarget(), instructionText(profiles[i].name, own));
        }
        prefs::PreferencesXml::writeFile(
            fileName, prefs::PreferencesXml::toDocument(QString::fromLatin1(Config::SETTINGS_NODE), entries,
                                                        instructions));
    } catch (const std::exception& e) {
        result.message = QString::fromUtf8(e.what());
        return result;
    }
    for (const auto& e : entries)
        result.keys += e.first;
    result.profiles = int(profiles.size());
    result.ok = true;
    return result;
}

SettingsXml::Result SettingsXml::importSettings(prefs::AbstractPreferences& settingsNode,
                                                const QString& fileName) {
    Result result;
    prefs::PreferencesXml::Entries entries;
    Station station;
    try {
        const auto document = prefs::PreferencesXml::readFile(fileName);
        try {
            entries = checkSettings(document);
            station = checkStation(document);
        } catch (const prefs::InvalidPreferencesFormatException& e) {
            refuse(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), e.message()));
        }
    } catch (const prefs::InvalidPreferencesFormatException& e) {
        result.message = e.message();
        return result;
    }

    if (station.present)
        return importStation(settingsNode, fileName, entries, station);

    // The first profile's new port must not be one a further profile uses.
    for (const auto& [key, value] : entries) {
        if (key != u"port")
            continue;
        try {
            auto root = settingsNode.node(QStringLiteral("/"));
            const auto stored = Profiles::load(*root, Profiles::storedPorts(*root)).profiles;
            if (const QString why = Profiles::checkPort(stored, 0, value); !why.isEmpty()) {
                result.message = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), why);
                return result;
            }
        } catch (const std::exception&) {
            // The store fails: the writes below report it.
        }
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

SettingsXml::Result SettingsXml::importStation(prefs::AbstractPreferences& settingsNode,
                                               const QString& fileName,
                                               const prefs::PreferencesXml::Entries& entries,
                                               const Station& station) {
    Result result;
    const QString shown = QDir::toNativeSeparators(fileName);
    std::vector<Profile> profiles;
    try {
        auto root = settingsNode.node(QStringLiteral("/"));
        // The first profile as stored (its port as stored), then the file's values over it.
        QStringList ports;
        if (const QString port = settingsNode.get(QStringLiteral("port"), QString()); !port.isEmpty())
            ports += port;
        Profile first{station.firstName, Profiles::load(*root, ports).profiles.front().config};
        for (const auto& [key, value] : entries)
            first.config.setByKey(key, value);
        profiles.push_back(std::move(first));
        for (const auto& [name, own] : station.others) {
            Profile p{name, Profiles::newProfileConfig(profiles.front().config)};
            for (const auto& [key, value] : own)
                p.config.setByKey(key, value);
            profiles.push_back(std::move(p));
        }
        if (const QString why = Profiles::checkStation(profiles); !why.isEmpty()) {
            result.message = QStringLiteral("%1: %2").arg(shown, why);
            return result;
        }
        if (const QString why = Profiles::save(*root, profiles); !why.isEmpty()) {
            result.message = QStringLiteral("the settings could not be stored: %1").arg(why);
            return result;
        }
    } catch (const std::exception& e) {
        result.message =
            QStringLiteral("the settings could not be stored: %1").arg(QString::fromUtf8(e.what()));
        return result;
    }
    for (const auto& e : entries)
        result.keys += e.first;
    result.profiles = int(profiles.size());
    result.ok = true;
    return result;
}

} // namespace vornal::config
