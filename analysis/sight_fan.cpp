// The sight fan and its grid.
//
// Why a hidden point is blocked. Let u be the fan's point, v a waypoint, and Q the segment the
// search tests: origin u, delta q = float(v - u), so |q| is within 2^-24 of |v - u| and its
// direction within 2^-23 rad of v - u's. Let P be a wall that SightWall accepts (origin o,
// delta p), and say the ray from u along q meets P's line at wall parameter t and distance r
// (exactly, in real numbers; s = r / |q| is the segment parameter), at an angle psi to P.
// IntersectSegments rounds: diff = float(u - o) moves by at most 2^-24 |u - o|, which moves t
// by at most 2^-24 |u - o| / (|p| sin psi) and s by at most 2^-24 |u - o| / (|q| sin psi); the
// numerators, det and quotients stored as floats add a relative 4 * 2^-24 at most (no operand
// comes near underflow or overflow for such a wall and a segment of length 2^-20 or more, and
// the double roundings are far below these). So IntersectSegments gives 1 whenever det is not
// 0 and, with A = |u - o| / sin psi,
//     2^-20 (A / |p| + 1) <= t <= 1 - 2^-20 (A / |p| + 1)                               (1)
//     2^-20 (A + |q|) <= r  and  r + 2^-20 A <= |q| (1 - 2^-20)                          (2)
// which leaves each bound 16 times what it needs.
//
// Arcs. Seen from u, the wall's points from t = eta to t = 1 - eta (eta the margin of (1),
// with sin psi taken at its least, at one of the wall's ends) span an arc of directions
// shorter than pi; every ray in it meets the wall at such a t. Shrunk by 2^-20 rad at both
// ends (more than q's turn and the rounding of the angles), it still holds q's direction
// whenever it holds v's. Along the arc r = (distance of u from the line) / sin psi is at most
// its value at an end, and never below that distance. So if that distance meets the left side
// of (2) (|q| at most the grid's span), every waypoint in the arc farther than
// shade / (1 - 2^-20), shade = (larger end distance) + 2^-20 A, is blocked by the wall.
//
// The axes. A waypoint with exactly u's y (or x) is tested along an exact axis, q = (dx, 0):
// then IntersectSegments' t is b / p.y for b = float(u.y - o.y), computed as the quotient of
// two floats that are the same double when b = p.y, and 0 when b = 0; so t lies in [0, 1] when
// b is 0 or p.y or b / p.y lies 2^-20 inside. Its s is n / (-p.y dx) for n the float
// cross(diff, p), whatever v: the wall blocks every such v beyond the offset n / -p.y (in the
// ray's direction) by the relative 2^-20 and an absolute 2^-20 (so det cannot underflow).
// Waypoints off an axis lie at least gap / span away from it in angle (gap the least
// difference of distinct coordinates), so a fan shut but for such wedges around the axes,
// with the axes themselves shaded, hides everything beyond.

#include "analysis/sight_fan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double MARGIN = 9.5367431640625e-07;            // 2^-20
constexpr double LIMIT = 16777216.0;                      // 2^24: larger coordinates are not proven
constexpr double SMALLEST_DELTA = 9.094947017729282e-13;  // 2^-40
constexpr double INF = std::numeric_limits<double>::infinity();

// Directions are measured by the diamond angle: 0 toward +x, 1 toward +y, 2 toward -x, 3 toward
// -y, growing with the true angle and at least as fast (so a turn of MARGIN in it is a turn of
// MARGIN rad or more), at most twice as fast; opposite directions lie 2 apart. Cheaper than
// atan2, and a rounding error of a few parts in 2^52.
constexpr double TURN = 4.0;
double Direction(double dx, double dy) {
    if (dy >= 0.0) return dx >= 0.0 ? dy / (dx + dy) : 1.0 + -dx / (dy - dx);
    return dx < 0.0 ? 2.0 + -dy / (-dx - dy) : 3.0 + dx / (dx - dy);
}

int32_t SectorOf(double dx, double dy) {
    auto sector = static_cast<int32_t>(Direction(dx, dy) * (SIGHT_SECTORS / TURN));
    return std::clamp(sector, 0, SIGHT_SECTORS - 1);
}

// Calls add(low, high, split) for the arc from direction a to direction b the shorter way round
// (shorter than half a turn), in two pieces where it passes direction 0: split is 1 when low is
// such a cut rather than an end of the arc, 2 when high is, else 0.
template <class Add>
void ShorterArc(double a, double b, Add&& add) {
    double low = std::min(a, b), high = std::max(a, b);
    if (high - low <= TURN / 2) {
        add(low, high, 0);
    } else {
        add(high, TURN, 2);
        add(0.0, low, 1);
    }
}

