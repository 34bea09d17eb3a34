// `vornal-cli run` on network ports: against ser2net (a real serial device server) in front of a socat
// pty pair, in raw TCP and RFC 2217 mode, and against servers of the test's making for the failures a
// network adds. Only loopback addresses; the ports are chosen by the system.
//
// The stop-and-start cycle of ser2net runs 100 times (about a minute); VORNAL_NET_CYCLES=N changes that.
#include "support/Cli.h"
#include "support/LoopbackServer.h"
#include "support/Ser2net.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

int freePort() {
    return vornal::test::freeLoopbackPort();
}

// A listening socket of the test on 127.0.0.1.
struct Listener {
    int fd = -1;
    int port = 0;
    explicit Listener(int backlog = 4) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(fd, backlog);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
    int accept(int ms = 10000) const {
        pollfd p{fd, POLLIN, 0};
        return poll(&p, 1, ms) > 0 ? ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    }
    QString name(const char* scheme = "tcp") const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
    }
};

// The runs of this program keep their request socket in a folder of their own: a run of another test
// at the same time would hold the user's shared name, and a run that waits to take it over keeps a
// descriptor for that, which the descriptor counts below would take for a leak.
QProcessEnvironment runEnvironment() {
    static QTemporaryDir runtime; // made 0700, as the runtime folder must be
    QProcessEnvironment env = vornal::test::cliEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    return env;
}

// vornal-cli run, read while it runs.
struct CliRun {
    QProcess p;
    QString out, err;
    CliRun(const QString& store, const QStringList& args) {
        vornal::test::startCli(p, QStringList{"--store", store, "run"} + args, runEnvironment());
    }
    ~CliRun() {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(5000);
        }
    }
    void pump(int ms = 50) {
        p.waitForReadyRead(ms);
        out += QString::fromUtf8(p.readAllStandardOutput());
        err += QString::fromUtf8(p.readAllStandardError());
    }
    bool waitFor(const std::function<bool()>& done, int ms = 10000) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!done() && Clock::now() < end && p.state() == QProcess::Running)
            pump();
        pump(0);
        return done();
    }
    bool waitErr(const QString& text, int ms = 10000) {
        return waitFor([&] { return err.contains(text); }, ms);
    }
    // SIGTERM, a clean stop; the exit code (-1 when it does not end within 5 s).
    int stop() {
        if (p.state() == QProcess::Running)
            ::kill(pid_t(p.processId()), SIGTERM);
        if (!p.waitForFinished(5000))
            return -1;
        pump(0);
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    int openFds() const { return int(QDir(QStringLiteral("/proc/%1/fd").arg(p.processId())).count()) - 2; }
};

// ser2net in front of a socat pty pair (support/Ser2net.h).
class Ser2net : public ::testing::Test {
protected:
    void SetUp() override {
        const QString why = net_.start();
        if (!why.isEmpty()) {
            if (why.startsWith(QStringLiteral("needs")))
                GTEST_SKIP() << why.toStdString();
            FAIL() << why.toStdString();
        }
    }
    void startServer() { ASSERT_TRUE(net_.startServer()); }
    void stopServer() { net_.stopServer(); }
    void send(const QByteArray& bytes) { ASSERT_TRUE(net_.send(bytes)); }
    QByteArray receive(int ms, const std::function<bool(const QByteArray&)>& done) {
        return net_.receive(ms, done);
    }
    QString rfc() const { return net_.rfc(); }
    QString raw() const { return net_.raw(); }
    QString store() const { return net_.dir() + QStringLiteral("/prefs.txt"); }
    // The pty's bit rate as its termios says.
    QString ptySpeed() {
        QProcess stty;
        stty.start(QStringLiteral("stty"), {"-F", net_.serialPort(), "speed"});
        stty.waitForFinished(5000);
        return QString::fromUtf8(stty.readAllStandardOutput()).trimmed();
    }
    QString dirPath(const char* name) const { return net_.dir() + u'/' + QLatin1String(name); }

    vornal::test::Ser2net net_;
};

} // namespace

