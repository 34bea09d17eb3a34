// Port operations over a scripted driver, on the platform the application fixes ("Windows").
#include "FakeState.h"
#include "PortErrorText.h"
#include "TestEnv.h"

#include <Direduva/ProcessProperties.h>

#include <gtest/gtest.h>

#include <functional>

using Direduva::PortHangupError;
using Direduva::SerialConfig;
using Direduva::SerialPortLocal;

namespace {

class PortTest : public ::testing::Test {
protected:
    void SetUp() override { fake() = FakeDriverState{}; }
};

} // namespace

TEST_F(PortTest, LibraryStartsOnTheApplicationsPlatform) {
    EXPECT_TRUE(SerialPortLocal::isLibraryLoaded());
    EXPECT_EQ(SerialPortLocal::libraryLoadError(), "");
    EXPECT_EQ(SerialPortLocal::osName(), "Windows");
    EXPECT_EQ(SerialPortLocal::osArch(), "x86");
    EXPECT_TRUE(SerialPortLocal::osFamilyWindows());
    EXPECT_EQ(SerialPortLocal::getMaxBitRate(), 921600);
    EXPECT_EQ(SerialPortLocal::getBuildNum(), 9233);
    EXPECT_TRUE(SerialPortLocal::supports("sigCTS"));
    EXPECT_TRUE(SerialPortLocal::supports("supDriverInfo"));
    EXPECT_FALSE(SerialPortLocal::supports("setPowerMode"));
    EXPECT_FALSE(SerialPortLocal::supports("SigCTS"));
    EXPECT_FALSE(SerialPortLocal::supports("whatever"));
}

TEST_F(PortTest, OpenFailuresNameThePortAndTheReason) {
    const std::pair<int, std::string> cases[] = {{1000, "Port is already open"},
                                                 {1002, "Port is in use"},
                                                 {1003, "Port not valid"},
                                                 {1004, "2: No such device"},
                                                 {1007, "Device busy"},
                                                 {1008, "19: No such device"},
                                                 {5, ": 5"},
                                                 {-3, ": -3"}};
    for (const auto& [code, text] : cases) {
        fake().openCode = code;
        EXPECT_EQ(portError([] { SerialPortLocal p(SerialConfig(std::string("COM3"))); }),
                  "COM3: SerOpenPort failed: " + text);
    }
    fake().openCode = 1006;
    const std::string denied = portError([] { SerialPortLocal p(SerialConfig(std::string("COM3"))); });
    EXPECT_EQ(denied.rfind("COM3: SerOpenPort failed: Permission denied", 0), 0u) << denied;
#ifndef _WIN32
    EXPECT_NE(denied.find("usermod -aG dialout"), std::string::npos) << denied;
#endif
}

TEST_F(PortTest, OpenConfiguresAndSetsTimeouts) {
    SerialPortLocal p(SerialConfig(std::string("COM3")));
    EXPECT_TRUE(p.isOpen());
    EXPECT_EQ(p.getPortNum(), 4);
    EXPECT_EQ(p.getConfig().getPort(), 5);
    EXPECT_FALSE(p.getConfig().getHardFlow()); // cleared everywhere but on Windows 95
    EXPECT_EQ(fake().lastBitRate, SerialConfig::BR_9600);
    EXPECT_EQ(p.getTimeoutRx(), 0);
    EXPECT_EQ(p.getTimeoutTx(), 426300); // 4096 bytes at 9600
    EXPECT_EQ(p.getName(), "Serial Port");
}

TEST_F(PortTest, TransmitTimeoutDoesNotOverflow) {
    SerialConfig c(std::string("COM3"));
    c.setBitRate(SerialConfig::BR_110);
    c.setTxLen(1 << 30);
    SerialPortLocal p(c);
    EXPECT_EQ(p.getTimeoutTx(), INT32_MAX);
}

TEST_F(PortTest, ConfigureFailureClosesThePortAgain) {
    fake().configureCode = 22;
    EXPECT_EQ(portError([] { SerialPortLocal p(SerialConfig(std::string("COM3"))); }),
              "Configure failed: 22");
    EXPECT_EQ(fake().opens, 1);
    EXPECT_EQ(fake().closes, 1);
}

TEST_F(PortTest, CloseTwiceClosesOnce) {
    SerialPortLocal p(SerialConfig(std::string("COM3")));
    p.close();
    EXPECT_NO_THROW(p.close());
    EXPECT_FALSE(p.isOpen());
    EXPECT_EQ(p.getPortNum(), -1);
    EXPECT_EQ(fake().closes, 1);
    EXPECT_EQ(portError([&] { p.configure(); }), "configure: Port is not open");
    EXPECT_EQ(portError([&] { p.getByte(); }), "getByte: Port not open");
}

