// UpdateMouseState over scripted frame sequences on the null platform.
#include <gtest/gtest.h>

#include <vector>

#include "app/mouse.h"
#include "platform/display.h"
#include "platform/memory.h"
#include "platform/null/null_platform.h"

namespace {

class MouseStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NullPlatformReset();
        ASSERT_NE(ArrayCreate(&mouseState, MOUSE_SLOT_UPPER_INDEX), nullptr);
        ASSERT_NE(OpenMouse(), 0);
    }

    // One frame per entry: the button is seen down (true) or up; returns the slot's flags.
    std::vector<int> Frames(int32_t button, const std::vector<bool>& down) {
        std::vector<int> flags;
        bool wasDown = false;
        for (bool d : down) {
            if (d != wasDown) NullSetMouseButton(button, d);
            wasDown = d;
            UpdateMouseState(MOUSE_SOURCE_DEVICE);
            flags.push_back(mouseState[button].flags);
        }
        return flags;
    }
};

std::vector<bool> Held(int frames, int upAfter) {
    std::vector<bool> sequence(frames, true);
    sequence.resize(frames + upAfter, false);
    return sequence;
}

}  // namespace

TEST_F(MouseStateTest, TheFirstFrameShowsRecentMotionAndNoButtonFlags) {
    UpdateMouseState(MOUSE_SOURCE_DEVICE);
    EXPECT_EQ(mouseState[0].count, 1);
    EXPECT_EQ(mouseState[0].flags, MOTION_RECENT);
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(mouseState[k].flags, 0) << k;
}

TEST_F(MouseStateTest, FiveFramesDownThenUp) {
    const int pressed = MOUSE_PRESSED | MOUSE_DOWN, down = MOUSE_DOWN;
    const int released = MOUSE_DOWN | MOUSE_RELEASED;
    EXPECT_EQ(Frames(1, Held(5, 2)),
              (std::vector<int>{pressed, down, down, down, down, released, 0}));
    EXPECT_EQ(mouseState[1].click, 0);
    EXPECT_EQ(mouseState[1].clickTimer, 19);
}

TEST_F(MouseStateTest, APressSeenInOneFrameIsNeverReleased) {
    const int pressed = MOUSE_PRESSED | MOUSE_DOWN;
    EXPECT_EQ(Frames(2, Held(1, 3)), (std::vector<int>{pressed, pressed, 0, 0}));
    EXPECT_EQ(mouseState[2].clickTimer, 0);
}

TEST_F(MouseStateTest, AHeldButtonTurnsLongAndRepeats) {
    std::vector<int> flags = Frames(1, Held(30, 1));
    for (int frame = 1; frame <= 30; ++frame) {
        int f = flags[frame - 1];
        EXPECT_EQ((f & MOUSE_LONG) != 0, frame >= 21) << frame;
        bool repeat = frame == 21 || frame == 22 || frame == 23 || frame == 25 || frame == 26 ||
                      frame == 27 || frame == 29 || frame == 30;
        EXPECT_EQ((f & MOUSE_REPEAT) != 0, repeat) << frame;
        EXPECT_NE(f & MOUSE_DOWN, 0);
    }
    // The release frame keeps the count-based flags of the last frame down (30: repeat).
    EXPECT_EQ(flags[30], MOUSE_DOWN | MOUSE_LONG | MOUSE_REPEAT | MOUSE_RELEASED);
}

TEST_F(MouseStateTest, ASecondQuickClickIsADoubleClickAndSoIsAThird) {
    std::vector<bool> clicks;
    for (int i = 0; i < 3; ++i) {
        clicks.insert(clicks.end(), {true, true, false, false});
    }
    std::vector<int> flags = Frames(1, clicks);
    EXPECT_EQ(flags[2], MOUSE_DOWN | MOUSE_RELEASED);
    EXPECT_EQ(flags[6], MOUSE_DOWN | MOUSE_RELEASED | MOUSE_DOUBLE);
    EXPECT_EQ(flags[10], MOUSE_DOWN | MOUSE_RELEASED | MOUSE_DOUBLE);
    EXPECT_EQ(mouseState[1].click, 0);  // the frame after a release clears it
}

