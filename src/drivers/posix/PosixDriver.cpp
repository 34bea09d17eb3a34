// vazEdo for Linux, BSD and macOS: serial ports through termios.
//
// Opening: O_NONBLOCK so that a port without carrier does not block the open, then
// TIOCEXCL (further opens fail with EBUSY, except for root) and flock(LOCK_EX|LOCK_NB), which
// also keeps out programs running as root that honour the lock. Reads stay non-blocking:
// VMIN=1/VTIME=0 with O_NONBLOCK gives EAGAIN for "nothing waiting" (VMIN=0 would return 0,
// which is indistinguishable from end of file), while 0 or EIO from read, or POLLHUP from poll,
// mean the device hung up.
//
// Line errors: counted by the kernel and read with TIOCGICOUNT (Linux). PARMRK would mark the
// bad characters in the data stream instead, but then every 0xFF the instrument sends arrives
// doubled and the reader would have to undo the marking; the counters leave the data untouched.
// A character received with a parity or framing error arrives as 0x00. Ports whose driver keeps
// no counters (ptys, some USB adapters) report no line errors.
#include "PosixDriver.h"

#include <DriverEntry.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace vazposix {

namespace {

constexpr std::size_t kMaxPorts = 256;
constexpr int kDefaultTxTimeoutMs = 5000;
constexpr int kMaxDrainMs = 10000;

struct Counters {
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};

struct Port {
    int fd = -1;
    std::string path;
    dev_t rdev = 0;
    struct termios original {};
    bool haveOriginal = false;
    std::atomic<int> timeoutRx{0};
    std::atomic<int> timeoutTx{0};
    std::atomic<bool> hungUp{false};
    std::mutex countersMutex;
    Counters seen; // counts already reported
    bool countersKnown = false;
    // Ports without error counters (ptys, most USB adapters' drivers) say so once; no ioctl after that.
    std::atomic<bool> noCounters{false};
    // One bit per line condition: set when new bytes came from the kernel since that condition was
    // last queried. A condition can only have occurred with received bytes, so a query without new
    // bytes needs no ioctl.
    std::atomic<unsigned> freshBytes{0};

    // Read-ahead: the reading loop takes one byte per call, the kernel is asked for a whole chunk.
    // Cuts the system calls per byte from several to a fraction of one.
    std::mutex rxMutex;
    uint8_t rxBuf[4096];
    int rxPos = 0;
    int rxLen = 0;
    int buffered() const { return rxLen - rxPos; }

    // vazSerWaitRx: a pipe whose read end joins the poll, so that vazSerWakeWait can end the wait.
    std::mutex wakeMutex;
    int wakePipe[2] = {-1, -1};
    std::atomic<bool> wakePending{false};
    ~Port() {
        for (int fd : wakePipe)
            if (fd >= 0)
                ::close(fd);
    }
};

vazcommon::PortTable<Port> ports;

// The open port, or null with the last error set.
std::shared_ptr<Port> lookup(VazHandle h) {
    return ports.find(h);
}

int openErrorCode(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return VAZ_ERR_NO_SUCH_FILE;
    case EACCES:
    case EPERM:
    case EROFS:
        return VAZ_ERR_PERMISSION;
    case EBUSY:
        return VAZ_ERR_BUSY;
    case ENODEV:
    case ENXIO:
        return VAZ_ERR_NO_DEVICE;
    case EWOULDBLOCK:
        return VAZ_ERR_IN_USE;
    default:
        return err;
    }
}

speed_t speedConstant(int rate) {
    switch (rate) {
    case 50:
        return B50;
    case 75:
        return B75;
    case 110:
        return B110;
    case 134:
        return B134;
    case 150:
        return B150;
    case 200:
        return B200;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 1800:
        return B1800;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
#ifdef B460800
    case 460800:
        return B460800;
#endif
#ifdef B500000
    case 500000:
        return B500000;
#endif
#ifdef B576000
    case 576000:
        return B576000;
#endif
#ifdef B921600
    case 921600:
        return B921600;
#endif
#ifdef B1000000
    case 1000000:
        return B1000000;
#endif
    default:
        return 0;
    }
}

bool isHangupErrno(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF || err == EPIPE;
}

// Whether poll reports that the other side has gone.
bool pollHangup(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN);
}

// Waits up to ms for input. true: something to read (or a hang-up to notice).
bool waitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, ms);
    return r > 0;
}

