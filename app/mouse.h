// Per-frame mouse button state: press, hold, long hold, repeat, click and double click for the
// three buttons, and how long the mouse has been still. All thresholds count frames, that is
// calls of UpdateMouseState.
#pragma once

#include <cstdint>

struct MouseSlot {
    int32_t count;      // buttons: consecutive frames down, 0 while up; slot 0: frames since motion
    int8_t click;       // 0 none, 1 click, 2 double click; set in the frame of a release
    int8_t clickTimer;  // frames left in which another click counts as a double click
    uint8_t flags;      // recomputed every frame
};

// Slot indices of the table.
constexpr int32_t MOUSE_SLOT_MOTION = 0;
constexpr int32_t MOUSE_SLOT_LEFT = 1;
constexpr int32_t MOUSE_SLOT_RIGHT = 2;
constexpr int32_t MOUSE_SLOT_MIDDLE = 3;
constexpr int32_t MOUSE_SLOT_UPPER_INDEX = 4;  // slot 4 is never updated

// Button flags (slots 1-3).
constexpr uint8_t MOUSE_PRESSED = 1;
constexpr uint8_t MOUSE_DOWN = 2;
constexpr uint8_t MOUSE_LONG = 4;
constexpr uint8_t MOUSE_REPEAT = 8;
constexpr uint8_t MOUSE_RELEASED = 16;
constexpr uint8_t MOUSE_DOUBLE = 32;
// Motion flags (slot 0).
constexpr uint8_t MOTION_RECENT = 1;
constexpr uint8_t MOTION_IDLE = 2;
constexpr uint8_t MOTION_LONG_IDLE = 4;

// The source that reads the platform's mouse device; the only one there is.
constexpr int32_t MOUSE_SOURCE_DEVICE = 2;

// The five-slot table, made zero-filled at start-up with ArrayCreate(&mouseState, 4).
extern MouseSlot* mouseState;

// Reads the mouse device (source MOUSE_SOURCE_DEVICE) and updates every slot of mouseState.
// Other sources and a missing table change nothing. Returns 0.
int32_t UpdateMouseState(int32_t source);
