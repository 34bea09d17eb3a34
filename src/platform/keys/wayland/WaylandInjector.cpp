#include "WaylandInjector.h"

#include "../Keysyms.h"
#include "TypingKeymap.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vornal::platform {

namespace {

std::uint32_t nowMs() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

struct WaylandInjector::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    std::string displayName;
    std::string lost; // why the compositor can no longer be reached; empty while it can
    std::uint32_t seatCapabilities = 0;

    xkb_context* context = nullptr;
    TypingKeymap keymap;
    bool keymapStale = false;   // changed since the compositor last confirmed it
    std::uint32_t baseMods = 0; // modifier keys held down by chords that mean a key
    std::uint32_t sentMods = 0; // depressed modifiers the compositor has last

    // What one of our key codes put down: the evdev keys in press order and the modifiers each added.
    struct Down {
        std::uint32_t key;
        std::uint32_t modifierMask; // the key is a modifier key: its mask
    };
    std::map<int, std::vector<Down>> down;

    ~Impl() {
        if (keyboard)
            zwp_virtual_keyboard_v1_destroy(keyboard);
        if (manager)
            zwp_virtual_keyboard_manager_v1_destroy(manager);
        if (seat)
            wl_seat_destroy(seat);
        if (registry)
            wl_registry_destroy(registry);
        if (display) {
            if (lost.empty())
                wl_display_roundtrip(display);
            wl_display_disconnect(display);
        }
        if (context)
            xkb_context_unref(context);
    }

