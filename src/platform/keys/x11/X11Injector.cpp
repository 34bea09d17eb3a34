#include "X11Injector.h"

#include "../Keysyms.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace vornal::platform {

namespace {

// The Qt receiver (and others) re-read the keymap asynchronously after a mapping change: shorter
// waits lost characters.
constexpr auto kRemapWait = std::chrono::milliseconds(20);
// Before a dead key: the keys typed before it reach the receiver first.
constexpr auto kDeadKeyWait = std::chrono::milliseconds(5);
// A character typed as itself is held this long: released at once, Qt receivers lost some.
constexpr auto kCharacterHold = std::chrono::milliseconds(5);
// A lent keycode keeps its character at least this long after its last press, so that a receiver
// that reads the key late still finds the character it was pressed for.
constexpr auto kSpareSettle = std::chrono::milliseconds(300);

KeySym fixedKeysym(int code) {
    return keysymOfKey(code);
}

KeySym charKeysym(char32_t ch) {
    return keysymOfChar(ch);
}

KeySym deadKeysym(char32_t ch) {
    return deadKeysymOf(ch);
}

// Xlib's default error handler ends the process. While we talk to the server, errors (a keycode the
// server refuses, a mapping change that fails) are caught and turned into exceptions instead.
int lastXError = 0;
int recordXError(Display*, XErrorEvent* e) {
    lastXError = e->error_code;
    return 0;
}

class ErrorTrap {
public:
    explicit ErrorTrap(Display* dpy) : dpy_(dpy) {
        XSync(dpy_, False);
        lastXError = 0;
        old_ = XSetErrorHandler(recordXError);
    }
    ~ErrorTrap() {
        if (!done_) {
            XSync(dpy_, False);
            XSetErrorHandler(old_);
        }
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    // Throws when the server reported an error since the trap was set.
    void check(const char* what) {
        XSync(dpy_, False);
        XSetErrorHandler(old_);
        done_ = true;
        if (lastXError != 0)
            throw std::runtime_error(std::string("the X server refused ") + what + " (X error " +
                                     std::to_string(lastXError) + ")");
    }

private:
    Display* dpy_;
    XErrorHandler old_ = nullptr;
    bool done_ = false;
};

} // namespace

struct X11Injector::Impl {
    Display* dpy = nullptr;
    std::string displayName;

    // What one of our key codes put down, released in reverse at its release.
    struct Down {
        std::vector<KeyCode> keys;
    };
    std::map<int, Down> down;

    ~Impl() {
        if (dpy)
            XCloseDisplay(dpy);
    }

    void fake(KeyCode kc, bool press) {
        if (!XTestFakeKeyEvent(dpy, kc, press ? True : False, CurrentTime))
            throw std::runtime_error("the X server refused a synthetic key event");
    }

    KeyCode keycodeOf(KeySym ks) { return XKeysymToKeycode(dpy, ks); }

