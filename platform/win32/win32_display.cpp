// The Windows platform's display and input: one Win32 window whose client area shows our back
// buffer through GDI, its messages, the keyboard as set-1 scan codes taken from key messages,
// the mouse as raw input (relative motion and buttons, in order) and the message box.
//
// The frame loop handles one window message per frame. Input messages are not among those:
// the keyboard sample takes every key message and the mouse read every mouse message, so that
// a busy mouse neither delays the window's own messages nor waits behind them.
#include <io.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/display.h"
#include "platform/display_backend.h"
#include "platform/system.h"

struct Window {
    HWND handle;
};

namespace {

constexpr wchar_t WINDOW_CLASS[] = L"Pfadlotse";
// Sleep ends up to a timer tick late (1 ms once the period is set); the last stretch before a
// present's slot is spun.
constexpr int64_t SPIN_NANOSECONDS = 2000000;
// The last mouse message, whatever the headers' Windows version says WM_MOUSELAST is.
constexpr UINT MOUSE_MESSAGES_LAST = 0x020E;  // WM_MOUSEHWHEEL

struct RawButton {
    USHORT down;
    USHORT up;
    int32_t button;
};
constexpr RawButton RAW_BUTTONS[] = {{RI_MOUSE_LEFT_BUTTON_DOWN, RI_MOUSE_LEFT_BUTTON_UP, 1},
                                     {RI_MOUSE_RIGHT_BUTTON_DOWN, RI_MOUSE_RIGHT_BUTTON_UP, 2},
                                     {RI_MOUSE_MIDDLE_BUTTON_DOWN, RI_MOUSE_MIDDLE_BUTTON_UP, 3}};

// The back buffer as a top-down DIB. Our pixel read as a 32-bit value is 0x00RRGGBB, so red
// is the third byte in memory and blue the first.
struct BackBufferFormat {
    BITMAPINFOHEADER header;
    DWORD masks[3];  // red, green, blue
};
constexpr BackBufferFormat BACK_BUFFER_FORMAT{
    {sizeof(BITMAPINFOHEADER), SURFACE_WIDTH, -SURFACE_HEIGHT, 1, 32, BI_BITFIELDS, 0, 0, 0, 0, 0},
    {0x00FF0000, 0x0000FF00, 0x000000FF}};

struct Win32State {
    bool displayOpen;
    bool timerPeriodSet;
    bool keyboardOpen;
    bool mouseOpen;
    Window window;
    POINT surfaceOrigin;  // in the client area
    int64_t counterFrequency;

    bool presented;
    int64_t lastPresent;
    // The frame the window holds, so that presenting the very same frame again is left out.
    // windowCurrent is false whenever the window's contents are not known to be shownFrame.
    std::vector<uint32_t> shownFrame;
    bool windowCurrent;

    uint8_t keys[256];  // bit 7 while down, by set-1 scan code

    bool grabbed;        // cursor hidden and held on the surface; raw motion is ours
    bool grabSuspended;  // ReleaseMouseGrab: stay free until ResumeMouseGrab
    bool cursorHidden;
    // Absolute pointing devices (tablets, remote desktops, virtual machines) report places.
    bool absoluteKnown;
    LONG absoluteX;
    LONG absoluteY;

    int messageBoxShownNotice = -1;
    bool messageBoxNoticeWritten;
};
Win32State state;

std::wstring Utf16(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    // Every Windows-1252 character lies in the Basic Multilingual Plane: one UTF-16 unit each.
    for (char c : text) wide += static_cast<wchar_t>(Windows1252CodePoint(static_cast<uint8_t>(c)));
    return wide;
}

std::string ErrorNumber() { return " (error " + std::to_string(GetLastError()) + ")"; }

// ---- Presenting ----------------------------------------------------------------------------

int64_t NowNanoseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    int64_t f = state.counterFrequency;
    return now.QuadPart / f * 1000000000 + now.QuadPart % f * 1000000000 / f;
}