    static void global(void* data, wl_registry* registry, std::uint32_t id, const char* interface,
                       std::uint32_t) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat) {
            self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, id, &wl_seat_interface, 1));
            static const wl_seat_listener seatListener{[](void* data, wl_seat*, std::uint32_t caps) {
                                                           static_cast<Impl*>(data)->seatCapabilities = caps;
                                                       },
                                                       nullptr};
            wl_seat_add_listener(self->seat, &seatListener, self);
        } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 &&
                   !self->manager)
            self->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, id, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}

    [[noreturn]] void fail(const std::string& why) {
        if (lost.empty())
            lost =
                "the Wayland compositor " + displayName + " " + why + "; keys can no longer be typed there";
        throw KeyInjectorLost(lost);
    }
    void checkConnection() {
        if (!lost.empty())
            throw KeyInjectorLost(lost);
        if (const int err = wl_display_get_error(display))
            fail("ended the connection (" + std::string(std::strerror(err)) + ")");
    }

    // Sends what is pending and waits until the compositor has processed it (a round trip with a time
    // limit, unlike wl_display_roundtrip, which waits for ever on a compositor that hangs).
    void confirm() {
        checkConnection();
        bool done = false;
        wl_callback* callback = wl_display_sync(display);
        static const wl_callback_listener listener{
            [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};
        wl_callback_add_listener(callback, &listener, &done);
        struct Destroy {
            wl_callback* c;
            ~Destroy() { wl_callback_destroy(c); }
        } destroy{callback};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ANSWER_TIMEOUT_MS);
        while (!done) {
            bool sent = wl_display_flush(display) >= 0;
            if (!sent && errno != EAGAIN)
                fail("ended the connection (" + std::string(std::strerror(errno)) + ")");
            if (wl_display_prepare_read(display) != 0) {
                if (wl_display_dispatch_pending(display) < 0)
                    checkConnection();
                continue;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd p{wl_display_get_fd(display), static_cast<short>(POLLIN | (sent ? 0 : POLLOUT)), 0};
            const int n = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
            if (n <= 0) {
                wl_display_cancel_read(display);
                if (n < 0 && errno == EINTR)
                    continue;
                fail("did not answer within " + std::to_string(ANSWER_TIMEOUT_MS / 1000) + " s");
            }
            if (!(p.revents & POLLIN)) {
                wl_display_cancel_read(display);
                if (p.revents & (POLLHUP | POLLERR))
                    fail("ended the connection");
                continue;
            }
            if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0) {
                checkConnection();
                fail("ended the connection");
            }
        }
        checkConnection();
    }

    // Compiles the keymap with libxkbcommon, hands the compiled text to the compositor and waits until
    // it has it, so that the next key is read with this keymap.
    void upload() {
        const std::string text = keymap.text();
        xkb_keymap* compiledMap = xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                             XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!compiledMap)
            throw std::runtime_error("libxkbcommon could not compile the typing keymap");
        char* compiled = xkb_keymap_get_as_string(compiledMap, XKB_KEYMAP_FORMAT_TEXT_V1);
        xkb_keymap_unref(compiledMap);
        if (!compiled)
            throw std::runtime_error("libxkbcommon could not write the typing keymap");
        const std::size_t size = std::strlen(compiled) + 1;
        const int fd = memfd_create("vornal-keymap", MFD_CLOEXEC);
        bool written = fd >= 0;
        for (std::size_t done = 0; written && done < size;) {
            const ssize_t n = ::write(fd, compiled + done, size - done);
            written = n > 0;
            done += written ? static_cast<std::size_t>(n) : 0;
        }
        std::free(compiled);
        if (!written) {
            const std::string why = std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            throw std::runtime_error("cannot hand the typing keymap to the compositor: " + why);
        }
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
        ::close(fd);
        confirm();
        keymapStale = false;
    }

    // Where `ks` is, adding it to the keymap (and handing that over) when it is not there yet.
    TypingKeymap::Place placeOf(xkb_keysym_t ks) {
        if (ks == XKB_KEY_NoSymbol)
            throw std::runtime_error("no keysym for this key");
        if (keymapStale)
            upload();
        if (const auto p = keymap.find(ks))
            return *p;
        if (!down.empty())
            throw std::runtime_error("a new character cannot be added while keys are held");
        const TypingKeymap::Place p = keymap.add(ks);
        upload();
        return p;
    }

    void sendMods(std::uint32_t mods) {
        if (mods == sentMods)
            return;
        zwp_virtual_keyboard_v1_modifiers(keyboard, mods, 0, 0, 0);
        sentMods = mods;
    }

    void sendKey(std::uint32_t key, bool press) {
        zwp_virtual_keyboard_v1_key(keyboard, nowMs(), key,
                                    press ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    }

    // Types one of our codes: modifier keys (already placed) go down and stay down until take(); the
    // key itself, with the modifiers of its level on top of those held, is pressed and released at
    // once, so that no receiver's auto-repeat ever sees it held, however long the pause after it.
    // Confirmed by the compositor before it returns.
    void put(int code, const std::vector<TypingKeymap::Place>& modifierKeys,
             const std::vector<std::uint32_t>& masks, TypingKeymap::Place key) {
        std::vector<Down>& d = down[code]; // noted first: a failed press is still released
        for (std::size_t i = 0; i < modifierKeys.size(); ++i) {
            d.push_back({modifierKeys[i].key, masks[i]});
            sendKey(modifierKeys[i].key, true);
            baseMods |= masks[i];
            sendMods(baseMods);
        }
        sendMods(baseMods | key.mods);
        sendKey(key.key, true);
        sendKey(key.key, false);
        sendMods(baseMods);
        confirm();
    }

    // Releases what put() left down for `code` (its modifier keys).
    void take(int code) {
        auto it = down.find(code);
        if (it == down.end())
            return;
        const std::vector<Down> keys = std::move(it->second);
        down.erase(it);
        if (keys.empty())
            return;
        for (auto k = keys.rbegin(); k != keys.rend(); ++k) {
            sendKey(k->key, false);
            baseMods &= ~k->modifierMask;
            sendMods(baseMods);
        }
        confirm();
    }

    void typeOnce(char32_t ch) {
        const xkb_keysym_t ks = xkb_utf32_to_keysym(ch);
        if (ks == XKB_KEY_NoSymbol)
            throw std::runtime_error("no keysym for the character U+" + std::to_string(ch));
        put(-1, {}, {}, placeOf(ks));
        take(-1);
    }
};

std::unique_ptr<WaylandInjector> WaylandInjector::open(const CharChords& layout, std::string* whyNot) {
    auto fail = [&](std::string why) {
        if (whyNot)
            *whyNot = std::move(why);
        return nullptr;
    };
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name)
        return fail("no Wayland display (WAYLAND_DISPLAY is not set)");
    auto impl = std::make_unique<Impl>();
    impl->displayName = name;
    impl->display = wl_display_connect(nullptr);
    if (!impl->display)
        return fail("cannot connect to the Wayland display " + impl->displayName);
    static const wl_registry_listener listener{&Impl::global, &Impl::globalRemove};
    impl->registry = wl_display_get_registry(impl->display);
    wl_registry_add_listener(impl->registry, &listener, impl.get());
    if (wl_display_roundtrip(impl->display) < 0)
        return fail("the Wayland display " + impl->displayName + " did not answer");
    if (!impl->manager)
        return fail(
            "the Wayland compositor does not offer a virtual keyboard (zwp_virtual_keyboard_manager_v1; "
            "GNOME and KDE keep it to themselves)");
    if (!impl->seat)
        return fail("the Wayland compositor has no seat to type on");
    wl_display_roundtrip(impl->display); // the seat's capabilities
    const bool seatHadKeyboard = impl->seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    impl->context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!impl->context)
        return fail("libxkbcommon could not start");
    impl->keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(impl->manager, impl->seat);
    try {
        impl->upload();
    } catch (const std::exception& e) {
        return fail(std::string("the virtual keyboard could not be set up: ") + e.what());
    }
    if (!seatHadKeyboard) {
        // Ours is the seat's first keyboard: the windows learn of it only now and must ask for it
        // before they can receive its first key (without this wait that key was often lost).
        std::this_thread::sleep_for(std::chrono::milliseconds(FIRST_KEYBOARD_SETTLE_MS));
    }
    return std::unique_ptr<WaylandInjector>(new WaylandInjector(std::move(impl), layout));
}

