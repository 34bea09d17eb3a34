#pragma once

#include <QString>

#include <map>

namespace vornal::test {

// A valid stored form for every settings key that is neither the record's nor the load's default (ports
// as given). Tests that must touch every setting start from it; a new setting adds its row here.
inline std::map<QString, QString> otherSettings(const QString& port, const QString& prevPort) {
    return {{"port", port},
            {"prevPort", prevPort},
            {"instrument", "BARCODE"},
            {"bitRate", "8"},
            {"dataBits", "2"},
            {"stopBits", "1"},
            {"parity", "2"},
            {"inputTerminator", "10"},
            {"handshake", "1"},
            {"decimalSeparator", "COMMA"},
            {"sound", "COWBELL"},
            {"startWith", "TAB"},
            {"outputTerminator", "ENTER"},
            {"outputTerminator2", "F1"},
            {"everyXValues", "2"},
            {"prefixKeys", "TAB F2"},
            {"connect", "AUTO"},
            {"mathOperation", "MULTIPLY"},
            {"mathOperand", "1.5"},
            {"decimalPlaces", "2"},
            {"roundingMethod", "UP"},
            {"keyboardType", "GERMAN"},
            {"delay", "21"},
            {"minimizeToTray", "false"},
            {"notifyWhenMinimizedToTray", "false"},
            {"checkForUpdates", "false"},
            {"abortAutoStartWhenPrevPortNotAvailable", "false"},
            {"reconnect", "false"},
            {"typeOnlyStable", "true"},
            {"oncePerPlacement", "true"},
            {"requestCommand", "S<13><10>"},
            {"requestHotkey", "Ctrl+Alt+R"},
            {"requestEverySeconds", "5"},
            {"dataLogFile", "/tmp/readings.csv"},
            {"dataLogMaxBytes", "2048"},
            {"dataLogKeep", "2"},
            {"ignoreDuplicates", "true"},
            {"editOperation", "KEEP"},
            {"editPosition", "LAST"},
            {"editNumCharacters", "3"},
            {"removeCharacters", "x"},
            {"customRegEx", "(\\d+)"},
            {"ignoreTimeLimit", "100"},
            {"ignoreDifference", "0.5"},
            {"keyBackend", "x11"},
            {"inputEncoding", "UTF_8"}};
}

} // namespace vornal::test
