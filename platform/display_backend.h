// What the shared display code offers the platform backends (sdl/, null/): the back buffer and
// the software drawing on it, the text renderer, the window event queue, text conversion and
// the open-error note. Not for use above the platform layer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Minimum time between two presents: 1/61 s (rounded up), so that 60 frames per second fit.
constexpr int64_t FRAME_PERIOD_NANOSECONDS = (1000000000LL + 60) / 61;

// The back buffer exists for the whole process; opening the surface clears it to black and
// lets drawing act on it, closing stops drawing on it.
void OpenBackBuffer();
void CloseBackBuffer();
bool BackBufferOpen();
uint32_t* BackBufferData();
// Stores one pixel of the back buffer. Every shape and glyph that computes its own clipped
// range writes through here, so a clipping fault drops the pixel and is counted instead of
// landing on the wrong row or beside the buffer.
void StoreBackBufferPixel(int64_t x, int64_t y, uint32_t pixel);
// Pixels dropped by StoreBackBufferPixel because they lay outside the surface; stays 0 while
// the clipping is right (the frame fuzz target checks it).
int64_t PixelsOutsideSurface();

// A 0x00BBGGRR colour as a back buffer pixel, 0x00RRGGBB.
inline uint32_t ColourToPixel(int32_t colour) {
    uint32_t c = static_cast<uint32_t>(colour);
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

// Lets text be measured and drawn, in DejaVu Sans at 13 px from the glyphs built into the
// program; it cannot fail. A second call is free.
void OpenTextRenderer();
void CloseTextRenderer();
// Width of a Windows-1252 text; 0 when the renderer is not open.
int32_t TextWidth(std::string_view text);
// Height of a line of text (the box drawn in mode 0).
int32_t TextHeight();
// Draws the text's glyphs with the top-left corner at (x, y) in the pixel value, clipped.
void RenderText(int64_t x, int64_t y, std::string_view text, uint32_t pixel);

// The window event queue: first in, first out; an event equal to the last one in the queue is
// not queued again.
void QueueWindowEvent(int32_t code);
// The oldest queued event, removed; 0 when the queue is empty.
int32_t TakeWindowEvent();
void ClearWindowEvents();

// Notes the first failure of an open operation; PlatformOpenError reports it.
void SetPlatformOpenError(std::string message);
void ClearPlatformOpenError();

// The keyboard's 256-key snapshot logic, shared by the backends: a backend fills the snapshot
// (bit 7 set while a key is down) or reports a failed sample.
void KeyboardStoreSnapshot(const uint8_t (&keys)[256]);
void KeyboardSampleFailed();
void KeyboardReset();

// The mouse device's state, shared by the backends. At each examination a backend starts the
// read, queues every event its device delivered since the last one, in order, and applies
// them. Applying takes the queued events in order up to the end, except that a frame shows at
// most one press or release per button, with the position where it happened (motion after it
// waits for the next read), and a press let go within the same delivery is kept down for two
// reads when the mouse moved in between, and dropped with its release when it did not; so a
// drag faster than a frame is still one drag, and a still tap shorter than a frame is never
// seen down, however it falls between reads.
struct MouseDeviceEvent {
    int32_t dx;
    int32_t dy;
    int32_t wheel;
    int32_t button;  // 0 for motion; 1 left, 2 right, 3 middle
    bool down;
};
// Starts an examination: the motion of the last one is forgotten.
void MouseBeginRead();
// Queues one event fetched in this examination.
void MouseQueueEvent(const MouseDeviceEvent& event);
// Sums the motion, sets the buttons, then moves the position by the motion, clamped.
void MouseApplyEvents();
// Events queued and not yet applied.
int32_t MousePendingEvents();
// Drops the queued events: what arrived while the window was not read is not ours.
void MouseForgetPendingEvents();
// Position (0, 0), buttons up, no motion, nothing queued.
void MouseReset();
