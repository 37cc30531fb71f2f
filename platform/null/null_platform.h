// Controls of the null platform: the display.h services over the same memory back buffer, with
// scripted input and a clock that only moves when told to (or when a present waits for its
// slot). It opens no window, so tests and the headless tools run without a display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Back to the state of a fresh process: nothing opened, focus on, no input pending, keys and
// buttons up, mouse at (0, 0), clock at 0, no window events or message boxes recorded.
void NullPlatformReset();

// Whether the program's window has the input focus (it has after NullPlatformReset).
void NullSetFocus(bool focused);
// Queues a relative mouse motion event, as the device would report it.
void NullMoveMouse(int32_t dx, int32_t dy);
// Queues a button event: 1 left, 2 right, 3 middle.
void NullSetMouseButton(int32_t button, bool down);
// Mouse events queued and not yet read.
int32_t NullPendingMouseEvents();
// True while the cursor is hidden and held in the window (the grab while focused).
bool NullMouseGrabbed();
// Where the platform cursor was last put on the surface (it follows the program's position).
int32_t NullCursorX();
int32_t NullCursorY();

// Sets a key's state, by set-1 scan code (KEY_…), as the next sample will see it.
void NullSetKey(int32_t scanCode, bool down);

// Queues a platform message that PollWindowEvent will handle: it queues the event code given
// (WINDOW_EVENT_CLOSE_REQUESTED for a click on the close box).
void NullQueueWindowEvent(int32_t code);

// The clock the present pacing reads, in nanoseconds; a present that comes too early moves it
// on to its slot instead of waiting.
int64_t NullClockNanoseconds();
void NullAdvanceClock(int64_t nanoseconds);
// Presents done since the reset, and the clock at each of them.
int32_t NullPresentCount();
std::vector<int64_t> NullPresentTimes();

// Message boxes shown since the reset, in order.
struct NullMessageBox {
    std::string caption;
    std::string text;
};
std::vector<NullMessageBox> NullMessageBoxes();
