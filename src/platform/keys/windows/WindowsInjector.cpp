#include "WindowsInjector.h"

#include <cstdint>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// winnt.h defines DELETE (an access right), which hides the key code of the same name.
#undef DELETE

#include <cwchar>
#include <stdexcept>
#include <string>

namespace vornal::platform {

namespace {

unsigned short fixedVk(int code) {
    switch (code) {
    case key::ENTER:
        return VK_RETURN;
    case key::TAB:
        return VK_TAB;
    case key::RIGHT:
        return VK_RIGHT;
    case key::DOWN:
        return VK_DOWN;
    case key::SPACE:
        return VK_SPACE;
    case key::DELETE:
        return VK_DELETE;
    case key::ESCAPE:
        return VK_ESCAPE;
    case key::MULTIPLY:
        return VK_MULTIPLY;
    case key::ADD:
        return VK_ADD;
    case key::DIVIDE:
        return VK_DIVIDE;
    case key::SHIFT:
        return VK_SHIFT;
    case key::CONTROL:
        return VK_CONTROL;
    case key::ALT:
        return VK_MENU;
    default:
        break;
    }
    if (code >= key::F1 && code <= key::F1 + 11)
        return static_cast<unsigned short>(VK_F1 + (code - key::F1));
    if (auto d = numpadDigit(code))
        return static_cast<unsigned short>(VK_NUMPAD0 + *d);
    if (code >= key::LETTER_A && code <= key::LETTER_A + 25)
        return static_cast<unsigned short>(code); // 'A'..'Z'
    if (code >= key::DIGIT_0 && code <= key::DIGIT_0 + 9)
        return static_cast<unsigned short>(code); // '0'..'9'
    switch (code) {
    case key::COMMA:
        return VK_OEM_COMMA;
    case key::MINUS:
        return VK_OEM_MINUS;
    case key::PERIOD:
        return VK_OEM_PERIOD;
    case key::SLASH:
        return VK_OEM_2;
    case key::SEMICOLON:
        return VK_OEM_1;
    case key::EQUALS:
        return VK_OEM_PLUS;
    case key::OPEN_BRACKET:
        return VK_OEM_4;
    case key::BACK_SLASH:
        return VK_OEM_5;
    case key::CLOSE_BRACKET:
        return VK_OEM_6;
    case key::BACK_QUOTE:
        return VK_OEM_3;
    case key::QUOTE:
        return VK_OEM_7;
    case key::LESS:
        return VK_OEM_102;
    default:
        return 0;
    }
}

bool isExtended(unsigned short vk) {
    switch (vk) {
    case VK_RIGHT:
    case VK_LEFT:
    case VK_UP:
    case VK_DOWN:
    case VK_DELETE:
    case VK_INSERT:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_DIVIDE:
    case VK_RMENU:
    case VK_RCONTROL:
        return true;
    default:
        return false;
    }
}

// "text" + number without the "literal" + std::string form that GCC 12 warns about falsely (-Wrestrict).
std::string withNumber(const char* before, unsigned long number, const char* after = "") {
    std::string s = before;
    s += std::to_string(number);
    s += after;
    return s;
}

HKL foregroundLayout() {
    const HWND w = GetForegroundWindow();
    const DWORD thread = w ? GetWindowThreadProcessId(w, nullptr) : 0;
    return GetKeyboardLayout(thread);
}

} // namespace

WindowsInjector::WindowsInjector(const CharChords& layout) : decoder_(layout) {}

WindowsInjector::~WindowsInjector() {
    std::lock_guard lock(mutex_);
    try {
        while (!down_.empty())
            take(down_.begin()->first);
        if (altDown_)
            send(VK_MENU, false);
    } catch (const std::exception&) {
    }
}

void WindowsInjector::send(unsigned short vk, bool press) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (press ? 0 : KEYEVENTF_KEYUP) | (isExtended(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
    if (SendInput(1, &in, sizeof(INPUT)) != 1)
        throw std::runtime_error(withNumber("SendInput refused the key event (error ", GetLastError(),
                                            "; another program's window may have a higher integrity level)"));
}

void WindowsInjector::sendUnicode(char32_t ch, bool press) {
    // Outside the basic plane a character is two UTF-16 units.
    wchar_t units[2];
    int n = 1;
    if (ch >= 0x10000) {
        units[0] = static_cast<wchar_t>(0xD800 + ((ch - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((ch - 0x10000) & 0x3FF));
        n = 2;
    } else {
        units[0] = static_cast<wchar_t>(ch);
    }
    for (int i = 0; i < n; ++i) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wScan = static_cast<WORD>(units[i]);
        in.ki.dwFlags = KEYEVENTF_UNICODE | (press ? 0 : KEYEVENTF_KEYUP);
        if (SendInput(1, &in, sizeof(INPUT)) != 1)
            throw std::runtime_error(
                withNumber("SendInput refused the character (error ", GetLastError(), ")"));
    }
}

WindowsInjector::Down WindowsInjector::keysFor(char32_t ch, bool dead) {
    Down d;
    const SHORT scan = ch < 0x10000 ? VkKeyScanExW(static_cast<WCHAR>(ch), foregroundLayout()) : -1;
    if (scan == -1 || (scan & 0xFF) == 0xFF) {
        d.unicode = ch; // on no key of this layout
        d.swallowSpace = dead;
        return d;
    }
    const unsigned shift = (scan >> 8) & 0xFF;
    if (shift & 1)
        d.vks.push_back(VK_SHIFT);
    if (shift & 2)
        d.vks.push_back(VK_CONTROL);
    if (shift & 4)
        d.vks.push_back(VK_MENU);
    const auto vk = static_cast<unsigned short>(scan & 0xFF);
    d.vks.push_back(vk);
    if (dead) {
        // A dead key has the top bit set in its character mapping; if this layout has the character on
        // a plain key, it is typed at once and the SPACE that would complete the accent is dropped.
        const UINT mapped = MapVirtualKeyExW(vk, MAPVK_VK_TO_CHAR, foregroundLayout());
        d.swallowSpace = (mapped & 0x80000000u) == 0;
    }
    return d;
}

void WindowsInjector::put(int code, Down d) {
    if (d.unicode)
        sendUnicode(d.unicode, true);
    for (unsigned short vk : d.vks)
        send(vk, true);
    down_[code] = std::move(d);
}

void WindowsInjector::take(int code) {
    auto it = down_.find(code);
    if (it == down_.end())
        return;
    Down d = std::move(it->second);
    down_.erase(it);
    for (auto vk = d.vks.rbegin(); vk != d.vks.rend(); ++vk)
        send(*vk, false);
    if (d.unicode)
        sendUnicode(d.unicode, false);
    if (d.swallowSpace)
        swallowSpace_ = true;
}

void WindowsInjector::typeChar(char32_t ch) {
    std::lock_guard lock(mutex_);
    swallowSpace_ = false;
    sendUnicode(ch, true);
    sendUnicode(ch, false);
}

std::optional<bool> WindowsInjector::userModifiersDown() {
    std::lock_guard lock(mutex_);
    // Keys this backend holds itself (a chord in progress, ALT of a numeric-pad code) do not count.
    auto ours = [this](int vk) {
        if (altDown_ && (vk == VK_MENU || vk == VK_LMENU || vk == VK_RMENU))
            return true;
        for (const auto& [code, d] : down_)
            for (unsigned short v : d.vks)
                if (v == vk || (v == VK_SHIFT && (vk == VK_LSHIFT || vk == VK_RSHIFT)) ||
                    (v == VK_CONTROL && (vk == VK_LCONTROL || vk == VK_RCONTROL)) ||
                    (v == VK_MENU && (vk == VK_LMENU || vk == VK_RMENU)))
                    return true;
        return false;
    };
    // AltGr is reported as right Alt (with left Ctrl).
    for (int vk : {VK_LSHIFT, VK_RSHIFT, VK_LCONTROL, VK_RCONTROL, VK_LMENU, VK_RMENU, VK_LWIN, VK_RWIN})
        if ((GetAsyncKeyState(vk) & 0x8000) != 0 && !ours(vk))
            return true;
    return false;
}

namespace {

// The window that receives the keys, or null when none would: a click on the empty desktop makes the
// shell's desktop window (Progman, or the WorkerW behind the wallpaper) the foreground window, and
// keys there select and open the desktop's icons. With no shell (wine) it is the desktop window itself.
HWND receivingWindow() {
    const HWND w = GetForegroundWindow();
    if (!w || w == GetDesktopWindow() || w == GetShellWindow())
        return nullptr;
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    if (std::wcscmp(cls, L"Progman") == 0 || std::wcscmp(cls, L"WorkerW") == 0)
        return nullptr;
    return w;
}

} // namespace

std::optional<bool> WindowsInjector::hasFocusTarget() {
    return receivingWindow() != nullptr;
}

unsigned long WindowsInjector::focusWindow() {
    return static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(receivingWindow()));
}

std::optional<bool> WindowsInjector::capsLockOn() {
    return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

void WindowsInjector::pressKey(int code) {
    std::lock_guard lock(mutex_);
    if (isModifierCode(code)) {
        decoder_.modifierDown(code);
        return;
    }
    if (decoder_.collectAltDigit(code)) {
        // Windows understands ALT + numeric-pad codes itself.
        if (!altDown_) {
            send(VK_MENU, true);
            altDown_ = true;
        }
        send(fixedVk(code), true);
        return;
    }
    if (code == key::SPACE && swallowSpace_ && decoder_.heldModifiers().empty()) {
        down_[code] = Down{};
        return;
    }
    swallowSpace_ = false;
    if (down_.count(code))
        take(code);
    const auto m = decoder_.decode(code);
    switch (m.kind) {
    case ChordDecoder::Meaning::Kind::Character:
        put(code, keysFor(m.ch, false));
        break;
    case ChordDecoder::Meaning::Kind::DeadCharacter:
        put(code, keysFor(m.ch, true));
        break;
    case ChordDecoder::Meaning::Kind::Key: {
        Down d;
        for (int mod : m.modifiers)
            d.vks.push_back(fixedVk(mod));
        const unsigned short vk = fixedVk(code);
        if (!vk)
            throw std::runtime_error(
                withNumber("no virtual key for key code ", static_cast<unsigned long>(code)));
        d.vks.push_back(vk);
        put(code, std::move(d));
        break;
    }
    }
}

void WindowsInjector::releaseKey(int code) {
    std::lock_guard lock(mutex_);
    if (isModifierCode(code)) {
        decoder_.modifierUp(code);
        if (code == key::ALT && altDown_) {
            altDown_ = false;
            send(VK_MENU, false);
        }
        return;
    }
    if (numpadDigit(code) && altDown_ && !down_.count(code)) {
        send(fixedVk(code), false);
        return;
    }
    if (code == key::SPACE) {
        auto it = down_.find(code);
        if (it != down_.end() && it->second.vks.empty() && !it->second.unicode) {
            down_.erase(it); // the swallowed SPACE
            swallowSpace_ = false;
            return;
        }
    }
    take(code);
}

} // namespace vornal::platform