bool RegularComponent(float component) {
    double magnitude = std::fabs(double{component});
    return magnitude == 0.0 || (magnitude >= SMALLEST_DELTA && magnitude <= 2.0 * LIMIT);
}

bool WithinLimit(double x, double y) { return std::fabs(x) <= LIMIT && std::fabs(y) <= LIMIT; }

// Calls visit(cell) for the cells along the wall, each once, in order along it.
template <class Visit>
void WalkWall(const SightGrid& grid, const Wall& wall, Visit&& visit) {
    double ax = wall.origin.x, ay = wall.origin.y;
    double dx = wall.delta.x, dy = wall.delta.y;
    double length = std::sqrt(dx * dx + dy * dy);
    auto steps = static_cast<int64_t>(std::ceil(length / (grid.cellSize * 0.5))) + 1;
    int64_t last = -1;
    for (int64_t i = 0; i <= steps; ++i) {
        double f = static_cast<double>(i) / static_cast<double>(steps);
        int64_t cell =
            int64_t{SightCell(ay + f * dy, grid.originY, grid.cellSize, grid.rows)} * grid.columns +
            SightCell(ax + f * dx, grid.originX, grid.cellSize, grid.columns);
        if (cell != last) visit(cell);
        last = cell;
    }
}

constexpr int32_t CHECK_EVERY = 4096;
// Cells of about six waypoints: fewer cells to walk, few more waypoints to look at.
constexpr double CELL_SCALE = 2.5;

// The least difference of two distinct values of the coordinate; infinity when there are none.
// Sorted by radix, a byte a pass, so that a stop request is looked at every few thousand values;
// 0 (an empty wedge: sound, only slower) when interrupted says so.
double LeastGap(std::span<const Vec2> points, float Vec2::*coordinate,
                bool (*interrupted)(const void*), const void* context) {
    // Order-preserving keys: negative floats reversed below the positive ones.
    std::vector<uint32_t> keys(points.size()), other(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        uint32_t bits;
        float value = points[i].*coordinate;
        std::memcpy(&bits, &value, sizeof bits);
        keys[i] = (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
    }
    for (int32_t shift = 0; shift < 32; shift += 8) {
        size_t count[257] = {};
        for (uint32_t key : keys) ++count[((key >> shift) & 0xFF) + 1];
        for (int32_t b = 0; b < 256; ++b) count[b + 1] += count[b];
        for (size_t i = 0; i < keys.size(); ++i) {
            if (i % CHECK_EVERY == 0 && interrupted(context)) return 0.0;
            other[count[(keys[i] >> shift) & 0xFF]++] = keys[i];
        }
        keys.swap(other);
    }
    auto valueOf = [](uint32_t key) {
        uint32_t bits = (key & 0x80000000u) ? key & 0x7FFFFFFFu : ~key;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return double{value};
    };
    double gap = INF;
    for (size_t i = 1; i < keys.size(); ++i)
        if (keys[i] != keys[i - 1]) {
            double difference = valueOf(keys[i]) - valueOf(keys[i - 1]);
            // -0 and +0 differ in bits, not in value.
            if (difference > 0.0) gap = std::min(gap, difference);
        }
    return gap;
}

}  // namespace

bool SightWall(const Wall& wall) {
    double endX = double{wall.origin.x} + wall.delta.x;
    double endY = double{wall.origin.y} + wall.delta.y;
    return WithinLimit(wall.origin.x, wall.origin.y) && WithinLimit(endX, endY) &&
           RegularComponent(wall.delta.x) && RegularComponent(wall.delta.y) &&
           (wall.delta.x != 0.0f || wall.delta.y != 0.0f);
}

