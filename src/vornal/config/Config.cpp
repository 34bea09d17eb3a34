#include "vornal/config/Config.h"

#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/util/WholeNumber.h"
#include "vornal/worker/Decimal.h"

#include <QLoggingCategory>

#include <limits>

namespace vornal::config {

Q_LOGGING_CATEGORY(lcConfig, "vornal.config.Config", QtWarningMsg)

namespace {

using CH = ConfigHelper;

template <class E> QString constantNames() {
    QStringList names;
    for (const E& e : E::values())
        names += e.name();
    return QStringLiteral("one of ") + names.join(QStringLiteral(", "));
}

template <class E> QString indexRange() {
    return QStringLiteral("a whole number from 0 to %1").arg(E::kCount - 1);
}

QString quoted(const QString& text) {
    constexpr qsizetype limit = 60;
    QString shown = text.size() > limit ? text.left(limit) + QStringLiteral("...") : text;
    shown.replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QStringLiteral("\\r"));
    return u'"' + shown + u'"';
}

} // namespace

// One settings key: its stored form, how a stored form is checked and applied, and the default the
// load falls back to.
struct Config::KeyDef {
    enum Kind { Text, Integer, Boolean, Choice, Port };
    QString key;
    Kind kind;
    QString loadDefault; // the load's fallback, in stored form
    QString acceptable;  // what the key accepts, for messages
    std::function<QString(const Config&)> get;
    std::function<bool(Config&, const QString&)> set; // false (and no change) when refused
};

