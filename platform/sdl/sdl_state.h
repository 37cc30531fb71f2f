// The SDL handles and flags the SDL platform's files share. SDL stays inside platform/sdl.
#pragma once

#include <SDL.h>

#include <string>

struct SdlState {
    bool videoStarted;
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
    SDL_Rect surfaceRect;  // the surface in the window's client area
};
extern SdlState sdl;

// Starts SDL's video and events once; false (with the open error set) when there is no display.
bool StartSdlVideo();
// True while our window has the keyboard focus.
bool SdlWindowFocused();
// First and last SDL event types of the mouse device's events.
constexpr Uint32 SDL_MOUSE_EVENTS_FIRST = SDL_MOUSEMOTION;
constexpr Uint32 SDL_MOUSE_EVENTS_LAST = SDL_MOUSEWHEEL;
// Waits (up to 2 s) for the top-level window titled so (UTF-8) to appear, then gives it the
// keyboard focus; for SDL's message box, which does not ask for it.
void FocusMessageBoxWindow(std::string title);
// On X11: the pointer's place relative to the window, asked of the server on SDL's connection,
// so that every event sent before the answer is read and the next SDL_PumpEvents sees them
// all. False elsewhere, or when the server does not answer.
bool QueryX11Pointer(SDL_Window* window, int* x, int* y);
