// The Win32 serial driver: the vazEdo C interface over the Windows communications API.
//
// Ports are opened as \\.\COMn without overlapped I/O. Receive timeouts follow the interface:
// 0 returns at once (ReadIntervalTimeout MAXDWORD, no totals), t > 0 waits up to t ms for the first
// byte (the "MAXDWORD, MAXDWORD, t" combination documented for SetCommTimeouts).
// Line conditions are collected with ClearCommError before and after every read and on every
// query, and kept until the matching query reads them, because ClearCommError clears them all at once.
// Device notices come from a watcher thread that compares the registry's port list twice a second,
// which needs no window and works the same for every kind of adapter.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <DriverCommon.h>

#ifndef ERROR_NO_SUCH_DEVICE
#define ERROR_NO_SUCH_DEVICE 433L // winerror.h of newer SDKs; missing from mingw-w64
#endif

#include <DriverEntry.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using vazcommon::copyText;
using vazcommon::failWith;

constexpr const char* kLibVer = "Vornal Win32 serial driver 1.0";
constexpr DWORD kTxTimeoutCapMs = 60000; // a write never blocks longer than a minute

std::string narrow(const std::wstring& w) {
    if (w.empty())
        return {};
    int n = WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring widen(const std::string& s) {
    if (s.empty())
        return {};
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(std::size_t(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, s.data(), int(s.size()), w.data(), n);
    return w;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

std::string systemText(DWORD err) {
    char* buf = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, err, 0, reinterpret_cast<char*>(&buf), 0, nullptr);
    std::string s = n && buf ? std::string(buf, n) : std::string();
    if (buf)
        LocalFree(buf);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return "Windows error " + std::to_string(err) + (s.empty() ? "" : ": " + s);
}

// Records the calling thread's Windows error for vazSerGetLastErrorText and returns `code`.
int32_t failWin(int32_t code, const std::string& what) {
    return failWith(code, what + ": " + systemText(GetLastError()));
}

// Errors after which the device is gone for good (adapter unplugged, driver removed). A port that is
// "not ready" is one whose device has hung up: wine says so for a COM port whose tty has gone, and reads
// then return nothing at once, for ever.
bool deviceGone(DWORD err) {
    switch (err) {
    case ERROR_NOT_READY:
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_NO_SUCH_DEVICE:
        return true;
    default:
        return false;
    }
}

struct Port {
    HANDLE h = INVALID_HANDLE_VALUE;
    std::string name;
    std::atomic<DWORD> conditions{0}; // CE_* bits collected, cleared per query
    std::atomic<bool> hungUp{false};
    std::atomic<int32_t> timeoutRx{0};
    std::atomic<int32_t> timeoutTx{0};
    std::atomic<bool> dtr{true};
    std::atomic<bool> rts{true};
    std::mutex stateMu; // SetCommState / SetCommTimeouts
    int32_t handshake = 0;
    // vazSerWaitRx: the byte its timed read took, handed out first by the next read, and the
    // waiting thread, whose read vazSerWakeWait cancels.
    std::mutex waitMu;
    int peeked = -1;
    HANDLE waiter = nullptr;
    std::atomic<bool> wakePending{false};

    ~Port() {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }

    // Collects the line conditions; false when the device is gone.
    bool collect(COMSTAT* stat = nullptr) {
        DWORD errs = 0;
        COMSTAT st{};
        if (!ClearCommError(h, &errs, &st)) {
            if (deviceGone(GetLastError()))
                hungUp = true;
            return false;
        }
        conditions |= errs;
        if (stat)
            *stat = st;
        return true;
    }

    bool applyTimeouts() {
        COMMTIMEOUTS t{};
        const int32_t rx = timeoutRx;
        t.ReadIntervalTimeout = MAXDWORD;
        if (rx > 0) {
            t.ReadTotalTimeoutMultiplier = MAXDWORD;
            t.ReadTotalTimeoutConstant = DWORD(rx);
        }
        const int32_t tx = timeoutTx;
        t.WriteTotalTimeoutConstant = tx > 0 ? std::min<DWORD>(DWORD(tx), kTxTimeoutCapMs) : 0;
        return SetCommTimeouts(h, &t) != 0;
    }
};

struct Driver {
    vazcommon::PortTable<Port> ports;
    vazcommon::DeviceWatcher watcher; // declared last: stops before the ports go
};

Driver& driver() {
    static Driver d;
    return d;
}

// The open port, or null with the last error set.
std::shared_ptr<Port> find(VazHandle h) {
    return driver().ports.find(h);
}

int32_t applySettings(Port& p, const VazConfig* c) {
    const int32_t rate = vazcommon::bitRateOf(c->bitRate);
    if (rate == 0 || c->parity < 0 || c->parity > 4 || c->dataBits < 0 || c->dataBits > 3 ||
        c->stopBits < 0 || c->stopBits > 1 || c->handshake < 0 || (c->handshake > 3 && c->handshake < 16) ||
        c->handshake > 240)
        return failWith(VAZ_ERR_NOT_VALID, p.name + ": unusable settings");
    std::lock_guard lock(p.stateMu);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(p.h, &dcb))
        return failWin(int32_t(GetLastError()), p.name + ": GetCommState");
    dcb.BaudRate = DWORD(rate);
    dcb.ByteSize = BYTE(5 + c->dataBits);
    static constexpr BYTE parities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb.Parity = parities[c->parity];
    dcb.fParity = c->parity != 0;
    dcb.StopBits = c->stopBits == 0 ? ONESTOPBIT : TWOSTOPBITS;
    dcb.fBinary = TRUE;
    dcb.fAbortOnError = FALSE; // errors are collected with ClearCommError, reads go on
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;

    const int32_t hs = c->handshake;
    bool hardIn, hardOut, softIn, softOut, dsrFlow = false;
    if (hs >= 16) {
        hardIn = hs & 0x10;
        hardOut = hs & 0x20;
        softIn = hs & 0x40;
        softOut = hs & 0x80;
    } else {
        hardIn = hardOut = hs == 2;
        softIn = softOut = hs == 1;
        dsrFlow = hs == 3;
    }
    dcb.fOutxCtsFlow = hardOut;
    dcb.fRtsControl = hardIn ? RTS_CONTROL_HANDSHAKE : (p.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
    dcb.fOutxDsrFlow = dsrFlow;
    dcb.fDtrControl = dsrFlow ? DTR_CONTROL_HANDSHAKE : (p.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE);
    dcb.fInX = softIn;
    dcb.fOutX = softOut;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 128;
    dcb.XoffLim = 128;
    if (!SetCommState(p.h, &dcb))
        return failWin(int32_t(GetLastError()), p.name + ": SetCommState");
    p.handshake = hs;
    return VAZ_OK;
}

// The byte a wait read ahead, or -1.
int32_t takePeeked(Port& p) {
    std::lock_guard lock(p.waitMu);
    const int32_t b = p.peeked;
    p.peeked = -1;
    return b;
}

int32_t readBytes(VazHandle h, uint8_t* buffer, int32_t n) {
    if (n < 0 || (n > 0 && !buffer))
        return failWith(VAZ_FAIL, "bad read buffer");
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    if (p->hungUp)
        return VAZ_HANGUP;
    if (n == 0)
        return 0;
    if (const int32_t first = takePeeked(*p); first >= 0) {
        buffer[0] = uint8_t(first);
        return 1;
    }
    p->collect();
    DWORD got = 0;
    if (!ReadFile(p->h, buffer, DWORD(n), &got, nullptr)) {
        DWORD err = GetLastError();
        if (deviceGone(err)) {
            p->hungUp = true;
            return VAZ_HANGUP;
        }
        if (err == ERROR_OPERATION_ABORTED) // purged or closed while waiting
            return 0;
        return failWin(VAZ_FAIL, p->name + ": ReadFile");
    }
    if (!p->collect() && p->hungUp && got == 0)
        return VAZ_HANGUP;
    return int32_t(got);
}

int32_t escape(VazHandle h, DWORD function, const char* what) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    if (!EscapeCommFunction(p->h, function))
        return failWin(VAZ_FAIL, p->name + ": " + what);
    return VAZ_OK;
}

int32_t modem(VazHandle h, DWORD bit) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    DWORD st = 0;
    if (!GetCommModemStatus(p->h, &st))
        return failWin(VAZ_FAIL, p->name + ": GetCommModemStatus");
    return (st & bit) ? 1 : 0;
}

