#include "platform/hotkey/x11/X11Hotkey.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <unistd.h>

namespace vornal::platform {

namespace {

Display* dpy(void* d) {
    return static_cast<Display*>(d);
}

// XGrabKey reports a combination taken by another client asynchronously, as a BadAccess error.
std::atomic<bool> grabFailed{false};
int onGrabError(Display*, XErrorEvent* e) {
    if (e->error_code == BadAccess)
        grabFailed = true;
    return 0;
}

// The lock modifiers (Caps Lock, Num Lock) must not keep the shortcut from working.
constexpr unsigned kLockVariants[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

} // namespace

std::unique_ptr<X11Hotkey> X11Hotkey::open(std::string* why) {
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        *why = "no X display could be opened (DISPLAY is not set or the server refuses the connection)";
        return nullptr;
    }
    return std::unique_ptr<X11Hotkey>(new X11Hotkey(d));
}

X11Hotkey::X11Hotkey(void* display) : display_(display) {
    Bool supported = False;
    XkbSetDetectableAutoRepeat(dpy(display_), True, &supported);
    if (::pipe(wake_) != 0)
        wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { run(); });
}

X11Hotkey::~X11Hotkey() {
    release();
    stop_ = true;
    if (wake_[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const auto n = ::write(wake_[1], &c, 1);
    }
    if (thread_.joinable())
        thread_.join();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
    XCloseDisplay(dpy(display_));
}

std::string X11Hotkey::grab(const HotkeyChord& chord, Callback onPress) {
    release();
    const KeySym sym = XStringToKeysym(chord.key.c_str());
    std::lock_guard lock(mutex_);
    const int code = sym == NoSymbol ? 0 : XKeysymToKeycode(dpy(display_), sym);
    if (code == 0)
        return "the key " + chord.key + " is not on this keyboard";
    unsigned mask = 0;
    if (chord.modifiers & HotkeyChord::Ctrl)
        mask |= ControlMask;
    if (chord.modifiers & HotkeyChord::Alt)
        mask |= Mod1Mask;
    if (chord.modifiers & HotkeyChord::Shift)
        mask |= ShiftMask;
    if (chord.modifiers & HotkeyChord::Meta)
        mask |= Mod4Mask;
    Display* d = dpy(display_);
    const Window root = DefaultRootWindow(d);
    XSync(d, False);
    grabFailed = false;
    const auto previous = XSetErrorHandler(onGrabError);
    for (unsigned lockBits : kLockVariants)
        XGrabKey(d, code, mask | lockBits, root, False, GrabModeAsync, GrabModeAsync);
    XSync(d, False);
    XSetErrorHandler(previous);
    if (grabFailed) {
        for (unsigned lockBits : kLockVariants)
            XUngrabKey(d, code, mask | lockBits, root);
        XFlush(d);
        return "another program already uses this key combination";
    }
    XSelectInput(d, root, KeyPressMask | KeyReleaseMask);
    XFlush(d);
    keycode_ = code;
    mask_ = mask;
    callback_ = std::move(onPress);
    return {};
}

void X11Hotkey::ungrab() {
    if (keycode_ == 0)
        return;
    Display* d = dpy(display_);
    for (unsigned lockBits : kLockVariants)
        XUngrabKey(d, keycode_, mask_ | lockBits, DefaultRootWindow(d));
    XFlush(d);
    keycode_ = 0;
}

void X11Hotkey::release() {
    std::lock_guard lock(mutex_);
    ungrab();
    callback_ = nullptr;
}

void X11Hotkey::run() {
    Display* d = dpy(display_);
    bool released = true; // a press counts once until the key is let go
    while (!stop_) {
        pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wake_[0], POLLIN, 0}};
        {
            std::unique_lock lock(mutex_);
            if (XPending(d) == 0) {
                lock.unlock();
                if (::poll(fds, wake_[0] >= 0 ? 2 : 1, 200) < 0)
                    continue;
                continue;
            }
        }
        Callback cb;
        {
            std::lock_guard lock(mutex_);
            while (XPending(d) > 0) {
                XEvent e;
                XNextEvent(d, &e);
                if (e.type == KeyPress && int(e.xkey.keycode) == keycode_ && released) {
                    released = false;
                    cb = callback_;
                } else if (e.type == KeyRelease && int(e.xkey.keycode) == keycode_) {
                    released = true;
                }
            }
        }
        if (cb)
            cb();
    }
}

} // namespace vornal::platform
