#include "KeyInjector.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace vornal::platform {

namespace {
void check(int code) {
    if (!isKnownKeyCode(code)) {
        std::string message = "invalid key code ";
        message += std::to_string(code);
        message += ": not a key of the keyboard maps";
        throw std::invalid_argument(message);
    }
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

void KeyInjector::typeCharacter(char32_t ch) {
    typeChar(ch);
}

void KeyInjector::typeChar(char32_t ch) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(ch));
    throw std::runtime_error(name() + " cannot type the character " + hex);
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