const std::vector<Config::KeyDef>& Config::keyDefs() {
    using K = KeyDef;
    auto text = [](const char* key, QString Config::*m, QString loadDefault, QString acceptable,
                   bool (*valid)(const QString&)) {
        return K{QString::fromLatin1(key), K::Text, loadDefault, acceptable,
                 // A text is stored as typed; "no text" is stored as the empty text.
                 [m](const Config& c) { return (c.*m).isNull() ? QStringLiteral("") : c.*m; },
                 [m, valid](Config& c, const QString& t) {
                     if (valid && !valid(t))
                         return false;
                     c.*m = t;
                     return true;
                 }};
    };
    auto integer = [](const char* key, int Config::*m, int loadDefault, QString acceptable,
                      bool (*valid)(int)) {
        return K{QString::fromLatin1(key),
                 K::Integer,
                 QString::number(loadDefault),
                 acceptable,
                 [m](const Config& c) { return QString::number(c.*m); },
                 [m, valid](Config& c, const QString& t) {
                     const auto v = util::parseWholeNumber(t);
                     if (!v || !valid(*v))
                         return false;
                     c.*m = *v;
                     return true;
                 }};
    };
    auto boolean = [](const char* key, bool Config::*m) {
        return K{QString::fromLatin1(key),
                 K::Boolean,
                 QStringLiteral("false"),
                 QStringLiteral("true or false"),
                 [m](const Config& c) { return c.*m ? QStringLiteral("true") : QStringLiteral("false"); },
                 [m](Config& c, const QString& t) {
                     if (t.compare(u"true", Qt::CaseInsensitive) == 0)
                         c.*m = true;
                     else if (t.compare(u"false", Qt::CaseInsensitive) == 0)
                         c.*m = false;
                     else
                         return false;
                     return true;
                 }};
    };
    auto choice = []<class E>(const char* key, E Config::*m) {
        return K{QString::fromLatin1(key),
                 K::Choice,
                 E::getDefault().name(),
                 constantNames<E>(),
                 [m](const Config& c) { return (c.*m).name(); },
                 [m](Config& c, const QString& t) {
                     const auto v = E::valueOf(t);
                     if (!v)
                         return false;
                     c.*m = *v;
                     return true;
                 }};
    };
    auto port = [](const char* key, QString Config::*m) {
        return K{QString::fromLatin1(key),
                 K::Port,
                 QString(),
                 QStringLiteral("a port name"),
                 [m](const Config& c) { return c.*m; },
                 [m](Config& c, const QString& t) {
                     c.*m = t;
                     return true;
                 }};
    };

    // In save order.
    static const std::vector<KeyDef> defs = {
        port("port", &Config::port_),
        port("prevPort", &Config::prevPort_),
        K{QStringLiteral("instrument"), K::Choice, CH::Instrument::getDefault().name(),
          QStringLiteral("the name of an instrument preset, e.g. GENERIC or KERN_572"),
          [](const Config& c) { return c.instrument_ ? c.instrument_->name() : QString(); },
          [](Config& c, const QString& t) {
              const auto v = CH::Instrument::valueOf(t);
              if (!v)
                  return false;
              c.instrument_ = *v;
              return true;
          }},
        integer("bitRate", &Config::bitRate_, CH::BitRates::getDefault(),
                indexRange<CH::BitRates>() + QStringLiteral(" (7 is 9600 bit/s)"), &CH::BitRates::valid),
        integer("dataBits", &Config::dataBits_, CH::DataBits::getDefault(),
                indexRange<CH::DataBits>() + QStringLiteral(" (3 is 8 data bits)"), &CH::DataBits::valid),
        integer("stopBits", &Config::stopBits_, CH::StopBits::getDefault(),
                indexRange<CH::StopBits>() + QStringLiteral(" (0 is 1 stop bit)"), &CH::StopBits::valid),
        integer("parity", &Config::parity_, CH::Parity::getDefault(),
                indexRange<CH::Parity>() + QStringLiteral(" (0 NONE, 1 ODD, 2 EVEN, 3 MARK, 4 SPACE)"),
                &CH::Parity::valid),
        integer("inputTerminator", &Config::inputTerminator_, CH::InputTerminator::getDefault(),
                QStringLiteral("a character code from 0 to 255"), &CH::InputTerminator::valid),
        integer("handshake", &Config::handshake_, CH::Handshake::getDefault(),
                indexRange<CH::Handshake>() + QStringLiteral(" (0 NONE, 1 XON/XOFF, 2 RTS/CTS)"),
                &CH::Handshake::valid),
        choice("decimalSeparator", &Config::decimalSeparator_),
        choice("sound", &Config::sound_),
        choice("startWith", &Config::startWith_),
        choice("outputTerminator", &Config::outputTerminator_),
        choice("outputTerminator2", &Config::outputTerminator2_),
        text("everyXValues", &Config::everyXValues_, CH::EveryXValues::getDefault(),
             QStringLiteral("empty, or a whole number from 2 to 99"), &CH::EveryXValues::valid),
        choice("connect", &Config::connect_),
        choice("mathOperation", &Config::mathOperation_),
        text("mathOperand", &Config::mathOperand_, CH::MathOperand::getDefault(),
             QStringLiteral("empty, or a decimal number with \".\" as the point, other than \"0\""),
             &CH::MathOperand::valid),
        text("decimalPlaces", &Config::decimalPlaces_, CH::DecimalPlaces::getDefault(),
             QStringLiteral("empty, or a whole number from 0 to 7"), &CH::DecimalPlaces::valid),
        choice("roundingMethod", &Config::roundingMethod_),
        choice("keyboardType", &Config::keyboardType_),
        text("delay", &Config::delay_, CH::Delay::getDefault(),
             QStringLiteral("empty, or a whole number of milliseconds from 0 to 1000"), &CH::Delay::valid),
        boolean("minimizeToTray", &Config::minimizeToTray),
        boolean("notifyWhenMinimizedToTray", &Config::notifyWhenMinimizedToTray),
        boolean("checkForUpdates", &Config::checkForUpdates),
        boolean("abortAutoStartWhenPrevPortNotAvailable", &Config::abortAutoStartWhenPrevPortNotAvailable),
        boolean("ignoreDuplicates", &Config::ignoreDuplicates),
        choice("editOperation", &Config::editOperation_),
        choice("editPosition", &Config::editPosition_),
        text("editNumCharacters", &Config::editNumCharacters_, CH::EditNumCharacters::getDefault(),
             QStringLiteral("empty, or a whole number from 1 to 99"), &CH::EditNumCharacters::valid),
        text("removeCharacters", &Config::removeCharacters_, CH::RemoveCharacters::getDefault(),
             QStringLiteral("characters with codes 0 to 255 only"), &CH::RemoveCharacters::valid),
        text("customRegEx", &Config::customRegEx_, CH::CustomRegEx::getDefault(),
             QStringLiteral("empty, or a regular expression that compiles and has a capture group \"(...)\""),
             &CH::CustomRegEx::valid),
        text("ignoreTimeLimit", &Config::ignoreTimeLimit_, CH::IgnoreTimeLimit::getDefault(),
             QStringLiteral("empty, or a whole number of milliseconds greater than 0"),
             &CH::IgnoreTimeLimit::valid),
        text("ignoreDifference", &Config::ignoreDifference_, CH::IgnoreDifference::getDefault(),
             QStringLiteral("empty, or a decimal number greater than 0 with \".\" as the point"),
             &CH::IgnoreDifference::valid),
    };
    return defs;
}

const Config::KeyDef* Config::findKey(const QString& key) {
    for (const KeyDef& d : keyDefs())
        if (d.key == key)
            return &d;
    return nullptr;
}

