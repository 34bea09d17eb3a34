#pragma once

// Key injection on Wayland through the virtual-keyboard protocol (zwp_virtual_keyboard_manager_v1) of
// wlroots compositors. The backend hands the compositor a keymap of its own (TypingKeymap): laid out
// like a real keyboard, with every character it types on a key of the writing block and the keys that
// mean themselves on their own codes, so that receivers that look at the physical key (Chromium,
// Electron) read the same character as those that look at the keysym (GTK, Qt). The keymap is handed
// over once, before the first key; only a character beyond it (rarer than Latin-1, Latin Extended-A and
// the euro sign) makes it grow, before the value that needs it (cannotType), and the grown keymap is
// confirmed by the compositor before the value's first key.
// Levels are chosen with modifier state sent alongside the key; modifier keys are pressed only for
// chords that mean a key (Ctrl+...).
//
// Every key event is confirmed by a round trip to the compositor, so a key reported as sent was
// processed by it; a compositor that is gone (or does not answer within a few seconds) is
// KeyInjectorLost at the first key after.

#include "../ChordDecoder.h"
#include "../KeyInjector.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vornal::platform {

class WaylandInjector : public KeyInjector {
public:
    // Connects to the compositor named by WAYLAND_DISPLAY. Returns null and says why when there is no
    // Wayland display or the compositor does not offer a virtual keyboard (GNOME and KDE don't).
    static std::unique_ptr<WaylandInjector> open(const CharChords& layout, std::string* whyNot);
    ~WaylandInjector() override;

    // The keymap is the backend's own and its lock state is never set: Caps Lock changes nothing.
    std::optional<bool> capsLockOn() override { return false; }
    std::string name() const override;
    // False once the compositor has closed the connection (checked without waiting).
    bool isAvailable() const override;
    // Before a value: every character of it that the keymap lacks is added now, and the keymap handed
    // over and confirmed, so that the keymap does not change while the value is typed. Refuses nothing.
    std::string cannotType(const std::u32string& text) override;

    // How long a key event may wait for the compositor's answer before it counts as gone.
    static constexpr int ANSWER_TIMEOUT_MS = 5000;
    // When the virtual keyboard is the seat's first, how long the windows get to take it up.
    static constexpr int FIRST_KEYBOARD_SETTLE_MS = 300;

protected:
    void pressKey(int code) override;
    void releaseKey(int code) override;
    void typeChar(char32_t ch) override;
    void flush() override;

private:
    struct Impl;
    WaylandInjector(std::unique_ptr<Impl> impl, const CharChords& layout);
    std::unique_ptr<Impl> impl_;
    ChordDecoder decoder_;
    mutable std::mutex mutex_;
};

} // namespace vornal::platform
