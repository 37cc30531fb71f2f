// The web port: the window is the page's 800 x 600 canvas, presenting copies the shared back
// buffer into it, and the keyboard and mouse come from the page's HTML5 events. Everything runs
// on the page's main thread, between the browser's animation frames.
//
// The mouse is read as differences of positions over the canvas: each event moves the
// program's position to where the pointer now is (clamped to the surface), in order, so the
// drawn cursor stays under the hidden one and a drag that leaves the canvas goes on at its
// edge. Buttons let go outside the canvas still count, where the pointer last was over it.
#include <emscripten/emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/display.h"
#include "platform/display_backend.h"
#include "platform/system.h"

struct Window {
    int32_t clientWidth;
    int32_t clientHeight;
};

namespace {
constexpr const char* CANVAS = "#canvas";

struct WebState {
    bool displayOpen;
    bool keyboardOpen;
    bool mouseOpen;
    bool windowOpen;
    bool grabSuspended;
    uint8_t keysDown[256];
    uint8_t keysPressed[256];  // went down since the last sample: a tap between frames counts
    std::vector<MouseDeviceEvent> mouseEvents;
    int32_t pointerX;  // where the queued events leave the position
    int32_t pointerY;
};
WebState state;
Window window;
std::vector<uint8_t> rgba;

struct KeyName {
    const char* code;
    int32_t scanCode;
};
// KeyboardEvent.code to set-1 scan codes; keys outside the table are not the program's.
constexpr KeyName KEY_NAMES[] = {
    {"Escape", KEY_ESCAPE},
    {"Digit1", 2},
    {"Digit2", 3},
    {"Digit3", 4},
    {"Digit4", 5},
    {"Digit5", 6},
    {"Digit6", 7},
    {"Digit7", 8},
    {"Digit8", 9},
    {"Digit9", 10},
    {"Digit0", KEY_0},
    {"Minus", KEY_MINUS},
    {"Equal", KEY_EQUALS},
    {"Backspace", KEY_BACKSPACE},
    {"Tab", KEY_TAB},
    {"KeyQ", KEY_Q},
    {"KeyW", KEY_W},
    {"KeyE", KEY_E},
    {"KeyR", KEY_R},
    {"KeyT", KEY_T},
    {"KeyY", KEY_Y},
    {"KeyU", KEY_U},
    {"KeyI", KEY_I},
    {"KeyO", KEY_O},
    {"KeyP", KEY_P},
    {"BracketRight", KEY_RIGHT_BRACKET},
    {"Enter", KEY_RETURN},
    {"ControlLeft", KEY_LEFT_CONTROL},
    {"KeyA", KEY_A},
    {"KeyS", KEY_S},
    {"KeyD", KEY_D},
    {"KeyF", KEY_F},
    {"KeyG", KEY_G},
    {"KeyH", KEY_H},
    {"KeyJ", KEY_J},
    {"KeyK", KEY_K},
    {"KeyL", KEY_L},
    {"ShiftLeft", KEY_LEFT_SHIFT},
    {"KeyZ", KEY_Z},
    {"KeyX", KEY_X},
    {"KeyC", KEY_C},
    {"KeyV", KEY_V},
    {"KeyB", KEY_B},
    {"KeyN", KEY_N},
    {"KeyM", KEY_M},
    {"Slash", KEY_SLASH},
    {"ShiftRight", KEY_RIGHT_SHIFT},
    {"AltLeft", KEY_LEFT_ALT},
    {"Space", KEY_SPACE},
    {"F1", 59},
    {"F2", KEY_F2},
    {"F3", KEY_F3},
    {"F4", 62},
    {"F5", KEY_F5},
    {"F6", KEY_F6},
    {"F7", 65},
    {"F8", 66},
    {"F9", 67},
    {"F10", KEY_F10},
    {"NumpadSubtract", KEY_NUMPAD_MINUS},
    {"NumpadAdd", KEY_NUMPAD_PLUS},
    {"F11", KEY_F11},
    {"F12", KEY_F12},
    {"ControlRight", KEY_RIGHT_CONTROL},
    {"AltRight", KEY_RIGHT_ALT},
    {"Home", KEY_HOME},
    {"ArrowUp", KEY_UP},
    {"PageUp", KEY_PAGE_UP},
    {"ArrowLeft", KEY_LEFT},
    {"ArrowRight", KEY_RIGHT},
    {"End", KEY_END},
    {"ArrowDown", KEY_DOWN},
    {"PageDown", KEY_PAGE_DOWN},
    {"Insert", KEY_INSERT},
    {"Delete", KEY_DELETE},
};

int32_t ScanCodeOf(const char* code) {
    for (const KeyName& name : KEY_NAMES)
        if (std::strcmp(name.code, code) == 0) return name.scanCode;
    return -1;
}

EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* event, void*) {
    int32_t key = ScanCodeOf(event->code);
    if (key < 0) return EM_FALSE;  // the browser's own keys stay the browser's
    bool down = type == EMSCRIPTEN_EVENT_KEYDOWN;
    state.keysDown[key] = down;
    if (down) state.keysPressed[key] = 1;
    return EM_TRUE;  // F5 must not reload the page, F12 not open the developer tools
}

