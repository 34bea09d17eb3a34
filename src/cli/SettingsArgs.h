#pragma once

// Settings for subcommands that run the pipeline: the stored settings, then --preset NAME (the instrument
// and all of its port settings: bit rate, data bits, parity, stop bits, handshake, input terminator),
// then every --set KEY=VALUE with the rules of `vornal-cli set`.

#include "Cli.h"
#include "Store.h"

#include "vornal/config/Config.h"
#include "vornal/config/RegexDialect.h"

#include <optional>

namespace vornal::cli {

// Prints the dialect warnings about the custom expression of `config` (a nested class, "&&"), as the
// window shows them next to the expression.
// A value as people write it on the command line, in its stored form: the layout QWERTY is stored under
// its historical name QUERTY.
inline QString storedForm(const QString& key, const QString& value) {
    if (key == u"keyboardType")
        if (const auto layout = config::ConfigHelper::KeyboardType::fromUserText(value))
            return layout->name();
    return value;
}

inline void warnAboutCustomRegex(const Invocation& inv, Io& io, const config::Config& config) {
    for (const QString& w : config::instrumentRegexWarnings(config.getCustomRegEx()))
        io.err << "vornal-cli " << inv.command << ": warning: customRegEx: " << w << Qt::endl;
}

// --preset NAME and every --set KEY=VALUE of `inv`'s arguments (taken out of them), applied to a record
// by applyOverrides().
struct Overrides {
    std::optional<QString> preset;
    QStringList sets;
    bool any() const { return preset.has_value() || !sets.isEmpty(); }
};

// Takes --preset and --set from `inv`'s arguments; none after printing why (exit status in `exitCode`).
inline std::optional<Overrides> takeOverrides(Invocation& inv, Io& io, int* exitCode) {
    QString error;
    Overrides o;
    o.preset = takeValue(inv.args, QStringLiteral("--preset"), &error);
    o.sets = takeValues(inv.args, QStringLiteral("--set"), &error);
    if (!error.isEmpty()) {
        *exitCode = fail(io, inv, error, Usage);
        return std::nullopt;
    }
    return o;
}

// The preset with all of its port settings, then every --set with the rules of `vornal-cli set`. False
// after printing why (exit status in `exitCode`).
inline bool applyOverrides(const Invocation& inv, Io& io, const Overrides& o, config::Config& config,
                           int* exitCode) {
    if (o.preset) {
        const auto instrument = config::ConfigHelper::Instrument::valueOf(*o.preset);
        if (!instrument) {
            QStringList names;
            for (const auto& i : config::ConfigHelper::Instrument::values())
                names += i.name();
            *exitCode = fail(
                io, inv,
                QStringLiteral("unknown preset '%1'; the presets are: %2").arg(*o.preset, names.join(u' ')),
                Usage);
            return false;
        }
        config.setInstrument(*instrument);
        // All of the preset's port settings, as its default-settings button in the window gives them,
        // and the command that asks it for a reading.
        config.applyPreset(*instrument);
    }
    for (const QString& s : o.sets) {
        const qsizetype eq = s.indexOf(u'=');
        QString why;
        if (eq <= 0) {
            *exitCode = fail(io, inv, QStringLiteral("--set '%1' is not KEY=VALUE").arg(s), Usage);
            return false;
        }
        if (!config.setByKey(s.left(eq), storedForm(s.left(eq), s.mid(eq + 1)), &why)) {
            *exitCode = fail(io, inv, why, Usage);
            return false;
        }
    }
    warnAboutCustomRegex(inv, io, config);
    return true;
}

// Loads the settings for `inv`, taking --preset and --set from its arguments. `ports` are the ports of
// the system (only then is the stored port read). Returns none after printing why (exit status in
// `exitCode`).
inline std::optional<config::Config> loadSettingsWithOverrides(Invocation& inv, Io& io,
                                                               const QStringList& ports, int* exitCode) {
    const auto overrides = takeOverrides(inv, io, exitCode);
    if (!overrides)
        return std::nullopt;

    config::Config config;
    auto node = openSettingsNode(inv);
    try {
        const auto loaded = config.loadConfig(*node, ports);
        for (const QString& w : loaded.warnings)
            io.err << "vornal-cli " << inv.command << ": " << w << Qt::endl;
    } catch (const std::exception& e) {
        io.err << "vornal-cli " << inv.command << ": cannot read the settings from " << storeFileName()
               << ": " << e.what() << "; using the defaults" << Qt::endl;
        config = config::Config();
        config.setInstrument(config::ConfigHelper::Instrument::getDefault());
    }
    if (!applyOverrides(inv, io, *overrides, config, exitCode))
        return std::nullopt;
    return config;
}

} // namespace vornal::cli
