// A staircase thousands of stairs high must be searched on a thread of 64 KiB of stack.

#include "search_fixture.h"

namespace {

constexpr int32_t STAIRS = 3000;
constexpr size_t SMALL_STACK = 64 * 1024;
constexpr size_t LARGE_STACK = 256 * 1024 * 1024;

const Vec2 START = STAIRCASE_START;
const Vec2 GOAL = StaircaseGoal(STAIRS);

struct PlainRun {
    const std::vector<Wall>* walls;
    PlainResult result;
};

void RunPlain(void* argument) {
    auto* run = static_cast<PlainRun*>(argument);
    run->result = PlainSearch(*run->walls, START, GOAL);
}

void WaitFor(int32_t thread) {
    ASSERT_NE(thread, 0);
    while (ThreadRunning(thread)) SleepMilliseconds(5);
}

}  // namespace

TEST_F(DeepScene, AThousandsDeepSceneFinishesOnASmallStack) {
    std::vector<Wall> stairs = Staircase(STAIRS);
    SetWalls(stairs);

    // The recursive formulation, on a stack big enough for it, says how deep the scene goes.
    PlainRun plain{&stairs, {}};
    WaitFor(ThreadStartWithStack(RunPlain, &plain, LARGE_STACK));
    ASSERT_GT(plain.result.deepestCall, 2 * STAIRS);  // at 16 bytes a level, far beyond 64 KiB
    ASSERT_EQ(plain.result.status, 1);

    PathJob* job = MakePathJobRecord(START, GOAL);
    ASSERT_NE(job, nullptr);
    WaitFor(ThreadStartWithStack(PathJobWorker, job, SMALL_STACK));
    JobResult result{job->points ? 1 : -1, job->collisionChecks, job->nodeCount, job->timeMs,
                     std::vector<Vec2>(job->points, job->points + job->pointCount)};
    EXPECT_TRUE(SameAsPlain(plain.result, result));
    BlockRelease(job->points);
    BlockRelease(job);
}
