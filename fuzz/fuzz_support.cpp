#include "fuzz/fuzz_support.h"
#include "pathsearch/pathsearch_internal.h"

#include <time.h>

#include <atomic>

namespace {
std::atomic<int64_t> wallTests{0};
}  // namespace

// Every wall test of the search passes here (the targets are linked with --wrap).
extern "C" int32_t __real__Z17IntersectSegmentsRK7SegmentS1_R4Vec2(const Segment&, const Segment&, Vec2&);
extern "C" int32_t __wrap__Z17IntersectSegmentsRK7SegmentS1_R4Vec2(const Segment& first, const Segment& second,
                                                                  Vec2& hit) {
    wallTests.fetch_add(1, std::memory_order_relaxed);
    return __real__Z17IntersectSegmentsRK7SegmentS1_R4Vec2(first, second, hit);
}

void CheckSearchStateClean() {
    FUZZ_CHECK(LockTry(SearchLock));
    LockRelease(SearchLock);
    FUZZ_CHECK(ListCount(searchNodes) == 0);
    FUZZ_CHECK(ListCount(testedSegments) == 0);
}

PathJob* RunJobWithinBudget(const Vec2& start, const Vec2& goal, bool* stopped) {
    *stopped = false;
    wallTests.store(0, std::memory_order_relaxed);
    PathJob* job = CreatePathJob(start, goal);
    if (!job) {
        CheckSearchStateClean();
        return nullptr;
    }
    while (PathJobStatus(job) == 0) {
        if (wallTests.load(std::memory_order_relaxed) > WALL_TEST_BUDGET) {
            FreePathJob(job);
            CheckSearchStateClean();
            *stopped = true;
            return nullptr;
        }
        struct timespec pause{0, 20 * 1000};
        nanosleep(&pause, nullptr);
    }
    CheckSearchStateClean();
    return job;
}
