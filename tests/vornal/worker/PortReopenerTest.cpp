// Finding a port again that went away, and opening one in the background, with the opening itself
// replaced: which attempts are made, at what pace, and that a cancelled attempt's result is dropped.
#include "support/WaitFor.h"

#include "vornal/worker/PortReopener.h"

#include <Direduva/Errors.h>
#include <Direduva/SerialPortLocal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace vornal;
using test::waitFor;
using worker::PortReopener;

namespace {

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        Direduva::SerialPortLocal::setDiagnosticOutput(nullptr);
        static int argc = 1;
        static char arg0[] = "worker_port_reopener";
        static char* argv[] = {arg0, nullptr};
        app_ = new QCoreApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QCoreApplication* app_ = nullptr;
};
const auto* const env = ::testing::AddGlobalTestEnvironment(new Environment);

config::Config withPort(const QString& port) {
    config::Config c;
    c.setPort(port);
    return c;
}

// What the hooks saw.
struct Record {
    std::mutex m;
    std::vector<qint64> opens; // ms since the start, of each background open
    QStringList openedNow;     // the names openNow was given
    QStringList reopened;
    int adopted = 0;
    QElapsedTimer clock;
};

PortReopener::Hooks hooks(Record& r, std::function<bool(const QString&)> openNow = {},
                          std::function<PortReopener::Port(const config::Config&)> open = {}) {
    r.clock.start();
    PortReopener::Hooks h;
    h.openNow = [&r, openNow](const QString& name) {
        r.openedNow += name;
        return openNow ? openNow(name) : false;
    };
    h.adopt = [&r](PortReopener::Port) {
        ++r.adopted;
        return false;
    };
    h.reopened = [&r](const QString& name) { r.reopened += name; };
    h.open = [&r, open](const config::Config& c) -> PortReopener::Port {
        {
            std::lock_guard lock(r.m);
            r.opens.push_back(r.clock.elapsed());
        }
        if (open)
            return open(c);
        throw std::runtime_error("connection refused");
    };
    return h;
}

} // namespace

// A device file that is not back needs no attempt; once it is, each poll tries until the open works,
// and the port is reported back once.
TEST(PortReopener, ADeviceIsTriedOnlyOnceItsFileIsBack) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString device = dir.filePath(QStringLiteral("ttyUSB0"));
    Record r;
    int tries = 0;
    PortReopener reopener(hooks(r, [&](const QString&) { return ++tries >= 3; }));
    reopener.wait(withPort(device), device, 10);
    EXPECT_TRUE(reopener.isWaiting());
    waitFor([] { return false; }, 100);
    EXPECT_TRUE(r.openedNow.isEmpty()) << "no device file, no attempt";

    QFile file(device);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(waitFor([&] { return !r.reopened.isEmpty(); }, 5000));
    EXPECT_EQ(r.openedNow, (QStringList{device, device, device}));
    EXPECT_EQ(r.reopened, QStringList{device});
    EXPECT_FALSE(reopener.isWaiting());
    waitFor([] { return false; }, 60);
    EXPECT_EQ(r.openedNow.size(), 3) << "no attempt after the port is back";
}

// A network port: one attempt at a time in the background, the first few at the poll interval, then
// with a pause that doubles up to the longest one.
TEST(PortReopener, ANetworkPortIsTriedQuicklyFirstThenLessOften) {
    Record r;
    PortReopener reopener(hooks(r));
    const QString port = QStringLiteral("tcp://127.0.0.1:9");
    reopener.wait(withPort(port), port, 10);
    const int quick = PortReopener::QUICK_NETWORK_ATTEMPTS;
    ASSERT_TRUE(waitFor(
        [&] {
            std::lock_guard lock(r.m);
            return int(r.opens.size()) >= quick + 3;
        },
        10000));
    std::vector<qint64> at;
    {
        std::lock_guard lock(r.m);
        at = r.opens;
    }
    EXPECT_GE(reopener.pauseMs(), 80);
    EXPECT_LE(reopener.pauseMs(), PortReopener::MAX_NETWORK_PAUSE_MS);
    // The pauses after the quick attempts: 20, 40 ms (timers may fire a little early, never much).
    EXPECT_GE(at[std::size_t(quick)] - at[std::size_t(quick - 1)], 15);
    EXPECT_GE(at[std::size_t(quick + 1)] - at[std::size_t(quick)], 30);
    EXPECT_TRUE(r.openedNow.isEmpty());
    EXPECT_TRUE(r.reopened.isEmpty());
    EXPECT_TRUE(reopener.isWaiting());

    // Cancelled: no more attempts.
    reopener.cancel();
    reopener.endOpen();
    std::size_t before;
    {
        std::lock_guard lock(r.m);
        before = r.opens.size();
    }
    waitFor([] { return false; }, 200);
    std::lock_guard lock(r.m);
    EXPECT_EQ(r.opens.size(), before);
}

