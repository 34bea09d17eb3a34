#pragma once

#include "vornal/config/ConfigHelper.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace vornal::prefs {
class AbstractPreferences;
}
namespace vornal::decimal {
class Decimal;
}

namespace vornal::config {

// The one record of every user setting: port and instrument, port parameters, input terminator,
// processing and output options, window behaviour switches. Port parameters are indices of the serial
// value sets, the input terminator a character code 0..255, choices are option constants, free options
// texts exactly as typed.
//
// Each setting is a member with its accessors here and one row of the settings table in Config.cpp
// (key, load position, load default, check, member); load, save, copy, compare and the access by key
// run over that table. docs/architecture.md says how to add a setting.
//
// Not synchronised: changed on the user-interface thread only; workers read it while a connection runs
// (the settings tabs are hidden then).
class Config {
public:
    using Instrument = ConfigHelper::Instrument;
    using InstrumentType = ConfigHelper::InstrumentType;
    using DecimalSeparator = ConfigHelper::DecimalSeparator;
    using StartWith = ConfigHelper::StartWith;
    using OutputTerminator = ConfigHelper::OutputTerminator;
    using Connect = ConfigHelper::Connect;
    using MathOperation = ConfigHelper::MathOperation;
    using RoundingMethod = ConfigHelper::RoundingMethod;
    using Sound = ConfigHelper::Sound;
    using KeyboardType = ConfigHelper::KeyboardType;
    using InputEncoding = ConfigHelper::InputEncoding;
    using EditOperation = ConfigHelper::EditOperation;
    using EditPosition = ConfigHelper::EditPosition;

    // The preferences node that holds the record, one entry per field, keys equal to the field names.
    static constexpr const char* SETTINGS_NODE = "/halvorn/Vornal";

    // Called by setInstrument with the property name ("NUMBER" or "TEXT"), no old value, and the preset.
    using PropertyChangeListener =
        std::function<void(const QString& propertyName, const std::optional<Instrument>& oldValue,
                           const std::optional<Instrument>& newValue)>;
    using ListenerId = int;

    // The record's own defaults (see the field comments); instrument none, prevPort none.
    Config();

    // Copying copies every field, prevPort included. Listeners belong to one record: a copy starts
    // without any, and an assignment keeps the target's own.

    // ---- the five switches, read and written directly ----
    bool minimizeToTray = true;
    bool notifyWhenMinimizedToTray = true;
    bool checkForUpdates = true;
    bool abortAutoStartWhenPrevPortNotAvailable = true;
    bool ignoreDuplicates = false;

