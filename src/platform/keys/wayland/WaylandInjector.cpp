#include "WaylandInjector.h"

#include "../Keysyms.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vornal::platform {

namespace {

// Keys of the keymap: evdev key n is XKB keycode n + 8. Key 0 does not exist.
constexpr int kFirstKey = 1;
constexpr int kLastKey = 247; // XKB keycode 255

xkb_keysym_t fixedKeysym(int code) {
    return keysymOfKey(code);
}

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

    xkb_context* context = nullptr;
    // keys[i]: the keysym on evdev key i + kFirstKey. The fixed keys and printable ASCII come first and
    // stay; characters added later (`firstExtra` on) give way, oldest first, when the keymap is full.
    std::vector<xkb_keysym_t> keys;
    std::size_t firstExtra = 0;
    std::uint32_t shiftMask = 0, controlMask = 0, altMask = 0;
    std::uint32_t mods = 0; // depressed modifiers sent last

    // What one of our key codes put down, released in reverse.
    std::map<int, std::vector<std::uint32_t>> down;

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
            wl_display_roundtrip(display);
            wl_display_disconnect(display);
        }
        if (context)
            xkb_context_unref(context);
    }

    static void global(void* data, wl_registry* registry, std::uint32_t id, const char* interface,
                       std::uint32_t) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat)
            self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, id, &wl_seat_interface, 1));
        else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 &&
                 !self->manager)
            self->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, id, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
    static void globalRemove(void*, wl_registry*, std::uint32_t) {}

    void checkConnection() {
        if (const int err = wl_display_get_error(display))
            throw KeyInjectorLost("the Wayland compositor " + displayName + " ended the connection (error " +
                                  std::to_string(err) + "); keys can no longer be typed there");
    }

    std::string keymapText() const {
        std::string s = "xkb_keymap {\nxkb_keycodes \"vornal\" {\n minimum = 8;\n maximum = 255;\n";
        for (std::size_t i = 0; i < keys.size(); ++i)
            s += " <K" + std::to_string(i + kFirstKey) + "> = " + std::to_string(i + kFirstKey + 8) + ";\n";
        s += "};\nxkb_types \"vornal\" { include \"complete\" };\n"
             "xkb_compatibility \"vornal\" { include \"complete\" };\n"
             "xkb_symbols \"vornal\" {\n";
        for (std::size_t i = 0; i < keys.size(); ++i) {
            char name[64];
            if (xkb_keysym_get_name(keys[i], name, sizeof name) < 0)
                std::snprintf(name, sizeof name, "0x%08x", keys[i]);
            s += " key <K" + std::to_string(i + kFirstKey) + "> { [ " + name + " ] };\n";
        }
        auto modmap = [&](const char* mod, xkb_keysym_t ks) {
            const auto it = std::find(keys.begin(), keys.end(), ks);
            s += std::string(" modifier_map ") + mod + " { <K" +
                 std::to_string(static_cast<std::size_t>(it - keys.begin()) + kFirstKey) + "> };\n";
        };
        modmap("Shift", XKB_KEY_Shift_L);
        modmap("Control", XKB_KEY_Control_L);
        modmap("Mod1", XKB_KEY_Alt_L);
        s += "};\n};\n";
        return s;
    }

    // Compiles the keymap with libxkbcommon, uploads the compiled text and waits until the compositor
    // has it (a round trip), so that the key after it is not read with the old keymap.
    void upload() {
        const std::string text = keymapText();
        xkb_keymap* keymap = xkb_keymap_new_from_string(context, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                        XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap)
            throw std::runtime_error("libxkbcommon could not compile the typing keymap");
        auto mask = [&](const char* name) {
            const xkb_mod_index_t i = xkb_keymap_mod_get_index(keymap, name);
            return i == XKB_MOD_INVALID ? 0u : (1u << i);
        };
        shiftMask = mask(XKB_MOD_NAME_SHIFT);
        controlMask = mask(XKB_MOD_NAME_CTRL);
        altMask = mask(XKB_MOD_NAME_ALT);
        char* compiled = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        xkb_keymap_unref(keymap);
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
            if (fd >= 0)
                ::close(fd);
            throw std::runtime_error("cannot hand the typing keymap to the compositor: " +
                                     std::string(std::strerror(errno)));
        }
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
        ::close(fd);
        if (wl_display_roundtrip(display) < 0)
            checkConnection();
        checkConnection();
    }

    // The evdev key of `ks`, adding it to the keymap when it has none.
    std::uint32_t keyOf(xkb_keysym_t ks) {
        auto it = std::find(keys.begin(), keys.end(), ks);
        if (it == keys.end()) {
            if (!down.empty())
                throw std::runtime_error("a new character cannot be added while keys are held");
            if (keys.size() >= static_cast<std::size_t>(kLastKey - kFirstKey + 1))
                keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(firstExtra));
            keys.push_back(ks);
            upload();
            it = keys.end() - 1;
        }
        return static_cast<std::uint32_t>(it - keys.begin()) + kFirstKey;
    }

    std::uint32_t maskOf(xkb_keysym_t ks) const {
        if (ks == XKB_KEY_Shift_L)
            return shiftMask;
        if (ks == XKB_KEY_Control_L)
            return controlMask;
        if (ks == XKB_KEY_Alt_L)
            return altMask;
        return 0;
    }

    void send(std::uint32_t evdevKey, bool press) {
        zwp_virtual_keyboard_v1_key(keyboard, nowMs(), evdevKey,
                                    press ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        const std::uint32_t m = maskOf(keys[evdevKey - kFirstKey]);
        if (m) {
            mods = press ? (mods | m) : (mods & ~m);
            zwp_virtual_keyboard_v1_modifiers(keyboard, mods, 0, 0, 0);
        }
        if (wl_display_flush(display) < 0 && errno != EAGAIN)
            checkConnection();
    }

    void put(int code, std::vector<std::uint32_t> evdevKeys) {
        down[code] = evdevKeys; // noted first: a failed press is still released
        for (std::uint32_t k : evdevKeys)
            send(k, true);
    }

    void take(int code) {
        auto it = down.find(code);
        if (it == down.end())
            return;
        const std::vector<std::uint32_t> evdevKeys = std::move(it->second);
        down.erase(it);
        for (auto k = evdevKeys.rbegin(); k != evdevKeys.rend(); ++k)
            send(*k, false);
    }

    void typeOnce(char32_t ch) {
        const xkb_keysym_t ks = xkb_utf32_to_keysym(ch);
        if (ks == XKB_KEY_NoSymbol)
            throw std::runtime_error("no keysym for the character U+" + std::to_string(ch));
        put(-1, {keyOf(ks)});
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
    impl->context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!impl->context)
        return fail("libxkbcommon could not start");
    impl->keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(impl->manager, impl->seat);
    // The keys that mean themselves, the modifiers, then every printable ASCII character.
    std::vector<int> fixed{key::ENTER,    key::TAB,    key::RIGHT, key::DOWN,    key::SPACE,
                           key::DELETE,   key::ESCAPE, key::SHIFT, key::CONTROL, key::ALT,
                           key::MULTIPLY, key::ADD,    key::DIVIDE};
    for (int i = 0; i < 12; ++i)
        fixed.push_back(key::F1 + i);
    for (int d = 0; d < 10; ++d)
        fixed.push_back(key::NUMPAD_0 + d);
    for (int code : fixed)
        impl->keys.push_back(fixedKeysym(code));
    for (char32_t c = 0x21; c <= 0x7E; ++c)
        impl->keys.push_back(xkb_utf32_to_keysym(c));
    impl->firstExtra = impl->keys.size();
    try {
        impl->upload();
    } catch (const std::exception& e) {
        return fail(std::string("the virtual keyboard could not be set up: ") + e.what());
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

void WaylandInjector::flush() {
    std::lock_guard lock(mutex_);
    if (wl_display_flush(impl_->display) < 0 && errno != EAGAIN)
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
    case ChordDecoder::Meaning::Kind::Character: {
        const xkb_keysym_t ks = xkb_utf32_to_keysym(m.ch);
        impl_->put(code, {impl_->keyOf(ks)});
        break;
    }
    case ChordDecoder::Meaning::Kind::Key: {
        std::vector<std::uint32_t> evdevKeys;
        for (int mod : m.modifiers)
            evdevKeys.push_back(impl_->keyOf(fixedKeysym(mod)));
        const xkb_keysym_t ks = fixedKeysym(code);
        if (ks == XKB_KEY_NoSymbol)
            throw std::runtime_error("no key for key code " + std::to_string(code));
        evdevKeys.push_back(impl_->keyOf(ks));
        impl_->put(code, std::move(evdevKeys));
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