void WaitForPresentSlot() {
    int64_t now = NowNanoseconds();
    if (state.presented) {
        int64_t deadline = state.lastPresent + FRAME_PERIOD_NANOSECONDS;
        if (deadline - now > SPIN_NANOSECONDS) {
            Sleep(static_cast<DWORD>((deadline - now - SPIN_NANOSECONDS) / 1000000));
        }
        while ((now = NowNanoseconds()) < deadline) {
        }
    }
    state.presented = true;
    state.lastPresent = now;
}

bool CopyBackBufferTo(HDC dc) {
    int lines = StretchDIBits(dc, state.surfaceOrigin.x, state.surfaceOrigin.y, SURFACE_WIDTH,
                              SURFACE_HEIGHT, 0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, BackBufferData(),
                              reinterpret_cast<const BITMAPINFO*>(&BACK_BUFFER_FORMAT),
                              DIB_RGB_COLORS, SRCCOPY);
    GdiFlush();
    return lines > 0 && lines != static_cast<int>(GDI_ERROR);
}

// Copies the whole back buffer into the window; a failure is dropped.
void CopyBackBufferToWindow() {
    state.windowCurrent = false;
    if (!BackBufferOpen() || !state.window.handle) return;
    HDC dc = GetDC(state.window.handle);
    if (!dc) return;
    bool copied = CopyBackBufferTo(dc);
    ReleaseDC(state.window.handle, dc);
    if (!copied) return;
    const uint32_t* pixels = BackBufferData();
    state.shownFrame.assign(pixels, pixels + SURFACE_WIDTH * SURFACE_HEIGHT);
    state.windowCurrent = true;
}

bool WindowShowsBackBuffer() {
    return state.windowCurrent &&
           state.shownFrame.size() == static_cast<size_t>(SURFACE_WIDTH * SURFACE_HEIGHT) &&
           std::memcmp(state.shownFrame.data(), BackBufferData(),
                       state.shownFrame.size() * sizeof(uint32_t)) == 0;
}

// ---- The cursor ----------------------------------------------------------------------------

bool Focused() { return state.window.handle && GetForegroundWindow() == state.window.handle; }

RECT SurfaceOnDesktop() {
    POINT corner = state.surfaceOrigin;
    ClientToScreen(state.window.handle, &corner);
    return RECT{corner.x, corner.y, corner.x + SURFACE_WIDTH, corner.y + SURFACE_HEIGHT};
}

// Puts the platform cursor where the program's is.
void PlaceCursor() {
    RECT surface = SurfaceOnDesktop();
    SetCursorPos(surface.left + MousePositionX(), surface.top + MousePositionY());
}

// Hides the cursor and holds it on the surface; asked each frame, since the window may have
// moved or another program freed the cursor.
void HoldCursor() {
    RECT surface = SurfaceOnDesktop();
    RECT clip;
    if (!GetClipCursor(&clip) || !EqualRect(&clip, &surface)) ClipCursor(&surface);
    if (!state.cursorHidden) {
        ShowCursor(FALSE);
        state.cursorHidden = true;
    }
}

void GrabCursor() {
    // What arrived while we were not reading belongs to somebody else's use of the mouse.
    MouseForgetPendingEvents();
    state.absoluteKnown = false;
    HoldCursor();
    PlaceCursor();
    state.grabbed = true;
}

void GiveCursorBack() {
    if (!state.grabbed) return;
    state.grabbed = false;
    ClipCursor(nullptr);
    // The cursor reappears where the program's own cursor was.
    if (state.window.handle) PlaceCursor();
    if (state.cursorHidden) {
        ShowCursor(TRUE);
        state.cursorHidden = false;
    }
}

// ---- Input messages ------------------------------------------------------------------------

