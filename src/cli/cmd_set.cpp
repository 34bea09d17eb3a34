// vornal-cli set [--profile NAME] KEY=VALUE...: changes stored settings (of the first profile, or of the
// profile NAME, created when there is none), all of them or none.
#include "Cli.h"
#include "SettingsArgs.h"
#include "Store.h"

namespace {

using namespace vornal;

// set --profile NAME: the whole station is loaded, changed and stored again (Profiles::save).
int setInProfile(cli::Invocation& inv, cli::Io& io, const QString& name,
                 const QList<QPair<QString, QString>>& toStore) {
    auto profiles = cli::loadStation(inv, io, {});
    int index = config::Profiles::find(profiles, name);
    const bool created = index < 0;
    if (created) {
        if (int(profiles.size()) >= config::Profiles::MAX_PROFILES)
            return cli::fail(
                io, inv,
                QStringLiteral("no profile is named \"%1\", and a station holds at most %2 profiles; "
                               "remove one first (vornal-cli profiles remove NAME); nothing was "
                               "stored")
                    .arg(name)
                    .arg(config::Profiles::MAX_PROFILES));
        if (const QString why = config::Profiles::checkName(profiles, -1, name); !why.isEmpty())
            return cli::fail(io, inv, why + QStringLiteral(" Nothing was stored."), cli::Usage);
        profiles.push_back({name.trimmed(), config::Profiles::newProfileConfig(profiles.front().config)});
        index = int(profiles.size()) - 1;
    }
    config::Profile& target = profiles[std::size_t(index)];
    for (const auto& [key, value] : toStore) {
        if (index != 0 && config::Profiles::isProgramWide(key)) {
            io.err << "vornal-cli set: " << key
                   << " is kept once for the program: it changes for every profile" << Qt::endl;
            profiles.front().config.setByKey(key, value);
        } else {
            target.config.setByKey(key, value);
        }
        if (key == u"port" || key == u"prevPort")
            target.config.setPrevPort(target.config.getPort());
    }
    if (const QString why = config::Profiles::checkPort(profiles, index, target.config.getPort());
        !why.isEmpty())
        return cli::fail(io, inv, why + QStringLiteral(" Nothing was stored."));
    config::Profiles::shareProgramWide(profiles);
    if (!cli::saveStation(inv, io, profiles))
        return cli::Failure;
    if (created)
        io.out << "Created the profile \"" << target.name << "\" (" << profiles.size() << " of "
               << config::Profiles::MAX_PROFILES << ")\n";
    return cli::Ok;
}

int runSet(cli::Invocation& inv, cli::Io& io) {
    QString error;
    const auto profile = cli::takeValue(inv.args, QStringLiteral("--profile"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    const auto assignments = cli::positional(inv.args, &error);
    if (!assignments)
        return cli::fail(io, inv, error, cli::Usage);
    if (assignments->isEmpty())
        return cli::fail(
            io, inv,
            QStringLiteral("no KEY=VALUE given; the keys are: %1").arg(config::Config::keys().join(u' ')),
            cli::Usage);

    // Every value is checked before anything is stored.
    config::Config checked;
    QList<QPair<QString, QString>> toStore;
    for (const QString& a : *assignments) {
        const qsizetype eq = a.indexOf(u'=');
        if (eq <= 0)
            return cli::fail(io, inv,
                             QStringLiteral("'%1' is not KEY=VALUE; the keys are: %2")
                                 .arg(a, config::Config::keys().join(u' ')),
                             cli::Usage);
        const QString key = a.left(eq);
        QString why;
        if (!checked.setByKey(key, cli::storedForm(key, a.mid(eq + 1)), &why))
            return cli::fail(io, inv, why + QStringLiteral("; nothing was stored"), cli::Usage);
        // The stored form ("TRUE" is stored as "true").
        toStore.append({key, checked.getByKey(key)});
    }
    cli::warnAboutCustomRegex(inv, io, checked);
    if (profile)
        return setInProfile(inv, io, *profile, toStore);

    auto node = cli::openSettingsNode(inv);
    // The first profile's port must not be one another profile uses.
    for (const auto& [key, value] : toStore) {
        if (key != u"port")
            continue;
        const auto loaded =
            config::Profiles::load(*prefs::PreferencesStore::userRoot(),
                                   config::Profiles::storedPorts(*prefs::PreferencesStore::userRoot()));
        if (const QString why = config::Profiles::checkPort(loaded.profiles, 0, value); !why.isEmpty())
            return cli::fail(io, inv, why + QStringLiteral(" Nothing was stored."));
    }
    try {
        // One change: the file holds all the new values or none of them.
        std::vector<std::pair<QString, QString>> entries;
        for (const auto& [key, value] : toStore)
            entries.emplace_back(key, value);
        node->putAll(entries);
        node->flush();
    } catch (const std::exception& e) {
        return cli::fail(io, inv,
                         QStringLiteral("cannot store the settings in %1: %2")
                             .arg(cli::storeFileName(), QString::fromUtf8(e.what())));
    }
    return cli::Ok;
}

cli::Register reg{{"set", "set [--profile NAME] KEY=VALUE...",
                   "change stored settings of the first profile or of NAME, which is created when there is "
                   "none (checked like the load; all or none)",
                   &runSet}};

} // namespace