void QueueMotionTo(int64_t x, int64_t y) {
    int32_t nx = static_cast<int32_t>(std::clamp<int64_t>(x, 0, SURFACE_WIDTH - 1));
    int32_t ny = static_cast<int32_t>(std::clamp<int64_t>(y, 0, SURFACE_HEIGHT - 1));
    if (nx == state.pointerX && ny == state.pointerY) return;
    state.mouseEvents.push_back(
        MouseDeviceEvent{nx - state.pointerX, ny - state.pointerY, 0, 0, false});
    state.pointerX = nx;
    state.pointerY = ny;
}

int32_t ButtonOf(unsigned short button) {
    switch (button) {
        case 0:
            return 1;
        case 2:
            return 2;
        case 1:
            return 3;
        default:
            return 0;
    }
}

EM_BOOL OnMouse(int type, const EmscriptenMouseEvent* event, void*) {
    if (!state.mouseOpen) return EM_FALSE;
    // Over the canvas the pointer's place is known; a release elsewhere keeps the last one.
    if (type != EMSCRIPTEN_EVENT_MOUSEUP) QueueMotionTo(event->targetX, event->targetY);
    int32_t button = ButtonOf(event->button);
    if (button != 0 && (type == EMSCRIPTEN_EVENT_MOUSEDOWN || type == EMSCRIPTEN_EVENT_MOUSEUP))
        state.mouseEvents.push_back(
            MouseDeviceEvent{0, 0, 0, button, type == EMSCRIPTEN_EVENT_MOUSEDOWN});
    return type != EMSCRIPTEN_EVENT_MOUSEMOVE;
}

void CloseWindows() { state.windowOpen = false; }
void CloseKeyboardStep() {
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, nullptr);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, nullptr);
    state.keyboardOpen = false;
}
void CloseSurfaceStep() {
    CloseBackBuffer();
    CloseTextRenderer();
    state.displayOpen = false;
}

// Copies RGBA bytes into the canvas; the page's memory is shared with the workers, and
// ImageData takes only a buffer of its own.
EM_JS(void, PutCanvasPixels, (const uint8_t* bytes, int width, int height), {
    var canvas = Module.canvas;
    if (!canvas) return;
    if (!Module.pfadContext) Module.pfadContext = canvas.getContext("2d");
    var image = new ImageData(width, height);
    image.data.set(HEAPU8.subarray(bytes, bytes + width * height * 4));
    Module.pfadContext.putImageData(image, 0, 0);
    if (Module.pfadFramePresented) Module.pfadFramePresented();
});

EM_JS(void, SetPageTitle, (const char* title), { document.title = UTF8ToString(title); });

EM_JS(int, ShowPageMessageBox, (const char* caption, const char* text), {
    if (!Module.pfadShowBox) return 0;
    Module.pfadShowBox(UTF8ToString(caption), UTF8ToString(text));
    return 1;
});
}  // namespace

// ---- Start-up and windows ------------------------------------------------------------------

int32_t OpenDisplay() {
    state.displayOpen = true;
    return OpenKeyboard();
}

int32_t OpenKeyboard() {
    if (state.keyboardOpen) return 1;
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, OnKey);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, OnKey);
    SetShutdownStep(SHUTDOWN_KEYBOARD, CloseKeyboardStep);
    state.keyboardOpen = true;
    return 1;
}

Window* OpenMainWindow(int32_t, int32_t, int32_t clientWidth, int32_t clientHeight,
                       std::string_view title, uint32_t) {
    if (!state.displayOpen || state.windowOpen || clientWidth <= 0 || clientHeight <= 0)
        return nullptr;
    if (emscripten_set_canvas_element_size(CANVAS, clientWidth, clientHeight) !=
        EMSCRIPTEN_RESULT_SUCCESS) {
        SetPlatformOpenError("the page has no canvas with the id \"canvas\"");
        return nullptr;
    }
    std::string utf8 = Windows1252ToUtf8(title);
    SetPageTitle(utf8.c_str());
    window = Window{clientWidth, clientHeight};
    state.windowOpen = true;
    SetShutdownStep(SHUTDOWN_WINDOWS, CloseWindows);
    return &window;
}