TEST_F(Ser2net, ValuesFlowFromThePtyInRawAndRfc2217Mode) {
    for (const QString& port : {raw(), rfc()}) {
        SCOPED_TRACE(port.toStdString());
        const QString log = dirPath("data.csv");
        CliRun run(store(), {"--port", port, "--print", "--preset", "GENERIC", "--log", log});
        ASSERT_TRUE(run.waitErr("opened")) << run.err.toStdString();
        send("ST,GS,+  12.345 kg\r");
        EXPECT_TRUE(run.waitFor([&] { return run.out.contains("12.345\n"); })) << run.err.toStdString();
        EXPECT_EQ(run.stop(), 0) << run.err.toStdString();
        // The data log's port column holds the address; the preset's constant name ends the row.
        QFile f(log);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray rows = f.readAll();
        EXPECT_TRUE(rows.contains(("," + port + ",").toUtf8())) << rows.toStdString();
        EXPECT_TRUE(rows.contains(",printed,GENERIC\r\n")) << rows.toStdString();
        QFile::remove(log);
    }
}

TEST_F(Ser2net, Rfc2217SettingsReachTheRemotePort) {
    // A pty keeps no parity or character size, but its bit rate is kept: each run's setting arrives.
    for (const auto& [index, rate] : {std::pair{"11", "115200"}, std::pair{"5", "2400"}}) {
        CliRun run(store(), {"--port", rfc(), "--print", "--set", QStringLiteral("bitRate=%1").arg(index)});
        ASSERT_TRUE(run.waitErr("opened")) << run.err.toStdString();
        QString speed;
        for (int i = 0; i < 50 && speed != QLatin1String(rate); ++i) {
            speed = ptySpeed();
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(speed.toStdString(), rate);
        EXPECT_EQ(run.stop(), 0);
    }
}

TEST_F(Ser2net, Byte255PassesBothWaysAndRequestsArrive) {
    CliRun run(store(), {"--port", rfc(), "--print", "--verbose", "--set", "requestCommand=S<255><13>",
                         "--request-every", "1"});
    ASSERT_TRUE(run.waitErr("opened")) << run.err.toStdString();
    // The request, with its 0xFF sent once (ser2net undoes the doubling of the telnet stream).
    const QByteArray request = receive(5000, [](const QByteArray& b) { return b.contains("S\xff\r"); });
    EXPECT_TRUE(request.contains("S\xff\r")) << request.toHex().toStdString();
    EXPECT_FALSE(request.contains("\xff\xff"));
    // From the instrument: a line of one 0xFF (no value; --verbose shows it) and a value after 0xFF.
    send("\xff\r\xff"
         "7.25\r");
    EXPECT_TRUE(run.waitFor([&] { return run.out.contains("7.25\n"); })) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("no match): <255><13>"))) << run.err.toStdString();
    EXPECT_EQ(run.stop(), 0);
}

TEST_F(Ser2net, ServerStoppedAndStartedAgainIsReportedAndReopenedEachTime) {
    const int cycles = qEnvironmentVariableIsSet("VORNAL_NET_CYCLES")
                           ? qEnvironmentVariableIntValue("VORNAL_NET_CYCLES")
                           : 100;
    CliRun run(store(), {"--port", rfc(), "--print", "--preset", "GENERIC"});
    ASSERT_TRUE(run.waitErr("opened")) << run.err.toStdString();
    int fdsAtStart = -1;
    QString expected;
    for (int i = 1; i <= cycles; ++i) {
        SCOPED_TRACE(i);
        const QString value = QStringLiteral("%1.5").arg(i);
        send(value.toLatin1() + "\r");
        expected += value + u'\n';
        ASSERT_TRUE(run.waitFor([&] {
            return run.out.endsWith(u'\n' + value + u'\n') || run.out == value + u'\n';
        })) << run.err.toStdString();
        // Counted once the first stop and start is behind: what the first reopen creates for good (its
        // thread's wake-up) is no growth; every later cycle must give back what it took.
        if (i == std::min(2, cycles))
            fdsAtStart = run.openFds();
        // Half a line when the server goes: never a value.
        send("99");
        std::this_thread::sleep_for(50ms);
        stopServer();
        ASSERT_TRUE(run.waitFor([&] { return run.err.count(QStringLiteral("is gone")) == i; }))
            << run.err.toStdString();
        startServer();
        ASSERT_TRUE(run.waitFor([&] { return run.err.count(QStringLiteral("reconnected")) == i; }, 20000))
            << run.err.toStdString();
    }
    send("77.25\r");
    expected += QStringLiteral("77.25\n");
    EXPECT_TRUE(run.waitFor([&] { return run.out.endsWith(QStringLiteral("\n77.25\n")); }));
    // Every complete line once, in order, no part of a cut one; one report and one reopen per cycle; no
    // descriptor left behind.
    EXPECT_EQ(run.out.toStdString(), expected.toStdString());
    EXPECT_EQ(run.err.count(QStringLiteral("is gone")), cycles);
    EXPECT_EQ(run.err.count(QStringLiteral("reconnected")), cycles);
    EXPECT_LE(run.openFds(), fdsAtStart);
    EXPECT_EQ(run.stop(), 0);
}

