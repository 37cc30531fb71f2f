// What the end-to-end tests share: processes started and ended by their own PID, a private
// Xvfb, finding and focusing a window by its title, and the session fixture that starts the
// program under its own Xvfb and ends both.
#pragma once

#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool, Status) would break its headers.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace e2e {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// ---- Processes, each ended by its own PID ----------------------------------------------------

inline pid_t Spawn(const std::vector<std::string>& argv,
                   const std::vector<std::string>& environment, const std::string& folder,
                   const std::string& output, int keepOpen = -1) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    // Should the test itself be killed, nothing it started outlives it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The faults the tests cause are meant; their core files would only fill the disk.
    struct rlimit noCore {
        0, 0
    };
    setrlimit(RLIMIT_CORE, &noCore);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    // "NAME=value" sets a variable, a bare "NAME" removes it.
    for (const std::string& entry : environment) {
        if (entry.find('=') == std::string::npos)
            unsetenv(entry.c_str());
        else
            putenv(const_cast<char*>(entry.c_str()));
    }
    int out =
        open(output.empty() ? "/dev/null" : output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(out, 1);
    dup2(out, 2);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepOpen) close(fd);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

// Waits up to the time for the process to end; its wait status, or -1 if it still runs.
inline int WaitFor(pid_t pid, std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0 || Clock::now() >= end) return -1;
        std::this_thread::sleep_for(10ms);
    }
}

// Ends the process: asks first, then insists; always reaps it.
inline void Stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (WaitFor(pid, 2000ms) == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    pid = 0;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Starts Xvfb on a display number it picks itself and tells on a pipe; returns ":N", or empty
// when it did not start. xvfb receives its PID.
inline std::string StartPrivateXvfb(const std::string& folder, pid_t& xvfb) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    xvfb = Spawn({XVFB_PATH, "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                  "1024x768x24", "-nolisten", "tcp", "-noreset"},
                 {}, folder, folder + "/xvfb.log", pipeFds[1]);
    close(pipeFds[1]);
    std::string number;
    auto end = Clock::now() + 10s;
    while (Clock::now() < end) {
        pollfd ready{pipeFds[0], POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0) continue;
        char c;
        if (read(pipeFds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(pipeFds[0]);
    return number.empty() ? std::string() : ":" + number;
}

// The message box may carry its title only as the UTF-8 _NET_WM_NAME, and not at the top.
// shownOnly passes over unmapped windows: SDL may leave behind one it replaced while setting up.
inline ::Window FindNamedWindow(Display* x, ::Window under, const char* title,
                                bool shownOnly = false) {
    Atom netName = XInternAtom(x, "_NET_WM_NAME", False);
    ::Window root, parent, *children = nullptr;
    unsigned count = 0;
    ::Window found = 0;
    if (!XQueryTree(x, under, &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(x, children[i], netName, 0, 64, False, AnyPropertyType, &type,
                               &format, &items, &after, &data) == Success &&
            data) {
            if (std::string(reinterpret_cast<char*>(data), items) == title) found = children[i];
            XFree(data);
        }
        char* name = nullptr;
        if (!found && XFetchName(x, children[i], &name) && name) {
            if (std::strcmp(name, title) == 0) found = children[i];
            XFree(name);
        }
        XWindowAttributes attributes;
        if (found && shownOnly &&
            !(XGetWindowAttributes(x, found, &attributes) && attributes.map_state == IsViewable))
            found = 0;
        if (!found) found = FindNamedWindow(x, children[i], title, shownOnly);
    }
    if (children) XFree(children);
    return found;
}

// There is no window manager: gives the shown window the keyboard, as a click would, until it
// has it; the window focused, or 0. SDL may replace the window it showed first after it has
// been focused, so callers ask again when a key gets no answer.
inline ::Window FocusShownWindow(Display* x, const char* title,
                                 std::chrono::milliseconds limit = 15s) {
    for (auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(50ms)) {
        ::Window window = FindNamedWindow(x, DefaultRootWindow(x), title, true);
        if (!window) continue;
        XSetInputFocus(x, window, RevertToParent, CurrentTime);
        XSync(x, False);
        ::Window focus = 0;
        int revert;
        XGetInputFocus(x, &focus, &revert);
        if (focus == window) return window;
    }
    return 0;
}

// ---- The session: a fresh folder, a private Xvfb, the program and its window ------------------

class ProgramSession : public ::testing::Test {
  protected:
    void SetUp() override {
        // Tests may read a connection of their own on a thread of their own.
        XInitThreads();
        ASSERT_EQ(access(XVFB_PATH, X_OK), 0)
            << "Xvfb is missing: install xvfb (scripts/test does)";
#ifdef XDOTOOL_PATH
        ASSERT_EQ(access(XDOTOOL_PATH, X_OK), 0)
            << "xdotool is missing: install xdotool (scripts/test does)";
#endif
        std::string pattern =
            std::string("/tmp/pfadlotse-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        display_ = StartPrivateXvfb(folder_, xvfb_);
        ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
        x_ = XOpenDisplay(display_.c_str());
        ASSERT_NE(x_, nullptr);
        // A request on a window that is just changing fails now and then; we ask again rather
        // than let Xlib end the test.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }

    void TearDown() override {
        Stop(program_);
        if (x_) XCloseDisplay(x_);
        x_ = nullptr;
        Stop(xvfb_);
        if (HasFailure()) {
            std::ifstream log(folder_ + "/program.log");
            std::cerr << "program output:\n" << log.rdbuf() << "\n";
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // The program in the folder with a home of its own, its window found and focused.
    void StartProgram() {
        mkdir((folder_ + "/home").c_str(), 0700);
        program_ = Spawn({PFADLOTSE_PATH},
                         {"DISPLAY=" + display_, "HOME=" + folder_ + "/home",
                          "XDG_DATA_HOME=" + folder_ + "/home/data"},
                         folder_, folder_ + "/program.log");
        ASSERT_TRUE(Focus()) << "no window \"Fenster\" appeared or took the focus";
    }

    // Focuses the program's shown window, again when a key got no answer: SDL may have
    // replaced the window it showed first.
    bool Focus() {
        window_ = FocusShownWindow(x_, "Fenster");
        return window_ != 0;
    }

    bool ProgramRunning() { return program_ > 0 && WaitFor(program_, 0ms) == -1; }

    std::string folder_;
    std::string display_;
    pid_t xvfb_ = 0;
    pid_t program_ = 0;
    Display* x_ = nullptr;
    ::Window window_ = 0;
};

}  // namespace e2e
