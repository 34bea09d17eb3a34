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

    // The program: returns the exit status (0 after the window closed, 1 without a display, 2 without a
    // serial driver, 4 with damaged resources, 64 for a wrong command line).
    static int main(int argc, char** argv);
    // Our options start with "--" and never count as the port: --store FILE, --simulate [SCRIPT],
    // --help, --version; "--" ends the options.
    // The word after --simulate is the script when it is a file, ends in ".vsim" or is a path outside
    // /dev; else the port. A script that is not a file is an error.
    static CommandLine parseArguments(const QStringList& args);
    // `args` without the toolkit's own options ("-platform NAME", "--style=Fusion", "-reverse", ...),
    // which the toolkit takes out itself once it runs; the value of "-platform" goes to `platform`.
    static QStringList withoutToolkitOptions(const QStringList& args, QString* platform = nullptr);
    // Whether no window can open for want of a display: on X11/Wayland systems, no platform chosen
    // (`platformOption`, QT_QPA_PLATFORM) and neither DISPLAY nor WAYLAND_DISPLAY set.
    static bool displayMissing(const QString& platformOption);
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
