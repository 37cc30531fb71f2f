// The SDL platform's display: SDL start-up, the window, presenting our back buffer through a
// streaming texture, window events and the message box.
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/display.h"
#include "platform/display_backend.h"
#include "platform/sdl/sdl_state.h"
#include "platform/system.h"

SdlState sdl{};

namespace {

// Spinning on the clock covers only the last stretch before a present's slot; before that the
// thread sleeps, so an idle program does not keep a core busy.
constexpr int64_t SPIN_NANOSECONDS = 200000;

int64_t NowNanoseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void WaitForPresentSlot() {
    int64_t now = NowNanoseconds();
    if (sdl.presented) {
        int64_t deadline = sdl.lastPresent + FRAME_PERIOD_NANOSECONDS;
        if (deadline - now > SPIN_NANOSECONDS) {
            int64_t sleep = deadline - now - SPIN_NANOSECONDS;
            timespec pause{static_cast<time_t>(sleep / 1000000000),
                           static_cast<long>(sleep % 1000000000)};
            while (nanosleep(&pause, &pause) != 0) {
            }
        }
        while ((now = NowNanoseconds()) < deadline) {
        }
    }
    sdl.presented = true;
    sdl.lastPresent = now;
}

void DestroyRenderer() {
    sdl.windowCurrent = false;
    if (sdl.texture) SDL_DestroyTexture(sdl.texture);
    if (sdl.renderer) SDL_DestroyRenderer(sdl.renderer);
    sdl.texture = nullptr;
    sdl.renderer = nullptr;
}

// Makes the renderer and the streaming texture if they are missing. Either may be lost when the
// graphics device is reset; the back buffer is ours, so nothing else has to be restored.
bool EnsureRenderer() {
    if (!sdl.window) return false;
    if (!sdl.renderer) {
        sdl.renderer = SDL_CreateRenderer(sdl.window, -1, 0);
        if (!sdl.renderer) sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
        if (!sdl.renderer) return false;
    }
    if (!sdl.texture) {
        // ARGB8888 in memory order B, G, R, A is exactly our 0x00RRGGBB pixel.
        sdl.texture = SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_ARGB8888,
                                        SDL_TEXTUREACCESS_STREAMING, SURFACE_WIDTH, SURFACE_HEIGHT);
        if (!sdl.texture) return false;
    }
    return true;
}

// Copies the whole back buffer into the window; a failure is dropped.
void CopyBackBufferToWindow() {
    sdl.windowCurrent = false;
    if (!BackBufferOpen() || !EnsureRenderer()) return;
    if (SDL_UpdateTexture(sdl.texture, nullptr, BackBufferData(), SURFACE_WIDTH * 4) != 0) return;
    SDL_SetRenderDrawColor(sdl.renderer, 0, 0, 0, 255);
    SDL_RenderClear(sdl.renderer);
    if (SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, &sdl.surfaceRect) != 0) return;
    SDL_RenderPresent(sdl.renderer);
    const uint32_t* pixels = BackBufferData();
    sdl.shownFrame.assign(pixels, pixels + SURFACE_WIDTH * SURFACE_HEIGHT);
    sdl.windowCurrent = true;
}

bool WindowShowsBackBuffer() {
    return sdl.windowCurrent &&
           sdl.shownFrame.size() == static_cast<size_t>(SURFACE_WIDTH * SURFACE_HEIGHT) &&
           std::memcmp(sdl.shownFrame.data(), BackBufferData(),
                       sdl.shownFrame.size() * sizeof(uint32_t)) == 0;
}

void HandleRenderResets() {
    SDL_Event event;
    while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_RENDER_TARGETS_RESET,
                          SDL_RENDER_DEVICE_RESET) > 0) {
        sdl.windowCurrent = false;
        if (event.type == SDL_RENDER_DEVICE_RESET) {
            DestroyRenderer();
        } else if (sdl.texture) {
            SDL_DestroyTexture(sdl.texture);
            sdl.texture = nullptr;
        }
    }
}

// Events nobody reads would fill SDL's queue until it drops the ones we need (focus, close).
void DrainUnreadEvents() {
    SDL_FlushEvents(SDL_KEYDOWN, SDL_MOUSEMOTION - 1);  // key events: keys are read as state
    SDL_FlushEvents(SDL_MOUSEWHEEL + 1, SDL_RENDER_TARGETS_RESET - 1);
    SDL_FlushEvents(SDL_RENDER_DEVICE_RESET + 1, SDL_LASTEVENT);
}

void CloseWindows() {
    sdl.displayConnection.store(-1);
    DestroyRenderer();
    sdl.shownFrame.clear();
    if (sdl.window) SDL_DestroyWindow(sdl.window);
    sdl.window = nullptr;
    sdl.mainWindow = Window{};
}

