// Display state both platforms share: the window event queue, the keyboard snapshot with its
// key tests, and the note of what failed to open.
#include "platform/display.h"
#include "platform/display_backend.h"

#include <algorithm>
#include <climits>
#include <deque>

namespace {

std::deque<int32_t> windowEvents;

struct KeyboardState {
    bool sampled;  // false while the last sample failed, or before the first
    uint8_t keys[256];
    bool seenDown[256];
};
KeyboardState keyboard{};

std::string openError;

bool KeyInRange(int32_t key) { return key >= 0 && key < 256; }

int32_t ReleasedOnce(int32_t key) {
    if (keyboard.keys[key] & 0x80) {
        keyboard.seenDown[key] = true;
        return 0;
    }
    if (keyboard.seenDown[key]) {
        keyboard.seenDown[key] = false;
        return 1;
    }
    return 0;
}

}  // namespace

// ---- Window events -------------------------------------------------------------------------

void QueueWindowEvent(int32_t code) {
    if (!windowEvents.empty() && windowEvents.back() == code) return;
    windowEvents.push_back(code);
}

int32_t TakeWindowEvent() {
    if (windowEvents.empty()) return WINDOW_EVENT_NONE;
    int32_t code = windowEvents.front();
    windowEvents.pop_front();
    return code;
}

void ClearWindowEvents() { windowEvents.clear(); }

// ---- Keyboard ------------------------------------------------------------------------------

void KeyboardStoreSnapshot(const uint8_t (&keys)[256]) {
    std::copy(std::begin(keys), std::end(keys), keyboard.keys);
    keyboard.sampled = true;
}

void KeyboardSampleFailed() { keyboard.sampled = false; }

void KeyboardReset() { keyboard = KeyboardState{}; }

int32_t IsKeyDown(int32_t key) {
    if (!keyboard.sampled) return 0;
    if (key == KEY_ANY) {
        for (uint8_t state : keyboard.keys) {
            if (state & 0x80) return 1;
        }
        return 0;
    }
    return KeyInRange(key) && (keyboard.keys[key] & 0x80) ? 1 : 0;
}

int32_t WasKeyReleased(int32_t key) {
    if (!keyboard.sampled) return 0;
    if (key == KEY_ANY) {
        int32_t any = 0;
        for (int32_t k = 0; k < 256; ++k) any |= ReleasedOnce(k);
        return any;
    }
    return KeyInRange(key) ? ReleasedOnce(key) : 0;
}

// ---- Open errors ---------------------------------------------------------------------------

void SetPlatformOpenError(std::string message) {
    if (openError.empty()) openError = std::move(message);
}

void ClearPlatformOpenError() { openError.clear(); }

const char* PlatformOpenError() { return openError.empty() ? nullptr : openError.c_str(); }

// ---- Mouse device state --------------------------------------------------------------------

namespace {

struct MouseDevice {
    int32_t x;
    int32_t y;
    int32_t dx;
    int32_t dy;
    int32_t wheel;
    bool buttons[4];
};
MouseDevice mouse{};

int32_t Clamp(int64_t value, int32_t size) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, 0, size - 1));
}

}  // namespace

void MouseBeginRead() {
    mouse.dx = 0;
    mouse.dy = 0;
    mouse.wheel = 0;
}

void MouseApplyEvents(const MouseDeviceEvent* events, int32_t count) {
    // Summed in 64 bits so that a flood of large motions cannot wrap around.
    int64_t dx = 0, dy = 0, wheel = 0;
    for (int32_t i = 0; i < count; ++i) {
        const MouseDeviceEvent& event = events[i];
        dx += event.dx;
        dy += event.dy;
        wheel += event.wheel;
        if (event.button >= 1 && event.button <= 3) mouse.buttons[event.button] = event.down;
    }
    auto saturate = [](int64_t value) {
        return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
    };
    mouse.dx = saturate(dx);
    mouse.dy = saturate(dy);
    mouse.wheel = saturate(wheel);
    mouse.x = Clamp(int64_t{mouse.x} + dx, SURFACE_WIDTH);
    mouse.y = Clamp(int64_t{mouse.y} + dy, SURFACE_HEIGHT);
}

void MouseReset() { mouse = MouseDevice{}; }

int32_t MouseMotionX() { return mouse.dx; }
int32_t MouseMotionY() { return mouse.dy; }
int32_t MousePositionX() { return mouse.x; }
int32_t MousePositionY() { return mouse.y; }

int32_t IsMouseButtonDown(int32_t button) {
    return button >= 1 && button <= 3 && mouse.buttons[button] ? 1 : 0;
}
