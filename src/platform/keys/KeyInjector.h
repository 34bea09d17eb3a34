#pragma once

// Key injection: synthetic key presses and releases of the key maps' virtual key codes, delivered to
// whichever window has the keyboard focus. One interface, one backend per platform (x11/, windows/)
// and a recording fake (fake/) for tests. Qt-free so that the Windows backend cross-builds.

#include "KeyCodes.h"

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

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
    // Types one character as itself (press and release), whatever key of the layout has it: the way
    // characters beyond the key maps are typed with the keyboard type ALL. Throws std::runtime_error
    // when this backend cannot type it.
    void typeCharacter(char32_t ch);
    // Waits `ms` milliseconds after delivering what is pending. Returns early, with false, as soon as
    // `stop` is requested; true when the whole pause passed.
    virtual bool pause(int ms, std::stop_token stop);
    // True when Caps Lock is on and can change what this backend types; false when it is off or this
    // backend types the same either way; none when the platform cannot tell.
    virtual std::optional<bool> capsLockOn() = 0;
    // "X11 (XTest) on :0", "Windows (SendInput)", ...
    virtual std::string name() const = 0;
    virtual bool isAvailable() const { return true; }

    // ---- what typing must wait for (asked between characters and before each value) ----
    // True while the user holds a modifier of their own (Ctrl, Alt, Shift, Super, AltGr): keys typed
    // now would become shortcuts in the target window. Keys this backend pressed itself do not count.
    // None when the platform cannot tell.
    virtual std::optional<bool> userModifiersDown() { return std::nullopt; }
    // True when some window has the keyboard focus; false when none has (keys would go nowhere). None
    // when the platform cannot tell.
    virtual std::optional<bool> hasFocusTarget() { return std::nullopt; }
    // The window that has the keyboard focus now, as a number only meaningful to this backend; 0 when
    // there is none or the platform cannot tell.
    virtual unsigned long focusWindow() { return 0; }
    // Before a value is typed: empty when this backend can type every character of `text`, else why
    // not (the characters named). A refused value is typed not at all.
    virtual std::string cannotType(const std::u32string& text) {
        (void)text;
        return {};
    }
    // A value has ended (typed whole, cut or lost): temporary state kept for it (lent keycodes) may go.
    virtual void valueDone() {}

protected:
    // Called with a valid code only.
    virtual void pressKey(int code) = 0;
    virtual void releaseKey(int code) = 0;
    virtual void typeChar(char32_t ch);
    // Delivers events still buffered (before a pause).
    virtual void flush() {}
};

// No key-injection backend works in this session; what() says why for each one tried.
class KeyInjectorUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The backend can type no more (the compositor went away, the desktop closed the remote-desktop
// session): every later key fails the same way, so typing stops instead of losing values one by one.
class KeyInjectorLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Which backend types. "auto" decides from the session (WAYLAND_DISPLAY, DISPLAY, XDG_SESSION_TYPE) and
// from what the desktop offers, in this order: "wayland" (virtual keyboard), "portal" (desktop portal,
// Wayland sessions only), "x11" (XTest, also through XWayland); "windows" on Windows.
struct KeyInjectorRequest {
    std::string backend = "auto";
    // The desktop-portal backend needs D-Bus (Qt): the caller that links it hands it in.
    std::function<std::unique_ptr<KeyInjector>(const CharChords&, std::string* whyNot)> openPortal;
};

// What the choice found, for the event log and the command line.
struct KeyInjectorChoice {
    std::vector<std::string> notTaken; // "Wayland virtual keyboard: ... (why not)"
    // Set when keys go through XWayland in a Wayland session: native Wayland windows get none.
    std::string warning;
};

// The backend names a user can force, "auto" first.
std::vector<std::string> keyBackendNames();

// The backend for the given layout (the complete key map of the configured keyboard type: the backend
// decodes chords back to the characters they mean and types those on the layout that is really active).
// Throws KeyInjectorUnavailable saying why for each backend tried, std::invalid_argument for an unknown
// backend name.
std::unique_ptr<KeyInjector> createKeyInjector(const CharChords& layout,
                                               const KeyInjectorRequest& request = {},
                                               KeyInjectorChoice* choice = nullptr);

} // namespace vornal::platform