int32_t condition(VazHandle h, DWORD bit) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    if (!p->collect())
        return failWin(VAZ_FAIL, p->name + ": ClearCommError");
    DWORD before = p->conditions.fetch_and(~bit);
    return (before & bit) ? 1 : 0;
}

int32_t purge(VazHandle h, DWORD flags, const char* what) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    if (!PurgeComm(p->h, flags))
        return failWin(VAZ_FAIL, p->name + ": " + what);
    return VAZ_OK;
}

using vazcommon::PortEntry;

std::wstring registryString(HKEY key, const wchar_t* value) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return {};
    std::wstring s(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(s.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    s.resize(wcsnlen(s.c_str(), s.size()));
    return s;
}

std::wstring deviceProperty(HDEVINFO set, SP_DEVINFO_DATA* dev, DWORD prop) {
    wchar_t buf[512];
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, dev, prop, &type, reinterpret_cast<BYTE*>(buf),
                                           sizeof buf - 2, nullptr))
        return {};
    buf[std::size(buf) - 1] = L'\0';
    return buf;
}

// The ports Windows knows (HARDWARE\DEVICEMAP\SERIALCOMM), with manufacturer and description from
// the device manager where the port belongs to a device of the Ports class.
std::vector<PortEntry> listPorts(bool details) {
    std::vector<PortEntry> out;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return out; // no serial port at all: the key does not exist
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256];
        DWORD nameLen = DWORD(std::size(valueName));
        wchar_t data[256];
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        LONG r = RegEnumValueW(key, i, valueName, &nameLen, nullptr, &type, reinterpret_cast<BYTE*>(data),
                               &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';
        std::string name = narrow(data);
        if (!name.empty())
            out.push_back({name, {}, {}});
    }
    RegCloseKey(key);
    if (!details || out.empty())
        return out;

    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return out;
    SP_DEVINFO_DATA dev{};
    dev.cbSize = sizeof dev;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
        HKEY devKey = SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (devKey == INVALID_HANDLE_VALUE)
            continue;
        std::string portName = narrow(registryString(devKey, L"PortName"));
        RegCloseKey(devKey);
        for (PortEntry& e : out) {
            if (upper(e.name) == upper(portName)) {
                e.manufacturer = narrow(deviceProperty(set, &dev, SPDRP_MFG));
                e.description = narrow(deviceProperty(set, &dev, SPDRP_DEVICEDESC));
            }
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return out;
}

