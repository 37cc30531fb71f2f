// The SDL platform's keyboard and mouse device. Keys are read as SDL's key state and
// translated to set-1 scan codes. The mouse is read while our window has the focus, with the
// cursor hidden and held in the window.
//
// On X11 the motion is the difference between the positions SDL reports, so that none can be
// lost. Not SDL's relative mode: there it reads XInput2 raw motion and drops an event whose
// time and values equal the previous one's, taking it for a duplicate; a fast mouse (or XTest)
// sends many equal motions within one millisecond, and all but the first were lost. Absolute
// positions cannot lose motion, and the held cursor stops at the window's edges exactly where
// the program's position is clamped. Elsewhere (Wayland cannot move the cursor to a place)
// the motion is SDL's relative motion.
#include "platform/display.h"
#include "platform/display_backend.h"
#include "platform/sdl/sdl_state.h"
#include "platform/system.h"

namespace {

// ---- Scan codes ----------------------------------------------------------------------------

struct KeyPair {
    SDL_Scancode sdl;
    uint8_t set1;
};
// Extended keys (E0 prefix) are numbered + 128, as a 256-key snapshot has them.
constexpr KeyPair KEY_TABLE[] = {
    {SDL_SCANCODE_ESCAPE, 1},
    {SDL_SCANCODE_1, 2},
    {SDL_SCANCODE_2, 3},
    {SDL_SCANCODE_3, 4},
    {SDL_SCANCODE_4, 5},
    {SDL_SCANCODE_5, 6},
    {SDL_SCANCODE_6, 7},
    {SDL_SCANCODE_7, 8},
    {SDL_SCANCODE_8, 9},
    {SDL_SCANCODE_9, 10},
    {SDL_SCANCODE_0, 11},
    {SDL_SCANCODE_MINUS, 12},
    {SDL_SCANCODE_EQUALS, 13},
    {SDL_SCANCODE_BACKSPACE, 14},
    {SDL_SCANCODE_TAB, 15},
    {SDL_SCANCODE_Q, 16},
    {SDL_SCANCODE_W, 17},
    {SDL_SCANCODE_E, 18},
    {SDL_SCANCODE_R, 19},
    {SDL_SCANCODE_T, 20},
    {SDL_SCANCODE_Y, 21},
    {SDL_SCANCODE_U, 22},
    {SDL_SCANCODE_I, 23},
    {SDL_SCANCODE_O, 24},
    {SDL_SCANCODE_P, 25},
    {SDL_SCANCODE_LEFTBRACKET, 26},
    {SDL_SCANCODE_RIGHTBRACKET, 27},
    {SDL_SCANCODE_RETURN, 28},
    {SDL_SCANCODE_LCTRL, 29},
    {SDL_SCANCODE_A, 30},
    {SDL_SCANCODE_S, 31},
    {SDL_SCANCODE_D, 32},
    {SDL_SCANCODE_F, 33},
    {SDL_SCANCODE_G, 34},
    {SDL_SCANCODE_H, 35},
    {SDL_SCANCODE_J, 36},
    {SDL_SCANCODE_K, 37},
    {SDL_SCANCODE_L, 38},
    {SDL_SCANCODE_SEMICOLON, 39},
    {SDL_SCANCODE_APOSTROPHE, 40},
    {SDL_SCANCODE_GRAVE, 41},
    {SDL_SCANCODE_LSHIFT, 42},
    {SDL_SCANCODE_BACKSLASH, 43},
    {SDL_SCANCODE_NONUSHASH, 43},
    {SDL_SCANCODE_Z, 44},
    {SDL_SCANCODE_X, 45},
    {SDL_SCANCODE_C, 46},
    {SDL_SCANCODE_V, 47},
    {SDL_SCANCODE_B, 48},
    {SDL_SCANCODE_N, 49},
    {SDL_SCANCODE_M, 50},
    {SDL_SCANCODE_COMMA, 51},
    {SDL_SCANCODE_PERIOD, 52},
    {SDL_SCANCODE_SLASH, 53},
    {SDL_SCANCODE_RSHIFT, 54},
    {SDL_SCANCODE_KP_MULTIPLY, 55},
    {SDL_SCANCODE_LALT, 56},
    {SDL_SCANCODE_SPACE, 57},
    {SDL_SCANCODE_CAPSLOCK, 58},
    {SDL_SCANCODE_F1, 59},
    {SDL_SCANCODE_F2, 60},
    {SDL_SCANCODE_F3, 61},
    {SDL_SCANCODE_F4, 62},
    {SDL_SCANCODE_F5, 63},
    {SDL_SCANCODE_F6, 64},
    {SDL_SCANCODE_F7, 65},
    {SDL_SCANCODE_F8, 66},
    {SDL_SCANCODE_F9, 67},
    {SDL_SCANCODE_F10, 68},
    {SDL_SCANCODE_NUMLOCKCLEAR, 69},
    {SDL_SCANCODE_SCROLLLOCK, 70},
    {SDL_SCANCODE_KP_7, 71},
    {SDL_SCANCODE_KP_8, 72},
    {SDL_SCANCODE_KP_9, 73},
    {SDL_SCANCODE_KP_MINUS, 74},
    {SDL_SCANCODE_KP_4, 75},
    {SDL_SCANCODE_KP_5, 76},
    {SDL_SCANCODE_KP_6, 77},
    {SDL_SCANCODE_KP_PLUS, 78},
    {SDL_SCANCODE_KP_1, 79},
    {SDL_SCANCODE_KP_2, 80},
    {SDL_SCANCODE_KP_3, 81},
    {SDL_SCANCODE_KP_0, 82},
    {SDL_SCANCODE_KP_PERIOD, 83},
    {SDL_SCANCODE_NONUSBACKSLASH, 86},
    {SDL_SCANCODE_F11, 87},
    {SDL_SCANCODE_F12, 88},
    {SDL_SCANCODE_F13, 100},
    {SDL_SCANCODE_F14, 101},
    {SDL_SCANCODE_F15, 102},
    {SDL_SCANCODE_KP_EQUALS, 141},
    {SDL_SCANCODE_KP_ENTER, 156},
    {SDL_SCANCODE_RCTRL, 157},
    {SDL_SCANCODE_KP_DIVIDE, 181},
    {SDL_SCANCODE_PRINTSCREEN, 183},
    {SDL_SCANCODE_RALT, 184},
    {SDL_SCANCODE_PAUSE, 197},
    {SDL_SCANCODE_HOME, 199},
    {SDL_SCANCODE_UP, 200},
    {SDL_SCANCODE_PAGEUP, 201},
    {SDL_SCANCODE_LEFT, 203},
    {SDL_SCANCODE_RIGHT, 205},
    {SDL_SCANCODE_END, 207},
    {SDL_SCANCODE_DOWN, 208},
    {SDL_SCANCODE_PAGEDOWN, 209},
    {SDL_SCANCODE_INSERT, 210},
    {SDL_SCANCODE_DELETE, 211},
    {SDL_SCANCODE_LGUI, 219},
    {SDL_SCANCODE_RGUI, 220},
    {SDL_SCANCODE_APPLICATION, 221},
};

// ---- Mouse events --------------------------------------------------------------------------

int32_t ButtonNumber(Uint8 sdlButton) {
    switch (sdlButton) {
        case SDL_BUTTON_LEFT:
            return 1;
        case SDL_BUTTON_RIGHT:
            return 2;
        case SDL_BUTTON_MIDDLE:
            return 3;
        default:
            return 0;
    }
}

// Puts the platform cursor where the program's is. Its own motion, and whatever came before
// it, is dropped, so the move never comes back as motion (in relative mode SDL makes none).
void PlaceCursor() {
    int32_t x = MousePositionX(), y = MousePositionY();
    SDL_WarpMouseInWindow(sdl.window, sdl.surfaceRect.x + x, sdl.surfaceRect.y + y);
    if (!sdl.mouse.relative) {
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_MOUSE_EVENTS_FIRST, SDL_MOUSE_EVENTS_LAST);
    }
    sdl.mouse.cursorX = x;
    sdl.mouse.cursorY = y;
}

