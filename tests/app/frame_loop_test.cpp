// The frame loop driven pass by pass on the null platform, with scripted mouse and keys.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "app/app.h"
#include "app/scene_file.h"
#include "pathsearch/pathsearch_internal.h"
#include "platform/display.h"
#include "platform/null/null_platform.h"
#include "tests/address_limits.h"
#include "tests/app/temp_folder.h"

namespace {
// Back buffer pixels are 0x00RRGGBB.
constexpr uint32_t PIXEL_PATH = 0xFFFF00;
constexpr uint32_t PIXEL_WALL = 0x8080FF;
constexpr uint32_t PIXEL_FOUND = 0x40D040;
constexpr uint32_t PIXEL_COMPUTING = 0xD0D040;
constexpr uint32_t PIXEL_UNREACHABLE = 0xD04040;
constexpr uint32_t PIXEL_STATISTICS = 0x808080;
constexpr uint32_t PIXEL_START = 0xA0A000;
constexpr uint32_t PIXEL_GOAL = 0x00A000;
constexpr uint32_t PIXEL_RUBBER_BAND = 0x00FFFF;
constexpr uint32_t PIXEL_CURSOR = 0xFFFFFF;
constexpr int LEFT = 1;
constexpr int RIGHT = 2;

class FrameLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NullPlatformReset();
        ASSERT_TRUE(StartPlatform(false));
        StartScene();
    }
    void TearDown() override {
        FreePathJob(scene.job);
        scene.job = nullptr;
    }

    void Pass(int count = 1) {
        for (int i = 0; i < count; ++i) ASSERT_TRUE(RunFramePass());
    }
    // Moves the mouse there by relative motion, as the device reports it; seen next pass.
    void MoveTo(int32_t x, int32_t y) {
        NullMoveMouse(x - mouseX_, y - mouseY_);
        mouseX_ = x;
        mouseY_ = y;
    }
    void Press(int button) { NullSetMouseButton(button, true); }
    void Release(int button) { NullSetMouseButton(button, false); }
    // Presses and lets go of a key, each seen by a pass of its own.
    void Tap(int32_t key) {
        NullSetKey(key, true);
        Pass();
        NullSetKey(key, false);
        Pass();
    }
    // Passes until the current job has finished; its status, or 0 after 10 s.
    int32_t WaitForJob() {
        for (int i = 0; i < 1000; ++i) {
            if (int32_t status = PathJobStatus(scene.job)) return status;
            SleepMilliseconds(10);
        }
        return 0;
    }
    // Finishes the job and draws the frame that shows its result.
    void SettleAndDraw() {
        ASSERT_NE(WaitForJob(), 0);
        Pass();
    }
    static uint32_t Pixel(int x, int y) { return BackBufferPixels()[y * SURFACE_WIDTH + x]; }
    static int CountPixels(uint32_t pixel, int x0, int y0, int x1, int y1) {
        int count = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) count += Pixel(x, y) == pixel;
        return count;
    }
    static int32_t JobThread() { return scene.job ? scene.job->thread : 0; }

    int32_t mouseX_ = 0;
    int32_t mouseY_ = 0;
};

