// Network ports: a TCP connection to an instrument's own network port (tcp://, the bytes as they come)
// or to a serial device server that speaks RFC 2217 (rfc2217://, Telnet with the COM-PORT-OPTION: the
// settings of the remote serial port are sent at open and on every configure, its modem lines and
// line conditions come back as notifications).
//
// Connecting: non-blocking connect to each address of the host in turn, within one time-out
// (kConnectTimeoutMs, VAZ_NET_CONNECT_TIMEOUT_MS overrides it). Keep-alive probes after 10 s of silence,
// every 5 s, 3 unanswered ones end the connection; unacknowledged sent data does the same after 25 s:
// a silently dead link is noticed within about 30 s and reported as a hang-up, like an unplugged
// adapter. Reads read ahead a chunk and decode it (rfc2217) under the port's receive lock; the
// waiting read polls the socket and the port's wake-up (a pipe, or a Windows event).
#ifdef _WIN32
// Before anything that may bring in windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>
#endif

#include "NetDriver.h"

#include "DriverCommon.h"
#include "NetPortName.h"
#include "Rfc2217.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <mstcpip.h>
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vaznet {

namespace {

using vazcommon::failWith;
using vazcommon::setLastError;
using Clock = std::chrono::steady_clock;

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
#endif

constexpr int kConnectTimeoutMs = 5000;
constexpr int kNegotiateMs = 3000;
constexpr int kDefaultTxTimeoutMs = 5000;
constexpr int kMaxDrainMs = 10000;
constexpr int kKeepIdleS = 10, kKeepIntervalS = 5, kKeepCount = 3;
constexpr int kUserTimeoutMs = 25000;
constexpr std::size_t kMaxPorts = 256;
constexpr std::size_t kChunk = 4096;
constexpr int kOpenAttempts = 5;
constexpr auto kRetryPause = std::chrono::milliseconds(300);
constexpr int kSettleMs = 100;

int connectTimeoutMs() {
    if (const char* v = std::getenv("VAZ_NET_CONNECT_TIMEOUT_MS")) {
        const int ms = std::atoi(v);
        if (ms >= 100 && ms <= 120000)
            return ms;
    }
    return kConnectTimeoutMs;
}

// ---- Opens in progress -----------------------------------------------------------------------------

// An open in progress, so that vazSerAbortOpen can end it: its waits look at `aborted` every
// kAbortCheckMs.
struct OpenAttempt {
    std::string name;
    std::atomic<bool> aborted{false};
};
constexpr int kAbortCheckMs = 50;

std::mutex attemptsMutex;
std::vector<OpenAttempt*> attempts;

// Registers an open for its duration.
class AttemptScope {
public:
    explicit AttemptScope(OpenAttempt& a) : a_(a) {
        std::lock_guard lock(attemptsMutex);
        attempts.push_back(&a_);
    }
    ~AttemptScope() {
        std::lock_guard lock(attemptsMutex);
        attempts.erase(std::remove(attempts.begin(), attempts.end(), &a_), attempts.end());
    }
    AttemptScope(const AttemptScope&) = delete;
    AttemptScope& operator=(const AttemptScope&) = delete;

private:
    OpenAttempt& a_;
};

bool isAborted(const OpenAttempt* a) {
    return a && a->aborted.load();
}

// ---- The system's socket calls -----------------------------------------------------------------

int socketError() {
#ifdef _WIN32
    return WSAGetLastError();
#else
    return errno;
#endif
}

std::string errorText(int err) {
#ifdef _WIN32
    char buf[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   DWORD(err), 0, buf, sizeof buf, nullptr);
    std::string text(buf, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(err) : text;
#else
    return std::strerror(err);
#endif
}

bool wouldBlock(int err) {
#ifdef _WIN32
    return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS;
#else
    return err == EAGAIN || err == EWOULDBLOCK || err == EINPROGRESS;
#endif
}

bool interrupted(int err) {
#ifdef _WIN32
    return err == WSAEINTR;
#else
    return err == EINTR;
#endif
}

bool isRefused(int err) {
#ifdef _WIN32
    return err == WSAECONNREFUSED;
#else
    return err == ECONNREFUSED;
#endif
}

bool isTimedOut(int err) {
#ifdef _WIN32
    return err == WSAETIMEDOUT;
#else
    return err == ETIMEDOUT;
#endif
}

void closeSocket(Socket s) {
    if (s == kNoSocket)
        return;
#ifdef _WIN32
    closesocket(s);
#else
    ::close(s);
#endif
}

bool setNonBlocking(Socket s) {
#ifdef _WIN32
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
#else
    const int flags = fcntl(s, F_GETFL);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

#ifdef _WIN32
bool winsockReady() {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}
#endif

// Waits until s is writable (a connect finished, or room to send). 1 ready, 0 time-out, -1 error.
int waitWritable(Socket s, int ms) {
#ifdef _WIN32
    fd_set w, e;
    FD_ZERO(&w);
    FD_ZERO(&e);
    FD_SET(s, &w);
    FD_SET(s, &e);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    const int r = select(0, nullptr, &w, &e, &tv);
    return r < 0 ? -1 : r > 0 ? 1 : 0;
#else
    pollfd p{s, POLLOUT, 0};
    for (;;) {
        const int r = poll(&p, 1, ms);
        if (r < 0 && errno == EINTR)
            continue;
        return r < 0 ? -1 : r > 0 ? 1 : 0;
    }
#endif
}

// Waits until s has something to read (or the connection ended). 1, 0 on time-out, -1 error.
int waitReadable(Socket s, int ms) {
#ifdef _WIN32
    fd_set r;
    FD_ZERO(&r);
    FD_SET(s, &r);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    const int n = select(0, &r, nullptr, nullptr, &tv);
    return n < 0 ? -1 : n > 0 ? 1 : 0;
#else
    pollfd p{s, POLLIN, 0};
    const int r = poll(&p, 1, ms);
    return r < 0 ? (errno == EINTR ? 0 : -1) : r > 0 ? 1 : 0;
#endif
}

// The waits of an open: in slices, so that an abort ends them within kAbortCheckMs. 1 ready, 0 time-out
// or aborted, -1 error.
int waitSliced(int (*wait)(Socket, int), Socket s, int ms, const OpenAttempt* a) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (isAborted(a))
            return 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return 0;
        const int r = wait(s, int(std::min<long long>(left, a ? kAbortCheckMs : left)));
        if (r != 0)
            return r;
    }
}

int waitWritable(Socket s, int ms, const OpenAttempt* a) {
    return waitSliced(waitWritable, s, ms, a);
}

int waitReadable(Socket s, int ms, const OpenAttempt* a) {
    return waitSliced(waitReadable, s, ms, a);
}

void setKeepAlive(Socket s) {
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    // Requests and answers go out at once, not gathered.
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
#ifdef _WIN32
    // Windows sends 10 probes (its fixed count before Windows 10 1703): 2 s apart after 10 s of silence
    // also ends within 30 s. TCP_MAXRT ends a connection whose sent data stays unacknowledged.
    tcp_keepalive ka{1, ULONG(kKeepIdleS * 1000), 2000};
    DWORD returned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &ka, sizeof ka, nullptr, 0, &returned, nullptr, nullptr);
#ifndef TCP_MAXRT
#define TCP_MAXRT 5
#endif
    const DWORD maxRetransmitS = kUserTimeoutMs / 1000;
    setsockopt(s, IPPROTO_TCP, TCP_MAXRT, reinterpret_cast<const char*>(&maxRetransmitS),
               sizeof maxRetransmitS);
#else
#ifdef TCP_KEEPIDLE
    const int idle = kKeepIdleS;
    setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
#endif
#ifdef TCP_KEEPINTVL
    const int interval = kKeepIntervalS;
    setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
#endif
#ifdef TCP_KEEPCNT
    const int count = kKeepCount;
    setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
#ifdef TCP_USER_TIMEOUT
    const unsigned userTimeout = kUserTimeoutMs;
    setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
#endif
#ifdef SO_NOSIGPIPE
    setsockopt(s, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
#endif
}

// Connects to the first address of the host that answers within the time-out. kNoSocket with *code
// and *why set when none does.
Socket connectTo(const NetPortName& addr, int timeoutMs, std::string* why, const OpenAttempt* attempt) {
    const std::string where = describe(addr);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(addr.port);
    const int gai = getaddrinfo(addr.host.c_str(), service.c_str(), &hints, &found);
    if (gai != 0 || !found) {
#ifdef _WIN32
        const std::string reason = errorText(gai);
#else
        const std::string reason = gai == EAI_SYSTEM ? errorText(errno) : gai_strerror(gai);
#endif
        *why =
            "cannot find the host '" + addr.host + "' (" + reason + "): check the name, or give its address";
        return kNoSocket;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string lastReason;
    bool timedOut = false, refused = false;
    Socket result = kNoSocket;
    for (addrinfo* a = found; a && result == kNoSocket && !isAborted(attempt); a = a->ai_next) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
#ifdef _WIN32
        Socket s =
            WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
#else
        Socket s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
#endif
        if (s == kNoSocket) {
            lastReason = errorText(socketError());
            continue;
        }
        if (!setNonBlocking(s)) {
            lastReason = errorText(socketError());
            closeSocket(s);
            continue;
        }
        int err = 0;
        if (::connect(s, a->ai_addr, int(a->ai_addrlen)) != 0) {
            err = socketError();
            if (wouldBlock(err)) {
                const int w = waitWritable(s, int(left), attempt);
                if (w == 0) {
                    timedOut = true;
                    closeSocket(s);
                    continue;
                }
                socklen_t len = sizeof err;
                err = 0;
                if (w < 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
                    err = socketError();
            }
        }
        if (err != 0) {
            refused = refused || isRefused(err);
            timedOut = timedOut || isTimedOut(err);
            lastReason = errorText(err);
            closeSocket(s);
            continue;
        }
        result = s;
    }
    freeaddrinfo(found);
    if (result != kNoSocket)
        return result;
    if (isAborted(attempt)) {
        *why = "the connection attempt to " + where + " was cancelled";
        return kNoSocket;
    }
    if (refused)
        *why = "connection refused by " + where +
               ": nothing accepts connections there; check the address and port, and that the instrument or "
               "device server is on";
    else if (timedOut)
        *why = "no answer from " + where + " within " + std::to_string((timeoutMs + 999) / 1000) +
               " s (connect time-out): check the address, the network cable and that the device is on";
    else
        *why = "cannot connect to " + where + ": " + lastReason;
    return kNoSocket;
}

// ---- Open ports ----------------------------------------------------------------------------------

struct Port {
    Socket s = kNoSocket;
    std::string name; // as given, e.g. "rfc2217://127.0.0.1:4001"
    NetPortName addr;
    bool rfc = false;

    std::mutex rxMutex;      // guards the codec, the receive buffer and peerGone
    Rfc2217Codec codec;      // the telnet state of the receiving side
    std::vector<uint8_t> rx; // received data not read yet, from rxPos on
    std::size_t rxPos = 0;
    std::atomic<bool> hungUp{false};
    std::mutex textMutex;
    std::string hangupText; // why the connection ended

    std::mutex txMutex; // one writer at a time

    std::atomic<int> timeoutRx{0};
    std::atomic<int> timeoutTx{0};
    std::atomic<unsigned> modem{0};
    std::atomic<bool> modemKnown{false};
    std::atomic<unsigned> lineEvents{0};

    // vazSerWaitRx: the wake-up.
    std::atomic<bool> wakePending{false};
#ifdef _WIN32
    WSAEVENT sockEvent = WSA_INVALID_EVENT;
    HANDLE wakeEvent = nullptr;
#else
    int wakePipe[2] = {-1, -1};
#endif

    std::size_t buffered() const {
        return rx.size() - rxPos;
    }

    ~Port() {
#ifdef _WIN32
        if (sockEvent != WSA_INVALID_EVENT)
            WSACloseEvent(sockEvent);
        if (wakeEvent)
            CloseHandle(wakeEvent);
#else
        for (int fd : wakePipe)
            if (fd >= 0)
                ::close(fd);
#endif
        closeSocket(s);
    }
};

vazcommon::PortTable<Port, 0x3FFFFFFE> ports;

VazHandle outward(VazHandle inner) {
    return inner + kNetHandleBase;
}

std::shared_ptr<Port> lookup(VazHandle h) {
    return ports.find(h - kNetHandleBase);
}

void endConnection(Port& p, const std::string& text) {
    {
        std::lock_guard lock(p.textMutex);
        if (p.hangupText.empty())
            p.hangupText = text;
    }
    p.hungUp = true;
}

int32_t reportHangup(Port& p) {
    std::lock_guard lock(p.textMutex);
    setLastError(p.hangupText);
    return VAZ_HANGUP;
}

std::string lostText(const Port& p, int err) {
    const std::string where = describe(p.addr);
    if (isTimedOut(err))
        return "the connection to " + where + " timed out (no answer to keep-alive or to sent data)";
#ifdef _WIN32
    if (err == WSAECONNRESET || err == WSAECONNABORTED)
#else
    if (err == ECONNRESET || err == EPIPE)
#endif
        return "the connection was reset by " + where;
    return "the connection to " + where + " failed: " + errorText(err);
}

// Sends n bytes as they are, waiting for room up to the transmit time-out. Bytes sent.
std::size_t sendRaw(Port& p, const uint8_t* data, std::size_t n) {
    std::lock_guard lock(p.txMutex);
    int timeout = p.timeoutTx.load();
    if (timeout <= 0)
        timeout = kDefaultTxTimeoutMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout);
    std::size_t sent = 0;
    while (sent < n) {
#ifdef _WIN32
        const int w = ::send(p.s, reinterpret_cast<const char*>(data + sent),
                             int(std::min<std::size_t>(n - sent, 1 << 20)), 0);
#elif defined(MSG_NOSIGNAL)
        const ssize_t w = ::send(p.s, data + sent, n - sent, MSG_NOSIGNAL);
#else
        const ssize_t w = ::send(p.s, data + sent, n - sent, 0);
#endif
        if (w > 0) {
            sent += std::size_t(w);
            continue;
        }
        const int err = socketError();
        if (interrupted(err))
            continue;
        if (!wouldBlock(err)) {
            setLastError(p.name + ": " + lostText(p, err));
            endConnection(p, lostText(p, err));
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            setLastError(p.name + ": transmit time-out (the other side takes no data)");
            break;
        }
        waitWritable(p.s, int(std::min<long long>(left, 1000)));
    }
    return sent;
}

bool sendAll(Port& p, const std::vector<uint8_t>& bytes) {
    return sendRaw(p, bytes.data(), bytes.size()) == bytes.size();
}

// Reads what the socket has (one chunk, without waiting) into the receive buffer, decoding the telnet
// stream. Call with rxMutex held. true when the socket gave bytes or the end.
bool fillLocked(Port& p) {
    if (p.hungUp)
        return false;
    uint8_t chunk[kChunk];
    for (;;) {
#ifdef _WIN32
        const int r = ::recv(p.s, reinterpret_cast<char*>(chunk), int(sizeof chunk), 0);
#else
        const ssize_t r = ::recv(p.s, chunk, sizeof chunk, 0);
#endif
        if (r > 0) {
            if (p.rxPos == p.rx.size()) {
                p.rx.clear();
                p.rxPos = 0;
            }
            if (!p.rfc) {
                p.rx.insert(p.rx.end(), chunk, chunk + r);
                return true;
            }
            std::vector<uint8_t> reply;
            p.codec.decode(chunk, std::size_t(r), p.rx, reply);
            if (!reply.empty())
                sendAll(p, reply);
            p.modem = p.codec.modemState();
            p.modemKnown = p.codec.modemStateKnown();
            p.lineEvents |= p.codec.takeLineEvents(0xFF);
            return true;
        }
        if (r == 0) {
            endConnection(p, "the connection was closed by " + describe(p.addr));
            return true;
        }
        const int err = socketError();
        if (interrupted(err))
            continue;
        if (wouldBlock(err))
            return false;
        endConnection(p, lostText(p, err));
        return true;
    }
}

// One byte from the buffer, or what to report instead. Call with rxMutex held.
int32_t takeByteLocked(Port& p) {
    if (p.rxPos < p.rx.size())
        return p.rx[p.rxPos++];
    return p.hungUp ? reportHangup(p) : VAZ_NO_DATA;
}

bool setUpWake(Port& p) {
#ifdef _WIN32
    p.sockEvent = WSACreateEvent();
    p.wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return p.sockEvent != WSA_INVALID_EVENT && p.wakeEvent &&
           WSAEventSelect(p.s, p.sockEvent, FD_READ | FD_CLOSE) == 0;
#else
    if (pipe(p.wakePipe) != 0)
        return false;
    for (int fd : p.wakePipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    return true;
#endif
}

// Waits up to ms (< 0: no limit) for the socket or the wake-up. 1 socket, 0 time-out or woken, -1 error.
int waitSocketOrWake(Port& p, int ms) {
    if (p.wakePending.exchange(false))
        return 0;
#ifdef _WIN32
    HANDLE events[2] = {p.sockEvent, p.wakeEvent};
    const DWORD r = WSAWaitForMultipleEvents(2, events, FALSE, ms < 0 ? WSA_INFINITE : DWORD(ms), FALSE);
    if (r == WSA_WAIT_EVENT_0) {
        WSANETWORKEVENTS ne{};
        WSAEnumNetworkEvents(p.s, p.sockEvent, &ne); // resets the event
        return 1;
    }
    if (r == WSA_WAIT_EVENT_0 + 1) {
        p.wakePending = false;
        return 0;
    }
    return r == WSA_WAIT_TIMEOUT ? 0 : -1;
#else
    pollfd fds[2] = {{p.s, POLLIN, 0}, {p.wakePipe[0], POLLIN, 0}};
    const int r = poll(fds, 2, ms < 0 ? -1 : ms);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (fds[1].revents & POLLIN) {
        char drain[64];
        while (::read(p.wakePipe[0], drain, sizeof drain) > 0) {
        }
        p.wakePending = false;
        return 0;
    }
    return (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) ? 1 : 0;
#endif
}

// The RFC 2217 start: offers COM-PORT-OPTION, binary mode and suppress-go-ahead and waits for the
// server's answer. Empty on success, else the reason.
std::string negotiate(Port& p, const OpenAttempt& attempt) {
    const std::string where = describe(p.addr);
    const std::string rawHint =
        "; for a port that passes the bytes through unchanged, write tcp://" +
        (p.addr.host.find(':') != std::string::npos ? "[" + p.addr.host + "]" : p.addr.host) + ":" +
        std::to_string(p.addr.port);
    if (!sendAll(p, p.codec.greeting()))
        return "cannot send the RFC 2217 negotiation to " + where;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kNegotiateMs);
    for (;;) {
        {
            std::lock_guard lock(p.rxMutex);
            while (fillLocked(p) && !p.hungUp) {
            }
            const auto answer = p.codec.comPort();
            if (answer == Rfc2217Codec::Answer::Accepted)
                break;
            if (answer == Rfc2217Codec::Answer::Refused)
                return where + " refused the serial port control (Telnet COM-PORT-OPTION, RFC 2217)" +
                       rawHint;
            if (p.hungUp) {
                std::lock_guard text(p.textMutex);
                return p.hangupText + " during the RFC 2217 negotiation";
            }
        }
        if (attempt.aborted)
            return "the connection attempt to " + where + " was cancelled";
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return where + " did not answer the RFC 2217 negotiation (Telnet COM-PORT-OPTION) within " +
                   std::to_string(kNegotiateMs / 1000) + " s" + rawHint;
        waitReadable(p.s, int(left), &attempt);
    }
    // Tell line conditions (break, framing, parity, overrun) and every modem-line change.
    std::vector<uint8_t> masks = Rfc2217Codec::command(comport::SET_LINESTATE_MASK, {0x1E});
    const auto modem = Rfc2217Codec::command(comport::SET_MODEMSTATE_MASK, {0xFF});
    masks.insert(masks.end(), modem.begin(), modem.end());
    if (!sendAll(p, masks))
        return "cannot send to " + where;
    return {};
}

// Whether the server ended the connection within kSettleMs of its start (what arrives meanwhile stays
// in the receive buffer).
bool endedAtOnce(Port& p) {
    const auto end = Clock::now() + std::chrono::milliseconds(kSettleMs);
    for (;;) {
        {
            std::lock_guard lock(p.rxMutex);
            while (p.buffered() < kChunk * 16 && fillLocked(p) && !p.hungUp) {
            }
            if (p.hungUp)
                return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0 || waitReadable(p.s, int(left)) <= 0)
            return false;
    }
}

int32_t noModemLines(const Port& p) {
    return failWith(VAZ_FAIL, p.name + ": a raw TCP port has no modem lines (an rfc2217:// port has)");
}

int32_t sendControl(VazHandle h, uint8_t value) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    if (!p->rfc)
        return noModemLines(*p);
    return sendAll(*p, Rfc2217Codec::command(comport::SET_CONTROL, {value})) ? VAZ_OK : VAZ_FAIL;
}

int32_t modemBit(VazHandle h, unsigned bit) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    if (!p->rfc)
        return noModemLines(*p);
    return (p->modem.load() & bit) ? 1 : 0;
}

