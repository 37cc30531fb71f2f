// The Windows port on a desktop of its own (Wine on Xvfb in the tests): what the screen shows,
// the pacing, the close box, the focus and the message box. It takes
// the foreground and the mouse; nothing else may run on that desktop meanwhile.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <thread>

#include "platform/display.h"
#include "platform/display_backend.h"

namespace {

int failures = 0;
#define CHECK(condition)                                                                         \
    ((condition) ? void()                                                                        \
                 : (std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition), \
                    void(++failures)))

HWND window;

void Frame() {
    ClearSurface(0x202020);
    BeginSurfaceDrawing();
    // One disc per channel, so that a swapped channel shows.
    DrawDisc(100, 100, 40, 0x0000FF);
    DrawDisc(200, 100, 40, 0x00FF00);
    DrawDisc(300, 100, 40, 0xFF0000);
    DrawLineBetween(0, 599, 799, 0, 0x40D0D0);
    EndSurfaceDrawing();
    PresentSurface();
}

// Draws frames until the condition holds, for up to about five seconds.
bool Within(const std::function<bool()>& condition) {
    for (int i = 0; i < 300; ++i) {
        if (condition()) return true;
        Frame();
    }
    return condition();
}

RECT SurfaceOnScreen() {
    POINT corner{0, 0};
    ClientToScreen(window, &corner);
    return RECT{corner.x, corner.y, corner.x + SURFACE_WIDTH, corner.y + SURFACE_HEIGHT};
}

// Pixels of the surface as the screen shows it that differ from the back buffer.
int ScreenDifferences() {
    RECT surface = SurfaceOnScreen();
    HDC screen = GetDC(nullptr);
    HDC copy = CreateCompatibleDC(screen);
    BITMAPINFO format{};
    format.bmiHeader = {
        sizeof(BITMAPINFOHEADER), SURFACE_WIDTH, -SURFACE_HEIGHT, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(copy, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, screen, surface.left, surface.top, SRCCOPY);
    GdiFlush();
    int differences = 0;
    for (int i = 0; i < SURFACE_WIDTH * SURFACE_HEIGHT; ++i)
        differences += (static_cast<uint32_t*>(bits)[i] & 0xFFFFFF) != BackBufferPixels()[i];
    SelectObject(copy, old);
    DeleteObject(bitmap);
    DeleteDC(copy);
    ReleaseDC(nullptr, screen);
    return differences;
}

// The cursor held on the surface and hidden, as while the window has the focus.
bool CursorHeld() {
    RECT clip, surface = SurfaceOnScreen();
    CURSORINFO cursor{sizeof cursor, 0, nullptr, {}};
    return GetClipCursor(&clip) && EqualRect(&clip, &surface) && GetCursorInfo(&cursor) &&
           !(cursor.flags & CURSOR_SHOWING);
}

}  // namespace

int main() {
    CHECK(OpenDisplay() && OpenMouse());
    Window* opened =
        OpenMainWindow(0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, "Fenster", MAIN_WINDOW_STYLE);
    CHECK(OpenWindowSurface(opened, 0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, 0, 0, 0));
    window = FindWindowW(nullptr, L"Fenster");
    if (!window) return std::fprintf(stderr, "no window \"Fenster\"\n"), 1;
    RECT client;
    CHECK(GetClientRect(window, &client) && client.right == SURFACE_WIDTH &&
          client.bottom == SURFACE_HEIGHT);

    // The screen shows the back buffer exactly, each channel in its place.
    CHECK(Within([] { return ScreenDifferences() == 0; }));

    // At most one present per period.
    LARGE_INTEGER frequency, first, last;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&first);
    for (int i = 0; i < 11; ++i) Frame();
    QueryPerformanceCounter(&last);
    CHECK((last.QuadPart - first.QuadPart) * 1e9 / frequency.QuadPart >=
          10.0 * FRAME_PERIOD_NANOSECONDS);

    // The close box only asks.
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    CHECK(Within([] { return PollWindowEvent() == WINDOW_EVENT_CLOSE_REQUESTED; }) &&
          IsWindow(window));

    // In the foreground the keyboard is read and the cursor held; behind another window neither.
    auto focused = [] { return ReadMouseEvents() == 1 && SampleKeyboard() == 1 && CursorHeld(); };
    CHECK(Within(focused));
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                 200, 200, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    CHECK(Within([] { return ReadMouseEvents() == 0 && SampleKeyboard() == 0 && !CursorHeld(); }));
    DestroyWindow(other);
    SetForegroundWindow(window);
    CHECK(Within(focused));

    // The box: its text from Windows-1252, the notice once it is shown, 1 when closed.
    int notice[2];
    CHECK(_pipe(notice, 16, _O_BINARY) == 0);
    SetMessageBoxShownNotice(notice[1]);
    wchar_t text[64] = L"";
    std::thread closer([&] {
        char shown = 0;
        CHECK(_read(notice[0], &shown, 1) == 1 && shown == 'S');
        HWND box = nullptr;
        for (int i = 0; i < 500 && !box; ++i, Sleep(10)) box = FindWindowW(L"#32770", L"Fehler");
        GetDlgItemTextW(box, 0xFFFF, text, 64);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    CHECK(ShowMessageBox("Fehler",
                         "Typ: \x84"
                         "a\x93 \x80\nZeile 2") == 1);
    closer.join();
    CHECK(std::wstring(text) == L"Typ: \u201Ea\u201C \u20AC\nZeile 2");

    if (failures == 0) std::printf("all passed\n");
    return failures == 0 ? 0 : 1;
}