#if defined(__linux__)
bool readCounters(int fd, Counters& c) {
    struct serial_icounter_struct ic {};
    if (ioctl(fd, TIOCGICOUNT, &ic) != 0)
        return false;
    c.frame = ic.frame;
    c.overrun = ic.overrun;
    c.parity = ic.parity;
    c.brk = ic.brk;
    c.bufOverrun = ic.buf_overrun;
    return true;
}
#else
bool readCounters(int, Counters&) {
    return false;
}
#endif

// 1 when the counter chosen by field grew since the previous query, else 0. `bit` is the condition's
// bit in Port::freshBytes.
int conditionOccurred(VazHandle h, int Counters::*field, unsigned bit) {
    auto p = lookup(h);
    if (!p)
        return -1;
    if (p->noCounters || !(p->freshBytes.fetch_and(~bit) & bit))
        return 0;
    Counters now;
    if (!readCounters(p->fd, now)) {
        p->noCounters = true; // no counters on this port: nothing to report, ever
        return 0;
    }
    std::lock_guard lock(p->countersMutex);
    const bool grew = now.*field > p->seen.*field;
    p->seen.*field = now.*field;
    return grew ? 1 : 0;
}

int modemBit(VazHandle h, int bit) {
    auto p = lookup(h);
    if (!p)
        return -1;
    int status = 0;
    if (ioctl(p->fd, TIOCMGET, &status) != 0) {
        setLastErrno("TIOCMGET", errno);
        return -1;
    }
    return (status & bit) ? 1 : 0;
}

int setModemBit(VazHandle h, int bit, bool on) {
    auto p = lookup(h);
    if (!p)
        return -1;
    if (ioctl(p->fd, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) {
        setLastErrno(on ? "TIOCMBIS" : "TIOCMBIC", errno);
        return -1;
    }
    return 0;
}

// Writes n bytes, waiting for room up to the transmit timeout. Bytes written, -1 when none.
int writeAll(Port& p, const uint8_t* data, int n) {
    int timeout = p.timeoutTx.load();
    if (timeout <= 0)
        timeout = kDefaultTxTimeoutMs;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    int sent = 0;
    while (sent < n) {
        const ssize_t w = write(p.fd, data + sent, size_t(n - sent));
        if (w > 0) {
            sent += int(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            setLastErrno("write " + p.path, errno);
            if (isHangupErrno(errno))
                p.hungUp = true;
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) {
            setLastError("write " + p.path + ": transmit timeout");
            break;
        }
        pollfd pf{p.fd, POLLOUT, 0};
        poll(&pf, 1, int(std::min<long long>(left, 1000)));
    }
    return sent == 0 && n > 0 ? -1 : sent;
}

} // namespace

void setLastErrno(const std::string& what, int err) {
    setLastError(what + ": " + std::strerror(err));
}

} // namespace vazposix

using namespace vazposix;
using vazcommon::copyText;

namespace vazdriver {

const char* const kLibVersion = "vazEdo termios 1.0";

int32_t openPort(VazConfig* config) {
    if (!config || !config->portName) {
        setLastError("no settings given");
        return VAZ_ERR_NOT_VALID;
    }
    std::string path = config->portName;
    if (path.empty() && config->baseName && *config->baseName && config->port >= 0)
        path = std::string(config->baseName) + std::to_string(config->port);
    if (path.empty()) {
        setLastError("no port name given");
        return VAZ_ERR_NOT_VALID;
    }
    if (path.find('/') == std::string::npos)
        path = "/dev/" + path;

    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        setLastErrno(path, errno);
        return openErrorCode(errno);
    }
    if (!S_ISCHR(st.st_mode)) {
        setLastError(path + ": not a character device");
        return VAZ_ERR_NOT_VALID;
    }
    std::lock_guard lock(ports.mutex);
    for (const auto& [handle, open] : ports.handles) {
        if (open->rdev == st.st_rdev || open->path == path) {
            setLastError(path + ": already open in this program");
            return VAZ_ERR_ALREADY_OPEN;
        }
    }
    if (ports.handles.size() >= kMaxPorts) {
        setLastError("too many open ports");
        return EMFILE;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        setLastErrno(path, err);
        return openErrorCode(err);
    }
    struct termios original {};
    if (!isatty(fd) || tcgetattr(fd, &original) != 0) {
        setLastError(path + ": not a serial port");
        ::close(fd);
        return VAZ_ERR_NOT_VALID;
    }
    // Another program that honours advisory locks (or another Vornal) holds the port.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        setLastErrno(path, err);
        ::close(fd);
        return err == EWOULDBLOCK ? VAZ_ERR_IN_USE : err;
    }
    ioctl(fd, TIOCEXCL);
    auto p = std::make_shared<Port>();
    p->fd = fd;
    p->path = path;
    p->rdev = st.st_rdev;
    p->original = original;
    p->haveOriginal = true;
    Counters c;
    if (readCounters(fd, c)) {
        p->seen = c;
        p->countersKnown = true;
    }
    config->port = ports.handles.add(std::move(p)) + 1;
    return VAZ_OK;
}