int32_t lineEvent(VazHandle h, unsigned bit) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    return (p->lineEvents.fetch_and(~bit) & bit) ? 1 : 0;
}

} // namespace

bool isNetName(const char* name) {
    return name && hasNetScheme(name);
}

int32_t openPort(VazConfig* config) {
    if (!config || !config->portName)
        return failWith(VAZ_ERR_NOT_VALID, "no settings given");
    const std::string name = config->portName;
    std::string why;
    const auto addr = parseNetPortName(name, &why);
    if (!addr)
        return failWith(VAZ_ERR_NOT_VALID, why);
#ifdef _WIN32
    if (!winsockReady())
        return failWith(VAZ_ERR_NET_CONNECT, "Windows sockets are not available");
#endif
    {
        std::lock_guard lock(ports.mutex);
        if (ports.handles.size() >= kMaxPorts)
            return failWith(VAZ_ERR_NET_CONNECT, "too many open network ports");
    }
    OpenAttempt attempt;
    attempt.name = name;
    const AttemptScope scope(attempt);
    // A device server that ends a new connection at once is busy, often still closing the previous
    // one: a few more attempts within the connect time-out.
    const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs());
    for (int round = 1;; ++round) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const Socket s = connectTo(*addr, int(std::max<long long>(left, 100)), &why, &attempt);
        if (s == kNoSocket)
            return failWith(VAZ_ERR_NET_CONNECT, why);
        setKeepAlive(s);
        auto p = std::make_shared<Port>();
        p->s = s;
        p->name = name;
        p->addr = *addr;
        p->rfc = addr->scheme == Scheme::Rfc2217;
        if (!setUpWake(*p))
            return failWith(VAZ_ERR_NET_CONNECT,
                            name + ": cannot set up waiting: " + errorText(socketError()));
        int32_t code = VAZ_ERR_NET_PROTOCOL;
        why = p->rfc ? negotiate(*p, attempt) : std::string();
        if (why.empty() && endedAtOnce(*p)) {
            code = VAZ_ERR_NET_CONNECT;
            std::lock_guard text(p->textMutex);
            why = p->hangupText + " at once (is another program connected to it?)";
        }
        if (why.empty()) {
            std::lock_guard lock(ports.mutex);
            config->port = outward(ports.handles.add(std::move(p))) + 1;
            return VAZ_OK;
        }
        if (!p->hungUp || round >= kOpenAttempts || Clock::now() + kRetryPause >= deadline || attempt.aborted)
            return failWith(code, why);
        std::this_thread::sleep_for(kRetryPause);
    }
}

