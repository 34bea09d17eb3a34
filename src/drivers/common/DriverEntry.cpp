// The C entry points of every vazEdo driver, defined once: network names and handles go to
// src/drivers/net, everything else to the driver's own functions (DriverEntry.h). Compiled into each
// driver library as an object library, so that the exported functions are always part of it.
#include "DriverEntry.h"
#include "DriverCommon.h"

#include "NetDriver.h"

using vazcommon::copyText;

extern "C" {

VAZ_API int32_t VAZ_CALL vazAbiVersion(void) {
    return VAZ_ABI_VERSION;
}

VAZ_API int32_t VAZ_CALL vazSerOpenPort(VazConfig* config) {
    if (config && vaznet::isNetName(config->portName))
        return vaznet::openPort(config);
    return vazdriver::openPort(config);
}

// One byte is a read of one byte: the same read path, the same results, as vazSerGetData.
VAZ_API int32_t VAZ_CALL vazSerGetByte(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::getByte(h);
    uint8_t b = 0;
    const int32_t read = vazdriver::getData(h, &b, 1);
    return vazcommon::byteFromRead(read, b);
}

VAZ_API int32_t VAZ_CALL vazSerGetData(VazHandle h, uint8_t* buffer, int32_t n) {
    if (vaznet::isNetHandle(h))
        return vaznet::getData(h, buffer, n);
    return vazdriver::getData(h, buffer, n);
}

VAZ_API int32_t VAZ_CALL vazSerConfigure(VazHandle h, const VazConfig* config) {
    if (vaznet::isNetHandle(h))
        return vaznet::configure(h, config);
    return vazdriver::configure(h, config);
}

VAZ_API int32_t VAZ_CALL vazSerClosePort(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::closePort(h);
    return vazdriver::closePort(h);
}

VAZ_API int32_t VAZ_CALL vazSerWaitRx(VazHandle h, int32_t ms) {
    if (vaznet::isNetHandle(h))
        return vaznet::waitRx(h, ms);
    return vazdriver::waitRx(h, ms);
}

VAZ_API int32_t VAZ_CALL vazSerWakeWait(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::wakeWait(h);
    return vazdriver::wakeWait(h);
}

VAZ_API int32_t VAZ_CALL vazSerPutByte(VazHandle h, uint8_t byte) {
    if (vaznet::isNetHandle(h))
        return vaznet::putByte(h, byte);
    return vazdriver::putByte(h, byte);
}

VAZ_API int32_t VAZ_CALL vazSerPutData(VazHandle h, const uint8_t* buffer, int32_t n) {
    if (vaznet::isNetHandle(h))
        return vaznet::putData(h, buffer, n);
    return vazdriver::putData(h, buffer, n);
}

VAZ_API int32_t VAZ_CALL vazSerRxReadyCount(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::rxReadyCount(h);
    return vazdriver::rxReadyCount(h);
}

VAZ_API int32_t VAZ_CALL vazSerTxBufCount(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::txBufCount(h);
    return vazdriver::txBufCount(h);
}

VAZ_API int32_t VAZ_CALL vazSerRxFlush(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::rxFlush(h);
    return vazdriver::rxFlush(h);
}

VAZ_API int32_t VAZ_CALL vazSerTxFlush(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::txFlush(h);
    return vazdriver::txFlush(h);
}

VAZ_API int32_t VAZ_CALL vazSerTxDrain(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::txDrain(h);
    return vazdriver::txDrain(h);
}

VAZ_API int32_t VAZ_CALL vazSerSetDTR(VazHandle h, int32_t on) {
    if (vaznet::isNetHandle(h))
        return vaznet::setDTR(h, on);
    return vazdriver::setDTR(h, on);
}

VAZ_API int32_t VAZ_CALL vazSerSetRTS(VazHandle h, int32_t on) {
    if (vaznet::isNetHandle(h))
        return vaznet::setRTS(h, on);
    return vazdriver::setRTS(h, on);
}

VAZ_API int32_t VAZ_CALL vazSerSendBreak(VazHandle h, int32_t duration) {
    if (vaznet::isNetHandle(h))
        return vaznet::sendBreak(h, duration);
    return vazdriver::sendBreak(h, duration);
}

VAZ_API int32_t VAZ_CALL vazSerSigCTS(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::sigCTS(h);
    return vazdriver::sigCTS(h);
}

VAZ_API int32_t VAZ_CALL vazSerSigDSR(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::sigDSR(h);
    return vazdriver::sigDSR(h);
}

VAZ_API int32_t VAZ_CALL vazSerSigCD(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::sigCD(h);
    return vazdriver::sigCD(h);
}

VAZ_API int32_t VAZ_CALL vazSerSigRing(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::sigRing(h);
    return vazdriver::sigRing(h);
}

VAZ_API int32_t VAZ_CALL vazSerSigBreak(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::sigBreak(h);
    return vazdriver::sigBreak(h);
}

VAZ_API int32_t VAZ_CALL vazSerSigFrameErr(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::sigFrameErr(h);
    return vazdriver::sigFrameErr(h);
}

VAZ_API int32_t VAZ_CALL vazSerSigOverrun(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::sigOverrun(h);
    return vazdriver::sigOverrun(h);
}

VAZ_API int32_t VAZ_CALL vazSerSigParityErr(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::sigParityErr(h);
    return vazdriver::sigParityErr(h);
}

VAZ_API int32_t VAZ_CALL vazSerRxOverflow(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::rxOverflow(h);
    return vazdriver::rxOverflow(h);
}

VAZ_API int32_t VAZ_CALL vazSerSetTimeoutRx(VazHandle h, int32_t ms) {
    if (vaznet::isNetHandle(h))
        return vaznet::setTimeoutRx(h, ms);
    return vazdriver::setTimeoutRx(h, ms);
}

VAZ_API int32_t VAZ_CALL vazSerSetTimeoutTx(VazHandle h, int32_t ms) {
    if (vaznet::isNetHandle(h))
        return vaznet::setTimeoutTx(h, ms);
    return vazdriver::setTimeoutTx(h, ms);
}

VAZ_API int32_t VAZ_CALL vazSerGetTimeoutRx(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::getTimeoutRx(h);
    return vazdriver::getTimeoutRx(h);
}

VAZ_API int32_t VAZ_CALL vazSerGetTimeoutTx(VazHandle h) {
    if (vaznet::isNetHandle(h))
        return vaznet::getTimeoutTx(h);
    return vazdriver::getTimeoutTx(h);
}

VAZ_API int32_t VAZ_CALL vazSerGetName(VazHandle h, char* buffer, int32_t n) {
    if (vaznet::isNetHandle(h))
        return vaznet::getName(h, buffer, n);
    return vazdriver::getName(h, buffer, n);
}

VAZ_API int32_t VAZ_CALL vazSerGetPortList(VazAddPortNameFn addPortName, VazAddPortInfoFn addPortInfo,
                                           void* ctx) {
    return vazdriver::getPortList(addPortName, addPortInfo, ctx);
}

VAZ_API int32_t VAZ_CALL vazSerRegisterDeviceNotification(VazDeviceNotificationFn fn, void* ctx) {
    return vazdriver::registerDeviceNotification(fn, ctx);
}

VAZ_API int32_t VAZ_CALL vazSerUnregisterDeviceNotification(VazDeviceNotificationFn fn, void* ctx) {
    return vazdriver::unregisterDeviceNotification(fn, ctx);
}

VAZ_API int32_t VAZ_CALL vazSerGetLibVer(char* buffer, int32_t n) {
    return copyText(vazdriver::kLibVersion, buffer, n);
}

VAZ_API int32_t VAZ_CALL vazSerGetLastErrorText(char* buffer, int32_t n) {
    return vazcommon::lastErrorText(buffer, n);
}

} // extern "C"
