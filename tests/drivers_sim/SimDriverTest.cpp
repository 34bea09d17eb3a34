// The simulation driver seen through the serial library, as the application uses it: timed lines,
// modem lines, line errors, a port in use, an unplug, replies to the program's writes, the port list.
// The library's state is process-wide, so one script with several ports serves every test here.

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialConfig.h>
#include <Direduva/SerialPortLocal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace Direduva;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

fs::path tempDir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() /
                     ("vornal-sim-test-" + std::to_string(Clock::now().time_since_epoch().count()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

fs::path recordFile() {
    return tempDir() / "written.bin";
}

void setEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

// Written before the library's first use; the driver reads it once.
class SimEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::ofstream(tempDir() / "test.vsim") << R"(# Instruments of the driver tests
port TIMED
description "Timed lines"
manufacturer "Test bench"
value n 1 step=1
send "first\r\n"
wait 60ms
send "second\r\n"
every 15ms send "line {n}\r\n"

port FOLLOW
modem dsr=dtr cts=rts

port HIGH
modem high

port NOTHING
modem none

port ERRORS
send "ok\r\n"
send "bad\r\n" parity-error=1
send "frame\r\n" framing-error=2
send "both\r\n" parity-error=3 framing-error=3

port BUSY
in-use

port BALANCE
settings 2400 7E1
every 10ms send "w\n"

port SLOW
wait 150ms
send "late"

port PROBE
record ")" + recordFile().generic_string() +
                                                      R"("
on "P\r\n" after 20ms send "  12.5 g\r\n"

port UNPLUG
every 10ms send "x"
unplug after 250ms
)";
        setEnv("VAZ_SIM_SCRIPT", (tempDir() / "test.vsim").string());
        ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/sim");
        // The application's platform: the Windows capabilities, line errors included.
        ProcessProperties::set("VAZ_OSNAME", "Windows");
        ProcessProperties::set("VAZ_OSARCH", "x86");
        SerialPortLocal::setDiagnosticOutput(nullptr);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(tempDir(), ec);
    }
};

const auto* const env = ::testing::AddGlobalTestEnvironment(new SimEnvironment);

SerialConfig configFor(const std::string& name) {
    SerialConfig c(name);
    c.setBitRate(SerialConfig::BR_9600);
    return c;
}

// Reads lines until `count` have arrived or `timeout` passes; a line keeps its "\r\n".
std::vector<std::string> readLines(SerialPortLocal& port, std::size_t count,
                                   std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    std::vector<std::string> lines;
    std::string cur;
    const auto deadline = Clock::now() + timeout;
    while (lines.size() < count && Clock::now() < deadline) {
        int b = port.getByte();
        if (b < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        cur += char(b);
        if (b == '\n') {
            lines.push_back(cur);
            cur.clear();
        }
    }
    return lines;
}

} // namespace

TEST(SimDriver, PortListHasTheScriptsPortsInOrderWithTheirDetails) {
    ASSERT_TRUE(SerialPortLocal::isLibraryLoaded()) << SerialPortLocal::libraryLoadError();
    const std::vector<std::string> expected = {"TIMED", "FOLLOW",  "HIGH", "NOTHING", "ERRORS",
                                               "BUSY",  "BALANCE", "SLOW", "PROBE",   "UNPLUG"};
    EXPECT_EQ(SerialPortLocal::getPortList(), expected);
    auto info = SerialPortLocal::getDriverInfoList();
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(info[0].getPortName(), "TIMED");
    EXPECT_EQ(info[0].getDriverDesc(), "Timed lines");
    EXPECT_EQ(info[0].getDriverMfgr(), "Test bench");
}

TEST(SimDriver, TimedLinesArriveCompleteAndInOrder) {
    SerialPortLocal port(configFor("TIMED"));
    // Read slowly at first: what fell due meanwhile waits in the receive buffer.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto lines = readLines(port, 12);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "first\r\n");
    EXPECT_EQ(lines[1], "second\r\n");
    for (std::size_t i = 2; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], "line " + std::to_string(i - 1) + "\r\n");
    port.close();
    port.close(); // closing twice does nothing
}

