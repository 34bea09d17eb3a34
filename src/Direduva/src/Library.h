// Process-wide state of the serial library: platform, capabilities, the loaded driver.
#pragma once

#include <vazEdo.h>

#include <iosfwd>
#include <map>
#include <mutex>
#include <string>

namespace Direduva::detail {

// The driver's entry points, resolved by name. Optional ones may be null.
struct DriverApi {
    int32_t(VAZ_CALL* abiVersion)(void) = nullptr;
    int32_t(VAZ_CALL* openPort)(VazConfig*) = nullptr;
    int32_t(VAZ_CALL* configure)(VazHandle, const VazConfig*) = nullptr;
    int32_t(VAZ_CALL* closePort)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* getByte)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* getData)(VazHandle, uint8_t*, int32_t) = nullptr;
    int32_t(VAZ_CALL* putByte)(VazHandle, uint8_t) = nullptr;
    int32_t(VAZ_CALL* putData)(VazHandle, const uint8_t*, int32_t) = nullptr;
    int32_t(VAZ_CALL* rxReadyCount)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* txBufCount)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* rxFlush)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* txFlush)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* txDrain)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* setDTR)(VazHandle, int32_t) = nullptr;
    int32_t(VAZ_CALL* setRTS)(VazHandle, int32_t) = nullptr;
    int32_t(VAZ_CALL* sendBreak)(VazHandle, int32_t) = nullptr;
    int32_t(VAZ_CALL* sigCTS)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* sigDSR)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* sigCD)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* sigRing)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* sigBreak)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* sigFrameErr)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* sigOverrun)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* sigParityErr)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* rxOverflow)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* setTimeoutRx)(VazHandle, int32_t) = nullptr;
    int32_t(VAZ_CALL* setTimeoutTx)(VazHandle, int32_t) = nullptr;
    int32_t(VAZ_CALL* getTimeoutRx)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* getTimeoutTx)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* getPortList)(VazAddPortNameFn, VazAddPortInfoFn, void*) = nullptr;
    int32_t(VAZ_CALL* registerDeviceNotification)(VazDeviceNotificationFn, void*) = nullptr;
    int32_t(VAZ_CALL* unregisterDeviceNotification)(VazDeviceNotificationFn, void*) = nullptr;
    int32_t(VAZ_CALL* waitRx)(VazHandle, int32_t) = nullptr;
    int32_t(VAZ_CALL* wakeWait)(VazHandle) = nullptr;
    // optional
    int32_t(VAZ_CALL* getName)(VazHandle, char*, int32_t) = nullptr;
    int32_t(VAZ_CALL* getLibVer)(char*, int32_t) = nullptr;
    int32_t(VAZ_CALL* getLastErrorText)(char*, int32_t) = nullptr;
    int32_t(VAZ_CALL* resetPortDriver)(const VazConfig*) = nullptr;
    int32_t(VAZ_CALL* getPowerMode)(VazHandle) = nullptr;
    int32_t(VAZ_CALL* setPowerMode)(VazHandle, int32_t) = nullptr;
    int32_t(VAZ_CALL* abortOpen)(const char*) = nullptr;
};

struct Library {
    std::string osName;
    std::string osArch;
    std::string vazLib; // the name of the platform table; empty: platform not supported
    bool vazLibLoaded = false;
    std::string loadError;
    std::string loadedPath;
    int maxBitRate = 115200;
    std::string devName; // guarded by devNameMutex: setConfig may change it from any thread
    std::mutex devNameMutex;
    std::map<std::string, bool> caps;
    bool timedRead = false;
    bool osFamilyWindows = false;
    DriverApi api;
    void* handle = nullptr;

    bool cap(const std::string& name) const {
        auto it = caps.find(name);
        return it != caps.end() && it->second;
    }
};

// The library, started on first call (banner, platform, capabilities, driver load).
Library& library();
// The driver's entry points; throws PortError naming the load failure when there is no driver.
const DriverApi& driver();

// One diagnostic line (a line end is added).
void diag(const std::string& line);
// Where diag writes (nullptr: nowhere).
void setDiagStream(std::ostream* out);

// Platform helpers shared with the port code.
std::string hostOsName();
std::string hostOsArch();
bool selectLibraryName(Library& lib);
void setUpCapabilities(Library& lib);

} // namespace Direduva::detail