int32_t OpenWindowSurface(Window* target, int32_t x, int32_t y, int32_t width, int32_t height,
                          int32_t stretch, int32_t rightMargin, int32_t bottomMargin) {
    if (!state.displayOpen || !state.windowOpen || target != &window) return 0;
    if (width != SURFACE_WIDTH || height != SURFACE_HEIGHT || stretch != 0 || rightMargin != 0 ||
        bottomMargin != 0 || x != 0 || y != 0 || width > window.clientWidth ||
        height > window.clientHeight) {
        return 0;
    }
    OpenTextRenderer();
    OpenBackBuffer();
    rgba.assign(static_cast<size_t>(SURFACE_WIDTH) * SURFACE_HEIGHT * 4, 255);
    SetShutdownStep(SHUTDOWN_SURFACE, CloseSurfaceStep);
    return 1;
}

// ---- Presenting and window events ----------------------------------------------------------

// The browser paces the frames (one per animation frame), so a present never waits.
void PresentSurface() {
    EndSurfaceDrawing();
    if (!BackBufferOpen()) return;
    const uint32_t* pixels = BackBufferPixels();
    uint8_t* out = rgba.data();
    for (size_t i = 0, n = static_cast<size_t>(SURFACE_WIDTH) * SURFACE_HEIGHT; i < n; ++i) {
        uint32_t pixel = pixels[i];
        out[4 * i] = static_cast<uint8_t>(pixel >> 16);
        out[4 * i + 1] = static_cast<uint8_t>(pixel >> 8);
        out[4 * i + 2] = static_cast<uint8_t>(pixel);
    }
    PutCanvasPixels(out, SURFACE_WIDTH, SURFACE_HEIGHT);
}

// The page has no close box: only the events queued by the shared code are returned.
int32_t PollWindowEvent() { return TakeWindowEvent(); }

// ---- Keyboard ------------------------------------------------------------------------------

int32_t SampleKeyboard() {
    if (!state.keyboardOpen) {
        KeyboardSampleFailed();
        return 0;
    }
    uint8_t keys[256];
    for (int i = 0; i < 256; ++i) keys[i] = (state.keysDown[i] || state.keysPressed[i]) ? 0x80 : 0;
    std::memset(state.keysPressed, 0, sizeof state.keysPressed);
    KeyboardStoreSnapshot(keys);
    return 1;
}

// ---- Message box ---------------------------------------------------------------------------

int32_t ShowMessageBox(std::string_view caption, std::string_view text) {
    std::string c = Windows1252ToUtf8(caption), t = Windows1252ToUtf8(text);
    return ShowPageMessageBox(c.c_str(), t.c_str());
}

void SetMessageBoxShownNotice(int) {}
// No display server to hang up on: the page's box lies above the canvas.
void DropDisplayConnection() {}

// ---- Mouse ---------------------------------------------------------------------------------

int32_t OpenMouse() {
    if (state.mouseOpen) return 1;
    emscripten_set_mousedown_callback(CANVAS, nullptr, EM_TRUE, OnMouse);
    emscripten_set_mousemove_callback(CANVAS, nullptr, EM_TRUE, OnMouse);
    // A release anywhere on the page ends a press made on the canvas.
    emscripten_set_mouseup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, OnMouse);
    state.mouseOpen = true;
    SetShutdownStep(SHUTDOWN_MOUSE, CloseMouse);
    return 1;
}

int32_t ReadMouseEvents() {
    MouseBeginRead();
    if (!state.mouseOpen) return 0;
    if (state.grabSuspended) {
        state.mouseEvents.clear();
        MouseForgetPendingEvents();
        state.pointerX = MousePositionX();
        state.pointerY = MousePositionY();
        return 0;
    }
    for (const MouseDeviceEvent& event : state.mouseEvents) MouseQueueEvent(event);
    state.mouseEvents.clear();
    MouseApplyEvents();
    return 1;
}

void ReleaseMouseGrab() { state.grabSuspended = true; }
void ResumeMouseGrab() { state.grabSuspended = false; }

void CloseMouse() {
    emscripten_set_mousedown_callback(CANVAS, nullptr, EM_TRUE, nullptr);
    emscripten_set_mousemove_callback(CANVAS, nullptr, EM_TRUE, nullptr);
    emscripten_set_mouseup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_TRUE, nullptr);
    state.mouseOpen = false;
    state.mouseEvents.clear();
    MouseForgetPendingEvents();
}
