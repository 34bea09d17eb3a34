// The connection object on simulated instruments: start order and failures, per-line dispatch with the
// duplicate filter, the typed values, and a device that is unplugged and plugged in again and again.
#include "support/SimEnvironment.h"

#include "platform/keys/fake/RecordingInjector.h"

#include "support/WaitFor.h"
#include "vornal/worker/Connection.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>

using namespace vornal;
using test::waitFor;
using worker::Connection;

namespace {

const auto* const env = ::testing::AddGlobalTestEnvironment(new test::SimEnvironment(R"(
port STEADY
every 20ms send "ST,GS,+  1.5 kg\r"

port PLUG
unplug after 250ms
replug after 150ms
every 20ms send "ST,GS,+  2.5 kg\r"

port COUNT
value n 1 step=1
every 10ms send "ST,GS,+  {n} kg\r"

port GONE
unplug after 150ms
every 20ms send "ST,GS,+  3.5 kg\r"
)",
                                                                                     true));

// What a connection said, in order.
struct Recorder {
    QStringList values, received, events;
    int waiting = 0, reconnected = 0;
    std::optional<Connection::StopReason> stopped;
    std::optional<Connection::StartFailure> startFailure;
    QString startReason;
    explicit Recorder(Connection& c) {
        QObject::connect(&c, &Connection::line, [this](const worker::DataLine& l, const worker::DataLine& r) {
            values += l.getProcessedData();
            received += r.getProcessedData();
        });
        QObject::connect(&c, &Connection::started, [this] { events += QStringLiteral("started"); });
        QObject::connect(&c, &Connection::connectedChanged,
                         [this](bool on) { events += on ? QStringLiteral("on") : QStringLiteral("off"); });
        QObject::connect(&c, &Connection::waitingForPort, [this] { ++waiting; });
        QObject::connect(&c, &Connection::reconnected, [this] { ++reconnected; });
        QObject::connect(&c, &Connection::stopped,
                         [this](Connection::StopReason r, const QString&) { stopped = r; });
        QObject::connect(&c, &Connection::startFailed,
                         [this](Connection::StartFailure f, const QString& why) {
                             startFailure = f;
                             startReason = why;
                         });
    }
};

config::Config configFor(const QString& port) {
    config::Config c = config::ConfigHelper::Instrument::GENERIC.getDefaultConfig();
    c.setPort(port);
    return c;
}

Connection::Options quiet() {
    Connection::Options o;
    o.keys = false;
    o.sound = false;
    o.reconnectPollMs = 10;
    return o;
}

} // namespace

TEST(ConnectionSim, APortThatCannotBeOpenedLeavesNothingRunning) {
    Connection c;
    Recorder r(c);
    EXPECT_FALSE(c.start(configFor(QStringLiteral("NOSUCH")), quiet()));
    ASSERT_EQ(r.startFailure, Connection::StartFailure::OpenFailed);
    EXPECT_TRUE(r.startReason.contains("no such port")) << r.startReason.toStdString();
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(r.events, QStringList{"off"});
    // The same object starts again once the port is right.
    EXPECT_TRUE(c.start(configFor(QStringLiteral("STEADY")), quiet()));
    EXPECT_TRUE(waitFor([&] { return r.values.size() >= 2; }));
    c.stop();
    ASSERT_TRUE(waitFor([&] { return r.stopped.has_value(); }));
    EXPECT_EQ(*r.stopped, Connection::StopReason::Stopped);
    EXPECT_EQ(r.events.mid(1, 2), (QStringList{"on", "started"}));
    EXPECT_EQ(r.events.last(), "off");
}

TEST(ConnectionSim, DuplicatesLoseTheirValueBeforeTheLineIsReported) {
    config::Config config = configFor(QStringLiteral("STEADY"));
    config.ignoreDuplicates = true;
    Connection c;
    Recorder r(c);
    ASSERT_TRUE(c.start(config, quiet()));
    ASSERT_TRUE(waitFor([&] { return r.values.size() >= 3; }));
    c.stop();
    ASSERT_TRUE(waitFor([&] { return r.stopped.has_value(); }));
    EXPECT_EQ(r.values.first(), "1.5");
    EXPECT_EQ(r.values.at(1), "") << "the same weight again is a duplicate";
    EXPECT_EQ(r.received.at(1), "1.5") << "the worker's own line keeps its value";
}

TEST(ConnectionSim, EveryTypedValueIsReportedOnceInTheOrderOfItsLines) {
    Connection::Options o = quiet();
    o.keys = true;
    // Real pauses: with the delay, typing is slower than the instrument and values queue up.
    o.injector = [] { return std::make_unique<platform::RecordingInjector>(true); };
    config::Config config = configFor(QStringLiteral("COUNT"));
    config.setDelay(QStringLiteral("3"));
    Connection c;
    Recorder r(c);
    QStringList typed;
    QList<int> waiting;
    // Reported from the typing thread, received here on the test's thread.
    QObject::connect(&c, &Connection::valueTyped, &c, [&](const QString& value, int behind) {
        typed += value;
        waiting += behind;
    });
    ASSERT_TRUE(c.start(config, o));
    ASSERT_TRUE(waitFor([&] { return typed.size() >= 20; }));
    c.stop();
    ASSERT_TRUE(waitFor([&] { return r.stopped.has_value(); }));
    QCoreApplication::processEvents(); // reports queued by the typing thread before the stop
    ASSERT_LE(typed.size(), r.values.size());
    EXPECT_EQ(typed, r.values.mid(0, typed.size())) << "typed whole, once, in the order received";
    EXPECT_TRUE(std::any_of(waiting.begin(), waiting.end(), [](int w) { return w > 0; }))
        << "values waited behind the one being typed";
}

TEST(ConnectionSim, AnUnpluggedDeviceIsReopenedWhenItComesBack) {
    Connection c;
    Recorder r(c);
    ASSERT_TRUE(c.start(configFor(QStringLiteral("PLUG")), quiet()));
    ASSERT_TRUE(waitFor([&] { return r.reconnected >= 3; }, 20000)) << r.waiting << " losses";
    EXPECT_TRUE(r.waiting == r.reconnected || r.waiting == r.reconnected + 1) << "one report per loss";
    EXPECT_FALSE(r.values.contains("")) << "every line that arrived was complete";
    EXPECT_EQ(r.values.count("2.5"), r.values.size());
    EXPECT_FALSE(r.events.contains("off")) << "the connected look stays while waiting";
    // Stop while waiting for the device ends the connection at once.
    ASSERT_TRUE(waitFor([&] { return c.isWaitingForPort(); }, 5000));
    c.stop();
    ASSERT_TRUE(r.stopped.has_value());
    EXPECT_EQ(*r.stopped, Connection::StopReason::Stopped);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(r.events.last(), "off");
}

TEST(ConnectionSim, WithoutReconnectAnUnplugEndsTheConnection) {
    Connection::Options o = quiet();
    o.reconnect = false;
    Connection c;
    Recorder r(c);
    ASSERT_TRUE(c.start(configFor(QStringLiteral("GONE")), o));
    ASSERT_TRUE(waitFor([&] { return r.stopped.has_value(); }, 5000));
    EXPECT_EQ(*r.stopped, Connection::StopReason::PortGone);
    EXPECT_EQ(r.waiting, 0);
}