std::set<std::string> portNames() {
    std::set<std::string> names;
    for (const PortEntry& e : listPorts(false))
        names.insert(e.name);
    return names;
}

// One look at the registry's port list: what came and went since the previous look.
vazcommon::DeviceWatcher::Poll portListChanges() {
    return [known = portNames()]() mutable {
        std::vector<vazcommon::DeviceWatcher::Notice> notices;
        std::set<std::string> now = portNames();
        for (const std::string& n : known)
            if (!now.count(n))
                notices.push_back({VAZ_DEVICE_REMOVAL, n});
        for (const std::string& n : now)
            if (!known.count(n))
                notices.push_back({VAZ_DEVICE_ARRIVAL, n});
        known = std::move(now);
        return notices;
    };
}

} // namespace

namespace vazdriver {

const char* const kLibVersion = kLibVer;

int32_t openPort(VazConfig* config) {
    if (!config || !config->portName || !*config->portName)
        return failWith(VAZ_ERR_NOT_VALID, "no port name given");
    const std::string name = config->portName;
    Driver& d = driver();
    {
        std::lock_guard lock(d.ports.mutex);
        for (const auto& [h, p] : d.ports.handles)
            if (upper(p->name) == upper(name))
                return failWith(VAZ_ERR_ALREADY_OPEN, name + ": this program has the port open already");
    }
    // "\\.\" reaches COM10 and above and names without a DOS device link.
    std::wstring path = widen(name);
    if (path.rfind(L"\\\\.\\", 0) != 0)
        path = L"\\\\.\\" + path;
    auto port = std::make_shared<Port>();
    port->name = name;
    port->h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port->h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        int32_t code;
        switch (err) {
        case ERROR_ACCESS_DENIED: // what Windows reports when another program holds a COM port
        case ERROR_SHARING_VIOLATION:
            code = VAZ_ERR_IN_USE;
            break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            code = VAZ_ERR_NO_SUCH_FILE;
            break;
        case ERROR_INVALID_NAME:
            code = VAZ_ERR_NOT_VALID;
            break;
        case ERROR_BUSY:
            code = VAZ_ERR_BUSY;
            break;
        case ERROR_GEN_FAILURE:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_NO_SUCH_DEVICE:
            code = VAZ_ERR_NO_DEVICE;
            break;
        default:
            code = int32_t(err);
            break;
        }
        SetLastError(err);
        return failWin(code, name + ": CreateFile");
    }
    const DWORD rx = config->rxLen > 0 ? DWORD(config->rxLen) : 4096;
    const DWORD tx = config->txLen > 0 ? DWORD(config->txLen) : 4096;
    SetupComm(port->h, rx, tx); // a hint; drivers may keep their own sizes
    // A device that is not a serial port fails here (GetCommState), as do unusable settings.
    if (applySettings(*port, config) != VAZ_OK)
        return VAZ_ERR_NOT_VALID; // the reason is the last-error text
    if (!port->applyTimeouts())
        return failWin(VAZ_ERR_NOT_VALID, name + ": SetCommTimeouts");
    PurgeComm(port->h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    port->collect();
    port->conditions = 0;
    std::lock_guard lock(d.ports.mutex);
    config->port = d.ports.handles.add(std::move(port)) + 1;
    return VAZ_OK;
}

int32_t configure(VazHandle h, const VazConfig* config) {
    if (!config)
        return failWith(VAZ_ERR_NOT_VALID, "no settings given");
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    return applySettings(*p, config);
}

int32_t closePort(VazHandle h) {
    std::shared_ptr<Port> p = driver().ports.take(h);
    if (!p)
        return VAZ_FAIL;
    // A read still waiting on another thread is cut short; the handle closes when it returns.
    PurgeComm(p->h, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR);
    return VAZ_OK;
}

int32_t getData(VazHandle h, uint8_t* buffer, int32_t n) {
    return readBytes(h, buffer, n);
}

int32_t putByte(VazHandle h, uint8_t byte) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    DWORD sent = 0;
    if (!WriteFile(p->h, &byte, 1, &sent, nullptr)) {
        DWORD err = GetLastError();
        return failWin(err ? int32_t(err) : VAZ_FAIL, p->name + ": WriteFile");
    }
    return sent == 1 ? VAZ_OK : failWith(int32_t(WAIT_TIMEOUT), p->name + ": write timed out");
}

