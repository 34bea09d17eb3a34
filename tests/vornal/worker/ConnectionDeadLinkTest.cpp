// A network link that dies without a word: the program runs in a network namespace of its own, where
// taking the loopback interface down drops every packet of an established connection silently, as a
// cut cable or a switched-off device server does. The keep-alive has to notice it (10 s of silence,
// then 3 probes 5 s apart), the connection waits for the port like for an unplugged adapter, and it
// reconnects once the link is back.
//
// Needs a network namespace (root, or unprivileged user namespaces); skipped with the reason otherwise.
#include "support/LoopbackServer.h"
#include "support/WaitFor.h"

#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Connection.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

using namespace vornal;
using test::waitFor;
using worker::Connection;

namespace {

// Why the namespace could not be had ("" when this process has one of its own).
std::string namespaceProblem;

// Switches the loopback interface of this namespace on or off. "" or the reason.
std::string setLoopback(bool up) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::strerror(errno);
    ifreq req{};
    std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    std::string why;
    if (::ioctl(fd, SIOCGIFFLAGS, &req) != 0) {
        why = std::string("SIOCGIFFLAGS: ") + std::strerror(errno);
    } else {
        req.ifr_flags = short(up ? (req.ifr_flags | IFF_UP) : (req.ifr_flags & ~IFF_UP));
        if (::ioctl(fd, SIOCSIFFLAGS, &req) != 0)
            why = std::string("SIOCSIFFLAGS: ") + std::strerror(errno);
    }
    ::close(fd);
    return why;
}

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        // Before any thread starts: the threads made later (the reader) live in the same namespace.
        if (::unshare(CLONE_NEWNET) != 0) {
            const std::string first = std::strerror(errno);
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
                namespaceProblem = "no network namespace of its own (" + first +
                                   "; as an unprivileged user: " + std::strerror(errno) + ")";
        }
        if (namespaceProblem.empty()) {
            const std::string why = setLoopback(true);
            if (!why.empty())
                namespaceProblem = "cannot switch on the loopback interface of the namespace: " + why;
        }
        Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/posix");
        Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        static int argc = 1;
        static char arg0[] = "worker_dead_link";
        static char* argv[] = {arg0, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};
const auto* const env = ::testing::AddGlobalTestEnvironment(new Environment);

} // namespace

TEST(ConnectionDeadLink, ASilentlyDeadLinkIsNoticedByTheKeepAliveAndReconnectedWhenItComesBack) {
    if (!namespaceProblem.empty())
        GTEST_SKIP() << namespaceProblem;
    test::LoopbackListener instrument;
    Connection connection;
    QStringList values;
    QStringList gone;
    int reconnected = 0, stopped = 0;
    QObject::connect(&connection, &Connection::line,
                     [&](const worker::DataLine& line, const worker::DataLine&) {
                         if (line.hasValue())
                             values += line.getProcessedData();
                     });
    QObject::connect(&connection, &Connection::waitingForPort,
                     [&](const QString&, const QString& why) { gone += why; });
    QObject::connect(&connection, &Connection::reconnected, [&] { ++reconnected; });
    QObject::connect(&connection, &Connection::stopped, [&] { ++stopped; });
    config::Config config = config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    config.setPort(QString::fromStdString(instrument.name()));
    Connection::Options options;
    options.keys = false;
    options.sound = false;
    options.requestServer = false;
    options.hotkey = false;

    ASSERT_TRUE(connection.start(config, options));
    int conn = instrument.accept();
    ASSERT_GE(conn, 0);
    const char first[] = "1.5\r2.5\r";
    ASSERT_EQ(::send(conn, first, sizeof first - 1, MSG_NOSIGNAL), ssize_t(sizeof first - 1));
    ASSERT_TRUE(waitFor([&] { return values.size() == 2; }, 5000));

    // The link dies: no reset, no end, nothing more arrives. A line cut off by it is never typed.
    const char cut[] = "3.";
    ASSERT_EQ(::send(conn, cut, sizeof cut - 1, MSG_NOSIGNAL), ssize_t(sizeof cut - 1));
    waitFor([] { return false; }, 200);
    ASSERT_EQ(setLoopback(false), "");
    QElapsedTimer silent;
    silent.start();
    ASSERT_TRUE(waitFor([&] { return !gone.isEmpty(); }, 45000)) << "not noticed within 45 s";
    const qint64 noticedMs = silent.elapsed();
    EXPECT_GE(noticedMs, 20000) << "noticed before the keep-alive could have: " << gone.first().toStdString();
    EXPECT_LE(noticedMs, 35000);
    EXPECT_TRUE(gone.first().contains(QStringLiteral("timed out"))) << gone.first().toStdString();
    EXPECT_TRUE(connection.isActive());
    EXPECT_TRUE(connection.isWaitingForPort());
    EXPECT_EQ(values.size(), 2);

    // While the link is down every attempt fails; when it is back, the connection is reopened and reads.
    waitFor([] { return false; }, 1500);
    EXPECT_EQ(reconnected, 0);
    ASSERT_EQ(setLoopback(true), "");
    ::close(conn);
    conn = instrument.accept(15000);
    ASSERT_GE(conn, 0) << "no reconnect within 15 s of the link's return";
    ASSERT_TRUE(waitFor([&] { return reconnected == 1; }, 5000));
    const char after[] = "4.5\r";
    ASSERT_EQ(::send(conn, after, sizeof after - 1, MSG_NOSIGNAL), ssize_t(sizeof after - 1));
    ASSERT_TRUE(waitFor([&] { return values.size() == 3; }, 5000));
    EXPECT_EQ(values, (QStringList{QStringLiteral("1.5"), QStringLiteral("2.5"), QStringLiteral("4.5")}));
    EXPECT_EQ(gone.size(), 1) << "one report per loss";
    connection.stop();
    ASSERT_TRUE(waitFor([&] { return stopped == 1; }, 5000));
    ::close(conn);
}