int32_t abortOpen(const char* name) {
    if (!name)
        return VAZ_FAIL;
    int32_t n = 0;
    std::lock_guard lock(attemptsMutex);
    for (OpenAttempt* a : attempts) {
        if (a->name == name) {
            a->aborted = true;
            ++n;
        }
    }
    return n;
}

int32_t configure(VazHandle h, const VazConfig* cfg) {
    if (!cfg)
        return failWith(VAZ_ERR_NOT_VALID, "no settings given");
    auto p = lookup(h);
    if (!p)
        return VAZ_ERR_NOT_VALID;
    if (cfg->dataBits < 0 || cfg->dataBits > 3 || cfg->parity < 0 || cfg->parity > 4 || cfg->stopBits < 0 ||
        cfg->stopBits > 1)
        return failWith(VAZ_ERR_NOT_VALID, "invalid character framing");
    const int rate = vazcommon::bitRateOf(cfg->bitRate);
    if (rate == 0)
        return failWith(VAZ_ERR_NOT_VALID, "invalid bit rate " + std::to_string(cfg->bitRate));
    const int hs = cfg->handshake;
    if (!(hs >= 0 && hs <= 3) && !(hs >= 0x10 && hs <= 0xF0))
        return failWith(VAZ_ERR_NOT_VALID, "invalid handshake " + std::to_string(hs));
    if (!p->rfc)
        return VAZ_OK; // a raw stream: the settings live in the instrument
    using namespace comport;
    uint8_t out = FLOW_NONE, in = FLOW_IN_NONE;
    if (hs == 1) {
        out = FLOW_XONXOFF;
        in = FLOW_IN_XONXOFF;
    } else if (hs == 2) {
        out = FLOW_HARDWARE;
        in = FLOW_IN_HARDWARE;
    } else if (hs == 3) {
        out = FLOW_DSR;
        in = FLOW_IN_DTR;
    } else if (hs >= 0x10) {
        out = (hs & 0x20) ? FLOW_HARDWARE : (hs & 0x80) ? FLOW_XONXOFF : FLOW_NONE;
        in = (hs & 0x10) ? FLOW_IN_HARDWARE : (hs & 0x40) ? FLOW_IN_XONXOFF : FLOW_IN_NONE;
    }
    std::vector<uint8_t> bytes = Rfc2217Codec::setBaudRate(uint32_t(rate));
    for (const auto& c :
         {Rfc2217Codec::command(SET_DATASIZE, {uint8_t(cfg->dataBits + 5)}),
          Rfc2217Codec::command(SET_PARITY, {uint8_t(cfg->parity + 1)}),
          Rfc2217Codec::command(SET_STOPSIZE, {uint8_t(cfg->stopBits + 1)}),
          Rfc2217Codec::command(SET_CONTROL, {out}), Rfc2217Codec::command(SET_CONTROL, {in})})
        bytes.insert(bytes.end(), c.begin(), c.end());
    if (!sendAll(*p, bytes))
        return p->hungUp ? VAZ_ERR_NO_DEVICE : VAZ_ERR_NET_CONNECT;
    return VAZ_OK;
}

