// Keyboard, window events, the mouse device and present pacing on the null platform.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "platform/display.h"
#include "platform/display_backend.h"
#include "platform/null/null_platform.h"

namespace {

class InputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NullPlatformReset();
        ASSERT_NE(OpenDisplay(), 0);
        ASSERT_NE(OpenMouse(), 0);
        ASSERT_NE(OpenKeyboard(), 0);
        window = OpenMainWindow(0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, "Fenster", MAIN_WINDOW_STYLE);
        ASSERT_NE(window, nullptr);
        ASSERT_NE(OpenWindowSurface(window, 0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, 0, 0, 0), 0);
    }
    Window* window = nullptr;
};

}  // namespace

// ---- Keyboard ------------------------------------------------------------------------------

TEST_F(InputTest, AHeldKeyIsReleasedExactlyOnceAfterItGoesUp) {
    NullSetKey(KEY_F5, true);
    for (int sample = 0; sample < 4; ++sample) {
        ASSERT_EQ(SampleKeyboard(), 1);
        EXPECT_NE(IsKeyDown(KEY_F5), 0);
        EXPECT_EQ(WasKeyReleased(KEY_F5), 0);
    }
    NullSetKey(KEY_F5, false);
    ASSERT_EQ(SampleKeyboard(), 1);
    EXPECT_EQ(IsKeyDown(KEY_F5), 0);
    EXPECT_EQ(WasKeyReleased(KEY_F5), 1);
    EXPECT_EQ(WasKeyReleased(KEY_F5), 0);
    ASSERT_EQ(SampleKeyboard(), 1);
    EXPECT_EQ(WasKeyReleased(KEY_F5), 0);
}

TEST_F(InputTest, AnyKeyAsksAboutAllKeys) {
    SampleKeyboard();
    EXPECT_EQ(IsKeyDown(KEY_ANY), 0);
    NullSetKey(KEY_DELETE, true);  // an extended key, code above 128
    SampleKeyboard();
    EXPECT_NE(IsKeyDown(KEY_ANY), 0);
    EXPECT_EQ(WasKeyReleased(KEY_ANY), 0);
    NullSetKey(KEY_DELETE, false);
    SampleKeyboard();
    EXPECT_EQ(WasKeyReleased(KEY_ANY), 1);
    EXPECT_EQ(WasKeyReleased(KEY_DELETE), 0);  // the note was cleared by the any-key call
    EXPECT_EQ(IsKeyDown(999), 0);
    EXPECT_EQ(WasKeyReleased(-7), 0);
}

TEST_F(InputTest, WithoutFocusKeysAnswerNothingAndTheNotesStay) {
    NullSetKey(KEY_ESCAPE, true);
    SampleKeyboard();
    EXPECT_EQ(WasKeyReleased(KEY_ESCAPE), 0);
    NullSetFocus(false);
    EXPECT_EQ(SampleKeyboard(), 0);
    EXPECT_EQ(IsKeyDown(KEY_ESCAPE), 0);
    NullSetKey(KEY_ESCAPE, false);
    EXPECT_EQ(WasKeyReleased(KEY_ESCAPE), 0);
    // A key pressed and let go while another window has the focus is never seen.
    NullSetKey(KEY_F12, true);
    SampleKeyboard();
    NullSetKey(KEY_F12, false);
    NullSetFocus(true);
    EXPECT_EQ(SampleKeyboard(), 1);
    EXPECT_EQ(WasKeyReleased(KEY_F12), 0);
    EXPECT_EQ(WasKeyReleased(KEY_ESCAPE), 1);  // seen down before the focus went
}

TEST_F(InputTest, AKeyboardNeverOpenedSamplesNothing) {
    NullPlatformReset();
    NullSetKey(KEY_ESCAPE, true);
    EXPECT_EQ(SampleKeyboard(), 0);
    EXPECT_EQ(IsKeyDown(KEY_ESCAPE), 0);
    EXPECT_EQ(OpenKeyboard(), 1);
    EXPECT_EQ(OpenKeyboard(), 1);
    EXPECT_EQ(SampleKeyboard(), 1);
    EXPECT_NE(IsKeyDown(KEY_ESCAPE), 0);
}

