#pragma once

// Key injection on Wayland through the virtual-keyboard protocol (zwp_virtual_keyboard_manager_v1) of
// wlroots compositors. The backend uploads a keymap of its own, built with libxkbcommon, in which every
// character to type sits on a key of its own; so whatever layout the user's keyboard has, a character is
// one key press. Characters not in the keymap yet (beyond printable ASCII) are added and the keymap is
// uploaded again. Modifier state is sent with the modifier keys.

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
    std::mutex mutex_;
};

} // namespace vornal::platform
