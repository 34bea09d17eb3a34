// The window program started where no window can open: a wrong command line is reported as such, and
// a missing display in one line that points to the headless program. Run without DISPLAY,
// WAYLAND_DISPLAY and QT_QPA_PLATFORM, as on a server or in a plain SSH session.
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Result {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QString out;
    QString err;
};

Result vornal(const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    p.setProcessEnvironment(env);
    static QTemporaryDir dir;
    p.start(QStringLiteral(VORNAL_BIN_DIR "/vornal"),
            QStringList{QStringLiteral("--store"), dir.filePath(QStringLiteral("prefs.txt"))} + args);
    EXPECT_TRUE(p.waitForFinished(20000));
    return {p.exitCode(), p.exitStatus(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

TEST(StartupWithoutDisplay, AWrongCommandLineIsReportedBeforeTheDisplayIsNeeded) {
    for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"SIM1", "--frobnicate=1"},
                                    QStringList{"--platform", "offscreen", "--bogus"}}) {
        const Result r = vornal(args);
        EXPECT_EQ(r.status, QProcess::NormalExit) << args.join(u' ').toStdString();
        EXPECT_EQ(r.exitCode, 64) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("vornal: unknown option --"))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Usage: vornal"))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("platform plugin"))) << r.err.toStdString();
    }
}

TEST(StartupWithoutDisplay, AMistypedSimulatorScriptIsAnErrorNamingTheFile) {
    for (const QStringList& args :
         {QStringList{"--simulate", "/no/such/demo.vsim"}, QStringList{"--simulate=/no/such/demo.vsim"},
          QStringList{"--simulate", "/no/such/demo.vsim", "SIM1"}}) {
        const Result r = vornal(args);
        EXPECT_EQ(r.exitCode, 64) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("/no/such/demo.vsim"))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("desktop session"))) << r.err.toStdString();
    }
}

TEST(StartupWithoutDisplay, OneLineSaysWhatToUseInstead) {
    for (const QStringList& args :
         {QStringList{}, QStringList{"--simulate", "SIM1"}, QStringList{"-reverse"}}) {
        const Result r = vornal(args);
        EXPECT_EQ(r.status, QProcess::NormalExit) << args.join(u' ').toStdString();
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("desktop session"))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("vornal-cli run"))) << r.err.toStdString();
    }
    // Help and version need no display.
    EXPECT_EQ(vornal({"--help"}).exitCode, 0);
    const Result version = vornal({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("vornal "))) << version.out.toStdString();
}

} // namespace
