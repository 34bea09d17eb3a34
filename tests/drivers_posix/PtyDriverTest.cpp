// The termios driver over a pseudo-terminal pair: the library opens the slave side, the test
// plays the instrument on the master side.
#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

using Direduva::PortError;
using Direduva::PortHangupError;
using Direduva::SerialConfig;
using Direduva::SerialPortLocal;
using namespace std::chrono_literals;

namespace {

struct DriverFromBuildTree : ::testing::Environment {
    void SetUp() override {
        Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/posix");
        Direduva::ProcessProperties::clear("VAZ_OSNAME");
        ::unsetenv("VAZ_OSNAME");
        ::unsetenv("SERIAL_PORT_LIST");
    }
};
const auto* env = ::testing::AddGlobalTestEnvironment(new DriverFromBuildTree);

std::string portError(const std::function<void()>& f) {
    try {
        f();
    } catch (const PortError& e) {
        return e.what();
    }
    return "";
}

struct Pty {
    int master = -1;
    int slave = -1;
    std::string name;
    Pty() {
        char n[256] = {};
        if (openpty(&master, &slave, n, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        name = n;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    // After the library has opened the port, only its descriptor keeps the slave side open.
    void dropSlave() {
        if (slave >= 0)
            ::close(slave);
        slave = -1;
    }
    void closeMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    ~Pty() {
        dropSlave();
        closeMaster();
    }
    std::vector<std::uint8_t> readMaster(size_t want, std::chrono::milliseconds limit) {
        std::vector<std::uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            poll(&p, 1, 50);
            std::uint8_t buf[512];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
};

std::vector<int> readPort(SerialPortLocal& port, size_t want, std::chrono::milliseconds limit) {
    std::vector<int> got;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
        const int b = port.getByte();
        if (b < 0)
            std::this_thread::sleep_for(1ms);
        else
            got.push_back(b);
    }
    return got;
}

} // namespace

TEST(PtyDriver, LoadsTheTermiosDriver) {
    ASSERT_TRUE(SerialPortLocal::isLibraryLoaded()) << SerialPortLocal::libraryLoadError();
    EXPECT_NE(SerialPortLocal::libraryPath().find("drivers/posix"), std::string::npos);
    EXPECT_EQ(SerialPortLocal::osName(), "Linux");
}

TEST(PtyDriver, EveryByteValueBothWays) {
    Pty pty;
    SerialPortLocal port(SerialConfig(pty.name));
    pty.dropSlave();
    ASSERT_TRUE(port.isOpen());
    EXPECT_EQ(port.getByte(), -1); // nothing sent yet: no data, not a hang-up

    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[size_t(i)] = std::uint8_t(i);

    // Instrument to port, byte by byte as the reading worker does it.
    ASSERT_EQ(write(pty.master, all.data(), all.size()), 256);
    const auto received = readPort(port, 256, 3s);
    ASSERT_EQ(received.size(), 256u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(received[size_t(i)], i);
    EXPECT_EQ(port.getByte(), -1);

    // Port to instrument.
    port.putData(all);
    port.putByte(0x0D);
    port.putString("OK");
    const auto sent = pty.readMaster(259, 3s);
    ASSERT_EQ(sent.size(), 259u);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), sent.begin()));
    EXPECT_EQ(sent[256], 0x0D);
    EXPECT_EQ(sent[257], 'O');

    // Block reads and the waiting count.
    const char line[] = "ST,GS,+  12.345 kg\r";
    ASSERT_EQ(write(pty.master, line, sizeof line - 1), ssize_t(sizeof line - 1));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(port.rxReadyCount(), int(sizeof line - 1));
    std::vector<std::uint8_t> buf(64);
    EXPECT_EQ(port.getData(buf), int(sizeof line - 1));
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + sizeof line - 1), line);
}