bool SameBits(const Vec2& a, const Vec2& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

// ---- What the frame shows ------------------------------------------------------------------

TEST_F(FrameLoopTest, TheFirstFinishedFrameShowsTheStraightPathAndItsStatistics) {
    SettleAndDraw();
    EXPECT_EQ(scene.jobStatus, 1);
    for (int x : {51, 100, 400, 745, 749}) EXPECT_EQ(Pixel(x, 340), PIXEL_PATH) << x;
    EXPECT_EQ(Pixel(400, 339), 0u);
    EXPECT_EQ(Pixel(400, 80), PIXEL_WALL);   // top border
    EXPECT_EQ(Pixel(10, 300), PIXEL_WALL);   // left border
    EXPECT_EQ(Pixel(790, 590), 0u);          // the end pixel of a wall is not drawn
    EXPECT_EQ(Pixel(47, 337), PIXEL_START);  // the disc, beside the path
    EXPECT_EQ(Pixel(747, 337), PIXEL_GOAL);
    EXPECT_GT(CountPixels(PIXEL_FOUND, 5, 5, 250, 20), 50);
    EXPECT_GT(CountPixels(PIXEL_STATISTICS, 10, 25, 300, 70), 100);
    EXPECT_EQ(CountPixels(PIXEL_COMPUTING, 0, 0, 800, 80), 0);
    EXPECT_EQ(Pixel(0, 0), PIXEL_CURSOR);  // a fresh mouse is at the top-left corner
    EXPECT_EQ(Pixel(6, 13), PIXEL_CURSOR);
    EXPECT_NE(Pixel(7, 15), PIXEL_CURSOR);  // the stroke's far end is not drawn
}

TEST_F(FrameLoopTest, TheStartLabelIsCentredBelowItsMarker) {
    SettleAndDraw();
    BeginSurfaceDrawing();
    double width = LabelWidth("Start");
    EndSurfaceDrawing();
    ASSERT_GT(width, 0);
    const int left = RoundHalfEven(50 - width / 2);
    int minX = 800, maxX = -1, minY = 600;
    for (int y = 345; y < 370; ++y)
        for (int x = 0; x < 120; ++x)
            if (Pixel(x, y) == PIXEL_START) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
            }
    ASSERT_LE(minX, maxX) << "no label drawn";
    EXPECT_GE(minX, left);
    EXPECT_LT(maxX, left + width);
    EXPECT_LE(minX, left + 2);  // starts at its corner, not somewhere to the right
    EXPECT_GE(minY, 345);
}

TEST_F(FrameLoopTest, ARunningJobShowsComputingAndAnUnreachableGoalShowsNoPath) {
    SettleAndDraw();
    // A job whose worker waits for the search lock is still computing.
    LockAcquire(SearchLock);
    MoveTo(400, 200);
    Pass();
    Press(RIGHT);
    Pass(3);
    Release(RIGHT);
    Pass(2);
    EXPECT_EQ(scene.jobStatus, 0);
    EXPECT_GT(CountPixels(PIXEL_COMPUTING, 5, 5, 250, 20), 50);
    EXPECT_EQ(CountPixels(PIXEL_FOUND, 5, 5, 250, 20), 0);
    EXPECT_EQ(CountPixels(PIXEL_STATISTICS, 10, 25, 300, 70), 0);
    LockRelease(SearchLock);

    // A box around the goal, then a right click that picks nothing: the job is still replaced.
    FreePathJob(scene.job);
    scene.job = nullptr;
    AddBox(730, 320, 40, 40);
    scene.job = CreatePathJob(scene.start, scene.goal);
    ASSERT_EQ(WaitForJob(), -1);
    const int32_t before = JobThread();
    Press(RIGHT);
    Pass(2);
    Release(RIGHT);
    Pass();
    EXPECT_NE(JobThread(), before);
    EXPECT_EQ(scene.selected, nullptr);
    SettleAndDraw();
    EXPECT_EQ(scene.jobStatus, -1);
    EXPECT_GT(CountPixels(PIXEL_UNREACHABLE, 5, 5, 250, 20), 50);
    EXPECT_EQ(CountPixels(PIXEL_PATH, 0, 0, 800, 600), 0);
    EXPECT_EQ(CountPixels(PIXEL_STATISTICS, 10, 25, 300, 70), 0);
}

