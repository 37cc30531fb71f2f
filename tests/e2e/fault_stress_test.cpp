// The fault report under stress, with the real program, the real helper and the real box on
// a private Xvfb, while two busy processes load the machine: faults of every kind on the
// frame loop's thread and on a path job's worker, programs killed while their box is open,
// quit requests at random moments of start-up, and a client that churns windows while the box
// is being focused. Each case prints its figures.
#include <gtest/gtest.h>
// After gtest: Xlib's macros (None, Bool, Status) would break its headers.
#include <X11/Xlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>

#include "tests/e2e/harness.h"

namespace {
using namespace e2e;
namespace fs = std::filesystem;

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A scene whose search keeps a worker busy for seconds: a staircase of long walls, each step
// one more corner to go round.
std::vector<uint8_t> HeavyScene() {
    constexpr int STAIRS = 30000;
    std::vector<float> floats = {0, 1, 10.0f * STAIRS + 10, -50000};
    for (int k = 1; k <= STAIRS; ++k) {
        float x = 10.0f * k, y = 3.0f * k, dy = -100000.0f - y;
        floats.insert(floats.end(), {x, y, 0, dy, x, y + 1, x, -100001});
    }
    std::vector<uint8_t> bytes(floats.size() * 4);
    std::memcpy(bytes.data(), floats.data(), bytes.size());
    return bytes;
}

bool IsZombie(const fs::path& process) {
    std::string stat = Text(ReadFile((process / "stat").string()));
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

// The live processes whose environment carries the tag: a program and what it started.
std::vector<pid_t> Tagged(const std::string& tag) {
    std::vector<pid_t> found;
    std::string wanted = "PFAD_E2E_TAG=" + tag;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        pid_t pid = std::atoi(entry.path().filename().c_str());
        if (pid <= 0 || IsZombie(entry.path())) continue;
        std::string environment = Text(ReadFile((entry.path() / "environ").string()));
        for (size_t at = 0; at < environment.size();) {
            size_t end = environment.find('\0', at);
            if (end == std::string::npos) end = environment.size();
            if (environment.compare(at, end - at, wanted) == 0) found.push_back(pid);
            at = end + 1;
        }
    }
    return found;
}

// A path job's worker thread of the process, or 0.
pid_t WorkerThread(pid_t pid) {
    std::error_code error;
    fs::path tasks = fs::path("/proc") / std::to_string(pid) / "task";
    for (const auto& entry : fs::directory_iterator(tasks, error)) {
        if (Text(ReadFile((entry.path() / "comm").string())) == "pfad-thread\n")
            return std::atoi(entry.path().filename().c_str());
    }
    return 0;
}

pid_t SpinForever() {
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (;;) asm volatile("");
    }
    return pid;
}

const char* SignalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGILL:
            return "SIGILL";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        default:
            return "?";
    }
}

// One display with its own Xvfb and connection; programs on different lanes never see each
// other's boxes, so lanes run side by side.
class Lane {
  public:
    Lane(const std::string& folder, int number)
        : folder_(folder + "/lane" + std::to_string(number)) {
        fs::create_directories(folder_ + "/home");
        // F6 finds this scene in the program's folder.
        std::vector<uint8_t> scene = HeavyScene();
        std::ofstream(folder_ + "/PathFindLog.txt", std::ios::binary)
            .write(reinterpret_cast<const char*>(scene.data()), static_cast<long>(scene.size()));
        display_ = StartPrivateXvfb(folder_, xvfb_);
        if (!display_.empty()) x_ = XOpenDisplay(display_.c_str());
    }
    ~Lane() {
        for (pid_t& program : programs_) Stop(program);
        if (x_) XCloseDisplay(x_);
        Stop(xvfb_);
    }
    Lane(const Lane&) = delete;
    Lane& operator=(const Lane&) = delete;

    bool Ready() const { return x_ != nullptr; }
    const std::string& Display() const { return display_; }

    pid_t StartProgram(const std::string& tag) {
        pid_t pid = Spawn({PFADLOTSE_PATH},
                          {"DISPLAY=" + display_, "HOME=" + folder_ + "/home",
                           "XDG_DATA_HOME=" + folder_ + "/home/data", "PFAD_E2E_TAG=" + tag},
                          folder_, Log(tag));
        programs_.push_back(pid);
        return pid;
    }
    std::string Log(const std::string& tag) const { return folder_ + "/" + tag + ".log"; }
    void Forget(pid_t pid) { std::erase(programs_, pid); }

