// The parts of the SDL platform that talk to Xlib themselves: giving SDL's message box the
// keyboard focus, and the display connection's socket. Kept apart from the other SDL files
// because Xlib's names clash with ours. Xlib is loaded at run time, as SDL does.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "platform/sdl/x11_support.h"

namespace {

struct Xlib {
    decltype(&XOpenDisplay) openDisplay;
    decltype(&XQueryTree) queryTree;
    decltype(&XGetWMName) windowName;
    decltype(&XFree) free;
    decltype(&XGetWindowAttributes) attributes;
    decltype(&XSetInputFocus) setFocus;
    decltype(&XSync) sync;
    decltype(&XSetErrorHandler) setErrorHandler;
    decltype(&XSetIOErrorHandler) setIoErrorHandler;
};

bool LoadXlib(Xlib& x) {
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!library) return false;
    auto load = [library](auto& function, const char* name) {
        function =
            reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
        return function != nullptr;
    };
    return load(x.openDisplay, "XOpenDisplay") && load(x.queryTree, "XQueryTree") &&
           load(x.windowName, "XGetWMName") && load(x.free, "XFree") &&
           load(x.attributes, "XGetWindowAttributes") && load(x.setFocus, "XSetInputFocus") &&
           load(x.sync, "XSync") && load(x.setErrorHandler, "XSetErrorHandler") &&
           load(x.setIoErrorHandler, "XSetIOErrorHandler");
}

// Windows come and go while we look at them; a request about one that has just gone fails,
// which is no reason to end.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }
int EndOnLostServer(Display*) { _exit(1); }

bool HasTitle(const Xlib& x, Display* display, ::Window window, const std::string& title) {
    // SDL stores the title as UTF-8 text, which XFetchName does not return.
    XTextProperty name{};
    if (!x.windowName(display, window, &name) || !name.value) return false;
    bool match = title == std::string(reinterpret_cast<const char*>(name.value), name.nitems);
    x.free(name.value);
    return match;
}

// The top-level windows with the title, newest first (the server lists them oldest first). With
// a window manager the client window sits one level down, inside its frame.
std::vector<::Window> TitledWindows(const Xlib& x, Display* display, const std::string& title) {
    std::vector<::Window> found;
    ::Window rootReturn, parent;
    ::Window* children = nullptr;
    unsigned int count = 0;
    if (!x.queryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count))
        return found;
    for (unsigned int i = count; i-- > 0;) {
        if (HasTitle(x, display, children[i], title)) {
            found.push_back(children[i]);
            continue;
        }
        ::Window* inner = nullptr;
        unsigned int innerCount = 0;
        if (x.queryTree(display, children[i], &rootReturn, &parent, &inner, &innerCount)) {
            for (unsigned int j = 0; j < innerCount; ++j)
                if (HasTitle(x, display, inner[j], title)) found.push_back(inner[j]);
        }
        if (inner) x.free(inner);
    }
    if (children) x.free(children);
    return found;
}

void Pause(long milliseconds) {
    timespec pause{0, milliseconds * 1000000L};
    nanosleep(&pause, nullptr);
}

// The focus process: notes the windows with the title that are already there, says it is
// ready, then waits for a new one to be mapped, gives it the focus and writes 'S' to shownFd.
// Returns the exit status.
int RunFocuser(const std::string& title, int readyFd, int shownFd) {
    Xlib x{};
    Display* display = LoadXlib(x) ? x.openDisplay(nullptr) : nullptr;
    if (!display) {
        close(readyFd);
        return 1;
    }
    x.setErrorHandler(IgnoreXError);
    x.setIoErrorHandler(EndOnLostServer);
    std::vector<::Window> before = TitledWindows(x, display, title);
    if (write(readyFd, "r", 1) != 1) return 1;
    close(readyFd);

    constexpr int ATTEMPTS = 400;  // 8 s: the program gives up on the box sooner
    bool shown = false;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        Pause(20);
        for (::Window window : TitledWindows(x, display, title)) {
            if (std::find(before.begin(), before.end(), window) != before.end()) continue;
            XWindowAttributes state;
            if (!x.attributes(display, window, &state) || state.map_state != IsViewable) continue;
            if (!shown && shownFd >= 0 && write(shownFd, "S", 1) != 1) {
                // Nobody listens; the box is there all the same.
            }
            shown = true;
            x.setFocus(display, window, RevertToPointerRoot, CurrentTime);
            x.sync(display, False);
            return 0;
        }
    }
    return 1;
}

}  // namespace

pid_t StartMessageBoxFocuser(const std::string& title, int shownFd) {
    // A process rather than a thread: SDL forks the box's own process, and a fork while another
    // thread holds Xlib's lock would hand the box a lock that nobody ever releases.
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return -1;
    pid_t parent = getpid();
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        _exit(RunFocuser(title, ready[1], shownFd));
    }
    close(ready[1]);
    if (child > 0) {
        // The box must not be there before the focuser knows which windows are not it.
        pollfd waiting{ready[0], POLLIN, 0};
        char byte;
        if (poll(&waiting, 1, 2000) > 0 && read(ready[0], &byte, 1) != 1) {
            // It ended without being ready; the box still shows, only without the focus.
        }
    }
    close(ready[0]);
    return child;
}

int X11ConnectionOfWindow(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11 ||
        !info.info.x11.display)
        return -1;
    void* library = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!library) return -1;
    auto connection =
        reinterpret_cast<decltype(&XConnectionNumber)>(dlsym(library, "XConnectionNumber"));
    int fd = connection ? connection(info.info.x11.display) : -1;
    dlclose(library);
    return fd;
}
