// What every platform supplies for output and input: the window, the 800 x 600 drawing surface
// with our own back buffer, 2D drawing, presenting, window events, the keyboard, the mouse
// device and the message box. The SDL platform (platform/sdl) and the null platform
// (platform/null) both implement all of it; the drawing itself is shared, so both give the same
// pixels. Everything here runs on the main thread, except ShowMessageBox (see there).
#pragma once

#include <cstdint>
#include <string_view>

// ---- Constants -----------------------------------------------------------------------------

// The drawing surface, and so the back buffer, is always this size.
constexpr int32_t SURFACE_WIDTH = 800;
constexpr int32_t SURFACE_HEIGHT = 600;

// The window style the program passes: a fixed-size frame with title bar and close box.
constexpr uint32_t MAIN_WINDOW_STYLE = 0x00C80000;

// Colours are 0x00BBGGRR (red in the low byte); -1 stands for the current drawing colour.
constexpr int32_t CURRENT_COLOUR = -1;

// Text modes: 0 draws a label on a box of the background colour, 1 draws it transparently.
constexpr int32_t DRAWING_MODE_OPAQUE = 0;
constexpr int32_t DRAWING_MODE_TRANSPARENT = 1;

// Key codes: PC scan codes of set 1. -1 means any key.
constexpr int32_t KEY_ANY = -1;
constexpr int32_t KEY_ESCAPE = 1;
constexpr int32_t KEY_1 = 2;  // 2 … 10 are 1 … 9, 11 is 0
constexpr int32_t KEY_0 = 11;
constexpr int32_t KEY_MINUS = 12;
constexpr int32_t KEY_EQUALS = 13;
constexpr int32_t KEY_BACKSPACE = 14;
constexpr int32_t KEY_TAB = 15;
constexpr int32_t KEY_Q = 16;
constexpr int32_t KEY_W = 17;
constexpr int32_t KEY_E = 18;
constexpr int32_t KEY_R = 19;
constexpr int32_t KEY_T = 20;
constexpr int32_t KEY_Y = 21;
constexpr int32_t KEY_U = 22;
constexpr int32_t KEY_I = 23;
constexpr int32_t KEY_O = 24;
constexpr int32_t KEY_P = 25;
constexpr int32_t KEY_RIGHT_BRACKET = 27;  // '+' on a German keyboard
constexpr int32_t KEY_RETURN = 28;
constexpr int32_t KEY_LEFT_CONTROL = 29;
constexpr int32_t KEY_A = 30;
constexpr int32_t KEY_S = 31;
constexpr int32_t KEY_D = 32;
constexpr int32_t KEY_F = 33;
constexpr int32_t KEY_G = 34;
constexpr int32_t KEY_H = 35;
constexpr int32_t KEY_J = 36;
constexpr int32_t KEY_K = 37;
constexpr int32_t KEY_L = 38;
constexpr int32_t KEY_LEFT_SHIFT = 42;
constexpr int32_t KEY_Z = 44;
constexpr int32_t KEY_X = 45;
constexpr int32_t KEY_C = 46;
constexpr int32_t KEY_V = 47;
constexpr int32_t KEY_B = 48;
constexpr int32_t KEY_N = 49;
constexpr int32_t KEY_M = 50;
constexpr int32_t KEY_SLASH = 53;  // '-' on a German keyboard
constexpr int32_t KEY_RIGHT_SHIFT = 54;
constexpr int32_t KEY_LEFT_ALT = 56;
constexpr int32_t KEY_SPACE = 57;
constexpr int32_t KEY_F1 = 59;  // F1 … F10 are 59 … 68
constexpr int32_t KEY_F2 = 60;
constexpr int32_t KEY_F3 = 61;
constexpr int32_t KEY_F5 = 63;
constexpr int32_t KEY_F6 = 64;
constexpr int32_t KEY_F10 = 68;
constexpr int32_t KEY_NUMPAD_MINUS = 74;
constexpr int32_t KEY_NUMPAD_PLUS = 78;
constexpr int32_t KEY_F11 = 87;
constexpr int32_t KEY_F12 = 88;
// Extended keys (E0 prefix) take their code + 128, as the 256-key snapshot numbers them.
constexpr int32_t KEY_RIGHT_CONTROL = 157;
constexpr int32_t KEY_RIGHT_ALT = 184;
constexpr int32_t KEY_HOME = 199;
constexpr int32_t KEY_UP = 200;
constexpr int32_t KEY_PAGE_UP = 201;
constexpr int32_t KEY_LEFT = 203;
constexpr int32_t KEY_RIGHT = 205;
constexpr int32_t KEY_END = 207;
constexpr int32_t KEY_DOWN = 208;
constexpr int32_t KEY_PAGE_DOWN = 209;
constexpr int32_t KEY_INSERT = 210;
constexpr int32_t KEY_DELETE = 211;

