// Walls: the walls list, AddWall and AddBox with their corner points, and IntersectSegments.
#include <atomic>
#include <cmath>

#include "geometry/geometry.h"
#include "platform/assert.h"

Wall WallWithCorners(const Vec2& origin, const Vec2& delta) {
    Wall wall{};
    wall.origin = origin;
    wall.delta = delta;
    Vec2 u;
    NormalizeVec2(wall.delta, u);
    wall.outerA = Vec2{static_cast<float>(double{wall.origin.x} - u.x),
                       static_cast<float>(double{wall.origin.y} - u.y)};
    Vec2 end{static_cast<float>(double{wall.origin.x} + wall.delta.x),
             static_cast<float>(double{wall.origin.y} + wall.delta.y)};
    wall.outerB =
        Vec2{static_cast<float>(double{end.x} + u.x), static_cast<float>(double{end.y} + u.y)};
    return wall;
}

Wall WallBetween(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    // In 64 bits: the difference of two 32-bit coordinates can overflow 32 bits.
    return WallWithCorners(
        Vec2{static_cast<float>(x1), static_cast<float>(y1)},
        Vec2{static_cast<float>(int64_t{x2} - x1), static_cast<float>(int64_t{y2} - y1)});
}

int32_t AddWall(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    PFAD_ASSERT(WallReaderCount() == 0,
                "AddWall while a path job exists, whose worker may be reading the walls: free the "
                "job first (EditScene does: free, change, create the next job)");
    auto* wall = static_cast<Wall*>(ListAppend(walls));
    if (!wall) return -1;
    *wall = WallBetween(x1, y1, x2, y2);
    return 0;
}

int32_t AddBox(int32_t x, int32_t y, int32_t width, int32_t height) {
    int32_t top = AddWall(x, y, x + width, y);
    int32_t left = AddWall(x, y, x, y + height);
    int32_t right = AddWall(x + width, y, x + width, y + height);
    int32_t bottom = AddWall(x, y + height, x + width, y + height);
    return top | left | right | bottom;
}

static double Cross(Vec2 a, Vec2 b) { return double{a.x} * b.y - double{a.y} * b.x; }

static double Length(Vec2 v) { return std::sqrt(double{v.x} * v.x + double{v.y} * v.y); }

static bool SameBits(const Vec2& a, const Vec2& b) { return BlockEqual(&a, &b, sizeof(Vec2)) != 0; }

#if PFAD_CHECKS
namespace {
std::atomic<int64_t> intersectionTests{0};
std::atomic<bool> intersectionCounting{false};
}  // namespace

int64_t IntersectionTestCount() { return intersectionTests.load(std::memory_order_relaxed); }
void ResetIntersectionTestCount() {
    intersectionTests.store(0, std::memory_order_relaxed);
    intersectionCounting.store(true, std::memory_order_relaxed);
}
void CountIntersectionTests(int64_t count) {
    if (intersectionCounting.load(std::memory_order_relaxed))
        intersectionTests.fetch_add(count, std::memory_order_relaxed);
}
#endif

int32_t IntersectSegments(const Segment& first, const Segment& second, Vec2& hit) {
#if PFAD_CHECKS
    // Counted only once a test has asked: a locked add in the hottest call would halve the
    // speed of the plain scans the bench compares with.
    if (intersectionCounting.load(std::memory_order_relaxed))
        intersectionTests.fetch_add(1, std::memory_order_relaxed);
#endif
    const Segment& p = first;
    const Segment& q = second;
    float det = static_cast<float>(Cross(p.delta, q.delta));
    Vec2 diff{static_cast<float>(double{q.origin.x} - p.origin.x),
              static_cast<float>(double{q.origin.y} - p.origin.y)};

    if (det != 0.0f) {
        float tNumerator = static_cast<float>(Cross(diff, q.delta));
        float t = static_cast<float>(double{tNumerator} / det);
        // Written so that a NaN passes on, as the plain comparison does.
        if (t < 0.0f || t > 1.0f) return 0;
        float sNumerator = static_cast<float>(Cross(diff, p.delta));
        float s = static_cast<float>(double{sNumerator} / det);
        if (s < 0.0f || s > 1.0f) return 0;
        hit.x = static_cast<float>(double{p.origin.x} + double{t} * p.delta.x);
        hit.y = static_cast<float>(double{p.origin.y} + double{t} * p.delta.y);
        return 1;
    }

    if (Cross(diff, p.delta) != 0.0) return 0;  // parallel, on distinct lines

    // Collinear: measure the gap between them in whole units.
    int32_t gap = RoundHalfEven(Length(diff));
    Vec2 nDiff, nP, nQ;
    NormalizeVec2(diff, nDiff);
    NormalizeVec2(p.delta, nP);
    NormalizeVec2(q.delta, nQ);
    int32_t k = 0;
    if (gap != 0) {
        if (SameBits(nDiff, nP)) {  // q starts ahead of p's origin, in p's direction
            gap = RoundHalfEven(static_cast<double>(gap) - Length(p.delta));
            k = 1;
        }
        nDiff = Vec2{-nDiff.x, -nDiff.y};  // now from q's origin towards p's origin
        if (SameBits(nDiff, nQ)) gap = RoundHalfEven(static_cast<double>(gap) - Length(q.delta));
    } else if (SameBits(nP, nQ)) {
        return -1;  // same origin, same direction
    }
    if (gap < 0) return -1;
    if (gap == 0) {
        hit.x = static_cast<float>(double{p.origin.x} + static_cast<double>(k) * p.delta.x);
        hit.y = static_cast<float>(double{p.origin.y} + static_cast<double>(k) * p.delta.y);
        return 1;
    }
    return 0;
}
