// The operations a driver provides for its own ports. The C entry points of vazEdo.h are defined once,
// in DriverEntry.cpp (linked into every driver): each hands a network name or handle to src/drivers/net
// and everything else to the function of the same name here, which the driver defines. Each has the
// meaning of the vazEdo.h entry point of the same name; a driver never sees a network handle.
//
// vazSerGetByte is built on getData: one read path and one mapping of its results per driver.
#pragma once

#include <vazEdo.h>

namespace vazdriver {

// The driver's name and version (vazSerGetLibVer).
extern const char* const kLibVersion;

int32_t openPort(VazConfig* config);
int32_t configure(VazHandle h, const VazConfig* config);
int32_t closePort(VazHandle h);
// Up to n bytes into buffer: the count (0 when none waits), VAZ_HANGUP, or VAZ_FAIL with the last error
// set. A read that fails for another reason than a hang-up is VAZ_FAIL, never "no data".
int32_t getData(VazHandle h, uint8_t* buffer, int32_t n);
int32_t waitRx(VazHandle h, int32_t ms);
int32_t wakeWait(VazHandle h);
int32_t putByte(VazHandle h, uint8_t byte);
int32_t putData(VazHandle h, const uint8_t* buffer, int32_t n);
int32_t rxReadyCount(VazHandle h);
int32_t txBufCount(VazHandle h);
int32_t rxFlush(VazHandle h);
int32_t txFlush(VazHandle h);
int32_t txDrain(VazHandle h);
int32_t setDTR(VazHandle h, int32_t on);
int32_t setRTS(VazHandle h, int32_t on);
int32_t sendBreak(VazHandle h, int32_t duration);
int32_t sigCTS(VazHandle h);
int32_t sigDSR(VazHandle h);
int32_t sigCD(VazHandle h);
int32_t sigRing(VazHandle h);
int32_t sigBreak(VazHandle h);
int32_t sigFrameErr(VazHandle h);
int32_t sigOverrun(VazHandle h);
int32_t sigParityErr(VazHandle h);
int32_t rxOverflow(VazHandle h);
int32_t setTimeoutRx(VazHandle h, int32_t ms);
int32_t setTimeoutTx(VazHandle h, int32_t ms);
int32_t getTimeoutRx(VazHandle h);
int32_t getTimeoutTx(VazHandle h);
int32_t getName(VazHandle h, char* buffer, int32_t n);
int32_t getPortList(VazAddPortNameFn addPortName, VazAddPortInfoFn addPortInfo, void* ctx);
int32_t registerDeviceNotification(VazDeviceNotificationFn fn, void* ctx);
int32_t unregisterDeviceNotification(VazDeviceNotificationFn fn, void* ctx);

} // namespace vazdriver

namespace vazcommon {

// vazSerGetByte from the result of reading one byte into b (read first, then call this: b is taken by
// value): the byte, VAZ_NO_DATA when none was read, else the (negative) result unchanged.
inline int32_t byteFromRead(int32_t read, uint8_t b) {
    if (read < 0)
        return read;
    return read == 1 ? int32_t(b) : VAZ_NO_DATA;
}

} // namespace vazcommon
