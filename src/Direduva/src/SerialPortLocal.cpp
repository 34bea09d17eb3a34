#include "Library.h"

#include <Direduva/NativeHandleMutex.h>
#include <Direduva/ProcessProperties.h>
#include <Direduva/SerialPortLocal.h>

#include <NetPortName.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <limits>
#include <mutex>
#include <thread>

namespace Direduva {

using detail::diag;
using detail::driver;
using detail::library;

namespace {

VazConfig toVaz(const SerialConfig& c) {
    VazConfig v{};
    v.structSize = int32_t(sizeof(VazConfig));
    v.port = c.getPort();
    v.portName = c.getPortName().c_str();
    v.baseName = c.getBaseName().c_str();
    v.txLen = c.getTxLen();
    v.rxLen = c.getRxLen();
    v.bitRate = c.getBitRate();
    v.parity = c.getParity();
    v.dataBits = c.getDataBits();
    v.stopBits = c.getStopBits();
    v.handshake = c.getHandshake();
    v.hardFlow = c.getHardFlow() ? 1 : 0;
    v.osName = c.getOsName().c_str();
    v.disableActiveLink = c.getDisableActiveLink() ? 1 : 0;
    return v;
}

std::string openFailureText(int code) {
    switch (code) {
    case VAZ_ERR_ALREADY_OPEN:
        return "Port is already open";
    case VAZ_ERR_IN_USE:
        return "Port is in use";
    case VAZ_ERR_NOT_VALID:
        return "Port not valid";
    case VAZ_ERR_NO_SUCH_FILE:
        return "2: No such device";
    case VAZ_ERR_PERMISSION:
#ifdef _WIN32
        return "Permission denied";
#else
        return "Permission denied (to use serial ports, add your user to the dialout group: "
               "sudo usermod -aG dialout $USER, then log out and in again)";
#endif
    case VAZ_ERR_BUSY:
        return "Device busy";
    case VAZ_ERR_NO_DEVICE:
        return "19: No such device";
    case VAZ_ERR_NET_CONNECT:
        return "No connection";
    case VAZ_ERR_NET_PROTOCOL:
        return "No serial port control";
    default:
        return ": " + std::to_string(code);
    }
}

// Transmit timeout in ms long enough to send a full transmit buffer: 10 bits per character,
// with a factor of 100 to spare.
int transmitTimeout(int rate, int txLen) {
    const int64_t c = std::max(1, rate / 10);
    const int64_t u = 1000000 / c;
    const int64_t m = int64_t(txLen) * u / 1000;
    const int64_t t = m * 100;
    return int(std::clamp<int64_t>(t, 0, INT32_MAX));
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

// ---- Process-wide port lists
struct PortLists {
    std::mutex m;
    std::vector<std::string> portList;
    std::vector<PortDriverInfo> portListInfo;
    std::vector<std::string> comPortNums;
    std::vector<int> portNumList;
    int portListMode = 0;
};
PortLists& lists() {
    static PortLists l;
    return l;
}

void addNameLocked(PortLists& l, const std::string& name) {
    for (const auto& n : l.portList)
        if (equalsIgnoreCase(n, name))
            return;
    l.portList.push_back(name);
}

void addInfoLocked(PortLists& l, const std::string& name, const std::string& mfr, const std::string& desc) {
    for (const auto& i : l.portListInfo)
        if (equalsIgnoreCase(i.getPortName(), name))
            return;
    l.portListInfo.emplace_back(name, mfr, desc);
}

struct Discovered {
    std::vector<std::string> names;
    std::vector<PortDriverInfo> infos;
};

void VAZ_CALL onPortName(void* ctx, const char* name) {
    try {
        static_cast<Discovered*>(ctx)->names.emplace_back(name ? name : "");
    } catch (...) {
    }
}

void VAZ_CALL onPortInfo(void* ctx, const char* name, const char* mfr, const char* desc) {
    try {
        static_cast<Discovered*>(ctx)->infos.emplace_back(name ? name : "", mfr ? mfr : "", desc ? desc : "");
    } catch (...) {
    }
}

// COM ports first, in numeric order, then every other name in the driver's order.
std::vector<std::string> windowsOrder(PortLists& l) {
    l.comPortNums = l.portList;
    l.portNumList.clear();
    std::vector<std::string> others;
    for (const auto& name : l.comPortNums) {
        const std::string up = upper(name);
        bool matches = false;
        for (size_t p = up.find("COM"); p != std::string::npos; p = up.find("COM", p + 1))
            if (p + 3 < up.size() && std::isdigit(static_cast<unsigned char>(up[p + 3]))) {
                matches = true;
                break;
            }
        bool numbered = false;
        if (matches && name.size() > 3) {
            const std::string digits = name.substr(3);
            if (digits.size() <= 9 &&
                std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) {
                l.portNumList.push_back(std::stoi(digits));
                numbered = true;
            }
        }
        // A name that only looks like a COM port (COM3A) stays in the list under its own name
        // instead of failing the whole listing.
        if (name.compare(0, 3, "COM") != 0 || !numbered)
            others.push_back(name);
    }
    std::sort(l.portNumList.begin(), l.portNumList.end());
    std::vector<std::string> result;
    for (int n : l.portNumList)
        result.push_back("COM" + std::to_string(n));
    result.insert(result.end(), others.begin(), others.end());
    return result;
}

// ---- Device notifications
struct Notifications {
    std::mutex regMutex; // serialises register/unregister
    std::mutex cbMutex;  // guards the callback only (held briefly, never across driver calls)
    DeviceNotificationCallback callback;
    bool registered = false;
};
Notifications& notifications() {
    static Notifications n;
    return n;
}

void VAZ_CALL onDeviceNotification(void*, int32_t, const char*) {
    try {
        SerialPortLocal::deviceNotification();
    } catch (...) {
    }
}

} // namespace

// ======================================================================== construction

SerialPortLocal::SerialPortLocal(const SerialConfig& config) : config_(config) {
    library();
    open();
}

SerialPortLocal::SerialPortLocal() {
    auto& lib = library();
    if (!lib.vazLibLoaded)
        diag("SerialPortLocal: Attempt to load: " + lib.vazLib + " failed: " + lib.loadError);
    std::lock_guard lock(lib.devNameMutex);
    config_ = SerialConfig(lib.devName);
}

SerialPortLocal::~SerialPortLocal() {
    try {
        close();
    } catch (const std::exception& e) {
        diag(std::string("SerialPortLocal: closing at destruction: ") + e.what());
    }
}

// ======================================================================== open, configure, close

void SerialPortLocal::open() {
    auto& lib = library();
    if (lib.osName != "Windows 95")
        config_.hardFlow_ = false;
    const std::string prefix = config_.getPortNameString() + ": SerOpenPort failed: ";
    if (!lib.vazLibLoaded)
        throw PortError(prefix + "serial driver not loaded: " + lib.loadError);
    const auto& api = lib.api;
    VazConfig vc = toVaz(config_);
    int code;
    std::string driverText;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        code = api.openPort(&vc);
        // The driver's own reason ("not a serial port", the system's error text), when it keeps one.
        if (code != 0 && api.getLastErrorText) {
            char text[512] = {};
            if (api.getLastErrorText(text, int32_t(sizeof text)) > 0)
                driverText = text;
        }
    }
    if (code != 0)
        throw PortError(prefix + openFailureText(code) + (driverText.empty() ? "" : " (" + driverText + ")"));
    if (vc.port <= 0)
        throw PortError(prefix + "the driver returned no port number");
    config_.port_ = vc.port;
    isOpen_ = true;
    hungUp_ = false;
    wrSinceTxBufEmpty_ = false;
    rdSinceRxBufCheck_ = false;
    port_ = vc.port - 1;
    // A port that cannot take its settings is closed again, so that it is not left open without
    // an owner.
    try {
        configure(config_);
        applyTimeouts();
    } catch (...) {
        try {
            close();
        } catch (...) {
        }
        throw;
    }
}

void SerialPortLocal::applyTimeouts() {
    auto& lib = library();
    if (lib.osName == "Mac OS") {
        setTimeoutRx(2000);
        setTimeoutTx(2000);
        return;
    }
    setTimeoutRx(0);
    if (lib.cap("setTimeoutTx"))
        setTimeoutTx(transmitTimeout(config_.getBitRateNumber(config_.getBitRate()), config_.getTxLen()));
}

void SerialPortLocal::configure() {
    configure(config_);
}

void SerialPortLocal::configure(SerialConfig& record) {
    if (!isOpen_)
        throw PortError("configure: Port is not open");
    auto& lib = library();
    if (!lib.cap("noIndexBitRate")) {
        const int i = SerialConfig::getBitRateIndex(record.getBitRate());
        if (i >= 0)
            record.setBitRate(i);
        else if (!record.validBitRateIndex())
            throw PortError("Unsupported Serial Port Bit Rate");
    }
    // 15 to 30: neither a table index nor a literal rate.
    if (record.getBitRate() >= int(SerialConfig::bitRateNumbers.size()) && record.getBitRate() <= 30)
        throw InvalidSettingError("Invalid Serial Port Bit Rate");
    if (!lib.cap("ParityMarkSpace") && record.getParity() > SerialConfig::PY_EVEN)
        throw PortError("Unsupported Mark/Space parity");
    const auto& api = driver();
    const VazConfig vc = toVaz(record);
    int code;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        code = api.configure(port_, &vc);
    }
    if (code != 0)
        throw PortError("Configure failed: " + std::to_string(code));
}

