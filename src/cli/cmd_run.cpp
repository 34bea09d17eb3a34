// vornal-cli run: a headless connection with the stored settings until SIGINT or SIGTERM.
#include "Cli.h"
#include "SettingsArgs.h"

#include "vornal/worker/Ignorer.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/WeightWorker.h"

#include <Direduva/Errors.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include <csignal>
#include <iostream>
#include <mutex>
#include <optional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

using namespace vornal;

#ifdef Q_OS_UNIX
int signalPipe[2] = {-1, -1};
void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
#endif

// Event-log lines go to standard error with a time stamp; values are typed through the keystroke
// output, or printed to standard output (--print).
class ConsoleView : public worker::WeightWorkerView {
public:
    ConsoleView(cli::Io& io, bool print, std::optional<worker::Ignorer> ignorer)
        : io_(io), print_(print), ignorer_(std::move(ignorer)) {}

    void setKeybot(worker::Keybot* keybot) { keybot_ = keybot; }

    void logEvent(const QString& text) override { log(text); }
    void logImportantEvent(const QString& text) override { log(QStringLiteral("! ") + text); }
    void setConnectedInGUI(bool connected) override { connected_ = connected; }
    void update(const worker::DataLine& received) override {
        worker::DataLine line = received;
        if (ignorer_)
            ignorer_->process(line);
        if (!line.hasValue())
            return;
        if (keybot_) {
            keybot_->add(line.getProcessedData());
        } else if (print_) {
            std::lock_guard lock(mutex_);
            io_.out << line.getProcessedData() << Qt::endl;
        }
    }

    bool connected() const { return connected_; }

private:
    void log(const QString& text) {
        std::lock_guard lock(mutex_);
        io_.err << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) << text << Qt::endl;
    }
    cli::Io& io_;
    bool print_;
    std::optional<worker::Ignorer> ignorer_;
    worker::Keybot* keybot_ = nullptr;
    std::mutex mutex_;
    std::atomic<bool> connected_{false};
};

int runRun(cli::Invocation& inv, cli::Io& io) {
    int rc = cli::Ok;
    QString error;
    const bool print = cli::takeFlag(inv.args, QStringLiteral("--print"));
    const auto port = cli::takeValue(inv.args, QStringLiteral("--port"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);

    QStringList ports;
    try {
        for (const auto& p : Direduva::SerialPortLocal::getPortList())
            ports += QString::fromStdString(p);
    } catch (const std::exception&) {
        // Reported below with the loader's own reason.
    }
    if (!Direduva::SerialPortLocal::isLibraryLoaded())
        return cli::fail(io, inv,
                         QStringLiteral("the serial driver library could not be loaded: %1")
                             .arg(QString::fromStdString(Direduva::SerialPortLocal::libraryLoadError())),
                         2);
    auto config = cli::loadSettingsWithOverrides(inv, io, ports, &rc);
    if (!config)
        return rc;
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (!rest->isEmpty())
        return cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(rest->first()), cli::Usage);
    if (port)
        config->setPort(*port);
    if (config->getPort().isEmpty())
        return cli::fail(
            io, inv,
            QStringLiteral("no port: give one with --port NAME (see vornal-cli ports) or store one "
                           "with vornal-cli set port=NAME"));
    std::optional<worker::Ignorer> ignorer;
    if (config->ignoreDuplicates)
        ignorer = worker::Ignorer::fromConfig(*config);
    ConsoleView view(io, print, std::move(ignorer));

    std::unique_ptr<worker::WeightWorker> worker;
    try {
        worker = worker::createWorker(*config, &view);
    } catch (const Direduva::InvalidSettingError& e) {
        return cli::fail(io, inv, QStringLiteral("invalid setting: %1").arg(QString::fromUtf8(e.what())));
    } catch (const std::exception& e) {
        return cli::fail(
            io, inv,
            QStringLiteral("cannot open %1: %2").arg(config->getPort(), QString::fromUtf8(e.what())));
    }

    // The keystroke output with the stored start key, terminators, delay and layout, and the key map of
    // the instrument preset; created once the port is open.
    std::unique_ptr<worker::Keybot> keybot;
    if (!print) {
        try {
            keybot = worker::Keybot::fromConfig(*config, &view);
        } catch (const std::exception& e) {
            return cli::fail(io, inv,
                             QStringLiteral("%1 (use --print to print the values instead of typing them)")
                                 .arg(QString::fromUtf8(e.what())));
        }
        if (keybot->capsLockOn().value_or(false))
            view.logImportantEvent(
                QStringLiteral("Caps Lock is on: turn it off, capitals are typed with SHIFT"));
        view.logEvent(QStringLiteral("typing through %1, %2 layout")
                          .arg(keybot->injectorName(), config->getKeyboardType().toString()));
        keybot->start();
        view.setKeybot(keybot.get());
    }

    bool stoppedBySignal = false;
#ifdef Q_OS_UNIX
    if (::pipe(signalPipe) != 0)
        return cli::fail(io, inv, QStringLiteral("cannot set up signal handling"));
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
        stoppedBySignal = true;
        worker->cancel();
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
#endif
    QObject::connect(worker.get(), &worker::WeightWorker::finished, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    worker->execute();
    QCoreApplication::exec();
#ifdef Q_OS_UNIX
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
#endif
    if (keybot) {
        view.setKeybot(nullptr);
        // The value being typed is finished (a cut one is logged); values not typed yet are dropped:
        // typing them after the stop would hit whatever window has the focus by then.
        if (const int dropped = keybot->finishAndStop().discarded)
            view.logImportantEvent(
                QStringLiteral("%1 value(s) not typed: the connection was stopped").arg(dropped));
    }
    // Stopped by a signal: a clean end. Ended by itself (the port went away): a failure.
    return stoppedBySignal ? cli::Ok : cli::Failure;
}

cli::Register reg{{"run", "run [--port NAME] [--print] [--preset NAME] [--set KEY=VALUE]...",
                   "a headless connection: read the port and type (or print) each value until stopped",
                   &runRun}};

} // namespace
