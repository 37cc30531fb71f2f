// The path job's life on its worker thread: polling, stopping, the lock and the shared state.
// Labelled "threads": `scripts/test --tsan` runs these under ThreadSanitizer.

#include <atomic>
#include <random>

#include "search_fixture.h"
#include "tests/assert_death.h"

namespace {

const Vec2 START{50, 340};
const Vec2 GOAL{750, 340};

// A maze of square cells of 20 pixels, each edge a wall with even odds.
std::vector<Wall> Maze(uint32_t seed, int32_t cells) {
    std::mt19937 random(seed);
    std::vector<Wall> maze = BorderWalls();
    const int32_t size = 20, x0 = 150, y0 = 100;
    for (int32_t i = 0; i <= cells; ++i)
        for (int32_t j = 0; j < cells; ++j) {
            if (random() % 2)
                maze.push_back(
                    MakeWall(x0 + i * size, y0 + j * size, x0 + i * size, y0 + (j + 1) * size));
            if (random() % 2)
                maze.push_back(
                    MakeWall(x0 + j * size, y0 + i * size, x0 + (j + 1) * size, y0 + i * size));
        }
    return maze;
}
const Vec2 MAZE_START{30, 90 + 250};
const Vec2 MAZE_GOAL{150 + 5 * 20 + 10, 100 + 5 * 20 + 10};

// Waits until the job's worker holds SearchLock, i.e. the job is Searching.
void WaitUntilSearching() {
    while (LockTry(SearchLock)) {
        LockRelease(SearchLock);
        SleepMilliseconds(1);
    }
}

}  // namespace

TEST_F(PathJobs, NoJobAnswersRunningAndFreeingNoneDoesNothing) {
    EXPECT_EQ(PathJobStatus(nullptr), 0);
    FreePathJob(nullptr);
}

TEST_F(PathJobs, AFinishedJobIsWalkedFromTheStartAfterEveryStatusCall) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    PathJob* job = CreatePathJob(START, GOAL);
    ASSERT_NE(job, nullptr);
    while (PathJobStatus(job) == 0) SleepMilliseconds(1);
    JobResult first = ReadJob(job);
    EXPECT_EQ(NextPathPoint(job), 0);
    EXPECT_EQ(NextPathPoint(job), 0);
    JobResult second = ReadJob(job);
    EXPECT_EQ(second.status, 1);
    EXPECT_TRUE(SamePath({START, {400, 199}, GOAL}, first.path));
    EXPECT_TRUE(SamePath(first.path, second.path));
    FreePathJob(job);
}

TEST_F(PathJobs, WaitingForAJobGivesItsFinishedStatus) {
    EXPECT_EQ(WaitForPathJob(nullptr), 0);
    struct Case {
        std::vector<Wall> walls;
        int32_t status;
    };
    // A wall in the way, and the goal boxed in.
    for (const Case& c : {Case{{MakeWall(400, 200, 400, 480)}, 1},
                          Case{{MakeWall(700, 300, 800, 300), MakeWall(800, 300, 800, 380),
                                MakeWall(800, 380, 700, 380), MakeWall(700, 380, 700, 300)},
                               -1}}) {
        SetWalls(c.walls);
        PathJob* job = CreatePathJob(START, GOAL);
        ASSERT_NE(job, nullptr);
        EXPECT_EQ(WaitForPathJob(job), c.status);
        EXPECT_EQ(ThreadRunning(job->thread), 0);
        if (c.status == 1) {
            EXPECT_TRUE(SamePath({START, {400, 199}, GOAL}, ReadJob(job).path));
        }
        FreePathJob(job);
    }
}

TEST_F(PathJobs, TheJobSearchesFromItsOwnCopiesOfStartAndGoal) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    Vec2 start = START, goal = GOAL;
    PathJob* job = CreatePathJob(start, goal);
    ASSERT_NE(job, nullptr);
    start = Vec2{1, 1};  // the frame loop moves its start while the job runs
    goal = Vec2{2, 2};
    while (PathJobStatus(job) == 0) SleepMilliseconds(1);
    EXPECT_TRUE(SamePath({START, {400, 199}, GOAL}, ReadJob(job).path));
    FreePathJob(job);
}

