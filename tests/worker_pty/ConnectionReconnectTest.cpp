// A connection whose port vanishes and comes back under the same name: a pty pair made by socat under
// a fixed link name, ended and started again, as an adapter that is unplugged and plugged in again.
#include "../support/WaitFor.h"

#include "vornal/util/ResourceBundle.h"
#include "vornal/worker/Connection.h"

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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
        static int argc = 1;
        static char arg0[] = "worker_reconnect";
        static char* argv[] = {arg0, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};
const auto* const env = ::testing::AddGlobalTestEnvironment(new Environment);

// One plug-in of the instrument: socat links `port` (the program's side) and `far` (the instrument's).
class Plug {
public:
    Plug(const QString& port, const QString& far) : far_(far) {
        socat_.start(QStringLiteral("socat"), {QStringLiteral("pty,link=%1,raw,echo=0").arg(port),
                                               QStringLiteral("pty,link=%1,raw,echo=0").arg(far)});
        ready_ = socat_.waitForStarted(5000) &&
                 waitFor([&] { return QFileInfo::exists(port) && QFileInfo::exists(far); }, 5000);
        if (ready_)
            fd_ = ::open(far.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    }
    ~Plug() { unplug(); }
    bool ready() const { return ready_ && fd_ >= 0; }
    void send(const QByteArray& bytes) {
        [[maybe_unused]] auto n = ::write(fd_, bytes.data(), size_t(bytes.size()));
    }
    void unplug() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        if (socat_.state() != QProcess::NotRunning) {
            socat_.terminate();
            socat_.waitForFinished(5000);
        }
    }

private:
    QString far_;
    QProcess socat_;
    bool ready_ = false;
    int fd_ = -1;
};

} // namespace

TEST(ConnectionReconnect, APortThatVanishesAndComesBackIsReopenedEveryTime) {
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        GTEST_SKIP() << "socat is not installed (scripts/deps.sh installs it)";
    QTemporaryDir dir;
    const QString port = dir.filePath(QStringLiteral("instrument"));
    const QString far = dir.filePath(QStringLiteral("far"));

    Connection connection;
    QStringList values;
    int waiting = 0, reconnected = 0, stopped = 0;
    QObject::connect(&connection, &Connection::line,
                     [&](const worker::DataLine& line, const worker::DataLine&) {
                         if (line.hasValue())
                             values += line.getProcessedData();
                     });
    QObject::connect(&connection, &Connection::waitingForPort, [&] { ++waiting; });
    QObject::connect(&connection, &Connection::reconnected, [&] { ++reconnected; });
    QObject::connect(&connection, &Connection::stopped, [&] { ++stopped; });

    config::Config config = config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    config.setPort(port);
    Connection::Options options;
    options.keys = false;
    options.sound = false;
    options.reconnectPollMs = 10;

    constexpr int cycles = 100;
    for (int i = 0; i < cycles; ++i) {
        Plug plug(port, far);
        ASSERT_TRUE(plug.ready()) << "cycle " << i;
        if (i == 0)
            ASSERT_TRUE(connection.start(config, options));
        else
            ASSERT_TRUE(waitFor([&] { return reconnected == i; }, 10000)) << "cycle " << i;
        // One complete line, then the start of one that the unplug cuts off.
        plug.send(QByteArray::number(i) + ".5\r7");
        ASSERT_TRUE(waitFor([&] { return values.size() == i + 1; }, 10000)) << "cycle " << i;
        plug.unplug();
        ASSERT_TRUE(waitFor([&] { return waiting == i + 1; }, 10000)) << "cycle " << i;
        EXPECT_TRUE(connection.isActive());
        EXPECT_TRUE(connection.isWaitingForPort());
    }
    EXPECT_EQ(waiting, cycles) << "one report per unplug";
    EXPECT_EQ(reconnected, cycles - 1);
    ASSERT_EQ(values.size(), cycles);
    for (int i = 0; i < cycles; ++i)
        EXPECT_EQ(values[i], QString::number(i) + QStringLiteral(".5")) << "nothing half-received is typed";

    // Stop while waiting for the port ends the connection at once.
    connection.stop();
    EXPECT_EQ(stopped, 1);
    EXPECT_FALSE(connection.isActive());
}

TEST(ConnectionReconnect, WithoutReconnectTheConnectionEndsWhenThePortGoes) {
    if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
        GTEST_SKIP() << "socat is not installed (scripts/deps.sh installs it)";
    QTemporaryDir dir;
    const QString port = dir.filePath(QStringLiteral("instrument"));
    Connection connection;
    std::optional<Connection::StopReason> reason;
    int waiting = 0;
    QObject::connect(&connection, &Connection::stopped,
                     [&](Connection::StopReason r, const QString&) { reason = r; });
    QObject::connect(&connection, &Connection::waitingForPort, [&] { ++waiting; });
    config::Config config = config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    config.setPort(port);
    Connection::Options options;
    options.keys = false;
    options.sound = false;
    options.reconnect = false;
    Plug plug(port, dir.filePath(QStringLiteral("far")));
    ASSERT_TRUE(plug.ready());
    ASSERT_TRUE(connection.start(config, options));
    plug.unplug();
    ASSERT_TRUE(waitFor([&] { return reason.has_value(); }, 10000));
    EXPECT_EQ(*reason, Connection::StopReason::PortGone);
    EXPECT_EQ(waiting, 0);
}
