#include "VororaZeZov.h"

#include "VororaZeZovFrame2.h"

#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Startup.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QStyle>
#include <QStyleFactory>
#include <QSysInfo>
#include <QTranslator>

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace vornal {

namespace {
std::unique_ptr<VororaZeZovFrame2> mainWindow;

const char* const noDisplayMessage =
    "vornal: the window needs a desktop session (no display: DISPLAY and WAYLAND_DISPLAY are not "
    "set or cannot be reached); without one, use vornal-cli run, which reads the instrument and "
    "types or prints its values headless (see vornal-cli --help)\n";

#ifdef Q_OS_UNIX
int terminationPipe[2] = {-1, -1};
void onTerminationSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(terminationPipe[1], &c, 1);
}
#endif

// Runs `handler` on the user-interface thread when SIGTERM or SIGINT arrives.
void installTerminationHandler(std::function<void()> handler) {
#ifdef Q_OS_UNIX
    if (::pipe(terminationPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [handler = std::move(handler)] {
        char c;
        [[maybe_unused]] const auto n = ::read(terminationPipe[0], &c, 1);
        handler();
    });
    std::signal(SIGTERM, onTerminationSignal);
    std::signal(SIGINT, onTerminationSignal);
#else
    (void)handler;
#endif
}

#ifndef Q_OS_WIN
std::string osArch() {
    const QString cpu = QSysInfo::currentCpuArchitecture();
    if (cpu == u"x86_64")
        return "amd64";
    if (cpu == u"i386")
        return "x86";
    return cpu.toStdString();
}
#endif
} // namespace

QString VororaZeZov::usage() {
    return QStringLiteral(
        "Usage: vornal [--store FILE] [--simulate [SCRIPT]] [--] [PORT]\n\n"
        "Vornal types the values of a serial instrument into the application that has the "
        "keyboard focus.\n\n"
        "  PORT                use this serial port instead of the stored one\n"
        "  --store FILE        use the preferences file FILE instead of the per-user store\n"
        "  --simulate [SCRIPT] use the simulated instruments (of SCRIPT, or the built-in demo)\n"
        "  --help              show this help\n"
        "  --version           show the version\n");
}

VororaZeZov::CommandLine VororaZeZov::parseArguments(const QStringList& args) {
    CommandLine cl;
    worker::StartOptions shared;
    bool literal = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (literal || !a.startsWith(u"--")) {
            cl.positional += a;
            continue;
        }
        if (a == u"--") {
            literal = true;
        } else if (a == u"--help") {
            cl.help = true;
        } else if (a == u"--version") {
            cl.version = true;
        } else if (worker::takeStartOption(args, i, shared, &cl.error)) {
            if (!cl.error.isEmpty())
                return cl;
        } else {
            cl.error = QStringLiteral("unknown option %1 (see vornal --help)").arg(a);
            return cl;
        }
        cl.storeFile = shared.storeFile;
        cl.simulate = shared.simulate;
        cl.simulateScript = shared.simulateScript;
    }
    cl.error = worker::checkStartOptions(shared);
    return cl;
}

QStringList VororaZeZov::withoutToolkitOptions(const QStringList& args, QString* platform) {
    // The toolkit's own options, written with one dash or two, "-name VALUE" or "-name=VALUE".
    static const QStringList withValue{QStringLiteral("platform"),
                                       QStringLiteral("platformpluginpath"),
                                       QStringLiteral("platformtheme"),
                                       QStringLiteral("plugin"),
                                       QStringLiteral("qwindowgeometry"),
                                       QStringLiteral("geometry"),
                                       QStringLiteral("qwindowtitle"),
                                       QStringLiteral("title"),
                                       QStringLiteral("qwindowicon"),
                                       QStringLiteral("icon"),
                                       QStringLiteral("session"),
                                       QStringLiteral("display"),
                                       QStringLiteral("name"),
                                       QStringLiteral("style"),
                                       QStringLiteral("stylesheet"),
                                       QStringLiteral("qmljsdebugger")};
    static const QStringList flags{QStringLiteral("reverse"),     QStringLiteral("nograb"),
                                   QStringLiteral("dograb"),      QStringLiteral("sync"),
                                   QStringLiteral("widgetcount"), QStringLiteral("testability")};
    QStringList rest;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == u"--") {
            rest += args.mid(i);
            break;
        }
        if (!a.startsWith(u'-')) {
            rest += a;
            continue;
        }
        const QString option = a.mid(a.startsWith(u"--") ? 2 : 1);
        const QString name = option.section(u'=', 0, 0);
        if (flags.contains(name))
            continue;
        if (!withValue.contains(name)) {
            rest += a;
            continue;
        }
        const bool inline_ = option.contains(u'=');
        const QString value =
            inline_ ? option.section(u'=', 1) : (i + 1 < args.size() ? args[i + 1] : QString());
        if (!inline_)
            ++i;
        if (platform && name == u"platform")
            *platform = value;
    }
    return rest;
}

bool VororaZeZov::displayMissing(const QString& platformOption) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // A platform named on the command line or in QT_QPA_PLATFORM ("offscreen", "wayland", ...) is the
    // toolkit's business; otherwise it needs an X or Wayland display.
    if (!platformOption.isEmpty() || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return false;
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    (void)platformOption;
    return false;
#endif
}