TEST(NetworkRun, ARefusedPortNamesHostPortAndReason) {
    const int port = freePort();
    QTemporaryDir dir;
    const auto r = vornal::test::runCli({"--store", dir.filePath("prefs.txt"), "run", "--print", "--port",
                                         QStringLiteral("tcp://127.0.0.1:%1").arg(port)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("connection refused by 127.0.0.1 port %1").arg(port)))
        << r.err.toStdString();
}

TEST(NetworkRun, AnUnansweredConnectTimesOutAfterAFewSeconds) {
    // A listener whose queue is full drops the connection request: nothing answers, nothing leaves here.
    vornal::test::UnansweredPort l;
    QTemporaryDir dir;
    const auto start = Clock::now();
    const auto r = vornal::test::runCli(
        {"--store", dir.filePath("prefs.txt"), "run", "--print", "--port", QString::fromStdString(l.name())});
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no answer from 127.0.0.1 port %1 within 5 s").arg(l.port())))
        << r.err.toStdString();
    EXPECT_GE(took, 4s);
    EXPECT_LT(took, 15s);
}

TEST(NetworkRun, InvalidNamesAreRefusedBeforeAnythingStarts) {
    QTemporaryDir dir;
    for (const QString& name : {QStringLiteral("tcp://127.0.0.1"), QStringLiteral("rfc2217://host:70000"),
                                QStringLiteral("tcp://::1:4001")}) {
        const auto r =
            vornal::test::runCli({"--store", dir.filePath("prefs.txt"), "run", "--print", "--port", name});
        EXPECT_EQ(r.exitCode, 2) << name.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("HOST:PORT")) ||
                    r.err.contains(QStringLiteral("[::1]:4001")))
            << r.err.toStdString();
    }
    // The stored port too.
    const auto set = vornal::test::runCli({"--store", dir.filePath("prefs.txt"), "set", "port=tcp://scale"});
    EXPECT_NE(set.exitCode, 0);
    EXPECT_TRUE(set.err.contains(QStringLiteral("tcp://HOST:PORT"))) << set.err.toStdString();
    const auto good =
        vornal::test::runCli({"--store", dir.filePath("prefs.txt"), "set", "port=rfc2217://[::1]:4001"});
    EXPECT_EQ(good.exitCode, 0) << good.err.toStdString();
    const auto shown = vornal::test::runCli({"--store", dir.filePath("prefs.txt"), "settings"});
    EXPECT_TRUE(shown.out.contains(QStringLiteral("rfc2217://[::1]:4001"))) << shown.out.toStdString();
    // Through a settings export and import into another store.
    EXPECT_EQ(vornal::test::runCli({"--store", dir.filePath("prefs.txt"), "export", dir.filePath("v.xml")})
                  .exitCode,
              0);
    EXPECT_EQ(vornal::test::runCli({"--store", dir.filePath("other.txt"), "import", dir.filePath("v.xml")})
                  .exitCode,
              0);
    const auto imported = vornal::test::runCli({"--store", dir.filePath("other.txt"), "settings"});
    EXPECT_TRUE(imported.out.contains(QStringLiteral("rfc2217://[::1]:4001"))) << imported.out.toStdString();
}