Config::Config() = default;

Config::Config(const QString& port, std::optional<Instrument> instrument, int bitRate, int dataBits,
               int stopBits, int parity, int inputTerminator, int handshake, Connect connect,
               KeyboardType keyboardType, const QString& delay, DecimalSeparator decimalSeparator,
               StartWith startWith, OutputTerminator outputTerminator, OutputTerminator outputTerminator2,
               const QString& everyXValues, MathOperation mathOperation, const QString& mathOperand,
               const QString& decimalPlaces, RoundingMethod roundingMethod, Sound sound, bool minimizeToTray,
               bool notifyWhenMinimizedToTray, bool checkForUpdates,
               bool abortAutoStartWhenPrevPortNotAvailable, EditOperation editOperation,
               EditPosition editPosition, const QString& editNumCharacters, const QString& removeCharacters,
               const QString& customRegEx, bool ignoreDuplicates, const QString& ignoreTimeLimit,
               const QString& ignoreDifference)
    : minimizeToTray(minimizeToTray), notifyWhenMinimizedToTray(notifyWhenMinimizedToTray),
      checkForUpdates(checkForUpdates),
      abortAutoStartWhenPrevPortNotAvailable(abortAutoStartWhenPrevPortNotAvailable),
      ignoreDuplicates(ignoreDuplicates), port_(port), instrument_(instrument), bitRate_(bitRate),
      dataBits_(dataBits), stopBits_(stopBits), parity_(parity), inputTerminator_(inputTerminator),
      handshake_(handshake), decimalSeparator_(decimalSeparator), startWith_(startWith),
      outputTerminator_(outputTerminator), outputTerminator2_(outputTerminator2), everyXValues_(everyXValues),
      connect_(connect), mathOperation_(mathOperation), mathOperand_(mathOperand),
      decimalPlaces_(decimalPlaces), roundingMethod_(roundingMethod), sound_(sound),
      keyboardType_(keyboardType), delay_(delay), editOperation_(editOperation), editPosition_(editPosition),
      editNumCharacters_(editNumCharacters), removeCharacters_(removeCharacters), customRegEx_(customRegEx),
      ignoreTimeLimit_(ignoreTimeLimit), ignoreDifference_(ignoreDifference) {}

void Config::setInstrument(const std::optional<Instrument>& v) {
    instrument_ = v;
    if (!v)
        return;
    const QString property = v->getInstrumentType().name();
    auto it = listeners_.byName.find(property);
    if (it == listeners_.byName.end())
        return;
    // A copy: a listener may add or remove listeners while it runs.
    const auto entries = it->second;
    for (const auto& e : entries)
        e.fn(property, std::nullopt, v);
}

Config::ListenerId Config::addPropertyChangeListener(const QString& propertyName,
                                                     PropertyChangeListener listener) {
    const ListenerId id = listeners_.nextId++;
    listeners_.byName[propertyName].push_back({id, std::move(listener)});
    return id;
}

void Config::removePropertyChangeListener(const QString& propertyName, ListenerId id) {
    auto it = listeners_.byName.find(propertyName);
    if (it == listeners_.byName.end())
        return;
    std::erase_if(it->second, [id](const Listeners::Entry& e) { return e.id == id; });
}

std::optional<int> Config::getDecimalPlacesAsInt() const {
    return util::parseWholeNumber(decimalPlaces_);
}

int Config::getDelayAsInt() const {
    if (const auto v = util::parseWholeNumber(delay_))
        return *v;
    return util::parseWholeNumber(ConfigHelper::Delay::getDefault()).value_or(20);
}

int Config::getEditNumCharactersAsInt() const {
    return util::parseWholeNumber(editNumCharacters_).value_or(0);
}

int Config::getEveryXValuesAsInt() const {
    return util::parseWholeNumber(everyXValues_).value_or(0);
}

worker::Decimal Config::getMathOperandAsBigDecimal() const {
    return worker::Decimal::fromString(mathOperand_);
}

bool Config::roundingEnabled() const {
    const auto places = getDecimalPlacesAsInt();
    return places && *places >= 0 && *places <= 7;
}

bool Config::mathOperationEnabled() const {
    if (mathOperation_ == MathOperation::NONE || mathOperand_.isEmpty())
        return false;
    if (mathOperation_ == MathOperation::MULTIPLY)
        return true;
    return mathOperation_ == MathOperation::DIVIDE && roundingEnabled();
}

