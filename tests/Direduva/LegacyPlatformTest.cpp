// A platform whose driver offers less (an old Unix): capability checks, index-only bit rates,
// reads timed by the library, no port discovery.
#include "FakeState.h"
#include "PortErrorText.h"

#include <Direduva/ProcessProperties.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using Direduva::SerialConfig;
using Direduva::SerialPortLocal;

TEST(LegacyPlatform, Capabilities) {
    fake() = FakeDriverState{};
    EXPECT_EQ(SerialPortLocal::osName(), "UnixWare");
    EXPECT_FALSE(SerialPortLocal::osFamilyWindows());
    EXPECT_EQ(SerialPortLocal::getMaxBitRate(), 115200);
    SerialPortLocal port(SerialConfig(std::string("/dev/tty1a")));
    EXPECT_EQ(portError([&] { port.setRTS(true); }), "setRts not supported on UnixWare");
    EXPECT_EQ(portError([&] { port.sigFrameErr(); }), "sigFrameErr not supported on UnixWare");
    EXPECT_EQ(portError([&] { port.rxOverflow(); }), "rxOverflow not supported on UnixWare");
    EXPECT_NO_THROW(port.sigRing());
    EXPECT_EQ(port.getTimeoutTx(), 0); // no transmit timeouts here
    EXPECT_EQ(portError([] { SerialPortLocal::getDriverInfoList(); }), "Not supported on this platform");
}

TEST(LegacyPlatform, BitRatesMustBeIndices) {
    fake() = FakeDriverState{};
    SerialConfig c(std::string("/dev/tty1a"));
    c.setBitRate(9600);
    SerialPortLocal port(c);
    EXPECT_EQ(fake().lastBitRate, SerialConfig::BR_9600); // the literal became its index
    SerialConfig odd = c.copy();
    odd.setBitRate(14400);
    EXPECT_EQ(portError([&] { port.configure(odd); }), "Unsupported Serial Port Bit Rate");
    SerialConfig between = c.copy();
    between.setBitRate(20);
    EXPECT_EQ(portError([&] { port.configure(between); }), "Unsupported Serial Port Bit Rate");
}

TEST(LegacyPlatform, ReadsAreTimedByTheLibrary) {
    fake() = FakeDriverState{};
    SerialPortLocal port(SerialConfig(std::string("/dev/tty1a")));
    port.setTimeoutRx(60);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    fake().rxReady = 1;
    fake().rxData = {0x33};
    EXPECT_EQ(port.getByte(), 0x33);
}

TEST(LegacyPlatform, NoDiscoveryUsesNamesAddedByHand) {
    fake() = FakeDriverState{};
    fake().ports = {"/dev/never"};
    EXPECT_TRUE(SerialPortLocal::getPortList().empty());
    SerialPortLocal::addPortName("/dev/tty1a");
    EXPECT_EQ(SerialPortLocal::getPortList(), std::vector<std::string>{"/dev/tty1a"});
    EXPECT_EQ(fake().portListCalls, 0);
}