TEST(NetworkRun, ASilentServerKeepsTheConnectionAndAStopEndsIt) {
    Listener l;
    QTemporaryDir dir;
    CliRun run(dir.filePath("prefs.txt"), {"--port", l.name(), "--print"});
    const int conn = l.accept();
    ASSERT_GE(conn, 0);
    ASSERT_TRUE(run.waitErr("opened")) << run.err.toStdString();
    run.waitFor([] { return false; }, 1500);
    EXPECT_EQ(run.p.state(), QProcess::Running);
    const auto start = Clock::now();
    EXPECT_EQ(run.stop(), 0) << run.err.toStdString();
    EXPECT_LT(Clock::now() - start, 3s);
    ::close(conn);
}

TEST(NetworkRun, GarbageAndAMegabyteLineAreSurvived) {
    Listener l;
    QTemporaryDir dir;
    CliRun run(dir.filePath("prefs.txt"), {"--port", l.name(), "--print", "--preset", "GENERIC"});
    const int conn = l.accept();
    ASSERT_GE(conn, 0);
    ASSERT_TRUE(run.waitErr("opened")) << run.err.toStdString();
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk += char((i * 131 + 7) % 256 == 13 ? 0 : (i * 131 + 7) % 256);
    junk += '\r';
    junk += QByteArray(1 << 20, 'x'); // 1 MiB without a terminator
    junk += "\r3.75\r";
    std::thread writer([&] {
        for (qsizetype at = 0; at < junk.size();) {
            const ssize_t n = ::send(conn, junk.constData() + at, size_t(junk.size() - at), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            at += n;
        }
    });
    EXPECT_TRUE(run.waitFor([&] { return run.out.contains(QStringLiteral("3.75\n")); }, 20000))
        << run.err.toStdString();
    writer.join();
    EXPECT_TRUE(run.err.contains(QStringLiteral("without the input terminator"))) << run.err.toStdString();
    EXPECT_EQ(run.p.state(), QProcess::Running);
    EXPECT_EQ(run.stop(), 0);
    ::close(conn);
}

TEST(NetworkRun, ASignalDuringTheFirstConnectEndsTheProgramAtOnce) {
    vornal::test::SilentServer server; // accepts, never answers the RFC 2217 negotiation
    QTemporaryDir dir;
    CliRun run(dir.filePath("prefs.txt"),
               {"--port", QString::fromStdString(server.name("rfc2217")), "--print"});
    ASSERT_TRUE(run.waitFor([&] { return server.accepted() == 1; }, 10000)) << run.err.toStdString();
    run.waitFor([] { return false; }, 300);
    const auto start = Clock::now();
    ::kill(pid_t(run.p.processId()), SIGTERM);
    ASSERT_TRUE(run.p.waitForFinished(5000));
    EXPECT_LT(Clock::now() - start, 1500ms);
}

TEST(NetworkRun, ASignalWhileReconnectingEndsTheProgramAtOnce) {
    // An RFC 2217 server that answers the first connection only; later ones wait in its queue unanswered,
    // so that every reconnect attempt waits for the negotiation.
    vornal::test::LoopbackListener server;
    QTemporaryDir dir;
    CliRun run(dir.filePath("prefs.txt"),
               {"--port", QString::fromStdString(server.name("rfc2217")), "--print"});
    const int conn = server.accept(10000);
    ASSERT_GE(conn, 0);
    const unsigned char agree[] = {255, 253, 44, 255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3};
    ASSERT_EQ(::send(conn, agree, sizeof agree, MSG_NOSIGNAL), ssize_t(sizeof agree));
    ASSERT_TRUE(run.waitErr("opened")) << run.err.toStdString();
    ::close(conn);
    ASSERT_TRUE(run.waitErr("is gone")) << run.err.toStdString();
    run.waitFor([] { return false; }, 1000); // an attempt is under way
    const auto start = Clock::now();
    EXPECT_EQ(run.stop(), 0) << run.err.toStdString();
    EXPECT_LT(Clock::now() - start, 1500ms);
}