int32_t putData(VazHandle h, const uint8_t* buffer, int32_t n) {
    if (n < 0 || (n > 0 && !buffer))
        return failWith(VAZ_FAIL, "bad write buffer");
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    if (n == 0)
        return 0;
    DWORD sent = 0;
    if (!WriteFile(p->h, buffer, DWORD(n), &sent, nullptr))
        return sent > 0 ? int32_t(sent) : failWin(VAZ_FAIL, p->name + ": WriteFile");
    return int32_t(sent);
}

int32_t rxReadyCount(VazHandle h) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    COMSTAT st{};
    if (!p->collect(&st))
        return p->hungUp ? VAZ_HANGUP : failWin(VAZ_FAIL, p->name + ": ClearCommError");
    std::lock_guard lock(p->waitMu);
    return int32_t(std::min<DWORD>(st.cbInQue, 0x7FFFFFFE)) + (p->peeked >= 0 ? 1 : 0);
}

int32_t txBufCount(VazHandle h) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    COMSTAT st{};
    if (!p->collect(&st))
        return failWin(VAZ_FAIL, p->name + ": ClearCommError");
    return int32_t(std::min<DWORD>(st.cbOutQue, 0x7FFFFFFF));
}

int32_t rxFlush(VazHandle h) {
    if (auto p = find(h))
        takePeeked(*p);
    return purge(h, PURGE_RXCLEAR, "PurgeComm");
}
int32_t txFlush(VazHandle h) {
    return purge(h, PURGE_TXCLEAR, "PurgeComm");
}

