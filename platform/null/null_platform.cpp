// The null platform: the display services without a window. Drawing goes to the shared back
// buffer exactly as on the SDL platform; input comes from the script that tests write through
// null_platform.h, and the present pacing runs on a clock that tests move.
#include "platform/null/null_platform.h"

#include <deque>

#include "platform/display.h"
#include "platform/display_backend.h"
#include "platform/system.h"

struct Window {
    int32_t clientWidth;
    int32_t clientHeight;
};

namespace {

struct NullState {
    bool displayOpen;
    bool keyboardOpen;
    bool mouseOpen;
    bool windowOpen;
    bool focused = true;
    bool grabbed;
    bool grabSuspended;
    int32_t cursorX;
    int32_t cursorY;
    std::deque<MouseDeviceEvent> mouseEvents;
    uint8_t keys[256];
    std::deque<int32_t> messages;
    int64_t clock;
    bool presented;
    int64_t lastPresent;
    std::vector<int64_t> presentTimes;
    std::vector<NullMessageBox> messageBoxes;
};
NullState state;
Window window;

void GiveCursorBack() {
    state.grabbed = false;
    state.cursorX = MousePositionX();
    state.cursorY = MousePositionY();
}

void CloseWindows() { state.windowOpen = false; }
void CloseKeyboardStep() { state.keyboardOpen = false; }
void CloseSurfaceStep() {
    CloseBackBuffer();
    CloseTextRenderer();
    state.displayOpen = false;
}

}  // namespace

// ---- Controls ------------------------------------------------------------------------------

void NullPlatformReset() {
    state = NullState{};
    window = Window{};
    CloseBackBuffer();
    CloseTextRenderer();
    EndSurfaceDrawing();
    ClearWindowEvents();
    KeyboardReset();
    MouseReset();
    ClearPlatformOpenError();
}

void NullSetFocus(bool focused) {
    if (!focused && state.focused) QueueWindowEvent(WINDOW_EVENT_FOCUS_LOST);
    if (focused && !state.focused) QueueWindowEvent(WINDOW_EVENT_FOCUS_GAINED);
    state.focused = focused;
}

void NullMoveMouse(int32_t dx, int32_t dy) {
    state.mouseEvents.push_back(MouseDeviceEvent{dx, dy, 0, 0, false});
}

void NullSetMouseButton(int32_t button, bool down) {
    state.mouseEvents.push_back(MouseDeviceEvent{0, 0, 0, button, down});
}

int32_t NullPendingMouseEvents() {
    return static_cast<int32_t>(state.mouseEvents.size()) + MousePendingEvents();
}
bool NullMouseGrabbed() { return state.grabbed; }
int32_t NullCursorX() { return state.cursorX; }
int32_t NullCursorY() { return state.cursorY; }

void NullSetKey(int32_t scanCode, bool down) {
    if (scanCode >= 0 && scanCode < 256) state.keys[scanCode] = down ? 0x80 : 0;
}

void NullQueueWindowEvent(int32_t code) { state.messages.push_back(code); }

int64_t NullClockNanoseconds() { return state.clock; }
void NullAdvanceClock(int64_t nanoseconds) { state.clock += nanoseconds; }
int32_t NullPresentCount() { return static_cast<int32_t>(state.presentTimes.size()); }
std::vector<int64_t> NullPresentTimes() { return state.presentTimes; }
std::vector<NullMessageBox> NullMessageBoxes() { return state.messageBoxes; }

// ---- Start-up and windows ------------------------------------------------------------------

int32_t OpenDisplay() {
    state.displayOpen = true;
    return OpenKeyboard();
}

int32_t OpenKeyboard() {
    if (!state.keyboardOpen) SetShutdownStep(SHUTDOWN_KEYBOARD, CloseKeyboardStep);
    state.keyboardOpen = true;
    return 1;
}

