// Per-frame mouse button state, derived once per frame from the mouse device.
#include "app/mouse.h"

#include <climits>

#include "platform/display.h"

// Made at start-up, then read and written by the main thread only (UpdateMouseState).
MouseSlot* mouseState = nullptr;

namespace {

constexpr int32_t LONG_FRAMES = 20;  // held longer: long press and repeat; still longer: idle
constexpr int32_t LONG_IDLE_FRAMES = 60;
constexpr int8_t DOUBLE_CLICK_FRAMES = 20;

void UpdateMotionSlot(MouseSlot& slot) {
    if (MouseMotionX() != 0 || MouseMotionY() != 0) {
        slot.count = 0;
    } else if (slot.count < INT32_MAX) {
        ++slot.count;
    }
    slot.flags = 0;
    if (slot.count <= LONG_FRAMES) slot.flags |= MOTION_RECENT;
    if (slot.count > LONG_FRAMES) slot.flags |= MOTION_IDLE;
    if (slot.count > LONG_IDLE_FRAMES) slot.flags |= MOTION_LONG_IDLE;
}

void UpdateButtonSlot(MouseSlot& slot, int32_t button) {
    if (slot.clickTimer > 0) --slot.clickTimer;
    bool down = IsMouseButtonDown(button) != 0;
    if (down) {
        if (slot.count < INT32_MAX) ++slot.count;
        slot.click = 0;
    } else if (slot.count <= 1) {
        // A press seen in one frame only is no click.
        slot.click = 0;
    } else {
        slot.click = slot.clickTimer > 0 ? 2 : 1;
        slot.clickTimer = DOUBLE_CLICK_FRAMES;
    }
    slot.flags = 0;
    if (slot.count == 1) slot.flags |= MOUSE_PRESSED;
    if (slot.count > 0) slot.flags |= MOUSE_DOWN;
    if (slot.count > LONG_FRAMES) slot.flags |= MOUSE_LONG;
    if (slot.count > LONG_FRAMES && slot.count % 4 != 0) slot.flags |= MOUSE_REPEAT;
    if (slot.click > 0) slot.flags |= MOUSE_RELEASED;
    if (slot.click == 2) slot.flags |= MOUSE_DOUBLE;
    if (!down) slot.count = 0;
}

}  // namespace

int32_t UpdateMouseState(int32_t source) {
    if (source != MOUSE_SOURCE_DEVICE || !mouseState) return 0;
    ReadMouseEvents();
    UpdateMotionSlot(mouseState[MOUSE_SLOT_MOTION]);
    for (int32_t button = MOUSE_SLOT_LEFT; button <= MOUSE_SLOT_MIDDLE; ++button) {
        UpdateButtonSlot(mouseState[button], button);
    }
    return 0;
}
