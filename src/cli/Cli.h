#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>
#include <vector>

namespace vornal::cli {

// What main() has understood of the command line before it hands over to a subcommand.
struct Invocation {
    QString command;   // the subcommand's name
    QStringList args;  // everything after the subcommand that is not a global option, "--" kept
    QString storeFile; // --store FILE: the file-backed preferences store at FILE; empty: per-user store
    bool simulate = false;
    QString simulateScript; // --simulate SCRIPT (may be empty: the simulator's built-in instruments)
};

struct Io {
    QTextStream& out;
    QTextStream& err;
};

using CommandFn = int (*)(Invocation&, Io&);

struct Command {
    const char* name;
    const char* usage;   // e.g. "presets [--json]"
    const char* summary; // one line
    CommandFn run;
};

// Subcommands register themselves with a file-scope `static Register r{{...}};`.
class Registry {
public:
    static void add(const Command& c);
    static const std::vector<Command>& all();
    static const Command* find(const QString& name);
};

struct Register {
    explicit Register(const Command& c) { Registry::add(c); }
};

// Helpers for a subcommand's own options. They look only at the arguments before "--".
// "--name VALUE" and "--name=VALUE" are both accepted.
bool takeFlag(QStringList& args, const QString& name);
std::optional<QString> takeValue(QStringList& args, const QString& name, QString* error);
QStringList takeValues(QStringList& args, const QString& name, QString* error);
// What is left: the positional arguments. Fails with a message on an unknown "--option".
std::optional<QStringList> positional(const QStringList& args, QString* error);

// Exit statuses of every subcommand.
enum Exit { Ok = 0, Failure = 1, Usage = 2 };

// Prints "vornal-cli COMMAND: message" to standard error and returns `code`.
int fail(Io& io, const Invocation& inv, const QString& message, int code = Failure);

} // namespace vornal::cli
