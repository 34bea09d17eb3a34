#pragma once

#include "platform/hotkey/GlobalHotkey.h"

#include <mutex>

namespace vornal::platform {

// Records the chord it was given; press() acts as the user pressing it.
class FakeHotkey : public GlobalHotkey {
public:
    std::string name() const override { return "fake"; }
    std::string grab(const HotkeyChord& chord, Callback onPress) override {
        std::lock_guard lock(mutex_);
        if (chord.key == refuse)
            return "the combination is taken by another program";
        chord_ = chord;
        callback_ = std::move(onPress);
        return {};
    }
    void release() override {
        std::lock_guard lock(mutex_);
        callback_ = nullptr;
    }
    // Presses the chord: true when one was grabbed.
    bool press() {
        Callback cb;
        {
            std::lock_guard lock(mutex_);
            cb = callback_;
        }
        if (cb)
            cb();
        return bool(cb);
    }
    bool grabbed() const {
        std::lock_guard lock(mutex_);
        return bool(callback_);
    }
    HotkeyChord chord() const {
        std::lock_guard lock(mutex_);
        return chord_;
    }
    // A key whose grab fails, to test the message.
    std::string refuse;

private:
    mutable std::mutex mutex_;
    HotkeyChord chord_;
    Callback callback_;
};

} // namespace vornal::platform
