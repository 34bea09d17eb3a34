// vornal-cli request: asks the running connection (vornal-cli run or the window) to send its request
// command to the instrument; the answer is typed (or printed) by that connection.
#include "Cli.h"

#include "vornal/worker/RequestSender.h"

namespace {

int runRequest(vornal::cli::Invocation& inv, vornal::cli::Io& io) {
    QString error;
    // The instrument of one profile of a station (each listens on a socket of its own).
    const auto profile = vornal::cli::takeValue(inv.args, QStringLiteral("--profile"), &error);
    if (!error.isEmpty())
        return vornal::cli::fail(io, inv, error, vornal::cli::Usage);
    if (profile && profile->isEmpty())
        return vornal::cli::fail(io, inv, QStringLiteral("--profile needs the name of a profile"),
                                 vornal::cli::Usage);
    const auto rest = vornal::cli::positional(inv.args, &error);
    if (!rest)
        return vornal::cli::fail(io, inv, error, vornal::cli::Usage);
    if (!rest->isEmpty())
        return vornal::cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(rest->first()),
                                 vornal::cli::Usage);
    QString sent;
    const QString failure =
        vornal::worker::RequestSender::requestFromRunning(3000, &sent, profile.value_or(QString()));
    if (!failure.isEmpty())
        return vornal::cli::fail(
            io, inv, profile ? QStringLiteral("profile '%1': %2").arg(*profile, failure) : failure);
    // "S<13><10>", a tab, "SIM1": the command, then the port of the connection that sent it.
    const QString command = sent.section(u'\t', 0, 0);
    const QString port = sent.section(u'\t', 1);
    if (command.isEmpty())
        io.out << "request sent by the running connection" << Qt::endl;
    else if (port.isEmpty())
        io.out << "request " << command << " sent by the running connection" << Qt::endl;
    else
        io.out << "request " << command << " sent to " << port << " by the running connection" << Qt::endl;
    return vornal::cli::Ok;
}

vornal::cli::Register reg{{"request", "request [--profile NAME]",
                           "ask the running connection (of the profile NAME) to send its request command to "
                           "the instrument",
                           &runRequest}};

} // namespace