void SerialPortLocal::close() {
    wrSinceTxBufEmpty_ = false;
    rdSinceRxBufCheck_ = false;
    if (!isOpen_)
        return;
    isOpen_ = false;
    int code = 0;
    if (library().vazLibLoaded) {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        code = library().api.closePort(port_);
    }
    port_ = -1;
    hungUp_ = false;
    if (code != 0)
        throw PortError("ClosePort failed");
}

void SerialPortLocal::setConfig(const SerialConfig& record) {
    const int handle = port_;
    config_ = record;
    if (!isOpen_)
        config_.port_ = handle + 1;
    auto& lib = library();
    std::lock_guard lock(lib.devNameMutex);
    lib.devName = record.getPortNameString();
}

void SerialPortLocal::reset() {
    if (!isOpen_)
        throw PortError("reset: Port is not open");
    const auto& api = driver();
    int timeoutTx = -1;
    if (library().cap("setTimeoutTx"))
        timeoutTx = api.getTimeoutTx(port_);
    close();
    VazConfig vc = toVaz(config_);
    int code;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        code = api.openPort(&vc);
    }
    if (code != 0)
        throw PortError("reset: SerOpenPort failed: " + std::to_string(code));
    config_.port_ = vc.port;
    port_ = vc.port - 1;
    isOpen_ = true;
    if (timeoutTx >= 0)
        setTimeoutTx(timeoutTx);
    configure(config_);
}