void GrabCursor() {
    const char* driver = SDL_GetCurrentVideoDriver();
    sdl.mouse.relative =
        !(driver && SDL_strcmp(driver, "x11") == 0) && SDL_SetRelativeMouseMode(SDL_TRUE) == 0;
    if (!sdl.mouse.relative) {
        SDL_SetWindowGrab(sdl.window, SDL_TRUE);
        SDL_ShowCursor(SDL_DISABLE);
    }
    // What arrived while we were not reading belongs to somebody else's use of the mouse.
    MouseForgetPendingEvents();
    PlaceCursor();
    sdl.mouse.grabbed = true;
}

// True for a place of the window off the surface.
bool OffSurface(int windowX, int windowY) {
    int x = windowX - sdl.surfaceRect.x;
    int y = windowY - sdl.surfaceRect.y;
    return x < 0 || y < 0 || x >= SURFACE_WIDTH || y >= SURFACE_HEIGHT;
}

// Queues the motion from the last position read to (x, y) of the window, if any.
void QueueMotionTo(int32_t windowX, int32_t windowY) {
    int32_t x = windowX - sdl.surfaceRect.x;
    int32_t y = windowY - sdl.surfaceRect.y;
    if (x == sdl.mouse.cursorX && y == sdl.mouse.cursorY) return;
    MouseQueueEvent(MouseDeviceEvent{x - sdl.mouse.cursorX, y - sdl.mouse.cursorY, 0, 0, false});
    sdl.mouse.cursorX = x;
    sdl.mouse.cursorY = y;
}

