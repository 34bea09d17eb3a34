// vornal-cli run: a headless connection with the stored settings until SIGINT, SIGTERM or SIGHUP.
#include "Cli.h"
#include "SettingsArgs.h"

#include "vornal/publish/Publisher.h"
#include "vornal/worker/Connection.h"
#include "vornal/worker/Startup.h"

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
void onSignal(int sig) {
    const char c = char(sig);
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
#endif

// Event-log lines go to standard error with a time stamp; values are typed by the connection, or
// printed to standard output (--print).
class Console {
public:
    Console(cli::Io& io, bool print, bool verbose) : io_(io), print_(print), verbose_(verbose) {}

    void log(const QString& text, bool important = false) {
        std::lock_guard lock(mutex_);
        io_.err << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz "))
                << (important ? QStringLiteral("! ") : QString()) << text << Qt::endl;
    }
    // One line of the connection. False when the value could not be written (standard output closed).
    bool line(const worker::DataLine& line, const worker::DataLine& received) {
        if (verbose_) {
            if (!line.hasValue())
                log(QStringLiteral("line %1 gave no value (%2): %3")
                        .arg(received.getCount())
                        .arg(received.hasValue()  ? QStringLiteral("ignored duplicate")
                             : received.isError() ? QStringLiteral("line error")
                                                  : QStringLiteral("no match"))
                        .arg(received.getRawData()));
            else if (line.isError())
                log(QStringLiteral("line %1 value %2 comes from a line with a parity or framing error: %3")
                        .arg(received.getCount())
                        .arg(line.getProcessedData(), received.getRawData()),
                    true);
        }
        if (!print_ || !line.hasValue())
            return true;
        std::lock_guard lock(mutex_);
        io_.out << line.getProcessedData() << Qt::endl;
        return io_.out.status() == QTextStream::Ok;
    }

private:
    cli::Io& io_;
    bool print_;
    bool verbose_;
    std::mutex mutex_;
};

#ifdef Q_OS_UNIX
// Writes to a closed pipe fail with EPIPE instead of ending the process, so the end can be reported.
struct IgnoreSigpipe {
    IgnoreSigpipe() { previous = std::signal(SIGPIPE, SIG_IGN); }
    ~IgnoreSigpipe() { std::signal(SIGPIPE, previous); }
    void (*previous)(int);
};
#endif

int runRun(cli::Invocation& inv, cli::Io& io) {
    int rc = cli::Ok;
    QString error;
    const bool print = cli::takeFlag(inv.args, QStringLiteral("--print"));
    const bool verbose = cli::takeFlag(inv.args, QStringLiteral("--verbose"));
    const bool noReconnect = cli::takeFlag(inv.args, QStringLiteral("--no-reconnect"));
    const auto port = cli::takeValue(inv.args, QStringLiteral("--port"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    const auto logFile = cli::takeValue(inv.args, QStringLiteral("--log"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    const auto requestEvery = cli::takeValue(inv.args, QStringLiteral("--request-every"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    const auto publishTo = cli::takeValue(inv.args, QStringLiteral("--publish"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);

    // A listing that fails otherwise leaves no ports: the stored port is then kept as it is.
    const worker::PortListing listing = worker::listPorts();
    if (listing.libraryMissing)
        return cli::fail(io, inv, listing.message(), 2);
    const QStringList& ports = listing.ports;
    auto config = cli::loadSettingsWithOverrides(inv, io, ports, &rc);
    if (!config)
        return rc;
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (!rest->isEmpty())
        return cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(rest->first()), cli::Usage);
    if (port) {
        // A network name is checked here, so that a typing error is told before anything starts.
        const std::string bad = Direduva::SerialPortLocal::isNetworkPortName(port->toStdString())
                                    ? Direduva::SerialPortLocal::checkPortName(port->toStdString())
                                    : std::string();
        if (!bad.empty())
            return cli::fail(io, inv, QString::fromStdString(bad), cli::Usage);
        config->setPort(*port);
    }
    // For this run only: the data log, the seconds between requests and the broker.
    for (const auto& [key, value] : {std::pair{QStringLiteral("dataLogFile"), logFile},
                                     std::pair{QStringLiteral("requestEverySeconds"), requestEvery},
                                     std::pair{QStringLiteral("mqttBroker"), publishTo}}) {
        QString why;
        if (value && !config->setByKey(key, *value, &why))
            return cli::fail(io, inv, why, cli::Usage);
    }
    if (requestEvery && !config->getRequestEverySeconds().isEmpty() && config->getRequestCommand().isEmpty())
        return cli::fail(io, inv,
                         QStringLiteral("--request-every needs a request command: the preset %1 has none; "
                                        "set one with --set requestCommand=TEXT (e.g. S<13><10>)")
                             .arg(config->getInstrument() ? config->getInstrument()->name() : QString()),
                         cli::Usage);
    if (config->getPort().isEmpty())
        return cli::fail(
            io, inv,
            QStringLiteral(
                "no port: give one with --port NAME (see vornal-cli ports; a network instrument is "
                "tcp://HOST:PORT or rfc2217://HOST:PORT) or store one with vornal-cli set port=NAME"));

    Console console(io, print, verbose);
    // Readings to the broker: set up before the connection, so that a setting it cannot use is told
    // before anything starts. The broker being down later never stops typing.
    std::unique_ptr<publish::Publisher> publisher;
    if (!config->getMqttBroker().isEmpty()) {
        publish::Publisher::Settings ps;
        if (!publish::Publisher::fromConfig(*config, &ps, &error))
            return cli::fail(io, inv, error, cli::Usage);
        publisher = std::make_unique<publish::Publisher>(ps);
        QObject::connect(publisher.get(), &publish::Publisher::logEvent,
                         [&](const QString& text, bool important) { console.log(text, important); });
        // "broker unreachable, N readings queued" when the broker goes, then every 5 s while the number
        // changes.
        auto lastShown = std::make_shared<qint64>(0);
        QObject::connect(publisher.get(), &publish::Publisher::connectedChanged,
                         [lastShown](bool) { *lastShown = 0; });
        QObject::connect(publisher.get(), &publish::Publisher::brokerStatus,
                         [&, lastShown](bool reachable, qint64 queued) {
                             const qint64 now = QDateTime::currentMSecsSinceEpoch();
                             if (reachable || now - *lastShown < 5000)
                                 return;
                             *lastShown = now;
                             console.log(publish::Publisher::unreachableText(queued), true);
                         });
        if (!publisher->start(&error))
            return cli::fail(io, inv, error);
    }
    worker::Connection connection;
    worker::Connection::Options options;
    // Typing is checked before the port is opened: the keystroke output comes first in the start order.
    options.keys = !print;
    options.keysRequired = true;
    options.sound = false;
    options.reconnect = !noReconnect && config->getReconnect();
    options.untypedResult = print ? QStringLiteral("printed") : QStringLiteral("not typed");
    QString startError;
    QObject::connect(
        &connection, &worker::Connection::logEvent, &connection,
        [&](const QString& text, bool important) { console.log(text, important); }, Qt::DirectConnection);
    QObject::connect(&connection, &worker::Connection::warning,
                     [&](const QString& title, const QString& message) {
                         console.log(title + QStringLiteral(": ") + message, true);
                     });
    QObject::connect(&connection, &worker::Connection::outputFailed,
                     [&](worker::Connection::Output, const QString& reason) {
                         startError = QStringLiteral("%1 (use --print to print the values instead of typing "
                                                     "them)")
                                          .arg(reason);
                     });
    QObject::connect(&connection, &worker::Connection::capsLockOn, [&] {
        console.log(QStringLiteral("Caps Lock is on: turn it off, capitals are typed with SHIFT"), true);
    });
    QObject::connect(&connection, &worker::Connection::startFailed,
                     [&](worker::Connection::StartFailure kind, const QString& reason) {
                         startError =
                             kind == worker::Connection::StartFailure::InvalidSetting
                                 ? QStringLiteral("invalid setting: %1").arg(reason)
                                 : QStringLiteral("cannot open %1: %2").arg(config->getPort(), reason);
                     });
    QObject::connect(&connection, &worker::Connection::started, [&] {
        if (!print)
            console.log(QStringLiteral("typing through %1, %2 layout")
                            .arg(connection.injectorName(), config->getKeyboardType().toString()));
    });

    QString endMessage;
    bool clean = false;
    QObject::connect(&connection, &worker::Connection::line,
                     [&](const worker::DataLine& line, const worker::DataLine& received) {
                         if (!console.line(line, received) && endMessage.isEmpty()) {
                             endMessage = QStringLiteral("standard output was closed; stopping");
                             connection.stop();
                         }
                     });
    if (verbose && !print)
        QObject::connect(&connection, &worker::Connection::valueTyped, &connection,
                         [&](const QString& value, int waiting) {
                             console.log(QStringLiteral("typed %1 (%2 waiting)").arg(value).arg(waiting));
                         });
    QObject::connect(&connection, &worker::Connection::stopped,
                     [&](worker::Connection::StopReason reason, const QString& detail) {
                         // Ended by itself (the keyboard output lost, the port gone): not a clean end.
                         if (reason != worker::Connection::StopReason::Stopped && endMessage.isEmpty())
                             endMessage = detail;
                         if (reason != worker::Connection::StopReason::Stopped)
                             clean = false;
                     });
    QObject::connect(&connection, &worker::Connection::stopped, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (publisher) {
        QObject::connect(
            &connection, &worker::Connection::reading,
            [&](const worker::DataLog::Row& row, int stable) { publisher->publish(row, stable); });
        QObject::connect(publisher.get(), &publish::Publisher::requestReceived, [&] {
            console.log(QStringLiteral("request from the broker"));
            connection.request();
        });
    }

#ifdef Q_OS_UNIX
    IgnoreSigpipe ignoreSigpipe;
#endif
    if (!connection.start(*config, options))
        return cli::fail(io, inv,
                         startError.isEmpty() ? QStringLiteral("the connection did not start") : startError);

#ifdef Q_OS_UNIX
    if (::pipe(signalPipe) != 0)
        return cli::fail(io, inv, QStringLiteral("cannot set up signal handling"));
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c = 0;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
        if (endMessage.isEmpty()) {
            endMessage = QStringLiteral("stopped by %1")
                             .arg(QString::fromLatin1(c == SIGHUP   ? "SIGHUP (the terminal was closed)"
                                                      : c == SIGINT ? "SIGINT"
                                                                    : "SIGTERM"));
            clean = true;
        }
        connection.stop(); // values it drops are named in the log
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);
#endif
    QCoreApplication::exec();
#ifdef Q_OS_UNIX
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
#endif
    // The value being typed is finished (a cut one is logged); values not typed yet are dropped and named:
    // typing them after the stop would hit whatever window has the focus by then.
    connection.stop();
    if (publisher) {
        // What the broker has not taken within 2 s stays queued on disk for the next run.
        publisher->stop(2000);
        QCoreApplication::sendPostedEvents();
    }
    if (!endMessage.isEmpty())
        console.log(endMessage, !clean);
    // Stopped by a signal: a clean end. Ended by itself (the port went away, output closed): a failure.
    return clean ? cli::Ok : cli::Failure;
}

cli::Register reg{
    {"run",
     "run [--port NAME] [--print] [--verbose] [--no-reconnect] [--log FILE] [--request-every SECONDS] "
     "[--publish mqtt[s]://HOST[:PORT]] [--preset NAME] [--set KEY=VALUE]...",
     "a headless connection: read the port and type (or print) each value until stopped", &runRun}};

} // namespace