WaylandInjector::WaylandInjector(std::unique_ptr<Impl> impl, const CharChords& layout)
    : impl_(std::move(impl)), decoder_(layout) {}

WaylandInjector::~WaylandInjector() {
    // Nothing may stay pressed when the connection goes.
    std::lock_guard lock(mutex_);
    try {
        while (!impl_->down.empty())
            impl_->take(impl_->down.begin()->first);
    } catch (const std::exception&) {
    }
}

std::string WaylandInjector::name() const {
    return "Wayland (virtual keyboard) on " + impl_->displayName;
}

bool WaylandInjector::isAvailable() const {
    std::lock_guard lock(mutex_);
    if (!impl_->lost.empty() || wl_display_get_error(impl_->display))
        return false;
    pollfd p{wl_display_get_fd(impl_->display), POLLIN, 0};
    return !(::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)));
}

std::string WaylandInjector::cannotType(const std::u32string& text) {
    std::lock_guard lock(mutex_);
    if (!impl_->down.empty())
        return {};
    bool grown = false;
    for (const char32_t ch : text) {
        const xkb_keysym_t ks = xkb_utf32_to_keysym(ch);
        if (ks != XKB_KEY_NoSymbol && ch >= 0x20 && !impl_->keymap.find(ks)) {
            impl_->keymap.add(ks);
            impl_->keymapStale = grown = true;
        }
    }
    try {
        if (grown)
            impl_->upload();
    } catch (const std::exception&) {
        // A compositor that is gone is reported by the value's first key, as any other loss.
    }
    return {};
}

void WaylandInjector::flush() {
    // Every key is confirmed as it is sent; a pause only finds out whether the compositor is still there.
    std::lock_guard lock(mutex_);
    impl_->checkConnection();
}

void WaylandInjector::pressKey(int code) {
    std::lock_guard lock(mutex_);
    impl_->checkConnection();
    switch (decoder_.press(code)) {
    case ChordDecoder::Press::Key:
        break;
    case ChordDecoder::Press::DroppedSpace:
        impl_->down[code] = {};
        return;
    default:
        return;
    }
    if (impl_->down.count(code))
        impl_->take(code);
    const auto m = decoder_.decode(code);
    switch (m.kind) {
    case ChordDecoder::Meaning::Kind::DeadCharacter:
        // The keymap has the plain character: no accent key, and no SPACE to complete it.
        decoder_.dropNextSpace();
        [[fallthrough]];
    case ChordDecoder::Meaning::Kind::Character:
        impl_->put(code, {}, {}, impl_->placeOf(xkb_utf32_to_keysym(m.ch)));
        break;
    case ChordDecoder::Meaning::Kind::Key: {
        const xkb_keysym_t ks = keysymOfKey(code);
        if (ks == XKB_KEY_NoSymbol)
            throw std::runtime_error("no key for key code " + std::to_string(code));
        std::vector<TypingKeymap::Place> mods;
        std::vector<std::uint32_t> masks;
        for (int mod : m.modifiers) {
            const xkb_keysym_t modKs = keysymOfKey(mod);
            mods.push_back(impl_->placeOf(modKs));
            masks.push_back(TypingKeymap::modifierMask(modKs));
        }
        impl_->put(code, mods, masks, impl_->placeOf(ks));
        break;
    }
    }
}

void WaylandInjector::releaseKey(int code) {
    std::lock_guard lock(mutex_);
    if (isModifierCode(code)) {
        if (const auto value = decoder_.modifierUp(code))
            impl_->typeOnce(static_cast<char32_t>(*value)); // ALT + numeric-pad code: the character itself
        return;
    }
    if (numpadDigit(code) && !impl_->down.count(code))
        return; // a collected ALT digit
    impl_->take(code);
}

void WaylandInjector::typeChar(char32_t ch) {
    std::lock_guard lock(mutex_);
    impl_->checkConnection();
    impl_->typeOnce(ch);
}

} // namespace vornal::platform