// ---- Window events -------------------------------------------------------------------------

TEST_F(InputTest, TheCloseBoxOnlyQueuesAnEventOneMessageAtATime) {
    EXPECT_EQ(PollWindowEvent(), WINDOW_EVENT_NONE);
    NullQueueWindowEvent(WINDOW_EVENT_CLOSE_REQUESTED);
    NullQueueWindowEvent(WINDOW_EVENT_CLOSE_REQUESTED);
    EXPECT_EQ(PollWindowEvent(), WINDOW_EVENT_CLOSE_REQUESTED);
    EXPECT_EQ(PollWindowEvent(), WINDOW_EVENT_CLOSE_REQUESTED);
    EXPECT_EQ(PollWindowEvent(), WINDOW_EVENT_NONE);
    // The surface is untouched and drawing goes on.
    BeginSurfaceDrawing();
    DrawLineBetween(1, 1, 1, 1, 0xFFFFFF);
    EXPECT_EQ(BackBufferPixels()[SURFACE_WIDTH + 1], 0xFFFFFFu);
}

TEST(WindowEventQueueTest, AnEventEqualToTheLastQueuedIsNotQueuedTwice) {
    ClearWindowEvents();
    QueueWindowEvent(WINDOW_EVENT_FOCUS_LOST);
    QueueWindowEvent(WINDOW_EVENT_FOCUS_LOST);
    QueueWindowEvent(WINDOW_EVENT_CLOSE_REQUESTED);
    QueueWindowEvent(WINDOW_EVENT_FOCUS_LOST);
    EXPECT_EQ(TakeWindowEvent(), WINDOW_EVENT_FOCUS_LOST);
    EXPECT_EQ(TakeWindowEvent(), WINDOW_EVENT_CLOSE_REQUESTED);
    EXPECT_EQ(TakeWindowEvent(), WINDOW_EVENT_FOCUS_LOST);
    EXPECT_EQ(TakeWindowEvent(), WINDOW_EVENT_NONE);
    // Once taken, the same event may come again.
    QueueWindowEvent(WINDOW_EVENT_FOCUS_LOST);
    EXPECT_EQ(TakeWindowEvent(), WINDOW_EVENT_FOCUS_LOST);
}

// ---- Opening -------------------------------------------------------------------------------

TEST(OpenTest, TheWindowAndSurfaceNeedWhatComesBeforeThem) {
    NullPlatformReset();
    EXPECT_EQ(OpenMainWindow(0, 0, 800, 600, "Fenster", MAIN_WINDOW_STYLE), nullptr);
    ASSERT_NE(OpenDisplay(), 0);
    Window* window = OpenMainWindow(0, 0, 800, 600, "Fenster", MAIN_WINDOW_STYLE);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(OpenWindowSurface(window, 0, 0, 640, 480, 0, 0, 0), 0);
    EXPECT_EQ(OpenWindowSurface(window, 0, 0, 800, 600, 1, 0, 0), 0);
    BeginSurfaceDrawing();
    EXPECT_EQ(LabelWidth("Start"), 0);  // no surface yet: no target
    EXPECT_EQ(OpenWindowSurface(window, 0, 0, 800, 600, 0, 0, 0), 1);
    EXPECT_EQ(PlatformOpenError(), nullptr);
    EXPECT_EQ(BackBufferPixels()[0], 0u);
}

// ---- Presenting ----------------------------------------------------------------------------

TEST_F(InputTest, PresentsAreAtLeastAFrameSlotApart) {
    PresentSurface();
    PresentSurface();
    NullAdvanceClock(FRAME_PERIOD_NANOSECONDS / 2);
    PresentSurface();
    NullAdvanceClock(FRAME_PERIOD_NANOSECONDS * 3);
    int64_t late = NullClockNanoseconds();
    PresentSurface();
    std::vector<int64_t> times = NullPresentTimes();
    ASSERT_EQ(times.size(), 4u);
    EXPECT_EQ(times[1] - times[0], FRAME_PERIOD_NANOSECONDS);
    EXPECT_EQ(times[2] - times[1], FRAME_PERIOD_NANOSECONDS);
    EXPECT_EQ(times[3], late);  // already past its slot: no wait
    EXPECT_GE(FRAME_PERIOD_NANOSECONDS * 61, 1000000000);
}

