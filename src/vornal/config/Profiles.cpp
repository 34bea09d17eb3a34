#include "vornal/config/Profiles.h"

#include "vornal/prefs/AbstractPreferences.h"

#include <QRegularExpression>

#include <set>

namespace vornal::config {

namespace {

QString settingsNodePath() {
    return QString::fromLatin1(Config::SETTINGS_NODE);
}

QString nameKey() {
    return QString::fromLatin1(Profiles::PROFILE_NAME_KEY);
}

QString nodesKey() {
    return QString::fromLatin1(Profiles::PROFILE_NODES_KEY);
}

// The child node names of the other profiles, as listed in the first record; names that are not ours
// (a damaged file) are dropped, at most MAX_PROFILES - 1.
QStringList storedNodeNames(prefs::AbstractPreferences& first) {
    static const QRegularExpression ours(QStringLiteral("^profile-[1-7][ab]$"));
    QStringList names;
    for (const QString& part : first.get(nodesKey(), QString()).split(u',', Qt::SkipEmptyParts)) {
        const QString n = part.trimmed();
        if (ours.match(n).hasMatch() && !names.contains(n) && names.size() < Profiles::MAX_PROFILES - 1)
            names += n;
    }
    return names;
}

QString withProfile(const QString& name, const QString& message) {
    return QStringLiteral("Profile \"%1\": %2").arg(name, message);
}

} // namespace

const QStringList& Profiles::programWideKeys() {
    // The window's behaviour and the one typist of the station: how keys are typed (backend, keyboard
    // layout) and the key delay.
    static const QStringList keys = {
        QStringLiteral("minimizeToTray"),  QStringLiteral("notifyWhenMinimizedToTray"),
        QStringLiteral("checkForUpdates"), QStringLiteral("keyBackend"),
        QStringLiteral("keyboardType"),    QStringLiteral("delay"),
    };
    return keys;
}

QString Profiles::defaultName(int index) {
    // The same in every language: it is stored, and scripts name profiles by it.
    return QStringLiteral("Instrument %1").arg(index + 1);
}

QString Profiles::portIdentity(const QString& port) {
    QString p = port.trimmed();
    static const QRegularExpression windowsDevice(QStringLiteral("^(\\\\\\\\\\.\\\\)?COM[0-9]+$"),
                                                  QRegularExpression::CaseInsensitiveOption);
    if (windowsDevice.match(p).hasMatch()) {
        if (p.startsWith(QStringLiteral("\\\\.\\")))
            p = p.mid(4);
        return p.toUpper();
    }
#ifdef Q_OS_WIN
    return p.toUpper();
#else
    return p;
#endif
}

QString Profiles::checkName(const std::vector<Profile>& profiles, int index, const QString& name) {
    const QString n = name.trimmed();
    if (n.isEmpty())
        return QStringLiteral("A profile needs a name: type one, e.g. \"Balance\" or \"Scanner\".");
    if (n.size() > MAX_NAME_LENGTH)
        return QStringLiteral("The profile name \"%1...\" is too long: use at most %2 characters.")
            .arg(n.left(20))
            .arg(MAX_NAME_LENGTH);
    for (const QChar c : n)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph)
            return QStringLiteral(
                       "The profile name holds a control character (code %1): use letters, digits, "
                       "spaces and punctuation only.")
                .arg(c.unicode());
    for (int i = 0; i < int(profiles.size()); ++i)
        if (i != index && profiles[i].name.trimmed().compare(n, Qt::CaseInsensitive) == 0)
            return QStringLiteral("Another profile is already named \"%1\": choose a different name.")
                .arg(profiles[i].name.trimmed());
    return {};
}

QString Profiles::checkPort(const std::vector<Profile>& profiles, int index, const QString& port) {
    const QString id = portIdentity(port);
    if (id.isEmpty())
        return {};
    for (int i = 0; i < int(profiles.size()); ++i)
        if (i != index && portIdentity(profiles[i].config.getPort()) == id)
            return QStringLiteral(
                       "The port %1 is already used by the profile \"%2\": choose another port, or "
                       "change that profile's port first.")
                .arg(port.trimmed(), profiles[i].name);
    return {};
}

