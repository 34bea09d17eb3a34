#include <Direduva/Errors.h>
#include <Direduva/SerialConfig.h>

#include <algorithm>

#ifndef _WIN32
#include <sys/utsname.h>
#endif

namespace Direduva {

namespace {
constexpr const char* kDevBase = "/dev/ttyS";

// The only names on which DSR/DTR handshaking can be requested.
bool dsrDtrPlatform(const std::string& os) {
    static const char* const names[] = {"Windows 95",           "Windows NT",
                                        "Windows CE",           "Windows 98",
                                        "Windows Me",           "Windows XP",
                                        "Windows 2000",         "Windows 2003",
                                        "Windows Server 2008",  "Windows Server 2008 R2",
                                        "Windows Vista",        "Windows 7",
                                        "Windows NT (unknown)", "OS/2"};
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return os == n; });
}
} // namespace

std::string SerialConfig::systemOsName() {
#ifdef _WIN32
    return "Windows 10";
#else
    struct utsname u {};
    if (uname(&u) == 0) {
        const std::string sys = u.sysname;
        if (sys == "Darwin")
            return "Mac OS X";
        return sys;
    }
    return "Linux";
#endif
}

SerialConfig::SerialConfig() : sPortName_("COM1"), portName_("COM1"), baseName_(kDevBase) {}

SerialConfig::SerialConfig(int port) : port_(port), baseName_(kDevBase) {}

SerialConfig::SerialConfig(int port, int txLen, int rxLen)
    : port_(port), baseName_(kDevBase), txLen_(txLen), rxLen_(rxLen) {}

SerialConfig::SerialConfig(const std::string& name) : sPortName_(name), portName_(name) {}

void SerialConfig::setPortName(const std::string& name) {
    sPortName_ = name;
    portName_ = name;
}

void SerialConfig::setBitRate(int bitRate) {
    if (bitRate < 0 || bitRate > 921600)
        throw InvalidSettingError("Invalid Serial Port Bit Rate");
    bitRate_ = bitRate;
}

void SerialConfig::setDataBits(int dataBits) {
    if (dataBits < LN_5BITS || dataBits > LN_8BITS)
        throw InvalidSettingError("Invalid Serial Port Data Bits");
    dataBits_ = dataBits;
}

void SerialConfig::setParity(int parity) {
    if (parity < PY_NONE || parity > PY_SPACE)
        throw InvalidSettingError("Invalid Serial Port Parity");
    parity_ = parity;
}

void SerialConfig::setStopBits(int stopBits) {
    if (stopBits != ST_1BITS && stopBits != ST_2BITS)
        throw InvalidSettingError("Invalid Serial Port Stop Bits");
    stopBits_ = stopBits;
}

void SerialConfig::setHandshake(int handshake) {
    if (handshake == HS_DSRDTR) {
        if (!dsrDtrPlatform(osName_))
            throw InvalidSettingError("DSRDTR handshaking not available on this platform");
    } else if (handshake < 0 || (handshake > HS_DSRDTR && handshake < HS_HARD_IN) ||
               handshake > HS_SPLIT_MASK) {
        throw InvalidSettingError("Invalid Serial Port Handshake");
    }
    handshake_ = handshake;
}

void SerialConfig::setPortNum(int port) {
    if (port < 0 && osName_ != "EPOC")
        throw InvalidSettingError("Invalid Port Number: " + std::to_string(port));
    port_ = port;
}

void SerialConfig::setTxLen(int length) {
    if (length > 8192 && osName_ == "EPOC")
        throw InvalidSettingError("Limited to 8192 on EPOC");
    txLen_ = length;
}

void SerialConfig::setRxLen(int length) {
    if (length > 8192 && osName_ == "EPOC")
        throw InvalidSettingError("Limited to 8192 on EPOC");
    rxLen_ = length;
}

int SerialConfig::getBitRateIndex(int number) {
    for (size_t i = 0; i < bitRateNumbers.size(); ++i)
        if (bitRateNumbers[i] == number)
            return int(i);
    return -1;
}

int SerialConfig::getBitRateNumber(int index) const {
    if (bitRate_ > 30)
        return bitRate_;
    // 15 to 30 are neither an index nor a literal rate.
    if (index < 0 || index >= int(bitRateNumbers.size()))
        throw InvalidSettingError("Invalid Serial Port Bit Rate");
    return bitRateNumbers[size_t(index)];
}

std::string SerialConfig::getSettingsString() const {
    const std::string sep = " / ";
    std::string s = std::to_string(getBitRateNumber(bitRate_));
    s += sep;
    s += (parity_ >= 0 && parity_ < int(parityNames.size())) ? parityNames[size_t(parity_)] : "?";
    s += sep;
    s += char('5' + dataBits_);
    s += sep;
    s += char('1' + stopBits_);
    s += sep;
    if (handshake_ & HS_SPLIT_MASK) {
        if (handshake_ & HS_HARD_IN)
            s += " HI";
        if (handshake_ & HS_HARD_OUT)
            s += " HO";
        if (handshake_ & HS_SOFT_IN)
            s += " SI";
        if (handshake_ & HS_SOFT_OUT)
            s += " SO";
    } else if (osName_ == "Mac OS" && handshake_ == HS_CTSRTS) {
        s += "CTS-DTR";
    } else if (handshake_ >= 0 && handshake_ < int(handshakeNames.size())) {
        s += handshakeNames[size_t(handshake_)];
    }
    return s;
}

} // namespace Direduva