    // ---- getters and setters (setters only store, except setInstrument) ----
    QString getPort() const { return port_; }
    void setPort(const QString& v) { port_ = v; }
    std::optional<Instrument> getInstrument() const { return instrument_; }
    // Stores the preset, then tells the listeners of its type ("NUMBER" or "TEXT"), also when the same
    // preset is selected again. Listeners run synchronously on the calling thread.
    void setInstrument(const std::optional<Instrument>& v);
    // Gives the record the usual port settings of `preset`, as its default-settings button does: bit
    // rate, data bits, stop bits, parity and handshake when the preset has them, the input terminator,
    // and the command that asks it for a reading ("" for instruments that only send on their own). The
    // chosen instrument stays as it is. False when the preset has no port settings (bit rate ... handshake
    // are then left unchanged).
    bool applyPreset(const Instrument& preset);
    int getBitRate() const { return bitRate_; }
    void setBitRate(int v) { bitRate_ = v; }
    int getDataBits() const { return dataBits_; }
    void setDataBits(int v) { dataBits_ = v; }
    int getStopBits() const { return stopBits_; }
    void setStopBits(int v) { stopBits_ = v; }
    int getParity() const { return parity_; }
    void setParity(int v) { parity_ = v; }
    int getInputTerminator() const { return inputTerminator_; }
    void setInputTerminator(int v) { inputTerminator_ = v; }
    int getHandshake() const { return handshake_; }
    void setHandshake(int v) { handshake_ = v; }
    DecimalSeparator getDecimalSeparator() const { return decimalSeparator_; }
    void setDecimalSeparator(DecimalSeparator v) { decimalSeparator_ = v; }
    StartWith getStartWith() const { return startWith_; }
    void setStartWith(StartWith v) { startWith_ = v; }
    OutputTerminator getOutputTerminator() const { return outputTerminator_; }
    void setOutputTerminator(OutputTerminator v) { outputTerminator_ = v; }
    OutputTerminator getOutputTerminator2() const { return outputTerminator2_; }
    void setOutputTerminator2(OutputTerminator v) { outputTerminator2_ = v; }
    // Keys typed before each value, before the start key: names of the start key's list separated by
    // spaces ("TAB TAB", "F2"), at most MAX_PREFIX_KEYS; empty for none.
    QString getPrefixKeys() const { return prefixKeys_; }
    void setPrefixKeys(const QString& v) { prefixKeys_ = v; }
    static constexpr int MAX_PREFIX_KEYS = 8;
    static bool validPrefixKeys(const QString& text);
    // Their key codes, in order (none for a text validPrefixKeys() refuses).
    std::vector<int> getPrefixKeyCodes() const;
    QString getEveryXValues() const { return everyXValues_; }
    void setEveryXValues(const QString& v) { everyXValues_ = v; }
    Connect getConnect() const { return connect_; }
    void setConnect(Connect v) { connect_ = v; }
    MathOperation getMathOperation() const { return mathOperation_; }
    void setMathOperation(MathOperation v) { mathOperation_ = v; }
    QString getMathOperand() const { return mathOperand_; }
    void setMathOperand(const QString& v) { mathOperand_ = v; }
    QString getDecimalPlaces() const { return decimalPlaces_; }
    void setDecimalPlaces(const QString& v) { decimalPlaces_ = v; }
    RoundingMethod getRoundingMethod() const { return roundingMethod_; }
    void setRoundingMethod(RoundingMethod v) { roundingMethod_ = v; }
    Sound getSound() const { return sound_; }
    void setSound(Sound v) { sound_ = v; }
    KeyboardType getKeyboardType() const { return keyboardType_; }
    void setKeyboardType(KeyboardType v) { keyboardType_ = v; }
    QString getDelay() const { return delay_; }
    void setDelay(const QString& v) { delay_ = v; }
    // Null (none) until a load or setPrevPort sets it.
    QString getPrevPort() const { return prevPort_; }
    void setPrevPort(const QString& v) { prevPort_ = v; }
    EditOperation getEditOperation() const { return editOperation_; }
    void setEditOperation(EditOperation v) { editOperation_ = v; }
    EditPosition getEditPosition() const { return editPosition_; }
    void setEditPosition(EditPosition v) { editPosition_ = v; }
    QString getEditNumCharacters() const { return editNumCharacters_; }
    void setEditNumCharacters(const QString& v) { editNumCharacters_ = v; }
    QString getRemoveCharacters() const { return removeCharacters_; }
    void setRemoveCharacters(const QString& v) { removeCharacters_ = v; }
    QString getCustomRegEx() const { return customRegEx_; }
    void setCustomRegEx(const QString& v) { customRegEx_ = v; }
    // Wait for a port that went away (adapter unplugged) and open it again.
    bool getReconnect() const { return reconnect_; }
    void setReconnect(bool v) { reconnect_ = v; }
    // Which key-injection backend types: "auto" (chosen from the session) or one named backend.
    InputEncoding getInputEncoding() const { return inputEncoding_; }
    void setInputEncoding(InputEncoding v) { inputEncoding_ = v; }
    QString getKeyBackend() const { return keyBackend_; }
    void setKeyBackend(const QString& v) { keyBackend_ = v; }
    QString getIgnoreTimeLimit() const { return ignoreTimeLimit_; }
    void setIgnoreTimeLimit(const QString& v) { ignoreTimeLimit_ = v; }
    QString getIgnoreDifference() const { return ignoreDifference_; }
    void setIgnoreDifference(const QString& v) { ignoreDifference_ = v; }
    // Stable readings only, and one value per placement (both need a preset with a stability rule).
    bool getTypeOnlyStable() const { return typeOnlyStable_; }
    void setTypeOnlyStable(bool v) { typeOnlyStable_ = v; }
    bool getOncePerPlacement() const { return oncePerPlacement_; }
    void setOncePerPlacement(bool v) { oncePerPlacement_ = v; }
    // Readings on request: the command (ConfigHelper::RequestCommand notation), the global shortcut and
    // the seconds between automatic requests ("" none).
    QString getRequestCommand() const { return requestCommand_; }
    void setRequestCommand(const QString& v) { requestCommand_ = v; }
    QString getRequestHotkey() const { return requestHotkey_; }
    void setRequestHotkey(const QString& v) { requestHotkey_ = v; }
    QString getRequestEverySeconds() const { return requestEverySeconds_; }
    void setRequestEverySeconds(const QString& v) { requestEverySeconds_ = v; }
    // The data log: the CSV file ("" off), its size limit in bytes (0 none) and the rotated files kept.
    QString getDataLogFile() const { return dataLogFile_; }
    void setDataLogFile(const QString& v) { dataLogFile_ = v; }
    int getDataLogMaxBytes() const { return dataLogMaxBytes_; }
    void setDataLogMaxBytes(int v) { dataLogMaxBytes_ = v; }
    int getDataLogKeep() const { return dataLogKeep_; }
    void setDataLogKeep(int v) { dataLogKeep_ = v; }