int32_t closePort(VazHandle h) {
    std::shared_ptr<Port> p = ports.take(h - kNetHandleBase);
    if (!p)
        return VAZ_FAIL;
    // A waiting read ends; the socket closes with the last reference.
    p->wakePending = true;
#ifdef _WIN32
    if (p->wakeEvent)
        SetEvent(p->wakeEvent);
#else
    if (p->wakePipe[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] const auto n = ::write(p->wakePipe[1], &c, 1);
    }
#endif
    return VAZ_OK;
}

int32_t getByte(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    std::unique_lock lock(p->rxMutex);
    if (p->rxPos < p->rx.size())
        return p->rx[p->rxPos++];
    fillLocked(*p);
    const int t = p->timeoutRx.load();
    if (t > 0 && p->buffered() == 0 && !p->hungUp) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(t);
        while (p->buffered() == 0 && !p->hungUp) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || waitReadable(p->s, int(left)) <= 0)
                break;
            fillLocked(*p);
        }
    }
    return takeByteLocked(*p);
}

int32_t getData(VazHandle h, uint8_t* buffer, int32_t n) {
    if ((!buffer && n > 0) || n < 0)
        return failWith(VAZ_FAIL, "bad buffer");
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    if (n == 0)
        return 0;
    std::lock_guard lock(p->rxMutex);
    if (p->buffered() == 0)
        fillLocked(*p);
    const std::size_t take = std::min<std::size_t>(std::size_t(n), p->buffered());
    if (take == 0)
        return p->hungUp ? reportHangup(*p) : 0;
    std::memcpy(buffer, p->rx.data() + p->rxPos, take);
    p->rxPos += take;
    return int32_t(take);
}

