// Network ports through the serial library and the termios driver, against servers on the loopback
// interface played by the test: raw bytes both ways, the end of a connection, refusal, connect time-out,
// broken names, the waiting read, and RFC 2217 (negotiation, settings, notifications, escaping).
#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include "support/LoopbackServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using Direduva::PortError;
using Direduva::PortHangupError;
using Direduva::SerialConfig;
using Direduva::SerialPortLocal;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

struct DriverFromBuildTree : ::testing::Environment {
    void SetUp() override {
        Direduva::ProcessProperties::set("VAZ_DRIVER_DIR", VORNAL_LIB_DIR "/drivers/posix");
        // The program's own platform: every line query is offered.
        Direduva::ProcessProperties::set("VAZ_OSNAME", "Windows");
        Direduva::ProcessProperties::set("VAZ_OSARCH", "x86");
        ::unsetenv("SERIAL_PORT_LIST");
        ::unsetenv("VAZ_NET_CONNECT_TIMEOUT_MS");
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

// A listening socket on 127.0.0.1 with a port of the system's choice.
struct Listener {
    int fd = -1;
    int port = 0;
    explicit Listener(int backlog = 4) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
    // The next connection, -1 when none comes within ms.
    int accept(int ms = 5000) const {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0)
            return -1;
        return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    std::string name(const char* scheme = "tcp") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
    }
};

// Reads what comes within ms (until the peer closes or `until` holds).
Bytes readFor(int fd, int ms, const std::function<bool(const Bytes&)>& until = nullptr) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end && !(until && until(got))) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        uint8_t buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

bool contains(const Bytes& hay, const Bytes& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

void sendAll(int fd, const Bytes& b) {
    ASSERT_EQ(::send(fd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
}

// Reads from the port until n bytes came or ms passed.
Bytes readPort(SerialPortLocal& p, std::size_t n, int ms = 3000) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < n && Clock::now() < end) {
        if (!p.waitRx(50))
            continue;
        uint8_t buf[4096];
        const int r = p.getData(std::span<uint8_t>(buf, sizeof buf));
        got.insert(got.end(), buf, buf + r);
    }
    return got;
}

constexpr uint8_t IAC = 255, WILL = 251, DO = 253, DONT = 254, SB = 250, SE = 240;

// An RFC 2217 server of the test's making: answers the client's offers as told, then records what it
// receives.
struct FakeRfcServer {
    Listener listener;
    int conn = -1;
    std::thread thread;
    Bytes greeting;
    explicit FakeRfcServer(Bytes answer) {
        thread = std::thread([this, answer] {
            conn = listener.accept();
            if (conn < 0)
                return;
            greeting = readFor(conn, 2000, [](const Bytes& b) { return b.size() >= 15; });
            if (!answer.empty())
                ::send(conn, answer.data(), answer.size(), MSG_NOSIGNAL);
        });
    }
    void join() {
        if (thread.joinable())
            thread.join();
    }
    ~FakeRfcServer() {
        join();
        if (conn >= 0)
            ::close(conn);
    }
};

SerialConfig config(const std::string& name) {
    SerialConfig c(name);
    c.setBitRate(7); // 9600
    return c;
}

} // namespace

TEST(NetworkPort, RawBytesPassBothWaysUnchanged) {
    Listener l;
    SerialPortLocal port(config(l.name()));
    const int conn = l.accept();
    ASSERT_GE(conn, 0);
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(uint8_t(i));
    sendAll(conn, all);
    EXPECT_EQ(readPort(port, all.size()), all);
    port.putData(std::span<const uint8_t>(all));
    EXPECT_EQ(readFor(conn, 2000, [&](const Bytes& b) { return b.size() >= all.size(); }), all);
    // A raw stream has no modem lines; the settings are accepted (they live in the instrument).
    EXPECT_EQ(portError([&] { port.setDTR(true); }), "setDTR failed");
    port.configure();
    EXPECT_FALSE(port.sigParityErr());
    ::close(conn);
}

