// The SDL platform under the offscreen video driver: opening, drawing, presenting, events.
// The offscreen driver gives no window the keyboard focus, which the input tests rely on.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/display.h"

namespace {

Window* window = nullptr;

class SdlPlatformTest : public ::testing::Test {
  protected:
    // SDL's video is process-wide: opened once for all tests.
    static void SetUpTestSuite() {
        ASSERT_NE(OpenDisplay(), 0) << PlatformOpenError();
        ASSERT_NE(OpenMouse(), 0);
        ASSERT_NE(OpenKeyboard(), 0);
        window = OpenMainWindow(0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, "Fenster", MAIN_WINDOW_STYLE);
        ASSERT_NE(window, nullptr) << PlatformOpenError();
        ASSERT_NE(OpenWindowSurface(window, 0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, 0, 0, 0), 0)
            << PlatformOpenError();
    }
};

}  // namespace

TEST_F(SdlPlatformTest, EverythingOpensOnceAndWrongSurfacesAreRefused) {
    EXPECT_EQ(PlatformOpenError(), nullptr);
    EXPECT_EQ(OpenMainWindow(0, 0, 800, 600, "Fenster", MAIN_WINDOW_STYLE), nullptr);
    EXPECT_EQ(OpenWindowSurface(window, 0, 0, 1024, 768, 0, 0, 0), 0);
    EXPECT_EQ(OpenWindowSurface(nullptr, 0, 0, 800, 600, 0, 0, 0), 0);
    EXPECT_EQ(OpenKeyboard(), 1);
}

TEST_F(SdlPlatformTest, ThePresentedFrameStaysInTheBackBuffer) {
    ClearSurface(0x000000);
    BeginSurfaceDrawing();
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    DrawDisc(50, 340, 4, 0x00A0A0);
    int32_t right = DrawLabel(500, 10, "Pfadlotse", 0x4080D0);
    EndSurfaceDrawing();
    PresentSurface();
    const uint32_t* pixels = BackBufferPixels();
    EXPECT_EQ(pixels[340 * SURFACE_WIDTH + 50], 0xA0A000u);
    EXPECT_GT(right, 500);
    int textPixels = 0;
    for (int y = 10; y < 30; ++y) {
        for (int x = 500; x < right; ++x) textPixels += pixels[y * SURFACE_WIDTH + x] == 0xD08040u;
    }
    EXPECT_GT(textPixels, 20);
}

TEST_F(SdlPlatformTest, PresentsAreAtLeastOneSixtyFirstOfASecondApart) {
    using Clock = std::chrono::steady_clock;
    PresentSurface();
    // Measured from before a present to after the second one after it: three slots, each at
    // least 1/61 s after the one before. Only a lower bound, never an upper one.
    auto first = Clock::now();
    PresentSurface();
    PresentSurface();
    PresentSurface();
    auto third = Clock::now();
    EXPECT_GE(std::chrono::duration_cast<std::chrono::microseconds>(third - first).count(),
              2 * 1000000 / 61);
}

TEST_F(SdlPlatformTest, PollingNeverBlocksAndEmptiesTheQueue) {
    // Opening queued window events (shown, exposed); they are taken one per call.
    int calls = 0;
    while (PollWindowEvent() != WINDOW_EVENT_NONE && calls < 1000) ++calls;
    EXPECT_LT(calls, 1000);
    EXPECT_EQ(PollWindowEvent(), WINDOW_EVENT_NONE);
}

TEST_F(SdlPlatformTest, WithoutFocusNoKeysAndNoMouseAreRead) {
    EXPECT_EQ(SampleKeyboard(), 0);
    EXPECT_EQ(IsKeyDown(KEY_ANY), 0);
    EXPECT_EQ(ReadMouseEvents(), 0);
    EXPECT_EQ(MousePositionX(), 0);
    EXPECT_EQ(MousePositionY(), 0);
    ReleaseMouseGrab();
    ResumeMouseGrab();
}
