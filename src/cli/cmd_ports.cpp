// vornal-cli ports [--json]: the serial ports the driver reports, in the order the window shows them.
#include "Cli.h"

#include "vornal/util/FriendlyPortUtil.h"
#include "vornal/worker/Startup.h"

#include <Direduva/SerialPortLocal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using namespace vornal::cli;

int runPorts(Invocation& inv, Io& io) {
    const bool json = takeFlag(inv.args, QStringLiteral("--json"));
    QString error;
    const auto rest = positional(inv.args, &error);
    if (!rest)
        return fail(io, inv, error, Usage);
    if (!rest->isEmpty())
        return fail(io, inv, QStringLiteral("unexpected argument %1").arg(rest->first()), Usage);

    // The library's banner would mix with the listing; its failures are reported below.
    Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
    const vornal::worker::PortListing listing = vornal::worker::listPorts();
    if (!listing.message().isEmpty())
        return fail(io, inv, listing.message());
    std::vector<std::string> names;
    for (const QString& name : listing.ports)
        names.push_back(name.toStdString());
    std::vector<Direduva::PortDriverInfo> details;
    if (!names.empty() && Direduva::SerialPortLocal::supports("supDriverInfo")) {
        try {
            details = Direduva::SerialPortLocal::getDriverInfoList();
            vornal::util::FriendlyPortUtil::setPortInfo(details);
        } catch (const std::exception&) {
            // Without details the bare names are shown.
        }
    }
    auto detailOf = [&](const std::string& name) -> const Direduva::PortDriverInfo* {
        for (const auto& d : details)
            if (d.getPortName() == name)
                return &d;
        return nullptr;
    };

    if (json) {
        QJsonArray list;
        for (const auto& n : names) {
            const QString name = QString::fromStdString(n);
            QJsonObject o{
                {QStringLiteral("name"), name},
                {QStringLiteral("friendlyName"), vornal::util::FriendlyPortUtil::getFriendlyPortName(name)}};
            if (const auto* d = detailOf(n)) {
                o.insert(QStringLiteral("manufacturer"), QString::fromStdString(d->getDriverMfgr()));
                o.insert(QStringLiteral("description"), QString::fromStdString(d->getDriverDesc()));
            }
            list.append(o);
        }
        io.out << QJsonDocument(list).toJson(QJsonDocument::Indented);
        return Ok;
    }
    if (names.empty()) {
        io.err << "vornal-cli ports: no serial ports found\n";
        return Ok;
    }
    for (const auto& n : names)
        io.out << vornal::util::FriendlyPortUtil::getFriendlyPortName(QString::fromStdString(n)) << '\n';
    return Ok;
}

Register reg{{"ports", "ports [--json]", "list the serial ports", &runPorts}};

} // namespace