bool BuildSightGrid(std::span<const Vec2> points, std::span<const Wall> walls,
                    bool (*interrupted)(const void*), const void* context, SightGrid* grid) {
    double minX = INF, minY = INF, maxX = -INF, maxY = -INF;
    for (const Vec2& point : points) {
        minX = std::min(minX, double{point.x});
        maxX = std::max(maxX, double{point.x});
        minY = std::min(minY, double{point.y});
        maxY = std::max(maxY, double{point.y});
    }
    if (points.empty()) minX = minY = maxX = maxY = 0;
    grid->provable = WithinLimit(minX, minY) && WithinLimit(maxX, maxY);
    double width = maxX - minX, height = maxY - minY;
    grid->span = std::sqrt(width * width + height * height);
    auto count = static_cast<double>(std::max<size_t>(points.size(), 1));
    // Larger cells when walls would be listed too often.
    double size = std::max({std::sqrt(width * height / count) * CELL_SCALE,
                            std::max(width, height) / count, 1e-3 * (1.0 + grid->span)});
    const int64_t maxListings = 16 * static_cast<int64_t>(walls.size()) + 4096;
    for (;;) {
        auto columns = static_cast<int64_t>(std::floor(width / size)) + 1;
        auto rows = static_cast<int64_t>(std::floor(height / size)) + 1;
        if (columns * rows > 2 * static_cast<int64_t>(points.size()) + 64) {
            size *= 1.25;
            continue;
        }
        grid->originX = minX;
        grid->originY = minY;
        grid->maxX = maxX;
        grid->maxY = maxY;
        grid->cellSize = size;
        grid->columns = static_cast<int32_t>(columns);
        grid->rows = static_cast<int32_t>(rows);
        const auto cells = static_cast<size_t>(columns * rows);

        grid->wallStart.assign(cells + 1, 0);
        int64_t listings = 0;
        for (size_t i = 0; i < walls.size() && listings <= maxListings; ++i) {
            if (i % CHECK_EVERY == 0 && interrupted(context)) return false;
            if (!SightWall(walls[i])) continue;
            WalkWall(*grid, walls[i], [&](int64_t cell) {
                grid->wallStart[static_cast<size_t>(cell)]++;
                ++listings;
            });
        }
        if (listings > maxListings) {
            size *= 2.0;
            continue;
        }
        uint32_t offset = 0;
        for (size_t cell = 0; cell <= cells; ++cell) {
            uint32_t n = grid->wallStart[cell];
            grid->wallStart[cell] = offset;
            offset += n;
        }
        grid->wallList.assign(static_cast<size_t>(listings), 0);
        std::vector<uint32_t> next(grid->wallStart.begin(), grid->wallStart.end() - 1);
        for (size_t i = 0; i < walls.size(); ++i) {
            if (i % CHECK_EVERY == 0 && interrupted(context)) return false;
            if (!SightWall(walls[i])) continue;
            WalkWall(*grid, walls[i], [&](int64_t cell) {
                grid->wallList[next[static_cast<size_t>(cell)]++] = static_cast<uint32_t>(i);
            });
        }

        grid->pointStart.assign(cells + 1, 0);
        std::vector<uint32_t> cellOfPoint(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            if (i % CHECK_EVERY == 0 && interrupted(context)) return false;
            auto cell = static_cast<uint32_t>(
                int64_t{SightCell(points[i].y, minY, size, grid->rows)} * columns +
                SightCell(points[i].x, minX, size, grid->columns));
            cellOfPoint[i] = cell;
            grid->pointStart[cell]++;
        }
        offset = 0;
        for (size_t cell = 0; cell <= cells; ++cell) {
            uint32_t n = grid->pointStart[cell];
            grid->pointStart[cell] = offset;
            offset += n;
        }
        grid->pointList.assign(points.size(), 0);
        next.assign(grid->pointStart.begin(), grid->pointStart.end() - 1);
        for (size_t i = 0; i < points.size(); ++i)
            grid->pointList[next[cellOfPoint[i]]++] = static_cast<uint32_t>(i);
        grid->gapX = LeastGap(points, &Vec2::x, interrupted, context);
        grid->gapY = LeastGap(points, &Vec2::y, interrupted, context);
        return !interrupted(context);
    }
}

void SightFan::Aim(const Vec2& from, const SightGrid& grid) {
    fromX_ = from.x;
    fromY_ = from.y;
    span_ = std::max(grid.span, 1.0);
    std::fill(std::begin(shade_), std::end(shade_), INF);
    std::fill(std::begin(axisShade_), std::end(axisShade_), INF);
    pending_.clear();
    covered_.clear();
    settled_ = 0.0;
    // The wedges around the axes where only waypoints on an axis can lie: gap / span rad, half
    // that in diamond angle.
    double wedgeY = std::min(grid.gapY / span_ * 0.5 * (1.0 - MARGIN), 0.125);
    double wedgeX = std::min(grid.gapX / span_ * 0.5 * (1.0 - MARGIN), 0.125);
    if (wedgeY > 0) {
        AddArc(0.0, wedgeY);
        AddArc(2.0 - wedgeY, 2.0 + wedgeY);
        AddArc(TURN - wedgeY, TURN);
    }
    if (wedgeX > 0) {
        AddArc(1.0 - wedgeX, 1.0 + wedgeX);
        AddArc(3.0 - wedgeX, 3.0 + wedgeX);
    }
    AddBoundaryRays(grid);
    boundary_ = &grid;
}