TEST_F(PathJobs, AJobWaitingForTheLockRunsOnAndItsTimeLeavesTheWaitOut) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    LockAcquire(SearchLock);
    PathJob* job = CreatePathJob(START, GOAL);
    ASSERT_NE(job, nullptr);
    SleepMilliseconds(300);
    EXPECT_EQ(PathJobStatus(job), 0);
    LockRelease(SearchLock);
    while (PathJobStatus(job) == 0) SleepMilliseconds(1);
    JobResult result = ReadJob(job);
    EXPECT_EQ(result.status, 1);
    EXPECT_LT(result.timeMs, 300);
    FreePathJob(job);
}

TEST_F(PathJobs, AJobFreedWhileSearchingLeavesACleanStateForTheNext) {
    // Long enough (tens of milliseconds) to be caught searching.
    const int32_t stairs = 4000;
    SetWalls(Staircase(stairs));
    const Vec2 start = STAIRCASE_START, goal = StaircaseGoal(stairs);
    ResetIntersectionTestCount();
    JobResult idle = RunJob(start, goal);
    int64_t wholeSearch = IntersectionTestCount();

    for (int32_t i = 0; i < 3; ++i) {
        PathJob* job = CreatePathJob(start, goal);
        ASSERT_NE(job, nullptr);
        WaitUntilSearching();
        SleepMilliseconds(i * 5);
        ASSERT_EQ(PathJobStatus(job), 0);
        ResetIntersectionTestCount();
        FreePathJob(job);
        EXPECT_LT(IntersectionTestCount(), wholeSearch / 2) << "the stop was not seen";
        EXPECT_TRUE(SearchStateIsClean());

        JobResult next = RunJob(start, goal);
        EXPECT_EQ(next.status, idle.status);
        EXPECT_EQ(next.collisionChecks, idle.collisionChecks);
        EXPECT_EQ(next.nodeCount, idle.nodeCount);
        EXPECT_TRUE(SamePath(idle.path, next.path));
    }
}

TEST_F(PathJobs, AThousandJobsFreedAtRandomMomentsLeaveNothingBehind) {
    SetWalls(Maze(11, 10));
    JobResult idle = RunJob(MAZE_START, MAZE_GOAL);
    std::mt19937 random(42);
    int32_t finished = 0;
    for (int32_t i = 0; i < 1000; ++i) {
        PathJob* job = CreatePathJob(MAZE_START, MAZE_GOAL);
        ASSERT_NE(job, nullptr);
        uint32_t pause = random() % 4;
        if (pause) SleepMilliseconds(static_cast<int32_t>(pause) - 1);
        if (PathJobStatus(job) != 0) ++finished;
        FreePathJob(job);
        ASSERT_TRUE(SearchStateIsClean()) << "after cycle " << i;
    }
    EXPECT_LT(finished, 1000);  // some were stopped before their end
    JobResult last = RunJob(MAZE_START, MAZE_GOAL);
    EXPECT_EQ(last.nodeCount, idle.nodeCount);
    EXPECT_TRUE(SamePath(idle.path, last.path));
}

TEST_F(PathJobs, AnAbandonedWorkerIsNotWaitedFor) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    HoldNextWorker();  // as a worker that faulted: it never honours a stop again
    PathJob* stuck = CreatePathJob(START, GOAL);
    ASSERT_NE(stuck, nullptr);
    while (!WorkerHeld()) SleepMilliseconds(1);

    // The frame loop goes on editing while the report is shown: neither call may hang, and
    // the job waiting behind the held lock gives up when stopped.
    FreePathJob(stuck);  // the record stays: the held worker still writes into it
    PathJob* next = CreatePathJob(START, GOAL);
    ASSERT_NE(next, nullptr);
    SleepMilliseconds(5);
    EXPECT_EQ(PathJobStatus(next), 0);
    FreePathJob(next);

    // Here the program would end; let the worker go so the remaining tests start clean.
    LetHeldWorkerGo();
    while (WorkerHeld() || !SearchStateIsClean()) SleepMilliseconds(1);
    // The record FreePathJob left alone is still there (a sanitizer build would see a second
    // release) and is given back once its worker is done with it.
    while (!std::atomic_ref<int32_t>(stuck->workerReturned).load()) SleepMilliseconds(1);
    EXPECT_EQ(stuck->pointCount, 0);
    BlockRelease(stuck);
}

