// vornal-cli request: asks the running connection (vornal-cli run or the window) to send its request
// command to the instrument; the answer is typed (or printed) by that connection.
#include "Cli.h"

#include "vornal/worker/RequestSender.h"

namespace {

int runRequest(vornal::cli::Invocation& inv, vornal::cli::Io& io) {
    if (!inv.args.isEmpty())
        return vornal::cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(inv.args.first()),
                                 vornal::cli::Usage);
    const QString failure = vornal::worker::RequestSender::requestFromRunning();
    if (!failure.isEmpty())
        return vornal::cli::fail(io, inv, failure);
    return vornal::cli::Ok;
}

vornal::cli::Register reg{{"request", "request",
                           "ask the running connection to send its request command to the instrument",
                           &runRequest}};

} // namespace
