#include "FakeDriver.h"

#ifndef FAKE_ABI_VERSION
#define FAKE_ABI_VERSION VAZ_ABI_VERSION
#endif

namespace {
FakeDriverState state;
int lineQuery(VazHandle) {
    return state.lineValue;
}
} // namespace

extern "C" {

VAZ_API FakeDriverState* fakeDriverState() {
    return &state;
}
VAZ_API int32_t vazAbiVersion(void) {
    return FAKE_ABI_VERSION;
}

VAZ_API int32_t vazSerOpenPort(VazConfig* c) {
    if (state.openCode != 0)
        return state.openCode;
    ++state.opens;
    c->port = 5; // handle 4
    return 0;
}
VAZ_API int32_t vazSerConfigure(VazHandle, const VazConfig* c) {
    state.lastBitRate = c->bitRate;
    return state.configureCode;
}
VAZ_API int32_t vazSerClosePort(VazHandle) {
    ++state.closes;
    return 0;
}
VAZ_API int32_t vazSerGetByte(VazHandle) {
    if (state.hangup)
        return VAZ_HANGUP;
    if (state.rxData.empty())
        return VAZ_NO_DATA;
    const int b = state.rxData.front();
    state.rxData.erase(state.rxData.begin());
    return b;
}
VAZ_API int32_t vazSerGetData(VazHandle h, uint8_t* buffer, int32_t n) {
    int32_t i = 0;
    for (; i < n; ++i) {
        const int b = vazSerGetByte(h);
        if (b == VAZ_HANGUP)
            return i ? i : VAZ_HANGUP;
        if (b < 0)
            break;
        buffer[i] = uint8_t(b);
    }
    return i;
}
VAZ_API int32_t vazSerPutByte(VazHandle, uint8_t) {
    return 0;
}
VAZ_API int32_t vazSerPutData(VazHandle, const uint8_t*, int32_t n) {
    ++state.putDataCalls;
    return n - state.putShort;
}
VAZ_API int32_t vazSerRxReadyCount(VazHandle) {
    return state.rxReady;
}
VAZ_API int32_t vazSerTxBufCount(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerRxFlush(VazHandle h) {
    return lineQuery(h) == -1 ? -1 : 0;
}
VAZ_API int32_t vazSerTxFlush(VazHandle h) {
    return lineQuery(h) == -1 ? -1 : 0;
}
VAZ_API int32_t vazSerTxDrain(VazHandle h) {
    return lineQuery(h) == -1 ? -1 : 0;
}
VAZ_API int32_t vazSerSetDTR(VazHandle h, int32_t) {
    return lineQuery(h) == -1 ? -1 : 0;
}
VAZ_API int32_t vazSerSetRTS(VazHandle h, int32_t) {
    return lineQuery(h) == -1 ? -1 : 0;
}
VAZ_API int32_t vazSerSendBreak(VazHandle h, int32_t) {
    return lineQuery(h) == -1 ? -1 : 0;
}
VAZ_API int32_t vazSerSigCTS(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerSigDSR(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerSigCD(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerSigRing(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerSigBreak(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerSigFrameErr(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerSigOverrun(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerSigParityErr(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerRxOverflow(VazHandle h) {
    return lineQuery(h);
}
VAZ_API int32_t vazSerSetTimeoutRx(VazHandle, int32_t ms) {
    state.timeoutRx = ms;
    return 0;
}
VAZ_API int32_t vazSerSetTimeoutTx(VazHandle, int32_t ms) {
    state.timeoutTx = ms;
    return 0;
}
VAZ_API int32_t vazSerGetTimeoutRx(VazHandle) {
    return state.timeoutRx;
}
VAZ_API int32_t vazSerGetTimeoutTx(VazHandle) {
    return state.timeoutTx;
}
VAZ_API int32_t vazSerGetPortList(VazAddPortNameFn addName, VazAddPortInfoFn addInfo, void* ctx) {
    ++state.portListCalls;
    for (const auto& p : state.ports)
        addName(ctx, p.c_str());
    for (const auto& i : state.infos)
        addInfo(ctx, i[0].c_str(), i[1].c_str(), i[2].c_str());
    return int32_t(state.ports.size());
}
VAZ_API int32_t vazSerRegisterDeviceNotification(VazDeviceNotificationFn fn, void* ctx) {
    state.notify = fn;
    state.notifyCtx = ctx;
    return 0;
}
VAZ_API int32_t vazSerUnregisterDeviceNotification(VazDeviceNotificationFn, void*) {
    ++state.unregisterCalls;
    state.notify = nullptr;
    return 0;
}
VAZ_API int32_t vazSerWaitRx(VazHandle, int32_t) {
    if (state.hangup)
        return VAZ_HANGUP;
    return state.rxData.empty() ? 0 : 1;
}
VAZ_API int32_t vazSerWakeWait(VazHandle) {
    return 0;
}

} // extern "C"
