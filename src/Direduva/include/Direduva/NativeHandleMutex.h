#pragma once

#include <mutex>

namespace Direduva {

// The one process-wide lock held around the driver's open, configure and close calls.
class NativeHandleMutex {
public:
    static NativeHandleMutex& getInstance();

    void lock() { m_.lock(); }
    void unlock() { m_.unlock(); }

    NativeHandleMutex(const NativeHandleMutex&) = delete;
    NativeHandleMutex& operator=(const NativeHandleMutex&) = delete;

private:
    NativeHandleMutex() = default;
    std::mutex m_;
};

} // namespace Direduva
