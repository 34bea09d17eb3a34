// vornal-cli run: headless connections with the stored settings until SIGINT, SIGTERM or SIGHUP: one
// instrument (the settings, or one --profile), or several profiles at once (--profile repeated, --all)
// sharing one typing turn, so that their values are typed whole, one after the other.
#include "Cli.h"
#include "SettingsArgs.h"

#include "vornal/config/Profiles.h"
#include "vornal/worker/Connection.h"
#include "vornal/worker/Startup.h"
#include "vornal/worker/Typist.h"

#include <Direduva/Errors.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <memory>
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
// printed to standard output (--print). With several instruments each line and each printed value
// begins with its profile's name.
class Console {
public:
    Console(cli::Io& io, bool print, bool verbose) : io_(io), print_(print), verbose_(verbose) {}

    void log(const QString& text, bool important = false, const QString& who = QString()) {
        std::lock_guard lock(mutex_);
        io_.err << QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz "))
                << (important ? QStringLiteral("! ") : QString())
                << (who.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(who)) << text << Qt::endl;
    }
    // One line of a connection. False when the value could not be written (standard output closed).
    bool line(const worker::DataLine& line, const worker::DataLine& received, const QString& who) {
        if (verbose_) {
            if (!line.hasValue())
                log(QStringLiteral("line %1 gave no value (%2): %3")
                        .arg(received.getCount())
                        .arg(received.hasValue()  ? QStringLiteral("ignored duplicate")
                             : received.isError() ? QStringLiteral("line error")
                                                  : QStringLiteral("no match"))
                        .arg(received.getRawData()),
                    false, who);
            else if (line.isError())
                log(QStringLiteral("line %1 value %2 comes from a line with a parity or framing error: %3")
                        .arg(received.getCount())
                        .arg(line.getProcessedData(), received.getRawData()),
                    true, who);
        }
        if (!print_ || !line.hasValue())
            return true;
        std::lock_guard lock(mutex_);
        if (!who.isEmpty())
            io_.out << who << '\t';
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

// One instrument of the run.
struct Instrument {
    QString profile; // empty: the settings without profiles (a run of one instrument, as always)
    config::Config config;
    std::unique_ptr<worker::Connection> connection;
    bool ended = false;
};

// Two instruments on one port would read each other's lines: refused before anything starts.
QString samePortTwice(const std::vector<Instrument>& all) {
    for (std::size_t i = 0; i < all.size(); ++i)
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            const QString a = all[i].config.getPort(), b = all[j].config.getPort();
            if (a.isEmpty() || b.isEmpty())
                continue;
            if (config::Profiles::portIdentity(a) == config::Profiles::portIdentity(b) ||
                worker::Connection::stableName(a) == worker::Connection::stableName(b))
                return QStringLiteral(
                           "the profiles '%1' and '%2' both use the port %3: an instrument needs a "
                           "port of its own; give one of them another port (vornal-cli set --profile "
                           "%2 port=NAME)")
                    .arg(all[i].profile, all[j].profile, b);
        }
    return QString();
}

// The profiles a run names (--profile, repeatable) or all of them (--all), in the store's order, with
// --preset and --set applied when only one runs. None after printing why (exit status in `exitCode`).
std::optional<std::vector<config::Profile>> loadRunProfiles(cli::Invocation& inv, cli::Io& io,
                                                            const QStringList& ports, bool all,
                                                            const QStringList& names, int* exitCode) {
    const auto overrides = cli::takeOverrides(inv, io, exitCode);
    if (!overrides)
        return std::nullopt;
    std::vector<config::Profile> station = cli::loadStation(inv, io, ports);
    // A profile without a stored port would take the system's first port, as the settings of a single
    // instrument do: a station runs only instruments whose port was chosen. A second load with a port
    // list no system has tells which those are.
    const QString none = QStringLiteral("\x01no stored port");
    const auto probe = config::Profiles::load(*prefs::PreferencesStore::userRoot(), QStringList{none});
    for (std::size_t i = 0; i < station.size() && i < probe.profiles.size(); ++i)
        if ((probe.profiles[i].config.getPort() == none || probe.profiles[i].config.getPort().isEmpty()) &&
            probe.profiles[i].name == station[i].name)
            station[i].config.setPort(QString());
    std::vector<config::Profile> chosen;
    if (all) {
        // Every profile with a port: one set up for another instrument later (or the first profile of a
        // station whose instruments all have names of their own) is not an error.
        for (config::Profile& p : station) {
            if (p.config.getPort().isEmpty())
                io.err << "vornal-cli " << inv.command << ": the profile \"" << p.name
                       << "\" has no port and is not started (vornal-cli set --profile \"" << p.name
                       << "\" port=NAME)" << Qt::endl;
            else
                chosen.push_back(std::move(p));
        }
        if (chosen.empty()) {
            *exitCode =
                cli::fail(io, inv,
                          QStringLiteral("no profile has a port: store one with vornal-cli set --profile "
                                         "NAME port=NAME (see vornal-cli ports and vornal-cli profiles)"));
            return std::nullopt;
        }
    } else {
        std::vector<int> taken;
        for (const QString& name : names) {
            const int index = config::Profiles::find(station, name);
            if (index < 0) {
                *exitCode =
                    cli::fail(io, inv,
                              QStringLiteral("no profile is named \"%1\"; %2 (see vornal-cli profiles)")
                                  .arg(name, cli::profileNames(station)),
                              cli::Usage);
                return std::nullopt;
            }
            if (std::find(taken.begin(), taken.end(), index) != taken.end()) {
                *exitCode = cli::fail(
                    io, inv, QStringLiteral("the profile \"%1\" is named twice").arg(station[index].name),
                    cli::Usage);
                return std::nullopt;
            }
            taken.push_back(index);
        }
        std::sort(taken.begin(), taken.end()); // started in the store's order
        for (const int index : taken)
            chosen.push_back(station[std::size_t(index)]);
    }
    if (overrides->any()) {
        if (chosen.size() > 1) {
            *exitCode =
                cli::fail(io, inv,
                          QStringLiteral("--preset and --set change one instrument: with several profiles "
                                         "store the settings in each (vornal-cli set --profile NAME "
                                         "KEY=VALUE)"),
                          cli::Usage);
            return std::nullopt;
        }
        if (!cli::applyOverrides(inv, io, *overrides, chosen.front().config, exitCode))
            return std::nullopt;
    }
    return chosen;
}

int runRun(cli::Invocation& inv, cli::Io& io) {
    int rc = cli::Ok;
    QString error;
    const bool print = cli::takeFlag(inv.args, QStringLiteral("--print"));
    const bool verbose = cli::takeFlag(inv.args, QStringLiteral("--verbose"));
    const bool noReconnect = cli::takeFlag(inv.args, QStringLiteral("--no-reconnect"));
    const bool all = cli::takeFlag(inv.args, QStringLiteral("--all"));
    const QStringList profiles = cli::takeValues(inv.args, QStringLiteral("--profile"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    const auto port = cli::takeValue(inv.args, QStringLiteral("--port"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    const auto logFile = cli::takeValue(inv.args, QStringLiteral("--log"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    const auto requestEvery = cli::takeValue(inv.args, QStringLiteral("--request-every"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    if (all && !profiles.isEmpty())
        return cli::fail(io, inv,
                         QStringLiteral("--all runs every profile: give either --all or --profile NAME"),
                         cli::Usage);

    // A listing that fails otherwise leaves no ports: the stored port is then kept as it is.
    const worker::PortListing listing = worker::listPorts();
    if (listing.libraryMissing)
        return cli::fail(io, inv, listing.message(), 2);
    const QStringList& ports = listing.ports;
    std::vector<Instrument> instruments;
    if (all || !profiles.isEmpty()) {
        auto loaded = loadRunProfiles(inv, io, ports, all, profiles, &rc);
        if (!loaded)
            return rc;
        for (config::Profile& p : *loaded)
            instruments.push_back({p.name, std::move(p.config), nullptr});
    } else {
        auto config = cli::loadSettingsWithOverrides(inv, io, ports, &rc);
        if (!config)
            return rc;
        instruments.push_back({QString(), std::move(*config), nullptr});
    }
    const bool several = instruments.size() > 1;
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (!rest->isEmpty())
        return cli::fail(io, inv, QStringLiteral("unexpected argument '%1'").arg(rest->first()), cli::Usage);
    if (several && (port || logFile || requestEvery))
        return cli::fail(io, inv,
                         QStringLiteral("--port, --log and --request-every set one instrument: with several "
                                        "profiles store them in each (vornal-cli set --profile NAME port=... "
                                        "dataLogFile=... requestEverySeconds=...)"),
                         cli::Usage);
    for (Instrument& in : instruments) {
        config::Config* config = &in.config;
        const QString whose =
            in.profile.isEmpty() ? QString() : QStringLiteral(" (profile '%1')").arg(in.profile);
        if (port) {
            // A network name is checked here, so that a typing error is told before anything starts.
            const std::string bad = Direduva::SerialPortLocal::isNetworkPortName(port->toStdString())
                                        ? Direduva::SerialPortLocal::checkPortName(port->toStdString())
                                        : std::string();
            if (!bad.empty())
                return cli::fail(io, inv, QString::fromStdString(bad), cli::Usage);
            config->setPort(*port);
        }
        // For this run only: the data log and the seconds between requests.
        for (const auto& [key, value] : {std::pair{QStringLiteral("dataLogFile"), logFile},
                                         std::pair{QStringLiteral("requestEverySeconds"), requestEvery}}) {
            QString why;
            if (value && !config->setByKey(key, *value, &why))
                return cli::fail(io, inv, why, cli::Usage);
        }
        if (requestEvery && !config->getRequestEverySeconds().isEmpty() &&
            config->getRequestCommand().isEmpty())
            return cli::fail(
                io, inv,
                QStringLiteral("--request-every needs a request command: the preset %1 has none; "
                               "set one with --set requestCommand=TEXT (e.g. S<13><10>)")
                    .arg(config->getInstrument() ? config->getInstrument()->name() : QString()),
                cli::Usage);
        if (config->getPort().isEmpty())
            return cli::fail(
                io, inv,
                in.profile.isEmpty()
                    ? QStringLiteral(
                          "no port: give one with --port NAME (see vornal-cli ports; a network instrument is "
                          "tcp://HOST:PORT or rfc2217://HOST:PORT) or store one with vornal-cli set "
                          "port=NAME")
                    : QStringLiteral("no port%1: store one with vornal-cli set --profile %2 port=NAME (see "
                                     "vornal-cli ports)")
                          .arg(whose, in.profile));
    }
    if (const QString twice = samePortTwice(instruments); !twice.isEmpty())
        return cli::fail(io, inv, twice, cli::Usage);

    Console console(io, print, verbose);
    // One typing turn for every instrument of the run: values are typed whole, in the order they came.
    const std::shared_ptr<worker::Typist> typist = several ? worker::Typist::create() : nullptr;
    QString startError;
    QString endMessage;
    bool clean = false;
    bool failed = false; // an instrument ended by itself
    int running = 0;
    const auto stopAll = [&] {
        for (Instrument& in : instruments)
            if (in.connection)
                in.connection->stop();
    };
    for (Instrument& in : instruments) {
        in.connection = std::make_unique<worker::Connection>();
        worker::Connection& connection = *in.connection;
        const config::Config* config = &in.config;
        const QString who = several ? in.profile : QString();
        QObject::connect(
            &connection, &worker::Connection::logEvent, &connection,
            [&console, who](const QString& text, bool important) { console.log(text, important, who); },
            Qt::DirectConnection);
        QObject::connect(&connection, &worker::Connection::warning,
                         [&console, who](const QString& title, const QString& message) {
                             console.log(title + QStringLiteral(": ") + message, true, who);
                         });
        QObject::connect(&connection, &worker::Connection::outputFailed,
                         [&startError](worker::Connection::Output, const QString& reason) {
                             startError = QStringLiteral("%1 (use --print to print the values instead of "
                                                         "typing them)")
                                              .arg(reason);
                         });
        QObject::connect(&connection, &worker::Connection::capsLockOn, [&console, who] {
            console.log(QStringLiteral("Caps Lock is on: turn it off, capitals are typed with SHIFT"), true,
                        who);
        });
        QObject::connect(&connection, &worker::Connection::startFailed,
                         [&startError, config](worker::Connection::StartFailure kind, const QString& reason) {
                             startError =
                                 kind == worker::Connection::StartFailure::InvalidSetting
                                     ? QStringLiteral("invalid setting: %1").arg(reason)
                                     : QStringLiteral("cannot open %1: %2").arg(config->getPort(), reason);
                         });
        QObject::connect(
            &connection, &worker::Connection::started, [&console, &connection, config, who, print] {
                if (!print)
                    console.log(QStringLiteral("typing through %1, %2 layout")
                                    .arg(connection.injectorName(), config->getKeyboardType().toString()),
                                false, who);
            });
        QObject::connect(&connection, &worker::Connection::line,
                         [&, who](const worker::DataLine& line, const worker::DataLine& received) {
                             if (!console.line(line, received, who) && endMessage.isEmpty()) {
                                 endMessage = QStringLiteral("standard output was closed; stopping");
                                 stopAll();
                             }
                         });
        if (verbose && !print)
            QObject::connect(&connection, &worker::Connection::valueTyped, &connection,
                             [&console, who](const QString& value, int waiting) {
                                 console.log(QStringLiteral("typed %1 (%2 waiting)").arg(value).arg(waiting),
                                             false, who);
                             });
        QObject::connect(&connection, &worker::Connection::stopped,
                         [&, who, at = &in](worker::Connection::StopReason reason, const QString& detail) {
                             // Ended by itself (the keyboard output lost, the port gone): not a clean end.
                             if (reason != worker::Connection::StopReason::Stopped) {
                                 failed = true;
                                 if (several)
                                     console.log(detail, true, who);
                                 else if (endMessage.isEmpty())
                                     endMessage = detail;
                             }
                             if (!std::exchange(at->ended, true) && --running == 0)
                                 QMetaObject::invokeMethod(qApp, &QCoreApplication::quit,
                                                           Qt::QueuedConnection);
                         });
    }

#ifdef Q_OS_UNIX
    IgnoreSigpipe ignoreSigpipe;
#endif
    for (Instrument& in : instruments) {
        worker::Connection::Options options;
        // Typing is checked before the port is opened: the keystroke output comes first in the start order.
        options.keys = !print;
        options.keysRequired = true;
        options.sound = false;
        options.reconnect = !noReconnect && in.config.getReconnect();
        options.untypedResult = print ? QStringLiteral("printed") : QStringLiteral("not typed");
        options.typist = typist;
        options.profileName = in.profile;
        startError.clear();
        if (!in.connection->start(in.config, options)) {
            // Nothing half-started is left running: the instruments started before stop again.
            for (Instrument& other : instruments)
                if (&other != &in && other.connection && other.connection->isActive())
                    other.connection->stop();
            const QString why =
                startError.isEmpty() ? QStringLiteral("the connection did not start") : startError;
            return cli::fail(io, inv,
                             in.profile.isEmpty() ? why
                                                  : QStringLiteral("profile '%1': %2").arg(in.profile, why));
        }
        ++running;
    }

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
        stopAll(); // values they drop are named in the log
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
    stopAll();
    if (failed)
        clean = false;
    if (!endMessage.isEmpty())
        console.log(endMessage, !clean);
    else if (failed && several)
        console.log(QStringLiteral("every instrument has ended"), true);
    // Stopped by a signal: a clean end. Ended by itself (the port went away, output closed): a failure.
    return clean ? cli::Ok : cli::Failure;
}

cli::Register reg{
    {"run",
     "run [--profile NAME]... [--all] [--port NAME] [--print] [--verbose] [--no-reconnect] [--log FILE] "
     "[--request-every SECONDS] [--preset NAME] [--set KEY=VALUE]...",
     "headless connections: read the port (of each profile) and type (or print) each value until stopped",
     &runRun}};

} // namespace