TEST_F(MouseStateTest, ASlowSecondClickIsASingleClick) {
    // Released in frame 3, again 20 frames later: the timer has run out.
    std::vector<bool> clicks = Held(2, 18);
    std::vector<bool> second = Held(2, 1);
    clicks.insert(clicks.end(), second.begin(), second.end());
    std::vector<int> flags = Frames(1, clicks);
    EXPECT_EQ(flags[2], MOUSE_DOWN | MOUSE_RELEASED);
    EXPECT_EQ(flags[22], MOUSE_DOWN | MOUSE_RELEASED);
}

TEST_F(MouseStateTest, PressingAgainRightAfterAReleaseShowsOnlyThePress) {
    std::vector<int> flags = Frames(1, {true, true, false, true, true, false});
    EXPECT_EQ(flags[2], MOUSE_DOWN | MOUSE_RELEASED);
    EXPECT_EQ(flags[3], MOUSE_PRESSED | MOUSE_DOWN);
    EXPECT_EQ(flags[5], MOUSE_DOWN | MOUSE_RELEASED | MOUSE_DOUBLE);
}

TEST_F(MouseStateTest, ButtonsAreTrackedIndependently) {
    NullSetMouseButton(1, true);
    NullSetMouseButton(3, true);
    UpdateMouseState(MOUSE_SOURCE_DEVICE);
    EXPECT_EQ(mouseState[1].flags, MOUSE_PRESSED | MOUSE_DOWN);
    EXPECT_EQ(mouseState[2].flags, 0);
    EXPECT_EQ(mouseState[3].flags, MOUSE_PRESSED | MOUSE_DOWN);
}

TEST_F(MouseStateTest, MotionFlagsCountTheFramesSinceTheLastMotion) {
    std::vector<int> flags;
    for (int frame = 1; frame <= 62; ++frame) {
        if (frame == 1) NullMoveMouse(3, 0);
        UpdateMouseState(MOUSE_SOURCE_DEVICE);
        flags.push_back(mouseState[0].flags);
    }
    EXPECT_EQ(flags[0], MOTION_RECENT);   // count 0 in the frame of the motion
    EXPECT_EQ(flags[20], MOTION_RECENT);  // count 20
    EXPECT_EQ(flags[21], MOTION_IDLE);
    EXPECT_EQ(flags[60], MOTION_IDLE);
    EXPECT_EQ(flags[61], MOTION_IDLE | MOTION_LONG_IDLE);
    NullMoveMouse(0, -1);
    UpdateMouseState(MOUSE_SOURCE_DEVICE);
    EXPECT_EQ(mouseState[0].count, 0);
    EXPECT_EQ(mouseState[0].flags, MOTION_RECENT);
    EXPECT_EQ(mouseState[0].click, 0);
    EXPECT_EQ(mouseState[0].clickTimer, 0);
}

TEST_F(MouseStateTest, SlotFourIsNeverTouchedAndOtherSourcesReadNothing) {
    Frames(1, Held(25, 3));
    const MouseSlot& unused = mouseState[4];
    EXPECT_EQ(unused.count, 0);
    EXPECT_EQ(unused.click, 0);
    EXPECT_EQ(unused.clickTimer, 0);
    EXPECT_EQ(unused.flags, 0);
    NullSetMouseButton(1, true);
    EXPECT_EQ(UpdateMouseState(1), 0);
    EXPECT_EQ(mouseState[1].flags, 0);
    EXPECT_EQ(NullPendingMouseEvents(), 1);
}

TEST_F(MouseStateTest, ButtonsKeepTheirStateWhileTheFocusIsAway) {
    NullSetMouseButton(2, true);
    UpdateMouseState(MOUSE_SOURCE_DEVICE);
    NullSetFocus(false);
    NullSetMouseButton(2, false);
    UpdateMouseState(MOUSE_SOURCE_DEVICE);
    EXPECT_EQ(mouseState[2].flags, MOUSE_DOWN);
    EXPECT_EQ(mouseState[2].count, 2);
}
