#pragma once

#include <QString>
#include <QStringList>

namespace vornal {

// The window program's entry: process properties, look, command line, the main window.
class VororaZeZov {
public:
    static constexpr const char* VERSION = "2024.1.0.0";
    static constexpr const char* RELEASEDATE = "20240322";

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
    // The toolkit's own texts (Yes/No, file dialogs) in the program's language (`language`, else the
    // bundles' language), from the installed Qt translations; an earlier choice is replaced. False when
    // the language has no such translation (the toolkit's texts then stay English).
    static bool loadToolkitTranslations(const QString& language = QString());
    // Points the serial library at the simulated instruments (before its first use).
    static void useSimulation(const QString& script);
    // Builds the window; returns a fatal exit status or 0 (the window is then shown and runs).
    static int createGUI(const CommandLine& commandLine);
    static QString usage();
};

} // namespace vornal
