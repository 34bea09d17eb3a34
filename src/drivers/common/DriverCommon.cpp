#include "DriverCommon.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace vazcommon {

namespace {

// The calling thread's last error. Plain storage on purpose: mingw-w64's emulated thread-local storage
// may free a thread's block before the destructors of its thread_local objects run, so an object with
// a destructor here (a std::string) could crash every reading thread as it ends on Windows.
constexpr std::size_t kLastErrorCapacity = 1024;
thread_local char tlsLastError[kLastErrorCapacity];
thread_local std::size_t tlsLastErrorLength = 0;

void keepLastError(const std::string& text) {
    tlsLastErrorLength = std::min(text.size(), kLastErrorCapacity);
    std::memcpy(tlsLastError, text.data(), tlsLastErrorLength);
}

// The standard rates, in the order of the indexes VazConfig.bitRate may hold.
constexpr int32_t kBitRates[] = {110,   150,   300,   600,    1200,   2400,   4800,  9600,
                                 19200, 38400, 57600, 115200, 230400, 460800, 921600};
constexpr int32_t kLowestLiteralRate = 31;

} // namespace

void setLastError(std::string text) {
    keepLastError(text);
}

int32_t failWith(int32_t code, std::string text) {
    keepLastError(text);
    return code;
}

int32_t failNotOpen(VazHandle h) {
    return failWith(VAZ_FAIL, "the port is not open (handle " + std::to_string(h) + ")");
}

int32_t copyText(const std::string& text, char* buffer, int32_t n) {
    if (!buffer || n <= 0)
        return VAZ_FAIL;
    const std::size_t k = std::min(text.size(), std::size_t(n - 1));
    std::memcpy(buffer, text.data(), k);
    buffer[k] = '\0';
    return int32_t(k);
}

int32_t lastErrorText(char* buffer, int32_t n) {
    if (tlsLastErrorLength == 0) {
        if (buffer && n > 0)
            buffer[0] = '\0';
        return 0;
    }
    return copyText(std::string(tlsLastError, tlsLastErrorLength), buffer, n);
}

int32_t bitRateOf(int32_t code) {
    constexpr int32_t count = int32_t(std::size(kBitRates));
    if (code >= 0 && code < count)
        return kBitRates[code];
    return code >= kLowestLiteralRate ? code : 0;
}

int32_t reportPorts(const std::vector<PortEntry>& ports, VazAddPortNameFn addPortName,
                    VazAddPortInfoFn addPortInfo, void* ctx) {
    for (const PortEntry& p : ports) {
        if (addPortName)
            addPortName(ctx, p.name.c_str());
        if (addPortInfo && (!p.manufacturer.empty() || !p.description.empty()))
            addPortInfo(ctx, p.name.c_str(), p.manufacturer.c_str(), p.description.c_str());
    }
    return int32_t(ports.size());
}

DeviceWatcher::~DeviceWatcher() {
    stopThread();
}

int32_t DeviceWatcher::start(VazDeviceNotificationFn fn, void* ctx, std::chrono::milliseconds period,
                             Poll poll) {
    if (!fn)
        return failWith(VAZ_FAIL, "no notification callback given");
    std::lock_guard reg(registration_);
    stopThread();
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        fn_ = fn;
        ctx_ = ctx;
        stopping_ = false;
        generation = ++generation_;
    }
    try {
        thread_ = std::thread(
            [this, generation, period, poll = std::move(poll)] { run(generation, period, poll); });
    } catch (const std::system_error& e) {
        std::lock_guard lock(mutex_);
        fn_ = nullptr;
        return failWith(VAZ_FAIL, std::string("cannot start the device watcher: ") + e.what());
    }
    return VAZ_OK;
}

int32_t DeviceWatcher::stop(VazDeviceNotificationFn fn, void* ctx) {
    std::lock_guard reg(registration_);
    {
        std::lock_guard lock(mutex_);
        if (!fn_ || fn_ != fn || ctx_ != ctx)
            return failWith(VAZ_FAIL, "this callback is not registered");
    }
    stopThread();
    return VAZ_OK;
}

void DeviceWatcher::stopThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        fn_ = nullptr;
        ctx_ = nullptr;
        wake_.notify_all();
    }
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach(); // stopped from inside the callback: the thread ends on its own
        else
            thread_.join();
    }
}

void DeviceWatcher::run(std::uint64_t generation, std::chrono::milliseconds period, const Poll& poll) {
    std::unique_lock lock(mutex_);
    while (current(generation)) {
        wake_.wait_for(lock, period);
        if (!current(generation))
            break;
        lock.unlock();
        const std::vector<Notice> notices = poll();
        lock.lock();
        // The callback runs without the lock (it may unregister); each call checks that it still may.
        for (const Notice& n : notices) {
            if (!current(generation))
                break;
            VazDeviceNotificationFn fn = fn_;
            void* ctx = ctx_;
            lock.unlock();
            fn(ctx, n.event, n.name.c_str());
            lock.lock();
        }
    }
}

} // namespace vazcommon
