#pragma once

// Key injection on Windows through SendInput. Chords of the configured layout are decoded to their
// characters and typed with the keys of the keyboard layout active in the foreground window
// (VkKeyScanExW); function and navigation keys have fixed virtual keys; ALT + numeric-pad codes are
// typed as real ALT + numeric-pad keys.

#include "../ChordDecoder.h"
#include "../KeyInjector.h"

#include <map>
#include <mutex>
#include <vector>

namespace vornal::platform {

class WindowsInjector : public KeyInjector {
public:
    explicit WindowsInjector(const CharChords& layout);
    ~WindowsInjector() override;

    std::optional<bool> capsLockOn() override;
    std::string name() const override { return "Windows (SendInput)"; }
    // The user's own Ctrl, Alt, Shift, Windows keys and AltGr (GetAsyncKeyState), between our keys.
    std::optional<bool> userModifiersDown() override;
    // No foreground window, or only the desktop's: the keys would go nowhere, or to the desktop's icons.
    std::optional<bool> hasFocusTarget() override;
    unsigned long focusWindow() override;

protected:
    void pressKey(int code) override;
    void releaseKey(int code) override;
    // As a Unicode character (KEYEVENTF_UNICODE), whatever the foreground window's layout.
    void typeChar(char32_t ch) override;

private:
    struct Down {
        std::vector<unsigned short> vks; // released in reverse
        char32_t unicode = 0;            // typed as a Unicode character instead of keys
        bool swallowSpace = false; // the accent key is no dead key here: the SPACE after it is not typed
    };
    void send(unsigned short vk, bool press);
    void sendUnicode(char32_t ch, bool press);
    Down keysFor(char32_t ch, bool dead);
    void put(int code, Down d);
    void take(int code);

    ChordDecoder decoder_;
    std::map<int, Down> down_;
    bool altDown_ = false; // the real ALT key is down for a numeric-pad code
    bool swallowSpace_ = false;
    std::mutex mutex_;
};

} // namespace vornal::platform