int Profiles::find(const std::vector<Profile>& profiles, const QString& name) {
    const QString n = name.trimmed();
    for (int i = 0; i < int(profiles.size()); ++i)
        if (profiles[i].name.trimmed().compare(n, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString Profiles::checkStation(const std::vector<Profile>& profiles) {
    if (profiles.empty())
        return QStringLiteral("A station needs at least one profile.");
    if (int(profiles.size()) > MAX_PROFILES)
        return QStringLiteral("At most %1 profiles can be kept; remove one first.").arg(MAX_PROFILES);
    // Each against the ones before it, so the message names the later profile and the earlier one.
    std::vector<Profile> before;
    for (const Profile& p : profiles) {
        if (const QString why = checkName(before, -1, p.name); !why.isEmpty())
            return before.empty() ? why : withProfile(p.name, why);
        if (const QString why = checkPort(before, -1, p.config.getPort()); !why.isEmpty())
            return withProfile(p.name, why);
        before.push_back(p);
    }
    return {};
}

Config Profiles::newProfileConfig(const Config& first) {
    Config c;
    for (const QString& key : programWideKeys())
        c.setByKey(key, first.getByKey(key));
    return c;
}

void Profiles::shareProgramWide(std::vector<Profile>& profiles) {
    if (profiles.empty())
        return;
    for (std::size_t i = 1; i < profiles.size(); ++i)
        for (const QString& key : programWideKeys())
            profiles[i].config.setByKey(key, profiles.front().config.getByKey(key));
}

Profiles::LoadResult Profiles::load(prefs::AbstractPreferences& root, const QStringList& availablePorts) {
    LoadResult result;
    Profile first;
    std::shared_ptr<prefs::AbstractPreferences> firstNode;
    try {
        firstNode = root.node(settingsNodePath());
        const auto r = first.config.loadConfig(*firstNode, availablePorts);
        result.valid = r.valid;
        result.messages += r.warnings;
    } catch (const std::exception& e) {
        result.valid = false;
        result.messages +=
            QStringLiteral("The stored settings could not be read (%1); the defaults are used.")
                .arg(QString::fromUtf8(e.what()));
        result.profiles.push_back({defaultName(0), Config()});
        return result;
    }
    first.name = firstNode->get(nameKey(), QString()).trimmed();
    if (first.name.isEmpty()) {
        first.name = defaultName(0);
    } else if (const QString why = checkName({}, -1, first.name); !why.isEmpty()) {
        result.valid = false;
        result.messages += QStringLiteral("The stored profile name \"%1\" was refused (%2); it is shown as "
                                          "\"%3\".")
                               .arg(first.name, why, defaultName(0));
        first.name = defaultName(0);
    }
    result.profiles.push_back(first);

    for (const QString& nodeName : storedNodeNames(*firstNode)) {
        Profile p;
        std::shared_ptr<prefs::AbstractPreferences> node;
        QString storedName;
        try {
            node = firstNode->node(nodeName);
            storedName = node->get(nameKey(), QString()).trimmed();
            if (node->keys().isEmpty()) {
                result.valid = false;
                result.messages +=
                    QStringLiteral("The stored profile %1 is missing; it was left out.").arg(nodeName);
                continue;
            }
            const auto r = p.config.loadConfig(*node, availablePorts);
            const QString shown = storedName.isEmpty() ? nodeName : storedName;
            if (!r.valid)
                result.valid = false;
            for (const QString& w : r.warnings)
                result.messages += withProfile(shown, w);
            // A profile without a port stays without one (not the first port of the system, which the first
            // profile may use).
            if (!node->keys().contains(QStringLiteral("port"))) {
                p.config.setPort(QString());
                p.config.setPrevPort(QString());
            }
        } catch (const std::exception& e) {
            result.valid = false;
            result.messages +=
                QStringLiteral("The stored profile %1 could not be read (%2); it was left out.")
                    .arg(nodeName, QString::fromUtf8(e.what()));
            continue;
        }
        p.name = storedName;
        if (const QString why = checkName(result.profiles, -1, p.name); !why.isEmpty()) {
            // A damaged or repeated name: keep the instrument under a free default name.
            for (int i = int(result.profiles.size()); !checkName(result.profiles, -1, p.name).isEmpty(); ++i)
                p.name = defaultName(i);
            result.valid = false;
            result.messages +=
                QStringLiteral("The stored profile name \"%1\" was refused (%2); it is shown as "
                               "\"%3\".")
                    .arg(storedName, why, p.name);
        }
        if (!checkPort(result.profiles, -1, p.config.getPort()).isEmpty()) {
            // Two instruments cannot share a port (a file edited by hand): the later one is left without
            // one, so the station can be started and saved; the message says which.
            result.valid = false;
            result.messages +=
                withProfile(p.name, QStringLiteral("its port %1 is also the port of an earlier "
                                                   "profile; it is left without a port.")
                                        .arg(p.config.getPort()));
            p.config.setPort(QString());
            p.config.setPrevPort(QString());
        }
        result.profiles.push_back(std::move(p));
    }
    // The first profile without a stored port was given the system's first port: not when another profile
    // uses it (then the first free one, or none).
    try {
        if (result.profiles.size() > 1 && !firstNode->keys().contains(QStringLiteral("port")) &&
            !checkPort(result.profiles, 0, result.profiles[0].config.getPort()).isEmpty()) {
            QString free;
            for (const QString& port : availablePorts)
                if (checkPort(result.profiles, 0, port).isEmpty()) {
                    free = port;
                    break;
                }
            result.profiles[0].config.setPort(free);
            result.profiles[0].config.setPrevPort(free);
        }
    } catch (const std::exception&) {
        // The keys were listed by the load above; nothing to correct when the store fails now.
    }
    shareProgramWide(result.profiles);
    return result;
}

QStringList Profiles::storedPorts(prefs::AbstractPreferences& root) {
    QStringList ports;
    try {
        auto first = root.node(settingsNodePath());
        auto add = [&ports](prefs::AbstractPreferences& node) {
            const QString port = node.get(QStringLiteral("port"), QString());
            if (!port.isEmpty() && !ports.contains(port))
                ports += port;
        };
        add(*first);
        for (const QString& name : storedNodeNames(*first))
            add(*first->node(name));
    } catch (const std::exception&) {
        // An unreadable store has no ports; the load says why.
    }
    return ports;
}

QString Profiles::save(prefs::AbstractPreferences& root, const std::vector<Profile>& profiles) {
    if (const QString why = checkStation(profiles); !why.isEmpty())
        return why;
    std::shared_ptr<prefs::AbstractPreferences> firstNode;
    QStringList oldNodes;
    try {
        firstNode = root.node(settingsNodePath());
        oldNodes = storedNodeNames(*firstNode);
    } catch (const std::exception& e) {
        return withProfile(profiles.front().name, QString::fromUtf8(e.what()));
    }
    // The set not in use now ("a" when none is).
    const bool inUseA = !oldNodes.isEmpty() && oldNodes.front().endsWith(u'a');
    const QString set = inUseA ? QStringLiteral("b") : QStringLiteral("a");
    const QString oldSet = inUseA ? QStringLiteral("a") : QStringLiteral("b");
    auto nodeName = [](int slot, const QString& s) {
        return QStringLiteral("profile-%1%2").arg(slot).arg(s);
    };

    QString failure;
    auto fail = [&failure](const QString& name, const QString& message) {
        if (failure.isEmpty())
            failure = withProfile(name, message);
    };
    // The record's entries as a save writes them, without what the store refuses (reported).
    auto entriesOf = [&](const Profile& p, bool first) {
        std::vector<std::pair<QString, QString>> accepted;
        for (auto& entry : p.config.storedEntries()) {
            if (!first && isProgramWide(entry.first))
                continue;
            try {
                prefs::AbstractPreferences::checkEntry(entry.first, entry.second);
                accepted.push_back(std::move(entry));
            } catch (const std::exception& e) {
                fail(p.name, QString::fromUtf8(e.what()));
            }
        }
        return accepted;
    };

    // 1. The other profiles, into fresh nodes of the set not in use (the left-overs of an interrupted save
    //    removed first). Only the nodes written are touched: unlisted nodes are never read.
    QStringList newNodes;
    try {
        for (int slot = 1; slot < int(profiles.size()); ++slot) {
            auto node = firstNode->node(nodeName(slot, set));
            if (!node->keys().isEmpty()) {
                node->removeNode();
                node = firstNode->node(nodeName(slot, set));
            }
            const Profile& p = profiles[slot];
            auto entries = entriesOf(p, false);
            entries.emplace_back(nameKey(), p.name.trimmed());
            node->putAll(entries);
            node->flush();
            newNodes += nodeName(slot, set);
        }
    } catch (const std::exception& e) {
        return withProfile(profiles[std::size_t(newNodes.size()) + 1].name, QString::fromUtf8(e.what()));
    }

    // 2. The first record with the list of the others, in one write: the switch from old to new.
    try {
        const Profile& p = profiles.front();
        auto entries = entriesOf(p, true);
        const QStringList present = firstNode->keys();
        const QString name = p.name.trimmed();
        if (name != defaultName(0) || present.contains(nameKey()))
            entries.emplace_back(nameKey(), name);
        if (!newNodes.isEmpty() || present.contains(nodesKey()))
            entries.emplace_back(nodesKey(), newNodes.join(u','));
        firstNode->putAll(entries);
        firstNode->flush();
    } catch (const std::exception& e) {
        fail(profiles.front().name, QString::fromUtf8(e.what()));
        return failure;
    }

    // 3. The previous set is no longer listed: drop it.
    try {
        for (const QString& old : oldNodes) {
            if (old.endsWith(oldSet)) {
                auto node = firstNode->node(old);
                if (!node->keys().isEmpty())
                    node->removeNode();
            }
        }
    } catch (const std::exception& e) {
        // The new station is stored; only unlisted nodes are left behind (removed when the slot is next
        // written).
        fail(profiles.front().name,
             QStringLiteral("old profile data could not be removed: %1").arg(QString::fromUtf8(e.what())));
    }
    return failure;
}

} // namespace vornal::config
