// What the SDL platform asks of Xlib itself, beside SDL. Apart from sdl_state.h because Xlib's
// names (Window among them) clash with ours in the files that use it.
#pragma once

#include <SDL.h>
#include <sys/types.h>

#include <string>

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
