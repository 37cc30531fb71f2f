// The SDL platform's mouse on a real X server: a private Xvfb, the window opened in this
// process, and XTest as the hand. Each case injects a burst of device events between two
// reads, as a fast mouse delivers them within one frame.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/display.h"
#include "x11_hand.h"

namespace {
using namespace std::chrono_literals;

unsigned long programWindow = 0;
std::string setupFailure;

struct Seen {
    bool down;
    int32_t x;
    int32_t y;
    bool operator==(const Seen&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    return out << (seen.down ? "down" : "up") << " at (" << seen.x << ", " << seen.y << ")";
}

class SdlX11MouseTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (access(XVFB_PATH, X_OK) != 0) {
            setupFailure = "Xvfb is missing: install xvfb (scripts/test does)";
            return;
        }
        std::string display = StartXvfb();
        if (display.empty()) {
            setupFailure = "Xvfb did not start";
            return;
        }
        setenv("DISPLAY", display.c_str(), 1);
        unsetenv("SDL_VIDEODRIVER");
        if (!OpenHand(display, &setupFailure)) return;
        if (!OpenDisplay() || !OpenMouse()) {
            setupFailure = std::string("cannot open the display: ") +
                           (PlatformOpenError() ? PlatformOpenError() : "");
            return;
        }
        Window* window =
            OpenMainWindow(0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, "Fenster", MAIN_WINDOW_STYLE);
        if (!window || !OpenWindowSurface(window, 0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, 0, 0, 0)) {
            setupFailure = "cannot open the window";
            return;
        }
        for (int attempt = 0; attempt < 100 && !programWindow; ++attempt) {
            programWindow = HandFindWindow("Fenster");
            if (!programWindow) std::this_thread::sleep_for(20ms);
        }
        // There is no window manager: the window takes the focus as a click would give it.
        for (int attempt = 0; attempt < 100 && programWindow && ReadMouseEvents() == 0; ++attempt) {
            while (PollWindowEvent() != WINDOW_EVENT_NONE) {
            }
            HandFocus(programWindow);
        }
        if (!programWindow || ReadMouseEvents() == 0) setupFailure = "the window took no focus";
    }

    void SetUp() override {
        ASSERT_TRUE(setupFailure.empty()) << setupFailure;
        if (ReadMouseEvents() == 0) HandFocus(programWindow);
        // Far up and left: the position stops at (0, 0).
        HandMove(-2000, -2000);
        HandSettle();
        ReadMouseEvents();
        ASSERT_EQ(MousePositionX(), 0);
        ASSERT_EQ(MousePositionY(), 0);
    }

    // Reads until the position and the left button have been still for three reads.
    static std::vector<Seen> ReadsUntilStill() {
        std::vector<Seen> seen;
        int still = 0;
        while (still < 3 && seen.size() < 100) {
            ReadMouseEvents();
            Seen now{IsMouseButtonDown(1) != 0, MousePositionX(), MousePositionY()};
            if (!seen.empty() && seen.back() == now) {
                ++still;
            } else {
                still = 0;
                seen.push_back(now);
            }
            std::this_thread::sleep_for(10ms);
        }
        return seen;
    }
};

}  // namespace

TEST_F(SdlX11MouseTest, ABurstOfMotionsIsAllInTheFirstReadAfterIt) {
    for (int i = 0; i < 160; ++i) {
        HandMove(2, 0);
        HandMove(1, 0);
    }
    HandSettle();
    ReadMouseEvents();
    std::printf("320 motions of (+2, 0) and (+1, 0): x = %d after the first read\n",
                MousePositionX());
    EXPECT_EQ(MousePositionX(), 480);
    EXPECT_EQ(MouseMotionX(), 480);
    EXPECT_EQ(MousePositionY(), 0);
}

TEST_F(SdlX11MouseTest, EqualMotionsAreEachCountedUpToTheEdge) {
    HandMove(1, 0, 480);
    HandSettle();
    ReadMouseEvents();
    std::printf("480 motions of (+1, 0) from x = 0: x = %d\n", MousePositionX());
    EXPECT_EQ(MousePositionX(), 480);
    HandMove(1, 0, 480);
    HandMove(0, 1, 700);
    HandSettle();
    ReadMouseEvents();
    std::printf("then 480 more of (+1, 0) and 700 of (0, +1): (%d, %d)\n", MousePositionX(),
                MousePositionY());
    EXPECT_EQ(MousePositionX(), SURFACE_WIDTH - 1);
    EXPECT_EQ(MousePositionY(), SURFACE_HEIGHT - 1);
    HandMove(-1, -1, 99);
    HandSettle();
    ReadMouseEvents();
    EXPECT_EQ(MousePositionX(), SURFACE_WIDTH - 100);
    EXPECT_EQ(MousePositionY(), SURFACE_HEIGHT - 100);
}

TEST_F(SdlX11MouseTest, APressMoveReleaseBurstIsOneDragEndingWhereTheHandLetGo) {
    HandMove(100, 100);
    HandSettle();
    ReadMouseEvents();
    HandButton(1, true);
    HandMove(2, 1, 60);
    HandButton(1, false);
    HandSettle();
    std::vector<Seen> seen = ReadsUntilStill();
    EXPECT_EQ(seen, (std::vector<Seen>{{true, 100, 100}, {true, 220, 160}, {false, 220, 160}}));
}

TEST_F(SdlX11MouseTest, ThePlatformCursorStandsOnTheProgramsPositionAfterEachRead) {
    for (auto [dx, dy] : {std::pair{30, 40}, {1, 0}, {1, 0}, {500, -3}, {2000, 2000}, {-77, -1}}) {
        HandMove(dx, dy);
        HandSettle();
        ReadMouseEvents();
        EXPECT_EQ(HandCursorIn(programWindow), (std::pair{MousePositionX(), MousePositionY()}))
            << "after a motion of (" << dx << ", " << dy << ")";
    }
    // Given back while another window has the focus, taken again where the program left it;
    // that move is not read as motion.
    const std::pair<int, int> left{MousePositionX(), MousePositionY()};
    HandFocus(0);
    EXPECT_EQ(ReadMouseEvents(), 0);
    HandMoveTo(1000, 700);
    HandSettle();
    HandFocus(programWindow);
    EXPECT_EQ(ReadMouseEvents(), 1);
    EXPECT_EQ(MouseMotionX(), 0);
    EXPECT_EQ(MouseMotionY(), 0);
    EXPECT_EQ((std::pair{MousePositionX(), MousePositionY()}), left);
    EXPECT_EQ(HandCursorIn(programWindow), left);
    HandSettle();
    ReadMouseEvents();
    EXPECT_EQ(MouseMotionX(), 0);
    EXPECT_EQ(HandCursorIn(programWindow), left);
}
