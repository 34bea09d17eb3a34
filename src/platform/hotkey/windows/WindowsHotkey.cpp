#include "platform/hotkey/windows/WindowsHotkey.h"

#include <windows.h>

#include <cstdlib>

namespace vornal::platform {

namespace {
constexpr int kHotkeyId = 1;

unsigned virtualKey(const std::string& key) {
    if (key.size() == 1 && ((key[0] >= 'A' && key[0] <= 'Z') || (key[0] >= '0' && key[0] <= '9')))
        return unsigned(key[0]); // VK_A.. and VK_0.. are the characters' codes
    if (key.size() >= 2 && key[0] == 'F') {
        const int n = std::atoi(key.c_str() + 1);
        if (n >= 1 && n <= 24)
            return unsigned(VK_F1 + n - 1);
    }
    return 0;
}
} // namespace

WindowsHotkey::~WindowsHotkey() {
    release();
}

std::string WindowsHotkey::grab(const HotkeyChord& chord, Callback onPress) {
    release();
    const unsigned vk = virtualKey(chord.key);
    if (vk == 0)
        return "the key " + chord.key + " is not known";
    unsigned mods = MOD_NOREPEAT;
    if (chord.modifiers & HotkeyChord::Ctrl)
        mods |= MOD_CONTROL;
    if (chord.modifiers & HotkeyChord::Alt)
        mods |= MOD_ALT;
    if (chord.modifiers & HotkeyChord::Shift)
        mods |= MOD_SHIFT;
    if (chord.modifiers & HotkeyChord::Meta)
        mods |= MOD_WIN;
    {
        std::lock_guard lock(mutex_);
        callback_ = std::move(onPress);
        answered_ = false;
        error_.clear();
    }
    thread_ = std::thread([this, mods, vk] { run(mods, vk); });
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return answered_; });
    if (!error_.empty()) {
        lock.unlock();
        thread_.join();
        return error_;
    }
    return {};
}

void WindowsHotkey::run(unsigned modifiers, unsigned vk) {
    MSG msg;
    PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // the thread's message queue
    const bool ok = RegisterHotKey(nullptr, kHotkeyId, modifiers, vk) != 0;
    {
        std::lock_guard lock(mutex_);
        threadId_ = GetCurrentThreadId();
        answered_ = true;
        if (!ok)
            error_ = "another program already uses this key combination";
    }
    ready_.notify_all();
    if (!ok)
        return;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_HOTKEY && msg.wParam == kHotkeyId) {
            Callback cb;
            {
                std::lock_guard lock(mutex_);
                cb = callback_;
            }
            if (cb)
                cb();
        }
    }
    UnregisterHotKey(nullptr, kHotkeyId);
}

void WindowsHotkey::release() {
    {
        std::lock_guard lock(mutex_);
        callback_ = nullptr;
        if (thread_.joinable() && threadId_ != 0)
            PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    }
    if (thread_.joinable())
        thread_.join();
    threadId_ = 0;
}

} // namespace vornal::platform