void TakeRawInput(HRAWINPUT handle) {
    RAWINPUT input;
    UINT size = sizeof input;
    if (GetRawInputData(handle, RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER)) ==
        static_cast<UINT>(-1))
        return;
    if (input.header.dwType != RIM_TYPEMOUSE || !state.grabbed) return;
    const RAWMOUSE& mouse = input.data.mouse;
    LONG dx = mouse.lLastX, dy = mouse.lLastY;
    if (mouse.usFlags & MOUSE_MOVE_ABSOLUTE) {
        // 0 … 65535 across the screen (or the whole virtual desktop); the motion is the
        // difference from the last place, none for the first.
        bool desktop = mouse.usFlags & MOUSE_VIRTUAL_DESKTOP;
        LONG x = MulDiv(mouse.lLastX, GetSystemMetrics(desktop ? SM_CXVIRTUALSCREEN : SM_CXSCREEN),
                        65535);
        LONG y = MulDiv(mouse.lLastY, GetSystemMetrics(desktop ? SM_CYVIRTUALSCREEN : SM_CYSCREEN),
                        65535);
        dx = state.absoluteKnown ? x - state.absoluteX : 0;
        dy = state.absoluteKnown ? y - state.absoluteY : 0;
        state.absoluteKnown = true;
        state.absoluteX = x;
        state.absoluteY = y;
    }
    // One report may move and change buttons; the motion came first.
    if (dx != 0 || dy != 0) MouseQueueEvent(MouseDeviceEvent{dx, dy, 0, 0, false});
    for (const RawButton& button : RAW_BUTTONS) {
        if (mouse.usButtonFlags & button.down)
            MouseQueueEvent(MouseDeviceEvent{0, 0, 0, button.button, true});
        if (mouse.usButtonFlags & button.up)
            MouseQueueEvent(MouseDeviceEvent{0, 0, 0, button.button, false});
    }
    if (mouse.usButtonFlags & RI_MOUSE_WHEEL) {
        MouseQueueEvent(MouseDeviceEvent{0, 0, static_cast<SHORT>(mouse.usButtonData), 0, false});
    }
}

void NoteKey(WPARAM virtualKey, LPARAM info, bool down) {
    // The message carries the key's set-1 scan code, and the E0 prefix as bit 24.
    UINT code = (info >> 16) & 0xFF;
    if (code == 0) code = MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC) & 0xFF;
    if (info & (1 << 24)) code |= 0x80;
    // The two keys that messages number the other way round than a 256-key snapshot.
    if (virtualKey == VK_PAUSE) code = 0xC5;
    if (virtualKey == VK_NUMLOCK) code = 0x45;
    if (code != 0) state.keys[code & 0xFF] = down ? 0x80 : 0;
}

// Handles every message of the range that is pending, in order.
void TakeMessages(UINT first, UINT last) {
    MSG message;
    while (PeekMessageW(&message, nullptr, first, last, PM_REMOVE)) DispatchMessageW(&message);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_INPUT:
            TakeRawInput(reinterpret_cast<HRAWINPUT>(l));
            break;  // DefWindowProc cleans up after raw input
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_KEYUP:
        case WM_SYSKEYUP:
            // Not passed on: F10 and Alt would open the system menu.
            NoteKey(w, l, message == WM_KEYDOWN || message == WM_SYSKEYDOWN);
            return 0;
        case WM_CLOSE:
            QueueWindowEvent(WINDOW_EVENT_CLOSE_REQUESTED);
            return 0;
        case WM_SETFOCUS:
            QueueWindowEvent(WINDOW_EVENT_FOCUS_GAINED);
            return 0;
        case WM_KILLFOCUS:
            // The cursor goes back at once; keys let go elsewhere would never be seen up.
            GiveCursorBack();
            std::memset(state.keys, 0, sizeof state.keys);
            QueueWindowEvent(WINDOW_EVENT_FOCUS_LOST);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the paint covers the surface
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (dc && BackBufferOpen()) CopyBackBufferTo(dc);
            EndPaint(window, &paint);
            state.windowCurrent = false;
            QueueWindowEvent(WINDOW_EVENT_REPAINTED);
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(window, message, w, l);
}

void CloseWindows() {
    GiveCursorBack();
    if (state.window.handle) DestroyWindow(state.window.handle);
    state.window = Window{};
    state.windowCurrent = false;
    state.shownFrame.clear();
}

void CloseSurface() {
    CloseBackBuffer();
    CloseTextRenderer();
    if (state.timerPeriodSet) timeEndPeriod(1);
    state.timerPeriodSet = false;
}

void CloseKeyboard() { state.keyboardOpen = false; }