void SerialPortLocal::resetPortDriver(const SerialConfig& record) {
    auto& lib = library();
    if (!lib.cap("supDriverInfo"))
        throw PortError("resetPortDriver not supported on " + lib.osName);
    if (isOpen_)
        throw PortError("resetPortDriver: Port must be closed");
    const auto& api = driver();
    const VazConfig vc = toVaz(record);
    const int code = api.resetPortDriver ? api.resetPortDriver(&vc) : -1;
    if (code != 0)
        throw PortError("Reset port driver failed: " + std::to_string(code));
}

int SerialPortLocal::getPowerMode() {
    auto& lib = library();
    if (!lib.cap("setPowerMode"))
        throw PortError("getPowerMode not supported on " + lib.osName);
    const auto& api = driver();
    const int r = api.getPowerMode ? api.getPowerMode(port_) : -1;
    if (r < 0)
        throw PortError("getPowerMode failed: " + std::to_string(r));
    return r;
}

void SerialPortLocal::setPowerMode(int mode) {
    auto& lib = library();
    if (!lib.cap("setPowerMode"))
        throw PortError("setPowerMode not supported on " + lib.osName);
    const auto& api = driver();
    const int r = api.setPowerMode ? api.setPowerMode(port_, mode) : -1;
    if (r != 0)
        throw PortError("setPowerMode failed: " + std::to_string(r));
}

// ======================================================================== reading

int SerialPortLocal::getByte() {
    if (port_ < 0)
        throw PortError("getByte: Port not open");
    auto& lib = library();
    const auto& api = driver();
    if (lib.timedRead) {
        const int t = api.getTimeoutRx(port_);
        if (t > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t);
            for (;;) {
                const int n = api.rxReadyCount(port_);
                if (n > 0 || n == VAZ_HANGUP)
                    break;
                if (std::chrono::steady_clock::now() >= deadline)
                    return -1;
                std::this_thread::yield();
            }
        }
    }
    const int b = api.getByte(port_);
    rdSinceRxBufCheck_ = true;
    if (b == VAZ_HANGUP) {
        hungUp_ = true;
        throw PortHangupError(hangupText("getByte"));
    }
    return (b >= 0 && b <= 255) ? b : -1;
}

