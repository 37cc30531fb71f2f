// A round trip on SDL's own X connection before the mouse is read. Kept apart from the other
// SDL files because Xlib's names clash with ours.
#include <SDL.h>
#include <SDL_syswm.h>
#include <dlfcn.h>

#include "platform/sdl/sdl_state.h"

// The X server sends a client's events and replies in one ordered stream, but stops writing
// while the client's socket is full; a burst of a few hundred mouse events fills it, and the
// rest would wait for a later frame. Waiting for a reply reads everything sent before it
// into Xlib's queue, where SDL's next pump finds it. Xlib is found at run time, as SDL loads it.
void SyncX11Display(SDL_Window* window) {
    static bool looked = false;
    static int (*sync)(Display*, int) = nullptr;
    if (!window) return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11 ||
        !info.info.x11.display)
        return;
    if (!looked) {
        looked = true;
        // SDL has loaded it already; this only finds it.
        if (void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL))
            sync = reinterpret_cast<int (*)(Display*, int)>(dlsym(xlib, "XSync"));
    }
    if (sync) sync(info.info.x11.display, False);
}
