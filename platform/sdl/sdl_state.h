// The SDL handles and flags the SDL platform's files share. SDL stays inside platform/sdl.
#pragma once

#include <SDL.h>

#include <sys/types.h>

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
// Starts a process that waits (up to 8 s) for a new top-level window titled so (UTF-8) to be
// mapped, writes 'S' to shownFd (when not -1) and gives it the keyboard focus; for SDL's
// message box, which does not ask for it. Returns once the process knows which windows were
// there before; its process ID, or -1. It dies with the caller.
pid_t StartMessageBoxFocuser(const std::string& title, int shownFd);
// The socket of the window's X connection, or -1 when it has none.
int X11ConnectionOfWindow(SDL_Window* window);
// On X11: the pointer's place relative to the window, asked of the server on SDL's connection,
// so that every event sent before the answer is read and the next SDL_PumpEvents sees them
// all. False elsewhere, or when the server does not answer.
bool QueryX11Pointer(SDL_Window* window, int* x, int* y);
