// Shared helpers of the analysis tests: the search state, walls and a product run.
#include "analysis_fixture.h"

#include <cmath>
#include <limits>

#include "pathsearch/pathsearch_internal.h"
#include "platform/memory.h"

void EnsureSearchState() {
    if (walls) return;
    CreateSharedState();
}

Wall MakeWall(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    return WallBetween(x1, y1, x2, y2);
}

std::vector<Wall> BoxWalls(int32_t x, int32_t y, int32_t width, int32_t height) {
    return {MakeWall(x, y, x + width, y), MakeWall(x, y, x, y + height),
            MakeWall(x + width, y, x + width, y + height),
            MakeWall(x, y + height, x + width, y + height)};
}

DirectResult RunDirectSearch(const std::vector<Wall>& records, Vec2 start, Vec2 goal) {
    EnsureSearchState();
    ListClear(walls);
    for (const Wall& record : records) *static_cast<Wall*>(ListAppend(walls)) = record;
    PathJob* job = MakePathJobRecord(start, goal);
    PathJobWorker(job);
    DirectResult result;
    result.status = job->points ? 1 : -1;
    result.collisionChecks = job->collisionChecks;
    result.nodeCount = job->nodeCount;
    result.path.assign(job->points, job->points + job->pointCount);
    BlockRelease(job->points);
    BlockRelease(job);
    return result;
}

ReferenceResult AllPairsShortestPath(const std::vector<Wall>& records, Vec2 start, Vec2 goal) {
    std::vector<Vec2> points{start, goal};
    for (const Wall& wall : records) {
        points.push_back(wall.outerA);
        points.push_back(wall.outerB);
    }
    const size_t n = points.size();
    auto free = [&](const Vec2& a, const Vec2& b) {
        Segment segment{
            a, Vec2{static_cast<float>(double{b.x} - a.x), static_cast<float>(double{b.y} - a.y)}};
        for (const Wall& wall : records) {
            Vec2 hit{};
            if (IntersectSegments(wall, segment, hit) != 0) return false;
        }
        return true;
    };
    std::vector<std::vector<double>> edge(n, std::vector<double>(n, -1));
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j)
            if (i != j && free(points[i], points[j]))
                edge[i][j] = std::hypot(double{points[i].x} - points[j].x,
                                        double{points[i].y} - points[j].y);

    const double far = std::numeric_limits<double>::infinity();
    std::vector<double> distance(n, far);
    std::vector<bool> done(n, false);
    distance[0] = 0;
    for (;;) {
        size_t u = n;
        for (size_t i = 0; i < n; ++i)
            if (!done[i] && distance[i] < far && (u == n || distance[i] < distance[u])) u = i;
        if (u == n) break;
        done[u] = true;
        for (size_t v = 0; v < n; ++v)
            if (edge[u][v] >= 0 && distance[u] + edge[u][v] < distance[v])
                distance[v] = distance[u] + edge[u][v];
    }
    return ReferenceResult{distance[1] < far, distance[1] < far ? distance[1] : 0};
}
