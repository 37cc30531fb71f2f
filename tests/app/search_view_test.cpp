// The search views in the window, driven by their keys pass by pass on the null platform.
#include "app/search_view.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "app/app.h"
#include "platform/display.h"
#include "platform/null/null_platform.h"
#include "platform/system.h"

namespace {
using Frame = std::vector<uint32_t>;

// Colours are 0x00BBGGRR, back buffer pixels 0x00RRGGBB.
uint32_t Pixel(int32_t colour) {
    return (colour & 0xFF) << 16 | (colour & 0xFF00) | (colour >> 16 & 0xFF);
}

class SearchViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NullPlatformReset();
        ASSERT_TRUE(StartPlatform(false));
        StartScene();
    }
    void TearDown() override {
        FreePathJob(scene.job);
        scene.job = nullptr;
        ResetSearchViews();
    }

    static Frame Pass(int count = 1) {
        for (int i = 0; i < count; ++i) EXPECT_TRUE(RunFramePass(0));
        return Frame(BackBufferPixels(), BackBufferPixels() + SURFACE_WIDTH * SURFACE_HEIGHT);
    }
    // Key down in one pass, up in the next, which acts on it; the frame after shows it.
    static Frame Tap(int32_t key) {
        NullSetKey(key, true);
        Pass();
        NullSetKey(key, false);
        Pass();
        return Pass();
    }
    // Waits for the job, and shows its time as 0 ms so that frames of two jobs compare.
    static void WaitForJob() {
        for (int i = 0; i < 2000 && PathJobStatus(scene.job) == 0; ++i) SleepMilliseconds(5);
        ASSERT_NE(PathJobStatus(scene.job), 0);
        scene.job->timeMs = 0;
    }
    // Walls across the straight line, so that the search has something to show.
    static void SetWalls(std::initializer_list<std::array<int32_t, 4>> list) {
        FreePathJob(scene.job);
        scene.job = nullptr;
        for (const auto& w : list) AddWall(w[0], w[1], w[2], w[3]);
        EditScene(SceneEdit{});
        WaitForJob();
    }
    static void SetSomeWalls() {
        SetWalls({{400, 200, 400, 480}, {250, 300, 300, 420}, {550, 250, 600, 360}});
    }
    // Many short walls in the window, from a fixed sequence.
    static void SetManyWalls(int32_t count) {
        FreePathJob(scene.job);
        scene.job = nullptr;
        uint32_t state = 12345;
        auto next = [&state](int32_t range) {
            state = state * 1664525u + 1013904223u;
            return static_cast<int32_t>((state >> 8) % static_cast<uint32_t>(range));
        };
        for (int32_t i = 0; i < count; ++i) {
            int32_t x = 20 + next(760), y = 90 + next(490);
            AddWall(x, y, x + next(21) - 10, y + next(21) - 10);
        }
        EditScene(SceneEdit{});
        WaitForJob();
    }
    static int Count(const Frame& frame, int32_t colour) {
        int count = 0;
        for (uint32_t pixel : frame) count += pixel == Pixel(colour);
        return count;
    }
};

struct JobAnswer {
    int32_t status, checks, nodes;
    std::vector<Vec2> points;
};
JobAnswer AnswerOf(PathJob* job) {
    JobAnswer answer{PathJobStatus(job), PathJobCollisionChecks(job), PathJobNodeCount(job), {}};
    answer.points.assign(job->points, job->points + job->pointCount);
    return answer;
}
}  // namespace