TEST(NetworkPort, TheEndOfTheConnectionIsAHangUpWithItsReason) {
    Listener l;
    SerialPortLocal port(config(l.name()));
    const int conn = l.accept();
    ASSERT_GE(conn, 0);
    sendAll(conn, {'1', '2', '\r', '3'});
    ::close(conn);
    // The bytes sent before the end are read first, then the end is reported, and again on every read.
    EXPECT_EQ(readPort(port, 4), (Bytes{'1', '2', '\r', '3'}));
    std::string text;
    try {
        for (int i = 0; i < 20; ++i)
            port.waitRx(100);
    } catch (const PortHangupError& e) {
        text = e.what();
    }
    EXPECT_NE(text.find("closed by 127.0.0.1 port " + std::to_string(l.port)), std::string::npos) << text;
    EXPECT_THROW(port.getByte(), PortHangupError);
    EXPECT_TRUE(port.isHungUp());
}

TEST(NetworkPort, AServerThatEndsANewConnectionAtOnceIsTriedAgain) {
    // A device server still busy with the previous client accepts and closes at once.
    Listener l;
    int kept = -1;
    std::thread server([&] {
        ::close(l.accept());
        kept = l.accept();
    });
    {
        SerialPortLocal port(config(l.name()));
        server.join();
        ASSERT_GE(kept, 0);
        sendAll(kept, {'5'});
        EXPECT_EQ(readPort(port, 1), Bytes{'5'});
        ::close(kept);
    }
    // One that always does so is reported, within the connect time-out.
    Listener busy;
    std::atomic<bool> done{false};
    std::thread closer([&] {
        while (!done) {
            const int c = busy.accept(100);
            if (c >= 0)
                ::close(c);
        }
    });
    const auto start = Clock::now();
    const std::string text = portError([&] { SerialPortLocal p(config(busy.name())); });
    done = true;
    closer.join();
    EXPECT_LT(Clock::now() - start, 6s);
    EXPECT_NE(text.find("No connection (the connection was closed by 127.0.0.1 port " +
                        std::to_string(busy.port) + " at once"),
              std::string::npos)
        << text;
}

TEST(NetworkPort, RefusalNamesHostPortAndReason) {
    int freePort = 0;
    {
        Listener l;
        freePort = l.port;
    }
    const std::string name = "tcp://127.0.0.1:" + std::to_string(freePort);
    const auto start = Clock::now();
    const std::string text = portError([&] { SerialPortLocal p(config(name)); });
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_NE(text.find(name + ": SerOpenPort failed: No connection (connection refused by 127.0.0.1 port " +
                        std::to_string(freePort)),
              std::string::npos)
        << text;
}

TEST(NetworkPort, ConnectTimesOutAfterTheSetTime) {
    // A listener whose queue is full drops further connection requests: the connect is never answered,
    // and nothing leaves this machine.
    vornal::test::UnansweredPort l;
    ::setenv("VAZ_NET_CONNECT_TIMEOUT_MS", "1000", 1);
    const auto start = Clock::now();
    const std::string text = portError([&] { SerialPortLocal p(config(l.name())); });
    const auto took = Clock::now() - start;
    ::unsetenv("VAZ_NET_CONNECT_TIMEOUT_MS");
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3s);
    EXPECT_NE(text.find("no answer from 127.0.0.1 port " + std::to_string(l.port()) + " within 1 s"),
              std::string::npos)
        << text;
}

TEST(NetworkPort, BrokenNamesAndUnknownHostsAreRefusedWithTheRightSpelling) {
    EXPECT_NE(portError([] {
                  SerialPortLocal p(config("tcp://127.0.0.1"));
              }).find("Port not valid (tcp://127.0.0.1: a network port is written tcp://HOST:PORT"),
              std::string::npos);
    EXPECT_NE(portError([] { SerialPortLocal p(config("rfc2217://::1:4001")); }).find("[::1]:4001"),
              std::string::npos);
    EXPECT_NE(portError([] {
                  SerialPortLocal p(config("tcp://no-such-host.invalid:4001"));
              }).find("cannot find the host 'no-such-host.invalid'"),
              std::string::npos);
    EXPECT_EQ(SerialPortLocal::checkPortName("tcp://[::1]:4001"), "");
    EXPECT_EQ(SerialPortLocal::checkPortName("/dev/ttyUSB0"), "");
    EXPECT_NE(SerialPortLocal::checkPortName("tcp://x:0"), "");
    EXPECT_TRUE(SerialPortLocal::isNetworkPortName("rfc2217://x:1"));
}

