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
// On X11, waits for the server to hand over every event it holds for us, so that the next
// SDL_PumpEvents sees them all; nothing elsewhere.
void SyncX11Display(SDL_Window* window);
