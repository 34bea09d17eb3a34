// The connection object on simulated instruments: start order and failures, per-line dispatch with the
// duplicate filter, the typed values, and a device that is unplugged and plugged in again and again.
#include "support/SimEnvironment.h"

#include "platform/keys/fake/RecordingInjector.h"

#include "Csv.h"
#include "support/WaitFor.h"
#include "vornal/worker/Connection.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>

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

TEST(ConnectionSim, ALostKeyboardOutputEndsTheConnectionAndEachDataLogRowSaysWhatHappened) {
    // The desktop ends the session in the middle of "15": its "1" reached the window, its "5" did not.
    QTemporaryDir dir;
    config::Config config = configFor(QStringLiteral("COUNT"));
    config.setDataLogFile(dir.filePath(QStringLiteral("data.csv")));
    Connection::Options o = quiet();
    o.keys = true;
    o.injector = [] {
        auto fake = std::make_unique<platform::RecordingInjector>();
        fake->loseAfter(21); // 1..14 (no terminator), then the "1" and the "5" of "15", whose release fails
        return fake;
    };
    Connection c;
    Recorder r(c);
    QStringList important, cuts;
    QObject::connect(&c, &Connection::logEvent, [&](const QString& t, bool imp) {
        if (imp)
            important += t;
    });
    QObject::connect(&c, &Connection::valueCut, [&](const QString& t) { cuts += t; });
    ASSERT_TRUE(c.start(config, o));
    ASSERT_TRUE(waitFor([&] { return r.stopped.has_value(); }, 10000)) << "the connection ends by itself";
    EXPECT_EQ(*r.stopped, Connection::StopReason::TypingLost);
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(cuts, QStringList{QStringLiteral("cut: typed '1', not typed '5'")});
    EXPECT_TRUE(
        important.join(u'\n').contains(QStringLiteral("Only part of 15 was typed: typed '1', not typed '5'")))
        << important.join(u'\n').toStdString();

    QFile f(config.getDataLogFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const auto table = test::parseCsv(f.readAll());
    ASSERT_TRUE(table.has_value());
    ASSERT_GE(table->size(), 16u) << "header and a row per line";
    for (std::size_t i = 1; i < table->size(); ++i) {
        const auto& row = (*table)[i];
        ASSERT_EQ(row.size(), 6u);
        EXPECT_EQ(row[4], QString::number(i)) << "rows in line order";
        const QString want = i <= 14   ? QStringLiteral("typed")
                             : i == 15 ? QStringLiteral("cut after '1'")
                                       : QStringLiteral("not typed: keyboard output lost");
        EXPECT_EQ(row[5], want) << "line " << i;
    }
}

TEST(ConnectionSim, ValuesStillWaitingAtStopAreWrittenToTheDataLogAsNotTyped) {
    // Typing far slower than the instrument: at Stop most values wait. Each row is written once its
    // result is known, in line order: the typed ones "typed", the rest "not typed: stopped".
    QTemporaryDir dir;
    config::Config config = configFor(QStringLiteral("COUNT"));
    config.setDataLogFile(dir.filePath(QStringLiteral("data.csv")));
    config.setDelay(QStringLiteral("30"));
    Connection::Options o = quiet();
    o.keys = true;
    o.injector = [] { return std::make_unique<platform::RecordingInjector>(true); };
    Connection c;
    Recorder r(c);
    QStringList typed, important;
    QObject::connect(&c, &Connection::valueTyped, &c, [&](const QString& v, int) { typed += v; });
    QObject::connect(&c, &Connection::logEvent, [&](const QString& t, bool imp) {
        if (imp)
            important += t;
    });
    ASSERT_TRUE(c.start(config, o));
    ASSERT_TRUE(waitFor([&] { return r.values.size() >= 30 && !typed.isEmpty(); }, 10000));
    const int dropped = c.stop();
    ASSERT_TRUE(waitFor([&] { return r.stopped.has_value(); }));
    QCoreApplication::processEvents();
    EXPECT_GT(dropped, 0);
    EXPECT_TRUE(important.filter(QStringLiteral("value(s) not typed: the connection was stopped: ")).size() ==
                1)
        << important.join(u'\n').toStdString();
    QFile f(config.getDataLogFile());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const auto table = test::parseCsv(f.readAll());
    ASSERT_TRUE(table.has_value());
    int typedRows = 0, stoppedRows = 0;
    for (std::size_t i = 1; i < table->size(); ++i) {
        const auto& row = (*table)[i];
        EXPECT_EQ(row[4], QString::number(i)) << "rows in line order";
        if (row[5] == QStringLiteral("typed")) {
            EXPECT_EQ(stoppedRows, 0) << "typed rows come first";
            ++typedRows;
        } else {
            EXPECT_EQ(row[5], QStringLiteral("not typed: stopped")) << "line " << i;
            ++stoppedRows;
        }
    }
    EXPECT_EQ(typedRows, typed.size()) << "a row says typed only for a value typed whole";
    EXPECT_EQ(stoppedRows, dropped);
}

TEST(ConnectionSim, AChosenTypingWayThatIsNotAvailableStopsTheStart) {
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    config::Config config = configFor(QStringLiteral("STEADY"));
    config.setKeyBackend(QStringLiteral("wayland"));
    Connection::Options o = quiet();
    o.keys = true;
    Connection c;
    Recorder r(c);
    QString failure, unavailable;
    QObject::connect(&c, &Connection::outputFailed,
                     [&](Connection::Output, const QString& why) { failure = why; });
    QObject::connect(&c, &Connection::keyBackendUnavailable, [&](const QString& way) { unavailable = way; });
    EXPECT_FALSE(c.start(config, o)) << "a connection that would type nothing does not start";
    EXPECT_FALSE(c.isActive());
    EXPECT_EQ(unavailable, QStringLiteral("wayland"));
    EXPECT_TRUE(failure.startsWith(QStringLiteral("typing through \"wayland\" is not available: ")))
        << failure.toStdString();
    EXPECT_TRUE(failure.contains(QStringLiteral("Available here: auto, x11")) ||
                failure.contains(QStringLiteral("No other way of typing is available here.")))
        << failure.toStdString();
    EXPECT_TRUE(r.values.isEmpty());
    if (!wayland.isNull())
        qputenv("WAYLAND_DISPLAY", wayland);
}

namespace {
// A recording injector whose focus window the test sets: it outlives the injector (the connection
// destroys the injector when its last value is done).
class FocusFake : public platform::RecordingInjector {
public:
    explicit FocusFake(std::shared_ptr<std::atomic<unsigned long>> window)
        : RecordingInjector(true), window_(std::move(window)) {}
    std::optional<bool> hasFocusTarget() override { return window_->load() != 0; }
    unsigned long focusWindow() override { return window_->load(); }

private:
    std::shared_ptr<std::atomic<unsigned long>> window_;
};
} // namespace

TEST(ConnectionSim, AValueHeldAtStopIsFinishedInItsWindowAndItsRowWrittenThen) {
    // Stop while held (the window's own focus) in the middle of a value: the value waits for the window
    // of its first part, is finished there, and its data-log row says typed; the rows behind it (values
    // dropped at Stop) follow it in line order.
    QTemporaryDir dir;
    config::Config config = configFor(QStringLiteral("COUNT"));
    config.setDataLogFile(dir.filePath(QStringLiteral("data.csv")));
    config.setDelay(QStringLiteral("40"));
    Connection::Options o = quiet();
    o.keys = true;
    o.resumeCutMs = 10000;
    auto window = std::make_shared<std::atomic<unsigned long>>(7);
    FocusFake* fake = nullptr;
    o.injector = [&fake, window] {
        auto f = std::make_unique<FocusFake>(window);
        fake = f.get();
        return f;
    };
    Connection c;
    Recorder r(c);
    QStringList typed;
    QStringList log;
    QObject::connect(&c, &Connection::valueTyped, &c, [&](const QString& v, int) { typed += v; });
    QObject::connect(&c, &Connection::logEvent, [&](const QString& t, bool) { log += t; });
    ASSERT_TRUE(c.start(config, o));
    ASSERT_TRUE(waitFor([&] { return typed.size() >= 12 && r.values.size() >= 20; }, 10000));
    // Right after the first digit of a two-digit value (1..9 take 3 events each, 10.. take 6: key,
    // release and pause per digit), during its pause.
    ASSERT_TRUE(waitFor([&] { return fake->events().size() % 6 == 0; }, 2000));
    c.setTypingHeld(true);
    *window = 3; // this program's window
    c.stop();
    // Rows are kept for the lines dispatched up to the stop (later ones end with the reading).
    const auto rows = static_cast<std::size_t>(r.values.size()) + 1;
    ASSERT_TRUE(waitFor([&] { return r.stopped.has_value(); }));
    EXPECT_FALSE(log.filter(QStringLiteral("The value being typed at Stop goes on")).isEmpty())
        << log.join(u'\n').toStdString();
    QFile f(config.getDataLogFile());
    waitFor([] { return false; }, 300);
    *window = 7;
    ASSERT_TRUE(waitFor(
        [&] {
            f.close();
            if (!f.open(QIODevice::ReadOnly))
                return false;
            const auto t = test::parseCsv(f.readAll());
            return t && t->size() == rows;
        },
        10000))
        << "every row once the held value is done";
    f.close();
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const auto table = test::parseCsv(f.readAll());
    ASSERT_TRUE(table.has_value());
    int typedRows = 0;
    for (std::size_t i = 1; i < table->size(); ++i) {
        const auto& row = (*table)[i];
        EXPECT_EQ(row[4], QString::number(i)) << "rows in line order";
        if (row[5] == QStringLiteral("typed"))
            ++typedRows;
        else
            EXPECT_EQ(row[5], QStringLiteral("not typed: stopped")) << "line " << i;
    }
    EXPECT_EQ(typedRows, typed.size()) << "the finished value counts as typed, once";
    EXPECT_TRUE(log.last().contains(QStringLiteral("was typed whole after the stop")))
        << log.last().toStdString();
}
