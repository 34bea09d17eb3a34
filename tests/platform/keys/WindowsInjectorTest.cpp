// The Windows keyboard output typing into a real window of this process (under wine on Linux):
// characters without a key as Unicode characters, the user's modifier keys against the backend's own,
// the foreground window. Skipped where no window can be shown (no display for wine).
#include "platform/keys/windows/WindowsInjector.h"
#include "platform/keys/KeyCodes.h"

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

using namespace vornal::platform;

namespace {

// A top-level window with a text field that has the keyboard focus.
class Receiver {
public:
    Receiver() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VornalInjectorTestWindow";
        RegisterClassW(&wc);
        frame_ = CreateWindowExW(0, wc.lpszClassName, L"Vornal injector test", WS_OVERLAPPEDWINDOW, 100, 100,
                                 400, 200, nullptr, nullptr, wc.hInstance, nullptr);
        if (!frame_)
            return;
        edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 380, 150, frame_,
                                nullptr, wc.hInstance, nullptr);
        ShowWindow(frame_, SW_SHOWNORMAL);
        // The X server under wine makes a window the foreground one some time after it was asked to.
        for (int i = 0; i < 50 && !ready(); ++i) {
            SetForegroundWindow(frame_);
            SetFocus(edit_);
            pump(100);
        }
    }
    ~Receiver() {
        if (frame_)
            DestroyWindow(frame_);
        pump(50);
    }
    bool ready() const { return edit_ && GetForegroundWindow() == frame_ && GetFocus() == edit_; }
    void pump(int ms) {
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
        do {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            Sleep(5);
        } while (GetTickCount64() < end);
    }
    std::wstring text() const {
        wchar_t buffer[256] = {};
        GetWindowTextW(edit_, buffer, 256);
        return buffer;
    }

private:
    HWND frame_ = nullptr;
    HWND edit_ = nullptr;
};

void sendKey(WORD vk, bool press) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = press ? 0 : KEYEVENTF_KEYUP;
    SendInput(1, &in, sizeof(INPUT));
}

} // namespace

TEST(WindowsInjector, TypesCharactersWithoutAKeyAsUnicodeCharacters) {
    Receiver r;
    if (!r.ready())
        GTEST_SKIP() << "no window of this program can have the keyboard focus here (no display?)";
    WindowsInjector injector(CharChords{{U'x', {key::LETTER_A + ('X' - 'A')}}});
    ASSERT_EQ(injector.hasFocusTarget(), true);
    // Outside the basic plane a character is a pair of UTF-16 units; the window must get both.
    for (char32_t ch : std::u32string(U"°µ±€ÄßΩ\U0001D707"))
        injector.typeCharacter(ch);
    injector.keyPress(key::LETTER_A + ('X' - 'A'));
    injector.keyRelease(key::LETTER_A + ('X' - 'A'));
    r.pump(300);
    EXPECT_EQ(r.text(), L"°µ±€ÄßΩ\U0001D707x");
}

TEST(WindowsInjector, TheUsersModifierKeysCountTheBackendsOwnDoNot) {
    Receiver r;
    if (!r.ready())
        GTEST_SKIP() << "no window of this program can have the keyboard focus here (no display?)";
    WindowsInjector injector(CharChords{{U'A', {key::SHIFT, key::LETTER_A}}, {U'a', {key::LETTER_A}}});
    EXPECT_EQ(injector.userModifiersDown(), false);
    // Another program (or the keyboard) presses Ctrl.
    sendKey(VK_CONTROL, true);
    EXPECT_EQ(injector.userModifiersDown(), true);
    sendKey(VK_CONTROL, false);
    EXPECT_EQ(injector.userModifiersDown(), false);
    // The backend's own Shift of a chord in progress is not the user's.
    injector.keyPress(key::SHIFT);
    injector.keyPress(key::LETTER_A);
    EXPECT_EQ(injector.userModifiersDown(), false);
    injector.keyRelease(key::LETTER_A);
    injector.keyRelease(key::SHIFT);
    EXPECT_EQ(injector.userModifiersDown(), false);
    injector.keyPress(key::LETTER_A);
    injector.keyRelease(key::LETTER_A);
    r.pump(300);
    EXPECT_EQ(r.text(), L"Aa");
}