TEST_F(PortTest, WritesCheckBoundsBeforeTheDriver) {
    SerialPortLocal p(SerialConfig(std::string("COM3")));
    const std::vector<std::uint8_t> four{1, 2, 3, 4};
    EXPECT_EQ(portError([&] { p.putData(four, 5); }), "putData: count out of bounds");
    EXPECT_EQ(portError([&] { p.putData(four, -1); }), "putData: count out of bounds");
    EXPECT_EQ(portError([&] { p.putData(four, 2, 3); }), "putData3: count out of bounds");
    EXPECT_EQ(portError([&] { p.putData(four, -1, 1); }), "putData3: count out of bounds");
    EXPECT_EQ(fake().putDataCalls, 0);
    EXPECT_FALSE(p.sendSinceTxBufEmpty());

    p.putData(std::span<const std::uint8_t>{});
    p.putString("");
    EXPECT_EQ(fake().putDataCalls, 0);

    p.putData(four, 2, 2);
    EXPECT_TRUE(p.sendSinceTxBufEmpty());
    fake().putShort = 1;
    EXPECT_EQ(portError([&] { p.putData(four); }), "PutData1: Sent only 3 of 4 bytes");
    EXPECT_EQ(portError([&] { p.putData(four, 2); }), "PutData2: Sent only 1 of 2 bytes");
    EXPECT_EQ(portError([&] { p.putData(four, 1, 3); }), "putData3: Sent only 2 of 3 bytes");
    EXPECT_EQ(portError([&] { p.putString("abc"); }), "PutString: sent only 2 of 3 bytes");
    p.clearSendSinceTxBufEmpty();
    EXPECT_FALSE(p.sendSinceTxBufEmpty());
}

TEST_F(PortTest, LineQueries) {
    SerialPortLocal p(SerialConfig(std::string("COM3")));
    fake().lineValue = 1;
    EXPECT_TRUE(p.sigCTS());
    EXPECT_TRUE(p.sigParityErr());
    fake().lineValue = 0;
    EXPECT_FALSE(p.sigDSR());
    fake().lineValue = -1;
    EXPECT_EQ(portError([&] { p.sigCTS(); }), "sigCTS failed");
    EXPECT_EQ(portError([&] { p.sigFrameErr(); }), "sigFrameErr failed");
    EXPECT_EQ(portError([&] { p.setDTR(true); }), "setDTR failed");
    EXPECT_EQ(portError([&] { p.txBufCount(); }), "txBufCount failed");
    EXPECT_EQ(portError([&] { p.rxFlush(); }), "rxFlush failed");
    EXPECT_EQ(portError([&] { p.txDrain(); }), "txDrain failed");
    EXPECT_FALSE(p.sigParityErr()); // -1 reads as false for these three
    EXPECT_FALSE(p.sigBreak());
    EXPECT_FALSE(p.sigRing());

    p.close();
    EXPECT_EQ(portError([&] { p.sigCTS(); }), "sigCTS: Port not open");
    EXPECT_EQ(portError([&] { p.setRTS(true); }), "setRTS: Port not open");
    EXPECT_EQ(portError([&] { p.txBufCount(); }), "txBufCount: Port not open");
}

TEST_F(PortTest, RxReadyCountFailureGoesToTheHandler) {
    struct Handler : Direduva::ErrorStatusHandler {
        int status = 0;
        void errorStatus(int s) override { status = s; }
    } handler;
    SerialPortLocal p(SerialConfig(std::string("COM3")));
    fake().rxReady = 7;
    EXPECT_EQ(p.rxReadyCount(), 7);
    fake().rxReady = -1;
    EXPECT_EQ(portError([&] { p.rxReadyCount(); }), "rxReadyCount failed");
    p.setErrorStatusHandler(&handler);
    EXPECT_EQ(p.rxReadyCount(), -1);
    EXPECT_EQ(handler.status, Direduva::SerialPort::RXREADYCOUNT);
}

TEST_F(PortTest, ReadsTellNoDataFromHangUp) {
    SerialPortLocal p(SerialConfig(std::string("COM3")));
    fake().rxData = {0x41, 0x00, 0xFF};
    EXPECT_EQ(p.getByte(), 0x41);
    EXPECT_TRUE(p.readSinceRxBufCheck());
    std::uint8_t buf[4] = {9, 9, 9, 9};
    EXPECT_EQ(p.getData(buf, 1, 10), 2); // bounded by the room after the offset
    EXPECT_EQ(buf[0], 9);
    EXPECT_EQ(buf[1], 0x00);
    EXPECT_EQ(buf[2], 0xFF);
    EXPECT_EQ(p.getByte(), -1); // nothing waiting
    EXPECT_EQ(p.getData(buf), 0);
    EXPECT_EQ(portError([&] { p.getData(buf, 5, 1); }), "getData: offset out of bounds");
    EXPECT_FALSE(p.isHungUp());

    fake().hangup = true;
    EXPECT_THROW(p.getByte(), PortHangupError);
    EXPECT_TRUE(p.isHungUp());
    EXPECT_THROW(p.getData(buf), PortHangupError);
    EXPECT_NO_THROW(p.close());
    EXPECT_FALSE(p.isHungUp());
}