int32_t txDrain(VazHandle h) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    if (!FlushFileBuffers(p->h))
        return failWin(VAZ_FAIL, p->name + ": FlushFileBuffers");
    return VAZ_OK;
}

int32_t setDTR(VazHandle h, int32_t on) {
    int32_t r = escape(h, on ? SETDTR : CLRDTR, "EscapeCommFunction(DTR)");
    if (r == VAZ_OK)
        if (auto p = find(h))
            p->dtr = on != 0;
    return r;
}

int32_t setRTS(VazHandle h, int32_t on) {
    int32_t r = escape(h, on ? SETRTS : CLRRTS, "EscapeCommFunction(RTS)");
    if (r == VAZ_OK)
        if (auto p = find(h))
            p->rts = on != 0;
    return r;
}

int32_t sendBreak(VazHandle h, int32_t duration) {
    if (duration < 0)
        return failWith(VAZ_FAIL, "negative break duration");
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    if (!SetCommBreak(p->h))
        return failWin(VAZ_FAIL, p->name + ": SetCommBreak");
    Sleep(DWORD(duration));
    if (!ClearCommBreak(p->h))
        return failWin(VAZ_FAIL, p->name + ": ClearCommBreak");
    return VAZ_OK;
}

int32_t sigCTS(VazHandle h) {
    return modem(h, MS_CTS_ON);
}
int32_t sigDSR(VazHandle h) {
    return modem(h, MS_DSR_ON);
}
int32_t sigCD(VazHandle h) {
    return modem(h, MS_RLSD_ON);
}
int32_t sigRing(VazHandle h) {
    return modem(h, MS_RING_ON);
}

int32_t sigBreak(VazHandle h) {
    return condition(h, CE_BREAK);
}
int32_t sigFrameErr(VazHandle h) {
    return condition(h, CE_FRAME);
}
int32_t sigOverrun(VazHandle h) {
    return condition(h, CE_OVERRUN);
}
int32_t sigParityErr(VazHandle h) {
    return condition(h, CE_RXPARITY);
}
int32_t rxOverflow(VazHandle h) {
    return condition(h, CE_RXOVER);
}

int32_t setTimeoutRx(VazHandle h, int32_t ms) {
    if (ms < 0)
        return failWith(VAZ_FAIL, "negative receive timeout");
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    std::lock_guard lock(p->stateMu);
    p->timeoutRx = ms;
    return p->applyTimeouts() ? VAZ_OK : failWin(VAZ_FAIL, p->name + ": SetCommTimeouts");
}

int32_t setTimeoutTx(VazHandle h, int32_t ms) {
    if (ms < 0)
        return failWith(VAZ_FAIL, "negative transmit timeout");
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    std::lock_guard lock(p->stateMu);
    p->timeoutTx = ms;
    return p->applyTimeouts() ? VAZ_OK : failWin(VAZ_FAIL, p->name + ": SetCommTimeouts");
}

int32_t getTimeoutRx(VazHandle h) {
    auto p = find(h);
    return p ? p->timeoutRx.load() : VAZ_FAIL;
}

int32_t getTimeoutTx(VazHandle h) {
    auto p = find(h);
    return p ? p->timeoutTx.load() : VAZ_FAIL;
}