bool SerialPortLocal::waitRx(int ms) {
    if (port_ < 0)
        throw PortError("waitRx: Port not open");
    const int r = driver().waitRx(port_, ms);
    if (r == VAZ_HANGUP) {
        hungUp_ = true;
        throw PortHangupError(hangupText("waitRx"));
    }
    if (r < 0)
        throw PortError("waitRx: failed");
    return r > 0;
}

void SerialPortLocal::wakeWait() {
    if (port_ >= 0)
        driver().wakeWait(port_);
}

int SerialPortLocal::getData(std::span<std::uint8_t> buffer) {
    return getData(buffer, 0, int(std::min<size_t>(buffer.size(), INT32_MAX)));
}

int SerialPortLocal::getData(std::span<std::uint8_t> buffer, int offset, int length) {
    if (port_ < 0)
        throw PortError("getData: Port not open");
    const int64_t size = int64_t(std::min<size_t>(buffer.size(), INT32_MAX));
    if (offset < 0 || offset > size)
        throw PortError("getData: offset out of bounds");
    const int n = int(std::clamp<int64_t>(std::min<int64_t>(length, size - offset), 0, INT32_MAX));
    auto& lib = library();
    const auto& api = driver();
    if (lib.timedRead) {
        const int t = api.getTimeoutRx(port_);
        if (t > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(t);
            for (;;) {
                const int ready = api.rxReadyCount(port_);
                if (ready >= n || ready == VAZ_HANGUP)
                    break;
                if (std::chrono::steady_clock::now() >= deadline)
                    return 0;
                std::this_thread::yield();
            }
        }
    }
    const int r = api.getData(port_, buffer.data() + offset, n);
    rdSinceRxBufCheck_ = true;
    if (r == VAZ_HANGUP) {
        hungUp_ = true;
        throw PortHangupError(hangupText("getData"));
    }
    if (r < 0)
        throw PortError("getData: failed");
    return r;
}

// ======================================================================== writing

void SerialPortLocal::putByte(std::uint8_t b) {
    const int code = driver().putByte(port_, b);
    wrSinceTxBufEmpty_ = true;
    if (code != 0)
        throw PortError("PutByte failed: " + std::to_string(code));
}

void SerialPortLocal::putData(std::span<const std::uint8_t> buffer) {
    if (buffer.empty())
        return;
    if (buffer.size() > size_t(INT32_MAX))
        throw PortError("putData: count out of bounds");
    const int n = int(buffer.size());
    const int sent = driver().putData(port_, buffer.data(), n);
    wrSinceTxBufEmpty_ = true;
    if (sent != n)
        throw PortError("PutData1: Sent only " + std::to_string(sent) + " of " + std::to_string(n) +
                        " bytes");
}

void SerialPortLocal::putData(std::span<const std::uint8_t> buffer, int count) {
    if (count < 0 || size_t(count) > buffer.size())
        throw PortError("putData: count out of bounds");
    const int sent = driver().putData(port_, buffer.data(), count);
    wrSinceTxBufEmpty_ = true;
    if (sent != count)
        throw PortError("PutData2: Sent only " + std::to_string(sent) + " of " + std::to_string(count) +
                        " bytes");
}

void SerialPortLocal::putData(std::span<const std::uint8_t> buffer, int offset, int count) {
    if (offset < 0 || count < 0 || int64_t(offset) + count > int64_t(buffer.size()))
        throw PortError("putData3: count out of bounds");
    const int sent = driver().putData(port_, buffer.data() + offset, count);
    wrSinceTxBufEmpty_ = true;
    if (sent != count)
        throw PortError("putData3: Sent only " + std::to_string(sent) + " of " + std::to_string(count) +
                        " bytes");
}

void SerialPortLocal::putString(const std::string& text) {
    if (text.empty())
        return;
    if (text.size() > size_t(INT32_MAX))
        throw PortError("putData: count out of bounds");
    const int n = int(text.size());
    const int sent = driver().putData(port_, reinterpret_cast<const uint8_t*>(text.data()), n);
    wrSinceTxBufEmpty_ = true;
    if (sent != n)
        throw PortError("PutString: sent only " + std::to_string(sent) + " of " + std::to_string(n) +
                        " bytes");
}

