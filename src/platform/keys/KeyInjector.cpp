#include "KeyInjector.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vornal::platform {

namespace {
void check(int code) {
    if (!isKnownKeyCode(code))
        throw std::invalid_argument("invalid key code " + std::to_string(code) +
                                    ": not a key of the keyboard maps");
}
} // namespace

void KeyInjector::keyPress(int code) {
    check(code);
    pressKey(code);
}

void KeyInjector::keyRelease(int code) {
    check(code);
    releaseKey(code);
}

bool KeyInjector::pause(int ms, std::stop_token stop) {
    flush();
    if (ms > 0) {
        std::mutex m;
        std::condition_variable_any cv;
        std::unique_lock lock(m);
        cv.wait_for(lock, stop, std::chrono::milliseconds(ms), [] { return false; });
    }
    return !stop.stop_requested();
}

} // namespace vornal::platform
