// Display state both platforms share: the window event queue, the keyboard snapshot with its
// key tests, and the note of what failed to open.
#include <algorithm>
#include <climits>
#include <deque>

#include "platform/display.h"
#include "platform/display_backend.h"

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
    // For each button: the read that fetched the press now in effect, and how many reads
    // have ended with it down since.
    uint64_t pressRead[4];
    int32_t readsDown[4];
    uint64_t read;  // the examination under way, counted from 1
};
MouseDevice mouse{};

struct PendingMouseEvent {
    MouseDeviceEvent event;
    uint64_t read;  // the examination that fetched it
};
std::deque<PendingMouseEvent> pendingMouse;
int32_t pendingButtons = 0;

// Button events waiting beyond this many are applied without the holds below, so that a
// device clicking faster than frames are drawn cannot build a backlog without bound.
constexpr int32_t MOUSE_BUTTON_BACKLOG = 8;

int32_t Clamp(int64_t value, int32_t size) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, 0, size - 1));
}

bool IsButtonEvent(const MouseDeviceEvent& event) { return event.button >= 1 && event.button <= 3; }

void PopPendingMouseEvent() {
    if (IsButtonEvent(pendingMouse.front().event)) --pendingButtons;
    pendingMouse.pop_front();
}

// The release that makes the press at the front a still tap within one delivery: the next
// event of its button, a release fetched in the same read, with no motion before it.
std::deque<PendingMouseEvent>::iterator StillTapRelease() {
    const PendingMouseEvent& press = pendingMouse.front();
    for (auto it = pendingMouse.begin() + 1; it != pendingMouse.end(); ++it) {
        if (it->read != press.read) break;
        if (!IsButtonEvent(it->event)) {
            if (it->event.dx != 0 || it->event.dy != 0) break;
            continue;
        }
        if (it->event.button != press.event.button) continue;
        return it->event.down ? pendingMouse.end() : it;
    }
    return pendingMouse.end();
}

}  // namespace

void MouseBeginRead() {
    mouse.dx = 0;
    mouse.dy = 0;
    mouse.wheel = 0;
    ++mouse.read;
}

void MouseQueueEvent(const MouseDeviceEvent& event) {
    pendingMouse.push_back(PendingMouseEvent{event, mouse.read});
    if (IsButtonEvent(event)) ++pendingButtons;
}

void MouseForgetPendingEvents() {
    pendingMouse.clear();
    pendingButtons = 0;
}

int32_t MousePendingEvents() { return static_cast<int32_t>(pendingMouse.size()); }

void MouseApplyEvents() {
    // Summed in 64 bits so that a flood of large motions cannot wrap around.
    int64_t dx = 0, dy = 0, wheel = 0;
    bool changed[4] = {};
    bool anyChange = false;
    while (!pendingMouse.empty()) {
        const PendingMouseEvent& pending = pendingMouse.front();
        const MouseDeviceEvent& event = pending.event;
        bool hold = pendingButtons <= MOUSE_BUTTON_BACKLOG;
        if (!IsButtonEvent(event)) {
            // The frame of a press or release sees the mouse where it happened; what moved
            // after it is the next frame's.
            if (hold && anyChange && (event.dx != 0 || event.dy != 0)) break;
            dx += event.dx;
            dy += event.dy;
            wheel += event.wheel;
            PopPendingMouseEvent();
            continue;
        }
        int32_t button = event.button;
        if (mouse.buttons[button] == event.down) {
            PopPendingMouseEvent();
            continue;
        }
        // A still tap shorter than a frame is never seen down, wherever it falls: one that
        // straddles a read is seen down once and does nothing, so one within a read must do
        // nothing too, or the same click would act by luck.
        if (event.down) {
            auto release = StillTapRelease();
            if (release != pendingMouse.end()) {
                pendingMouse.erase(release);
                --pendingButtons;
                PopPendingMouseEvent();
                continue;
            }
        }
        if (hold) {
            // One change of a button per frame, or the frame would never see the first.
            if (changed[button]) break;
            // A press let go after motion within its delivery (a drag faster than a frame)
            // stays down for two frames, as a release needs to count.
            if (!event.down && mouse.pressRead[button] == pending.read &&
                mouse.readsDown[button] < 2)
                break;
        }
        mouse.buttons[button] = event.down;
        if (event.down) {
            mouse.pressRead[button] = pending.read;
            mouse.readsDown[button] = 0;
        }
        changed[button] = true;
        anyChange = true;
        PopPendingMouseEvent();
    }
    for (int32_t button = 1; button <= 3; ++button) {
        if (mouse.buttons[button]) ++mouse.readsDown[button];
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

void MouseReset() {
    mouse = MouseDevice{};
    MouseForgetPendingEvents();
}

int32_t MouseMotionX() { return mouse.dx; }
int32_t MouseMotionY() { return mouse.dy; }
int32_t MousePositionX() { return mouse.x; }
int32_t MousePositionY() { return mouse.y; }

int32_t IsMouseButtonDown(int32_t button) {
    return button >= 1 && button <= 3 && mouse.buttons[button] ? 1 : 0;
}
