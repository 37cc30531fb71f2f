// Asking the X server where the pointer is, on SDL's own connection, before the mouse is read.
// Kept apart from the other SDL files because Xlib's names clash with ours.
#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>

#include "platform/sdl/x11_support.h"

// The X server sends a client's events and replies in one ordered stream, but stops writing
// while the client's socket is full; a burst of a few hundred mouse events fills it, and the
// rest would wait for a later frame. Waiting for a reply reads everything sent before it into
// Xlib's queue, where SDL's next pump finds it. Xlib is found at run time, as SDL loads it.
bool QueryX11Pointer(SDL_Window* window, int* x, int* y) {
    if (!window) return false;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11 ||
        !info.info.x11.display)
        return false;
    // SDL has loaded it already; this only finds it.
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!xlib) return false;
    auto queryPointer = reinterpret_cast<decltype(&XQueryPointer)>(dlsym(xlib, "XQueryPointer"));
    ::Window root, child;
    int rootX, rootY;
    unsigned int buttons;
    bool answered = queryPointer && queryPointer(info.info.x11.display, info.info.x11.window, &root,
                                                 &child, &rootX, &rootY, x, y, &buttons) == True;
    dlclose(xlib);
    return answered;
}
