// A helper of the wine tests, plain Win32 (no Qt):
//   wintarget.exe --record FILE [SECONDS]  a window with a text field that keeps the keyboard focus
//                                          (it takes the foreground back when another window gets
//                                          it); after every change the whole text is written to FILE
//                                          (UTF-8, written to FILE.tmp and renamed, so that a reader
//                                          never sees half a text). Ends when closed, or after
//                                          SECONDS (default 120), so that a test can never hang on it.
//                                          Keys that arrive while Ctrl or Alt is down are named on
//                                          standard error ("wintarget: key 0x31 with Ctrl").
//   wintarget.exe --hold KEY UNTIL_FILE [SECONDS]
//                                          presses KEY (ctrl, shift, alt) with SendInput, as a user's
//                                          finger would, prints "down", and releases it when
//                                          UNTIL_FILE exists (at the latest after SECONDS, default
//                                          30), then prints "up"
//   wintarget.exe --keystate               prints what GetAsyncKeyState says of the modifier keys
//                                          ("ctrl=up shift=up alt=up")
//   wintarget.exe --screenshot FILE.bmp    the whole screen as a 24-bit BMP file
//   wintarget.exe --windows                the titles of the visible top-level windows, one a line
//   wintarget.exe --close TITLE            asks the visible top-level windows whose title starts with
//                                          TITLE to close (WM_CLOSE, as the title bar's button does);
//                                          exit status 1 when there is none
// Exit status 0 on success, 1 on failure (reason on standard error), 2 on bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring recordFile;
HWND edit = nullptr;
constexpr UINT_PTR kEndTimer = 1, kFocusTimer = 2;

std::string utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

bool writeFile(const std::wstring& path, const void* data, size_t size) {
    const std::wstring tmp = path + L".tmp";
    HANDLE h =
        CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok =
        size == 0 || (WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size);
    CloseHandle(h);
    return ok && MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void saveText() {
    const int n = GetWindowTextLengthW(edit);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), n + 1)));
    const std::string bytes = utf8(text);
    if (!writeFile(recordFile, bytes.data(), bytes.size()))
        std::fprintf(stderr, "wintarget: cannot write %ls (error %lu)\n", recordFile.c_str(), GetLastError());
}

