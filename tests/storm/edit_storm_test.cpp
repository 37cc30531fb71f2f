// The edit storm: the real program under a private Xvfb, a 10,000-wall scene loaded with F6,
// then a few hundred wall drags and start/goal moves one after the other with F5, F6 and F12
// in between, each step given just the time for the program to see it in a frame of its own.
// The program must keep presenting frames (counted through the X Damage extension), never
// hang, end with Escape and status 0, and its last F5 file must be the scene the edits made,
// which the test keeps with the program's own scene code.
#include "tests/e2e/harness.h"
// After harness.h: it includes gtest before Xlib, whose macros would break gtest's headers.
#include <X11/extensions/Xdamage.h>

#include <atomic>
#include <cmath>
#include <random>

#include "app/scene_file.h"

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int32_t SCENE_WALLS = 10000;
constexpr int32_t EDITS = 240;
constexpr int32_t EDITS_PER_BATCH = 20;
// Long enough for a frame (its 10 ms pause, the 1/61 s present slot and drawing 10,000
// walls) to fall between two steps, so no press, move or release shares a frame.
constexpr const char* STEP_PAUSE = "0.06";

using e2e::ReadFile;
using e2e::Spawn;
using e2e::Stop;
using e2e::WaitFor;

// ---- Frames seen: every present damages the window ----------------------------------------

class FrameCounter {
    static constexpr auto SAME_FRAME = 8ms;

  public:
    bool Start(const std::string& display, ::Window window) {
        x_ = XOpenDisplay(display.c_str());
        int error;
        if (!x_ || !XDamageQueryExtension(x_, &eventBase_, &error)) return false;
        // One report per drawing request, none lost: the count does not depend on taking
        // each report away in time.
        damage_ = XDamageCreate(x_, window, XDamageReportRawRectangles);
        XSync(x_, False);
        thread_ = std::thread([this] { Run(); });
        return true;
    }
    // Stops counting; frames() and longestGapSeconds() then hold the figures.
    void Finish() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        if (x_) XCloseDisplay(x_);
        x_ = nullptr;
    }
    int64_t frames() const { return frames_; }
    double longestGapSeconds() const { return longestGap_; }
    ~FrameCounter() { Finish(); }

  private:
    void Run() {
        auto last = Clock::now();
        while (running_) {
            while (XPending(x_)) {
                XEvent event;
                XNextEvent(x_, &event);
                if (event.type != eventBase_ + XDamageNotify) continue;
                // One present may be several drawing requests; presents are at least 1/61 s
                // apart, so reports closer than SAME_FRAME belong to one frame.
                auto now = Clock::now();
                if (frames_ > 0 && now - last < SAME_FRAME) continue;
                ++frames_;
                longestGap_ =
                    std::max(longestGap_, std::chrono::duration<double>(now - last).count());
                last = now;
            }
            pollfd ready{ConnectionNumber(x_), POLLIN, 0};
            poll(&ready, 1, 20);
            double gap = std::chrono::duration<double>(Clock::now() - last).count();
            if (gap > longestGap_) longestGap_ = gap;
        }
    }

    Display* x_ = nullptr;
    Damage damage_ = 0;
    int eventBase_ = 0;
    std::thread thread_;
    std::atomic<bool> running_{true};
    std::atomic<int64_t> frames_{0};
    double longestGap_ = 0;
};

// ---- The scene the edits make, kept with the program's own code ---------------------------

struct Model {
    Vec2 start;
    Vec2 goal;
    std::vector<uint8_t> saved;  // the last F5 file
    std::vector<uint8_t> Bytes() const { return SceneFileBytes(start, goal, walls); }
};

