#include "vornal/config/Config.h"

#include "platform/keys/KeyInjector.h"
#include <QFileInfo>

#include "vornal/decimal/Decimal.h"
#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/util/WholeNumber.h"

#include <Direduva/SerialPortLocal.h>

#include <QLoggingCategory>

#include <algorithm>
#include <limits>

namespace vornal::config {

Q_LOGGING_CATEGORY(lcConfig, "vornal.config.Config", QtWarningMsg)

namespace {

using CH = ConfigHelper;

// Why a network port name (tcp://, rfc2217://) cannot be used; empty for a good one and for device names.
QString networkPortProblem(const QString& name) {
    const std::string n = name.toStdString();
    if (!Direduva::SerialPortLocal::isNetworkPortName(n))
        return {};
    return QString::fromStdString(Direduva::SerialPortLocal::checkPortName(n));
}

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

// One settings key: its stored form, its place in the load, how a stored form is checked and applied,
// and the default the load falls back to. Copy, compare, load, save and the access by key all run over
// the table of these rows (keyDefs), so a setting is added by adding its row there.
struct Config::KeyDef {
    enum Kind { Text, Integer, Boolean, Choice, Port };
    QString key;
    Kind kind;
    int loadPosition;    // the load reads the keys by ascending position (ties: table order)
    QString loadDefault; // the load's fallback, in stored form
    QString acceptable;  // what the key accepts, for messages
    std::function<QString(const Config&)> get;
    std::function<bool(Config&, const QString&)> set; // false (and no change) when refused
    std::function<void(Config&, const Config&)> copy; // the field from the second record into the first
    // Part of copyConfig and hasChanged; only prevPort, the port of the previous run, is not.
    bool compared = true;
};

namespace {
// A path the store can hold (no character code 0, no line breaks) that does not name something other
// than a file: a folder, a device or a FIFO is refused (QFileInfo::isFile is false for each of them).
bool validDataLogFile(const QString& text) {
    if (text.contains(QChar(0)) || text.contains(u'\n') || text.contains(u'\r'))
        return false;
    const QFileInfo info(text);
    return text.isEmpty() || !info.exists() || info.isFile();
}
} // namespace

const std::vector<Config::KeyDef>& Config::keyDefs() {
    using K = KeyDef;
    auto copyOf = [](auto Config::*m) { return [m](Config& to, const Config& from) { to.*m = from.*m; }; };
    auto text = [&](const char* key, int loadPosition, QString Config::*m, QString loadDefault,
                    QString acceptable, bool (*valid)(const QString&)) {
        return K{QString::fromLatin1(key), K::Text, loadPosition, loadDefault, acceptable,
                 // A text is stored as typed; "no text" is stored as the empty text.
                 [m](const Config& c) { return (c.*m).isNull() ? QStringLiteral("") : c.*m; },
                 [m, valid](Config& c, const QString& t) {
                     if (valid && !valid(t))
                         return false;
                     c.*m = t;
                     return true;
                 },
                 copyOf(m)};
    };
    auto integer = [&](const char* key, int loadPosition, int Config::*m, int loadDefault, QString acceptable,
                       bool (*valid)(int)) {
        return K{QString::fromLatin1(key),
                 K::Integer,
                 loadPosition,
                 QString::number(loadDefault),
                 acceptable,
                 [m](const Config& c) { return QString::number(c.*m); },
                 [m, valid](Config& c, const QString& t) {
                     const auto v = util::parseWholeNumber(t);
                     if (!v || !valid(*v))
                         return false;
                     c.*m = *v;
                     return true;
                 },
                 copyOf(m)};
    };
    // An absent key or any text but "true"/"false" loads as `loadDefault`.
    auto boolean = [&](const char* key, int loadPosition, bool Config::*m, bool loadDefault) {
        return K{QString::fromLatin1(key),
                 K::Boolean,
                 loadPosition,
                 loadDefault ? QStringLiteral("true") : QStringLiteral("false"),
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
                 },
                 copyOf(m)};
    };
    // A constant of an option set, stored by name; the load falls back to the set's default.
    auto choice = [&]<class E>(const char* key, int loadPosition, E Config::*m) {
        return K{QString::fromLatin1(key),
                 K::Choice,
                 loadPosition,
                 E::getDefault().name(),
                 constantNames<E>(),
                 [m](const Config& c) { return (c.*m).name(); },
                 [m](Config& c, const QString& t) {
                     const auto v = E::valueOf(t);
                     if (!v)
                         return false;
                     c.*m = *v;
                     return true;
                 },
                 copyOf(m)};
    };
    auto port = [&](const char* key, int loadPosition, QString Config::*m) {
        return K{QString::fromLatin1(key),
                 K::Port,
                 loadPosition,
                 QString(),
                 QStringLiteral("a port name"),
                 [m](const Config& c) { return c.*m; },
                 [m](Config& c, const QString& t) {
                     // Device names are the system's affair; a network name must be complete.
                     if (!networkPortProblem(t).isEmpty())
                         return false;
                     c.*m = t;
                     return true;
                 },
                 copyOf(m)};
    };
    auto notCompared = [](K def) {
        def.compared = false;
        return def;
    };

