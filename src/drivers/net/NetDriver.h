// Network ports for the vazEdo drivers: "tcp://HOST:PORT" and "rfc2217://HOST:PORT" (NetPortName.h).
// Linked into the termios, Win32 and simulator drivers, whose entry points hand a network name or handle to
// the functions below; each has the meaning of the vazEdo.h entry point of the same name. Network handles lie
// in a range of their own (isNetHandle), apart from the drivers' serial handles.
//
// Only outgoing connections: nothing here listens.
#pragma once

#include <vazEdo.h>

namespace vaznet {

// Network handles are kNetHandleBase and above; serial handles stay below it.
constexpr VazHandle kNetHandleBase = 0x40000000;
inline bool isNetHandle(VazHandle h) {
    return h >= kNetHandleBase;
}
// Whether the name asks for a network port (it starts with tcp:// or rfc2217://).
bool isNetName(const char* name);

int32_t openPort(VazConfig* config);
// Ends every open of `name` in progress (vazSerAbortOpen): they fail within a few tens of milliseconds
// (a host name being looked up only once the lookup is done). The number of opens ended.
int32_t abortOpen(const char* name);
int32_t configure(VazHandle h, const VazConfig* config);
int32_t closePort(VazHandle h);
int32_t getByte(VazHandle h);
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
// Modem lines (rfc2217 only): 1, 0, -1.
int32_t sigCTS(VazHandle h);
int32_t sigDSR(VazHandle h);
int32_t sigCD(VazHandle h);
int32_t sigRing(VazHandle h);
// Line conditions notified by an rfc2217 server since the last query: 1, 0, -1.
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

} // namespace vaznet