TEST_F(FrameLoopTest, AJobOutOfMemoryShowsThatInsteadOfAPathOrUnreachable) {
    FreePathJob(scene.job);
    scene.job = nullptr;
    AddWall(400, 200, 400, 480);
    FailBlockAllocate(sizeof(SearchNode), 3);  // start, goal, then a corner's node
    scene.job = CreatePathJob(scene.start, scene.goal);
    SettleAndDraw();
    FailBlockAllocate(0, 0);
    EXPECT_EQ(scene.jobStatus, PATH_JOB_OUT_OF_MEMORY);
    // The red status text ends where "Zu wenig Speicher" ends, well short of "unreachable".
    int right = -1;
    for (int y = 5; y < 20; ++y)
        for (int x = 5; x < 250; ++x)
            if (Pixel(x, y) == PIXEL_UNREACHABLE) right = std::max(right, x);
    BeginSurfaceDrawing();
    const int shorter = 5 + LabelWidth("Zu wenig Speiche"),
              whole = 5 + LabelWidth("Zu wenig Speicher");
    EndSurfaceDrawing();
    EXPECT_GE(right, shorter);
    EXPECT_LT(right, whole);
    EXPECT_EQ(CountPixels(PIXEL_PATH, 0, 0, 800, 600), 0);
    EXPECT_EQ(CountPixels(PIXEL_STATISTICS, 10, 25, 300, 70), 0);
}

TEST_F(FrameLoopTest, AWallThatCannotBeStoredIsNotAddedAndTheEditSaysSo) {
#ifdef PFAD_HUGE_RESERVATIONS
    GTEST_SKIP() << "address-space limits do not work under this sanitizer";
#endif
    FreePathJob(scene.job);
    scene.job = nullptr;
    auto addWallsUntilMemoryRunsOut = [] {
        // Room for some megabytes of walls beyond what the process has mapped now.
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1) std::exit(2);
        rlimit limit{static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (64 << 20),
                     RLIM_INFINITY};
        if (setrlimit(RLIMIT_AS, &limit) != 0) std::exit(3);
        int32_t before;
        do {
            before = ListCount(walls);
            EditScene(SceneEdit{
                .kind = EDIT_ADD_WALL, .x1 = 1, .y1 = 2, .x2 = 3, .y2 = 4, .withoutJob = 1});
        } while (ListCount(walls) > before);
        std::exit(AddWall(1, 2, 3, 4) == -1 && ListCount(walls) == before ? 0 : 1);
    };
    EXPECT_EXIT(addWallsUntilMemoryRunsOut(), testing::ExitedWithCode(0),
                "the wall from \\(1, 2\\) to \\(3, 4\\) was not added: out of memory");
}

TEST_F(FrameLoopTest, DrawWallRoundsEachCoordinateAndLeavesTheEndPixelOut) {
    auto drawn = [](const Wall& wall) {
        ClearSurface(0);
        BeginSurfaceDrawing();
        SetDrawingColour(COLOUR_WALL);
        DrawWall(&wall, -1);
        EndSurfaceDrawing();
        return CountPixels(PIXEL_WALL, 0, 0, 800, 600);
    };
    EXPECT_EQ(drawn(Wall{{0.5f, 0}, {0.5f, 0}, {}, {}}), 0);  // both round to 0
    EXPECT_EQ(drawn(Wall{{20, 20}, {0, 0}, {}, {}}), 0);
    EXPECT_EQ(drawn(Wall{{10.5f, 20}, {3.5f, 0}, {}, {}}), 4);  // x 10, width 4
    EXPECT_EQ(Pixel(13, 20), PIXEL_WALL);
    EXPECT_EQ(Pixel(14, 20), 0u);
    // Values no mouse makes draw only what lies on the surface, and come back.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(drawn(Wall{{nan, 300}, {100, 0}, {}, {}}), 0);
    drawn(Wall{{-3e9f, 300}, {inf, 1e30f}, {}, {}});
    drawn(Wall{{-2e9f, 300}, {4e9f, 0}, {}, {}});
    EXPECT_EQ(DrawWall(nullptr, COLOUR_WALL), 0);
}

// ---- The right button ----------------------------------------------------------------------