TEST(PtyDriver, SettingsAreApplied) {
    Pty pty;
    SerialConfig cfg(pty.name);
    cfg.setBitRate(SerialConfig::BR_19200);
    cfg.setParity(SerialConfig::PY_EVEN);
    cfg.setDataBits(SerialConfig::LN_7BITS);
    cfg.setStopBits(SerialConfig::ST_2BITS);
    cfg.setHandshake(SerialConfig::HS_XONXOFF);
    SerialPortLocal port(cfg);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));

    // A literal standard rate, then every rate of the table.
    SerialConfig literal = cfg.copy();
    literal.setHandshake(SerialConfig::HS_NONE);
    literal.setBitRate(115200);
    port.configure(literal);
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_FALSE(t.c_iflag & IXON);
    for (int i = 0; i < 15; ++i) {
        literal.setBitRate(i);
        EXPECT_NO_THROW(port.configure(literal)) << i;
    }
    // A rate without a constant goes through termios2 where the system has it.
    literal.setBitRate(31250);
    const std::string custom = portError([&] { port.configure(literal); });
    EXPECT_TRUE(custom.empty() || custom.rfind("Configure failed: ", 0) == 0) << custom;
    if (custom.empty()) {
        termios t2{};
        ASSERT_EQ(tcgetattr(pty.slave, &t2), 0);
        EXPECT_NE(cfgetospeed(&t2), speed_t(B9600)); // not silently left at the old rate
    }
    // Mark and space parity are accepted.
    literal.setBitRate(SerialConfig::BR_9600);
    literal.setParity(SerialConfig::PY_MARK);
    EXPECT_NO_THROW(port.configure(literal));
}

TEST(PtyDriver, HangUpIsReportedNotEndlessNoData) {
    Pty pty;
    SerialPortLocal port(SerialConfig(pty.name));
    pty.dropSlave();
    const char data[] = "AB";
    ASSERT_EQ(write(pty.master, data, 2), 2);
    const auto got = readPort(port, 2, 2s);
    ASSERT_EQ(got.size(), 2u);

    pty.closeMaster();
    int noData = 0;
    int hangups = 0;
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (hangups == 0 && std::chrono::steady_clock::now() < end) {
        try {
            if (port.getByte() == -1)
                ++noData;
        } catch (const PortHangupError& e) {
            ++hangups;
            EXPECT_NE(std::string(e.what()).find("hung up"), std::string::npos);
        }
    }
    EXPECT_EQ(hangups, 1);
    EXPECT_LE(noData, 1);
    EXPECT_TRUE(port.isHungUp());
    // The state holds until the port is closed; closing is quiet.
    EXPECT_THROW(port.getByte(), PortHangupError);
    EXPECT_NO_THROW(port.close());
}