// ======================================================================== lines and buffers

void SerialPortLocal::checkLine(const char* op, const char* feature) const {
    auto& lib = library();
    if (feature && !lib.cap(feature))
        throw PortError(std::string(op) + " not supported on " + lib.osName);
    if (port_ < 0)
        throw PortError(std::string(op) + ": Port not open");
}

namespace {
// The common tail of the line operations: -1 fails (when failOnError), 1 is true.
bool lineResult(int r, const char* op, bool failOnError) {
    if (r == -1 && failOnError)
        throw PortError(std::string(op) + " failed");
    return r == 1;
}
} // namespace

void SerialPortLocal::setDTR(bool on) {
    checkLine("setDTR", "setDTR");
    lineResult(driver().setDTR(port_, on ? 1 : 0), "setDTR", true);
}

void SerialPortLocal::setRTS(bool on) {
    auto& lib = library();
    if (!lib.cap("setRTS"))
        throw PortError("setRts not supported on " + lib.osName);
    checkLine("setRTS", nullptr);
    lineResult(driver().setRTS(port_, on ? 1 : 0), "setRTS", true);
}

void SerialPortLocal::sendBreak(int duration) {
    checkLine("sendBreak", "sendBreak");
    lineResult(driver().sendBreak(port_, duration), "sendBreak", true);
}

bool SerialPortLocal::sigCTS() {
    checkLine("sigCTS", nullptr);
    return lineResult(driver().sigCTS(port_), "sigCTS", true);
}

bool SerialPortLocal::sigDSR() {
    checkLine("sigDSR", nullptr);
    return lineResult(driver().sigDSR(port_), "sigDSR", true);
}

bool SerialPortLocal::sigCD() {
    checkLine("sigCD", "sigCD");
    return lineResult(driver().sigCD(port_), "sigCD", true);
}

bool SerialPortLocal::sigFrameErr() {
    checkLine("sigFrameErr", "sigFrameErr");
    return lineResult(driver().sigFrameErr(port_), "sigFrameErr", true);
}

bool SerialPortLocal::sigOverrun() {
    checkLine("sigOverrun", "sigOverrun");
    return lineResult(driver().sigOverrun(port_), "sigOverrun", true);
}

bool SerialPortLocal::sigParityErr() {
    checkLine("sigParityErr", "sigParityErr");
    return lineResult(driver().sigParityErr(port_), "sigParityErr", false);
}

bool SerialPortLocal::sigBreak() {
    checkLine("sigBreak", "sigBreak");
    return lineResult(driver().sigBreak(port_), "sigBreak", false);
}

bool SerialPortLocal::sigRing() {
    checkLine("sigRing", "sigRing");
    return lineResult(driver().sigRing(port_), "sigRing", false);
}

bool SerialPortLocal::rxOverflow() {
    checkLine("rxOverflow", "rxOverflow");
    return lineResult(driver().rxOverflow(port_), "rxOverflow", true);
}

int SerialPortLocal::txBufCount() {
    checkLine("txBufCount", "txBufCount");
    const int r = driver().txBufCount(port_);
    if (r == -1)
        throw PortError("txBufCount failed");
    return r;
}

int SerialPortLocal::rxReadyCount() {
    auto& lib = library();
    if (!lib.cap("rxReadyCount"))
        throw PortError("rxReadyCount not supported on " + lib.osName);
    const int r = driver().rxReadyCount(port_);
    if (r == VAZ_HANGUP) {
        hungUp_ = true;
        throw PortHangupError(hangupText("rxReadyCount"));
    }
    if (r == -1) {
        if (esh_) {
            esh_->errorStatus(RXREADYCOUNT);
            return -1;
        }
        throw PortError("rxReadyCount failed");
    }
    return r;
}

void SerialPortLocal::rxFlush() {
    if (driver().rxFlush(port_) == -1)
        throw PortError("rxFlush failed");
}

void SerialPortLocal::txFlush() {
    if (driver().txFlush(port_) == -1)
        throw PortError("txFlush failed");
}

void SerialPortLocal::txDrain() {
    if (driver().txDrain(port_) == -1)
        throw PortError("txDrain failed");
}

void SerialPortLocal::setTimeoutRx(int ms) {
    if (driver().setTimeoutRx(port_, ms) == -1)
        throw PortError("setTimeoutRx failed");
}