// ---- Message box ---------------------------------------------------------------------------

TEST_F(InputTest, MessageBoxesAreRecorded) {
    EXPECT_EQ(ShowMessageBox("Fehler", "Zeile 1\nZeile 2"), 1);
    ASSERT_EQ(NullMessageBoxes().size(), 1u);
    EXPECT_EQ(NullMessageBoxes()[0].caption, "Fehler");
    EXPECT_EQ(NullMessageBoxes()[0].text, "Zeile 1\nZeile 2");
}

// ---- Mouse device --------------------------------------------------------------------------

TEST_F(InputTest, ThePositionStartsAtTheCornerAndStaysOnTheSurface) {
    EXPECT_EQ(ReadMouseEvents(), 1);
    EXPECT_EQ(MousePositionX(), 0);
    EXPECT_EQ(MousePositionY(), 0);
    EXPECT_TRUE(NullMouseGrabbed());
    NullMoveMouse(-50, -50);
    ReadMouseEvents();
    EXPECT_EQ(MousePositionX(), 0);
    EXPECT_EQ(MouseMotionX(), -50);
    NullMoveMouse(300, 200);
    NullMoveMouse(5, -1);
    ReadMouseEvents();
    EXPECT_EQ(MouseMotionX(), 305);
    EXPECT_EQ(MouseMotionY(), 199);
    EXPECT_EQ(MousePositionX(), 305);
    EXPECT_EQ(MousePositionY(), 199);
    EXPECT_EQ(NullCursorX(), 305);
    NullMoveMouse(INT32_MAX, INT32_MAX);
    NullMoveMouse(INT32_MAX, INT32_MAX);
    ReadMouseEvents();
    EXPECT_EQ(MousePositionX(), 799);
    EXPECT_EQ(MousePositionY(), 599);
    ReadMouseEvents();
    EXPECT_EQ(MouseMotionX(), 0);  // nothing read: no motion
    EXPECT_EQ(MousePositionX(), 799);
}

TEST_F(InputTest, AnExaminationTakesEveryPendingEvent) {
    for (int i = 0; i < 300; ++i) NullMoveMouse(1, 2);
    NullSetMouseButton(1, true);
    ReadMouseEvents();
    EXPECT_EQ(MouseMotionX(), 300);
    EXPECT_EQ(MouseMotionY(), 600);
    EXPECT_EQ(MousePositionX(), 300);
    EXPECT_EQ(MousePositionY(), 599);
    EXPECT_NE(IsMouseButtonDown(1), 0);
    EXPECT_EQ(NullPendingMouseEvents(), 0);
    // Changes of different buttons share a frame.
    NullSetMouseButton(3, true);
    NullSetMouseButton(1, false);
    ReadMouseEvents();
    EXPECT_EQ(IsMouseButtonDown(1), 0);
    EXPECT_NE(IsMouseButtonDown(3), 0);
    EXPECT_EQ(IsMouseButtonDown(0), 0);
    EXPECT_EQ(IsMouseButtonDown(4), 0);
}

// What a read shows: the buttons down (L left, R right) and the position.
std::string Shown() {
    return std::string(IsMouseButtonDown(1) ? "L" : "") + (IsMouseButtonDown(2) ? "R" : "") + "@" +
           std::to_string(MousePositionX()) + "," + std::to_string(MousePositionY());
}
std::vector<std::string> ReadsUntilEmpty(std::vector<std::string> reads = {}) {
    do {
        ReadMouseEvents();
        reads.push_back(Shown());
    } while (NullPendingMouseEvents() > 0 && reads.size() < 100);
    return reads;
}