TEST_F(SearchViewTest, F2CyclesTheViewsAndF1ThePanelAndThePlainFrameComesBackUnchanged) {
    SetSomeWalls();
    Frame plain = Pass();
    EXPECT_FALSE(searchView.traceOfJob);  // nothing recorded for the plain view

    // The view's colours never appear in the plain frame.
    for (int32_t colour : {COLOUR_TESTED, COLOUR_NODE, COLOUR_OPTIMAL, COLOUR_STEP,
                           COLOUR_VIEW_TEXT, COLOUR_PANEL, COLOUR_PANEL_TEXT})
        EXPECT_EQ(Count(plain, colour), 0) << colour;

    Tap(KEY_F2);  // search: the scene is searched again with its steps recorded
    WaitForJob();
    Frame search = Pass();
    EXPECT_EQ(searchView.view, SEARCH_VIEW_SEARCH);
    EXPECT_FALSE(searchView.trace.empty());
    EXPECT_GT(Count(search, COLOUR_TESTED), 500);
    EXPECT_GT(Count(search, COLOUR_NODE), 20);
    EXPECT_EQ(Count(search, COLOUR_OPTIMAL), 0);

    Tap(KEY_F2);  // + the shortest path, computed beside the frame loop
    for (int i = 0; i < 1000 && searchView.shortestState != SHORTEST_READY; ++i) {
        SleepMilliseconds(5);
        Pass();
    }
    ASSERT_EQ(searchView.shortestState, SHORTEST_READY);
    EXPECT_EQ(searchView.shortest.status, SHORTEST_FOUND);
    Frame shortest = Pass();
    EXPECT_GT(Count(shortest, COLOUR_OPTIMAL), 100);
    EXPECT_GT(Count(shortest, COLOUR_VIEW_TEXT), 100);  // the lengths line

    Frame panel = Tap(KEY_F1);
    EXPECT_GT(Count(panel, COLOUR_PANEL), 50000);
    EXPECT_EQ(Tap(KEY_F1), shortest);

    EXPECT_EQ(Tap(KEY_F2), plain);
    EXPECT_EQ(searchView.shortestState, SHORTEST_IDLE);
    EXPECT_GT(Count(Tap(KEY_F1), COLOUR_PANEL), 50000);  // the panel over the plain view
    EXPECT_EQ(Tap(KEY_F1), plain);
}

TEST_F(SearchViewTest, TheSearchAnswersTheSameWithItsStepsRecordedOrNot) {
    SetSomeWalls();
    JobAnswer plain = AnswerOf(scene.job);
    Tap(KEY_F2);
    WaitForJob();
    ASSERT_TRUE(searchView.traceOfJob);
    JobAnswer recorded = AnswerOf(scene.job);
    EXPECT_EQ(recorded.status, plain.status);
    EXPECT_EQ(recorded.checks, plain.checks);
    EXPECT_EQ(recorded.nodes, plain.nodes);
    ASSERT_EQ(recorded.points.size(), plain.points.size());
    EXPECT_EQ(std::memcmp(recorded.points.data(), plain.points.data(),
                          plain.points.size() * sizeof(Vec2)),
              0);
    // Every check is one tested step.
    int32_t tested = 0;
    for (const SearchEvent& event : searchView.trace) tested += event.kind == SEARCH_EVENT_TESTED;
    EXPECT_EQ(tested, plain.checks);
}

TEST_F(SearchViewTest, TheReplayShowsOneStepAFrameAt60AndEndsWithTheSearchViewsMarks) {
    SetSomeWalls();
    Tap(KEY_F2);
    WaitForJob();
    Tap(KEY_F3);
    ASSERT_TRUE(searchView.replaying);
    int64_t first = searchView.replayStep;
    int64_t n = static_cast<int64_t>(searchView.trace.size());
    ASSERT_GT(n, 20);
    for (int k = 1; k <= 10; ++k) {
        Pass();
        EXPECT_EQ(searchView.replayStep, first + k);
    }
    Pass(static_cast<int>(n));
    EXPECT_EQ(searchView.replayStep, n);  // and stays at the end
    Frame end = Pass();

    // Ended, the search view shows every mark at once: the same, but for the last step's mark.
    Frame search = Tap(KEY_F3);
    EXPECT_FALSE(searchView.replaying);
    EXPECT_GT(Count(end, COLOUR_STEP), 0);
    for (int32_t colour : {COLOUR_TESTED, COLOUR_NODE}) {
        EXPECT_GT(Count(end, colour), 0);
        for (size_t i = 0; i < end.size(); ++i)
            if (end[i] != Pixel(COLOUR_STEP) &&
                (end[i] == Pixel(colour)) != (search[i] == Pixel(colour)))
                FAIL() << "pixel " << i << " differs in colour " << colour;
    }
}