void SerialPortLocal::setTimeoutTx(int ms) {
    if (driver().setTimeoutTx(port_, ms) == -1)
        throw PortError("setTimeoutTx failed");
}

int SerialPortLocal::getTimeoutRx() {
    return driver().getTimeoutRx(port_);
}

int SerialPortLocal::getTimeoutTx() {
    return driver().getTimeoutTx(port_);
}

std::string SerialPortLocal::getLibVer() {
    const auto& api = driver();
    if (!api.getLibVer)
        return "Not implemented";
    char buf[256] = {};
    return api.getLibVer(buf, int32_t(sizeof buf)) >= 0 ? std::string(buf) : std::string();
}

std::string SerialPortLocal::getName(int handle) const {
    auto& lib = library();
    if (lib.osName == "Mac OS" || lib.osName == "Mac OS X")
        return "Not implemented";
    const auto& api = driver();
    if (!api.getName)
        return "Not implemented";
    char buf[512] = {};
    return api.getName(handle, buf, int32_t(sizeof buf)) >= 0 ? std::string(buf) : std::string();
}

// ======================================================================== library-wide

bool SerialPortLocal::isLibraryLoaded() {
    return library().vazLibLoaded;
}
std::string SerialPortLocal::libraryLoadError() {
    return library().loadError;
}
std::string SerialPortLocal::libraryPath() {
    return library().loadedPath;
}
int SerialPortLocal::getMaxBitRate() {
    return library().maxBitRate;
}
std::string SerialPortLocal::osName() {
    return library().osName;
}
std::string SerialPortLocal::osArch() {
    return library().osArch;
}
bool SerialPortLocal::osFamilyWindows() {
    return library().osFamilyWindows;
}
void SerialPortLocal::setDiagnosticOutput(std::ostream* out) {
    detail::setDiagStream(out);
}

bool SerialPortLocal::supports(const std::string& feature) {
    static const char* const names[] = {
        "sigBreak",     "sendBreak",    "sigFrameErr",  "sigOverrun",      "sigParityErr",   "rxOverflow",
        "sigRing",      "sigCTS",       "sigDSR",       "sigCD",           "setRTS",         "UnplugPort",
        "setDTR",       "rxReadyCount", "txBufCount",   "setTimeoutTx",    "noIndexBitRate", "getPortList",
        "setPowerMode", "getStatusAPM", "InstanceLock", "ParityMarkSpace", "supDriverInfo"};
    if (std::find_if(std::begin(names), std::end(names), [&](const char* n) { return feature == n; }) ==
        std::end(names))
        return false;
    return library().cap(feature);
}

// ======================================================================== discovery

bool SerialPortLocal::isNetworkPortName(const std::string& name) {
    return vaznet::hasNetScheme(name);
}

bool SerialPortLocal::abortOpen(const std::string& name) {
    auto& lib = library();
    // Not under the process-wide lock: the open being ended holds it.
    return lib.vazLibLoaded && lib.api.abortOpen && lib.api.abortOpen(name.c_str()) > 0;
}

std::string SerialPortLocal::checkPortName(const std::string& name) {
    if (name.empty())
        return "the port name is empty";
    if (name.find('\0') != std::string::npos)
        return "the port name holds the character code 0";
    std::string why;
    if (vaznet::hasNetScheme(name) && !vaznet::parseNetPortName(name, &why))
        return why;
    return {};
}

std::string SerialPortLocal::hangupText(const char* op) const {
    const std::string plain = std::string(op) + ": Port hung up (device closed or unplugged)";
    if (!isNetworkPortName(config_.getPortNameString()))
        return plain;
    const auto& api = driver();
    char text[512] = {};
    if (api.getLastErrorText && api.getLastErrorText(text, int32_t(sizeof text)) > 0)
        return std::string(op) + ": Port hung up (" + text + ")";
    return std::string(op) + ": Port hung up (the network connection ended)";
}

void SerialPortLocal::addPortName(const std::string& name) {
    auto& l = lists();
    std::lock_guard lock(l.m);
    addNameLocked(l, name);
}

void SerialPortLocal::addPortInfo(const std::string& name, const std::string& manufacturer,
                                  const std::string& description) {
    auto& l = lists();
    std::lock_guard lock(l.m);
    addInfoLocked(l, name, manufacturer, description);
}