LRESULT CALLBACK NoteMessageBoxShown(int code, WPARAM w, LPARAM l) {
    if (code == HCBT_ACTIVATE && state.messageBoxShownNotice >= 0 &&
        !state.messageBoxNoticeWritten) {
        state.messageBoxNoticeWritten = _write(state.messageBoxShownNotice, "S", 1) == 1;
    }
    return CallNextHookEx(nullptr, code, w, l);
}

}  // namespace

// ---- Start-up and windows ------------------------------------------------------------------

int32_t OpenDisplay() {
    if (!state.displayOpen) {
        // Client pixels are screen pixels: a scaled desktop must not stretch the frame.
        SetProcessDPIAware();
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProcedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        windowClass.lpszClassName = WINDOW_CLASS;
        if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            SetPlatformOpenError("cannot register the window class" + ErrorNumber());
            return 0;
        }
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        state.counterFrequency = frequency.QuadPart;
        // The frame's 10 ms pause and the present's sleep need a finer timer than 15.6 ms.
        state.timerPeriodSet = timeBeginPeriod(1) == TIMERR_NOERROR;
        state.displayOpen = true;
        SetShutdownStep(SHUTDOWN_SURFACE, CloseSurface);
    }
    return OpenKeyboard();
}

int32_t OpenKeyboard() {
    if (!state.keyboardOpen) SetShutdownStep(SHUTDOWN_KEYBOARD, CloseKeyboard);
    state.keyboardOpen = true;
    return 1;
}

Window* OpenMainWindow(int32_t x, int32_t y, int32_t clientWidth, int32_t clientHeight,
                       std::string_view title, uint32_t style) {
    if (!state.displayOpen || state.window.handle || clientWidth <= 0 || clientHeight <= 0) {
        return nullptr;
    }
    RECT frame{0, 0, clientWidth, clientHeight};
    if (!AdjustWindowRectEx(&frame, style, FALSE, 0)) return nullptr;
    HWND handle = CreateWindowExW(0, WINDOW_CLASS, Utf16(title).c_str(), style, x, y,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!handle) {
        SetPlatformOpenError("cannot open the window" + ErrorNumber() +
                             "; under Wine, set DISPLAY to a running X server");
        return nullptr;
    }
    state.window.handle = handle;
    ShowWindow(handle, SW_SHOW);
    SetForegroundWindow(handle);
    SetFocus(handle);
    UpdateWindow(handle);
    SetShutdownStep(SHUTDOWN_WINDOWS, CloseWindows);
    return &state.window;
}

int32_t OpenWindowSurface(Window* window, int32_t x, int32_t y, int32_t width, int32_t height,
                          int32_t stretch, int32_t rightMargin, int32_t bottomMargin) {
    if (!window || window != &state.window || !state.window.handle) return 0;
    RECT client{};
    GetClientRect(state.window.handle, &client);
    if (width != SURFACE_WIDTH || height != SURFACE_HEIGHT || stretch != 0 || rightMargin != 0 ||
        bottomMargin != 0 || x < 0 || y < 0 || x + width > client.right ||
        y + height > client.bottom) {
        return 0;
    }
    // The glyphs are built into the program: nothing to load that could fail.
    OpenTextRenderer();
    state.surfaceOrigin = POINT{x, y};
    OpenBackBuffer();
    state.presented = false;
    SetShutdownStep(SHUTDOWN_SURFACE, CloseSurface);
    CopyBackBufferToWindow();
    return 1;
}

// ---- Presenting and window events ----------------------------------------------------------

void PresentSurface() {
    EndSurfaceDrawing();
    if (!BackBufferOpen()) return;
    // The pacing is the same whether or not the frame is sent.
    WaitForPresentSlot();
    if (!WindowShowsBackBuffer()) CopyBackBufferToWindow();
}

int32_t PollWindowEvent() {
    if (int32_t queued = TakeWindowEvent()) return queued;
    // Any message but the keyboard's and the mouse's, which their reads take.
    static constexpr UINT RANGES[][2] = {{0, WM_INPUT - 1},
                                         {WM_KEYLAST + 1, WM_MOUSEFIRST - 1},
                                         {MOUSE_MESSAGES_LAST + 1, 0xFFFFFFFF}};
    MSG message;
    bool taken = false;
    for (const auto& range : RANGES) {
        if ((taken = PeekMessageW(&message, nullptr, range[0], range[1], PM_REMOVE))) break;
    }
    if (!taken) return WINDOW_EVENT_NONE;
    TranslateMessage(&message);
    DispatchMessageW(&message);
    int32_t queued = TakeWindowEvent();
    return queued ? queued : WINDOW_EVENT_HANDLED;
}

