#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace Direduva {

// Settings of one serial port: which port, bit rate, character framing, handshake, buffer sizes.
// Every validating setter refuses a bad value with InvalidSettingError and keeps the old value.
// Texts and byte strings are UTF-8 (the platform's default encoding on Linux; the Windows driver
// converts them).
class SerialConfig {
public:
    // Handshake
    static constexpr int HS_NONE = 0;
    static constexpr int HS_XONXOFF = 1;
    static constexpr int HS_CTSRTS = 2;
    static constexpr int HS_CTSDTR = 2;
    static constexpr int HS_DSRDTR = 3;
    static constexpr int HS_HARD_IN = 0x10;
    static constexpr int HS_HARD_OUT = 0x20;
    static constexpr int HS_SOFT_IN = 0x40;
    static constexpr int HS_SOFT_OUT = 0x80;
    static constexpr int HS_SPLIT_MASK = 0xF0;
    // Bit-rate indices
    static constexpr int BR_110 = 0;
    static constexpr int BR_150 = 1;
    static constexpr int BR_300 = 2;
    static constexpr int BR_600 = 3;
    static constexpr int BR_1200 = 4;
    static constexpr int BR_2400 = 5;
    static constexpr int BR_4800 = 6;
    static constexpr int BR_9600 = 7;
    static constexpr int BR_19200 = 8;
    static constexpr int BR_38400 = 9;
    static constexpr int BR_57600 = 10;
    static constexpr int BR_115200 = 11;
    static constexpr int BR_230400 = 12;
    static constexpr int BR_460800 = 13;
    static constexpr int BR_921600 = 14;
    // Parity
    static constexpr int PY_NONE = 0;
    static constexpr int PY_ODD = 1;
    static constexpr int PY_EVEN = 2;
    static constexpr int PY_MARK = 3;
    static constexpr int PY_SPACE = 4;
    // Data bits
    static constexpr int LN_5BITS = 0;
    static constexpr int LN_6BITS = 1;
    static constexpr int LN_7BITS = 2;
    static constexpr int LN_8BITS = 3;
    // Stop bits
    static constexpr int ST_1BITS = 0;
    static constexpr int ST_2BITS = 1;
    // Power mode
    static constexpr int PWR_STANDBY = 0;
    static constexpr int PWR_ACTIVE = 1;

    static constexpr std::array<const char*, 4> handshakeNames{"NONE", "XON-XOFF", "CTS-RTS", "DSR-DTR"};
    static constexpr std::array<int, 15> bitRateNumbers{
        110, 150, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    static constexpr std::array<const char*, 5> parityNames{"NONE", "ODD", "EVEN", "MARK", "SPACE"};

    // "COM1", base name "/dev/ttyS".
    SerialConfig();
    // Port number only, base name "/dev/ttyS".
    explicit SerialConfig(int port);
    // Port number and buffer lengths (stored unchecked), base name "/dev/ttyS".
    SerialConfig(int port, int txLen, int rxLen);
    // The port by name, e.g. "COM3" or "/dev/ttyUSB0". The form the application uses.
    explicit SerialConfig(const std::string& name);

    SerialConfig copy() const { return *this; }

    int getPort() const { return port_; }
    const std::string& getPortNameString() const { return sPortName_; }
    const std::string& getPortName() const { return portName_; }
    const std::string& getBaseName() const { return baseName_; }
    int getTxLen() const { return txLen_; }
    int getRxLen() const { return rxLen_; }
    int getBitRate() const { return bitRate_; }
    int getParity() const { return parity_; }
    int getDataBits() const { return dataBits_; }
    int getStopBits() const { return stopBits_; }
    int getHandshake() const { return handshake_; }
    bool getHardFlow() const { return hardFlow_; }
    bool getDisableActiveLink() const { return disableActiveLink_; }
    const std::string& getOsName() const { return osName_; }

    void setPortName(const std::string& name);
    void setBaseName(const std::string& name) { baseName_ = name; }
    void setHardFlow(bool on) { hardFlow_ = on; }
    void setDisableActiveLink(bool on) { disableActiveLink_ = on; }

    void setBitRate(int bitRate);   // 0..921600: an index 0..14 or a literal rate above 30
    void setDataBits(int dataBits); // LN_*
    void setParity(int parity);     // PY_*
    void setStopBits(int stopBits); // ST_*
    void setHandshake(int handshake);
    void setPortNum(int port);
    void setTxLen(int length);
    void setRxLen(int length);

    // The first index whose table rate equals number, or -1.
    static int getBitRateIndex(int number);
    // The literal rate when bitRate is above 30, otherwise the table rate of index. Throws
    // InvalidSettingError("Invalid Serial Port Bit Rate") for an index outside the table.
    int getBitRateNumber(int index) const;
    bool validBitRateIndex() const { return bitRate_ >= 0 && bitRate_ < int(bitRateNumbers.size()); }

    // "9600 / NONE / 8 / 1 / NONE"
    std::string getSettingsString() const;

    // The operating system's own name as reported to a settings record ("Linux", "Windows 10", ...).
    static std::string systemOsName();
    // For tests of the platform rules: the name the validation rules look at.
    void setOsNameForTest(const std::string& name) { osName_ = name; }

private:
    int32_t port_ = 0;
    std::string sPortName_;
    std::string portName_;
    std::string baseName_;
    int32_t txLen_ = 4096;
    int32_t rxLen_ = 4096;
    int32_t bitRate_ = BR_9600;
    int32_t parity_ = PY_NONE;
    int32_t dataBits_ = LN_8BITS;
    int32_t stopBits_ = ST_1BITS;
    int32_t handshake_ = HS_NONE;
    bool hardFlow_ = true;
    std::string osName_ = systemOsName();
    bool disableActiveLink_ = false;

    friend class SerialPortLocal;
};

} // namespace Direduva