TEST_F(SearchViewTest, SpacePausesTheRightArrowStepsAndPlusAndMinusChangeTheSpeed) {
    SetSomeWalls();
    Tap(KEY_F3);
    WaitForJob();
    Pass();
    Tap(KEY_SPACE);
    ASSERT_TRUE(searchView.paused);
    int64_t held = searchView.replayStep;
    Pass(5);
    EXPECT_EQ(searchView.replayStep, held);
    Tap(KEY_RIGHT);
    EXPECT_EQ(searchView.replayStep, held + 1);
    Tap(KEY_SPACE);
    ASSERT_FALSE(searchView.paused);

    // The speed after the key, and the steps that 6 frames then take.
    struct Case {
        int32_t key;
        int32_t speed;
        int64_t stepsIn6Frames;
    };
    for (Case c :
         {Case{KEY_NUMPAD_PLUS, 120, 12}, Case{KEY_MINUS, 60, 6}, Case{KEY_SLASH, 30, 3},
          Case{KEY_NUMPAD_MINUS, 20, 2}, Case{KEY_RIGHT_BRACKET, 30, 3}, Case{KEY_EQUALS, 60, 6}}) {
        Tap(c.key);
        EXPECT_EQ(REPLAY_SPEEDS[searchView.speedIndex], c.speed) << c.key;
        searchView.speedCredit = 0;
        searchView.replayStep = 0;
        Pass(6);
        EXPECT_EQ(searchView.replayStep, c.stepsIn6Frames) << c.key;
    }
}

TEST_F(SearchViewTest, AnEditEndsTheReplayAndStopsTheShortestPathWorker) {
    SetManyWalls(200000);  // the shortest path takes far longer than a few frames
    Tap(KEY_F2);
    Tap(KEY_F2);
    Tap(KEY_F3);
    WaitForJob();
    Pass();
    ASSERT_EQ(searchView.shortestState, SHORTEST_RUNNING);
    int32_t worker = searchView.shortestThread;
    ASSERT_TRUE(ThreadRunning(worker));

    EditScene(SceneEdit{.kind = EDIT_ADD_WALL, .x1 = 300, .y1 = 100, .x2 = 300, .y2 = 500});
    EXPECT_FALSE(ThreadRunning(worker));
    EXPECT_FALSE(searchView.replaying);
    EXPECT_EQ(searchView.shortestState, SHORTEST_IDLE);
    EXPECT_TRUE(searchView.traceOfJob);  // the view stays: the next search is recorded too
}

TEST_F(SearchViewTest, ALongTraceIsDrawnAtMostTheCapAFrameAndSaysSo) {
    SetManyWalls(6000);
    Tap(KEY_F2);
    WaitForJob();
    int64_t n = static_cast<int64_t>(searchView.trace.size());
    ASSERT_GT(n, 2 * SEARCH_VIEW_MARKS_PER_FRAME);
    Frame first = Pass();
    EXPECT_TRUE(searchView.capReached);
    EXPECT_LT(searchView.marksDrawn, n);
    EXPECT_GT(Count(first, COLOUR_VIEW_TEXT), 100);  // the cap's line
    for (int i = 0; i < 1000 && searchView.marksDrawn < n; ++i) Pass();
    EXPECT_EQ(searchView.marksDrawn, n);
    EXPECT_FALSE(searchView.capReached);
}

TEST_F(SearchViewTest, WithoutAThreadForTheShortestPathTheViewSaysSoAndGoesOn) {
    SetSomeWalls();
    Tap(KEY_F2);
    WaitForJob();
    FailThreadStart(1);
    Frame failed = Tap(KEY_F2);
    EXPECT_EQ(searchView.shortestState, SHORTEST_FAILED);
    EXPECT_GT(Count(failed, COLOUR_VIEW_TEXT), 100);
    EXPECT_GT(Count(failed, COLOUR_TESTED), 500);  // the rest of the view stands
}