void CloseSurface() {
    CloseBackBuffer();
    CloseTextRenderer();
    if (sdl.videoStarted) SDL_Quit();
    sdl.videoStarted = false;
}

}  // namespace

// ---- Start-up and windows ------------------------------------------------------------------

bool StartSdlVideo() {
    if (sdl.videoStarted) return true;
    // SIGINT and SIGTERM must end the program, and the fault report owns the fault signals.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        SetPlatformOpenError(
            std::string("no display: SDL could not start video (") + SDL_GetError() +
            "). Run it in a graphical session, set DISPLAY to a running X server, or start it "
            "under Xvfb: xvfb-run (Debian package xvfb)");
        return false;
    }
    // Without a display SDL falls back to drivers that show nothing; the program would run
    // unseen with no way to end it. They are used only when asked for by name (tests do).
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* wanted = SDL_getenv("SDL_VIDEODRIVER");
    if (driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0) &&
        !(wanted && SDL_strcasecmp(wanted, driver) == 0)) {
        SDL_Quit();
        SetPlatformOpenError(
            "no display: no X server or Wayland compositor could be reached. Run it in a "
            "graphical session, set DISPLAY to a running X server, or start it under Xvfb: "
            "xvfb-run (Debian package xvfb)");
        return false;
    }
    sdl.videoStarted = true;
    // Event kinds that nobody reads are not queued at all.
    SDL_StopTextInput();
    for (Uint32 type : {SDL_TEXTINPUT, SDL_TEXTEDITING, SDL_TEXTEDITING_EXT, SDL_KEYMAPCHANGED,
                        SDL_DROPFILE, SDL_DROPTEXT, SDL_DROPBEGIN, SDL_DROPCOMPLETE,
                        SDL_CLIPBOARDUPDATE, SDL_FINGERDOWN, SDL_FINGERUP, SDL_FINGERMOTION,
                        SDL_MULTIGESTURE, SDL_DOLLARGESTURE, SDL_DOLLARRECORD, SDL_SYSWMEVENT}) {
        SDL_EventState(type, SDL_IGNORE);
    }
    return true;
}

int32_t OpenDisplay() {
    if (!StartSdlVideo()) return 0;
    SetShutdownStep(SHUTDOWN_SURFACE, CloseSurface);
    return OpenKeyboard();
}

Window* OpenMainWindow(int32_t x, int32_t y, int32_t clientWidth, int32_t clientHeight,
                       std::string_view title, uint32_t style) {
    if (!sdl.videoStarted || sdl.window || clientWidth <= 0 || clientHeight <= 0) return nullptr;
    // A thick frame (WS_THICKFRAME) is the only style bit that changes anything here.
    Uint32 flags = SDL_WINDOW_HIDDEN | ((style & 0x00040000u) ? SDL_WINDOW_RESIZABLE : 0);
    std::string utf8Title = Windows1252ToUtf8(title);
    sdl.window = SDL_CreateWindow(utf8Title.c_str(), x, y, clientWidth, clientHeight, flags);
    if (!sdl.window) {
        SetPlatformOpenError(std::string("cannot open the window: ") + SDL_GetError());
        return nullptr;
    }
    SDL_ShowWindow(sdl.window);
    // SDL places the client area; move it so that the frame's corner is at (x, y).
    int top = 0, left = 0;
    if (SDL_GetWindowBordersSize(sdl.window, &top, &left, nullptr, nullptr) == 0 &&
        (top != 0 || left != 0)) {
        SDL_SetWindowPosition(sdl.window, x + left, y + top);
    }
    SDL_RaiseWindow(sdl.window);
    SDL_SetWindowInputFocus(sdl.window);
    sdl.mainWindow.handle = sdl.window;
    sdl.displayConnection.store(X11ConnectionOfWindow(sdl.window));
    SetShutdownStep(SHUTDOWN_WINDOWS, CloseWindows);
    return &sdl.mainWindow;
}

int32_t OpenWindowSurface(Window* window, int32_t x, int32_t y, int32_t width, int32_t height,
                          int32_t stretch, int32_t rightMargin, int32_t bottomMargin) {
    if (!window || window != &sdl.mainWindow || !sdl.window) return 0;
    int clientWidth = 0, clientHeight = 0;
    SDL_GetWindowSize(sdl.window, &clientWidth, &clientHeight);
    if (width != SURFACE_WIDTH || height != SURFACE_HEIGHT || stretch != 0 || rightMargin != 0 ||
        bottomMargin != 0 || x < 0 || y < 0 || x + width > clientWidth ||
        y + height > clientHeight) {
        return 0;
    }
    OpenTextRenderer();
    sdl.surfaceRect = SDL_Rect{x, y, width, height};
    if (!EnsureRenderer()) {
        SetPlatformOpenError(std::string("cannot draw in the window: ") + SDL_GetError());
        DestroyRenderer();
        return 0;
    }
    OpenBackBuffer();
    sdl.presented = false;
    SetShutdownStep(SHUTDOWN_SURFACE, CloseSurface);
    CopyBackBufferToWindow();
    return 1;
}