TEST_F(FrameLoopTest, ARightPressPicksOnlyStrictlyWithinTheRadiusAndTheStartFirst) {
    SettleAndDraw();
    MoveTo(60, 340);  // exactly 10.0 from the start
    Pass();
    Press(RIGHT);
    Pass(2);
    EXPECT_EQ(scene.selected, nullptr);
    Release(RIGHT);
    Pass();

    scene.goal = Vec2{56, 340};
    MoveTo(55, 346);  // start 7.8 away, goal 6.1 away: the start is tested first
    Pass();
    Press(RIGHT);
    Pass();
    EXPECT_EQ(scene.selected, &scene.start);
    EXPECT_TRUE(SameBits(scene.start, Vec2{50, 340}));  // not moved in the press frame
    Pass();
    EXPECT_TRUE(SameBits(scene.start, Vec2{55, 346}));
    Release(RIGHT);
    Pass();
    EXPECT_EQ(scene.selected, &scene.start);  // kept until the next press
}

TEST_F(FrameLoopTest, AMovedPointFollowsTheMouseAndTheReleaseStartsTheNextJobThere) {
    SettleAndDraw();
    MoveTo(748, 343);
    Pass();
    Press(RIGHT);
    Pass(2);
    ASSERT_EQ(scene.selected, &scene.goal);
    MoveTo(600, 200);
    Pass();
    EXPECT_TRUE(SameBits(scene.goal, Vec2{600, 200}));
    const int32_t before = JobThread();
    // The release frame's own motion does not move the point.
    MoveTo(500, 250);
    Release(RIGHT);
    Pass();
    EXPECT_TRUE(SameBits(scene.goal, Vec2{600, 200}));
    ASSERT_NE(JobThread(), before);
    EXPECT_TRUE(SameBits(scene.job->goal, Vec2{600, 200}));
    SettleAndDraw();
    EXPECT_EQ(Pixel(400, 340), 0u);
    EXPECT_GT(CountPixels(PIXEL_PATH, 0, 200, 800, 341), 300);
}

// ---- The left button -----------------------------------------------------------------------

TEST_F(FrameLoopTest, ADragAddsOneWallAndTheRubberBandOutlivesTheReleaseByOneFrame) {
    SettleAndDraw();
    MoveTo(200, 150);
    Pass();
    Press(LEFT);
    Pass();
    EXPECT_EQ(scene.dragging, 1);
    MoveTo(300, 150);
    Pass(2);
    EXPECT_EQ(Pixel(250, 150), PIXEL_RUBBER_BAND);
    EXPECT_EQ(Pixel(200, 150), PIXEL_RUBBER_BAND);
    const int32_t before = JobThread();
    Release(LEFT);
    Pass();
    EXPECT_EQ(ListCount(walls), 5);
    EXPECT_NE(JobThread(), before);
    Pass();  // draws the band once more, then sees no flag
    EXPECT_EQ(Pixel(250, 150), PIXEL_RUBBER_BAND);
    EXPECT_EQ(scene.dragging, 0);
    Pass();
    EXPECT_EQ(Pixel(250, 150), PIXEL_WALL);
    EXPECT_EQ(Pixel(299, 150), PIXEL_WALL);
    EXPECT_EQ(ListCount(walls), 5);
}

TEST_F(FrameLoopTest, AOneFramePressAddsNoWallAndAStillClickAddsAZeroLengthOne) {
    SettleAndDraw();
    MoveTo(300, 300);
    Pass();
    const int32_t before = JobThread();
    Press(LEFT);
    Pass();
    Release(LEFT);
    Pass(2);
    EXPECT_EQ(ListCount(walls), 4);
    EXPECT_EQ(JobThread(), before);
    EXPECT_EQ(scene.dragging, 0);

    Press(LEFT);
    Pass(2);
    Release(LEFT);
    Pass();
    ASSERT_EQ(ListCount(walls), 5);
    EXPECT_NE(JobThread(), before);
    ListRewind(walls);
    const Wall* last = nullptr;
    while (void* data = ListNext(walls)) last = static_cast<const Wall*>(data);
    EXPECT_TRUE(SameBits(last->origin, Vec2{300, 300}));
    EXPECT_TRUE(SameBits(last->delta, Vec2{0, 0}));
}

