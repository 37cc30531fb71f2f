// The shortest path as it was first written: A* in which every expansion looks at every other
// waypoint. Kept, unchanged in what it computes, as the baseline that the faster FindShortestPath
// is measured and checked against (the bench and the tests); nothing else calls it.

#include "analysis/shortest_path_baseline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <queue>
#include <unordered_map>

#include "analysis/shortest_path_parts.h"
#include "pathsearch/pathsearch_internal.h"
#include "platform/system.h"

namespace {

using namespace shortest_path_parts;

// An entry of the open set; stale when its g is no longer the node's best.
struct Open {
    double f;
    double g;
    int32_t node;
};
struct OpenAfter {
    // The smallest f first; of equal f the lower node number, so the answer never depends on
    // the heap's inner order.
    bool operator()(const Open& a, const Open& b) const {
        return a.f != b.f ? a.f > b.f : a.node > b.node;
    }
};

}  // namespace

ShortestPath FindShortestPathByScan(std::span<const Wall> walls, const Vec2& start,
                                    const Vec2& goal, const ShortestPathBudget& budget) {
    ShortestPath result{SHORTEST_NONE, 0.0, {}, 0, 0, 0};
    // No polyline through a point at infinity or NaN has a length to compare.
    if (!Finite(start) || !Finite(goal)) return result;

    // Waypoints: 0 is the start, 1 the goal, then each distinct finite corner point once.
    std::vector<Vec2> points{start, goal};
    std::unordered_map<uint64_t, int32_t> known;
    known.reserve(2 * walls.size() + 2);
    known.emplace(PointKey(start), 0);
    known.emplace(PointKey(goal), 1);
    for (const Wall& wall : walls)
        for (const Vec2& corner : {wall.outerA, wall.outerB})
            if (Finite(corner) &&
                known.emplace(PointKey(corner), static_cast<int32_t>(points.size())).second)
                points.push_back(corner);
    const auto count = static_cast<int32_t>(points.size());
    result.waypoints = count;

    constexpr double UNREACHED = std::numeric_limits<double>::infinity();
    std::vector<double> g(count, UNREACHED);
    std::vector<double> estimate(count);
    std::vector<int32_t> predecessor(count, -1);
    for (int32_t i = 0; i < count; ++i) estimate[i] = Distance(points[i], goal);

    Budget limits(budget);
    Visibility visibility(walls);
    if (visibility.Stopped()) {
        result.status = SHORTEST_NOT_FINISHED;
        return result;
    }
    std::priority_queue<Open, std::vector<Open>, OpenAfter> open;
    g[0] = 0.0;
    open.push(Open{estimate[0], 0.0, 0});
    while (!open.empty()) {
        Open entry = open.top();
        open.pop();
        if (entry.g != g[entry.node]) continue;  // a better way to it was found since
        int32_t u = entry.node;
        if (u == 1) break;
        if (limits.Spent(result.expanded)) {
            result.status = SHORTEST_NOT_FINISHED;
            return result;
        }
        ++result.expanded;
        // A node may be expanded again if rounding let it be closed before its best way was
        // known; the lazy test below keeps that cheap.
        for (int32_t v = 0; v < count; ++v) {
            if (v == u) continue;
            double reach = g[u] + Distance(points[u], points[v]);
            if (!(reach < g[v])) continue;
            // Through v no way can beat the best way to the goal known so far (the goal is
            // node 1, tested early from every node, so such a bound comes soon).
            if (v != 1 && !(reach + estimate[v] < g[1])) continue;
            if (result.visibilityTests % CHECK_EVERY_TESTS == CHECK_EVERY_TESTS - 1 &&
                limits.Interrupted()) {
                result.status = SHORTEST_NOT_FINISHED;
                return result;
            }
            ++result.visibilityTests;
            bool free = visibility.Free(points[u], points[v]);
            if (visibility.Stopped()) {
                result.status = SHORTEST_NOT_FINISHED;
                return result;
            }
            if (!free) continue;
            g[v] = reach;
            predecessor[v] = u;
            open.push(Open{reach + estimate[v], reach, v});
        }
    }
    if (predecessor[1] < 0) return result;

    for (int32_t node = 1; node != -1; node = predecessor[node])
        result.points.push_back(points[node]);
    std::reverse(result.points.begin(), result.points.end());
    result.length = PathLength(result.points);
    result.status = SHORTEST_FOUND;
    return result;
}