int32_t waitRx(VazHandle h, int32_t ms) {
    auto p = lookup(h);
    if (!p)
        return failWith(VAZ_FAIL, "invalid port handle");
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    for (;;) {
        {
            std::lock_guard lock(p->rxMutex);
            if (p->buffered() > 0)
                return 1;
            if (p->hungUp)
                return reportHangup(*p);
        }
        int left = -1;
        if (ms >= 0) {
            left =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            if (left < 0)
                return 0;
        }
        const int r = waitSocketOrWake(*p, left);
        if (r < 0)
            return failWith(VAZ_FAIL, p->name + ": waiting failed: " + errorText(socketError()));
        if (r == 0)
            return 0;
        // Only telnet commands may have come: then the wait goes on.
        std::lock_guard lock(p->rxMutex);
        fillLocked(*p);
        if (p->buffered() > 0 || p->hungUp)
            return 1;
    }
}

int32_t wakeWait(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return failWith(VAZ_FAIL, "invalid port handle");
    p->wakePending = true;
#ifdef _WIN32
    SetEvent(p->wakeEvent);
#else
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(p->wakePipe[1], &c, 1);
#endif
    return VAZ_OK;
}

int32_t putData(VazHandle h, const uint8_t* buffer, int32_t n) {
    if ((!buffer && n > 0) || n < 0)
        return failWith(VAZ_FAIL, "bad buffer");
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    if (n == 0)
        return 0;
    if (p->hungUp) {
        reportHangup(*p);
        return VAZ_FAIL;
    }
    if (!p->rfc) {
        const std::size_t sent = sendRaw(*p, buffer, std::size_t(n));
        return sent == 0 ? VAZ_FAIL : int32_t(sent);
    }
    std::vector<uint8_t> escaped;
    Rfc2217Codec::escape(buffer, std::size_t(n), escaped);
    const std::size_t sent = sendRaw(*p, escaped.data(), escaped.size());
    if (sent == escaped.size())
        return n;
    // The data bytes sent whole (an 0xFF counts once both its bytes went).
    int32_t whole = 0;
    for (std::size_t i = 0, at = 0; i < std::size_t(n); ++i) {
        at += buffer[i] == telnet::IAC ? 2 : 1;
        if (at > sent)
            break;
        ++whole;
    }
    return whole == 0 ? VAZ_FAIL : whole;
}