int32_t getPortList(VazAddPortNameFn addPortName, VazAddPortInfoFn addPortInfo, void* ctx) {
    return vazcommon::reportPorts(listPorts(addPortInfo != nullptr), addPortName, addPortInfo, ctx);
}

int32_t registerDeviceNotification(VazDeviceNotificationFn fn, void* ctx) {
    // The registry's port list, compared twice a second.
    return driver().watcher.start(fn, ctx, std::chrono::milliseconds(500), portListChanges());
}

int32_t unregisterDeviceNotification(VazDeviceNotificationFn fn, void* ctx) {
    return driver().watcher.stop(fn, ctx);
}

int32_t getName(VazHandle h, char* buffer, int32_t n) {
    auto p = find(h);
    return p ? copyText(p->name, buffer, n) : VAZ_FAIL;
}

// Waits with a timed read of one byte (read time-outs "MAXDWORD, MAXDWORD, t": returns as soon as a
// byte arrives), kept for the next read. The port is not opened for overlapped I/O, so the wait is
// ended early by cancelling that read (CancelSynchronousIo); waits are cut into slices so that a
// wake-up that comes just before the read starts is noticed within a slice.
int32_t waitRx(VazHandle h, int32_t ms) {
    constexpr DWORD kSliceMs = 250;
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    const ULONGLONG deadline = ms < 0 ? 0 : GetTickCount64() + ULONGLONG(ms);
    for (;;) {
        {
            std::lock_guard lock(p->waitMu);
            if (p->peeked >= 0)
                return 1;
        }
        if (p->hungUp)
            return VAZ_HANGUP;
        COMSTAT st{};
        if (!p->collect(&st))
            return p->hungUp ? VAZ_HANGUP : failWin(VAZ_FAIL, p->name + ": ClearCommError");
        if (st.cbInQue > 0)
            return 1;
        if (p->wakePending.exchange(false))
            return 0;
        const ULONGLONG now = GetTickCount64();
        if (ms >= 0 && now >= deadline)
            return 0;
        const DWORD slice = ms < 0 ? kSliceMs : DWORD(std::min<ULONGLONG>(deadline - now, kSliceMs));
        HANDLE self = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        uint8_t b = 0;
        DWORD got = 0;
        BOOL ok = FALSE;
        DWORD err = 0;
        {
            std::lock_guard state(p->stateMu);
            COMMTIMEOUTS t{};
            t.ReadIntervalTimeout = MAXDWORD;
            t.ReadTotalTimeoutMultiplier = MAXDWORD;
            t.ReadTotalTimeoutConstant = slice;
            const int32_t tx = p->timeoutTx;
            t.WriteTotalTimeoutConstant = tx > 0 ? std::min<DWORD>(DWORD(tx), kTxTimeoutCapMs) : 0;
            SetCommTimeouts(p->h, &t);
        }
        {
            std::lock_guard lock(p->waitMu);
            p->waiter = self;
        }
        if (!p->wakePending.load()) {
            ok = ReadFile(p->h, &b, 1, &got, nullptr);
            err = ok ? 0 : GetLastError();
        }
        {
            std::lock_guard lock(p->waitMu);
            p->waiter = nullptr;
            if (ok && got == 1)
                p->peeked = b;
        }
        if (self)
            CloseHandle(self);
        {
            std::lock_guard state(p->stateMu);
            p->applyTimeouts();
        }
        if (!ok && err != ERROR_OPERATION_ABORTED && err != 0) {
            if (deviceGone(err)) {
                p->hungUp = true;
                return VAZ_HANGUP;
            }
            SetLastError(err);
            return failWin(VAZ_FAIL, p->name + ": ReadFile");
        }
        if (ok && got == 1)
            return 1;
    }
}

int32_t wakeWait(VazHandle h) {
    auto p = find(h);
    if (!p)
        return VAZ_FAIL;
    p->wakePending = true;
    std::lock_guard lock(p->waitMu);
    if (p->waiter)
        CancelSynchronousIo(p->waiter);
    return VAZ_OK;
}

} // namespace vazdriver
