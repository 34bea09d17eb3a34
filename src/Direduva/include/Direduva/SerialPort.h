#pragma once

#include <Direduva/SerialConfig.h>

#include <cstdint>
#include <span>
#include <string>

namespace Direduva {

// Receives the status code of a failed rxReadyCount (SerialPort::RXREADYCOUNT).
class ErrorStatusHandler {
public:
    virtual ~ErrorStatusHandler() = default;
    virtual void errorStatus(int status) = 0;
};

// One serial port. Failures raise PortError (PortHangupError when the device went away).
class SerialPort {
public:
    static constexpr int RXREADYCOUNT = 10;

    virtual ~SerialPort() = default;

    virtual void close() = 0;
    virtual void configure() = 0;
    // The next byte 0..255, or -1 when nothing is waiting. Throws PortHangupError when the device
    // hung up (far end closed, adapter unplugged): the caller should close the port.
    virtual int getByte() = 0;
    virtual const SerialConfig& getConfig() const = 0;
    virtual int getData(std::span<std::uint8_t> buffer) = 0;
    virtual int getData(std::span<std::uint8_t> buffer, int offset, int length) = 0;
    virtual std::string getLibVer() = 0;
    virtual std::string getName() const = 0;
    virtual int getPortNum() const = 0;
    virtual int getTimeoutRx() = 0;
    virtual int getTimeoutTx() = 0;
    virtual bool isSupported(const std::string& feature) const = 0;
    virtual void putByte(std::uint8_t b) = 0;
    virtual void putData(std::span<const std::uint8_t> buffer) = 0;
    virtual void putData(std::span<const std::uint8_t> buffer, int count) = 0;
    virtual void putData(std::span<const std::uint8_t> buffer, int offset, int count) = 0;
    virtual void putString(const std::string& text) = 0;
    virtual void rxFlush() = 0;
    virtual bool rxOverflow() = 0;
    virtual int rxReadyCount() = 0;
    virtual void sendBreak(int duration) = 0;
    virtual void setConfig(const SerialConfig& config) = 0;
    virtual void setDTR(bool on) = 0;
    virtual void setName(const std::string& name) = 0;
    virtual void setRTS(bool on) = 0;
    virtual void setTimeoutRx(int ms) = 0;
    virtual void setTimeoutTx(int ms) = 0;
    virtual bool sigBreak() = 0;
    virtual bool sigCD() = 0;
    virtual bool sigCTS() = 0;
    virtual bool sigDSR() = 0;
    virtual bool sigFrameErr() = 0;
    virtual bool sigOverrun() = 0;
    virtual bool sigParityErr() = 0;
    virtual bool sigRing() = 0;
    virtual int txBufCount() = 0;
    virtual void txDrain() = 0;
    virtual void txFlush() = 0;
};

} // namespace Direduva
