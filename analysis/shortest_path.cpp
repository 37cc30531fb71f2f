// The shortest way over the direct search's own waypoints (start, goal, every wall's corner
// points), with the search's own visibility test, found by A* over the visibility graph.
//
// The graph is never built: a node's outgoing segments are tested only when it is expanded,
// and only toward nodes the segment would bring closer, so an easy scene pays for a few
// expansions rather than for all pairs. Segments are directed, because the intersection test is
// not symmetric for collinear walls: the search tests a segment from where it stands toward
// where it goes, and so does this.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <queue>
#include <unordered_map>

#include "analysis/analysis.h"
#include "analysis/shortest_path_parts.h"
#include "analysis/sight_fan.h"
#include "pathsearch/pathsearch_internal.h"
#include "platform/system.h"

namespace {

using namespace shortest_path_parts;

// Likewise for the walls, cells and waypoints of the preparations.
constexpr int64_t SETUP_CHECK_EVERY = 4096;

// An entry of the open set; stale when its g is no longer the node's best.
struct Open {
    double f;
    double g;
    int32_t node;  // the node's number: ties of f go to the lower one
    int32_t slot;  // where the node's data are kept
};
struct OpenAfter {
    // The smallest f first; of equal f the lower node number, so the answer never depends on
    // the heap's inner order.
    bool operator()(const Open& a, const Open& b) const {
        return a.f != b.f ? a.f > b.f : a.node > b.node;
    }
};

}  // namespace

bool SegmentFree(std::span<const Wall> walls, const Vec2& from, const Vec2& to) {
    Segment segment = SegmentToward(from, to);
    Vec2 contact{};
    for (const Wall& wall : walls)
        if (IntersectSegments(wall, segment, contact) != 0) return false;
    return true;
}

namespace {

// The waypoints: 0 the start, 1 the goal (even when it is the start), then each distinct finite
// corner point once, in the order of the walls (bit patterns compared, as points are).
// Empty when the budget ran out or the thread was asked to stop.
std::vector<Vec2> CollectWaypoints(std::span<const Wall> walls, const Vec2& start, const Vec2& goal,
                                   const Budget& limits) {
    std::vector<Vec2> points{start, goal};
    points.reserve(2 * walls.size() + 2);
    size_t slots = 16;
    while (slots < 4 * walls.size() + 8) slots *= 2;
    // Open addressing over the waypoint numbers (+1; 0 marks a free slot).
    std::vector<uint32_t> table(slots, 0);
    auto find = [&](uint64_t key) {
        size_t slot = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & (slots - 1);
        while (table[slot] != 0 && PointKey(points[table[slot] - 1]) != key)
            slot = (slot + 1) & (slots - 1);
        return slot;
    };
    table[find(PointKey(start))] = 1;
    size_t goalSlot = find(PointKey(goal));
    if (table[goalSlot] == 0) table[goalSlot] = 2;
    for (size_t i = 0; i < walls.size(); ++i) {
        if (static_cast<int64_t>(i) % SETUP_CHECK_EVERY == SETUP_CHECK_EVERY - 1 &&
            limits.Interrupted())
            return {};
        for (const Vec2& corner : {walls[i].outerA, walls[i].outerB}) {
            if (!Finite(corner)) continue;
            size_t slot = find(PointKey(corner));
            if (table[slot] != 0) continue;
            points.push_back(corner);
            table[slot] = static_cast<uint32_t>(points.size());
        }
    }
    return points;
}

// Whether the point lies on the wall, by the exact cross product.
bool LiesOn(const Vec2& p, const Wall& wall) {
    double rx = double{p.x} - wall.origin.x, ry = double{p.y} - wall.origin.y;
    double dx = wall.delta.x, dy = wall.delta.y;
    double along = rx * dx + ry * dy;
    return rx * dy - ry * dx == 0.0 && along >= 0.0 && along <= dx * dx + dy * dy;
}

// For each slot, a wall its waypoint lies on (by the exact cross product), or -1: corner points
// that touch a neighbouring wall, as in a maze, where most segments to them are blocked there.
// Empty when the budget ran out or the thread was asked to stop.
std::vector<int32_t> RestingWalls(const SightGrid& grid, const std::vector<Vec2>& at,
                                  std::span<const Wall> walls, const Budget& limits) {
    std::vector<int32_t> resting(at.size(), -1);
    for (int64_t cell = 0, cells = int64_t{grid.columns} * grid.rows; cell < cells; ++cell) {
        if (cell % SETUP_CHECK_EVERY == SETUP_CHECK_EVERY - 1 && limits.Interrupted()) return {};
        for (uint32_t slot = grid.pointStart[cell]; slot < grid.pointStart[cell + 1]; ++slot) {
            const Vec2& p = at[slot];
            for (uint32_t k = grid.wallStart[cell]; k < grid.wallStart[cell + 1]; ++k)
                if (LiesOn(p, walls[grid.wallList[k]])) {
                    resting[slot] = static_cast<int32_t>(grid.wallList[k]);
                    break;
                }
        }
    }
    return resting;
}

bool BudgetInterrupted(const void* budget) {
    return static_cast<const Budget*>(budget)->Interrupted();
}

}  // namespace