int32_t putByte(VazHandle h, uint8_t byte) {
    const int32_t r = putData(h, &byte, 1);
    return r == 1 ? VAZ_OK : VAZ_ERR_NO_DEVICE;
}

int32_t rxReadyCount(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    std::lock_guard lock(p->rxMutex);
    if (p->buffered() < kChunk)
        fillLocked(*p); // a count asked for again and again reads no further ahead than a chunk
    const std::size_t n = p->buffered();
    if (n == 0 && p->hungUp)
        return reportHangup(*p);
    return int32_t(std::min<std::size_t>(n, 0x7FFFFFFF));
}

int32_t txBufCount(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
#if defined(__linux__)
    int n = 0;
    if (ioctl(p->s, TIOCOUTQ, &n) == 0)
        return n;
#endif
    return 0;
}

int32_t rxFlush(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    std::lock_guard lock(p->rxMutex);
    // What arrived so far is read (telnet commands among it are answered) and dropped.
    for (int i = 0; i < 256 && fillLocked(*p) && !p->hungUp; ++i) {
    }
    p->rx.clear();
    p->rxPos = 0;
    return VAZ_OK;
}

int32_t txFlush(VazHandle h) {
    return lookup(h) ? VAZ_OK : VAZ_FAIL;
}

int32_t txDrain(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    int limit = p->timeoutTx.load();
    if (limit <= 0 || limit > kMaxDrainMs)
        limit = kMaxDrainMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit);
    for (;;) {
        if (txBufCount(h) <= 0)
            return VAZ_OK;
        if (Clock::now() >= deadline)
            return failWith(VAZ_FAIL,
                            p->name + ": txDrain: data still unacknowledged after the transmit timeout");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int32_t setDTR(VazHandle h, int32_t on) {
    return sendControl(h, on ? comport::DTR_ON : comport::DTR_OFF);
}

int32_t setRTS(VazHandle h, int32_t on) {
    return sendControl(h, on ? comport::RTS_ON : comport::RTS_OFF);
}

int32_t sendBreak(VazHandle h, int32_t duration) {
    if (sendControl(h, comport::BREAK_ON) != VAZ_OK)
        return VAZ_FAIL;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(duration, 0, 10000)));
    return sendControl(h, comport::BREAK_OFF);
}