    // ---- change notification ----
    ListenerId addPropertyChangeListener(const QString& propertyName, PropertyChangeListener listener);
    // Removes that listener from that name; unknown ids are ignored.
    void removePropertyChangeListener(const QString& propertyName, ListenerId id);

    // ---- conversions ----
    // The number in decimalPlaces, or none when it is not a whole number (empty included).
    std::optional<int> getDecimalPlacesAsInt() const;
    // The number in delay; the number of the default "20" when it is not a whole number (empty included).
    int getDelayAsInt() const;
    // 0 when empty or not a whole number.
    int getEditNumCharactersAsInt() const;
    int getEveryXValuesAsInt() const;
    // mathOperand as an exact decimal. Only meaningful when mathOperationEnabled() holds; throws
    // decimal::ProcessingError when the text is no decimal number.
    decimal::Decimal getMathOperandAsBigDecimal() const;

    // decimalPlaces is a whole number from 0 to 7.
    bool roundingEnabled() const;
    // MULTIPLY with an operand; DIVIDE with an operand only when rounding is enabled (a division needs a
    // fixed number of decimal places); never for NONE or an empty operand.
    bool mathOperationEnabled() const;

    // A new record with every setting of `config` but prevPort (which stays none); listeners are not
    // carried over.
    static Config copyConfig(const Config& config);
    // True when any setting but prevPort differs (by stored form: texts by content, choices by identity).
    static bool hasChanged(const Config& a, const Config& b);

    // ---- persistence ----

    struct LoadResult {
        // False when at least one stored value was invalid and replaced by its default.
        bool valid = true;
        // One message per invalid stored value (key, value, default used) or unreadable store; for the
        // window's invalid-setting message or the command line's standard error.
        QStringList warnings;
    };

    // Loads every field from `node` (normally SETTINGS_NODE of the user root). `availablePorts` is the
    // list of ports found on the system: only when it is not empty is "port" read (the first port when
    // the key is absent). Every field is set, so the record is usable whatever the store holds. Throws
    // prefs::BackingStoreException when the node's keys cannot be listed.
    LoadResult loadConfig(prefs::AbstractPreferences& node, const QStringList& availablePorts);