// Takes every mouse event SDL holds, in order, into the device's queue.
void QueuePendingEvents() {
    SDL_Event events[64];
    int fetched;
    while ((fetched = SDL_PeepEvents(events, 64, SDL_GETEVENT, SDL_MOUSE_EVENTS_FIRST,
                                     SDL_MOUSE_EVENTS_LAST)) > 0) {
        for (int i = 0; i < fetched; ++i) {
            const SDL_Event& event = events[i];
            switch (event.type) {
                case SDL_MOUSEMOTION:
                    if (event.motion.which == SDL_TOUCH_MOUSEID) break;
                    if (sdl.mouse.relative) {
                        MouseQueueEvent(
                            MouseDeviceEvent{event.motion.xrel, event.motion.yrel, 0, 0, false});
                    } else {
                        QueueMotionTo(event.motion.x, event.motion.y);
                    }
                    break;
                case SDL_MOUSEBUTTONDOWN:
                case SDL_MOUSEBUTTONUP: {
                    if (event.button.which == SDL_TOUCH_MOUSEID) break;
                    int32_t button = ButtonNumber(event.button.button);
                    if (button == 0) break;
                    if (!sdl.mouse.relative) QueueMotionTo(event.button.x, event.button.y);
                    MouseQueueEvent(
                        MouseDeviceEvent{0, 0, 0, button, event.type == SDL_MOUSEBUTTONDOWN});
                    break;
                }
                case SDL_MOUSEWHEEL:
                    if (event.wheel.which == SDL_TOUCH_MOUSEID) break;
                    MouseQueueEvent(MouseDeviceEvent{0, 0, event.wheel.y, 0, false});
                    break;
                default:
                    break;
            }
        }
    }
}

void GiveCursorBack() {
    if (!sdl.mouse.grabbed) return;
    SDL_SetRelativeMouseMode(SDL_FALSE);
    if (sdl.window) {
        SDL_SetWindowGrab(sdl.window, SDL_FALSE);
        // The cursor reappears where the program's own cursor was.
        SDL_WarpMouseInWindow(sdl.window, sdl.surfaceRect.x + MousePositionX(),
                              sdl.surfaceRect.y + MousePositionY());
    }
    SDL_ShowCursor(SDL_ENABLE);
    sdl.mouse.grabbed = false;
}

void CloseKeyboard() { sdl.keyboardOpen = false; }

}  // namespace

// ---- Keyboard ------------------------------------------------------------------------------

int32_t OpenKeyboard() {
    if (sdl.keyboardOpen) return 1;
    if (!StartSdlVideo()) return 0;
    sdl.keyboardOpen = true;
    SetShutdownStep(SHUTDOWN_KEYBOARD, CloseKeyboard);
    return 1;
}

int32_t SampleKeyboard() {
    if (!sdl.keyboardOpen) {
        KeyboardSampleFailed();
        return 0;
    }
    SDL_PumpEvents();
    // Keys are read as state; their events are not needed.
    SDL_FlushEvents(SDL_KEYDOWN, SDL_MOUSE_EVENTS_FIRST - 1);
    if (!SdlWindowFocused()) {
        KeyboardSampleFailed();
        return 0;
    }
    int count = 0;
    const Uint8* state = SDL_GetKeyboardState(&count);
    uint8_t keys[256] = {};
    for (const KeyPair& pair : KEY_TABLE) {
        if (pair.sdl < count && state[pair.sdl]) keys[pair.set1] = 0x80;
    }
    KeyboardStoreSnapshot(keys);
    return 1;
}

// ---- Mouse ---------------------------------------------------------------------------------

int32_t OpenMouse() {
    if (sdl.mouse.open) return 1;
    if (!StartSdlVideo()) return 0;
    // SDL would take the pointer for itself while a button is down and let it go on release,
    // loosening our hold; the hold already brings every press and release to the window.
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
    sdl.mouse = SdlMouse{true, false, false, false, 0, 0};
    SetShutdownStep(SHUTDOWN_MOUSE, CloseMouse);
    return 1;
}

int32_t ReadMouseEvents() {
    MouseBeginRead();
    if (!sdl.mouse.open) return 0;
    int pointerX = 0, pointerY = 0;
    bool pointerKnown = QueryX11Pointer(sdl.window, &pointerX, &pointerY);
    SDL_PumpEvents();
    if (!sdl.window || !SdlWindowFocused() || sdl.mouse.grabSuspended) {
        GiveCursorBack();
        SDL_FlushEvents(SDL_MOUSE_EVENTS_FIRST, SDL_MOUSE_EVENTS_LAST);
        MouseForgetPendingEvents();
        return 0;
    }
    if (!sdl.mouse.grabbed) {
        GrabCursor();
        pointerKnown = false;  // asked before it was placed
    }
    QueuePendingEvents();
    MouseApplyEvents();
    // The platform cursor follows the program's: it stands there already unless events are
    // still held for the next frames, or it got away from the window (another program may
    // hold the pointer, or the window moved under it).
    if (MousePendingEvents() == 0 &&
        (sdl.mouse.cursorX != MousePositionX() || sdl.mouse.cursorY != MousePositionY() ||
         (pointerKnown && !sdl.mouse.relative && OffSurface(pointerX, pointerY))))
        PlaceCursor();
    return 1;
}

void ReleaseMouseGrab() {
    sdl.mouse.grabSuspended = true;
    GiveCursorBack();
}

void ResumeMouseGrab() { sdl.mouse.grabSuspended = false; }

void CloseMouse() {
    GiveCursorBack();
    sdl.mouse.open = false;
}
