// The hand for the SDL mouse tests: Xvfb, XTest and a few Xlib queries.
#include "x11_hand.h"

#include <X11/Xlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {
using namespace std::chrono_literals;

// XTest from its shared library: its headers are not needed for four calls.
using FakeRelativeMotion = int (*)(Display*, int, int, unsigned long);
using FakeMotion = int (*)(Display*, int, int, int, unsigned long);
using FakeButton = int (*)(Display*, unsigned int, int, unsigned long);
using FakeKey = int (*)(Display*, unsigned int, int, unsigned long);
FakeRelativeMotion fakeRelativeMotion = nullptr;
FakeMotion fakeMotion = nullptr;
FakeButton fakeButton = nullptr;
FakeKey fakeKey = nullptr;

Display* x = nullptr;
}  // namespace

std::string StartXvfb() {
    int fds[2];
    if (pipe(fds) != 0) return "";
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 0);
        dup2(quiet, 1);
        dup2(quiet, 2);
        std::string fd = std::to_string(fds[1]);
        execl(XVFB_PATH, XVFB_PATH, "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
              "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    auto end = std::chrono::steady_clock::now() + 10s;
    while (pid > 0 && std::chrono::steady_clock::now() < end) {
        pollfd ready{fds[0], POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    return number.empty() ? "" : ":" + number;
}

bool OpenHand(const std::string& display, std::string* failure) {
    void* xtest = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    if (xtest) {
        fakeRelativeMotion =
            reinterpret_cast<FakeRelativeMotion>(dlsym(xtest, "XTestFakeRelativeMotionEvent"));
        fakeMotion = reinterpret_cast<FakeMotion>(dlsym(xtest, "XTestFakeMotionEvent"));
        fakeButton = reinterpret_cast<FakeButton>(dlsym(xtest, "XTestFakeButtonEvent"));
        fakeKey = reinterpret_cast<FakeKey>(dlsym(xtest, "XTestFakeKeyEvent"));
    }
    if (!fakeRelativeMotion || !fakeMotion || !fakeButton || !fakeKey) {
        *failure = "libXtst.so.6 is missing: install libxtst6 (xdotool brings it)";
        return false;
    }
    x = XOpenDisplay(display.c_str());
    if (!x) *failure = "cannot connect to " + display;
    return x != nullptr;
}

void HandMove(int dx, int dy, int times) {
    for (int i = 0; i < times; ++i) fakeRelativeMotion(x, dx, dy, 0);
}

void HandMoveTo(int screenX, int screenY) { fakeMotion(x, 0, screenX, screenY, 0); }

void HandButton(unsigned button, bool down) { fakeButton(x, button, down, 0); }

void HandKey(const char* name, bool down) {
    fakeKey(x, XKeysymToKeycode(x, XStringToKeysym(name)), down, 0);
}

void HandSync() { XSync(x, False); }

void HandSettle() {
    HandSync();
    std::this_thread::sleep_for(100ms);
}

unsigned long HandFindWindow(const char* title) {
    ::Window root, parent, *children = nullptr;
    unsigned count = 0;
    ::Window found = 0;
    if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* name = nullptr;
        if (XFetchName(x, children[i], &name) && name) {
            if (std::strcmp(name, title) == 0) found = children[i];
            XFree(name);
        }
    }
    if (children) XFree(children);
    return found;
}

void HandFocus(unsigned long window) {
    XSetInputFocus(x, window ? window : PointerRoot, RevertToPointerRoot, CurrentTime);
    HandSettle();
}

std::pair<int, int> HandCursorIn(unsigned long window) {
    ::Window root, child, unused;
    int rootX, rootY, windowX, windowY, cornerX, cornerY;
    unsigned mask;
    XQueryPointer(x, DefaultRootWindow(x), &root, &child, &rootX, &rootY, &windowX, &windowY,
                  &mask);
    XTranslateCoordinates(x, window, DefaultRootWindow(x), 0, 0, &cornerX, &cornerY, &unused);
    return {rootX - cornerX, rootY - cornerY};
}
