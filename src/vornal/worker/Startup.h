#pragma once

// Start-up shared by the window and vornal-cli: the options both take, the simulation driver, and the
// list of serial ports with the check that the serial driver library could be loaded.

#include <QString>
#include <QStringList>

#include <functional>

namespace vornal::worker {

// The options the window and vornal-cli both take, with the same meaning and the same messages.
struct StartOptions {
    // --store FILE: the file-backed preferences store at FILE; empty: the per-user store.
    QString storeFile;
    // --simulate [SCRIPT]: the simulated instruments of SCRIPT (empty: the built-in demo).
    bool simulate = false;
    QString simulateScript;
};

// Whether the word after --simulate is the script rather than what follows the options (the window's
// port, vornal-cli's command): not an option, not a word `reserved` claims (vornal-cli's commands), and
// an existing file, a name ending in ".vsim", or a path that is not a device path ("/dev/ttyUSB0",
// "\\.\COM10") and does not exist (a mistyped script is then named, not taken for a port).
bool namesSimulatorScript(const QString& word, const std::function<bool(const QString&)>& reserved = {});

// Takes the shared option at args[i] into `options`, with its value (i then points at the value).
// False when args[i] is none of them. A mistake ("--store" without a file name) sets `error`.
bool takeStartOption(const QStringList& args, qsizetype& i, StartOptions& options, QString* error,
                     const std::function<bool(const QString&)>& reserved = {});

// What is wrong with the options once all are read, "" when nothing: a simulator script that does not
// exist or is not a file.
QString checkStartOptions(const StartOptions& options);

// Points the serial library at the simulation driver next to the program (the build tree's
// lib/drivers/sim, else the installed lib/vornal/drivers/sim, both relative to programDir/..) and the
// driver at the script (VAZ_SIM_SCRIPT, as an absolute path; an empty script: the built-in demo
// instruments). Call it before the first use of the serial library. Returns the driver folder used;
// empty when neither exists, and the library then loads its usual driver. The caller checks the script
// itself (checkStartOptions) and says what is wrong with it.
QString useSimulator(const QString& programDir, const QString& script);

// The serial ports of the system as the driver reports them.
struct PortListing {
    QStringList ports;
    // The driver library is missing or does not match this system (`failure` says why).
    bool libraryMissing = false;
    // The listing failed (the reason); empty when it worked.
    QString failure;
    // A listed entry was empty (left out of `ports`).
    bool entryMissing = false;

    // The failure in one sentence for the console; "" when the listing worked.
    QString message() const;
};

// Lists the ports, after checking that the serial driver library is loaded. With `details`, also reads
// the ports' driver details for their friendly names (util::FriendlyPortUtil); without details the plain
// names are shown, and a failure to read them is only written to standard error.
PortListing listPorts(bool details = false);

} // namespace vornal::worker
