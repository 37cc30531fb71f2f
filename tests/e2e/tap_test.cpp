// Still mouse taps on the real program under a private Xvfb, pressed and let go with XTest and
// timed here: a tap shorter than a frame must do nothing, one held over a few frames must add
// its zero-length wall (left) or move "Ziel" to the mouse (right), every time. What each tap
// did is read from the scene file F5 writes after it.
#include "tests/e2e/harness.h"
// After harness.h: it includes gtest before Xlib, whose macros would break gtest's headers.
#include <X11/extensions/Xdamage.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "tests/platform_sdl/x11_hand.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using e2e::ReadFile;

// When the program presented its frames: every present damages the window.
class PresentClock {
  public:
    bool Start(const std::string& display, ::Window window) {
        x_ = XOpenDisplay(display.c_str());
        int error;
        if (!x_ || !XDamageQueryExtension(x_, &eventBase_, &error)) return false;
        XDamageCreate(x_, window, XDamageReportRawRectangles);
        XSync(x_, False);
        thread_ = std::thread([this] { Run(); });
        return true;
    }
    void Finish() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        if (x_) XCloseDisplay(x_);
        x_ = nullptr;
    }
    ~PresentClock() { Finish(); }
    int PresentsBetween(Clock::time_point from, Clock::time_point to) {
        std::lock_guard<std::mutex> hold(lock_);
        int count = 0;
        for (Clock::time_point t : presents_) count += t > from && t < to;
        return count;
    }

  private:
    void Run() {
        while (running_) {
            while (XPending(x_)) {
                XEvent event;
                XNextEvent(x_, &event);
                if (event.type != eventBase_ + XDamageNotify) continue;
                // One present may be several drawing requests; presents are 1/61 s apart.
                Clock::time_point now = Clock::now();
                std::lock_guard<std::mutex> hold(lock_);
                if (presents_.empty() || now - presents_.back() > 8ms) presents_.push_back(now);
            }
            pollfd ready{ConnectionNumber(x_), POLLIN, 0};
            poll(&ready, 1, 5);
        }
    }
    Display* x_ = nullptr;
    int eventBase_ = 0;
    std::thread thread_;
    std::atomic<bool> running_{true};
    std::mutex lock_;
    std::vector<Clock::time_point> presents_;
};

struct Scene {
    size_t walls = 0;
    float goalX = 0, goalY = 0;
};

class Taps : public e2e::ProgramSession {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ProgramSession::SetUp());
        std::string failure;
        ASSERT_TRUE(OpenHand(display_, &failure)) << failure;
    }

    void TearDown() override {
        presents_.Finish();
        ProgramSession::TearDown();
    }

    void StartProgram() {
        ASSERT_NO_FATAL_FAILURE(ProgramSession::StartProgram());
        // Far up and left: the program's mouse stops at (0, 0).
        HandMove(-2000, -2000);
        HandSettle();
    }

    // Moves and lets the program read the motion, so that the tap after it is still.
    void MoveTo(int x, int y) {
        if (x == mouseX_ && y == mouseY_) return;
        HandMove(x - mouseX_, y - mouseY_);
        HandSync();
        std::this_thread::sleep_for(40ms);
        mouseX_ = x;
        mouseY_ = y;
    }

    // F5, then the file it wrote (the save replaces the file: a new inode). Pressed again
    // when nothing comes: the first key may arrive before the program reads keys, or at a
    // window SDL has since replaced.
    Scene Save() {
        const std::string path = folder_ + "/PathFindLog.txt";
        struct stat before {
        }, now{};
        bool had = stat(path.c_str(), &before) == 0;
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (attempt > 0 && !Focus()) break;
            HandKey("F5", true);
            HandSync();
            std::this_thread::sleep_for(40ms);
            HandKey("F5", false);
            HandSync();
            for (auto end = Clock::now() + 1s; Clock::now() < end;
                 std::this_thread::sleep_for(5ms)) {
                if (stat(path.c_str(), &now) != 0 || (had && now.st_ino == before.st_ino)) continue;
                std::vector<uint8_t> bytes = ReadFile(path);
                if (bytes.size() < 16 || (bytes.size() - 16) % 32 != 0) break;
                Scene scene;
                scene.walls = (bytes.size() - 16) / 32;
                std::memcpy(&scene.goalX, bytes.data() + 8, 4);
                std::memcpy(&scene.goalY, bytes.data() + 12, 4);
                return scene;
            }
        }
        ADD_FAILURE() << "F5 wrote no scene file";
        return Scene{};
    }

    int mouseX_ = 0;
    int mouseY_ = 0;
    PresentClock presents_;
};

}  // namespace

TEST_F(Taps, AStillTapActsWhenHeldOverFramesAndNeverWhenShorterThanOne) {
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const int TAPS = 5, MAX_REPEATS = 40;
    struct Case {
        unsigned button;  // X's numbers: 1 left, 3 right
        int holdMs;
    };
    const Case cases[] = {{1, 2}, {1, 4}, {1, 8}, {1, 40}, {3, 2}, {3, 4}, {3, 8}, {3, 40}};
    // Once a save has worked, the window that has the focus is the one that stays.
    Scene scene = Save();
    ASSERT_TRUE(presents_.Start(display_, window_)) << "no X Damage extension";
    for (const Case& c : cases) {
        const bool acts = c.holdMs >= 40;
        int acted = 0, repeated = 0;
        for (int tap = 0; tap < TAPS && repeated < MAX_REPEATS;) {
            // Left taps away from the way; right taps 5 px off the goal, alternately on
            // either side, so that a tap that picks it moves it.
            if (c.button == 1) {
                MoveTo(400, 200);
            } else {
                int side = tap % 2 ? -5 : 5;
                MoveTo(static_cast<int>(scene.goalX) + side, static_cast<int>(scene.goalY) + side);
            }
            const Clock::time_point pressing = Clock::now();
            HandButton(c.button, true);
            HandSync();
            const Clock::time_point pressed = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(c.holdMs));
            const Clock::time_point letGo = Clock::now();
            HandButton(c.button, false);
            HandSync();
            const Clock::time_point released = Clock::now();
            std::this_thread::sleep_for(50ms);
            Scene after = Save();
            const bool did = c.button == 1
                                 ? after.walls != scene.walls
                                 : after.goalX != scene.goalX || after.goalY != scene.goalY;
            if (c.button == 3 && did) {
                EXPECT_EQ(after.goalX, mouseX_);
                EXPECT_EQ(after.goalY, mouseY_);
            }
            scene = after;
            // A busy machine can stretch a short tap over two reads (they are at least the
            // program's 10 ms pause apart), or stall the program through a long one; such a
            // tap tests nothing and is made again.
            const bool stretched = !acts && released - pressing >= 10ms;
            const bool stalled = acts && !did && presents_.PresentsBetween(pressed, letGo) < 3;
            if (stretched || stalled) {
                ++repeated;
                continue;
            }
            acted += did;
            ++tap;
        }
        std::printf("%s tap held %2d ms: %d of %d %s (%d made again on a busy machine)\n",
                    c.button == 1 ? "left " : "right", c.holdMs, acted, TAPS,
                    c.button == 1 ? "added a wall" : "moved Ziel", repeated);
        EXPECT_LT(repeated, MAX_REPEATS) << "the machine was too busy to time taps";
        EXPECT_EQ(acted, acts ? TAPS : 0) << "button " << c.button << " held " << c.holdMs << " ms";
    }
}