// No waypoint lies outside the grid's box: a direction whose ray leaves the box is shut
// beyond where it leaves. An edge through the point shuts the half-turn outside it (open at
// the axes along the edge, where waypoints on it may lie).
void SightFan::AddBoundaryRays(const SightGrid& grid) {
    // The axis rays end at the box too (-y at the top edge, +x the right, +y the bottom, -x
    // the left).
    const double distance[4] = {fromY_ - grid.originY, grid.maxX - fromX_, grid.maxY - fromY_,
                                fromX_ - grid.originX};
    const double pad = 1e-9 * (span_ + std::fabs(fromX_) + std::fabs(fromY_));
    const int32_t rayOfEdge[4] = {3, 0, 2, 1};
    nearestEdge_ = INF;
    for (int32_t e = 0; e < 4; ++e) {
        axisShade_[rayOfEdge[e]] =
            std::min(axisShade_[rayOfEdge[e]], std::max(distance[e], 0.0) * (1.0 + 1e-9) + pad);
        nearestEdge_ = std::min(nearestEdge_, std::max(distance[e], 0.0));
    }
}

void SightFan::AddBoundary(const SightGrid& grid) {
    constexpr double TINY = 1e-12;
    const double corners[4][2] = {{grid.originX, grid.originY},
                                  {grid.maxX, grid.originY},
                                  {grid.maxX, grid.maxY},
                                  {grid.originX, grid.maxY}};
    // Edges top, right, bottom, left: the distance to each, and the half-turn outside it.
    const double distance[4] = {fromY_ - grid.originY, grid.maxX - fromX_, grid.maxY - fromY_,
                                fromX_ - grid.originX};
    const double outside[4][2] = {{2.0 + TINY, TURN - TINY},
                                  {3.0 + TINY, 5.0 - TINY},
                                  {TINY, 2.0 - TINY},
                                  {1.0 + TINY, 3.0 - TINY}};
    // The axis rays end at the box too (-y at the top edge, +x the right, +y the bottom, -x
    // the left).
    const double pad = 1e-9 * (span_ + std::fabs(fromX_) + std::fabs(fromY_));
    const int32_t rayOfEdge[4] = {3, 0, 2, 1};
    for (int32_t e = 0; e < 4; ++e)
        axisShade_[rayOfEdge[e]] =
            std::min(axisShade_[rayOfEdge[e]], std::max(distance[e], 0.0) * (1.0 + 1e-9) + pad);
    for (int32_t e = 0; e < 4; ++e) {
        if (!(distance[e] > 0.0)) {
            ShorterArc(outside[e][0], std::min(outside[e][1], TURN),
                       [&](double low, double high, int32_t) {
                           pending_.push_back(Arc{low, high, 0.0});
                       });
            if (outside[e][1] > TURN) pending_.push_back(Arc{0.0, outside[e][1] - TURN, 0.0});
            continue;
        }
        // The edge in pieces that grow geometrically from the point nearest here, each shut
        // beyond the farther of its ends: far along the edge, far pieces.
        const double* a = corners[e];
        const double* b = corners[(e + 1) % 4];
        double ex = b[0] - a[0], ey = b[1] - a[1];
        double length = std::sqrt(ex * ex + ey * ey);
        double ux = length > 0 ? ex / length : 0.0, uy = length > 0 ? ey / length : 0.0;
        double foot = std::clamp((fromX_ - a[0]) * ux + (fromY_ - a[1]) * uy, 0.0, length);
        double step = std::max(distance[e], 1.0);
        auto piece = [&](double from, double to) {
            double ax = a[0] + from * ux - fromX_, ay = a[1] + from * uy - fromY_;
            double bx = a[0] + to * ux - fromX_, by = a[1] + to * uy - fromY_;
            if (to >= length) bx = b[0] - fromX_, by = b[1] - fromY_;
            if (from <= 0.0) ax = a[0] - fromX_, ay = a[1] - fromY_;
            double shade = std::max(std::sqrt(ax * ax + ay * ay), std::sqrt(bx * bx + by * by)) *
                               (1.0 + 1e-9) +
                           pad;
            ShorterArc(Direction(ax, ay), Direction(bx, by), [&](double low, double high, int32_t) {
                pending_.push_back(Arc{low, high, shade});
            });
        };
        for (double from = foot, size = step; from < length; from += size, size *= 2)
            piece(from, std::min(from + size, length));
        for (double to = foot, size = step; to > 0.0; to -= size, size *= 2)
            piece(std::max(to - size, 0.0), to);
    }
}