TEST_F(FrameLoopTest, ADragWithinOneFrameAddsItsWall) {
    SettleAndDraw();
    MoveTo(200, 150);
    Pass();
    Press(LEFT);
    MoveTo(320, 210);
    Release(LEFT);
    Pass(4);
    ASSERT_EQ(ListCount(walls), 5);
    EXPECT_EQ(scene.dragging, 0);
    ListRewind(walls);
    const Wall* last = nullptr;
    while (void* data = ListNext(walls)) last = static_cast<const Wall*>(data);
    EXPECT_TRUE(SameBits(last->origin, Vec2{200, 150}));
    EXPECT_TRUE(SameBits(last->delta, Vec2{120, 60}));
}

TEST_F(FrameLoopTest, AWallAcrossTheLineSendsThePathAroundIt) {
    SettleAndDraw();
    MoveTo(400, 300);
    Pass();
    Press(LEFT);
    Pass(2);
    MoveTo(400, 380);
    Pass(2);
    Release(LEFT);
    Pass();
    SettleAndDraw();
    EXPECT_EQ(scene.jobStatus, 1);
    for (int y = 300; y < 380; ++y) EXPECT_NE(Pixel(400, y), PIXEL_PATH) << y;
    EXPECT_EQ(Pixel(100, 340), 0u);
    EXPECT_GT(CountPixels(PIXEL_PATH, 0, 0, 800, 600), 700);
}

// ---- Keys ----------------------------------------------------------------------------------

TEST_F(FrameLoopTest, F5ThenF6RestoresTheSceneAndReplacesTheJob) {
    TempFolder folder;
    SettleAndDraw();
    Tap(KEY_F5);
    ASSERT_EQ(ReadFileBytes(SCENE_FILE_NAME).size(), 144u);

    MoveTo(200, 150);
    Pass();
    Press(LEFT);
    Pass(2);
    MoveTo(250, 200);
    Pass();
    Release(LEFT);
    Pass();
    ASSERT_EQ(ListCount(walls), 5);
    scene.start = Vec2{100, 100};

    const int32_t before = JobThread();
    Tap(KEY_F6);
    EXPECT_EQ(ListCount(walls), 4);
    EXPECT_TRUE(SameBits(scene.start, Vec2{50, 340}));
    EXPECT_NE(JobThread(), before);
    EXPECT_TRUE(SameBits(scene.job->start, Vec2{50, 340}));
}

TEST_F(FrameLoopTest, F6WithoutASceneFileChangesNothing) {
    TempFolder folder;
    SettleAndDraw();
    const int32_t before = JobThread();
    Tap(KEY_F6);
    EXPECT_EQ(JobThread(), before);
    EXPECT_EQ(ListCount(walls), 4);
    Pass();
    EXPECT_EQ(Pixel(400, 340), PIXEL_PATH);
}

TEST_F(FrameLoopTest, HeldFileKeysActOnceOnRelease) {
    TempFolder folder;
    SettleAndDraw();
    NullSetKey(KEY_F12, true);
    NullSetKey(KEY_F5, true);
    Pass(3);
    EXPECT_TRUE(FolderEntries(".").empty());
    NullSetKey(KEY_F12, false);
    NullSetKey(KEY_F5, false);
    Pass();
    // The screenshot is the frame presented in the same pass, which the back buffer still holds.
    EXPECT_EQ(ReadFileBytes(SCREENSHOT_FILE_NAME).size(), 1440054u);
    std::vector<uint8_t> shown = EncodeBmp(BackBufferPixels(), SURFACE_WIDTH, SURFACE_HEIGHT);
    std::vector<char> file = ReadFileBytes(SCREENSHOT_FILE_NAME);
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), file.begin(), file.end(),
                           [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));
    EXPECT_EQ(ReadFileBytes(SCENE_FILE_NAME).size(), 144u);
    std::remove(SCREENSHOT_FILE_NAME);
    Pass(2);
    EXPECT_EQ(FolderEntries(".").size(), 1u);  // acted once
}

