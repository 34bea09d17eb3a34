#pragma once

// Key injection: synthetic key presses and releases of the key maps' virtual key codes, delivered to
// whichever window has the keyboard focus. One interface, one backend per platform (x11/, windows/)
// and a recording fake (fake/) for tests. Qt-free so that the Windows backend cross-builds.

#include "KeyCodes.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

namespace vornal::platform {

class KeyInjector {
public:
    virtual ~KeyInjector() = default;
    KeyInjector() = default;
    KeyInjector(const KeyInjector&) = delete;
    KeyInjector& operator=(const KeyInjector&) = delete;

    // Presses / releases one key. Throws std::invalid_argument for a code that is not a key code of the
    // key maps, std::runtime_error when the platform refuses the event.
    void keyPress(int code);
    void keyRelease(int code);
    // Waits `ms` milliseconds after delivering what is pending. Returns early, with false, as soon as
    // `stop` is requested; true when the whole pause passed.
    virtual bool pause(int ms, std::stop_token stop);
    // The Caps Lock state, or none when the platform cannot tell.
    virtual std::optional<bool> capsLockOn() = 0;
    // "X11 (XTest) on :0", "Windows (SendInput)", ...
    virtual std::string name() const = 0;
    virtual bool isAvailable() const { return true; }

protected:
    // Called with a valid code only.
    virtual void pressKey(int code) = 0;
    virtual void releaseKey(int code) = 0;
    // Delivers events still buffered (before a pause).
    virtual void flush() {}
};

// No key-injection backend works in this session; what() says why for each one tried.
class KeyInjectorUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The backend of this platform for the given layout (the complete key map of the configured keyboard
// type: the backend decodes chords back to the characters they mean and types those on the layout that
// is really active). Throws KeyInjectorUnavailable.
std::unique_ptr<KeyInjector> createKeyInjector(const CharChords& layout);

} // namespace vornal::platform