TEST_F(PortTest, ResetAndOffPathOperations) {
    SerialPortLocal p(SerialConfig(std::string("COM3")));
    EXPECT_EQ(portError([&] { p.resetPortDriver(p.getConfig()); }), "resetPortDriver: Port must be closed");
    EXPECT_EQ(portError([&] { p.getPowerMode(); }), "getPowerMode not supported on Windows");
    p.reset();
    EXPECT_TRUE(p.isOpen());
    EXPECT_EQ(fake().opens, 2);
    EXPECT_EQ(p.getTimeoutTx(), 426300);
    p.close();
    EXPECT_EQ(portError([&] { p.reset(); }), "reset: Port is not open");
    EXPECT_EQ(portError([&] { p.resetPortDriver(p.getConfig()); }), "Reset port driver failed: -1");
}

TEST_F(PortTest, ConstructorWithoutArgumentsDoesNotOpen) {
    SerialPortLocal p;
    EXPECT_FALSE(p.isOpen());
    EXPECT_EQ(p.getConfig().getPortNameString(), "COM1");
    EXPECT_EQ(fake().opens, 0);
}

// The lists are process-wide, so their behaviour is checked in one sequence.
TEST_F(PortTest, PortListOverrideOrderingAndDetails) {
    EXPECT_EQ(portError([] { SerialPortLocal::getDriverInfoList(); }),
              "Must call SerialPortLocal.getPortList method first");

    // A property of 4 characters or fewer is ignored: the driver is asked.
    Direduva::ProcessProperties::set("SERIAL_PORT_LIST", " COM1 ");
    fake().ports = {"COM10", "COM3", "COM1", "com4", "LPT1", "COM3A"};
    fake().infos = {{"COM3", "Acme", "USB Serial Port"}, {"com3", "Other", "Duplicate"}};
    EXPECT_EQ(SerialPortLocal::getPortList(),
              (std::vector<std::string>{"COM1", "COM3", "COM4", "COM10", "com4", "LPT1", "COM3A"}));
    EXPECT_EQ(fake().portListCalls, 1);
    const auto info = SerialPortLocal::getDriverInfoList();
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].getPortName(), "COM3");
    EXPECT_EQ(info[0].getDriverMfgr(), "Acme");
    EXPECT_EQ(info[0].getDriverDesc(), "USB Serial Port");

    // Every discovery starts from scratch.
    fake().ports = {"COM2"};
    EXPECT_EQ(SerialPortLocal::getPortList(), (std::vector<std::string>{"COM2"}));

    // The property replaces discovery; names only accumulate.
    Direduva::ProcessProperties::set("SERIAL_PORT_LIST", "COM1;COM2:COM3;;:");
    EXPECT_EQ(SerialPortLocal::getPortList(), (std::vector<std::string>{"COM2", "COM1", "COM3"}));
    EXPECT_EQ(fake().portListCalls, 2);
    SerialPortLocal::addPortName("com3");
    SerialPortLocal::addPortName("COM9");
    EXPECT_EQ(SerialPortLocal::getPortList(), (std::vector<std::string>{"COM2", "COM1", "COM3", "COM9"}));
    Direduva::ProcessProperties::clear("SERIAL_PORT_LIST");
    unsetEnv("SERIAL_PORT_LIST");

    SerialPortLocal::setPortListMode(3);
    EXPECT_EQ(SerialPortLocal::getPortListMode(), 3);
}

TEST_F(PortTest, DeviceNotificationsReachTheCallback) {
    int calls = 0;
    SerialPortLocal::registerDeviceNotification([&] { ++calls; });
    ASSERT_NE(fake().notify, nullptr);
    fake().notify(fake().notifyCtx, VAZ_DEVICE_ARRIVAL, "COM4");
    EXPECT_EQ(calls, 1);
    // Registering again replaces the first callback.
    int second = 0;
    SerialPortLocal::registerDeviceNotification([&] { ++second; });
    EXPECT_EQ(fake().unregisterCalls, 1);
    fake().notify(fake().notifyCtx, VAZ_DEVICE_REMOVAL, "COM4");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(second, 1);
    SerialPortLocal::unregisterDeviceNotification();
    EXPECT_EQ(fake().unregisterCalls, 2);
    SerialPortLocal::deviceNotification(); // nothing registered: harmless
    EXPECT_EQ(second, 1);
}