int32_t configure(VazHandle h, const VazConfig* cfg) {
    if (!cfg) {
        setLastError("no settings given");
        return VAZ_ERR_NOT_VALID;
    }
    auto p = lookup(h);
    if (!p)
        return VAZ_ERR_NOT_VALID;
    if (cfg->dataBits < 0 || cfg->dataBits > 3 || cfg->parity < 0 || cfg->parity > 4 || cfg->stopBits < 0 ||
        cfg->stopBits > 1) {
        setLastError("invalid character framing");
        return VAZ_ERR_NOT_VALID;
    }
    const int rate = vazcommon::bitRateOf(cfg->bitRate);
    if (rate == 0) {
        setLastError("invalid bit rate " + std::to_string(cfg->bitRate));
        return VAZ_ERR_NOT_VALID;
    }
    struct termios t {};
    if (tcgetattr(p->fd, &t) != 0) {
        setLastErrno("tcgetattr " + p->path, errno);
        return isHangupErrno(errno) ? VAZ_ERR_NO_DEVICE : errno;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    t.c_cflag &= ~tcflag_t(CMSPAR);
#endif
    static const tcflag_t sizes[4] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[cfg->dataBits];
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | ISTRIP | PARMRK | IGNPAR | IGNBRK | BRKINT);
    switch (cfg->parity) {
    case 1: // odd
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2: // even
        t.c_cflag |= PARENB;
        break;
    case 3: // mark: the parity bit is always 1
    case 4: // space: always 0
#ifdef CMSPAR
        t.c_cflag |= PARENB | CMSPAR | (cfg->parity == 3 ? PARODD : 0);
        break;
#else
        setLastError("mark and space parity are not available on this system");
        return VAZ_ERR_NOT_VALID;
#endif
    default:
        break;
    }
    if (cfg->parity != 0)
        t.c_iflag |= INPCK;
    if (cfg->stopBits == 1)
        t.c_cflag |= CSTOPB;
    const int hs = cfg->handshake;
    if (hs == 1) {
        t.c_iflag |= IXON | IXOFF;
    } else if (hs == 2) {
        t.c_cflag |= CRTSCTS;
    } else if (hs == 3) {
        setLastError("DSR/DTR handshaking is not available with termios");
        return VAZ_ERR_NOT_VALID;
    } else if (hs >= 0x10) {
        // termios cannot split RTS/CTS by direction: either hardware flag turns both on.
        if (hs & 0x30)
            t.c_cflag |= CRTSCTS;
        if (hs & 0x40)
            t.c_iflag |= IXOFF;
        if (hs & 0x80)
            t.c_iflag |= IXON;
    } else if (hs != 0) {
        setLastError("invalid handshake " + std::to_string(hs));
        return VAZ_ERR_NOT_VALID;
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    const speed_t speed = speedConstant(rate);
    const bool custom = speed == 0;
    if (!custom) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    } else {
        cfsetispeed(&t, B38400);
        cfsetospeed(&t, B38400);
    }
    if (tcsetattr(p->fd, TCSANOW, &t) != 0) {
        setLastErrno("tcsetattr " + p->path, errno);
        return errno;
    }
    if (custom) {
        const int err = setCustomRate(p->fd, rate);
        if (err != 0) {
            setLastErrno("bit rate " + std::to_string(rate) + " on " + p->path, err);
            return err;
        }
    }
    return VAZ_OK;
}