// Window event codes that PollWindowEvent returns.
constexpr int32_t WINDOW_EVENT_NONE = 0;             // nothing was pending
constexpr int32_t WINDOW_EVENT_CLOSE_REQUESTED = 1;  // the close box was clicked
constexpr int32_t WINDOW_EVENT_FOCUS_GAINED = 2;
constexpr int32_t WINDOW_EVENT_FOCUS_LOST = 3;
constexpr int32_t WINDOW_EVENT_REPAINTED = 4;  // the window was redrawn from the back buffer
constexpr int32_t WINDOW_EVENT_HANDLED = 5;    // a platform message was handled, nothing queued

// ---- Start-up and windows ------------------------------------------------------------------

// Prepares the display system and opens the keyboard as OpenKeyboard does. Non-zero on success.
int32_t OpenDisplay();
// Opens the keyboard service; a second call after a successful one just succeeds.
int32_t OpenKeyboard();

struct Window;
// Opens the one top-level window: its frame's top-left corner at (x, y) of the desktop, its
// client area exactly clientWidth x clientHeight, titled (Windows-1252 text), shown, raised and
// focused. MAIN_WINDOW_STYLE gives a fixed-size frame with a close box. nullptr on failure, and
// when OpenDisplay has not succeeded. The close box only queues WINDOW_EVENT_CLOSE_REQUESTED.
Window* OpenMainWindow(int32_t x, int32_t y, int32_t clientWidth, int32_t clientHeight,
                       std::string_view title, uint32_t style);
// Makes the drawing surface at (x, y) of the window's client area. Only a surface of
// SURFACE_WIDTH x SURFACE_HEIGHT without stretching or margins is supported; anything else
// returns 0. Clears the back buffer to black and sets the frame cap to 60 per second.
int32_t OpenWindowSurface(Window* window, int32_t x, int32_t y, int32_t width, int32_t height,
                          int32_t stretch, int32_t rightMargin, int32_t bottomMargin);

// nullptr while every open operation called so far succeeded; otherwise one line saying what is
// missing and how to get it (for example no X display).
// The interactive program prints it on stderr and exits non-zero.
const char* PlatformOpenError();

// ---- Drawing a frame -----------------------------------------------------------------------
// Drawing operations act only between BeginSurfaceDrawing and EndSurfaceDrawing of the same
// thread, on an open surface; otherwise they do nothing (and return 0). Every pixel written is
// clipped to the surface, for any 32-bit coordinates.

// Fills the whole back buffer with the colour (no drawing target needed, only an open surface).
void ClearSurface(int32_t colour);
// Ends any drawing under way, then targets the back buffer and resets this thread's context:
// colour black, background 0xFFFFFF, mode 0.
void BeginSurfaceDrawing();
// DRAWING_MODE_OPAQUE (0) or DRAWING_MODE_TRANSPARENT (1); affects text only.
void SetDrawingMode(int32_t mode);
// Makes the colour the current drawing colour.
void SetDrawingColour(int32_t colour);
// A filled disc: the pixels (px, py) with x-r <= px < x+r, y-r <= py < y+r whose centres lie in
// the circle, (2px+1-2x)^2 + (2py+1-2y)^2 <= 4r^2. A colour other than -1 is for this disc only.
void DrawDisc(int32_t x, int32_t y, int32_t radius, int32_t colour = CURRENT_COLOUR);
// Draws a Windows-1252 text in one line, top-left corner at (x, y), in DejaVu Sans 13 px
// without anti-aliasing; in mode 0 on a box of the background colour. Returns the x just right
// of the text (x for an empty text, 0 without a drawing target).
int32_t DrawLabel(int32_t x, int32_t y, std::string_view text, int32_t colour = CURRENT_COLOUR);
// The width DrawLabel gives the text; 0 for an empty text and without a drawing target.
int32_t LabelWidth(std::string_view text);
// A 1-pixel line from (x1, y1) to (x2, y2), both end pixels included; a zero-length line sets
// one pixel.
void DrawLineBetween(int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                     int32_t colour = CURRENT_COLOUR);
// A 1-pixel line from (x, y) towards (x+dx, y+dy), end pixel excluded: with n = max(|dx|, |dy|)
// the pixels (x + floor((2i*dx + n) / 2n), y + floor((2i*dy + n) / 2n)) for i = 0 … n-1.
void DrawLineOffset(int32_t x, int32_t y, int32_t dx, int32_t dy, int32_t colour = CURRENT_COLOUR);
// Drops this thread's drawing target; nothing happens without one.
void EndSurfaceDrawing();
// Shows the back buffer in the window, at most one present per 1/61 s (waits for the slot).
// The back buffer keeps the frame. A failed present is dropped; the next one tries again.
void PresentSurface();