TEST(PtyDriver, OpenFailures) {
    Pty pty;
    SerialPortLocal first(SerialConfig(pty.name));
    EXPECT_EQ(portError([&] { SerialPortLocal second(SerialConfig(pty.name)); }),
              pty.name + ": SerOpenPort failed: Port is already open (" + pty.name +
                  ": already open in this program)");
    EXPECT_EQ(portError([] { SerialPortLocal p(SerialConfig(std::string("/dev/ttyVornalMissing"))); }),
              "/dev/ttyVornalMissing: SerOpenPort failed: 2: No such device (/dev/ttyVornalMissing: No such "
              "file or "
              "directory)");
    EXPECT_EQ(portError([] { SerialPortLocal p(SerialConfig(std::string("/dev/null"))); }),
              "/dev/null: SerOpenPort failed: Port not valid (/dev/null: not a serial port)");
    first.close();
    // Another program holding the advisory lock on the device.
    {
        const int other = ::open(pty.name.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(other, 0);
        ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(portError([&] { SerialPortLocal p(SerialConfig(pty.name)); }),
                  pty.name + ": SerOpenPort failed: Port is in use (" + pty.name +
                      ": Resource temporarily unavailable)");
        ::close(other);
    }
    // Closed: the port can be opened again.
    EXPECT_NO_THROW(SerialPortLocal again(SerialConfig(pty.name)));
}

TEST(PtyDriver, LinesAndBuffersOnAPty) {
    Pty pty;
    SerialPortLocal port(SerialConfig(pty.name));
    // A pty has no modem lines: the failure is reported, not faked.
    EXPECT_EQ(portError([&] { port.setDTR(true); }), "setDTR failed");
    EXPECT_EQ(portError([&] { port.sigCTS(); }), "sigCTS failed");
    // Nor line-error counters: no errors are reported.
    EXPECT_FALSE(port.sigParityErr());
    EXPECT_FALSE(port.sigFrameErr());
    EXPECT_FALSE(port.sigOverrun());
    EXPECT_EQ(port.txBufCount(), 0);
    EXPECT_NO_THROW(port.rxFlush());
    EXPECT_NO_THROW(port.txFlush());
    EXPECT_NO_THROW(port.txDrain());
    EXPECT_EQ(port.getTimeoutTx(), 426300);
    EXPECT_EQ(port.getName(port.getPortNum()), pty.name);
}

TEST(PtyDriver, PortListFromSysfs) {
    const auto ports = SerialPortLocal::getPortList();
    for (const auto& p : ports) {
        EXPECT_EQ(p.rfind("/dev/", 0), 0u) << p;
        EXPECT_EQ(p.find("/dev/pts"), std::string::npos) << p;
    }
    if (std::filesystem::exists("/sys/class/tty/ttyS0/device") && std::filesystem::exists("/dev/ttyS0")) {
        std::ifstream type("/sys/class/tty/ttyS0/type");
        std::string t;
        type >> t;
        if (t != "0") {
            EXPECT_NE(std::find(ports.begin(), ports.end(), "/dev/ttyS0"), ports.end());
        }
    }
    EXPECT_NO_THROW(SerialPortLocal::getDriverInfoList());
}

TEST(PtyDriver, DeviceNotificationsFromDev) {
    const std::string node = "/dev/ttyVornalWatchTest";
    std::atomic<int> calls{0};
    SerialPortLocal::registerDeviceNotification([&] { ++calls; });
    {
        std::ofstream f(node);
        if (!f)
            GTEST_SKIP() << "cannot create files in /dev";
    }
    std::filesystem::remove(node);
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (calls < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    SerialPortLocal::unregisterDeviceNotification();
    EXPECT_EQ(calls.load(), 2); // arrival and removal
}

TEST(PtyDriver, WaitingReadEndsOnDataOnAWakeUpOnTheTimeOutAndOnAHangUp) {
    Pty pty;
    SerialPortLocal port(SerialConfig(pty.name));
    pty.dropSlave();
    // Nothing comes: the time-out.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.waitRx(50));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 45ms);
    // A byte arrives while waiting: the wait ends and the byte is there, in order with the rest.
    std::thread writer([&] {
        std::this_thread::sleep_for(30ms);
        [[maybe_unused]] auto n = ::write(pty.master, "ab", 2);
    });
    t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.waitRx(5000));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2000ms);
    writer.join();
    EXPECT_EQ(readPort(port, 2, 1000ms), (std::vector<int>{'a', 'b'}));
    // Bytes read ahead by the driver count as waiting.
    [[maybe_unused]] auto n = ::write(pty.master, "cd", 2);
    ASSERT_TRUE(port.waitRx(1000));
    EXPECT_EQ(port.getByte(), 'c');
    EXPECT_TRUE(port.waitRx(0)) << "'d' is in the read-ahead";
    EXPECT_EQ(port.getByte(), 'd');
    // Another thread ends an endless wait at once; a wake-up before the wait ends the next one.
    std::thread waker([&] {
        std::this_thread::sleep_for(30ms);
        port.wakeWait();
    });
    t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.waitRx(-1));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2000ms);
    waker.join();
    port.wakeWait();
    EXPECT_FALSE(port.waitRx(-1));
    // The far side goes: the wait ends and the read reports the hang-up.
    pty.closeMaster();
    bool hungUp = false;
    try {
        if (port.waitRx(5000))
            port.getByte();
        port.waitRx(5000);
    } catch (const PortHangupError&) {
        hungUp = true;
    }
    EXPECT_TRUE(hungUp);
}