TEST(NetworkPort, Ipv6Loopback) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0) {
        if (fd >= 0)
            ::close(fd);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    {
        SerialPortLocal port(config("tcp://[::1]:" + std::to_string(ntohs(a.sin6_port))));
        const int conn = ::accept(fd, nullptr, nullptr);
        sendAll(conn, {'6'});
        EXPECT_EQ(readPort(port, 1), Bytes{'6'});
        ::close(conn);
    }
    ::close(fd);
}

TEST(NetworkPort, KeepAliveWatchesAnIdleConnection) {
    // The kernel's table of TCP sockets shows the keep-alive timer (2) of the connection to the listener,
    // due within 10 s (in hundredths): a dead link is noticed after 10 s of silence plus 3 probes 5 s
    // apart.
    Listener l;
    SerialPortLocal port(config(l.name()));
    const int conn = l.accept();
    char remote[16];
    std::snprintf(remote, sizeof remote, "0100007F:%04X", l.port);
    std::FILE* f = std::fopen("/proc/net/tcp", "r");
    if (!f)
        GTEST_SKIP() << "no /proc/net/tcp";
    char line[512];
    int timer = -1;
    unsigned long when = 0;
    while (std::fgets(line, sizeof line, f)) {
        char local[64], rem[64], state[8];
        int tr = 0;
        unsigned long w = 0;
        if (std::sscanf(line, " %*d: %63s %63s %7s %*s %d:%lx", local, rem, state, &tr, &w) == 5 &&
            std::string(rem) == remote && std::string(state) == "01") {
            timer = tr;
            when = w;
        }
    }
    std::fclose(f);
    EXPECT_EQ(timer, 2);
    EXPECT_GT(when, 0u);
    EXPECT_LE(when, 1000u);
    ::close(conn);
}

TEST(NetworkPort, WakeWaitEndsAWaitingRead) {
    Listener l;
    SerialPortLocal port(config(l.name()));
    const int conn = l.accept();
    std::thread waker([&] {
        std::this_thread::sleep_for(100ms);
        port.wakeWait();
    });
    const auto start = Clock::now();
    EXPECT_FALSE(port.waitRx(-1));
    EXPECT_LT(Clock::now() - start, 2s);
    waker.join();
    ::close(conn);
}