TEST_F(FrameLoopTest, OnlyEscapeEndsTheLoopAndNothingAfterItRuns) {
    TempFolder folder;
    SettleAndDraw();
    NullQueueWindowEvent(WINDOW_EVENT_CLOSE_REQUESTED);
    Pass(3);  // the close box is ignored
    NullSetKey(KEY_F12, true);
    Pass();
    NullSetKey(KEY_F12, false);
    NullSetKey(KEY_ESCAPE, true);
    EXPECT_FALSE(RunFramePass());
    EXPECT_TRUE(FolderEntries(".").empty());  // F12's release was not handled
}

// A scene file is anyone's bytes: NaN, infinities and huge values load as they are, the search
// ends and the frame is drawn.
TEST_F(FrameLoopTest, ASceneOfImpossibleValuesLoadsSearchesAndDraws) {
    TempFolder folder;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {50,     340,  750,   340,                     // start, goal
                            nan,    300,  10,    100, nan, 0,   1,    2,  // walls
                            400,    -inf, 0,     inf, 400, 0,   400,  1e30f, -3e38f, 340, 3e38f, 0,
                            -3e38f, 340,  3e38f, 340, 100, 200, 1e9f, -1e9f, 0,      0,   0,     0};
    WriteFileBytes(SCENE_FILE_NAME,
                   std::vector<char>(reinterpret_cast<const char*>(values),
                                     reinterpret_cast<const char*>(values) + sizeof values));
    SettleAndDraw();
    Tap(KEY_F6);
    ASSERT_EQ(ListCount(walls), 4);
    EXPECT_NE(WaitForJob(), 0) << "the search did not end";
    Pass();
    EXPECT_NE(scene.jobStatus, 0);
}

// A scene at the cap is read over several frames: the old scene stays whole until the last
// part is in, a wall drawn meanwhile is added to the loaded scene, and the walls are drawn once
// the layer has caught up.
TEST_F(FrameLoopTest, F6ReadsABigSceneOverSeveralFramesAndKeepsTheEditsMadeMeanwhile) {
    TempFolder folder;
    constexpr int32_t COUNT = 250000;  // 8 MB: several steps of the reader and of the layer
    std::vector<float> values = {60, 340, 740, 340};
    const Wall shelf = WallBetween(100, 200, 300, 200);
    for (int32_t i = 0; i < COUNT; ++i) {
        const float* raw = reinterpret_cast<const float*>(&shelf);
        values.insert(values.end(), raw, raw + 8);
    }
    WriteFileBytes(SCENE_FILE_NAME,
                   std::vector<char>(reinterpret_cast<const char*>(values.data()),
                                     reinterpret_cast<const char*>(values.data() + values.size())));
    SettleAndDraw();
    Tap(KEY_F6);
    ASSERT_TRUE(EditsQueued());
    MoveTo(400, 450);
    Pass();
    Press(LEFT);
    Pass(2);
    Release(LEFT);
    Pass();
    int frames = 0;
    for (; EditsQueued() && frames < 100; ++frames) {
        ASSERT_EQ(ListCount(walls), 4);
        ASSERT_TRUE(SameBits(scene.start, Vec2{50, 340}));
        Pass();
    }
    ASSERT_FALSE(EditsQueued());
    ASSERT_EQ(ListCount(walls), COUNT + 1);
    const Wall click = WallBetween(400, 450, 400, 450);
    EXPECT_TRUE(BlockEqual(ListElementData(walls->last), &click, sizeof(Wall)));
    EXPECT_TRUE(SameBits(scene.start, Vec2{60, 340}));

    EXPECT_NE(Pixel(150, 200), PIXEL_WALL);
    int layerFrames = 0;
    for (; !WallLayerCurrent() && layerFrames < 100; ++layerFrames) Pass();
    EXPECT_GT(layerFrames, 1);
    Pass();
    EXPECT_EQ(Pixel(150, 200), PIXEL_WALL);
    EXPECT_EQ(WaitForJob(), 1);
}

