#pragma once

// The two stations the profiles crash-safety helper saves in turn: three profiles, then two with other
// names, ports and settings (the first profiles are the two crash-test records), so a loaded station
// tells which save it came from.

#include "CrashRecords.h"

#include "vornal/config/Profiles.h"

#include <vector>

namespace vornal::test {

inline std::vector<config::Profile> crashStation(bool second) {
    using config::Profile;
    auto with = [](const QString& name, const QString& port, const QString& places, const QString& preset) {
        Profile p{name, config::Config()};
        p.config.setPort(port);
        p.config.setDecimalPlaces(places);
        p.config.setByKey(QStringLiteral("instrument"), preset);
        return p;
    };
    std::vector<Profile> station;
    if (!second) {
        station.push_back({QStringLiteral("Scanner"), crashRecord(false)});
        station.push_back(with(QStringLiteral("Balance"), QStringLiteral("/dev/ttyUSB1"), QStringLiteral("2"),
                               QStringLiteral("GENERIC")));
        station.push_back(
            with(QStringLiteral("pH meter"), QString(), QStringLiteral("1"), QStringLiteral("GENERIC")));
    } else {
        station.push_back({config::Profiles::defaultName(0), crashRecord(true)});
        station.push_back(with(QStringLiteral("Gauge"), QStringLiteral("/dev/ttyUSB3"), QStringLiteral("4"),
                               QStringLiteral("BARCODE")));
    }
    config::Profiles::shareProgramWide(station);
    return station;
}

// A station as comparable text: each profile's name and every stored form but prevPort.
inline QString stationText(const std::vector<config::Profile>& station) {
    QStringList lines;
    for (const auto& p : station) {
        lines += QStringLiteral("[%1]").arg(p.name);
        for (const QString& key : config::Config::keys())
            if (key != u"prevPort")
                lines += key + u'=' + p.config.getByKey(key);
    }
    return lines.join(u'\n');
}

} // namespace vornal::test