void SightFan::AddArc(double low, double high) {
    // Insert and merge; touching closed arcs merge too.
    auto at = std::lower_bound(covered_.begin(), covered_.end(), std::make_pair(low, high));
    size_t i = static_cast<size_t>(at - covered_.begin());
    covered_.insert(at, {low, high});
    if (i > 0 && covered_[i - 1].second >= covered_[i].first) {
        covered_[i - 1].second = std::max(covered_[i - 1].second, covered_[i].second);
        covered_.erase(covered_.begin() + static_cast<std::ptrdiff_t>(i));
        --i;
    }
    while (i + 1 < covered_.size() && covered_[i].second >= covered_[i + 1].first) {
        covered_[i].second = std::max(covered_[i].second, covered_[i + 1].second);
        covered_.erase(covered_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
}

void SightFan::AddWall(const Wall& wall) {
    ShadeAxes(wall);
    ShadeArc(wall);
}

void SightFan::ShadeAxes(const Wall& wall) {
    // Only a wall across an axis line (an end on it counts) can meet that line, and not one
    // parallel to it.
    double ox = wall.origin.x - fromX_, oy = wall.origin.y - fromY_;
    bool horizontal = wall.delta.y != 0.0f && oy * (oy + wall.delta.y) <= 0.0;
    bool vertical = wall.delta.x != 0.0f && ox * (ox + wall.delta.x) <= 0.0;
    if (!horizontal && !vertical) return;
    // diff and the s numerator as IntersectSegments computes them.
    auto a = static_cast<float>(fromX_ - wall.origin.x);
    auto b = static_cast<float>(fromY_ - wall.origin.y);
    auto inside = [](float part, float whole) {
        if (part == 0.0f || part == whole) return true;
        double ratio = double{part} / whole;
        return ratio >= MARGIN && ratio <= 1.0 - MARGIN;
    };
    horizontal = horizontal && inside(b, wall.delta.y);
    vertical = vertical && inside(a, wall.delta.x);
    if (!horizontal && !vertical) return;
    auto n = static_cast<float>(double{a} * wall.delta.y - double{b} * wall.delta.x);
    auto shade = [&](int32_t positive, int32_t negative, double offset) {
        // offset: where the ray's line meets the wall, signed along the axis.
        int32_t ray = offset >= 0.0 ? positive : negative;
        double far = std::fabs(offset) * (1.0 + MARGIN) + MARGIN;
        axisShade_[ray] = std::min(axisShade_[ray], far);
        if (offset == 0.0) {  // at u itself: both ways
            axisShade_[positive] = std::min(axisShade_[positive], far);
            axisShade_[negative] = std::min(axisShade_[negative], far);
        }
    };
    if (horizontal) shade(0, 1, double{n} / -double{wall.delta.y});
    if (vertical) shade(2, 3, double{n} / double{wall.delta.x});
}

void SightFan::ShadeArc(const Wall& wall) {
    double ox = wall.origin.x, oy = wall.origin.y, px = wall.delta.x, py = wall.delta.y;
    double wx = ox - fromX_, wy = oy - fromY_;  // from the fan's point to the wall's origin
    double length = std::sqrt(px * px + py * py);
    double lineDistance = std::fabs(wx * py - wy * px) / length;
    double toOrigin = std::sqrt(wx * wx + wy * wy);
    double toEnd = std::sqrt((wx + px) * (wx + px) + (wy + py) * (wy + py));
    // The angles are computed from coordinates as large as these: their rounding must stay
    // far below the arc's shrinking.
    double magnitude = std::max({std::fabs(fromX_), std::fabs(fromY_), std::fabs(ox), std::fabs(oy),
                                 std::fabs(ox + px), std::fabs(oy + py)});
    if (!(lineDistance >= magnitude * 1.4901161193847656e-08)) return;  // 2^-26
    double sinLeast = lineDistance / std::max(toOrigin, toEnd);
    if (!(sinLeast >= MARGIN)) return;
    double a = toOrigin / sinLeast;
    double eta = MARGIN * (a / length + 1.0);
    if (!(eta < 0.5)) return;
    if (!(lineDistance >= MARGIN * (a + span_))) return;
    double x1 = wx + eta * px, y1 = wy + eta * py;
    double x2 = wx + (1.0 - eta) * px, y2 = wy + (1.0 - eta) * py;
    // No point of the wall lies farther than its farther end.
    double shade = std::max(toOrigin, toEnd) + MARGIN * a;
    constexpr double WIDTH = TURN / SIGHT_SECTORS;
    ShorterArc(Direction(x1, y1), Direction(x2, y2), [&](double low, double high, int32_t split) {
        // Shrunk at its true ends only, not where it was split at direction 0.
        if (split != 1) low += MARGIN;
        if (split != 2) high -= MARGIN;
        if (!(low <= high)) return;
        pending_.push_back(Arc{low, high, shade});
        auto first = static_cast<int32_t>(std::ceil(low / WIDTH));
        auto last = static_cast<int32_t>(std::floor(high / WIDTH)) - 1;
        for (int32_t k = std::max(first, 0); k <= std::min(last, SIGHT_SECTORS - 1); ++k)
            shade_[k] = std::min(shade_[k], shade);
    });
}

bool SightFan::Hidden(const Vec2& to) const {
    double dx = to.x - fromX_, dy = to.y - fromY_;
    double distance = std::sqrt(dx * dx + dy * dy);
    if (!(distance > 0.0)) return false;
    double within = distance * (1.0 - MARGIN);
    if (dy == 0.0 && dx != 0.0 && within > axisShade_[dx > 0 ? 0 : 1]) return true;
    if (dx == 0.0 && dy != 0.0 && within > axisShade_[dy > 0 ? 2 : 3]) return true;
    return within > shade_[SectorOf(dx, dy)];
}

void SightFan::Settle(double radius) {
    if (radius <= settled_) return;
    settled_ = radius;
    double within = radius * (1.0 - MARGIN);
    // The box's arcs shut nothing nearer than its nearest edge: added when first of use.
    if (boundary_ && within > nearestEdge_) {
        AddBoundary(*boundary_);
        boundary_ = nullptr;
    }
    size_t kept = 0;
    for (const Arc& arc : pending_) {
        if (within > arc.shade)
            AddArc(arc.low, arc.high);
        else
            pending_[kept++] = arc;
    }
    pending_.resize(kept);
}

bool SightFan::Covered(double low, double high) const {
    // The merged arc that starts at or before low must reach high.
    auto after = std::upper_bound(covered_.begin(), covered_.end(),
                                  std::make_pair(low, std::numeric_limits<double>::infinity()));
    if (after == covered_.begin()) return false;
    --after;
    return after->first <= low && after->second >= high;
}

bool SightFan::HiddenBeyond(double radius) {
    double within = radius * (1.0 - MARGIN);
    for (double axis : axisShade_)
        if (!(within > axis)) return false;
    Settle(radius);
    return covered_.size() == 1 && covered_[0].first <= 0.0 && covered_[0].second >= TURN;
}

bool SightFan::BoxHidden(double minX, double minY, double maxX, double maxY, double radius) {
    double within = radius * (1.0 - MARGIN);
    if (!(radius > 0.0)) return false;
    // Waypoints on an axis through the point: the axis ray must be shut.
    bool acrossX = minX <= fromX_ && fromX_ <= maxX, acrossY = minY <= fromY_ && fromY_ <= maxY;
    if (acrossX && acrossY) return false;
    if (acrossX && !(within > axisShade_[maxY < fromY_ ? 3 : 2])) return false;
    if (acrossY && !(within > axisShade_[maxX < fromX_ ? 1 : 0])) return false;
    Settle(radius);
    double x0 = minX - fromX_, x1 = maxX - fromX_, y0 = minY - fromY_, y1 = maxY - fromY_;
    double directions[4] = {Direction(x0, y0), Direction(x1, y0), Direction(x0, y1),
                            Direction(x1, y1)};
    double low = *std::min_element(directions, directions + 4);
    double high = *std::max_element(directions, directions + 4);
    if (high - low <= TURN / 2) return Covered(low, high);
    // The box lies across direction 0 (+x): its directions run from the least one above half
    // a turn round through 0 to the greatest one below.
    double upper = TURN, lower = 0.0;
    for (double direction : directions) {
        if (direction > TURN / 2) upper = std::min(upper, direction);
        if (direction <= TURN / 2) lower = std::max(lower, direction);
    }
    return Covered(upper, TURN) && Covered(0.0, lower);
}