TEST(SimDriver, TimedLinesKeepTheirRate) {
    SerialPortLocal port(configFor("TIMED"));
    const auto start = Clock::now();
    auto lines = readLines(port, 2);
    ASSERT_EQ(lines.size(), 2u);
    // "second" is due 60 ms after the open: not earlier, and not much later either.
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(took, 55);
    EXPECT_LT(took, 1000);
}

TEST(SimDriver, ReceiveTimeoutWaitsForTheNextByte) {
    SerialPortLocal port(configFor("SLOW"));
    EXPECT_EQ(port.getByte(), -1); // receive timeout 0: returns at once
    port.setTimeoutRx(2000);
    const auto start = Clock::now();
    EXPECT_EQ(port.getByte(), 'l');
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
    port.setTimeoutRx(50);
    std::uint8_t buf[8];
    EXPECT_EQ(port.getData(buf), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "ate");
    EXPECT_EQ(port.getByte(), -1); // after the timeout, nothing more comes
}

TEST(SimDriver, ModemLines) {
    {
        SerialPortLocal port(configFor("FOLLOW"));
        port.setDTR(false);
        port.setRTS(false);
        EXPECT_FALSE(port.sigDSR());
        EXPECT_FALSE(port.sigCTS());
        port.setDTR(true);
        EXPECT_TRUE(port.sigDSR());
        EXPECT_FALSE(port.sigCTS());
        port.setRTS(true);
        EXPECT_TRUE(port.sigCTS());
        EXPECT_FALSE(port.sigCD());
        EXPECT_FALSE(port.sigRing());
    }
    {
        SerialPortLocal port(configFor("HIGH"));
        port.setDTR(false);
        port.setRTS(false);
        EXPECT_TRUE(port.sigDSR());
        EXPECT_TRUE(port.sigCTS());
        EXPECT_TRUE(port.sigCD());
    }
    {
        SerialPortLocal port(configFor("NOTHING"));
        port.setDTR(true);
        port.setRTS(true);
        EXPECT_FALSE(port.sigDSR());
        EXPECT_FALSE(port.sigCTS());
        EXPECT_FALSE(port.sigCD());
    }
}

TEST(SimDriver, LineErrorsAreReportedWithTheirLine) {
    SerialPortLocal port(configFor("ERRORS"));
    // The reading worker's way: one byte, then the error conditions; a line is flagged when any
    // of its bytes was.
    std::vector<std::string> flagged;
    std::string cur, flags;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (flagged.size() < 4 && Clock::now() < deadline) {
        int b = port.getByte();
        if (b < 0)
            continue;
        cur += char(b);
        if (port.sigParityErr() && flags.find('P') == std::string::npos)
            flags += 'P';
        if (port.sigFrameErr() && flags.find('F') == std::string::npos)
            flags += 'F';
        if (b == '\n') {
            flagged.push_back(cur.substr(0, cur.size() - 2) + ":" + flags);
            cur.clear();
            flags.clear();
        }
    }
    EXPECT_EQ(flagged, (std::vector<std::string>{"ok:", "bad:P", "frame:F", "both:PF"}));
    EXPECT_FALSE(port.sigOverrun());
    EXPECT_FALSE(port.rxOverflow());
}

TEST(SimDriver, PortInUseFailsWithTheLibrarysMessage) {
    try {
        SerialPortLocal port(configFor("BUSY"));
        FAIL() << "opened a port that is in use";
    } catch (const PortError& e) {
        EXPECT_STREQ(
            e.what(),
            "BUSY: SerOpenPort failed: Port is in use (BUSY: the script makes this port fail to open)");
    }
    // The port is still listed: it exists, another program holds it.
    auto list = SerialPortLocal::getPortList();
    EXPECT_NE(std::find(list.begin(), list.end(), "BUSY"), list.end());
}

