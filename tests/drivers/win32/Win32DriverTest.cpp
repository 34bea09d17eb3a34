// The Win32 driver through the serial library, on whatever ports the machine has (none needed):
// the port list works and failed opens give the library's messages; a network port reads from a TCP
// server of the test on the loopback interface. Built for Windows only; the cross build runs it under
// wine when wine is installed.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialConfig.h>
#include <Direduva/SerialPortLocal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

using namespace Direduva;

namespace {

std::string openFailure(const std::string& name) {
    try {
        SerialPortLocal port{SerialConfig(name)};
    } catch (const PortError& e) {
        return e.what();
    }
    return "(opened)";
}

} // namespace

TEST(Win32Driver, ListsPortsAndReportsFailedOpens) {
    ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/win32");
    ProcessProperties::set("VAZ_OSNAME", "Windows");
    ProcessProperties::set("VAZ_OSARCH", "x86");
    SerialPortLocal::setDiagnosticOutput(nullptr);
    const auto ports = SerialPortLocal::getPortList();
    ASSERT_TRUE(SerialPortLocal::isLibraryLoaded()) << SerialPortLocal::libraryLoadError();
    for (const std::string& p : ports)
        EXPECT_FALSE(p.empty());
    // The library's code, then the driver's own reason.
    const std::string failure = openFailure("COM250");
    EXPECT_EQ(failure.rfind("COM250: SerOpenPort failed: 2: No such device (COM250: CreateFile", 0), 0u)
        << failure;
}

TEST(Win32Driver, ReadsValuesFromALocalTcpServer) {
    ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/win32");
    ProcessProperties::set("VAZ_OSNAME", "Windows");
    ProcessProperties::set("VAZ_OSARCH", "x86");
    SerialPortLocal::setDiagnosticOutput(nullptr);
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    ASSERT_EQ(bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(l, 1), 0);
    ASSERT_EQ(getsockname(l, reinterpret_cast<sockaddr*>(&a), &len), 0);
    {
        SerialPortLocal port{SerialConfig("tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port)))};
        SOCKET c = accept(l, nullptr, nullptr);
        ASSERT_NE(c, INVALID_SOCKET);
        const std::string line = "12.5\r\xff";
        ASSERT_EQ(send(c, line.data(), int(line.size()), 0), int(line.size()));
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got.size() < line.size() && std::chrono::steady_clock::now() < end) {
            if (!port.waitRx(100))
                continue;
            uint8_t buf[64];
            const int n = port.getData(std::span<uint8_t>(buf, sizeof buf));
            got.append(reinterpret_cast<const char*>(buf), size_t(n));
        }
        EXPECT_EQ(got, line);
        port.putString("S\r");
        char reply[8] = {};
        EXPECT_EQ(recv(c, reply, sizeof reply, 0), 2);
        EXPECT_EQ(std::string(reply, 2), "S\r");
        // The server goes: the next wait reports the hang-up.
        closesocket(c);
        bool hungUp = false;
        for (int i = 0; i < 50 && !hungUp; ++i) {
            try {
                port.waitRx(100);
            } catch (const PortHangupError&) {
                hungUp = true;
            }
        }
        EXPECT_TRUE(hungUp);
    }
    closesocket(l);
    WSACleanup();
}
