// A connection on a network port opened in the background (as the window opens it): the caller's event
// loop turns while a device server does not answer, Stop and the end of the connection end the attempt
// at once and leave nothing open, a failure is reported as a synchronous one is, a success reads.
#include "support/LoopbackServer.h"
#include "support/WaitFor.h"

#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Connection.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>

using namespace vornal;
using test::waitFor;
using worker::Connection;

namespace {

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/posix");
        Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
        util::ResourceBundle::setLocale(QStringLiteral("en"));
        ::unsetenv("VAZ_NET_CONNECT_TIMEOUT_MS");
        static int argc = 1;
        static char arg0[] = "worker_network";
        static char* argv[] = {arg0, nullptr};
        app_ = new QCoreApplication(argc, argv);
        // The driver is loaded once, before descriptors are counted.
        try {
            Direduva::SerialPortLocal warmUp(Direduva::SerialConfig("tcp://127.0.0.1:1"));
        } catch (const std::exception&) {
        }
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};
const auto* const env = ::testing::AddGlobalTestEnvironment(new Environment);

// What a connection says, recorded.
struct Recorder {
    int connecting = 0, started = 0, stopped = 0, connected = 0;
    std::optional<QString> failure;
    QStringList values;
    explicit Recorder(Connection& c) {
        QObject::connect(&c, &Connection::connecting, [this] { ++connecting; });
        QObject::connect(&c, &Connection::started, [this] { ++started; });
        QObject::connect(&c, &Connection::stopped, [this] { ++stopped; });
        QObject::connect(&c, &Connection::connectedChanged, [this](bool on) { connected += on ? 1 : 0; });
        QObject::connect(&c, &Connection::startFailed,
                         [this](Connection::StartFailure, const QString& why) { failure = why; });
        QObject::connect(&c, &Connection::line,
                         [this](const worker::DataLine& line, const worker::DataLine&) {
                             if (line.hasValue())
                                 values += line.getProcessedData();
                         });
    }
};

config::Config settingsFor(const std::string& port) {
    config::Config config = config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    config.setPort(QString::fromStdString(port));
    return config;
}

Connection::Options background() {
    Connection::Options options;
    options.keys = false;
    options.sound = false;
    options.requestServer = false;
    options.hotkey = false;
    options.openInBackground = true;
    return options;
}

// Milliseconds `f` takes.
template <class F> qint64 timed(F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    return t.elapsed();
}

} // namespace

TEST(ConnectionNetwork, AStopDuringAnUnansweredNegotiationEndsTheAttemptAndLeavesNothingOpen) {
    const int fdsBefore = test::openDescriptors();
    {
        test::SilentServer server;
        Connection connection;
        Recorder said(connection);
        // The caller's event loop turns while the device server keeps silent.
        int ticks = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(50);
        EXPECT_LT(
            timed([&] { ASSERT_TRUE(connection.start(settingsFor(server.name("rfc2217")), background())); }),
            500);
        EXPECT_EQ(said.connecting, 1);
        EXPECT_TRUE(connection.isActive());
        EXPECT_TRUE(connection.isConnecting());
        EXPECT_FALSE(connection.isConnected());
        ASSERT_TRUE(waitFor([&] { return server.accepted() == 1; }, 5000));
        waitFor([] { return false; }, 1000);
        EXPECT_GE(ticks, 10) << "the event loop stood still during the attempt";
        EXPECT_EQ(said.started, 0);

        // Stop ends it now; the socket of the attempt is closed soon after, not when the negotiation
        // would have timed out.
        EXPECT_LT(timed([&] { connection.stop(); }), 500);
        EXPECT_EQ(said.stopped, 1);
        EXPECT_FALSE(connection.isActive());
        EXPECT_FALSE(connection.isConnecting());
        EXPECT_TRUE(waitFor([&] { return server.closedByPeer() == 1; }, 1000));
        EXPECT_TRUE(waitFor([&] { return test::openDescriptors() <= fdsBefore + 4; }, 1000))
            << test::openDescriptors() << " descriptors, " << fdsBefore << " before (the server's own: 4)";
        // Nothing of the attempt arrives later.
        waitFor([] { return false; }, 500);
        EXPECT_EQ(said.started, 0);
        EXPECT_FALSE(said.failure.has_value());
        EXPECT_EQ(said.connected, 0);
    }
    EXPECT_EQ(test::openDescriptors(), fdsBefore);
}

