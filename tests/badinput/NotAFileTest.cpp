// Files that are not files, and command lines that are wrong, given to vornal-cli: a device node or a FIFO
// as settings store, export file, import file or data log is refused at once with a message naming it,
// and stays what it was; nothing waits.
#include "support/Cli.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

#ifdef Q_OS_UNIX
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using vornal::test::CliResult;
using vornal::test::runCli;

class NotAFile : public ::testing::Test {
protected:
    QString path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    // A good export file to import.
    QString goodExport() {
        const QString store = path("good-store.txt");
        const QString file = path("good.xml");
        if (!QFileInfo::exists(file)) {
            EXPECT_EQ(runCli({"--store", store, "set", "delay=45"}).exitCode, 0);
            EXPECT_EQ(runCli({"--store", store, "export", file}).exitCode, 0);
        }
        return file;
    }
    // Runs vornal-cli and expects a refusal (non-zero status) within 10 s whose message names `name`.
    void expectRefused(const QStringList& args, const QString& name, const char* what) {
        const auto start = std::chrono::steady_clock::now();
        const CliResult r = runCli(args, {}, 10000);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << what;
        EXPECT_NE(r.exitCode, 0) << what << ": " << r.out.toStdString();
        EXPECT_NE(r.exitCode, -1) << what << ": crashed or hung";
        EXPECT_TRUE(r.err.contains(QDir::toNativeSeparators(name))) << what << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("regular file"))) << what << ": " << r.err.toStdString();
    }

    QTemporaryDir dir_;
};

#ifdef Q_OS_UNIX
mode_t typeOf(const QString& file) {
    struct stat st {};
    if (lstat(QFile::encodeName(file).constData(), &st) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

TEST_F(NotAFile, ADeviceNodeIsNeverReplacedBySettingsOrAnExport) {
    // The same device as /dev/null, made here: the test never puts the machine's own devices at risk.
    const QString device = path("null-device");
    if (mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a device node here (needs root): " << strerror(errno);
    const QString good = goodExport();
    expectRefused({"--store", device, "set", "delay=5"}, device, "set into a device");
    expectRefused({"--store", device, "import", good}, device, "import into a device");
    expectRefused({"--store", path("prefs.txt"), "export", "--force", device}, device,
                  "export onto a device");
    expectRefused({"--store", device, "settings"}, device, "settings from a device");
    EXPECT_EQ(typeOf(device), mode_t(S_IFCHR)) << "the device node was replaced";
}

TEST_F(NotAFile, AFifoIsRefusedAtOnceAndStaysAFifo) {
    const QString fifo = path("pipe");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString good = goodExport();
    expectRefused({"--store", fifo, "settings"}, fifo, "settings from a FIFO");
    expectRefused({"--store", fifo, "set", "delay=5"}, fifo, "set into a FIFO");
    expectRefused({"--store", fifo, "import", good}, fifo, "import into a FIFO");
    expectRefused({"--store", path("prefs.txt"), "export", "--force", fifo}, fifo, "export onto a FIFO");
    expectRefused({"--store", path("prefs.txt"), "import", fifo}, fifo, "import from a FIFO");
    expectRefused({"--store", path("prefs.txt"), "--simulate", "run", "--print", "--log", fifo}, fifo,
                  "a FIFO as data log");
    expectRefused({"--store", path("prefs.txt"), "set", "dataLogFile=" + fifo}, fifo, "a FIFO as data log");
    EXPECT_EQ(typeOf(fifo), mode_t(S_IFIFO));
}

// A second reader of the port (a "cat" left running) takes bytes meant for Vornal: the run warns.
TEST_F(NotAFile, APortThatAnotherProgramHoldsOpenIsWarnedAbout) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        pause(); // keeps the port it inherited open
        _exit(0);
    }
    close(slave);
    QProcess run;
    vornal::test::startCli(
        run, {"--store", path("prefs.txt"), "run", "--print", "--port", QString::fromLocal8Bit(name)});
    QByteArray err;
    for (int i = 0; i < 100 && !err.contains("Another program"); ++i) {
        run.waitForReadyRead(100);
        err += run.readAllStandardError();
    }
    run.kill();
    run.waitForFinished();
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(master);
    EXPECT_TRUE(err.contains("Another program has the port " + QByteArray(name) +
                             " open as well: " + QByteArray::number(holder)))
        << err.toStdString();
}

TEST_F(NotAFile, ALinkToARegularFileIsFollowed) {
    const QString target = path("real-prefs.txt");
    const QString link = path("prefs-link.txt");
    ASSERT_EQ(runCli({"--store", target, "set", "delay=45"}).exitCode, 0);
    ASSERT_TRUE(QFile::link(target, link));
    const CliResult r = runCli({"--store", link, "set", "delay=55"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(typeOf(link), mode_t(S_IFLNK)) << "the link stays a link";
    EXPECT_TRUE(runCli({"--store", target, "settings"}).out.contains("delay=55"));
}
#endif

// Command lines that used to pass as success or to go on silently.
TEST_F(NotAFile, WrongCommandLinesFail) {
    const QString store = path("prefs.txt");
    // A simulator script with errors.
    {
        QFile f(path("garbage.xml"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<?xml version=\"1.0\"?><not-a-script/>\n");
    }
    CliResult r = runCli({"--store", store, "--simulate", path("garbage.xml"), "ports"});
    EXPECT_EQ(r.exitCode, 2) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("script error")) << r.err.toStdString();

    // A folder as data log.
    r = runCli({"--store", store, "set", "dataLogFile=" + dir_.path()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(runCli({"--store", store, "settings"}).out.contains(dir_.path()));

    r = runCli({"version", "extra"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("extra"));

    // A store name the system refuses: an error, not the defaults.
    r = runCli({"--store", QString(100000, u'a'), "settings"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.exitCode, -1);
    EXPECT_TRUE(r.err.contains("--store")) << r.err.left(400).toStdString();
    EXPECT_LT(r.err.size(), 1000) << "the message is cut, not 100,000 characters";

#ifdef Q_OS_UNIX
    // A device as data log: refused before the run, no warning per row.
    if (QFileInfo::exists(QStringLiteral("/dev/full"))) {
        r = runCli({"--store", store, "--simulate", "run", "--print", "--log", "/dev/full"}, {}, 10000);
        EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("sequential")) << r.err.toStdString();
    }
#endif
}

} // namespace
