// vornal-cli presets: the instrument presets with their port defaults and extraction patterns.
#include "Cli.h"

#include "vornal/config/ConfigHelper.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using vornal::config::ConfigHelper;
using vornal::config::PortDefaults;
using Instrument = ConfigHelper::Instrument;

// "2400/7/EVEN/1/10": bit rate, data bits, parity, stop bits, terminator code, then the handshake's
// constant name when there is one.
QString portText(const PortDefaults& d) {
    QString text =
        QStringLiteral("%1/%2/%3/%4/%5")
            .arg(ConfigHelper::BitRates::getReadable(d.bitRate),
                 ConfigHelper::DataBits::getReadable(d.dataBits), ConfigHelper::Parity::getReadable(d.parity),
                 ConfigHelper::StopBits::getReadable(d.stopBits))
            .arg(d.inputTerminator);
    if (d.handshake != ConfigHelper::Handshake::NONE.ordinal())
        text += u'/' + ConfigHelper::Handshake::fromOrdinal(d.handshake)->name();
    return text;
}

QJsonObject presetJson(const Instrument& p) {
    const PortDefaults d = p.getPortDefaults();
    QJsonObject o;
    o["name"] = p.name();
    o["display"] = p.toPlainString();
    o["type"] = p.getInstrumentType().name();
    o["keyMap"] = p.getKeyMapType().name();
    o["port"] = portText(d);
    o["bitRate"] = ConfigHelper::BitRates::fromOrdinal(d.bitRate)->getRate();
    o["dataBits"] = ConfigHelper::DataBits::getReadable(d.dataBits).toInt();
    o["parity"] = ConfigHelper::Parity::getReadable(d.parity);
    o["stopBits"] = ConfigHelper::StopBits::getReadable(d.stopBits).toInt();
    o["inputTerminator"] = d.inputTerminator;
    o["handshake"] = ConfigHelper::Handshake::fromOrdinal(d.handshake)->name();
    o["pattern"] = p.getPattern();
    const auto hint = p.getDefaultMessage();
    o["hint"] = hint ? QJsonValue(*hint) : QJsonValue(QJsonValue::Null);
    return o;
}

int runPresets(vornal::cli::Invocation& inv, vornal::cli::Io& io) {
    const bool json = vornal::cli::takeFlag(inv.args, "--json");
    QString error;
    const auto rest = vornal::cli::positional(inv.args, &error);
    if (!rest)
        return vornal::cli::fail(io, inv, error, vornal::cli::Usage);
    if (!rest->isEmpty())
        return vornal::cli::fail(
            io, inv, QStringLiteral("unexpected argument \"%1\"; usage: presets [--json]").arg(rest->first()),
            vornal::cli::Usage);

    if (json) {
        QJsonArray all;
        for (const Instrument& p : Instrument::values())
            all.append(presetJson(p));
        io.out << QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented));
        return vornal::cli::Ok;
    }
    for (const Instrument& p : Instrument::values()) {
        io.out << p.name() << '\t' << p.toPlainString() << '\t' << p.getInstrumentType().name() << '\t'
               << p.getKeyMapType().name() << '\t' << portText(p.getPortDefaults()) << '\t' << p.getPattern()
               << '\n';
    }
    return vornal::cli::Ok;
}

vornal::cli::Register reg{{"presets", "presets [--json]",
                           "list the instrument presets: name, display name, type, key map, port defaults "
                           "(bit rate/data bits/parity/stop bits/terminator[/handshake]), pattern",
                           &runPresets}};

} // namespace