// The record file appears (empty) once the window is in front and its text field has the keyboard
// focus: the X server makes a window the foreground one some time after it was asked to, and keys
// sent before that go to whichever window was in front.
void markReady(HWND window) {
    static bool ready = false;
    if (!ready && GetForegroundWindow() == window && GetFocus() == edit) {
        ready = true;
        saveText();
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                                   ES_WANTRETURN,
                               0, 0, 100, 100, window, reinterpret_cast<HMENU>(1), nullptr, nullptr);
        return edit ? 0 : -1;
    case WM_SIZE:
        MoveWindow(edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SETFOCUS:
        SetFocus(edit);
        break;
    case WM_ACTIVATE:
        // Being activated gives the text field the focus; being deactivated is noted (a SetFocus here
        // would take the activation straight back from the window that just got it).
        if (LOWORD(wParam) != WA_INACTIVE)
            SetFocus(edit);
        else
            std::fprintf(stderr, "wintarget: deactivated at %llu ms, the foreground is now %p\n",
                         static_cast<unsigned long long>(GetTickCount64()),
                         static_cast<void*>(GetForegroundWindow()));
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == EN_CHANGE)
            saveText();
        return 0;
    case WM_TIMER:
        if (wParam == kFocusTimer) {
            if (GetForegroundWindow() != window)
                SetForegroundWindow(window);
            if (GetFocus() != edit)
                SetFocus(edit);
            markReady(window);
        } else {
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int record(const std::wstring& file, int seconds) {
    recordFile = file;
    WNDCLASSW wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"VornalWineTarget";
    if (!RegisterClassW(&wc))
        return 1;
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"Vornal wine target", WS_OVERLAPPEDWINDOW, 600, 500,
                                  400, 250, nullptr, nullptr, wc.hInstance, nullptr);
    if (!window) {
        std::fprintf(stderr, "wintarget: cannot create the window (error %lu)\n", GetLastError());
        return 1;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    SetFocus(edit);
    markReady(window);
    SetTimer(window, kEndTimer, static_cast<UINT>(seconds) * 1000u, nullptr);
    SetTimer(window, kFocusTimer, 200, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Keys that reached the frame (sent while the window was coming up, before its text field
        // had the focus) belong to the text field.
        if (msg.hwnd == window && msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST)
            msg.hwnd = edit;
        // The key state of this thread is the one the message was sent with.
        if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
            const bool ctrl = GetKeyState(VK_CONTROL) < 0, alt = GetKeyState(VK_MENU) < 0;
            const auto vk = static_cast<unsigned>(msg.wParam);
            if ((ctrl || alt) && vk != VK_CONTROL && vk != VK_MENU && vk != VK_SHIFT) {
                std::fprintf(stderr, "wintarget: key 0x%02x with%s%s\n", vk, ctrl ? " Ctrl" : "",
                             alt ? " Alt" : "");
                std::fflush(stderr);
            }
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

int screenshot(const std::wstring& file) {
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int w = GetSystemMetrics(SM_CXVIRTUALSCREEN), h = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (w <= 0 || h <= 0)
        return 1;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h; // bottom-up, as BMP files store it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    bool ok = bitmap != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, w, h, screen, x, y, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
        const size_t imageSize = stride * static_cast<size_t>(h);
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42; // "BM"
        header.bfOffBits = sizeof header + sizeof info.bmiHeader;
        header.bfSize = static_cast<DWORD>(header.bfOffBits + imageSize);
        std::vector<char> data(header.bfOffBits + imageSize);
        std::memcpy(data.data(), &header, sizeof header);
        std::memcpy(data.data() + sizeof header, &info.bmiHeader, sizeof info.bmiHeader);
        std::memcpy(data.data() + header.bfOffBits, pixels, imageSize);
        ok = writeFile(file, data.data(), data.size());
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok)
        std::fprintf(stderr, "wintarget: screenshot failed (error %lu)\n", GetLastError());
    return ok ? 0 : 1;
}

bool sendKey(WORD vk, bool press) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = press ? 0 : KEYEVENTF_KEYUP;
    return SendInput(1, &in, sizeof(INPUT)) == 1;
}

WORD modifierKey(const wchar_t* name) {
    if (std::wcscmp(name, L"ctrl") == 0)
        return VK_CONTROL;
    if (std::wcscmp(name, L"shift") == 0)
        return VK_SHIFT;
    if (std::wcscmp(name, L"alt") == 0)
        return VK_MENU;
    return 0;
}

int hold(WORD vk, const std::wstring& untilFile, int seconds) {
    if (!sendKey(vk, true)) {
        std::fprintf(stderr, "wintarget: SendInput refused the key (error %lu)\n", GetLastError());
        return 1;
    }
    std::printf("down\n");
    std::fflush(stdout);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000u;
    while (GetFileAttributesW(untilFile.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end)
        Sleep(20);
    const bool ok = sendKey(vk, false);
    std::printf(ok ? "up\n" : "not released\n");
    std::fflush(stdout);
    return ok ? 0 : 1;
}

int keystate() {
    auto state = [](int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0 ? "down" : "up"; };
    std::printf("ctrl=%s shift=%s alt=%s\n", state(VK_CONTROL), state(VK_SHIFT), state(VK_MENU));
    return 0;
}

BOOL CALLBACK printTitle(HWND window, LPARAM) {
    wchar_t title[256];
    if (IsWindowVisible(window) && GetWindowTextW(window, title, 256) > 0)
        std::printf("%s\n", utf8(title).c_str());
    return TRUE;
}

struct CloseRequest {
    std::wstring prefix;
    int closed = 0;
};

BOOL CALLBACK closeWindow(HWND window, LPARAM param) {
    auto* request = reinterpret_cast<CloseRequest*>(param);
    wchar_t title[256];
    if (IsWindowVisible(window) && GetWindowTextW(window, title, 256) > 0 &&
        std::wcsncmp(title, request->prefix.c_str(), request->prefix.size()) == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        ++request->closed;
    }
    return TRUE;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc >= 3 && std::wcscmp(argv[1], L"--record") == 0) {
        const int seconds = argc >= 4 ? _wtoi(argv[3]) : 120;
        return record(argv[2], seconds > 0 ? seconds : 120);
    }
    if ((argc == 4 || argc == 5) && std::wcscmp(argv[1], L"--hold") == 0 && modifierKey(argv[2])) {
        const int seconds = argc == 5 ? _wtoi(argv[4]) : 30;
        return hold(modifierKey(argv[2]), argv[3], seconds > 0 ? seconds : 30);
    }
    if (argc == 2 && std::wcscmp(argv[1], L"--keystate") == 0)
        return keystate();
    if (argc == 3 && std::wcscmp(argv[1], L"--screenshot") == 0)
        return screenshot(argv[2]);
    if (argc == 2 && std::wcscmp(argv[1], L"--windows") == 0)
        return EnumWindows(printTitle, 0) ? 0 : 1;
    if (argc == 3 && std::wcscmp(argv[1], L"--close") == 0) {
        CloseRequest request{argv[2]};
        EnumWindows(closeWindow, reinterpret_cast<LPARAM>(&request));
        return request.closed > 0 ? 0 : 1;
    }
    std::fprintf(stderr, "usage: wintarget.exe --record FILE [SECONDS] | --hold ctrl|shift|alt UNTIL_FILE "
                         "[SECONDS] | --keystate | --screenshot FILE.bmp | --windows | --close TITLE\n");
    return 2;
}