    // Writes every field to `node` in one change (one write of a file-backed store, so a crash leaves the
    // old or the new record, never a mixture), then flushes it. An entry the store refuses is skipped and
    // logged as "saveConfig exception: ..."; the first such message is returned (empty text: all entries
    // written). A failing flush throws prefs::BackingStoreException. The record itself is never changed.
    QString saveConfig(prefs::AbstractPreferences& node) const;

    // ---- access by settings key (stored forms) ----

    // Every settings key in save order ("port", "prevPort", "instrument", "bitRate", ...).
    static QStringList keys();
    // The stored form of a field: integers as decimal text, choices as constant names, switches as
    // "true"/"false", texts as typed; null for a field that is none.
    QString getByKey(const QString& key) const;
    // The record as it would be saved: (key, stored form) in save order; port and prevPort only when a
    // port is set, prevPort as the port (what a save writes).
    std::vector<std::pair<QString, QString>> storedEntries() const;
    // Sets a field from its stored form with the rules of the load. Returns false and says why (naming
    // the key, the text and what is acceptable) when the key is unknown or the text is refused; the
    // record is then unchanged.
    bool setByKey(const QString& key, const QString& text, QString* why = nullptr);

private:
    struct KeyDef;
    static const std::vector<KeyDef>& keyDefs();
    static const KeyDef* findKey(const QString& key);
    // The rows of keyDefs in the order the load reads them.
    static const std::vector<const KeyDef*>& loadOrder();

    QString port_ = QStringLiteral("");
    std::optional<Instrument> instrument_;
    int bitRate_ = 0;
    int dataBits_ = 0;
    int stopBits_ = 0;
    int parity_ = 0;
    int inputTerminator_ = 0;
    int handshake_ = 0;
    DecimalSeparator decimalSeparator_ = DecimalSeparator::DOT;
    StartWith startWith_ = StartWith::NONE;
    OutputTerminator outputTerminator_ = OutputTerminator::NONE;
    OutputTerminator outputTerminator2_ = OutputTerminator::NONE;
    QString everyXValues_ = QStringLiteral("");
    QString prefixKeys_ = QStringLiteral("");
    Connect connect_ = Connect::MANUAL;
    MathOperation mathOperation_ = MathOperation::NONE;
    QString mathOperand_ = QStringLiteral("");
    QString decimalPlaces_ = QStringLiteral("");
    RoundingMethod roundingMethod_ = RoundingMethod::HALF_UP;
    Sound sound_ = Sound::NONE;
    KeyboardType keyboardType_ = KeyboardType::QUERTY;
    QString delay_ = QStringLiteral("20");
    QString prevPort_; // none
    EditOperation editOperation_ = EditOperation::REMOVE;
    EditPosition editPosition_ = EditPosition::FIRST;
    QString editNumCharacters_ = QStringLiteral("");
    QString removeCharacters_ = QStringLiteral("");
    QString customRegEx_ = QStringLiteral("");
    bool reconnect_ = true;
    QString keyBackend_ = QStringLiteral("auto");
    InputEncoding inputEncoding_ = InputEncoding::ISO_8859_1;
    QString ignoreTimeLimit_ = QStringLiteral("");
    QString ignoreDifference_ = QStringLiteral("");
    bool typeOnlyStable_ = false;
    bool oncePerPlacement_ = false;
    QString requestCommand_ = QStringLiteral("");
    QString requestHotkey_ = QStringLiteral("");
    QString requestEverySeconds_ = QStringLiteral("");
    QString dataLogFile_ = QStringLiteral("");
    int dataLogMaxBytes_ = 10 * 1024 * 1024;
    int dataLogKeep_ = 5;

    // The listeners by property name; never copied with the record.
    struct Listeners {
        struct Entry {
            ListenerId id;
            PropertyChangeListener fn;
        };
        std::map<QString, std::vector<Entry>> byName;
        ListenerId nextId = 1;

        Listeners() = default;
        Listeners(const Listeners&) {}
        Listeners& operator=(const Listeners&) { return *this; }
    };
    Listeners listeners_;
};

} // namespace vornal::config