TEST(ConnectionNetwork, FailuresInTheBackgroundAreReportedAsAtAStart) {
    const int fdsBefore = test::openDescriptors();
    {
        // A device server that never answers RFC 2217: the message of a synchronous start.
        test::SilentServer server;
        Connection connection;
        Recorder said(connection);
        ASSERT_TRUE(connection.start(settingsFor(server.name("rfc2217")), background()));
        ASSERT_TRUE(waitFor([&] { return said.failure.has_value(); }, 8000));
        EXPECT_TRUE(said.failure->contains(QStringLiteral("did not answer the RFC 2217 negotiation")))
            << said.failure->toStdString();
        EXPECT_FALSE(connection.isActive());
        EXPECT_EQ(said.stopped, 0);
        EXPECT_EQ(said.started, 0);
        EXPECT_TRUE(waitFor([&] { return server.closedByPeer() == 1; }, 1000));
    }
    {
        // A host that does not answer the connect (time-out shortened for the test).
        test::UnansweredPort port;
        ::setenv("VAZ_NET_CONNECT_TIMEOUT_MS", "1000", 1);
        Connection connection;
        Recorder said(connection);
        ASSERT_TRUE(connection.start(settingsFor(port.name()), background()));
        ASSERT_TRUE(waitFor([&] { return said.failure.has_value(); }, 5000));
        ::unsetenv("VAZ_NET_CONNECT_TIMEOUT_MS");
        EXPECT_TRUE(said.failure->contains(
            QStringLiteral("no answer from 127.0.0.1 port %1 within 1 s").arg(port.port())))
            << said.failure->toStdString();
        EXPECT_FALSE(connection.isActive());
        // The window may start again at once.
        test::LoopbackListener listener;
        ASSERT_TRUE(connection.start(settingsFor(listener.name()), background()));
        ASSERT_TRUE(waitFor([&] { return said.started == 1; }, 5000));
        connection.stop();
        ASSERT_TRUE(waitFor([&] { return !connection.isActive(); }, 5000));
    }
    EXPECT_EQ(test::openDescriptors(), fdsBefore);
}

TEST(ConnectionNetwork, AnOpenedPortStartsTheReadingAsUsual) {
    test::LoopbackListener listener;
    Connection connection;
    Recorder said(connection);
    ASSERT_TRUE(connection.start(settingsFor(listener.name()), background()));
    const int conn = listener.accept();
    ASSERT_GE(conn, 0);
    ASSERT_TRUE(waitFor([&] { return said.started == 1 && connection.isConnected(); }, 5000));
    EXPECT_FALSE(connection.isConnecting());
    const char lines[] = "12.5\r7.25\r";
    ASSERT_EQ(::send(conn, lines, sizeof lines - 1, MSG_NOSIGNAL), ssize_t(sizeof lines - 1));
    ASSERT_TRUE(waitFor([&] { return said.values.size() == 2; }, 5000));
    EXPECT_EQ(said.values, (QStringList{QStringLiteral("12.5"), QStringLiteral("7.25")}));
    connection.stop();
    ASSERT_TRUE(waitFor([&] { return said.stopped == 1; }, 5000));
    ::close(conn);
}

TEST(ConnectionNetwork, TheEndOfTheConnectionDuringAnAttemptNeitherWaitsNorLeavesAnythingOpen) {
    const int fdsBefore = test::openDescriptors();
    {
        test::UnansweredPort port; // the connect time-out of 5 s
        auto connection = std::make_unique<Connection>();
        ASSERT_TRUE(connection->start(settingsFor(port.name("rfc2217")), background()));
        waitFor([] { return false; }, 300);
        EXPECT_LT(timed([&] { connection.reset(); }), 1000);
        // A queued result of the attempt finds nothing to call.
        waitFor([] { return false; }, 200);
    }
    {
        // A Start right after a Stop: the earlier attempt is ended first, the new one connects.
        test::SilentServer silent;
        test::LoopbackListener listener;
        Connection connection;
        Recorder said(connection);
        ASSERT_TRUE(connection.start(settingsFor(silent.name("rfc2217")), background()));
        ASSERT_TRUE(waitFor([&] { return silent.accepted() == 1; }, 5000));
        connection.stop();
        EXPECT_LT(timed([&] { ASSERT_TRUE(connection.start(settingsFor(listener.name()), background())); }),
                  1000);
        ASSERT_TRUE(waitFor([&] { return said.started == 1; }, 5000));
        EXPECT_EQ(said.stopped, 1);
        connection.stop();
        ASSERT_TRUE(waitFor([&] { return said.stopped == 2; }, 5000));
    }
    EXPECT_EQ(test::openDescriptors(), fdsBefore);
}
