#pragma once

// The two settings records the crash-safety helper saves in turn. The first holds the record's defaults
// (with a port and an instrument), the second a different valid value for every key of the settings
// table (support/OtherSettings.h), so each stored value tells which record it came from. A key missing
// from that table stops both the helper and the test.

#include "support/OtherSettings.h"

#include "vornal/config/Config.h"

#include <QString>

#include <stdexcept>

namespace vornal::test {

inline config::Config crashRecord(bool second) {
    using H = config::ConfigHelper;
    config::Config c;
    const auto set = [&c](const QString& key, const QString& value) {
        QString why;
        if (!c.setByKey(key, value, &why))
            throw std::logic_error(why.toStdString());
    };
    set(QStringLiteral("port"), QStringLiteral("COM1"));
    c.setInstrument(H::Instrument::GENERIC);
    if (!second)
        return c;
    const auto other = otherSettings(QStringLiteral("/dev/ttyUSB7"), QStringLiteral("/dev/ttyUSB7"));
    for (const QString& key : config::Config::keys()) {
        const auto it = other.find(key);
        if (it == other.end())
            throw std::logic_error("support/OtherSettings.h has no value for the setting " +
                                   key.toStdString());
        set(key, it->second);
    }
    // A character beyond ASCII: the file's escapes are part of every save.
    set(QStringLiteral("removeCharacters"), QStringLiteral("gk \u00e4"));
    return c;
}

} // namespace vornal::test