// Where the main thread may not wait, an edit asks the running worker to stop and is made in
// the first pass after it has ended.
TEST_F(FrameLoopTest, EditsThatMayNotWaitAreMadeOnceTheWorkerHasStopped) {
    ASSERT_NE(WaitForJob(), 0);
    LockAcquire(SearchLock);
    EditScene(SceneEdit{});  // this job's worker waits for the lock: alive when the edit comes
    SetEditsWaitForWorker(false);
    QueueEdit(SceneEdit{.kind = EDIT_ADD_WALL, .x1 = 1, .y1 = 2, .x2 = 3, .y2 = 4});
    ApplyQueuedEdits();
    EXPECT_TRUE(EditsQueued());
    EXPECT_EQ(ListCount(walls), 4);
    for (int i = 0; i < 1000 && !PathJobWorkerEnded(scene.job); ++i) SleepMilliseconds(10);
    // As after a stop while waiting: its nodes are left to the lock's holder.
    ReleaseSearchNodes();
    LockRelease(SearchLock);
    Pass();
    SetEditsWaitForWorker(true);
    EXPECT_FALSE(EditsQueued());
    EXPECT_EQ(ListCount(walls), 5);
    EXPECT_EQ(WaitForJob(), 1);
}

#if PFAD_CHECKS
TEST_F(FrameLoopTest, AJobThatCouldNotStartIsTriedAgainInTheNextPass) {
    ASSERT_NE(WaitForJob(), 0);
    FailThreadStart(1);
    QueueEdit(SceneEdit{});
    Pass();
    EXPECT_EQ(scene.job, nullptr);
    Pass();
    ASSERT_NE(scene.job, nullptr);
    EXPECT_EQ(WaitForJob(), 1);
}
#endif

// ---- EditScene -----------------------------------------------------------------------------

TEST_F(FrameLoopTest, AnEditStopsAWaitingJobBeforeTheWallsChangeAndSearchesTheNewScene) {
    // The worker waits for the lock, so it is still alive when the edit comes.
    LockAcquire(SearchLock);
    PathJob* before = scene.job;
    ASSERT_NE(before, nullptr);
    const std::vector<Wall> box = {WallBetween(730, 320, 770, 320), WallBetween(730, 320, 730, 360),
                                   WallBetween(770, 320, 770, 360),
                                   WallBetween(730, 360, 770, 360)};
    EditScene(SceneEdit{
        .kind = EDIT_SET_WALLS, .wallRecords = box.data(), .wallCount = 4, .withoutJob = 1});
    ASSERT_EQ(ListCount(walls), 4);
    // A worker stopped while waiting leaves its two nodes to whoever holds the lock: here this
    // thread, which clears them as a finished worker would, before the next job is created.
    ReleaseSearchNodes();
    LockRelease(SearchLock);
    EditScene(SceneEdit{});
    ASSERT_NE(scene.job, nullptr);
    EXPECT_EQ(WaitForJob(), -1);  // the goal is boxed in: the new job read the new walls
    EXPECT_EQ(ListCount(searchNodes), 0);

    EditScene(SceneEdit{.kind = EDIT_ADD_WALL, .x1 = 1, .y1 = 2, .x2 = 3, .y2 = 4});
    ASSERT_EQ(ListCount(walls), 5);
    const Wall added = WallBetween(1, 2, 3, 4);
    EXPECT_TRUE(BlockEqual(ListElementData(walls->last), &added, sizeof(Wall)));
    EXPECT_EQ(WaitForJob(), -1);
}

TEST_F(FrameLoopTest, AnEditWithoutJobLeavesNoneAndTheFrameShowsComputing) {
    EditScene(SceneEdit{.kind = EDIT_SET_WALLS, .withoutJob = 1});
    EXPECT_EQ(scene.job, nullptr);
    EXPECT_EQ(ListCount(walls), 0);
    Pass();
    EXPECT_EQ(scene.jobStatus, 0);
    EditScene(SceneEdit{});  // recompute: the empty scene has the straight way
    EXPECT_EQ(WaitForJob(), 1);
    EXPECT_EQ(PathJobCollisionChecks(scene.job), 1);
}
