#pragma once

#include "platform/hotkey/GlobalHotkey.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace vornal::platform {

// XGrabKey on the root window of its own display connection; a thread waits for the key events.
class X11Hotkey : public GlobalHotkey {
public:
    // Null (and why) when no X display can be opened.
    static std::unique_ptr<X11Hotkey> open(std::string* why);
    ~X11Hotkey() override;

    std::string name() const override { return "X11"; }
    std::string grab(const HotkeyChord& chord, Callback onPress) override;
    void release() override;

private:
    explicit X11Hotkey(void* display);
    void run();
    void ungrab();

    void* display_; // Display*
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::mutex mutex_;
    Callback callback_;
    int keycode_ = 0;
    unsigned mask_ = 0;
    std::atomic<bool> stop_{false};
};

} // namespace vornal::platform