int32_t closePort(VazHandle h) {
    std::shared_ptr<Port> p = ports.take(h);
    if (!p)
        return VAZ_FAIL;
    if (!p->hungUp) {
        tcflush(p->fd, TCIFLUSH);
        if (p->haveOriginal)
            tcsetattr(p->fd, TCSANOW, &p->original);
    }
    ioctl(p->fd, TIOCNXCL);
    flock(p->fd, LOCK_UN);
    ::close(p->fd);
    return VAZ_OK;
}

int32_t getData(VazHandle h, uint8_t* buffer, int32_t n) {
    if ((!buffer && n > 0) || n < 0) {
        setLastError("bad buffer");
        return VAZ_FAIL;
    }
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    if (n == 0)
        return 0;
    std::lock_guard rx(p->rxMutex);
    if (p->rxPos < p->rxLen) {
        // Bytes read ahead come first, in order.
        const int take = std::min(n, p->buffered());
        std::memcpy(buffer, p->rxBuf + p->rxPos, size_t(take));
        p->rxPos += take;
        return take;
    }
    if (p->hungUp)
        return VAZ_HANGUP;
    const int t = p->timeoutRx.load();
    if (t > 0)
        waitReadable(p->fd, t);
    // A small request (one byte, above all) reads a whole chunk ahead; a large one reads straight into
    // the caller's buffer.
    const bool ahead = std::size_t(n) < sizeof p->rxBuf;
    uint8_t* const into = ahead ? p->rxBuf : buffer;
    const std::size_t want = ahead ? sizeof p->rxBuf : std::size_t(n);
    for (;;) {
        const ssize_t r = read(p->fd, into, want);
        if (r > 0) {
            p->freshBytes = ~0u;
            if (!ahead)
                return int32_t(r);
            p->rxLen = int(r);
            p->rxPos = std::min(n, p->rxLen);
            std::memcpy(buffer, p->rxBuf, std::size_t(p->rxPos));
            return p->rxPos;
        }
        if (r == 0) {
            p->hungUp = true;
            return VAZ_HANGUP;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (pollHangup(p->fd)) {
                p->hungUp = true;
                return VAZ_HANGUP;
            }
            return 0;
        }
        const int err = errno;
        setLastErrno("read " + p->path, err);
        if (isHangupErrno(err)) {
            p->hungUp = true;
            return VAZ_HANGUP;
        }
        // The port is not hung up, but the read failed: a failure, never "nothing waiting".
        return VAZ_FAIL;
    }
}

int32_t putByte(VazHandle h, uint8_t byte) {
    auto p = lookup(h);
    if (!p)
        return EBADF;
    if (writeAll(*p, &byte, 1) == 1)
        return VAZ_OK;
    return p->hungUp ? EIO : ETIMEDOUT;
}

int32_t putData(VazHandle h, const uint8_t* buffer, int32_t n) {
    if ((!buffer && n > 0) || n < 0) {
        setLastError("bad buffer");
        return VAZ_FAIL;
    }
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    if (n == 0)
        return 0;
    return writeAll(*p, buffer, n);
}

int32_t rxReadyCount(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    int buffered = 0;
    {
        std::lock_guard rx(p->rxMutex);
        buffered = p->buffered();
    }
    if (p->hungUp)
        return buffered > 0 ? buffered : VAZ_HANGUP;
    int n = 0;
    if (ioctl(p->fd, FIONREAD, &n) == 0 && n > 0)
        return n + buffered;
    if (buffered > 0)
        return buffered;
    if (pollHangup(p->fd)) {
        p->hungUp = true;
        return VAZ_HANGUP;
    }
    return n >= 0 ? n : 0;
}

int32_t txBufCount(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    int n = 0;
    if (ioctl(p->fd, TIOCOUTQ, &n) != 0) {
        setLastErrno("TIOCOUTQ", errno);
        return VAZ_FAIL;
    }
    return n;
}

int32_t rxFlush(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    std::lock_guard rx(p->rxMutex);
    p->rxPos = p->rxLen = 0;
    if (tcflush(p->fd, TCIFLUSH) != 0)
        return VAZ_FAIL;
    return VAZ_OK;
}

int32_t txFlush(VazHandle h) {
    auto p = lookup(h);
    if (!p || tcflush(p->fd, TCOFLUSH) != 0)
        return VAZ_FAIL;
    return VAZ_OK;
}