int32_t sigCTS(VazHandle h) {
    return modemBit(h, comport::MODEM_CTS);
}
int32_t sigDSR(VazHandle h) {
    return modemBit(h, comport::MODEM_DSR);
}
int32_t sigCD(VazHandle h) {
    return modemBit(h, comport::MODEM_CD);
}
int32_t sigRing(VazHandle h) {
    return modemBit(h, comport::MODEM_RI);
}
int32_t sigBreak(VazHandle h) {
    return lineEvent(h, comport::LINE_BREAK);
}
int32_t sigFrameErr(VazHandle h) {
    return lineEvent(h, comport::LINE_FRAMING);
}
int32_t sigOverrun(VazHandle h) {
    return lineEvent(h, comport::LINE_OVERRUN);
}
int32_t sigParityErr(VazHandle h) {
    return lineEvent(h, comport::LINE_PARITY);
}
int32_t rxOverflow(VazHandle h) {
    return lookup(h) ? 0 : VAZ_FAIL;
}

int32_t setTimeoutRx(VazHandle h, int32_t ms) {
    auto p = lookup(h);
    if (!p || ms < 0)
        return VAZ_FAIL;
    p->timeoutRx = ms;
    return VAZ_OK;
}
int32_t setTimeoutTx(VazHandle h, int32_t ms) {
    auto p = lookup(h);
    if (!p || ms < 0)
        return VAZ_FAIL;
    p->timeoutTx = ms;
    return VAZ_OK;
}
int32_t getTimeoutRx(VazHandle h) {
    auto p = lookup(h);
    return p ? p->timeoutRx.load() : VAZ_FAIL;
}
int32_t getTimeoutTx(VazHandle h) {
    auto p = lookup(h);
    return p ? p->timeoutTx.load() : VAZ_FAIL;
}

int32_t getName(VazHandle h, char* buffer, int32_t n) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    return vazcommon::copyText(p->name, buffer, n);
}

} // namespace vaznet

// Lives here rather than in each driver's entry points: only network ports take long to open.
extern "C" VAZ_API int32_t VAZ_CALL vazSerAbortOpen(const char* portName) {
    return vaznet::abortOpen(portName);
}
