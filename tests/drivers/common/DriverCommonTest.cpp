#include <DriverCommon.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace vazcommon;
using namespace std::chrono_literals;

namespace {

std::string lastText() {
    char buf[256];
    const int32_t n = lastErrorText(buf, sizeof buf);
    return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
}

} // namespace

TEST(DriverCommon, BitRateCodesAreIndexesOrLiteralRates) {
    EXPECT_EQ(bitRateOf(0), 110);
    EXPECT_EQ(bitRateOf(7), 9600);
    EXPECT_EQ(bitRateOf(14), 921600);
    // Between the table and the literal rates, and below zero, nothing is meant.
    EXPECT_EQ(bitRateOf(15), 0);
    EXPECT_EQ(bitRateOf(30), 0);
    EXPECT_EQ(bitRateOf(-1), 0);
    EXPECT_EQ(bitRateOf(31), 31);
    EXPECT_EQ(bitRateOf(250000), 250000);
}

TEST(DriverCommon, HandlesAreFreshAndClosedOnesAreGone) {
    HandleTable<std::string> table;
    const VazHandle a = table.add("a");
    const VazHandle b = table.add("b");
    EXPECT_NE(a, b);
    ASSERT_NE(table.find(b), nullptr);
    EXPECT_EQ(*table.find(b), "b");
    EXPECT_EQ(table.take(a), std::optional<std::string>("a"));
    EXPECT_EQ(table.find(a), nullptr);
    EXPECT_FALSE(table.take(a));
    // A closed handle is not handed out again at once: a late call with it must not reach a new port.
    EXPECT_NE(table.add("c"), a);
    EXPECT_EQ(table.size(), 2u);
}

TEST(DriverCommon, LastErrorIsPerThreadAndCutToTheBuffer) {
    PortTable<int> ports;
    EXPECT_EQ(ports.find(7), nullptr);
    EXPECT_EQ(lastText(), "the port is not open (handle 7)");
    char small[8];
    EXPECT_EQ(lastErrorText(small, sizeof small), 7);
    EXPECT_STREQ(small, "the por");
    EXPECT_EQ(lastErrorText(nullptr, 0), VAZ_FAIL);

    std::string other = "unset";
    std::thread([&] { other = lastText(); }).join();
    EXPECT_EQ(other, "");
    EXPECT_EQ(failWith(42, "x"), 42);
    EXPECT_EQ(lastText(), "x");
    // A text longer than the kept kilobyte is cut, not overrun.
    failWith(1, std::string(5000, 'e'));
    std::vector<char> big(6000);
    EXPECT_EQ(lastErrorText(big.data(), int32_t(big.size())), 1024);
    EXPECT_EQ(std::string(big.data()), std::string(1024, 'e'));
}

namespace {

struct Collected {
    std::vector<std::string> names, infos;
};

void VAZ_CALL onName(void* ctx, const char* name) {
    static_cast<Collected*>(ctx)->names.emplace_back(name);
}
void VAZ_CALL onInfo(void* ctx, const char* name, const char* mfr, const char* desc) {
    static_cast<Collected*>(ctx)->infos.push_back(std::string(name) + "|" + mfr + "|" + desc);
}

} // namespace

TEST(DriverCommon, PortListGivesDetailsOnlyWhereKnown) {
    const std::vector<PortEntry> ports{{"COM1", "", ""}, {"COM2", "Maker", ""}, {"COM3", "", "Adapter"}};
    Collected c;
    EXPECT_EQ(reportPorts(ports, onName, onInfo, &c), 3);
    EXPECT_EQ(c.names, (std::vector<std::string>{"COM1", "COM2", "COM3"}));
    EXPECT_EQ(c.infos, (std::vector<std::string>{"COM2|Maker|", "COM3||Adapter"}));
    EXPECT_EQ(reportPorts(ports, nullptr, nullptr, nullptr), 3);
}

namespace {

struct Watched {
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> callAfterStop{false};
    DeviceWatcher* watcher = nullptr;
    bool stopFromCallback = false;
};

void VAZ_CALL onDevice(void* ctx, int32_t event, const char* name) {
    auto* w = static_cast<Watched*>(ctx);
    if (w->stopped)
        w->callAfterStop = true;
    EXPECT_EQ(event, VAZ_DEVICE_REMOVAL);
    EXPECT_STREQ(name, "COM9");
    ++w->calls;
    if (w->stopFromCallback) {
        EXPECT_EQ(w->watcher->stop(onDevice, ctx), VAZ_OK);
    }
}

DeviceWatcher::Poll everyPoll() {
    return [] { return std::vector<DeviceWatcher::Notice>{{VAZ_DEVICE_REMOVAL, "COM9"}}; };
}

bool waitFor(const std::atomic<int>& n, int atLeast) {
    for (int i = 0; i < 500 && n < atLeast; ++i)
        std::this_thread::sleep_for(10ms);
    return n >= atLeast;
}

} // namespace

TEST(DriverCommon, WatcherStopsForGoodAndOnlyForItsCallback) {
    DeviceWatcher watcher;
    Watched w;
    EXPECT_EQ(watcher.start(nullptr, &w, 5ms, everyPoll()), VAZ_FAIL);
    ASSERT_EQ(watcher.start(onDevice, &w, 5ms, everyPoll()), VAZ_OK);
    ASSERT_TRUE(waitFor(w.calls, 3));
    EXPECT_EQ(watcher.stop(onDevice, nullptr), VAZ_FAIL); // another registration's context
    EXPECT_EQ(lastText(), "this callback is not registered");
    EXPECT_EQ(watcher.stop(onDevice, &w), VAZ_OK);
    w.stopped = true;
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(w.callAfterStop);
    EXPECT_EQ(watcher.stop(onDevice, &w), VAZ_FAIL); // nothing registered any more
}

TEST(DriverCommon, WatcherStoppedFromItsCallbackEndsAndCanStartAgain) {
    DeviceWatcher watcher;
    Watched w;
    w.watcher = &watcher;
    w.stopFromCallback = true;
    ASSERT_EQ(watcher.start(onDevice, &w, 5ms, everyPoll()), VAZ_OK);
    ASSERT_TRUE(waitFor(w.calls, 1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(w.calls, 1); // the poll's further notices are not handed to a stopped callback

    Watched again;
    ASSERT_EQ(watcher.start(onDevice, &again, 5ms, everyPoll()), VAZ_OK);
    EXPECT_TRUE(waitFor(again.calls, 2));
}
