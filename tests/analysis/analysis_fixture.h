// Scenes and the direct search for the analysis tests: walls as AddWall makes them, the product's
// search run on this thread, and a plain all-pairs reference for the optimum.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/analysis.h"

void EnsureSearchState();
// A wall as AddWall makes it.
Wall MakeWall(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// The four walls AddBox makes.
std::vector<Wall> BoxWalls(int32_t x, int32_t y, int32_t width, int32_t height);

struct DirectResult {
    int32_t status = 0;  // 1 found, -1 unreachable
    int32_t collisionChecks = 0;
    int32_t nodeCount = 0;
    std::vector<Vec2> path;
};
// The direct search on these walls, run by the job's worker procedure on this thread.
DirectResult RunDirectSearch(const std::vector<Wall>& records, Vec2 start, Vec2 goal);

struct ReferenceResult {
    bool found = false;
    double length = 0;
};
// The shortest way restated as plainly as possible: every waypoint (duplicates kept), every
// directed pair tested up front, Dijkstra over the full matrix.
ReferenceResult AllPairsShortestPath(const std::vector<Wall>& records, Vec2 start, Vec2 goal);