class EditStorm : public e2e::ProgramSession {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(ProgramSession::SetUp());
        ListCreate(&walls, sizeof(Wall));
    }

    void TearDown() override {
        frames_.Finish();
        ProgramSession::TearDown();
        ListRelease(&walls);
    }

    // Writes the scene file and loads it with F6, then saves it back with F5 (the save replaces
    // the file: a new inode) to see that it was loaded. Pressed again, the window focused anew,
    // when nothing answers or another scene comes back: the first keys may go to a window SDL
    // has since replaced. Once they are answered, window_ is the window that stays.
    void LoadScene(const std::vector<uint8_t>& bytes) {
        const std::string path = folder_ + "/PathFindLog.txt";
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (attempt > 0) {
                ASSERT_TRUE(Focus()) << "the window did not take the focus again";
            }
            {
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<std::streamsize>(bytes.size()));
            }
            struct stat before {
            }, now{};
            ASSERT_EQ(stat(path.c_str(), &before), 0);
            std::vector<std::string> chain;
            Key(chain, "F6");
            Key(chain, "F5");
            ASSERT_NO_FATAL_FAILURE(Xdotool(chain));
            for (auto end = Clock::now() + 5s; Clock::now() < end;
                 std::this_thread::sleep_for(50ms)) {
                if (stat(path.c_str(), &now) != 0 || now.st_ino == before.st_ino) continue;
                if (ReadFile(path) == bytes) return;
                break;
            }
        }
        FAIL() << "F6 did not load the scene";
    }

    // Runs one xdotool with a chain of commands.
    void Xdotool(std::vector<std::string> chain) {
        chain.insert(chain.begin(), XDOTOOL_PATH);
        pid_t pid = Spawn(chain, {"DISPLAY=" + display_}, folder_, folder_ + "/xdotool.log");
        int status = WaitFor(pid, 120s);
        if (status == -1) Stop(pid);
        ASSERT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "xdotool failed";
    }

    // Steps appended to a chain; the harness keeps the program's mouse position.
    void MoveTo(std::vector<std::string>& chain, int x, int y) {
        chain.insert(chain.end(), {"mousemove_relative", "--", std::to_string(x - mouseX_),
                                   std::to_string(y - mouseY_), "sleep", STEP_PAUSE});
        mouseX_ = x;
        mouseY_ = y;
    }
    static void Button(std::vector<std::string>& chain, const char* action, int button) {
        chain.insert(chain.end(), {action, std::to_string(button), "sleep", STEP_PAUSE});
    }
    static void Key(std::vector<std::string>& chain, const char* key) {
        chain.insert(chain.end(),
                     {"keydown", key, "sleep", STEP_PAUSE, "keyup", key, "sleep", STEP_PAUSE});
    }

    int mouseX_ = 0;
    int mouseY_ = 0;
    FrameCounter frames_;
};

}  // namespace