    // Finds `ks` in the current group of the active layout: the keycode and the real modifier keys
    // that select its shift level, with the locked modifiers (Caps Lock, Num Lock) taken into account.
    bool find(KeySym ks, Down& out) {
        XkbStateRec state{};
        if (XkbGetState(dpy, XkbUseCoreKbd, &state) != Success)
            return false;
        XkbDescPtr xkb = XkbGetMap(dpy, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
        if (!xkb)
            return false;
        // AltGr: the key carrying ISO_Level3_Shift and the real modifier it sets.
        KeyCode l3Key = 0;
        unsigned l3Mask = 0;
        for (int kc = xkb->min_key_code; kc <= xkb->max_key_code && !l3Key; ++kc) {
            const int n = XkbKeyNumSyms(xkb, kc);
            for (int i = 0; i < n; ++i) {
                if (XkbKeySymsPtr(xkb, kc)[i] == XK_ISO_Level3_Shift) {
                    l3Key = static_cast<KeyCode>(kc);
                    l3Mask = xkb->map->modmap ? xkb->map->modmap[kc] : 0;
                    break;
                }
            }
        }
        if (l3Key && !l3Mask)
            l3Mask = Mod5Mask;
        const KeyCode shiftKey = keycodeOf(XK_Shift_L);
        const unsigned locked = state.locked_mods;
        struct Combo {
            unsigned mask;
            bool shift, l3;
        };
        const Combo combos[] = {{0, false, false},
                                {ShiftMask, true, false},
                                {l3Mask, false, true},
                                {ShiftMask | l3Mask, true, true}};
        bool found = false;
        for (const Combo& c : combos) {
            if (c.l3 && !l3Key)
                continue;
            for (int kc = xkb->min_key_code; kc <= xkb->max_key_code && !found; ++kc) {
                const int groups = XkbKeyNumGroups(xkb, kc);
                if (groups == 0)
                    continue;
                const int group = state.group % groups;
                XkbKeyTypePtr type = XkbKeyKeyType(xkb, kc, group);
                const unsigned effective = (c.mask | locked) & type->mods.mask;
                int level = 0;
                for (int i = 0; i < type->map_count; ++i) {
                    const XkbKTMapEntryRec& e = type->map[i];
                    if (e.active && e.mods.mask == effective) {
                        level = e.level;
                        break;
                    }
                }
                if (level >= XkbKeyGroupWidth(xkb, kc, group))
                    continue;
                if (XkbKeySymEntry(xkb, kc, level, group) != ks)
                    continue;
                out.keys.clear();
                if (c.shift)
                    out.keys.push_back(shiftKey);
                if (c.l3)
                    out.keys.push_back(l3Key);
                out.keys.push_back(static_cast<KeyCode>(kc));
                found = true;
            }
            if (found)
                break;
        }
        XkbFreeKeyboard(xkb, 0, True);
        return found;
    }

    // Keycodes without any symbol, lent to characters the layout lacks. Each remap notifies every X
    // client, and a receiver may read a key event after the mapping of its keycode has changed again:
    // so a lent keycode keeps its character while it is in use (for the whole value, and for the
    // settle time after its last press), characters already lent are typed on their keycode without a
    // remap, and a new character takes the keycode used longest ago. They are given back when the
    // backend ends.
    struct Spare {
        KeyCode kc = 0;
        KeySym ks = NoSymbol; // what it carries now (NoSymbol: nothing)
        std::chrono::steady_clock::time_point lastUse{};
        bool inValue = false; // used by the value being typed
    };
    std::vector<Spare> spares;
    bool sparesScanned = false;

    void scanSpares() {
        sparesScanned = true;
        spares.clear();
        int minKc = 0, maxKc = 0;
        XDisplayKeycodes(dpy, &minKc, &maxKc);
        int perCode = 0;
        KeySym* map = XGetKeyboardMapping(dpy, static_cast<KeyCode>(minKc), maxKc - minKc + 1, &perCode);
        if (!map)
            return;
        for (int kc = maxKc; kc >= minKc; --kc) {
            bool empty = true;
            for (int i = 0; i < perCode; ++i)
                empty = empty && map[(kc - minKc) * perCode + i] == NoSymbol;
            if (empty)
                spares.push_back({static_cast<KeyCode>(kc)});
        }
        XFree(map);
    }

    // True when `s` still carries only what we put there (a layout switch may have given it a key).
    bool stillOurs(const Spare& s) {
        int perCode = 0;
        KeySym* map = XGetKeyboardMapping(dpy, s.kc, 1, &perCode);
        if (!map)
            return false;
        bool ours = true;
        for (int i = 0; i < perCode; ++i) {
            const KeySym k = map[i];
            KeySym lower = s.ks, upper = s.ks;
            if (s.ks != NoSymbol)
                XConvertCase(s.ks, &lower, &upper);
            ours = ours && (k == NoSymbol || k == lower || k == upper);
        }
        XFree(map);
        return ours;
    }

    Spare* chooseSpare() {
        if (!sparesScanned)
            scanSpares();
        for (int attempt = 0; attempt < 2; ++attempt) {
            Spare* best = nullptr;
            for (Spare& s : spares) {
                if (!best || (best->inValue && !s.inValue) ||
                    (best->inValue == s.inValue && s.lastUse < best->lastUse))
                    best = &s;
            }
            while (best && !stillOurs(*best)) {
                // Taken by the layout meanwhile: no longer a spare.
                const KeyCode gone = best->kc;
                spares.erase(std::remove_if(spares.begin(), spares.end(),
                                            [gone](const Spare& s) { return s.kc == gone; }),
                             spares.end());
                best = nullptr;
                for (Spare& s : spares)
                    if (!best || (best->inValue && !s.inValue) ||
                        (best->inValue == s.inValue && s.lastUse < best->lastUse))
                        best = &s;
            }
            if (best)
                return best;
            scanSpares(); // the layout changed: look again
        }
        return nullptr;
    }

    // Lends a spare keycode to `ks`.
    bool borrow(KeySym ks, Down& out) {
        Spare* spare = chooseSpare();
        if (!spare)
            return false;
        // A receiver may still read the last press of this keycode: let it settle first.
        const auto since = std::chrono::steady_clock::now() - spare->lastUse;
        if (since < kSpareSettle)
            std::this_thread::sleep_for(kSpareSettle - since);
        // A letter with two cases gets both, so that its level is chosen like any other letter's (with
        // Caps Lock taken into account) instead of the receiver capitalising a lone keysym.
        KeySym lower = ks, upper = ks;
        XConvertCase(ks, &lower, &upper);
        KeySym syms[4] = {ks, ks, ks, ks};
        if (lower != upper)
            syms[0] = syms[2] = lower, syms[1] = syms[3] = upper;
        XChangeKeyboardMapping(dpy, spare->kc, 4, syms, 1);
        XSync(dpy, False);
        std::this_thread::sleep_for(kRemapWait);
        spare->ks = ks;
        Down found;
        if (lower != upper && find(ks, found) && found.keys.back() == spare->kc)
            out.keys = found.keys;
        else
            out.keys = {spare->kc};
        return true;
    }

    // A key of `keys` that is a lent keycode was pressed now.
    void noteUse(const std::vector<KeyCode>& keys) {
        const auto now = std::chrono::steady_clock::now();
        for (Spare& s : spares)
            for (KeyCode kc : keys)
                if (s.kc == kc && s.ks != NoSymbol) {
                    s.lastUse = now;
                    s.inValue = true;
                }
    }

    void valueDone() {
        for (Spare& s : spares)
            s.inValue = false;
    }

    // Gives every lent keycode back (after the settle time of its last press).
    void giveBackAll() {
        std::chrono::steady_clock::time_point last{};
        for (const Spare& s : spares)
            if (s.ks != NoSymbol)
                last = std::max(last, s.lastUse);
        const auto since = std::chrono::steady_clock::now() - last;
        bool any = false;
        for (Spare& s : spares) {
            if (s.ks == NoSymbol)
                continue;
            if (!any && since < kSpareSettle) {
                XSync(dpy, False);
                std::this_thread::sleep_for(kSpareSettle - since);
            }
            any = true;
            if (stillOurs(s)) {
                KeySym none[4] = {NoSymbol, NoSymbol, NoSymbol, NoSymbol};
                XChangeKeyboardMapping(dpy, s.kc, 4, none, 1);
            }
            s.ks = NoSymbol;
        }
        XSync(dpy, False);
    }

    Down locate(KeySym ks, char32_t forWhat) {
        Down d;
        if (find(ks, d) || borrow(ks, d))
            return d;
        throw std::runtime_error("no key of the active X layout gives U+" + std::to_string(forWhat) +
                                 " and no spare keycode is free");
    }

    void put(int code, Down d) {
        // Noted first: if a press fails half-way, the release still lets go of what went down.
        const std::vector<KeyCode> keys = d.keys;
        down[code] = std::move(d);
        noteUse(keys);
        for (KeyCode kc : keys)
            fake(kc, true);
    }

    void take(int code) {
        auto it = down.find(code);
        if (it == down.end())
            return; // never pressed: nothing to release
        Down d = std::move(it->second);
        down.erase(it);
        for (auto k = d.keys.rbegin(); k != d.keys.rend(); ++k)
            fake(*k, false);
        noteUse(d.keys);
    }
};

std::unique_ptr<X11Injector> X11Injector::open(const CharChords& layout, std::string* whyNot) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (whyNot)
            *whyNot =
                wayland && *wayland
                    ? "this is a Wayland session without XWayland (DISPLAY is not set); typing needs an "
                      "X server: enable XWayland or log in to an X11 session"
                    : "no X display (DISPLAY is not set): start Vornal inside a graphical session";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->displayName = display;
    int major = XkbMajorVersion, minor = XkbMinorVersion, xkbError = 0, event = 0, error = 0;
    impl->dpy = XkbOpenDisplay(const_cast<char*>(display), &event, &error, &major, &minor, &xkbError);
    if (!impl->dpy) {
        if (whyNot)
            *whyNot = xkbError == XkbOD_NonXkbServer
                          ? "the X server " + impl->displayName + " has no XKEYBOARD extension"
                          : "cannot open the X display " + impl->displayName;
        return nullptr;
    }
    int ev = 0, err = 0, maj = 0, min = 0;
    if (!XTestQueryExtension(impl->dpy, &ev, &err, &maj, &min)) {
        if (whyNot)
            *whyNot =
                "the X server " + impl->displayName + " has no XTEST extension for synthetic key presses";
        return nullptr;
    }
    return std::unique_ptr<X11Injector>(new X11Injector(std::move(impl), layout));
}

X11Injector::X11Injector(std::unique_ptr<Impl> impl, const CharChords& layout)
    : impl_(std::move(impl)), decoder_(layout),
      typesBeyondAscii_(!layout.empty() && std::all_of(layout.begin(), layout.end(), [](const auto& entry) {
          return entry.second.size() > 1 && entry.second.front() == key::ALT;
      })) {}

X11Injector::~X11Injector() {
    // Nothing may stay pressed when the connection goes.
    std::lock_guard lock(mutex_);
    try {
        while (!impl_->down.empty())
            impl_->take(impl_->down.begin()->first);
        XSync(impl_->dpy, False);
        impl_->giveBackAll();
    } catch (const std::exception&) {
    }
}

std::string X11Injector::name() const {
    return "X11 (XTest) on " + impl_->displayName;
}

std::optional<bool> X11Injector::capsLockOn() {
    if (!typesBeyondAscii_)
        return false;
    std::lock_guard lock(mutex_);
    XkbStateRec state{};
    if (XkbGetState(impl_->dpy, XkbUseCoreKbd, &state) != Success)
        return std::nullopt;
    return (state.locked_mods & LockMask) != 0;
}

void X11Injector::typeChar(char32_t ch) {
    std::lock_guard lock(mutex_);
    ErrorTrap trap(impl_->dpy);
    impl_->put(-1, impl_->locate(charKeysym(ch), ch));
    XSync(impl_->dpy, False);
    std::this_thread::sleep_for(kCharacterHold);
    impl_->take(-1);
    trap.check("the character");
}

void X11Injector::valueDone() {
    std::lock_guard lock(mutex_);
    impl_->valueDone();
    // Every key of the value has reached the server before the next value begins, which may come
    // from another connection of the station with a display connection of its own.
    XSync(impl_->dpy, False);
}

std::optional<bool> X11Injector::userModifiersDown() {
    std::lock_guard lock(mutex_);
    char keys[32] = {};
    XQueryKeymap(impl_->dpy, keys);
    XModifierKeymap* mods = XGetModifierMapping(impl_->dpy);
    if (!mods)
        return std::nullopt;
    // Shift, Control, Mod1 (Alt), Mod4 (Super), Mod5 (AltGr) and Mod3 where a layout puts a level
    // key there; Lock and Mod2 (Num Lock) are locks, not held keys.
    bool down = false;
    for (int mod : {ShiftMapIndex, ControlMapIndex, Mod1MapIndex, Mod3MapIndex, Mod4MapIndex, Mod5MapIndex}) {
        for (int i = 0; i < mods->max_keypermod && !down; ++i) {
            const KeyCode kc = mods->modifiermap[mod * mods->max_keypermod + i];
            if (!kc || !(keys[kc / 8] & (1 << (kc % 8))))
                continue;
            bool ours = false;
            for (const auto& [code, d] : impl_->down)
                ours = ours || std::find(d.keys.begin(), d.keys.end(), kc) != d.keys.end();
            down = !ours;
        }
    }
    XFreeModifiermap(mods);
    return down;
}

std::optional<bool> X11Injector::hasFocusTarget() {
    const unsigned long w = focusWindow();
    return w != 0;
}

unsigned long X11Injector::focusWindow() {
    std::lock_guard lock(mutex_);
    Window focus = None;
    int revert = 0;
    XGetInputFocus(impl_->dpy, &focus, &revert);
    // None: keys are dropped; PointerRoot or the root window: they go to whatever lies under the
    // pointer, the desktop itself when nothing does.
    if (focus == None || focus == PointerRoot || focus == DefaultRootWindow(impl_->dpy))
        return 0;
    return focus;
}

void X11Injector::flush() {
    std::lock_guard lock(mutex_);
    XFlush(impl_->dpy);
}

void X11Injector::pressKey(int code) {
    std::lock_guard lock(mutex_);
    switch (decoder_.press(code)) {
    case ChordDecoder::Press::Key:
        break;
    case ChordDecoder::Press::DroppedSpace:
        impl_->down[code] = {};
        return;
    default:
        return;
    }
    ErrorTrap trap(impl_->dpy);
    if (impl_->down.count(code))
        impl_->take(code);
    const auto m = decoder_.decode(code);
    switch (m.kind) {
    case ChordDecoder::Meaning::Kind::Character:
        impl_->put(code, impl_->locate(charKeysym(m.ch), m.ch));
        break;
    case ChordDecoder::Meaning::Kind::DeadCharacter: {
        // The plain character where the layout has it (French ~ on AltGr+2): typed at once, and the
        // SPACE that would complete the accent is dropped. Else the accent key, else a lent keycode
        // with the plain character.
        Impl::Down d;
        if (impl_->find(charKeysym(m.ch), d) || !impl_->find(deadKeysym(m.ch), d)) {
            if (d.keys.empty())
                d = impl_->locate(charKeysym(m.ch), m.ch);
            decoder_.dropNextSpace();
        } else {
            // A real dead key: Qt receivers put it before the keys typed just earlier unless those
            // have arrived first.
            XSync(impl_->dpy, False);
            std::this_thread::sleep_for(kDeadKeyWait);
        }
        impl_->put(code, std::move(d));
        break;
    }
    case ChordDecoder::Meaning::Kind::Key: {
        Impl::Down d;
        for (int mod : m.modifiers)
            if (KeyCode kc = impl_->keycodeOf(fixedKeysym(mod)))
                d.keys.push_back(kc);
        const KeySym ks = fixedKeysym(code);
        KeyCode kc = impl_->keycodeOf(ks);
        if (!kc) {
            Impl::Down lent;
            if (!impl_->borrow(ks, lent))
                throw std::runtime_error("the active X layout has no key for key code " +
                                         std::to_string(code));
            d.keys.push_back(lent.keys.front());
        } else {
            d.keys.push_back(kc);
        }
        impl_->put(code, std::move(d));
        break;
    }
    }
    trap.check("the key press");
}

void X11Injector::releaseKey(int code) {
    std::lock_guard lock(mutex_);
    if (isModifierCode(code)) {
        if (const auto value = decoder_.modifierUp(code)) {
            // ALT + numeric-pad code: X has no such thing, so the character itself is typed.
            ErrorTrap trap(impl_->dpy);
            const char32_t ch = static_cast<char32_t>(*value);
            impl_->put(-1, impl_->locate(charKeysym(ch), ch));
            XFlush(impl_->dpy);
            impl_->take(-1);
            trap.check("the character of an ALT code");
        }
        return;
    }
    if (numpadDigit(code) && !impl_->down.count(code))
        return; // a collected ALT digit
    ErrorTrap trap(impl_->dpy);
    impl_->take(code);
    trap.check("the key release");
}

} // namespace vornal::platform