TEST(SimDriver, UnknownAndDoubleOpens) {
    try {
        SerialPortLocal port(configFor("NOSUCH"));
        FAIL() << "opened a port the script does not have";
    } catch (const PortError& e) {
        EXPECT_STREQ(
            e.what(),
            "NOSUCH: SerOpenPort failed: 2: No such device (NOSUCH: the simulator script has no such port)");
    }
    SerialPortLocal first(configFor("HIGH"));
    try {
        SerialPortLocal second(configFor("high"));
        FAIL() << "opened a port twice";
    } catch (const PortError& e) {
        EXPECT_STREQ(e.what(),
                     "high: SerOpenPort failed: Port is already open (high: the port is open already)");
    }
}

TEST(SimDriver, RepliesToTheProgramsWritesAndRecordsThem) {
    SerialPortLocal port(configFor("PROBE"));
    EXPECT_EQ(port.getByte(), -1); // silent until asked
    port.putString("P\r\n");
    auto lines = readLines(port, 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "  12.5 g\r\n");
    port.putString("X");
    port.close();
    std::ifstream in(recordFile(), std::ios::binary);
    std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, "P\r\nX");
}

TEST(SimDriver, UnplugDeliversTheRestThenHangsUpAndLeavesThePortList) {
    std::atomic<int> notices{0};
    SerialPortLocal::registerDeviceNotification([&notices] { ++notices; });
    SerialPortLocal port(configFor("UNPLUG"));
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // past the unplug
    std::string got;
    int hangups = 0;
    for (int i = 0; i < 200 && hangups == 0; ++i) {
        try {
            int b = port.getByte();
            if (b >= 0)
                got += char(b);
        } catch (const PortHangupError&) {
            ++hangups;
        }
    }
    EXPECT_EQ(hangups, 1);
    EXPECT_TRUE(port.isHungUp());
    // Everything sent before the unplug (every 10 ms for 250 ms) was delivered first.
    EXPECT_GE(got.size(), 20u);
    EXPECT_LE(got.size(), 26u);
    EXPECT_EQ(got.find_first_not_of('x'), std::string::npos);
    EXPECT_THROW(port.getByte(), PortHangupError); // it stays hung up until closed
    EXPECT_THROW(port.setDTR(true), PortError);
    port.close();

    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (notices == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    SerialPortLocal::unregisterDeviceNotification();
    EXPECT_EQ(notices, 1);
    auto list = SerialPortLocal::getPortList();
    EXPECT_EQ(std::find(list.begin(), list.end(), "UNPLUG"), list.end());
    try {
        SerialPortLocal again(configFor("UNPLUG"));
        FAIL() << "opened an unplugged port";
    } catch (const PortError& e) {
        EXPECT_STREQ(
            e.what(),
            "UNPLUG: SerOpenPort failed: 2: No such device (UNPLUG: the simulated device was unplugged)");
    }
}

TEST(SimDriver, WrongLineSettingsShowAsLineErrors) {
    SerialPortLocal port(configFor("BALANCE")); // 9600 8N1, the balance talks 2400 7E1
    auto waitByte = [&port] {
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < deadline)
            if (int b = port.getByte(); b >= 0)
                return b;
        return -1;
    };
    EXPECT_EQ(waitByte(), 'w');
    EXPECT_TRUE(port.sigFrameErr());
    EXPECT_TRUE(port.sigParityErr());
    port.setBitRate(SerialConfig::BR_2400);
    port.setDataBits(SerialConfig::LN_7BITS);
    port.setParity(SerialConfig::PY_EVEN);
    port.configure();
    port.rxFlush();
    EXPECT_EQ(waitByte(), 'w');
    EXPECT_FALSE(port.sigFrameErr());
    EXPECT_FALSE(port.sigParityErr());
}
