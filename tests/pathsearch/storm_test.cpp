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

// Counted by the IntersectSegments wrap in job_test.cpp.
extern std::atomic<int64_t> wallTests;

namespace {

// A maze of square cells of 16 pixels, each edge a wall with even odds, inside the border.
std::vector<Wall> HeavyScene(uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Wall> walls = BorderWalls();
    const int32_t size = 16, cells = 14, x0 = 200, y0 = 130;
    for (int32_t i = 0; i <= cells; ++i)
        for (int32_t j = 0; j < cells; ++j) {
            if (random() % 2) walls.push_back(MakeWall(x0 + i * size, y0 + j * size, x0 + i * size, y0 + (j + 1) * size));
            if (random() % 2) walls.push_back(MakeWall(x0 + j * size, y0 + i * size, x0 + (j + 1) * size, y0 + i * size));
        }
    return walls;
}
const Vec2 STORM_START{30, 340};
const Vec2 STORM_GOAL{200 + 7 * 16 + 8, 130 + 7 * 16 + 8};  // in the maze's middle cell

constexpr int32_t STORMS = 1000;
constexpr uint32_t STORM_SEED = 20261209;

}  // namespace

TEST_F(SearchTest, AThousandSeededStopStormsLeaveACleanStateAndTheRightNextAnswer) {
    // The first maze with a way to the goal, so every answer has a path to compare.
    std::vector<Wall> scene;
    PlainResult plain;
    for (uint32_t seed = 1; plain.status != 1 && seed < 100; ++seed) {
        scene = HeavyScene(seed);
        plain = PlainSearch(scene, STORM_START, STORM_GOAL);
    }
    ASSERT_EQ(plain.status, 1);
    SetWalls(scene);
    wallTests = 0;
    const JobResult idle = RunJob(STORM_START, STORM_GOAL);
    ASSERT_TRUE(SameAsPlain(plain, idle));
    const int64_t wholeSearch = wallTests;

    std::mt19937 random(STORM_SEED);
    int32_t stoppedRunning = 0;
    std::vector<double> freeMs;
    for (int32_t storm = 0; storm < STORMS; ++storm) {
        PathJob* job = CreatePathJob(STORM_START, STORM_GOAL);
        ASSERT_NE(job, nullptr);
        wallTests = 0;
        if (random() % 2) {
            // A delay of 0 to 2 ms.
            auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(random() % 2001);
            while (std::chrono::steady_clock::now() < until) std::this_thread::yield();
        } else {
            // Some number of wall tests into the search, or its end, whichever comes first.
            const int64_t steps = static_cast<int64_t>(random() % static_cast<uint32_t>(wholeSearch + 1));
            while (wallTests.load(std::memory_order_relaxed) < steps && PathJobStatus(job) == 0)
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
    // Most stops must have caught a running job, or the storm tested nothing.
    EXPECT_GT(stoppedRunning, STORMS / 2);
    std::sort(freeMs.begin(), freeMs.end());
    std::printf("stop storms: %d run, %d stopped while running; FreePathJob median %.3f ms, "
                "99th percentile %.3f ms, longest %.3f ms (a whole search: %lld wall tests)\n",
                STORMS, stoppedRunning, freeMs[freeMs.size() / 2], freeMs[freeMs.size() * 99 / 100],
                freeMs.back(), static_cast<long long>(wholeSearch));
    RecordProperty("longest_free_ms", std::to_string(freeMs.back()));
}
