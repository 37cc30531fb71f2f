// Giving SDL's message box the keyboard focus on X11. Kept apart from the other SDL files
// because Xlib's names clash with ours.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <ctime>
#include <string>

// SDL's X11 box does not ask for the keyboard focus; without a window manager (or with one
// that does not give it) Return would go elsewhere. A short-lived helper finds the box by its
// title once it is mapped and gives it the focus. Xlib is loaded at run time, as SDL does.
void FocusMessageBoxWindow(std::string title) {
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!xlib) return;
    auto openDisplay = reinterpret_cast<decltype(&XOpenDisplay)>(dlsym(xlib, "XOpenDisplay"));
    auto closeDisplay = reinterpret_cast<decltype(&XCloseDisplay)>(dlsym(xlib, "XCloseDisplay"));
    auto queryTree = reinterpret_cast<decltype(&XQueryTree)>(dlsym(xlib, "XQueryTree"));
    auto windowName = reinterpret_cast<decltype(&XGetWMName)>(dlsym(xlib, "XGetWMName"));
    auto xfree = reinterpret_cast<decltype(&XFree)>(dlsym(xlib, "XFree"));
    auto attributes =
        reinterpret_cast<decltype(&XGetWindowAttributes)>(dlsym(xlib, "XGetWindowAttributes"));
    auto setFocus = reinterpret_cast<decltype(&XSetInputFocus)>(dlsym(xlib, "XSetInputFocus"));
    auto sync = reinterpret_cast<decltype(&XSync)>(dlsym(xlib, "XSync"));
    Display* display = openDisplay && closeDisplay ? openDisplay(nullptr) : nullptr;
    if (!display || !queryTree || !windowName || !xfree || !attributes || !setFocus || !sync) {
        if (display) closeDisplay(display);
        dlclose(xlib);
        return;
    }
    ::Window root = DefaultRootWindow(display);
    bool focused = false;
    for (int attempt = 0; attempt < 100 && !focused; ++attempt) {
        timespec pause{0, 20000000};
        nanosleep(&pause, nullptr);
        ::Window rootReturn, parent;
        ::Window* children = nullptr;
        unsigned int count = 0;
        if (!queryTree(display, root, &rootReturn, &parent, &children, &count)) continue;
        // The newest top-level window with the title is the box.
        for (unsigned int i = count; i-- > 0 && !focused;) {
            // SDL stores the title as UTF-8 text, which XFetchName does not return.
            XTextProperty name{};
            if (!windowName(display, children[i], &name) || !name.value) continue;
            bool match =
                title == std::string(reinterpret_cast<const char*>(name.value), name.nitems);
            xfree(name.value);
            XWindowAttributes state;
            if (match && attributes(display, children[i], &state) && state.map_state == IsViewable) {
                setFocus(display, children[i], RevertToPointerRoot, CurrentTime);
                sync(display, False);
                focused = true;
            }
        }
        if (children) xfree(children);
    }
    closeDisplay(display);
    dlclose(xlib);
}

