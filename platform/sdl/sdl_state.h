// The SDL platform's state, all in one record: the SDL handles and what the display, the
// keyboard and the mouse keep between calls. SDL stays inside platform/sdl.
#pragma once

#include <SDL.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/sdl/x11_support.h"

struct Window {
    SDL_Window* handle;
};

struct SdlMouse {
    bool open;
    bool grabbed;        // cursor hidden and held in the window
    bool grabSuspended;  // ReleaseMouseGrab: stay free until ResumeMouseGrab
    bool relative;       // motion read as SDL's relative motion, not from positions
    // Where the platform cursor stands on the surface, as the last event read or the last
    // move put it.
    int32_t cursorX;
    int32_t cursorY;
};

// Read and written on the main thread only; the fault handler reads displayConnection.
struct SdlState {
    bool videoStarted;
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
    SDL_Rect surfaceRect;  // the surface in the window's client area
    Window mainWindow;
    // The main window's X connection, for the fault handler; -1 when there is none.
    std::atomic<int> displayConnection{-1};

    // Presents are paced from the last one.
    bool presented;
    int64_t lastPresent;
    // The frame the window holds, so that a present of the very same frame can be left out:
    // an idle program would otherwise send 2 MB to the X server sixty times a second.
    // windowCurrent is false whenever the window's contents are not known to be shownFrame.
    std::vector<uint32_t> shownFrame;
    bool windowCurrent;

    int messageBoxShownNotice = -1;
    pid_t messageBoxCaller;  // the process that showed the first box, 0 before

    bool keyboardOpen;
    SdlMouse mouse;
};
extern SdlState sdl;

// Starts SDL's video and events once; false (with the open error set) when there is no display.
bool StartSdlVideo();
// True while our window has the keyboard focus.
bool SdlWindowFocused();
// First and last SDL event types of the mouse device's events.
constexpr Uint32 SDL_MOUSE_EVENTS_FIRST = SDL_MOUSEMOTION;
constexpr Uint32 SDL_MOUSE_EVENTS_LAST = SDL_MOUSEWHEEL;