// The start's open in the background: the reason of a failure, the kind of an unusable setting, and
// nothing at all for an attempt that was cancelled before it ended.
TEST(PortReopener, ABackgroundOpenReportsItsResultUnlessCancelled) {
    Record r;
    std::atomic<bool> release{false};
    PortReopener reopener(hooks(r, {}, [&](const config::Config& c) -> PortReopener::Port {
        if (c.getPort().endsWith(u"bad"))
            throw Direduva::InvalidSettingError("bit rate not supported");
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        throw std::runtime_error("no answer from " + c.getPort().toStdString());
    }));

    std::vector<PortReopener::Opened> results;
    auto keep = [&](PortReopener::Opened o) { results.push_back(std::move(o)); };
    reopener.openInBackground(withPort(QStringLiteral("tcp://scale.lab:bad")), keep);
    ASSERT_TRUE(waitFor([&] { return results.size() == 1; }, 5000));
    EXPECT_TRUE(results[0].invalidSetting);
    EXPECT_FALSE(results[0].port);
    EXPECT_EQ(results[0].error, QStringLiteral("bit rate not supported"));

    reopener.openInBackground(withPort(QStringLiteral("tcp://scale.lab:4001")), keep);
    reopener.cancel();
    release = true;
    reopener.endOpen();
    waitFor([] { return false; }, 50);
    EXPECT_EQ(results.size(), 1u) << "a cancelled attempt says nothing";

    reopener.openInBackground(withPort(QStringLiteral("tcp://scale.lab:4001")), keep);
    ASSERT_TRUE(waitFor([&] { return results.size() == 2; }, 5000));
    EXPECT_FALSE(results[1].invalidSetting);
    EXPECT_EQ(results[1].error, QStringLiteral("no answer from tcp://scale.lab:4001"));
}

// Destroyed while an open still runs: it waits for the attempt, and its result goes nowhere.
TEST(PortReopener, DestroyedDuringAnOpen) {
    Record r;
    std::atomic<bool> started{false};
    bool called = false;
    {
        PortReopener reopener(hooks(r, {}, [&](const config::Config&) -> PortReopener::Port {
            started = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            throw std::runtime_error("refused");
        }));
        reopener.openInBackground(withPort(QStringLiteral("tcp://127.0.0.1:9")),
                                  [&](PortReopener::Opened) { called = true; });
        ASSERT_TRUE(waitFor([&] { return started.load(); }, 5000));
    }
    waitFor([] { return false; }, 100);
    EXPECT_FALSE(called);
}

// Names of serial devices: a name without a /dev/serial/by-id link is its own stable name.
TEST(PortReopener, StableNamesOfPortsWithoutALink) {
    for (const QString& name : {QStringLiteral("COM3"), QStringLiteral("tcp://scale.lab:4001"),
                                QStringLiteral("/dev/nonexistent0")}) {
        EXPECT_EQ(PortReopener::stableName(name), name);
        EXPECT_EQ(PortReopener::currentName(name), name);
    }
    EXPECT_EQ(PortReopener::currentName(QStringLiteral("/dev/serial/by-id/usb-gone")),
              QStringLiteral("/dev/serial/by-id/usb-gone"));
}
