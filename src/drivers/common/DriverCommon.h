// What every vazEdo driver shares, apart from its system calls: the table of open ports, the last
// error of each thread and its text, the loop that hands the port list to the library's callbacks,
// a polling device watcher and the table of standard bit rates.
#pragma once

#include <vazEdo.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vazcommon {

// ---- Last error of the calling thread ------------------------------------------------------------

void setLastError(std::string text);
// Records text as the calling thread's last error and returns code.
int32_t failWith(int32_t code, std::string text);
// Records "the port is not open (handle h)" and returns VAZ_FAIL.
int32_t failNotOpen(VazHandle h);
// vazSerGetLastErrorText: the text into buffer; its length, 0 when there is none.
int32_t lastErrorText(char* buffer, int32_t n);
// Copies text NUL-terminated into buffer of size n, cut to fit: the length copied, -1 without room.
int32_t copyText(const std::string& text, char* buffer, int32_t n);

// ---- Bit rates -----------------------------------------------------------------------------------

// The rate in bits per second that VazConfig.bitRate stands for: an index 0..14 into the standard
// rates, or a literal rate above 30. 0 when it is neither.
int32_t bitRateOf(int32_t code);

// ---- Open ports ------------------------------------------------------------------------------------

// Handles of open ports, 0 to Last. Not locked: the driver guards it with its own lock.
template <typename T, VazHandle Last = 0x3FFFFFFF> class HandleTable {
public:
    // Stores value under a fresh handle. Handles count up and wrap; one still in use is skipped.
    VazHandle add(T value) {
        while (entries_.count(next_))
            next_ = following(next_);
        const VazHandle h = next_;
        next_ = following(next_);
        entries_.emplace(h, std::move(value));
        return h;
    }
    T* find(VazHandle h) {
        auto it = entries_.find(h);
        return it == entries_.end() ? nullptr : &it->second;
    }
    // Removes the entry and hands it over; empty when h is not open.
    std::optional<T> take(VazHandle h) {
        auto it = entries_.find(h);
        if (it == entries_.end())
            return std::nullopt;
        std::optional<T> value(std::move(it->second));
        entries_.erase(it);
        return value;
    }
    std::size_t size() const { return entries_.size(); }
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }

private:
    // Handles stay below INT32_MAX: the library receives handle + 1.
    static VazHandle following(VazHandle h) { return h >= Last ? 0 : h + 1; }
    std::map<VazHandle, T> entries_;
    VazHandle next_ = 0;
};

// Open ports used from several threads at once: a call keeps its port alive while another thread
// closes it.
template <typename Port, VazHandle Last = 0x3FFFFFFF> struct PortTable {
    std::mutex mutex;                                 // held while looking up, adding or removing
    HandleTable<std::shared_ptr<Port>, Last> handles; // under mutex

    // The open port, or null with the last error set.
    std::shared_ptr<Port> find(VazHandle h) {
        std::lock_guard lock(mutex);
        if (auto* p = handles.find(h))
            return *p;
        failNotOpen(h);
        return nullptr;
    }
    // Removes the port from the table; null with the last error set when it is not open.
    std::shared_ptr<Port> take(VazHandle h) {
        std::lock_guard lock(mutex);
        if (auto p = handles.take(h))
            return std::move(*p);
        failNotOpen(h);
        return nullptr;
    }
};

// ---- Port list -------------------------------------------------------------------------------------

struct PortEntry {
    std::string name, manufacturer, description;
};

// vazSerGetPortList: hands each port to addPortName, and to addPortInfo where its maker or
// description is known. Call it without holding a driver lock: the callbacks may call back into
// the driver. Returns the number of ports.
int32_t reportPorts(const std::vector<PortEntry>& ports, VazAddPortNameFn addPortName,
                    VazAddPortInfoFn addPortInfo, void* ctx);

// ---- Device notices by polling ---------------------------------------------------------------------

// A thread that asks `poll` every period what came and went and hands each change to the registered
// callback, for systems without a notice of their own that a library can use (Win32 without a
// window, the simulator).
class DeviceWatcher {
public:
    struct Notice {
        int32_t event; // VAZ_DEVICE_ARRIVAL or VAZ_DEVICE_REMOVAL
        std::string name;
    };
    using Poll = std::function<std::vector<Notice>()>;

    DeviceWatcher() = default;
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;
    ~DeviceWatcher();

    // vazSerRegisterDeviceNotification: replaces an earlier registration and starts polling.
    int32_t start(VazDeviceNotificationFn fn, void* ctx, std::chrono::milliseconds period, Poll poll);
    // vazSerUnregisterDeviceNotification: returns once no further call of fn can happen (at once when
    // called from the callback itself). VAZ_FAIL when fn and ctx are not the registered callback.
    int32_t stop(VazDeviceNotificationFn fn, void* ctx);

private:
    void stopThread();
    void run(std::uint64_t generation, std::chrono::milliseconds period, const Poll& poll);
    bool current(std::uint64_t generation) const { return !stopping_ && generation == generation_; }

    std::mutex registration_; // serialises start and stop
    std::mutex mutex_;        // guards what follows
    std::condition_variable wake_;
    std::thread thread_;
    bool stopping_ = false;
    // A thread left running by a stop from its own callback ends when a newer one starts.
    std::uint64_t generation_ = 0;
    VazDeviceNotificationFn fn_ = nullptr;
    void* ctx_ = nullptr;
};

} // namespace vazcommon
