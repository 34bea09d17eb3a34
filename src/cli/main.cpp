// vornal-cli: the headless companion of the window program. Subcommands live in cmd_*.cpp and
// register themselves; this file handles the options every subcommand shares.
#include "Cli.h"
#include "vornal/Version.h"
#include "vornal/util/RegexJit.h"
#include "vornal/util/RegularFile.h"
#include "vornal/worker/Startup.h"

#include "SimScript.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <Direduva/SerialPortLocal.h>

#include <iostream>

#include <algorithm>
#include <cstdio>

namespace vornal::cli {

namespace {
std::vector<Command>& registry() {
    static std::vector<Command> commands;
    return commands;
}

} // namespace

void Registry::add(const Command& c) {
    registry().push_back(c);
}

const std::vector<Command>& Registry::all() {
    auto& r = registry();
    std::sort(r.begin(), r.end(),
              [](const Command& a, const Command& b) { return qstrcmp(a.name, b.name) < 0; });
    return r;
}

const Command* Registry::find(const QString& name) {
    for (const auto& c : registry())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

bool takeFlag(QStringList& args, const QString& name) {
    bool found = false;
    for (qsizetype i = 0; i < args.size() && args[i] != u"--";) {
        if (args[i] == name) {
            args.removeAt(i);
            found = true;
        } else {
            ++i;
        }
    }
    return found;
}

QStringList takeValues(QStringList& args, const QString& name, QString* error) {
    QStringList values;
    const QString withEq = name + u'=';
    for (qsizetype i = 0; i < args.size() && args[i] != u"--";) {
        if (args[i] == name) {
            if (i + 1 >= args.size() || args[i + 1] == u"--") {
                if (error)
                    *error = QStringLiteral("option %1 needs a value").arg(name);
                args.removeAt(i);
                continue;
            }
            values += args[i + 1];
            args.remove(i, 2);
        } else if (args[i].startsWith(withEq)) {
            values += args[i].mid(withEq.size());
            args.removeAt(i);
        } else {
            ++i;
        }
    }
    return values;
}

std::optional<QString> takeValue(QStringList& args, const QString& name, QString* error) {
    const QStringList v = takeValues(args, name, error);
    if (v.isEmpty())
        return std::nullopt;
    if (v.size() > 1 && error)
        *error = QStringLiteral("option %1 given more than once").arg(name);
    return v.last();
}

std::optional<QStringList> positional(const QStringList& args, QString* error) {
    QStringList out;
    bool literal = false;
    for (const QString& a : args) {
        if (!literal && a == u"--") {
            literal = true;
        } else if (!literal && a.startsWith(u"--")) {
            if (error)
                *error = QStringLiteral("unknown option %1").arg(a);
            return std::nullopt;
        } else {
            out += a;
        }
    }
    return out;
}

int fail(Io& io, const Invocation& inv, const QString& message, int code) {
    io.err << "vornal-cli " << inv.command << ": " << message << Qt::endl;
    return code;
}

} // namespace vornal::cli

using namespace vornal::cli;

static void printHelp(QTextStream& out) {
    out << "Usage: vornal-cli [--store FILE] [--simulate [SCRIPT]] COMMAND [ARGS...]\n\n"
        << "Headless companion of Vornal, the keyboard wedge for serial instruments.\n\n"
        << "Commands:\n";
    for (const auto& c : Registry::all())
        out << "  " << QString::fromLatin1(c.usage).leftJustified(44) << ' ' << c.summary << '\n';
    out << "\nOptions:\n"
        << "  --store FILE        use the preferences file FILE instead of the per-user store\n"
        << "  --simulate [SCRIPT] use the simulated instruments (of SCRIPT, or the built-in demo)\n"
        << "  --help              show this help\n"
        << "  --version           show the version\n"
        << "  --                  end of options\n";
}

// `vornal-cli COMMAND --help`: the command's usage, what it does, and its common options.
static void printCommandHelp(QTextStream& out, const Command& c) {
    const QString usage = QString::fromLatin1(c.usage);
    out << "Usage: vornal-cli " << usage << "\n\n" << c.summary << "\n";
    struct Option {
        const char* name;
        const char* text;
    };
    static const Option options[] = {
        {"--port NAME", "the serial port (see vornal-cli ports); default: the stored port"},
        {"--profile NAME",
         "the profile (instrument) NAME of the station, see vornal-cli profiles; default: the "
         "first profile"},
        {"--print", "print each value on standard output instead of typing it"},
        {"--verbose", "say why a line gave no value, mark values of lines with parity or framing errors, and "
                      "log each value once it has been typed"},
        {"--no-reconnect", "end when the port goes away instead of waiting for it to come back"},
        {"--preset NAME",
         "the instrument preset NAME with all of its port settings: bit rate, data bits, parity, stop bits, "
         "handshake and input terminator (see vornal-cli presets)"},
        {"--set KEY=VALUE", "one setting for this run (see vornal-cli settings); applied after --preset"},
        {"--log FILE",
         "write the data log: one CSV row per received line (time, port, instrument, line, value "
         "and whether it was typed or why not), rotated at dataLogMaxBytes"},
        {"--request-every SECONDS",
         "send the request command (requestCommand, from the preset) to the instrument every SECONDS "
         "seconds"},
        {"--json", "one JSON object per line (count, value, raw line, line error, failure)"},
    };
    bool header = false;
    for (const Option& o : options) {
        const QString name = QString::fromLatin1(o.name).section(u' ', 0, 0);
        if (!usage.contains(name))
            continue;
        if (!header)
            out << "\nOptions:\n";
        header = true;
        out << "  " << QString::fromLatin1(o.name).leftJustified(24) << ' ' << o.text << '\n';
    }
}

int main(int argc, char** argv) {
    vornal::util::avoidThreadExitCrashOnMingw();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vornal-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VORNAL_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setEncoding(QStringConverter::Utf8);
    err.setEncoding(QStringConverter::Utf8);
    Io io{out, err};

    Invocation inv;
    vornal::worker::StartOptions shared;
    QStringList rest;
    QStringList args = app.arguments().mid(1);
    bool literal = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (literal) {
            if (inv.command.isEmpty())
                inv.command = a;
            else
                rest += a;
            continue;
        }
        if (a == u"--") {
            if (inv.command.isEmpty())
                literal = true; // the next word is the command, taken literally
            else
                rest += a; // the subcommand's own end of options
            continue;
        }
        if (a == u"--help" || a == u"-h") {
            if (!inv.command.isEmpty()) {
                if (const Command* c = Registry::find(inv.command)) {
                    printCommandHelp(out, *c);
                    return Ok;
                }
            }
            printHelp(out);
            return Ok;
        }
        if (a == u"--version") {
            out << "vornal-cli " << VORNAL_VERSION << '\n';
            return Ok;
        }
        // --store and --simulate, as the window takes them; a command's name after --simulate is the command.
        QString error;
        if (vornal::worker::takeStartOption(args, i, shared, &error, [](const QString& word) {
                return Registry::find(word) != nullptr;
            })) {
            if (!error.isEmpty()) {
                err << "vornal-cli: " << error << '\n';
                return Usage;
            }
            continue;
        }
        if (inv.command.isEmpty() && !a.startsWith(u"--")) {
            inv.command = a;
            continue;
        }
        rest += a;
    }
    // After a "--" that came before the command, nothing more is an option.
    if (literal)
        rest.prepend(QStringLiteral("--"));
    inv.args = rest;
    inv.storeFile = shared.storeFile;
    inv.simulate = shared.simulate;
    inv.simulateScript = shared.simulateScript;
    if (inv.command.isEmpty()) {
        printHelp(err);
        return Usage;
    }
    const Command* c = Registry::find(inv.command);
    if (!c) {
        err << "vornal-cli: unknown command '" << inv.command << "' (see vornal-cli --help)\n";
        return Usage;
    }
    if (!inv.storeFile.isEmpty()) {
        // A store that is no file (a FIFO would block the read, a device would be replaced by the save)
        // or a name the system refuses (too long, no permission) is an error, not an empty store.
        if (const QString why = vornal::util::notRegularFile(inv.storeFile); !why.isEmpty()) {
            err << "vornal-cli: --store: cannot use the preferences file: " << why.left(300)
                << (why.size() > 300 ? "..." : "") << '\n';
            return Failure;
        }
    }
    if (const QString why = vornal::worker::checkStartOptions(shared); !why.isEmpty()) {
        err << "vornal-cli: " << why << '\n';
        return Usage;
    }
    if (inv.simulate && !inv.simulateScript.isEmpty()) {
        // A script with errors would leave the simulator without ports: say so and stop.
        try {
            vazsim::loadScript(QFile::encodeName(inv.simulateScript).toStdString());
        } catch (const std::exception& e) {
            err << "vornal-cli: --simulate: simulator script error: " << QString::fromLocal8Bit(e.what())
                << '\n';
            return Usage;
        }
    }
    if (inv.simulate) {
        // The same start-up as the window's: the simulation driver next to the program, the script.
        vornal::worker::useSimulator(QCoreApplication::applicationDirPath(), inv.simulateScript);
    }
    // The serial library's banner and diagnostics must not mix with a subcommand's output.
    Direduva::SerialPortLocal::setDiagnosticOutput(&std::cerr);
    const int rc = c->run(inv, io);
    out.flush();
    err.flush();
    return rc;
}