// Waits until the output queue is empty, at most the transmit timeout (and never more than
// 10 s): tcdrain itself can block without end when handshake holds the output back.
int32_t txDrain(VazHandle h) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    int limit = p->timeoutTx.load();
    if (limit <= 0 || limit > kMaxDrainMs)
        limit = kMaxDrainMs;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit);
    for (;;) {
        int n = 0;
        if (ioctl(p->fd, TIOCOUTQ, &n) != 0) {
            setLastErrno("TIOCOUTQ", errno);
            return VAZ_FAIL;
        }
        if (n == 0)
            return VAZ_OK;
        if (std::chrono::steady_clock::now() >= deadline) {
            setLastError("txDrain: output still queued after the transmit timeout");
            return VAZ_FAIL;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int32_t setDTR(VazHandle h, int32_t on) {
    return setModemBit(h, TIOCM_DTR, on != 0);
}
int32_t setRTS(VazHandle h, int32_t on) {
    return setModemBit(h, TIOCM_RTS, on != 0);
}

int32_t sendBreak(VazHandle h, int32_t duration) {
    auto p = lookup(h);
    if (!p)
        return VAZ_FAIL;
    if (ioctl(p->fd, TIOCSBRK) != 0) {
        setLastErrno("TIOCSBRK", errno);
        return VAZ_FAIL;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(duration, 0, 10000)));
    if (ioctl(p->fd, TIOCCBRK) != 0) {
        setLastErrno("TIOCCBRK", errno);
        return VAZ_FAIL;
    }
    return VAZ_OK;
}

int32_t sigCTS(VazHandle h) {
    return modemBit(h, TIOCM_CTS);
}
int32_t sigDSR(VazHandle h) {
    return modemBit(h, TIOCM_DSR);
}
int32_t sigCD(VazHandle h) {
    return modemBit(h, TIOCM_CD);
}
int32_t sigRing(VazHandle h) {
    return modemBit(h, TIOCM_RI);
}
int32_t sigBreak(VazHandle h) {
    return conditionOccurred(h, &Counters::brk, 1u << 0);
}
int32_t sigFrameErr(VazHandle h) {
    return conditionOccurred(h, &Counters::frame, 1u << 1);
}
int32_t sigOverrun(VazHandle h) {
    return conditionOccurred(h, &Counters::overrun, 1u << 2);
}
int32_t sigParityErr(VazHandle h) {
    return conditionOccurred(h, &Counters::parity, 1u << 3);
}
int32_t rxOverflow(VazHandle h) {
    return conditionOccurred(h, &Counters::bufOverrun, 1u << 4);
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
    return copyText(p->path, buffer, n);
}

// Waits for input with poll() on the port and on the handle's wake pipe: no wake-up while nothing
// arrives. A hang-up (POLLHUP, POLLERR) counts as "something to read": the read reports it.
int32_t waitRx(VazHandle h, int32_t ms) {
    auto p = lookup(h);
    if (!p) {
        setLastError("invalid port handle");
        return VAZ_FAIL;
    }
    {
        std::lock_guard rx(p->rxMutex);
        if (p->rxPos < p->rxLen)
            return 1;
        if (p->hungUp)
            return VAZ_HANGUP;
    }
    int wakeFd = -1;
    {
        std::lock_guard lock(p->wakeMutex);
        if (p->wakePipe[0] < 0 && pipe(p->wakePipe) == 0) {
            for (int fd : p->wakePipe) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
        wakeFd = p->wakePipe[0];
    }
    if (p->wakePending.exchange(false))
        return 0;
    pollfd fds[2] = {{p->fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int r = poll(fds, wakeFd >= 0 ? 2 : 1, ms < 0 ? -1 : ms);
    if (r < 0) {
        if (errno == EINTR)
            return 0;
        setLastErrno("poll " + p->path, errno);
        return VAZ_FAIL;
    }
    if (wakeFd >= 0 && (fds[1].revents & POLLIN)) {
        char drain[64];
        while (read(wakeFd, drain, sizeof drain) > 0) {
        }
        p->wakePending = false;
    }
    return (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) ? 1 : 0;
}

int32_t wakeWait(VazHandle h) {
    auto p = lookup(h);
    if (!p) {
        setLastError("invalid port handle");
        return VAZ_FAIL;
    }
    p->wakePending = true;
    std::lock_guard lock(p->wakeMutex);
    if (p->wakePipe[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = write(p->wakePipe[1], &c, 1);
    }
    return VAZ_OK;
}

} // namespace vazdriver
