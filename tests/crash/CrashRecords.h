#pragma once

// The two settings records the crash-safety helper saves in turn. Every field differs between them, so
// each stored value tells which record it came from.

#include "vornal/config/Config.h"

#include <QString>

#include <stdexcept>

namespace vornal::test {

inline config::Config crashRecord(bool second) {
    using H = config::ConfigHelper;
    config::Config c;
    const auto set = [&c](const char* key, const char* first, const char* other, bool useOther) {
        QString why;
        if (!c.setByKey(QString::fromLatin1(key), QString::fromLatin1(useOther ? other : first), &why))
            throw std::logic_error(why.toStdString());
    };
    set("port", "COM1", "/dev/ttyUSB7", second);
    c.setInstrument(second ? H::Instrument::METTLER_SICS : H::Instrument::GENERIC);
    set("bitRate", "7", "5", second);
    set("dataBits", "3", "2", second);
    set("stopBits", "0", "1", second);
    set("parity", "0", "2", second);
    set("inputTerminator", "13", "10", second);
    set("handshake", "0", "1", second);
    set("connect", "MANUAL", "AUTO", second);
    set("keyboardType", "QUERTY", "GERMAN", second);
    set("delay", "20", "0", second);
    set("decimalSeparator", "DOT", "COMMA", second);
    set("startWith", "NONE", "TAB", second);
    set("outputTerminator", "ENTER", "F5", second);
    set("outputTerminator2", "NONE", "DOWN", second);
    set("everyXValues", "", "3", second);
    set("mathOperation", "NONE", "MULTIPLY", second);
    set("mathOperand", "", "1000", second);
    set("decimalPlaces", "", "2", second);
    set("roundingMethod", "HALF_UP", "FLOOR", second);
    set("sound", "NONE", "COWBELL", second);
    set("minimizeToTray", "true", "false", second);
    set("notifyWhenMinimizedToTray", "true", "false", second);
    set("checkForUpdates", "true", "false", second);
    set("abortAutoStartWhenPrevPortNotAvailable", "true", "false", second);
    set("editOperation", "REMOVE", "KEEP", second);
    set("editPosition", "FIRST", "LAST", second);
    set("editNumCharacters", "", "4", second);
    set("removeCharacters", "", "gk \xe4", second);
    set("customRegEx", "", "N\\s+([-+]?\\d+\\.\\d+)", second);
    set("ignoreDuplicates", "false", "true", second);
    set("ignoreTimeLimit", "", "500", second);
    set("ignoreDifference", "", "0.01", second);
    set("reconnect", "true", "false", second);
    set("typeOnlyStable", "false", "true", second);
    set("oncePerPlacement", "false", "true", second);
    set("requestCommand", "", "S<13><10>", second);
    set("requestHotkey", "", "Ctrl+Alt+R", second);
    set("requestEverySeconds", "", "5", second);
    set("dataLogFile", "", "/tmp/readings.csv", second);
    set("dataLogMaxBytes", "10485760", "2048", second);
    set("dataLogKeep", "5", "2", second);
    set("keyBackend", "auto", "x11", second);
    set("inputEncoding", "ISO_8859_1", "CP437", second);
    return c;
}

} // namespace vornal::test
