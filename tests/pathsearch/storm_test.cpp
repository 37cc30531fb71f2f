// Stop storms: a thousand seeded jobs on a heavy scene, each freed after a random delay or a
// random number of wall tests. After every stop the shared search state must be as a finished
// worker leaves it, and the next job, left alone, must give the plain search's answer.
// Labelled "threads" with the other job tests, so it also runs under ThreadSanitizer.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "search_fixture.h"

namespace {

// The staircase: every step from a corner hits the next stair first, so the search nests one
// level deeper per stair and takes milliseconds even with the wall index: longer than a
// scheduler's time slice, so that a storm sharing one processor with the search still catches
// it running.
constexpr int32_t STAIRS = 800;

constexpr int32_t STORMS = 1000;
constexpr uint32_t STORM_SEED = 20261209;

}  // namespace

TEST_F(StopStorm, AThousandSeededStopStormsLeaveACleanStateAndTheRightNextAnswer) {
    const std::vector<Wall> scene = Staircase(STAIRS);
    const Vec2 STORM_START = STAIRCASE_START;
    const Vec2 STORM_GOAL = StaircaseGoal(STAIRS);
    const PlainResult plain = PlainSearch(scene, STORM_START, STORM_GOAL);
    ASSERT_EQ(plain.status, 1);
    SetWalls(scene);
    ResetIntersectionTestCount();
    const JobResult idle = RunJob(STORM_START, STORM_GOAL);
    ASSERT_TRUE(SameAsPlain(plain, idle));
    const int64_t wholeSearch = IntersectionTestCount();

    std::mt19937 random(STORM_SEED);
    int32_t stoppedRunning = 0;
    std::vector<double> freeMs;
    for (int32_t storm = 0; storm < STORMS; ++storm) {
        PathJob* job = CreatePathJob(STORM_START, STORM_GOAL);
        ASSERT_NE(job, nullptr);
        ResetIntersectionTestCount();
        if (random() % 2) {
            // A delay of 0 to 2 ms.
            auto until =
                std::chrono::steady_clock::now() + std::chrono::microseconds(random() % 2001);
            while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
        } else {
            // Some number of wall tests into the search, or its end, whichever comes first.
            const int64_t steps =
                static_cast<int64_t>(random() % static_cast<uint32_t>(wholeSearch + 1));
            while (IntersectionTestCount() < steps && PathJobStatus(job) == 0)
                std::this_thread::yield();
        }
        if (PathJobStatus(job) == 0) ++stoppedRunning;
        auto before = std::chrono::steady_clock::now();
        FreePathJob(job);
        std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - before;
        freeMs.push_back(took.count());
        ASSERT_TRUE(SearchStateIsClean()) << "after storm " << storm;

        JobResult next = RunJob(STORM_START, STORM_GOAL);
        ASSERT_TRUE(SameAsPlain(plain, next)) << "after storm " << storm;
    }
    // Many stops must have caught a running job, or the storm tested nothing.
    EXPECT_GT(stoppedRunning, STORMS / 4);
    std::sort(freeMs.begin(), freeMs.end());
    std::printf(
        "stop storms: %d run, %d stopped while running; FreePathJob median %.3f ms, "
        "99th percentile %.3f ms, longest %.3f ms (a whole search: %lld wall tests)\n",
        STORMS, stoppedRunning, freeMs[freeMs.size() / 2], freeMs[freeMs.size() * 99 / 100],
        freeMs.back(), static_cast<long long>(wholeSearch));
    RecordProperty("longest_free_ms", std::to_string(freeMs.back()));
}
