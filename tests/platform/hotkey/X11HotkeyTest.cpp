// The X11 global shortcut on a real X server (Xvfb under scripts/test.sh): the combination pressed through
// XTest reaches the grab once, a second client cannot take it, and a released grab reports no more.
#include <platform/hotkey/GlobalHotkey.h>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

using namespace std::chrono_literals;
using vornal::platform::HotkeyChord;

namespace {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

} // namespace

TEST(X11Hotkey, APressOfTheGrabbedCombinationIsReportedOnce) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display)
        GTEST_SKIP() << "no X display (DISPLAY is not set)";
    std::string why;
    auto hotkey = vornal::platform::createGlobalHotkey(&why);
    ASSERT_TRUE(hotkey) << why;
    EXPECT_EQ(hotkey->name(), "X11");
    std::atomic<int> presses{0};
    ASSERT_EQ(hotkey->grab({HotkeyChord::Ctrl | HotkeyChord::Alt, "R"}, [&] { ++presses; }), "");
    Display* d = XOpenDisplay(nullptr);
    ASSERT_TRUE(d);
    const auto press = [d](KeySym sym, bool down) {
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, sym), down ? True : False, CurrentTime);
        XFlush(d);
    };
    const auto chord = [&] {
        press(XK_Control_L, true);
        press(XK_Alt_L, true);
        press(XK_r, true);
        press(XK_r, false);
        press(XK_Alt_L, false);
        press(XK_Control_L, false);
    };
    chord();
    EXPECT_TRUE(waitUntil([&] { return presses == 1; }, 5s));
    // A second client cannot take the same combination.
    auto other = vornal::platform::createGlobalHotkey(&why);
    ASSERT_TRUE(other);
    EXPECT_NE(other->grab({HotkeyChord::Ctrl | HotkeyChord::Alt, "R"}, [] {}), "");
    // Released: no more presses.
    hotkey->release();
    chord();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(presses, 1);
    XCloseDisplay(d);
}
