// vornal-cli request: asks the running connection (vornal-cli run or the window) to send its request
// command to the instrument; the answer is typed (or printed) by that connection.
#include "Cli.h"

#include "vornal/worker/RequestSender.h"

namespace {

int runRequest(vornal::cli::Invocation& inv, vornal::cli::Io& io) {
    if (!inv.args.isEmpty())
        return vornal::cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(inv.args.first()),
                                 vornal::cli::Usage);
    QString sent;
    const QString failure = vornal::worker::RequestSender::requestFromRunning(3000, &sent);
    if (!failure.isEmpty())
        return vornal::cli::fail(io, inv, failure);
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

vornal::cli::Register reg{{"request", "request",
                           "ask the running connection to send its request command to the instrument",
                           &runRequest}};

} // namespace
