// vornal-cli profiles [rename OLD NEW | remove NAME]: the instruments of the station.
#include "Cli.h"
#include "Store.h"

namespace {

using namespace vornal;

int list(cli::Invocation& inv, cli::Io& io) {
    const auto profiles = cli::loadStation(inv, io, {});
    int nameWidth = 4;
    int portWidth = 4;
    for (const auto& p : profiles) {
        nameWidth = std::max(nameWidth, int(p.name.size()));
        portWidth = std::max(portWidth, int(p.config.getPort().size()));
    }
    io.out << QStringLiteral("NAME").leftJustified(nameWidth) << "  "
           << QStringLiteral("PORT").leftJustified(portWidth) << "  PRESET\n";
    for (const auto& p : profiles)
        io.out << p.name.leftJustified(nameWidth) << "  "
               << (p.config.getPort().isEmpty() ? QStringLiteral("-") : p.config.getPort())
                      .leftJustified(portWidth)
               << "  " << p.config.getByKey(QStringLiteral("instrument")) << '\n';
    return cli::Ok;
}

int runProfiles(cli::Invocation& inv, cli::Io& io) {
    QString error;
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (rest->isEmpty())
        return list(inv, io);

    const QString action = rest->first();
    // The named profile (the second word) is not there: say which are.
    auto unknownProfile = [&](const std::vector<config::Profile>& profiles) {
        return cli::fail(
            io, inv,
            QStringLiteral("no profile is named \"%1\"; %2").arg(rest->at(1), cli::profileNames(profiles)),
            cli::Usage);
    };
    if (action == u"rename") {
        if (rest->size() != 3)
            return cli::fail(io, inv,
                             QStringLiteral("rename needs the old and the new name: profiles rename OLD NEW"),
                             cli::Usage);
        auto profiles = cli::loadStation(inv, io, {});
        const int index = config::Profiles::find(profiles, rest->at(1));
        if (index < 0)
            return unknownProfile(profiles);
        if (const QString why = config::Profiles::checkName(profiles, index, rest->at(2)); !why.isEmpty())
            return cli::fail(io, inv, why, cli::Usage);
        const QString old = profiles[std::size_t(index)].name;
        profiles[std::size_t(index)].name = rest->at(2).trimmed();
        if (!cli::saveStation(inv, io, profiles))
            return cli::Failure;
        io.out << "Renamed the profile \"" << old << "\" to \"" << profiles[std::size_t(index)].name
               << "\"\n";
        return cli::Ok;
    }
    if (action == u"remove") {
        if (rest->size() != 2)
            return cli::fail(io, inv,
                             QStringLiteral("remove needs the name of the profile: profiles remove NAME"),
                             cli::Usage);
        auto profiles = cli::loadStation(inv, io, {});
        const int index = config::Profiles::find(profiles, rest->at(1));
        if (index < 0)
            return unknownProfile(profiles);
        if (profiles.size() == 1)
            return cli::fail(io, inv,
                             QStringLiteral("\"%1\" is the only profile; a station keeps one (change it with "
                                            "vornal-cli set, or rename it)")
                                 .arg(profiles.front().name));
        const QString removed = profiles[std::size_t(index)].name;
        if (index == 0) {
            // The next profile becomes the first; the program-wide settings stay as they are.
            config::Config programWide = profiles.front().config;
            profiles.erase(profiles.begin());
            for (const QString& key : config::Profiles::programWideKeys())
                profiles.front().config.setByKey(key, programWide.getByKey(key));
        } else {
            profiles.erase(profiles.begin() + index);
        }
        if (!cli::saveStation(inv, io, profiles))
            return cli::Failure;
        io.out << "Removed the profile \"" << removed << "\"";
        if (index == 0)
            io.out << "; \"" << profiles.front().name << "\" is now the first";
        io.out << '\n';
        return cli::Ok;
    }
    return cli::fail(
        io, inv,
        QStringLiteral("unknown action '%1'; use: profiles, profiles rename OLD NEW, profiles remove NAME")
            .arg(action),
        cli::Usage);
}

cli::Register reg{
    {"profiles", "profiles [rename OLD NEW | remove NAME]",
     "list the profiles (instruments) of the station with port and preset; rename or remove one",
     &runProfiles}};

} // namespace