TEST(Rfc2217Port, NegotiatesSendsTheSettingsAndEscapesBothWays) {
    FakeRfcServer server({IAC, DO, 44, IAC, DO, 0, IAC, WILL, 0, IAC, DO, 3, IAC, WILL, 3});
    SerialConfig c = config(server.listener.name("rfc2217"));
    c.setParity(2);   // even
    c.setDataBits(2); // 7 bits
    c.setStopBits(1); // 2 stop bits
    c.setHandshake(2);
    SerialPortLocal port(c);
    server.join();
    ASSERT_GE(server.conn, 0);
    EXPECT_TRUE(contains(server.greeting, {IAC, WILL, 44}));
    EXPECT_TRUE(contains(server.greeting, {IAC, DO, 0}));
    const Bytes settings = readFor(server.conn, 2000, [](const Bytes& b) {
        return contains(b, {IAC, SB, 44, 5, 16, IAC, SE});
    });
    EXPECT_TRUE(contains(settings, {IAC, SB, 44, 10, 0x1E, IAC, SE}));            // line-state mask
    EXPECT_TRUE(contains(settings, {IAC, SB, 44, 1, 0, 0, 0x25, 0x80, IAC, SE})); // 9600
    EXPECT_TRUE(contains(settings, {IAC, SB, 44, 2, 7, IAC, SE}));                // 7 data bits
    EXPECT_TRUE(contains(settings, {IAC, SB, 44, 3, 3, IAC, SE}));                // even
    EXPECT_TRUE(contains(settings, {IAC, SB, 44, 4, 2, IAC, SE}));                // 2 stop bits
    EXPECT_TRUE(contains(settings, {IAC, SB, 44, 5, 3, IAC, SE}));                // hardware flow out
    EXPECT_TRUE(contains(settings, {IAC, SB, 44, 5, 16, IAC, SE}));               // and in

    // A change of settings is sent at once.
    port.setBitRate(11); // 115200
    port.configure();
    EXPECT_TRUE(contains(readFor(server.conn, 2000, [](const Bytes& b) { return b.size() >= 10; }),
                         {IAC, SB, 44, 1, 0, 1, 0xC2, 0x00, IAC, SE}));

    // Data: 0xFF arrives doubled and is read once; sent once, it goes out doubled.
    sendAll(server.conn,
            {'1', IAC, IAC, '2', IAC, SB, 44, 107, 0x30, IAC, SE, IAC, SB, 44, 106, 0x04, IAC, SE, '\r'});
    EXPECT_EQ(readPort(port, 4), (Bytes{'1', IAC, '2', '\r'}));
    EXPECT_TRUE(port.sigCTS());
    EXPECT_TRUE(port.sigDSR());
    EXPECT_FALSE(port.sigCD());
    EXPECT_TRUE(port.sigParityErr());
    EXPECT_FALSE(port.sigParityErr()); // reported once
    EXPECT_FALSE(port.sigFrameErr());
    port.putData(std::span<const uint8_t>(Bytes{'S', IAC, '\r'}));
    EXPECT_EQ(readFor(server.conn, 2000, [](const Bytes& b) { return b.size() >= 4; }),
              (Bytes{'S', IAC, IAC, '\r'}));
    // Modem lines are set through the server.
    port.setDTR(false);
    EXPECT_EQ(readFor(server.conn, 2000, [](const Bytes& b) { return b.size() >= 7; }),
              (Bytes{IAC, SB, 44, 5, 9, IAC, SE}));
}

TEST(Rfc2217Port, ARefusedOptionIsAClearOpenFailure) {
    FakeRfcServer server({IAC, DONT, 44});
    const std::string name = server.listener.name("rfc2217");
    const std::string text = portError([&] { SerialPortLocal p(config(name)); });
    EXPECT_NE(
        text.find(name + ": SerOpenPort failed: No serial port control (127.0.0.1 port " +
                  std::to_string(server.listener.port) +
                  " refused the serial port control (Telnet COM-PORT-OPTION, RFC 2217); for a port that "
                  "passes the bytes through unchanged, write tcp://127.0.0.1:" +
                  std::to_string(server.listener.port)),
        std::string::npos)
        << text;
}

TEST(Rfc2217Port, AServerThatNeverAnswersIsAClearOpenFailure) {
    FakeRfcServer server({});
    const auto start = Clock::now();
    const std::string text = portError([&] { SerialPortLocal p(config(server.listener.name("rfc2217"))); });
    EXPECT_LT(Clock::now() - start, 6s);
    EXPECT_NE(text.find("did not answer the RFC 2217 negotiation"), std::string::npos) << text;
}

TEST(NetworkPort, AnOpenWaitingForAnAnswerIsEndedOnRequest) {
    // A connect that is never answered (a listener whose queue is full) and an RFC 2217 server that
    // never answers: another thread ends the open, which fails at once with its reason.
    vornal::test::UnansweredPort full;
    vornal::test::SilentServer silent;
    for (const std::string& name : {full.name(), silent.name("rfc2217")}) {
        EXPECT_FALSE(SerialPortLocal::abortOpen(name)) << "nothing to end yet";
        std::string text;
        Clock::time_point ended;
        std::thread opener([&] {
            text = portError([&] { SerialPortLocal p(config(name)); });
            ended = Clock::now();
        });
        std::this_thread::sleep_for(500ms);
        const auto asked = Clock::now();
        EXPECT_TRUE(SerialPortLocal::abortOpen(name));
        opener.join();
        EXPECT_LT(ended - asked, 300ms) << name;
        EXPECT_NE(text.find("was cancelled"), std::string::npos) << text;
        // Once it has ended there is nothing left to end.
        EXPECT_FALSE(SerialPortLocal::abortOpen(name));
    }
}
