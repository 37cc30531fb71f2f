// What a waypoint cannot see, proven cheaply: the shortest path's expansion asks here before it
// tests a segment through the wall index, and stops looking farther once every direction is
// shut. Only ever a proof that IntersectSegments blocks a segment; never a guess.
//
// In order of use: BuildSightGrid once over the waypoints and walls; per expansion, Aim a fan at
// the node, AddWall the walls near it (nearest cells first), then ask Hidden for each waypoint
// and HiddenBeyond to know when the rest are all hidden.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry/geometry.h"

// Sectors of a fan's table of what it proved, per direction.
constexpr int32_t SIGHT_SECTORS = 1024;

// Waypoints and walls sorted into square cells, to visit the waypoints around a point ring by
// ring. A wall is listed in the cells along it (some corner-clipped cells may be missed: a wall
// missing from a cell only proves less).
struct SightGrid {
    double originX = 0, originY = 0, cellSize = 1;
    double maxX = 0, maxY = 0;  // with originX and originY, the box of the waypoints
    int32_t columns = 1, rows = 1;
    std::vector<uint32_t> pointStart;  // columns * rows + 1 offsets into pointList
    std::vector<uint32_t> pointList;   // per cell, waypoint numbers in increasing order
    std::vector<uint32_t> wallStart;   // likewise into wallList
    std::vector<uint32_t> wallList;    // per cell, the walls that can shade (SightWall)
    // Every waypoint lies within this distance of every other.
    double span = 0;
    // The least difference of two distinct waypoint x (y) coordinates; infinity if none.
    double gapX = 0, gapY = 0;
    // False when a waypoint is too far out for the fan's proof: the fan then proves nothing.
    bool provable = false;
};

// The grid over points (all finite) and walls. Returns false, the grid incomplete, as soon as
// interrupted(context) says so; it asks every few thousand walls or points.
bool BuildSightGrid(std::span<const Vec2> points, std::span<const Wall> walls,
                    bool (*interrupted)(const void*), const void* context, SightGrid* grid);

// The cell column (or row) of a coordinate, clamped into the grid's count of them.
inline int32_t SightCell(double value, double origin, double size, int32_t count) {
    double cell = std::floor((value - origin) / size);
    if (!(cell >= 0)) return 0;
    return cell >= count - 1 ? count - 1 : static_cast<int32_t>(cell);
}

// Calls visit(cell) for each cell of the grid ring cells away from (column, row) in both
// directions at most and exactly that far in one: the square's border, clipped to the grid.
template <class Visit>
void ForSightRing(const SightGrid& grid, int32_t column, int32_t row, int32_t ring, Visit&& visit) {
    auto at = [&](int32_t x, int32_t y) {
        if (x >= 0 && x < grid.columns && y >= 0 && y < grid.rows)
            visit(int64_t{y} * grid.columns + x);
    };
    if (ring == 0) {
        at(column, row);
        return;
    }
    for (int32_t x = std::max(column - ring, 0); x <= std::min(column + ring, grid.columns - 1);
         ++x) {
        at(x, row - ring);
        at(x, row + ring);
    }
    for (int32_t y = std::max(row - ring + 1, 0); y <= std::min(row + ring - 1, grid.rows - 1);
         ++y) {
        at(column - ring, y);
        at(column + ring, y);
    }
}

// Whether a wall can shade in a fan: finite, within 2^24 of 0, of non-zero length, each delta
// component 0 or at least 2^-40 (so no product of the intersection test underflows).
bool SightWall(const Wall& wall);

class SightFan {
  public:
    // Starts over around from, a waypoint of the grid.
    void Aim(const Vec2& from, const SightGrid& grid);
    // Lets the wall (one that SightWall accepts) shade what lies behind it, seen from the fan's
    // point.
    void AddWall(const Wall& wall);
    // True only when the segment from the fan's point toward to, as the search makes it, meets
    // a wall added so far (IntersectSegments gives 1).
    bool Hidden(const Vec2& to) const;
    // True only when every waypoint farther than radius from the fan's point is blocked by a
    // wall added so far.
    bool HiddenBeyond(double radius);
    // True only when every waypoint in the box (which lies radius or more from the fan's point,
    // and holds every waypoint that the grid put in it) is blocked by a wall added so far.
    // Radius may only grow from call to call, as in HiddenBeyond.
    bool BoxHidden(double minX, double minY, double maxX, double maxY, double radius);

  private:
    struct Arc {
        double low, high;  // diamond angles (sight_fan.cpp), 0 <= low <= high <= 4
        double shade;      // what lies in them farther than this is blocked
    };
    void AddArc(double low, double high);
    // Counts the arcs that shade everything beyond radius as covered.
    void Settle(double radius);
    bool Covered(double low, double high) const;
    void AddBoundaryRays(const SightGrid& grid);
    void AddBoundary(const SightGrid& grid);
    void ShadeAxes(const Wall& wall);
    void ShadeArc(const Wall& wall);

    double fromX_ = 0, fromY_ = 0;
    double span_ = 1;
    // Per sector, the least shade of the arcs that cover it; infinity while none does.
    double shade_[SIGHT_SECTORS];
    // The four rays along the axes (+x, -x, +y, -y): what lies on one farther than this.
    double axisShade_[4];
    std::vector<Arc> pending_;                        // arcs not yet counted as covered
    std::vector<std::pair<double, double>> covered_;  // sorted, disjoint, merged
    double settled_ = 0;                   // the radius up to which pending arcs were counted
    const SightGrid* boundary_ = nullptr;  // the grid whose box's arcs are still to be added
    double nearestEdge_ = 0;
};