// The back buffer: SURFACE_WIDTH x SURFACE_HEIGHT pixels, row-major, top row first, each pixel
// 0x00RRGGBB (in memory the bytes B, G, R, 0). After PresentSurface it holds the frame shown.
const uint32_t* BackBufferPixels();

// ---- Window events and keyboard ------------------------------------------------------------

// Never blocks. Returns the oldest queued window event; otherwise handles at most one pending
// platform message and returns what it queued (or WINDOW_EVENT_HANDLED); 0 when nothing was
// pending. An event equal to the one last in the queue is not queued twice.
int32_t PollWindowEvent();
// Takes a snapshot of all 256 keys; 1 on success. Fails (0) while the window has no keyboard
// focus or the keyboard was never opened; the key tests then answer 0 until a sample succeeds.
int32_t SampleKeyboard();
// Non-zero if the key (KEY_ANY: any key) was down in the last snapshot.
int32_t IsKeyDown(int32_t key);
// 1 exactly once per press and release: in the first call that sees the key up after a call
// that saw it down. KEY_ANY does this for every key. 0 while the last sample failed; the
// seen-down notes then stay.
int32_t WasKeyReleased(int32_t key);

// ---- Message box ---------------------------------------------------------------------------

// A modal box with the caption, the text (line feeds break lines; both Windows-1252) and one
// OK button, no icon; it takes the keyboard focus and closes with Return as well as its button.
// Returns 1 when closed, 0 when no box could be shown. Call it on the main thread of a process
// that has no window of its own open (the fault report's helper process does).
// The box is looked after by helper processes that die with the caller: nothing of it stays
// behind when the caller is killed.
int32_t ShowMessageBox(std::string_view caption, std::string_view text);
// Where ShowMessageBox writes the byte 'S' once its box is on screen; -1 (the default) for
// nowhere.
void SetMessageBoxShownNotice(int fd);
// Hangs up on the display server at once, so that it drops the window and the mouse grab of a
// frame loop that can no longer run. Async-signal-safe; for the fault handler.
void DropDisplayConnection();

// ---- Mouse device --------------------------------------------------------------------------
// While the window has the focus the platform cursor is hidden and held in the window, and
// stands where the program's position is. The position starts at (0, 0) and stays within the
// surface.

// Opens the mouse device; non-zero on success.
int32_t OpenMouse();
// Takes in every mouse event that arrived since the last call, in order, and updates motion,
// position and buttons to the mouse's state now, except that the motion after a press or
// release, and a second change of the same button, wait for the next call: each frame sees
// every press and release where it happened. A press let go within one delivery is seen down
// in two frames when the mouse moved in between (a drag), and not at all when it did not.
// 1 when events could be read (maybe none); 0 while the window has no focus (the cursor is
// given back, position and buttons stay, what arrives meanwhile is dropped).
int32_t ReadMouseEvents();
// The motion summed over the last ReadMouseEvents; 0 when it read nothing.
int32_t MouseMotionX();
int32_t MouseMotionY();
// The position, 0 … SURFACE_WIDTH-1 and 0 … SURFACE_HEIGHT-1.
int32_t MousePositionX();
int32_t MousePositionY();
// Non-zero while the button is down: 1 left, 2 right, 3 middle.
int32_t IsMouseButtonDown(int32_t button);
// Gives the cursor back at once (shown, free, at the program's mouse position) and keeps it
// free until ResumeMouseGrab; for the frame loop while a fault report's box is shown.
void ReleaseMouseGrab();
// Lets ReadMouseEvents take the cursor again while the window has the focus.
void ResumeMouseGrab();
// At program end: frees the cursor and closes the device.
void CloseMouse();
