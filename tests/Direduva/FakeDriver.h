// A scriptable vazEdo driver for the library's tests. The test reaches its state through the
// exported function fakeDriverState() of the loaded library.
#pragma once

#include <vazEdo.h>

#include <string>
#include <vector>

struct FakeDriverState {
    int openCode = 0;      // returned by vazSerOpenPort when not 0
    int configureCode = 0; // returned by vazSerConfigure
    int lastBitRate = -1;  // bitRate of the last vazSerConfigure
    int opens = 0, closes = 0, putDataCalls = 0, portListCalls = 0, unregisterCalls = 0;
    int putShort = 0;                            // vazSerPutData sends this many bytes fewer
    int lineValue = 0;                           // result of every line query
    int rxReady = 0;                             // result of vazSerRxReadyCount
    bool hangup = false;                         // reads report VAZ_HANGUP
    std::vector<int> rxData;                     // bytes vazSerGetByte hands out
    std::vector<std::string> ports;              // names reported by vazSerGetPortList
    std::vector<std::vector<std::string>> infos; // name, manufacturer, description
    int timeoutRx = 0, timeoutTx = 0;
    VazDeviceNotificationFn notify = nullptr;
    void* notifyCtx = nullptr;
};

extern "C" VAZ_API FakeDriverState* fakeDriverState();
