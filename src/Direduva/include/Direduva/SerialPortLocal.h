#pragma once

#include <Direduva/Errors.h>
#include <Direduva/PortDriverInfo.h>
#include <Direduva/SerialConfig.h>
#include <Direduva/SerialPort.h>

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace Direduva {

// Called (from a driver thread) when a device arrives or goes away.
using DeviceNotificationCallback = std::function<void()>;

// An open serial port, served by the native driver library "vazEdo" that the library loads at
// first use. Constructing from a settings record opens the port; the destructor closes it.
//
// Reads are non-blocking: getByte returns -1 when nothing waits and throws PortHangupError once
// the device has hung up (every later read of that port throws it again until it is closed).
class SerialPortLocal : public SerialPort {
public:
    static constexpr int buildNum = 9233;

    // Opens the port named by config (throws PortError with the driver's reason).
    explicit SerialPortLocal(const SerialConfig& config);
    // Loads the driver when needed; does not open. The record names the platform's default device.
    SerialPortLocal();
    ~SerialPortLocal() override;
    SerialPortLocal(const SerialPortLocal&) = delete;
    SerialPortLocal& operator=(const SerialPortLocal&) = delete;

    // ---- SerialPort
    void close() override;
    void configure() override;
    int getByte() override;
    const SerialConfig& getConfig() const override { return config_; }
    int getData(std::span<std::uint8_t> buffer) override;
    int getData(std::span<std::uint8_t> buffer, int offset, int length) override;
    std::string getLibVer() override;
    std::string getName() const override { return name_; }
    int getPortNum() const override { return port_; }
    int getTimeoutRx() override;
    int getTimeoutTx() override;
    bool isSupported(const std::string& feature) const override { return supports(feature); }
    void putByte(std::uint8_t b) override;
    void putData(std::span<const std::uint8_t> buffer) override;
    void putData(std::span<const std::uint8_t> buffer, int count) override;
    void putData(std::span<const std::uint8_t> buffer, int offset, int count) override;
    void putString(const std::string& text) override;
    void rxFlush() override;
    bool rxOverflow() override;
    int rxReadyCount() override;
    void sendBreak(int duration) override;
    void setConfig(const SerialConfig& config) override;
    void setDTR(bool on) override;
    void setName(const std::string& name) override { name_ = name; }
    void setRTS(bool on) override;
    void setTimeoutRx(int ms) override;
    void setTimeoutTx(int ms) override;
    bool sigBreak() override;
    bool sigCD() override;
    bool sigCTS() override;
    bool sigDSR() override;
    bool sigFrameErr() override;
    bool sigOverrun() override;
    bool sigParityErr() override;
    bool sigRing() override;
    int txBufCount() override;
    void txDrain() override;
    void txFlush() override;

    // ---- More of the port
    void configure(SerialConfig& config);
    bool isOpen() const { return isOpen_; }
    // Blocks until a read would find bytes (or the hang-up), wakeWait() is called, or `ms`
    // milliseconds pass (ms < 0: no limit). True when something can be read; throws PortHangupError
    // when the device hung up and nothing is left, PortError on failure.
    bool waitRx(int ms);
    // Ends the current (or the next) waitRx at once. Safe from any thread while the port is open.
    void wakeWait();
    // True after a read has reported that the device hung up.
    bool isHungUp() const { return hungUp_; }
    std::string getPortName() const { return config_.getPortName(); }
    std::string getName(int handle) const;
    int getBitRate() const { return config_.getBitRate(); }
    int getDataBits() const { return config_.getDataBits(); }
    int getParity() const { return config_.getParity(); }
    int getStopBits() const { return config_.getStopBits(); }
    int getHandshake() const { return config_.getHandshake(); }
    void setBitRate(int v) { config_.setBitRate(v); }
    void setDataBits(int v) { config_.setDataBits(v); }
    void setParity(int v) { config_.setParity(v); }
    void setStopBits(int v) { config_.setStopBits(v); }
    void setHandshake(int v) { config_.setHandshake(v); }
    void setErrorStatusHandler(ErrorStatusHandler* handler) { esh_ = handler; }
    bool sendSinceTxBufEmpty() const { return wrSinceTxBufEmpty_; }
    void clearSendSinceTxBufEmpty() { wrSinceTxBufEmpty_ = false; }
    bool readSinceRxBufCheck() const { return rdSinceRxBufCheck_; }
    void clearReadSinceRxBufCheck() { rdSinceRxBufCheck_ = false; }
    // Closes and opens the port again with the same record.
    void reset();
    void resetPortDriver(const SerialConfig& config);
    int getPowerMode();
    void setPowerMode(int mode);

    // ---- Library-wide
    // Whether the driver library was found, loaded and matches this library's interface version.
    static bool isLibraryLoaded();
    // Why it was not loaded (empty when it was).
    static std::string libraryLoadError();
    // The file the driver was loaded from (empty when not loaded).
    static std::string libraryPath();
    static int getBuildNum() { return buildNum; }
    static int getMaxBitRate();
    static bool supports(const std::string& feature);
    static std::string osName();
    static std::string osArch();
    static bool osFamilyWindows();
    // Where the library's diagnostics go; standard output by default, nullptr silences them.
    // Takes effect for lines written after the call (set it before the first use to move the banner).
    static void setDiagnosticOutput(std::ostream* out);

    // ---- Port discovery (process-wide lists)
    static void addPortName(const std::string& name);
    static void addPortInfo(const std::string& name, const std::string& manufacturer,
                            const std::string& description);
    static std::vector<std::string> getPortList();
    static std::vector<PortDriverInfo> getDriverInfoList();
    // Network ports: "tcp://HOST:PORT" (a raw byte stream) and "rfc2217://HOST:PORT" (a serial port
    // behind a device server). isNetworkPortName: the name has one of these schemes (right or not);
    // checkPortName: empty when the name is usable as a port name, else why not.
    static bool isNetworkPortName(const std::string& name);
    static std::string checkPortName(const std::string& name);
    // Ends the opens of `name` that other threads are waiting in (a connection to a host that does not
    // answer): they throw their usual PortError soon after. False when none was running or the driver
    // cannot end one. Any thread.
    static bool abortOpen(const std::string& name);
    static int getPortListMode();
    static void setPortListMode(int mode);

    // ---- Device notifications
    static void registerDeviceNotification(DeviceNotificationCallback callback);
    static void unregisterDeviceNotification();
    // Entry of the driver's notices: writes "Direduva.deviceNotification" and calls the callback.
    static void deviceNotification();

private:
    void open();
    void checkLine(const char* op, const char* feature) const;
    void applyTimeouts();
    // The message of a hang-up seen by op; for a network port with the driver's reason.
    std::string hangupText(const char* op) const;

    ErrorStatusHandler* esh_ = nullptr;
    int port_ = -1;
    std::string name_ = "Serial Port";
    SerialConfig config_;
    bool isOpen_ = false;
    std::atomic<bool> hungUp_{false};
    std::atomic<bool> wrSinceTxBufEmpty_{false};
    std::atomic<bool> rdSinceRxBufCheck_{false};
};

} // namespace Direduva