Window* OpenMainWindow(int32_t, int32_t, int32_t clientWidth, int32_t clientHeight,
                       std::string_view, uint32_t) {
    if (!state.displayOpen || state.windowOpen || clientWidth <= 0 || clientHeight <= 0) {
        return nullptr;
    }
    window = Window{clientWidth, clientHeight};
    state.windowOpen = true;
    SetShutdownStep(SHUTDOWN_WINDOWS, CloseWindows);
    return &window;
}

int32_t OpenWindowSurface(Window* target, int32_t x, int32_t y, int32_t width, int32_t height,
                          int32_t stretch, int32_t rightMargin, int32_t bottomMargin) {
    if (!state.displayOpen || !state.windowOpen || target != &window) return 0;
    if (width != SURFACE_WIDTH || height != SURFACE_HEIGHT || stretch != 0 || rightMargin != 0 ||
        bottomMargin != 0 || x < 0 || y < 0 || x + width > window.clientWidth ||
        y + height > window.clientHeight) {
        return 0;
    }
    OpenTextRenderer();
    OpenBackBuffer();
    SetShutdownStep(SHUTDOWN_SURFACE, CloseSurfaceStep);
    return 1;
}

// ---- Presenting and window events ----------------------------------------------------------

void PresentSurface() {
    EndSurfaceDrawing();
    if (!BackBufferOpen()) return;
    // Waiting for the slot moves the clock to it: tests see the pacing without waiting.
    if (state.presented && state.clock - state.lastPresent < FRAME_PERIOD_NANOSECONDS) {
        state.clock = state.lastPresent + FRAME_PERIOD_NANOSECONDS;
    }
    state.presented = true;
    state.lastPresent = state.clock;
    state.presentTimes.push_back(state.clock);
}

int32_t PollWindowEvent() {
    if (int32_t queued = TakeWindowEvent()) return queued;
    if (state.messages.empty()) return WINDOW_EVENT_NONE;
    QueueWindowEvent(state.messages.front());
    state.messages.pop_front();
    int32_t queued = TakeWindowEvent();
    return queued ? queued : WINDOW_EVENT_HANDLED;
}

// ---- Keyboard ------------------------------------------------------------------------------

int32_t SampleKeyboard() {
    if (!state.keyboardOpen || !state.focused) {
        KeyboardSampleFailed();
        return 0;
    }
    KeyboardStoreSnapshot(state.keys);
    return 1;
}

// ---- Message box ---------------------------------------------------------------------------

int32_t ShowMessageBox(std::string_view caption, std::string_view text) {
    state.messageBoxes.push_back(NullMessageBox{std::string(caption), std::string(text)});
    return 1;
}

// Nothing is ever on a screen here, and there is no server to hang up on.
void SetMessageBoxShownNotice(int) {}
void DropDisplayConnection() {}

// ---- Mouse ---------------------------------------------------------------------------------

int32_t OpenMouse() {
    if (!state.mouseOpen) SetShutdownStep(SHUTDOWN_MOUSE, CloseMouse);
    state.mouseOpen = true;
    return 1;
}

int32_t ReadMouseEvents() {
    MouseBeginRead();
    if (!state.mouseOpen) return 0;
    if (!state.focused || state.grabSuspended) {
        // A device that is not read keeps nothing for later.
        state.mouseEvents.clear();
        MouseForgetPendingEvents();
        if (state.grabbed) GiveCursorBack();
        return 0;
    }
    state.grabbed = true;
    for (const MouseDeviceEvent& event : state.mouseEvents) MouseQueueEvent(event);
    state.mouseEvents.clear();
    MouseApplyEvents();
    state.cursorX = MousePositionX();
    state.cursorY = MousePositionY();
    return 1;
}

void ReleaseMouseGrab() {
    state.grabSuspended = true;
    if (state.grabbed) GiveCursorBack();
}

void ResumeMouseGrab() { state.grabSuspended = false; }

void CloseMouse() {
    if (state.grabbed) GiveCursorBack();
    state.mouseOpen = false;
    state.mouseEvents.clear();
    MouseForgetPendingEvents();
}
