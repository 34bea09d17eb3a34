// vornal-cli detect [PORT...]: finds the port of an attached instrument by its handshake lines (the
// window's auto-detect button) and prints the progress and the proposed port.
#include "Cli.h"

#include "vornal/worker/AutoPortWorker.h"
#include "vornal/worker/Startup.h"

#include <QCoreApplication>

namespace {

using namespace vornal;

class PrintingView : public worker::AutoPortWorkerView {
public:
    explicit PrintingView(QTextStream& out) : out_(out) {}
    void setButtonToCancel() override {}
    void setButtonToClose() override {}
    void setPort(const QString& port) override { port_ = port; }
    void update(const QString& text, Style) override { out_ << text << Qt::endl; }
    QString port_;

private:
    QTextStream& out_;
};

int runDetect(cli::Invocation& inv, cli::Io& io) {
    QString error;
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);

    QStringList ports = *rest;
    if (ports.isEmpty()) {
        const worker::PortListing listing = worker::listPorts();
        if (!listing.message().isEmpty())
            return cli::fail(io, inv, listing.message());
        ports = listing.ports;
    }

    PrintingView view(io.out);
    worker::AutoPortWorker worker(&view, ports);
    QObject::connect(&worker, &worker::AutoPortWorker::finished, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    worker.execute();
    QCoreApplication::exec();
    switch (worker.outcome()) {
    case worker::AutoPortWorker::Outcome::Found:
        return cli::Ok;
    case worker::AutoPortWorker::Outcome::Failed:
        return cli::Failure;
    default:
        // Nothing found: the message says so; a script can tell by the status.
        return cli::Failure;
    }
}

cli::Register reg{
    {"detect", "detect [PORT...]",
     "find the port of an attached instrument by its handshake lines (all ports when none named)",
     &runDetect}};

} // namespace
