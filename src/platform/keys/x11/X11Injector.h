#pragma once

// Key injection on X11 through XTest, following the layout that is active in the X server (XKB): a
// chord of the configured layout is decoded to its character, the character's keysym is searched in
// the current group, and the real modifier keys of its shift level are pressed with it. An accent the
// layout has as a plain character is typed as that character (no dead key, no SPACE). Only characters
// the layout lacks are typed by lending spare keycodes (kept while in use, see Impl::borrow).

#include "../ChordDecoder.h"
#include "../KeyInjector.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vornal::platform {

class X11Injector : public KeyInjector {
public:
    // Connects to the display named by DISPLAY. Returns null and says why when there is no usable X
    // server (no DISPLAY, Wayland without XWayland, no XTEST or XKEYBOARD extension).
    static std::unique_ptr<X11Injector> open(const CharChords& layout, std::string* whyNot);
    ~X11Injector() override;

    // The shift level of every character is chosen with the locked modifiers taken into account, so
    // Caps Lock changes no character of the key maps: false. With the keyboard type ALL (characters
    // typed as themselves) a receiver may still capitalise letters beyond ASCII (µ): the Caps Lock state.
    std::optional<bool> capsLockOn() override;
    std::string name() const override;
    // The user's own modifier keys (the keyboard's state, without the keys this backend pressed).
    std::optional<bool> userModifiersDown() override;
    // No focus, PointerRoot or the root window: no window would receive the keys.
    std::optional<bool> hasFocusTarget() override;
    unsigned long focusWindow() override;
    void valueDone() override;

protected:
    void pressKey(int code) override;
    void releaseKey(int code) override;
    void flush() override;
    void typeChar(char32_t ch) override;

private:
    struct Impl;
    X11Injector(std::unique_ptr<Impl> impl, const CharChords& layout);
    std::unique_ptr<Impl> impl_;
    ChordDecoder decoder_;
    bool typesBeyondAscii_ = false; // the layout is ALL: every character an ALT code
    std::mutex mutex_;
};

} // namespace vornal::platform