    // The settings table, in save order. The second column is the position in the load (port and
    // prevPort first, then the rest in that order); a new setting takes the next free position.
    static const std::vector<KeyDef> defs = {
        port("port", 1, &Config::port_),
        notCompared(port("prevPort", 2, &Config::prevPort_)),
        K{QStringLiteral("instrument"), K::Choice, 3, CH::Instrument::getDefault().name(),
          QStringLiteral("the name of an instrument preset, e.g. GENERIC or KERN_572"),
          [](const Config& c) { return c.instrument_ ? c.instrument_->name() : QString(); },
          [](Config& c, const QString& t) {
              const auto v = CH::Instrument::valueOf(t);
              if (!v)
                  return false;
              c.instrument_ = *v;
              return true;
          },
          copyOf(&Config::instrument_)},
        integer("bitRate", 4, &Config::bitRate_, CH::BitRates::getDefault(),
                indexRange<CH::BitRates>() + QStringLiteral(" (7 is 9600 bit/s)"), &CH::BitRates::valid),
        integer("dataBits", 5, &Config::dataBits_, CH::DataBits::getDefault(),
                indexRange<CH::DataBits>() + QStringLiteral(" (3 is 8 data bits)"), &CH::DataBits::valid),
        integer("stopBits", 6, &Config::stopBits_, CH::StopBits::getDefault(),
                indexRange<CH::StopBits>() + QStringLiteral(" (0 is 1 stop bit)"), &CH::StopBits::valid),
        integer("parity", 7, &Config::parity_, CH::Parity::getDefault(),
                indexRange<CH::Parity>() + QStringLiteral(" (0 NONE, 1 ODD, 2 EVEN, 3 MARK, 4 SPACE)"),
                &CH::Parity::valid),
        integer("inputTerminator", 9, &Config::inputTerminator_, CH::InputTerminator::getDefault(),
                QStringLiteral("a character code from 0 to 255"), &CH::InputTerminator::valid),
        integer("handshake", 10, &Config::handshake_, CH::Handshake::getDefault(),
                indexRange<CH::Handshake>() + QStringLiteral(" (0 NONE, 1 XON/XOFF, 2 RTS/CTS)"),
                &CH::Handshake::valid),
        choice("decimalSeparator", 8, &Config::decimalSeparator_),
        choice("sound", 20, &Config::sound_),
        choice("startWith", 11, &Config::startWith_),
        choice("outputTerminator", 12, &Config::outputTerminator_),
        choice("outputTerminator2", 13, &Config::outputTerminator2_),
        text("prefixKeys", 46, &Config::prefixKeys_, QString(""),
             QStringLiteral("empty, or up to 8 key names of startWith separated by spaces (e.g. TAB TAB)"),
             &Config::validPrefixKeys),
        text("everyXValues", 14, &Config::everyXValues_, CH::EveryXValues::getDefault(),
             QStringLiteral("empty, or a whole number from 2 to 99"), &CH::EveryXValues::valid),
        choice("connect", 15, &Config::connect_),
        choice("mathOperation", 17, &Config::mathOperation_),
        text("mathOperand", 16, &Config::mathOperand_, CH::MathOperand::getDefault(),
             QStringLiteral("empty, or a decimal number with \".\" as the point, other than \"0\""),
             &CH::MathOperand::valid),
        text("decimalPlaces", 18, &Config::decimalPlaces_, CH::DecimalPlaces::getDefault(),
             QStringLiteral("empty, or a whole number from 0 to 7"), &CH::DecimalPlaces::valid),
        choice("roundingMethod", 19, &Config::roundingMethod_),
        choice("keyboardType", 21, &Config::keyboardType_),
        text("delay", 22, &Config::delay_, CH::Delay::getDefault(),
             QStringLiteral("empty, or a whole number of milliseconds from 0 to 1000"), &CH::Delay::valid),
        boolean("minimizeToTray", 23, &Config::minimizeToTray, false),
        boolean("notifyWhenMinimizedToTray", 24, &Config::notifyWhenMinimizedToTray, false),
        boolean("checkForUpdates", 25, &Config::checkForUpdates, false),
        boolean("abortAutoStartWhenPrevPortNotAvailable", 26, &Config::abortAutoStartWhenPrevPortNotAvailable,
                false),
        boolean("ignoreDuplicates", 27, &Config::ignoreDuplicates, false),
        choice("editOperation", 28, &Config::editOperation_),
        choice("editPosition", 29, &Config::editPosition_),
        text("editNumCharacters", 30, &Config::editNumCharacters_, CH::EditNumCharacters::getDefault(),
             QStringLiteral("empty, or a whole number from 1 to 99"), &CH::EditNumCharacters::valid),
        text("removeCharacters", 31, &Config::removeCharacters_, CH::RemoveCharacters::getDefault(),
             QStringLiteral("characters with codes 0 to 255 only"), &CH::RemoveCharacters::valid),
        text("customRegEx", 34, &Config::customRegEx_, CH::CustomRegEx::getDefault(),
             QStringLiteral("empty, or a regular expression that compiles and has a capture group \"(...)\""),
             &CH::CustomRegEx::valid),
        text("ignoreTimeLimit", 32, &Config::ignoreTimeLimit_, CH::IgnoreTimeLimit::getDefault(),
             QStringLiteral("empty, or a whole number of milliseconds greater than 0"),
             &CH::IgnoreTimeLimit::valid),
        text("ignoreDifference", 33, &Config::ignoreDifference_, CH::IgnoreDifference::getDefault(),
             QStringLiteral("empty, or a decimal number greater than 0 with \".\" as the point"),
             &CH::IgnoreDifference::valid),
        boolean("reconnect", 35, &Config::reconnect_, true),
        boolean("typeOnlyStable", 36, &Config::typeOnlyStable_, false),
        boolean("oncePerPlacement", 37, &Config::oncePerPlacement_, false),
        text("requestCommand", 38, &Config::requestCommand_, CH::RequestCommand::getDefault(),
             QStringLiteral("empty, or characters with codes 0 to 255, control characters as <code> (e.g. "
                            "S<13><10>)"),
             &CH::RequestCommand::valid),
        text("requestHotkey", 39, &Config::requestHotkey_, CH::RequestHotkey::getDefault(),
             QStringLiteral("empty, or modifiers and a key such as Ctrl+Alt+R or Shift+F9"),
             &CH::RequestHotkey::valid),
        text("requestEverySeconds", 40, &Config::requestEverySeconds_, CH::RequestEverySeconds::getDefault(),
             QStringLiteral("empty, or a whole number of seconds from 1 to 86400"),
             &CH::RequestEverySeconds::valid),
        text("dataLogFile", 41, &Config::dataLogFile_, QString(""),
             QStringLiteral("empty (no data log), or the path of a CSV file (a regular file, not a folder, a "
                            "device or a FIFO)"),
             &validDataLogFile),
        integer("dataLogMaxBytes", 42, &Config::dataLogMaxBytes_, 10 * 1024 * 1024,
                QStringLiteral("a whole number of bytes, 0 for no limit or at least 1024"),
                [](int v) { return v == 0 || v >= 1024; }),
        integer("dataLogKeep", 43, &Config::dataLogKeep_, 5,
                QStringLiteral("a whole number of older files kept, from 0 to 99"),
                [](int v) { return v >= 0 && v <= 99; }),
        text("keyBackend", 44, &Config::keyBackend_, QStringLiteral("auto"),
             QStringLiteral("auto, or the keyboard output to use: ") + QString::fromStdString([] {
                 std::string n;
                 for (const auto& b : platform::keyBackendNames())
                     n += (n.empty() ? "" : " ") + b;
                 return n;
             }()),
             [](const QString& t) {
                 const auto names = platform::keyBackendNames();
                 return std::find(names.begin(), names.end(), t.toStdString()) != names.end();
             }),
        choice("inputEncoding", 45, &Config::inputEncoding_),
    };
    return defs;
}

namespace {
// The names of a prefix-key text; empty when one is not a key of the start key's list.
std::optional<std::vector<int>> prefixCodes(const QString& text) {
    std::vector<int> codes;
    for (const QString& name : text.split(u' ', Qt::SkipEmptyParts)) {
        const auto key = ConfigHelper::StartWith::valueOf(name.trimmed());
        if (!key || *key == ConfigHelper::StartWith::NONE)
            return std::nullopt;
        codes.push_back(key->getKeyCode());
    }
    if (static_cast<int>(codes.size()) > Config::MAX_PREFIX_KEYS)
        return std::nullopt;
    return codes;
}
} // namespace

bool Config::validPrefixKeys(const QString& text) {
    return prefixCodes(text).has_value();
}

std::vector<int> Config::getPrefixKeyCodes() const {
    return prefixCodes(prefixKeys_).value_or(std::vector<int>{});
}

const std::vector<const Config::KeyDef*>& Config::loadOrder() {
    static const std::vector<const KeyDef*> order = [] {
        std::vector<const KeyDef*> o;
        for (const KeyDef& d : keyDefs())
            o.push_back(&d);
        std::stable_sort(o.begin(), o.end(),
                         [](const KeyDef* a, const KeyDef* b) { return a->loadPosition < b->loadPosition; });
        return o;
    }();
    return order;
}

const Config::KeyDef* Config::findKey(const QString& key) {
    for (const KeyDef& d : keyDefs())
        if (d.key == key)
            return &d;
    return nullptr;
}

Config::Config() = default;

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

decimal::Decimal Config::getMathOperandAsBigDecimal() const {
    return decimal::Decimal::fromString(mathOperand_);
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
    Config copy;
    for (const KeyDef& d : keyDefs())
        if (d.compared)
            d.copy(copy, c);
    return copy;
}

bool Config::hasChanged(const Config& a, const Config& b) {
    for (const KeyDef& d : keyDefs())
        if (d.compared && d.get(a) != d.get(b))
            return true;
    return false;
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

    // The port first, and only when the system has ports; then prevPort, which tells whether the port
    // changed since the last save.
    if (!availablePorts.isEmpty()) {
        port_ = node.get(QStringLiteral("port"), availablePorts.first());
    } else {
        // A network port needs no serial port on this system.
        const QString stored = node.get(QStringLiteral("port"), QString());
        if (Direduva::SerialPortLocal::isNetworkPortName(stored.toStdString()))
            port_ = stored;
    }
    prevPort_ = node.get(QStringLiteral("prevPort"), port_);
    for (QString* text : {&port_, &prevPort_}) {
        if (text->contains(QChar(0))) {
            result.valid = false;
            result.warnings +=
                QStringLiteral("Invalid stored port name (it holds the character code 0): ignored.");
            *text = text == &port_ && !availablePorts.isEmpty() ? availablePorts.first() : QString();
        }
    }

    for (const KeyDef* def : loadOrder()) {
        const KeyDef& d = *def;
        if (d.kind == KeyDef::Port)
            continue; // read above
        QString text;
        switch (d.kind) {
        case KeyDef::Integer:
            // A stored text that is no integer reads as the default without a report.
            text = QString::number(node.getInt(d.key, d.loadDefault.toInt()));
            break;
        case KeyDef::Boolean:
            // No validity check: anything but "true"/"false" reads as the load default.
            text = node.getBoolean(d.key, d.loadDefault == u"true") ? QStringLiteral("true")
                                                                    : QStringLiteral("false");
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
    if (d->kind == KeyDef::Port && !networkPortProblem(text).isEmpty()) {
        if (why)
            *why = networkPortProblem(text);
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

bool Config::applyPreset(const Instrument& preset) {
    const PortDefaults d = preset.getPortDefaults();
    const bool hasPorts = ConfigHelper::BitRates::valid(d.bitRate);
    if (hasPorts) {
        setBitRate(d.bitRate);
        setDataBits(d.dataBits);
        setStopBits(d.stopBits);
        setParity(d.parity);
        setHandshake(d.handshake);
    }
    setInputTerminator(d.inputTerminator);
    setRequestCommand(preset.getRequestCommand());
    return hasPorts;
}

// The preset's usual port settings on an otherwise default record.
Config ConfigHelper::Instrument::getDefaultConfig() const {
    Config c;
    c.applyPreset(*this);
    return c;
}

} // namespace vornal::config