TEST_F(EditStorm, TheProgramKeepsDrawingAndSavesExactlyTheSceneTheEditsMade) {
    // Short walls in the lower part, far from where start and goal move.
    std::mt19937 random(1209);
    Model model{{50, 150}, {750, 150}, {}};
    for (int32_t i = 0; i < SCENE_WALLS; ++i) {
        int32_t x = 20 + static_cast<int32_t>(random() % 760);
        int32_t y = 420 + static_cast<int32_t>(random() % 160);
        AddWall(x, y, x + static_cast<int32_t>(random() % 31) - 15,
                y + static_cast<int32_t>(random() % 11) - 5);
    }
    model.saved = model.Bytes();
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    ASSERT_NO_FATAL_FAILURE(LoadScene(model.saved));

    std::vector<std::string> chain;
    MoveTo(chain, -2000, -2000);  // the program's mouse stops at (0, 0), a known place
    mouseX_ = mouseY_ = 0;
    ASSERT_NO_FATAL_FAILURE(Xdotool(chain));
    ASSERT_TRUE(frames_.Start(display_, window_)) << "no X Damage extension";

    const auto stormBegan = Clock::now();
    const char* keys[] = {"F5", "F12", "F6"};
    int32_t drags = 0, moves = 0, keyPresses = 0;
    for (int32_t batch = 0; batch < EDITS / EDITS_PER_BATCH; ++batch) {
        chain.clear();
        for (int32_t i = 0; i < EDITS_PER_BATCH; ++i) {
            int32_t edit = batch * EDITS_PER_BATCH + i;
            if (edit % 10 < 7) {
                // A wall anywhere above the loaded ones, so some cross the way and the
                // running search is stopped by the next edit.
                int x1 = 60 + static_cast<int>(random() % 680),
                    y1 = 110 + static_cast<int>(random() % 280);
                int x2 = 60 + static_cast<int>(random() % 680),
                    y2 = 110 + static_cast<int>(random() % 280);
                MoveTo(chain, x1, y1);
                Button(chain, "mousedown", 1);
                MoveTo(chain, x2, y2);
                Button(chain, "mouseup", 1);
                AddWall(x1, y1, x2, y2);
                ++drags;
            } else if (edit % 10 < 9) {
                // Start or goal, picked on its marker and put somewhere in the upper band,
                // never within reach of the other one's pick.
                Vec2& point = edit % 2 ? model.start : model.goal;
                Vec2& other = edit % 2 ? model.goal : model.start;
                int x, y;
                do {
                    x = 30 + static_cast<int>(random() % 740);
                    y = 100 + static_cast<int>(random() % 90);
                } while (std::hypot(x - other.x, y - other.y) < 40 ||
                         std::hypot(x - point.x, y - point.y) < 1);
                if (std::hypot(point.x - other.x, point.y - other.y) < 40) continue;
                MoveTo(chain, static_cast<int>(point.x), static_cast<int>(point.y));
                Button(chain, "mousedown", 3);
                MoveTo(chain, x, y);
                Button(chain, "mouseup", 3);
                point = Vec2{static_cast<float>(x), static_cast<float>(y)};
                ++moves;
            } else {
                const char* key = keys[keyPresses++ % 3];
                Key(chain, key);
                if (std::strcmp(key, "F5") == 0) model.saved = model.Bytes();
                if (std::strcmp(key, "F6") == 0) {
                    ASSERT_TRUE(ParseScene(model.saved, model.start, model.goal, walls));
                }
            }
        }
        ASSERT_NO_FATAL_FAILURE(Xdotool(chain));
        ASSERT_TRUE(ProgramRunning()) << "the program ended during batch " << batch;
    }
    chain.clear();
    Key(chain, "F5");
    ASSERT_NO_FATAL_FAILURE(Xdotool(chain));
    const double stormSeconds = std::chrono::duration<double>(Clock::now() - stormBegan).count();
    model.saved = model.Bytes();

    // The save replaces the file whole; wait for the one with this content.
    std::vector<uint8_t> last;
    for (auto end = Clock::now() + 10s; Clock::now() < end; std::this_thread::sleep_for(50ms)) {
        last = ReadFile(folder_ + "/PathFindLog.txt");
        if (last == model.saved) break;
    }
    EXPECT_EQ(last.size(), model.saved.size());
    EXPECT_TRUE(last == model.saved) << "the last F5 file is not the scene the edits made";

    chain.clear();
    chain.insert(chain.end(), {"keydown", "Escape", "sleep", "0.3", "keyup", "Escape"});
    ASSERT_NO_FATAL_FAILURE(Xdotool(chain));
    int status = WaitFor(program_, 10s);
    ASSERT_NE(status, -1) << "Escape did not end the program";
    program_ = 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    frames_.Finish();
    const double perSecond = static_cast<double>(frames_.frames()) / stormSeconds;
    std::printf(
        "edit storm: %d drags, %d start/goal moves, %d file keys on %d walls in %.1f s; "
        "%lld frames seen (%.1f per second), longest gap %.3f s\n",
        drags, moves, keyPresses, SCENE_WALLS, stormSeconds,
        static_cast<long long>(frames_.frames()), perSecond, frames_.longestGapSeconds());
    // Every step waits for a frame; a program that stopped presenting would show long gaps.
    EXPECT_GT(perSecond, 5.0);
    EXPECT_LT(frames_.longestGapSeconds(), 2.0) << "the program stopped presenting frames";
}