// ---- Presenting and window events ----------------------------------------------------------

void PresentSurface() {
    EndSurfaceDrawing();
    if (!BackBufferOpen()) return;
    SDL_PumpEvents();
    HandleRenderResets();
    DrainUnreadEvents();
    // The pacing is the same whether or not the frame is sent.
    WaitForPresentSlot();
    if (!WindowShowsBackBuffer()) CopyBackBufferToWindow();
}

int32_t PollWindowEvent() {
    if (int32_t queued = TakeWindowEvent()) return queued;
    if (!sdl.videoStarted) return WINDOW_EVENT_NONE;
    SDL_PumpEvents();
    SDL_Event event;
    if (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_KEYDOWN - 1) <= 0) {
        return WINDOW_EVENT_NONE;
    }
    if (event.type == SDL_WINDOWEVENT && sdl.window &&
        event.window.windowID == SDL_GetWindowID(sdl.window)) {
        switch (event.window.event) {
            case SDL_WINDOWEVENT_CLOSE:
                QueueWindowEvent(WINDOW_EVENT_CLOSE_REQUESTED);
                break;
            case SDL_WINDOWEVENT_FOCUS_GAINED:
                QueueWindowEvent(WINDOW_EVENT_FOCUS_GAINED);
                break;
            case SDL_WINDOWEVENT_FOCUS_LOST:
                QueueWindowEvent(WINDOW_EVENT_FOCUS_LOST);
                break;
            case SDL_WINDOWEVENT_EXPOSED:
            case SDL_WINDOWEVENT_SHOWN:
            case SDL_WINDOWEVENT_RESTORED:
            case SDL_WINDOWEVENT_SIZE_CHANGED:
                // The back buffer is ours, so a repaint is just another copy.
                CopyBackBufferToWindow();
                QueueWindowEvent(WINDOW_EVENT_REPAINTED);
                break;
            default:
                break;
        }
    }
    // SDL_QUIT follows the close box of the last window; the close box must not end the
    // program, so it is taken and ignored like the other platform messages.
    int32_t queued = TakeWindowEvent();
    return queued ? queued : WINDOW_EVENT_HANDLED;
}

bool SdlWindowFocused() {
    return sdl.window && (SDL_GetWindowFlags(sdl.window) & SDL_WINDOW_INPUT_FOCUS) != 0;
}

// ---- Message box ---------------------------------------------------------------------------

namespace {
// In the box's own process, which SDL forks: it must not outlive the one that asked for it.
void DieWithCaller() {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != sdl.messageBoxCaller) _exit(1);
}
}  // namespace

void SetMessageBoxShownNotice(int fd) { sdl.messageBoxShownNotice = fd; }

int32_t ShowMessageBox(std::string_view caption, std::string_view text) {
    std::string utf8Caption = Windows1252ToUtf8(caption);
    std::string utf8Text = Windows1252ToUtf8(text);
    SDL_MessageBoxButtonData button{
        SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 1, "OK"};
    SDL_MessageBoxData box{};
    box.flags = 0;  // no icon
    box.window = nullptr;
    box.title = utf8Caption.c_str();
    box.message = utf8Text.c_str();
    box.numbuttons = 1;
    box.buttons = &button;

    if (sdl.messageBoxCaller == 0) {
        sdl.messageBoxCaller = getpid();
        pthread_atfork(nullptr, nullptr, DieWithCaller);
    }
    // No thread of ours may run while SDL forks the box: focusing is done by a process.
    pid_t focuser = -1;
    const char* driver = SDL_getenv("SDL_VIDEODRIVER");
    if (std::getenv("DISPLAY") && (!driver || SDL_strcasecmp(driver, "x11") == 0)) {
        focuser = StartMessageBoxFocuser(utf8Caption, sdl.messageBoxShownNotice);
    } else if (sdl.messageBoxShownNotice >= 0 && write(sdl.messageBoxShownNotice, "S", 1) != 1) {
        // Elsewhere we cannot see the box; it counts as shown once asked for.
    }
    int pressed = 0;
    int shown = SDL_ShowMessageBox(&box, &pressed);
    if (focuser > 0) {
        kill(focuser, SIGKILL);
        waitpid(focuser, nullptr, 0);
    }
    return shown == 0 ? 1 : 0;
}

void DropDisplayConnection() {
    int fd = sdl.displayConnection.load();
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}
