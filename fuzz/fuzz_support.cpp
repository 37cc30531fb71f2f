#include "fuzz/fuzz_support.h"

#include <time.h>

#include <atomic>

#include "pathsearch/pathsearch_internal.h"

void CheckSearchStateClean() {
    FUZZ_CHECK(LockTry(SearchLock));
    LockRelease(SearchLock);
    FUZZ_CHECK(ListCount(searchNodes) == 0);
    FUZZ_CHECK(ListCount(testedSegments) == 0);
}

PathJob* RunJobWithinBudget(const Vec2& start, const Vec2& goal, bool* stopped) {
    *stopped = false;
    ResetIntersectionTestCount();
    PathJob* job = CreatePathJob(start, goal);
    if (!job) {
        CheckSearchStateClean();
        return nullptr;
    }
    while (PathJobStatus(job) == 0) {
        if (IntersectionTestCount() > WALL_TEST_BUDGET) {
            FreePathJob(job);
            CheckSearchStateClean();
            *stopped = true;
            return nullptr;
        }
        struct timespec pause {
            0, 20 * 1000
        };
        nanosleep(&pause, nullptr);
    }
    CheckSearchStateClean();
    return job;
}
