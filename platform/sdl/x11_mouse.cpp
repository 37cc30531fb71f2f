// Asking the X server where the pointer is, on SDL's own connection, before the mouse is read.
// Kept apart from the other SDL files because Xlib's names clash with ours.
#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>

#include "platform/sdl/sdl_state.h"

// The X server sends a client's events and replies in one ordered stream, but stops writing
// while the client's socket is full; a burst of a few hundred mouse events fills it, and the
// rest would wait for a later frame. Waiting for a reply reads everything sent before it into
// Xlib's queue, where SDL's next pump finds it. Xlib is found at run time, as SDL loads it.
bool QueryX11Pointer(SDL_Window* window, int* x, int* y) {
    using QueryPointer = Bool (*)(Display*, ::Window, ::Window*, ::Window*, int*, int*, int*,
                                  int*, unsigned int*);
    static bool looked = false;
    static QueryPointer queryPointer = nullptr;
    if (!window) return false;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11 ||
        !info.info.x11.display)
        return false;
    if (!looked) {
        looked = true;
        // SDL has loaded it already; this only finds it.
        if (void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL))
            queryPointer = reinterpret_cast<QueryPointer>(dlsym(xlib, "XQueryPointer"));
    }
    if (!queryPointer) return false;
    ::Window root, child;
    int rootX, rootY;
    unsigned int buttons;
    return queryPointer(info.info.x11.display, info.info.x11.window, &root, &child, &rootX,
                        &rootY, x, y, &buttons) == True;
}