std::vector<std::string> SerialPortLocal::getPortList() {
    auto& lib = library();
    auto& l = lists();
    if (const auto prop = ProcessProperties::get("SERIAL_PORT_LIST")) {
        auto isBlank = [](unsigned char c) { return c <= ' '; };
        std::string text = *prop;
        while (!text.empty() && isBlank(static_cast<unsigned char>(text.back())))
            text.pop_back();
        size_t start = 0;
        while (start < text.size() && isBlank(static_cast<unsigned char>(text[start])))
            ++start;
        text = text.substr(start);
        if (text.size() > 4) {
            std::lock_guard lock(l.m);
            std::string piece;
            auto flush = [&] {
                // Blanks around a name ("COM1; COM2") are not part of it.
                size_t b = 0, e = piece.size();
                while (b < e && isBlank(static_cast<unsigned char>(piece[b])))
                    ++b;
                while (e > b && isBlank(static_cast<unsigned char>(piece[e - 1])))
                    --e;
                if (e > b)
                    addNameLocked(l, piece.substr(b, e - b));
                piece.clear();
            };
            for (char c : text) {
                if (c == ';' || c == ':')
                    flush();
                else
                    piece += c;
            }
            flush();
            return l.portList;
        }
    }
    if (!lib.cap("getPortList")) {
        std::lock_guard lock(l.m);
        if (!l.portList.empty()) {
            diag("getPortList: using list created with addPortName");
        } else {
            diag("getPortList: port discovery not currently supported on this platform.");
            diag("Options:");
            diag("A) addPortName can be used to build a list of device names ");
            diag("B) set the property SERIAL_PORT_LIST, e.g. SERIAL_PORT_LIST=COM1;COM2;COM3");
            diag("   or SERIAL_PORT_LIST=/dev/ttyS0:/dev/ttyUSB0");
        }
        return l.portList;
    }
    const auto& api = driver();
    Discovered found;
    api.getPortList(&onPortName, &onPortInfo, &found);
    std::lock_guard lock(l.m);
    l.portList.clear();
    l.portList.reserve(10);
    for (const auto& n : found.names)
        addNameLocked(l, n);
    for (const auto& i : found.infos)
        addInfoLocked(l, i.getPortName(), i.getDriverMfgr(), i.getDriverDesc());
    if (lib.osFamilyWindows)
        return windowsOrder(l);
    return l.portList;
}

std::vector<PortDriverInfo> SerialPortLocal::getDriverInfoList() {
    if (!library().cap("supDriverInfo"))
        throw PortError("Not supported on this platform");
    auto& l = lists();
    std::lock_guard lock(l.m);
    if (l.portList.empty())
        throw PortError("Must call SerialPortLocal.getPortList method first");
    return l.portListInfo;
}

int SerialPortLocal::getPortListMode() {
    auto& l = lists();
    std::lock_guard lock(l.m);
    return l.portListMode;
}

void SerialPortLocal::setPortListMode(int mode) {
    auto& l = lists();
    std::lock_guard lock(l.m);
    l.portListMode = mode;
}

// ======================================================================== device notifications

void SerialPortLocal::registerDeviceNotification(DeviceNotificationCallback callback) {
    const auto& api = driver();
    auto& n = notifications();
    std::lock_guard reg(n.regMutex);
    if (n.registered) {
        api.unregisterDeviceNotification(&onDeviceNotification, nullptr);
        n.registered = false;
    }
    {
        std::lock_guard lock(n.cbMutex);
        n.callback = std::move(callback);
    }
    if (api.registerDeviceNotification(&onDeviceNotification, nullptr) != 0)
        throw PortError("registerDeviceNotification failed");
    n.registered = true;
}

void SerialPortLocal::unregisterDeviceNotification() {
    auto& n = notifications();
    std::lock_guard reg(n.regMutex);
    if (!n.registered)
        return;
    driver().unregisterDeviceNotification(&onDeviceNotification, nullptr);
    n.registered = false;
    std::lock_guard lock(n.cbMutex);
    n.callback = nullptr;
}

void SerialPortLocal::deviceNotification() {
    diag("Direduva.deviceNotification");
    DeviceNotificationCallback cb;
    {
        auto& n = notifications();
        std::lock_guard lock(n.cbMutex);
        cb = n.callback;
    }
    if (cb)
        cb();
}

} // namespace Direduva
