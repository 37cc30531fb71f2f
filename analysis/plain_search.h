// A deliberately plain second implementation of the direct path search, written straight from
// the algorithm's description: recursion, vectors, linear scans, nothing shared with the
// product but IntersectSegments. The tests compare the two bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/geometry.h"

struct PlainResult {
    int32_t status = 0;  // 1 path found, -1 unreachable
    int32_t collisionChecks = 0;
    int32_t nodeCount = 0;
    std::vector<Vec2> path;
    int32_t deepestCall = 0;  // deepest nesting of search calls the recursion reached
};

PlainResult PlainSearch(const std::vector<Wall>& walls, Vec2 start, Vec2 goal);