void VororaZeZov::setDefaultProperties() {
    using Direduva::ProcessProperties;
    ProcessProperties::set("VERSION", VERSION);
    ProcessProperties::set("RELEASEDATE", RELEASEDATE);
#ifdef Q_OS_WIN
    ProcessProperties::set("VAZ_OSNAME", "Windows");
    ProcessProperties::set("VAZ_OSARCH", "x86");
#else
    ProcessProperties::set("VAZ_OSNAME", QSysInfo::kernelType() == u"linux"
                                             ? std::string("Linux")
                                             : QSysInfo::kernelType().toStdString());
    ProcessProperties::set("VAZ_OSARCH", osArch());
#endif
}

void VororaZeZov::setNativeLook() {
#ifdef Q_OS_WIN
    if (QStyle* style = QStyleFactory::create(QStringLiteral("windowsvista")))
        QApplication::setStyle(style);
#else
    // The desktop's style when the platform chose one; the plain "Windows" default looks dated.
    const QString current = QApplication::style() ? QApplication::style()->name() : QString();
    if (current.isEmpty() || current.compare(u"windows", Qt::CaseInsensitive) == 0)
        if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
            QApplication::setStyle(style);
#endif
}

void VororaZeZov::useSimulation(const QString& script) {
    worker::useSimulator(QCoreApplication::applicationDirPath(), script);
}

bool VororaZeZov::loadToolkitTranslations(const QString& language) {
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    const QString lang = (language.isEmpty() ? util::ResourceBundle::locale() : language).left(2);
    if (lang.isEmpty() || lang == QLatin1String("en"))
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_") + lang,
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    installed = translator.release();
    QCoreApplication::installTranslator(installed);
    return true;
}

int VororaZeZov::createGUI(const CommandLine& commandLine) {
    VororaZeZovFrame2::Options options;
    options.args = commandLine.positional;
    options.storeFile = commandLine.storeFile;
    mainWindow = std::make_unique<VororaZeZovFrame2>(options);
    if (const int code = mainWindow->fatalExitCode()) {
        mainWindow.reset();
        return code;
    }
    QObject::connect(
        mainWindow.get(), &VororaZeZovFrame2::closed, qApp, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    // After a confirmed settings import: at once, without the window's closing handler.
    QObject::connect(mainWindow.get(), &VororaZeZovFrame2::exitRequested, qApp,
                     [](int code) { QCoreApplication::exit(code); });
    return 0;
}

int VororaZeZov::main(int argc, char** argv) {
    // Help and version need no display: answered before the toolkit starts.
    QStringList rawArgs;
    for (int i = 1; i < argc; ++i)
        rawArgs += QString::fromLocal8Bit(argv[i]);
    // The command line is checked before the toolkit starts, so that a mistake is reported as such
    // also where no window can open.
    QString platformOption;
    const CommandLine early = parseArguments(withoutToolkitOptions(rawArgs, &platformOption));
    if (!early.error.isEmpty()) {
        std::fprintf(stderr, "vornal: %s\n\n%s", qPrintable(early.error), qPrintable(usage()));
        return 64;
    }
    if (early.help) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    if (early.version) {
        std::printf("vornal %s (%s)\n", VERSION, RELEASEDATE);
        return 0;
    }
    if (displayMissing(platformOption)) {
        std::fputs(noDisplayMessage, stderr);
        return 1;
    }
    // A display that is set but cannot be reached: the toolkit gives up with a fatal message; one line
    // saying what to do instead of its abort.
    static QtMessageHandler toolkitHandler = nullptr;
    toolkitHandler =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (type != QtFatalMsg) {
                if (toolkitHandler)
                    toolkitHandler(type, context, message);
                else
                    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
                return;
            }
            // The toolkit's warnings before this name the display it tried.
            std::fputs(noDisplayMessage, stderr);
            std::_Exit(1);
        });
    QApplication app(argc, argv);
    qInstallMessageHandler(toolkitHandler);
    QApplication::setApplicationName(QStringLiteral("Vornal"));
    QApplication::setOrganizationName(QStringLiteral("Halvorn"));
    QApplication::setApplicationVersion(QString::fromLatin1(VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    // The toolkit has taken its own options (-platform, -style, ...) out of the list.
    const CommandLine cl = parseArguments(app.arguments().mid(1));
    if (!cl.error.isEmpty()) {
        std::fprintf(stderr, "vornal: %s\n", qPrintable(cl.error));
        return 64;
    }
    setDefaultProperties();
    setNativeLook();
    loadToolkitTranslations();
    if (cl.simulate)
        useSimulation(cl.simulateScript);
    // The serial library's diagnostics are for the console, not the user.
    Direduva::SerialPortLocal::setDiagnosticOutput(&std::cerr);

    int fatal = 0;
    // The window is built once the event loop runs.
    QMetaObject::invokeMethod(
        &app,
        [&] {
            fatal = createGUI(cl);
            if (fatal)
                QCoreApplication::exit(fatal);
        },
        Qt::QueuedConnection);
    // Ending the session or Ctrl+C closes the window the normal way, so the settings are saved.
    installTerminationHandler([] {
        if (mainWindow)
            mainWindow->close();
        else
            QCoreApplication::exit(0);
    });
    const int rc = QApplication::exec();
    mainWindow.reset();
    return fatal ? fatal : rc;
}

} // namespace vornal