Config Config::copyConfig(const Config& c) {
    return Config(c.port_, c.instrument_, c.bitRate_, c.dataBits_, c.stopBits_, c.parity_, c.inputTerminator_,
                  c.handshake_, c.connect_, c.keyboardType_, c.delay_, c.decimalSeparator_, c.startWith_,
                  c.outputTerminator_, c.outputTerminator2_, c.everyXValues_, c.mathOperation_,
                  c.mathOperand_, c.decimalPlaces_, c.roundingMethod_, c.sound_, c.minimizeToTray,
                  c.notifyWhenMinimizedToTray, c.checkForUpdates, c.abortAutoStartWhenPrevPortNotAvailable,
                  c.editOperation_, c.editPosition_, c.editNumCharacters_, c.removeCharacters_,
                  c.customRegEx_, c.ignoreDuplicates, c.ignoreTimeLimit_, c.ignoreDifference_);
}

bool Config::hasChanged(const Config& a, const Config& b) {
    return a.port_ != b.port_ || a.instrument_ != b.instrument_ || a.bitRate_ != b.bitRate_ ||
           a.dataBits_ != b.dataBits_ || a.stopBits_ != b.stopBits_ || a.parity_ != b.parity_ ||
           a.inputTerminator_ != b.inputTerminator_ || a.handshake_ != b.handshake_ ||
           a.decimalSeparator_ != b.decimalSeparator_ || a.startWith_ != b.startWith_ ||
           a.outputTerminator_ != b.outputTerminator_ || a.outputTerminator2_ != b.outputTerminator2_ ||
           a.everyXValues_ != b.everyXValues_ || a.connect_ != b.connect_ ||
           a.mathOperation_ != b.mathOperation_ || a.mathOperand_ != b.mathOperand_ ||
           a.decimalPlaces_ != b.decimalPlaces_ || a.roundingMethod_ != b.roundingMethod_ ||
           a.sound_ != b.sound_ || a.keyboardType_ != b.keyboardType_ || a.delay_ != b.delay_ ||
           a.editOperation_ != b.editOperation_ || a.editPosition_ != b.editPosition_ ||
           a.editNumCharacters_ != b.editNumCharacters_ || a.removeCharacters_ != b.removeCharacters_ ||
           a.customRegEx_ != b.customRegEx_ || a.ignoreTimeLimit_ != b.ignoreTimeLimit_ ||
           a.ignoreDifference_ != b.ignoreDifference_ || a.minimizeToTray != b.minimizeToTray ||
           a.notifyWhenMinimizedToTray != b.notifyWhenMinimizedToTray ||
           a.checkForUpdates != b.checkForUpdates ||
           a.abortAutoStartWhenPrevPortNotAvailable != b.abortAutoStartWhenPrevPortNotAvailable ||
           a.ignoreDuplicates != b.ignoreDuplicates;
}

Config::LoadResult Config::loadConfig(prefs::AbstractPreferences& node, const QStringList& availablePorts) {
    LoadResult result;
    // The node read the file when it was created; a file that cannot be read leaves it empty. Say so
    // instead of presenting the defaults as the stored settings.
    try {
        node.sync();
    } catch (const prefs::BackingStoreException& e) {
        result.valid = false;
        result.warnings +=
            QStringLiteral("The stored settings could not be read (%1); the defaults are used.")
                .arg(e.message());
    }

    // 1, 2: the port only when the system has ports; prevPort tells whether the port changed since.
    if (!availablePorts.isEmpty())
        port_ = node.get(QStringLiteral("port"), availablePorts.first());
    prevPort_ = node.get(QStringLiteral("prevPort"), port_);
    for (QString* text : {&port_, &prevPort_}) {
        if (text->contains(QChar(0))) {
            result.valid = false;
            result.warnings +=
                QStringLiteral("Invalid stored port name (it holds the character code 0): ignored.");
            *text = text == &port_ && !availablePorts.isEmpty() ? availablePorts.first() : QString();
        }
    }

    static const char* const loadOrder[] = {"instrument",
                                            "bitRate",
                                            "dataBits",
                                            "stopBits",
                                            "parity",
                                            "decimalSeparator",
                                            "inputTerminator",
                                            "handshake",
                                            "startWith",
                                            "outputTerminator",
                                            "outputTerminator2",
                                            "everyXValues",
                                            "connect",
                                            "mathOperand",
                                            "mathOperation",
                                            "decimalPlaces",
                                            "roundingMethod",
                                            "sound",
                                            "keyboardType",
                                            "delay",
                                            "minimizeToTray",
                                            "notifyWhenMinimizedToTray",
                                            "checkForUpdates",
                                            "abortAutoStartWhenPrevPortNotAvailable",
                                            "ignoreDuplicates",
                                            "editOperation",
                                            "editPosition",
                                            "editNumCharacters",
                                            "removeCharacters",
                                            "ignoreTimeLimit",
                                            "ignoreDifference",
                                            "customRegEx"};
    for (const char* name : loadOrder) {
        const KeyDef& d = *findKey(QString::fromLatin1(name));
        QString text;
        switch (d.kind) {
        case KeyDef::Integer:
            // A stored text that is no integer reads as the default without a report.
            text = QString::number(node.getInt(d.key, d.loadDefault.toInt()));
            break;
        case KeyDef::Boolean:
            // No validity check: anything but "true"/"false" reads as false.
            text = node.getBoolean(d.key, false) ? QStringLiteral("true") : QStringLiteral("false");
            break;
        default:
            text = node.get(d.key, d.loadDefault);
            break;
        }
        // A text the store could not write back (character code 0, over-long: only a damaged file holds
        // one) is invalid too, or every later save would trip over it.
        bool storable = true;
        try {
            prefs::AbstractPreferences::checkEntry(d.key, text);
        } catch (const std::invalid_argument&) {
            storable = false;
        }
        if (!storable || !d.set(*this, text)) {
            d.set(*this, d.loadDefault);
            result.valid = false;
            result.warnings +=
                QStringLiteral("Invalid stored setting \"%1\" = %2 (expected %3): the default %4 is used.")
                    .arg(d.key, quoted(text), d.acceptable, quoted(d.loadDefault));
        }
    }

    // The store is asked for the node's keys once; its failure is the caller's to report.
    node.keys();
    return result;
}