// ---- Keyboard ------------------------------------------------------------------------------

int32_t SampleKeyboard() {
    if (!state.keyboardOpen) {
        KeyboardSampleFailed();
        return 0;
    }
    TakeMessages(WM_KEYFIRST, WM_KEYLAST);
    if (!Focused()) {
        std::memset(state.keys, 0, sizeof state.keys);
        KeyboardSampleFailed();
        return 0;
    }
    KeyboardStoreSnapshot(state.keys);
    return 1;
}

// ---- Message box ---------------------------------------------------------------------------

void SetMessageBoxShownNotice(int fd) { state.messageBoxShownNotice = fd; }

int32_t ShowMessageBox(std::string_view caption, std::string_view text) {
    HWND owner = GetForegroundWindow();
    DWORD process = 0;
    if (owner) GetWindowThreadProcessId(owner, &process);
    if (process != GetCurrentProcessId()) owner = nullptr;
    state.messageBoxNoticeWritten = false;
    HHOOK hook = state.messageBoxShownNotice >= 0
                     ? SetWindowsHookExW(WH_CBT, NoteMessageBoxShown, nullptr, GetCurrentThreadId())
                     : nullptr;
    int pressed =
        MessageBoxW(owner, Utf16(text).c_str(), Utf16(caption).c_str(), MB_OK | MB_SETFOREGROUND);
    if (hook) UnhookWindowsHookEx(hook);
    return pressed != 0 ? 1 : 0;
}

void DropDisplayConnection() {
    // For the fault report's box while the window's thread is held: the cursor is freed for
    // good. It is hidden only over the window's own thread's windows, so it shows over the box;
    // only that thread can show it again over the window.
    state.grabSuspended = true;
    state.grabbed = false;
    ClipCursor(nullptr);
    if (state.cursorHidden && state.window.handle &&
        GetWindowThreadProcessId(state.window.handle, nullptr) == GetCurrentThreadId()) {
        ShowCursor(TRUE);
        state.cursorHidden = false;
    }
}

// ---- Mouse ---------------------------------------------------------------------------------

int32_t OpenMouse() {
    if (state.mouseOpen) return 1;
    // The system mouse (generic desktop page, usage 2), delivered to whichever of our windows
    // has the keyboard focus, and only while we are in the foreground.
    RAWINPUTDEVICE device{0x01, 0x02, 0, nullptr};
    if (!RegisterRawInputDevices(&device, 1, sizeof device)) return 0;
    state.mouseOpen = true;
    SetShutdownStep(SHUTDOWN_MOUSE, CloseMouse);
    return 1;
}

int32_t ReadMouseEvents() {
    MouseBeginRead();
    if (!state.mouseOpen) return 0;
    TakeMessages(WM_INPUT, WM_INPUT);
    // The window's own mouse messages tell nothing the raw input does not.
    TakeMessages(WM_MOUSEFIRST, MOUSE_MESSAGES_LAST);
    if (!Focused() || state.grabSuspended) {
        GiveCursorBack();
        MouseForgetPendingEvents();
        return 0;
    }
    if (!state.grabbed) {
        GrabCursor();
    } else {
        HoldCursor();
    }
    MouseApplyEvents();
    return 1;
}

void ReleaseMouseGrab() {
    state.grabSuspended = true;
    GiveCursorBack();
}

void ResumeMouseGrab() { state.grabSuspended = false; }

void CloseMouse() {
    GiveCursorBack();
    if (state.mouseOpen) {
        RAWINPUTDEVICE device{0x01, 0x02, RIDEV_REMOVE, nullptr};
        RegisterRawInputDevices(&device, 1, sizeof device);
    }
    state.mouseOpen = false;
    MouseForgetPendingEvents();
}