    bool Viewable(::Window window) {
        XWindowAttributes attributes;
        return window && XGetWindowAttributes(x_, window, &attributes) &&
               attributes.map_state == IsViewable;
    }
    ::Window WaitForWindow(const char* title, std::chrono::milliseconds limit) {
        auto end = Clock::now() + limit;
        for (;;) {
            ::Window window = FindNamedWindow(x_, DefaultRootWindow(x_), title);
            if (Viewable(window)) return window;
            if (Clock::now() >= end) return 0;
            std::this_thread::sleep_for(20ms);
        }
    }
    ::Window Focused() {
        ::Window focus = 0;
        int revert;
        XGetInputFocus(x_, &focus, &revert);
        return focus;
    }
    bool Focus(::Window window) {
        for (auto end = Clock::now() + 5s; Clock::now() < end;) {
            XSetInputFocus(x_, window, RevertToParent, CurrentTime);
            XSync(x_, False);
            if (Focused() == window) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
    bool Xdotool(std::vector<std::string> args) {
        args.insert(args.begin(), XDOTOOL_PATH);
        pid_t pid = Spawn(args, {"DISPLAY=" + display_}, folder_, folder_ + "/xdotool.log");
        int status = WaitFor(pid, 10s);
        if (status == -1) Stop(pid);
        return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    // Another client holds the pointer: ours cannot take it.
    bool PointerHeldByOther() {
        int grabbed = XGrabPointer(x_, DefaultRootWindow(x_), False, ButtonPressMask, GrabModeAsync,
                                   GrabModeAsync, 0, 0, CurrentTime);
        if (grabbed == GrabSuccess) {
            XUngrabPointer(x_, CurrentTime);
            XSync(x_, False);
        }
        return grabbed == AlreadyGrabbed;
    }
    // Nobody holds the pointer: a client (the box) can have it.
    bool PointerFree() {
        for (auto end = Clock::now() + 3s; Clock::now() < end;) {
            int grabbed = XGrabPointer(x_, DefaultRootWindow(x_), False, ButtonPressMask,
                                       GrabModeAsync, GrabModeAsync, 0, 0, CurrentTime);
            if (grabbed == GrabSuccess) {
                XUngrabPointer(x_, CurrentTime);
                XSync(x_, False);
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // Starts a program and sends it the fault on the thread asked for; its PID, 0 on failure.
    pid_t StartAndFault(const std::string& tag, int signal, bool onWorker) {
        pid_t program = StartProgram(tag);
        ::Window window = WaitForWindow("Fenster", 20s);
        EXPECT_NE(window, 0u) << tag << ": no window \"Fenster\"";
        if (!window) return 0;
        // With the focus the program holds the mouse; the box must get it all the same. The
        // window may still be settling, so the focus is asked for until the grab is there.
        bool held = false;
        for (auto end = Clock::now() + 10s; !held && Clock::now() < end;) {
            XSetInputFocus(x_, window, RevertToParent, CurrentTime);
            XSync(x_, False);
            for (int look = 0; look < 10 && !(held = PointerHeldByOther()); ++look)
                std::this_thread::sleep_for(20ms);
        }
        EXPECT_TRUE(held) << tag << ": the program never took the mouse";
        pid_t thread = program;
        if (onWorker) {
            // F6 loads the heavy scene, and its search runs on a worker.
            thread = 0;
            for (auto end = Clock::now() + 20s; !thread && Clock::now() < end;) {
                Xdotool({"keydown", "F6"});
                std::this_thread::sleep_for(60ms);
                Xdotool({"keyup", "F6"});
                for (int look = 0; look < 50 && !thread; ++look) {
                    std::this_thread::sleep_for(10ms);
                    thread = WorkerThread(program);
                }
            }
            EXPECT_NE(thread, 0) << tag << ": no worker ran after F6";
            if (!thread) return 0;
        }
        EXPECT_EQ(syscall(SYS_tgkill, program, thread, signal), 0) << tag;
        return program;
    }

    // Waits for the box, checks that the mouse is free for it and that it took the keyboard by
    // itself, closes it with Return or by clicking its button, and returns the program's wait
    // status, or -1.
    int CloseBox(pid_t program, const std::string& tag, bool byMouse, bool& shown) {
        ::Window box = WaitForWindow("Fehler", 15s);
        shown = box != 0;
        EXPECT_TRUE(shown) << tag << ": no box";
        if (!shown) return WaitFor(program, 1s);
        EXPECT_TRUE(PointerFree()) << tag << ": the frozen program still holds the mouse";
        ::Window focus = Focused();
        for (auto end = Clock::now() + 5s; focus != box && Clock::now() < end; focus = Focused())
            std::this_thread::sleep_for(20ms);
        EXPECT_EQ(focus, box) << tag << ": the box did not take the keyboard";
        int status = -1;
        if (byMouse) {
            // The OK button sits centred at the bottom of the box.
            XWindowAttributes at;
            ::Window child;
            int x = 0, y = 0;
            if (XGetWindowAttributes(x_, box, &at) &&
                XTranslateCoordinates(x_, box, DefaultRootWindow(x_), 0, 0, &x, &y, &child)) {
                for (int up : {25, 15, 35, 25}) {
                    Xdotool({"mousemove", std::to_string(x + at.width / 2),
                             std::to_string(y + at.height - up), "click", "1"});
                    status = WaitFor(program, 600ms);
                    if (status != -1) break;
                }
            }
            EXPECT_NE(status, -1) << tag << ": a click on OK did not close the box";
            return status;
        }
        for (auto end = Clock::now() + 10s; status == -1 && Clock::now() < end;) {
            Xdotool({"key", "Return"});
            status = WaitFor(program, 400ms);
        }
        EXPECT_NE(status, -1) << tag << ": Return did not close the box";
        return status;
    }

    // One fault, start to end; true when the box showed and closing it ended the program with
    // the fault's own signal, with the report on stderr exactly once and nothing left behind.
    bool FaultRound(const std::string& tag, int signal, bool onWorker, bool byMouse = false) {
        pid_t program = StartAndFault(tag, signal, onWorker);
        if (!program) return false;
        bool shown = false;
        int status = CloseBox(program, tag, byMouse, shown);
        if (status == -1) return false;
        Forget(program);
        bool bySignal = WIFSIGNALED(status) && WTERMSIG(status) == signal;
        EXPECT_TRUE(bySignal) << tag << ": status " << status;
        std::string log = Text(ReadFile(Log(tag)));
        size_t first = log.find("Typ: ");
        EXPECT_NE(first, std::string::npos) << tag << ": no report on stderr";
        EXPECT_EQ(log.find("Typ: ", first + 1), std::string::npos) << tag << " twice:\n" << log;
        EXPECT_TRUE(Tagged(tag).empty()) << tag << ": processes left behind";
        return shown && bySignal;
    }

  private:
    std::string folder_, display_;
    pid_t xvfb_ = 0;
    std::vector<pid_t> programs_;
    ::Display* x_ = nullptr;
};

class FaultStress : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {XVFB_PATH, XDOTOOL_PATH}) {
            ASSERT_EQ(access(tool, X_OK), 0)
                << tool << " is missing: install xvfb and xdotool (scripts/test does)";
        }
        char pattern[] = "/tmp/pfadlotse-stress-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        XSetErrorHandler([](::Display*, XErrorEvent*) { return 0; });
        for (int i = 0; i < 2; ++i) {
            lanes_[i] = std::make_unique<Lane>(folder_, i);
            ASSERT_TRUE(lanes_[i]->Ready()) << "Xvfb did not start";
        }
        for (pid_t& hog : hogs_) hog = SpinForever();
    }

    void TearDown() override {
        for (pid_t& hog : hogs_) {
            if (hog > 0) kill(hog, SIGKILL), waitpid(hog, nullptr, 0);
        }
        for (auto& lane : lanes_) lane.reset();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string folder_;
    pid_t hogs_[2] = {0, 0};
    std::unique_ptr<Lane> lanes_[2];
};

const int SIGNALS[] = {SIGSEGV, SIGILL, SIGBUS, SIGFPE};

TEST_F(FaultStress, EveryFaultShowsTheBoxAndClosingItEndsWithTheFaultsSignal) {
    constexpr int ROUNDS = 20;
    std::atomic<int> good{0};
    auto runLane = [&](int lane) {
        for (int round = lane; round < ROUNDS; round += 2) {
            int signal = SIGNALS[(round / 2) % 4];
            bool onWorker = (round / 8) % 2 == 1 || round % 3 == 0;
            bool byMouse = round % 4 == 3;
            std::string tag = "fault" + std::to_string(round) + "-" + SignalName(signal) +
                              (onWorker ? "-worker" : "-frameloop") + (byMouse ? "-mouse" : "");
            good += lanes_[lane]->FaultRound(tag, signal, onWorker, byMouse);
        }
    };
    std::thread second(runLane, 1);
    runLane(0);
    second.join();
    std::printf(
        "faults: %d boxes shown and closed (Return or a click) with the fault's status / "
        "%d faults sent\n",
        good.load(), ROUNDS);
    EXPECT_EQ(good.load(), ROUNDS);
}

TEST_F(FaultStress, AProgramKilledWhileItsBoxIsOpenLeavesNothingBehind) {
    int orphans = 0, boxesLeft = 0;
    for (int round = 0; round < 3; ++round) {
        std::string tag = "killed" + std::to_string(round);
        Lane& lane = *lanes_[0];
        pid_t program = lane.StartAndFault(tag, SIGSEGV, round == 1);
        ASSERT_NE(program, 0);
        ASSERT_NE(lane.WaitForWindow("Fehler", 15s), 0u) << tag << ": no box";
        kill(program, SIGKILL);
        waitpid(program, nullptr, 0);
        lane.Forget(program);
        auto end = Clock::now() + 3s;
        while (Clock::now() < end && (!Tagged(tag).empty() || lane.WaitForWindow("Fehler", 0ms)))
            std::this_thread::sleep_for(50ms);
        orphans += static_cast<int>(Tagged(tag).size());
        boxesLeft += lane.WaitForWindow("Fehler", 0ms) != 0;
    }
    std::printf("killed with the box open: 3 programs, %d processes and %d boxes left after 3 s\n",
                orphans, boxesLeft);
    EXPECT_EQ(orphans, 0);
    EXPECT_EQ(boxesLeft, 0);
}

TEST_F(FaultStress, TerminateAtAnyMomentOfStartUpEndsCleanly) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delay(0, 500);
    int cleanExit = 0, defaultAction = 0, other = 0;
    constexpr int RUNS = 30, BATCH = 10;
    for (int first = 0; first < RUNS; first += BATCH) {
        struct Run {
            std::string tag;
            pid_t pid;
            Clock::time_point start;
            int delayMs;
            int lane;
        };
        std::vector<Run> runs;
        for (int i = first; i < first + BATCH; ++i) {
            std::string tag = "quit" + std::to_string(i);
            Clock::time_point start = Clock::now();
            runs.push_back({tag, lanes_[i % 2]->StartProgram(tag), start, delay(random), i % 2});
        }
        // Each gets its terminate at its own moment after its own start.
        std::vector<Run*> pending;
        for (Run& run : runs) pending.push_back(&run);
        std::sort(pending.begin(), pending.end(), [](Run* a, Run* b) {
            return a->start + std::chrono::milliseconds(a->delayMs) <
                   b->start + std::chrono::milliseconds(b->delayMs);
        });
        for (Run* run : pending) {
            std::this_thread::sleep_until(run->start + std::chrono::milliseconds(run->delayMs));
            kill(run->pid, SIGTERM);
        }
        for (Run& run : runs) {
            Lane& lane = *lanes_[run.lane];
            int status = WaitFor(run.pid, 15s);
            if (status != -1) lane.Forget(run.pid);
            bool exited = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
            bool byDefault = status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
            cleanExit += exited;
            defaultAction += byDefault;
            other += !exited && !byDefault;
            EXPECT_TRUE(exited || byDefault)
                << run.tag << " after " << run.delayMs
                << " ms: " << (status == -1 ? "still running" : "status " + std::to_string(status))
                << "\n"
                << Text(ReadFile(lane.Log(run.tag)));
            EXPECT_EQ(Text(ReadFile(lane.Log(run.tag))).find("Typ: "), std::string::npos)
                << run.tag;
        }
    }
    std::printf(
        "quit requests 0-500 ms after start: %d sent, %d status 0, %d by the default "
        "action before the handlers, %d otherwise (fault, crash or hang)\n",
        RUNS, cleanExit, defaultAction, other);
}

TEST_F(FaultStress, ABoxShowsAndClosesWhileAnotherClientChurnsWindows) {
    pid_t churn = fork();
    if (churn == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::Display* x = XOpenDisplay(lanes_[0]->Display().c_str());
        if (!x) _exit(1);
        for (unsigned n = 0;; ++n) {
            ::Window window =
                XCreateSimpleWindow(x, DefaultRootWindow(x), n % 500, n % 300, 40, 30, 0, 0, 0);
            XStoreName(x, window, "churn");
            XMapWindow(x, window);
            XFlush(x);
            XDestroyWindow(x, window);
            XSync(x, False);
        }
    }
    ASSERT_GT(churn, 0);
    int good = 0;
    for (int round = 0; round < 2; ++round) {
        std::string tag = "churn" + std::to_string(round);
        good += lanes_[0]->FaultRound(tag, SIGSEGV, round == 1);
    }
    kill(churn, SIGKILL);
    waitpid(churn, nullptr, 0);
    std::printf("window churn: %d / 2 boxes shown and closed by Return\n", good);
    EXPECT_EQ(good, 2);
}

}  // namespace
