#pragma once

#include "vornal/Version.h"

#include <QString>
#include <QStringList>

namespace vornal {

// The window program's entry: process properties, look, command line, the main window.
class VororaZeZov {
public:
    static constexpr const char* VERSION = VORNAL_VERSION;
    static constexpr const char* RELEASEDATE = VORNAL_RELEASEDATE;

    struct CommandLine {
        // Arguments that are not options; the first names the port to use.
        QStringList positional;
        QString storeFile;
        bool simulate = false;
        QString simulateScript;
        bool help = false;
        bool version = false;
        // Why the command line was refused (empty: accepted).
        QString error;
    };

    // The program: returns the exit status (0 after the window closed, 2 without a serial driver,
    // 4 with damaged resources, 64 for a wrong command line).
    static int main(int argc, char** argv);
    // Our options start with "--" and never count as the port: --store FILE, --simulate [SCRIPT],
    // --help, --version; "--" ends the options.
    static CommandLine parseArguments(const QStringList& args);
    // The process properties "VERSION", "RELEASEDATE", "VAZ_OSNAME", "VAZ_OSARCH".
    static void setDefaultProperties();
    // The platform's own look: the Windows style on Windows, the desktop's or Fusion elsewhere.
    static void setNativeLook();
    // Points the serial library at the simulated instruments (before its first use).
    static void useSimulation(const QString& script);
    // Builds the window; returns a fatal exit status or 0 (the window is then shown and runs).
    static int createGUI(const CommandLine& commandLine);
    static QString usage();
};

} // namespace vornal
