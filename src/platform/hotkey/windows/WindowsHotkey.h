#pragma once

#include "platform/hotkey/GlobalHotkey.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vornal::platform {

// RegisterHotKey on a thread of its own with its own message loop (WM_HOTKEY goes to the registering
// thread), so that no window of the program is involved.
class WindowsHotkey : public GlobalHotkey {
public:
    ~WindowsHotkey() override;
    std::string name() const override { return "Windows"; }
    std::string grab(const HotkeyChord& chord, Callback onPress) override;
    void release() override;

private:
    void run(unsigned modifiers, unsigned vk);

    std::thread thread_;
    unsigned long threadId_ = 0;
    std::mutex mutex_;
    std::condition_variable ready_;
    bool answered_ = false;
    std::string error_;
    Callback callback_;
};

} // namespace vornal::platform