QString Config::saveConfig(prefs::AbstractPreferences& node) const {
    // Every entry the store accepts is written, in one go; an entry it refuses (a text with the character
    // code 0 read from a damaged file) is reported and skipped instead of stopping every later save.
    QString refused;
    std::vector<std::pair<QString, QString>> accepted;
    for (auto& entry : storedEntries()) {
        try {
            prefs::AbstractPreferences::checkEntry(entry.first, entry.second);
            accepted.push_back(std::move(entry));
        } catch (const std::exception& e) {
            if (refused.isEmpty())
                refused = QString::fromUtf8(e.what());
            qCWarning(lcConfig).noquote() << "saveConfig exception:" << QString::fromUtf8(e.what());
        }
    }
    try {
        node.putAll(accepted);
    } catch (const std::exception& e) {
        refused = QString::fromUtf8(e.what());
        qCWarning(lcConfig).noquote() << "saveConfig exception:" << refused;
    }
    node.flush();
    return refused;
}

QStringList Config::keys() {
    QStringList k;
    for (const KeyDef& d : keyDefs())
        k += d.key;
    return k;
}

QString Config::getByKey(const QString& key) const {
    const KeyDef* d = findKey(key);
    return d ? d->get(*this) : QString();
}

std::vector<std::pair<QString, QString>> Config::storedEntries() const {
    std::vector<std::pair<QString, QString>> entries;
    for (const KeyDef& d : keyDefs()) {
        if (d.kind == KeyDef::Port) {
            // Both written with the current port, and only when a port is set: "prevPort" is always the
            // port of the last save.
            if (!port_.isEmpty())
                entries.emplace_back(d.key, port_);
            continue;
        }
        const QString value = d.get(*this);
        if (!value.isNull())
            entries.emplace_back(d.key, value);
    }
    return entries;
}

bool Config::setByKey(const QString& key, const QString& text, QString* why) {
    const KeyDef* d = findKey(key);
    if (!d) {
        if (why)
            *why =
                QStringLiteral("unknown settings key \"%1\"; the keys are: %2").arg(key, keys().join(u' '));
        return false;
    }
    if (text.size() > prefs::AbstractPreferences::MAX_VALUE_LENGTH) {
        if (why)
            *why = QStringLiteral("the value of \"%1\" is longer than %2 characters")
                       .arg(key)
                       .arg(prefs::AbstractPreferences::MAX_VALUE_LENGTH);
        return false;
    }
    if (!d->set(*this, text)) {
        if (why)
            *why = QStringLiteral("%1 is not acceptable for \"%2\": expected %3")
                       .arg(quoted(text), key, d->acceptable);
        return false;
    }
    return true;
}

// The preset's usual port settings on an otherwise default record.
Config ConfigHelper::Instrument::getDefaultConfig() const {
    const PortDefaults d = getPortDefaults();
    Config c;
    c.setBitRate(d.bitRate);
    c.setDataBits(d.dataBits);
    c.setStopBits(d.stopBits);
    c.setParity(d.parity);
    c.setInputTerminator(d.inputTerminator);
    c.setHandshake(d.handshake);
    return c;
}

} // namespace vornal::config
