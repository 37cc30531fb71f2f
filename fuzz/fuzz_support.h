// What the fuzz targets share: a check that ends the run the way a crash would, and one path
// job run under a budget of wall tests, so a slow input is stopped instead of hanging.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "pathsearch/pathsearch.h"

// Stops the run with the failed condition, where the fuzzer (or the replay) reports it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// Wall tests a job may make before it is stopped.
constexpr int64_t WALL_TEST_BUDGET = 400000;

// Creates a job for start and goal on the current walls and waits for it. Returns the finished
// job, or nullptr when it could not be created or ran over the budget and was stopped (and
// freed). In both cases the shared search state is checked to be clean once no job runs.
PathJob* RunJobWithinBudget(const Vec2& start, const Vec2& goal, bool* stopped);
// The lock is free, the registry and the tested-segment list are empty.
void CheckSearchStateClean();
