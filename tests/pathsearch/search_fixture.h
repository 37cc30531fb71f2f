// Shared by the search and job tests: the global state, scenes, and running one job.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "analysis/plain_search.h"
#include "pathsearch/pathsearch_internal.h"

// Makes walls, the registry, the tested-segment list and SearchLock once per process.
void EnsureSearchState();
// Replaces the walls with these records, unchanged.
void SetWalls(const std::vector<Wall>& records);
std::vector<Wall> CurrentWalls();
// A wall as AddWall makes it.
Wall MakeWall(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// A wall between float end points, its corners made the way AddWall makes them.
inline Wall FloatWall(Vec2 a, Vec2 b) {
    return WallWithCorners(
        a, Vec2{static_cast<float>(double{b.x} - a.x), static_cast<float>(double{b.y} - a.y)});
}
// The start-up scene's four border walls.
std::vector<Wall> BorderWalls();
// Stair k is a wall at x = 10k from its lower end (10k, 3k) far up; its outerA, one unit
// below, is the next corner. From STAIRCASE_START to StaircaseGoal(stairs) every goal step
// from a corner hits the next stair first, so the search nests one level deeper per stair.
std::vector<Wall> Staircase(int32_t stairs);
constexpr Vec2 STAIRCASE_START{0, 1};
inline Vec2 StaircaseGoal(int32_t stairs) { return Vec2{10.0f * stairs + 10, -50000}; }

struct JobResult {
    int32_t status = 0;
    int32_t collisionChecks = 0;
    int32_t nodeCount = 0;
    int32_t timeMs = 0;
    std::vector<Vec2> path;
};
// Reads a finished job the way the frame loop does.
JobResult ReadJob(PathJob* job);
// Creates a job on the current walls, waits for it and frees it.
JobResult RunJob(Vec2 start, Vec2 goal);

inline bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
testing::AssertionResult SamePath(const std::vector<Vec2>& expected,
                                  const std::vector<Vec2>& actual);
testing::AssertionResult SameAsPlain(const PlainResult& plain, const JobResult& job);

// The shared search state is as a finished worker leaves it.
testing::AssertionResult SearchStateIsClean();

class SearchTest : public testing::Test {
  protected:
    void SetUp() override { EnsureSearchState(); }
    void TearDown() override { EXPECT_TRUE(SearchStateIsClean()); }
};

// The suites are named after what they test; they share the fixture.
using SearchSteps = SearchTest;
using ShortcutLinks = SearchTest;
using Conformance = SearchTest;
using Differential = SearchTest;
using DeepScene = SearchTest;
using PathJobs = SearchTest;
using StopStorm = SearchTest;