// A* over the visibility graph, as the plain form states it: expanding u, every waypoint v whose
// way through u would be shorter than its best so far (and could still beat the best way to the
// goal) is tested, and taken when the segment u -> v is free. The answer depends only on which
// of those tests come out free, never on the order of the others (the open set is ordered by f,
// then node number; the goal is looked at first, as its number comes first). So a test may be
// skipped wherever its answer is known to be "blocked", and a waypoint may be left unvisited
// wherever no test would be made: the same nodes are expanded in the same order, and the same
// path comes back, length and points. Equal-length ties are thereby resolved as the plain form
// resolves them. The shortcuts taken, each of which only ever skips a "blocked" or a test that
// would not be made:
//  - v no farther than u (g[v] <= g[u]): reach = g[u] + distance rounds to g[u] or more;
//  - the sight fan (sight_fan.cpp) proves the segment blocked by one nearby wall;
//  - the wall that u or v lies on, asked alone, blocks it: IntersectSegments is the full test's
//    own answer for that wall, and one wall that blocks is enough;
//  - a goal on a wall that blocks every segment toward it but a few, and those few blocked
//    too, is never reached: "no way" before any expansion (the one shortcut that changes
//    `expanded`);
//  - the waypoints are visited ring of cells by ring of cells around u, and the walk ends when
//    every waypoint in the rings left is proven blocked (the fan is shut beyond their inner
//    radius), or too far: reach rounds to at least g[goal] once the distance exceeds
//    g[goal] - g[u] (addition in double rounds monotonically, and g[goal] is a double); a
//    cell whose every direction the fan has shut is passed over in the same way.
ShortestPath FindShortestPath(std::span<const Wall> walls, const Vec2& start, const Vec2& goal,
                              const ShortestPathBudget& budget) {
    ShortestPath result{SHORTEST_NONE, 0.0, {}, 0, 0, 0};
    // No polyline through a point at infinity or NaN has a length to compare.
    if (!Finite(start) || !Finite(goal)) return result;

    Budget limits(budget);
    auto unfinished = [&result] {
        result.status = SHORTEST_NOT_FINISHED;
        return result;
    };
    std::vector<Vec2> points = CollectWaypoints(walls, start, goal, limits);
    if (points.empty()) return unfinished();
    result.waypoints = static_cast<int64_t>(points.size());
    Visibility visibility(walls);
    if (visibility.Stopped()) return unfinished();
    SightGrid grid;
    if (!BuildSightGrid(points, walls, BudgetInterrupted, &limits, &grid)) return unfinished();

    // The nodes are kept in the grid's cell order (slots), so that a ring of cells reads
    // neighbouring memory; the open set still orders by node number.
    const std::vector<uint32_t>& number = grid.pointList;  // slot -> node number
    const auto count = static_cast<int32_t>(points.size());
    std::vector<Vec2> at(count);
    std::vector<int32_t> slotOf(count);
    for (int32_t slot = 0; slot < count; ++slot) {
        at[slot] = points[number[slot]];
        slotOf[number[slot]] = slot;
    }
    std::vector<Vec2>().swap(points);
    const int32_t startSlot = slotOf[0], goalSlot = slotOf[1];
    std::vector<int32_t>().swap(slotOf);

    constexpr double UNREACHED = std::numeric_limits<double>::infinity();
    std::vector<double> g(count, UNREACHED);
    std::vector<double> estimate(count);
    std::vector<int32_t> predecessor(count, -1);
    for (int32_t i = 0; i < count; ++i) estimate[i] = Distance(at[i], goal);
    std::vector<int32_t> resting = RestingWalls(grid, at, walls, limits);
    if (resting.empty()) return unfinished();
    // A goal on a wall can be reached only along a segment that the walls it lies on leave
    // open, which is rare (one arriving along such a wall's line, say). When the few such
    // segments are all blocked, the goal is never reached, whatever is expanded: said at once,
    // instead of after every waypoint the start reaches (seconds to minutes on a large map,
    // where grid corners touch blocked cells). One wall that blocks is the full test's answer.
    if (resting[goalSlot] >= 0) {
        std::vector<const Wall*> under;
        for (const Wall& wall : walls)
            if (LiesOn(at[goalSlot], wall)) under.push_back(&wall);
        constexpr int32_t MOST_OPEN_SEGMENTS_TESTED = 64;
        int32_t openSegments = 0;
        bool reachable = false;
        for (int32_t u = 0; !reachable && u < count; ++u) {
            if (u % SETUP_CHECK_EVERY == SETUP_CHECK_EVERY - 1 && limits.Interrupted())
                return unfinished();
            if (u == goalSlot) continue;
            Segment segment = SegmentToward(at[u], at[goalSlot]);
            Vec2 contact{};
            if (std::any_of(under.begin(), under.end(), [&](const Wall* wall) {
                    return IntersectSegments(*wall, segment, contact) != 0;
                }))
                continue;
            if (++openSegments > MOST_OPEN_SEGMENTS_TESTED) break;  // not rare here: search
            ++result.visibilityTests;
            reachable = visibility.Free(at[u], at[goalSlot]);
            if (visibility.Stopped()) return unfinished();
        }
        if (!reachable && openSegments <= MOST_OPEN_SEGMENTS_TESTED) return result;
    }
    std::vector<uint32_t> wallSeen(walls.size(), 0);
    uint32_t expansionStamp = 0;
    SightFan fan;

    std::priority_queue<Open, std::vector<Open>, OpenAfter> open;
    g[startSlot] = 0.0;
    open.push(Open{estimate[startSlot], 0.0, 0, startSlot});
    bool interrupted = false;
    // Tests the segment u -> v when it could improve v; false when the run must end.
    auto relax = [&](int32_t u, int32_t v) {
        if (g[v] <= g[u]) return true;  // reach, g[u] plus a distance, rounds to g[u] or more
        double reach = g[u] + Distance(at[u], at[v]);
        if (!(reach < g[v])) return true;
        if (v != goalSlot && !(reach + estimate[v] < g[goalSlot])) return true;
        if (grid.provable && fan.Hidden(at[v])) return true;
        // The wall either end rests on blocks most segments to or from it: asked alone, it
        // gives the answer it would give in the full test.
        Segment segment = SegmentToward(at[u], at[v]);
        Vec2 contact{};
        if (resting[v] >= 0 && IntersectSegments(walls[resting[v]], segment, contact) != 0)
            return true;
        if (resting[u] >= 0 && IntersectSegments(walls[resting[u]], segment, contact) != 0)
            return true;
        if (result.visibilityTests % CHECK_EVERY_TESTS == CHECK_EVERY_TESTS - 1 &&
            limits.Interrupted()) {
            interrupted = true;
            return false;
        }
        ++result.visibilityTests;
        bool free = visibility.Free(at[u], at[v]);
        if (visibility.Stopped()) {
            interrupted = true;
            return false;
        }
        if (!free) return true;
        g[v] = reach;
        predecessor[v] = u;
        open.push(Open{reach + estimate[v], reach, static_cast<int32_t>(number[v]), v});
        return true;
    };

    // Every waypoint in ring k or beyond lies at least (k - 1) cells from the node; the slack
    // covers how the cells were rounded.
    const double slack =
        1e-9 * (grid.span + std::fabs(grid.originX) + std::fabs(grid.originY) + 1.0);
    while (!open.empty()) {
        Open entry = open.top();
        open.pop();
        const int32_t u = entry.slot;
        if (entry.g != g[u]) continue;  // a better way to it was found since
        if (u == goalSlot) break;
        if (limits.Spent(result.expanded)) return unfinished();
        ++result.expanded;
        // A node may be expanded again if rounding let it be closed before its best way was
        // known; the lazy test keeps that cheap.
        const Vec2 here = at[u];
        if (++expansionStamp == 0) {
            std::fill(wallSeen.begin(), wallSeen.end(), 0);
            expansionStamp = 1;
        }
        fan.Aim(here, grid);
        const int32_t cx = SightCell(here.x, grid.originX, grid.cellSize, grid.columns);
        const int32_t cy = SightCell(here.y, grid.originY, grid.cellSize, grid.rows);
        const int32_t rings = std::max({cx, grid.columns - 1 - cx, cy, grid.rows - 1 - cy});
        auto addWalls = [&](int64_t cell) {
            for (uint32_t k = grid.wallStart[cell], end = grid.wallStart[cell + 1]; k < end; ++k) {
                uint32_t w = grid.wallList[k];
                if (wallSeen[w] == expansionStamp) continue;
                wallSeen[w] = expansionStamp;
                fan.AddWall(walls[w]);
            }
        };
        if (grid.provable) {
            ForSightRing(grid, cx, cy, 0, addWalls);
            ForSightRing(grid, cx, cy, 1, addWalls);
        }
        // The goal first, as its number comes first.
        bool going = relax(u, goalSlot);
        for (int32_t ring = 0; going && ring <= rings; ++ring) {
            const double inner = (ring - 1) * grid.cellSize - slack;
            const bool far = ring >= 2 && grid.provable;
            if (ring >= 2) {
                if (g[u] + inner * (1.0 - 1e-12) >= g[goalSlot]) break;
                if (far && fan.HiddenBeyond(inner)) break;
                // A node in the open can look across the whole grid before it tests anything.
                if (ring % 16 == 0 && limits.Interrupted()) {
                    interrupted = true;
                    break;
                }
            }
            ForSightRing(grid, cx, cy, ring, [&](int64_t cell) {
                if (!going) return;
                if (far) {
                    // A cell that every direction is shut across: nothing to see there, and
                    // its walls shade only what is shaded already.
                    double x0 =
                        grid.originX + static_cast<double>(cell % grid.columns) * grid.cellSize;
                    double y0 =
                        grid.originY + static_cast<double>(cell / grid.columns) * grid.cellSize;
                    if (fan.BoxHidden(x0 - slack, y0 - slack, x0 + grid.cellSize + slack,
                                      y0 + grid.cellSize + slack, inner))
                        return;
                    addWalls(cell);
                }
                for (auto v = static_cast<int32_t>(grid.pointStart[cell]),
                          end = static_cast<int32_t>(grid.pointStart[cell + 1]);
                     going && v < end; ++v)
                    if (v != u && v != goalSlot) going = relax(u, v);
            });
        }
        if (interrupted) return unfinished();
    }
    if (predecessor[goalSlot] < 0) return result;

    for (int32_t slot = goalSlot; slot != -1; slot = predecessor[slot])
        result.points.push_back(at[slot]);
    std::reverse(result.points.begin(), result.points.end());
    result.length = PathLength(result.points);
    result.status = SHORTEST_FOUND;
    return result;
}

double PathLength(std::span<const Vec2> points) {
    double length = 0.0;
    for (size_t i = 1; i < points.size(); ++i) length += Distance(points[i - 1], points[i]);
    return length;
}

double PathGap(double directLength, double optimalLength) {
    if (optimalLength == 0.0)
        return directLength == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
    return directLength / optimalLength - 1.0;
}

std::vector<Wall> CopyWalls(const CursorList* list) {
    std::vector<Wall> copy;
    if (!list) return copy;
    copy.reserve(static_cast<size_t>(ListCount(list)));
    for (const Wall& wall : ListItems<Wall>(list)) copy.push_back(wall);
    return copy;
}