TEST_F(InputTest, EachReadShowsThePressesAndReleasesOfItsDelivery) {
    // The script: p and r press and let go of the left button, P and R the right one, m moves
    // by (10, 5), | is a read; then reads follow until everything is taken.
    const struct {
        const char* script;
        std::vector<std::string> reads;
    } cases[] = {
        // A still tap within one delivery is never seen down, wherever it stands and whatever
        // the other button does.
        {"pr", {"@0,0"}},
        {"mpr", {"@10,5"}},
        {"pPrR", {"@0,0"}},
        {"Pprm", {"R@0,0", "R@10,5"}},
        // Across reads it is seen down once, or as often as reads find it down.
        {"p|r", {"L@0,0", "@0,0"}},
        {"p||r", {"L@0,0", "L@0,0", "@0,0"}},
        // A drag within one delivery: pressed where it began, held, let go where it ended;
        // the motion after the release is the next frame's.
        {"pmmrm", {"L@0,0", "L@20,10", "@20,10", "@30,15"}},
        // Let go and pressed again in one delivery: the release at once, the new press in the
        // next frame where the motion ended; as a still tap, the new press is never seen.
        {"p|mrp", {"L@0,0", "@10,5", "L@10,5"}},
        {"p|rpr", {"L@0,0", "@0,0"}},
    };
    for (const auto& c : cases) {
        MouseReset();
        std::vector<std::string> reads;
        for (const char* step = c.script; *step; ++step) {
            switch (*step) {
                case 'p':
                case 'r':
                    NullSetMouseButton(1, *step == 'p');
                    break;
                case 'P':
                case 'R':
                    NullSetMouseButton(2, *step == 'P');
                    break;
                case 'm':
                    NullMoveMouse(10, 5);
                    break;
                default:
                    ReadMouseEvents();
                    reads.push_back(Shown());
            }
        }
        EXPECT_EQ(ReadsUntilEmpty(reads), c.reads) << c.script;
    }
}

TEST_F(InputTest, AFloodOfClicksLeavesABoundedBacklog) {
    for (int i = 0; i < 500; ++i) {
        NullSetMouseButton(1, true);
        NullMoveMouse(1, 0);
        NullSetMouseButton(1, false);
    }
    ReadMouseEvents();
    EXPECT_LE(NullPendingMouseEvents(), 16);
    std::vector<std::string> seen = ReadsUntilEmpty();
    EXPECT_LE(seen.size(), 30u);
    EXPECT_EQ(seen.back(), "@500,0");
}

TEST_F(InputTest, LosingTheFocusGivesTheCursorBackAndKeepsPositionAndButtons) {
    NullMoveMouse(120, 80);
    NullSetMouseButton(2, true);
    ReadMouseEvents();
    NullSetFocus(false);
    NullMoveMouse(10, 10);
    EXPECT_EQ(ReadMouseEvents(), 0);
    EXPECT_FALSE(NullMouseGrabbed());
    EXPECT_EQ(NullCursorX(), 120);
    EXPECT_EQ(NullCursorY(), 80);
    EXPECT_EQ(MouseMotionX(), 0);
    EXPECT_EQ(MousePositionX(), 120);
    EXPECT_NE(IsMouseButtonDown(2), 0);
    // Motion over the window while it had no focus is not ours to read later.
    NullSetFocus(true);
    EXPECT_EQ(ReadMouseEvents(), 1);
    EXPECT_TRUE(NullMouseGrabbed());
    EXPECT_EQ(MousePositionX(), 120);
}

TEST_F(InputTest, ReleasingTheGrabHoldsUntilResumed) {
    NullMoveMouse(40, 30);
    ReadMouseEvents();
    ReleaseMouseGrab();
    EXPECT_FALSE(NullMouseGrabbed());
    EXPECT_EQ(NullCursorX(), 40);
    EXPECT_EQ(ReadMouseEvents(), 0);
    EXPECT_FALSE(NullMouseGrabbed());
    ResumeMouseGrab();
    EXPECT_EQ(ReadMouseEvents(), 1);
    EXPECT_TRUE(NullMouseGrabbed());
    CloseMouse();
    EXPECT_FALSE(NullMouseGrabbed());
    EXPECT_EQ(ReadMouseEvents(), 0);
}

TEST(MouseTest, AMouseNeverOpenedReadsNothing) {
    NullPlatformReset();
    NullMoveMouse(10, 10);
    NullSetMouseButton(1, true);
    EXPECT_EQ(ReadMouseEvents(), 0);
    EXPECT_EQ(MousePositionX(), 0);
    EXPECT_EQ(IsMouseButtonDown(1), 0);
}