// ---- Asserted misuse -----------------------------------------------------------------------

using PathJobDeathTest = SearchTest;

TEST_F(PathJobDeathTest, ASecondJobOrNodesLeftInTheRegistryStopCreation) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    PathJob* job = CreatePathJob(START, GOAL);
    ASSERT_NE(job, nullptr);
    EXPECT_ASSERT_FAILS(CreatePathJob(START, GOAL), "CreatePathJob while another path job exists");
    FreePathJob(job);

    Vec2 point{1, 2};
    ASSERT_NE(CreateSearchNode(nullptr, &point), nullptr);  // a node no worker will release
    EXPECT_ASSERT_FAILS(CreatePathJob(START, GOAL),
                        "CreatePathJob with search nodes left in the registry");
    ReleaseSearchNodes();
    EXPECT_EQ(RunJob(START, GOAL).status, 1);  // freed and empty: the next job is welcome
}

TEST_F(PathJobDeathTest, AddWallStopsWhileAJobExistsEvenAFinishedOne) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    PathJob* job = CreatePathJob(START, GOAL);
    ASSERT_NE(job, nullptr);
    EXPECT_ASSERT_FAILS(AddWall(1, 2, 3, 4), "AddWall while a path job exists");
    while (PathJobStatus(job) == 0) SleepMilliseconds(1);
    EXPECT_ASSERT_FAILS(AddWall(1, 2, 3, 4), "AddWall while a path job exists");
    FreePathJob(job);
    AddWall(1, 2, 3, 4);
    EXPECT_EQ(ListCount(walls), 2);
}

TEST_F(PathJobDeathTest, StatisticsAndThePathOfARunningJobAreNotRead) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    LockAcquire(SearchLock);  // the worker waits: the job is still running
    PathJob* job = CreatePathJob(START, GOAL);
    ASSERT_NE(job, nullptr);
    const char* fix = "of a job still running: .* once PathJobStatus has answered 1";
    EXPECT_ASSERT_FAILS(PathJobCollisionChecks(job), std::string("PathJobCollisionChecks ") + fix);
    EXPECT_ASSERT_FAILS(PathJobNodeCount(job), std::string("PathJobNodeCount ") + fix);
    EXPECT_ASSERT_FAILS(PathJobTime(job), std::string("PathJobTime ") + fix);
    EXPECT_ASSERT_FAILS(NextPathPoint(job), std::string("NextPathPoint ") + fix);
    LockRelease(SearchLock);
    JobResult result;
    while ((result.status = PathJobStatus(job)) == 0) SleepMilliseconds(1);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(PathJobCollisionChecks(job), 5);  // read once finished, as the frame loop does
    FreePathJob(job);
}

TEST_F(PathJobDeathTest, CurrentPathPointOffThePathStops) {
    SetWalls({MakeWall(400, 200, 400, 480)});
    PathJob* job = CreatePathJob(START, GOAL);
    ASSERT_NE(job, nullptr);
    while (PathJobStatus(job) == 0) SleepMilliseconds(1);
    const char* fix = "CurrentPathPoint off the path: .* after NextPathPoint answered non-zero";
    EXPECT_ASSERT_FAILS(CurrentPathPoint(job), fix);  // before the first point
    int32_t points = 0;
    while (NextPathPoint(job)) {
        EXPECT_NE(CurrentPathPoint(job), nullptr);
        ++points;
    }
    EXPECT_EQ(points, 3);
    EXPECT_ASSERT_FAILS(CurrentPathPoint(job), fix);  // after the last one
    FreePathJob(job);

    // The goal boxed in: no path at all.
    SetWalls({MakeWall(740, 330, 760, 330), MakeWall(740, 330, 740, 350),
              MakeWall(760, 330, 760, 350), MakeWall(740, 350, 760, 350)});
    job = CreatePathJob(START, GOAL);
    ASSERT_NE(job, nullptr);
    while (PathJobStatus(job) == 0) SleepMilliseconds(1);
    EXPECT_EQ(PathJobStatus(job), -1);
    EXPECT_EQ(NextPathPoint(job), 0);
    EXPECT_ASSERT_FAILS(CurrentPathPoint(job), fix);
    FreePathJob(job);
}
