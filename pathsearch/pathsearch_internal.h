// The path search's internals, shared by its sources, its tests and the bench: the search
// state and its nodes, the search itself, the worker's procedure, and the acceleration (the
// wall index). A program that only runs path jobs reads pathsearch.h.
//
// Index:
//   [SECTION] Search state
//   [SECTION] The search
//   [SECTION] The worker
//   [SECTION] The wall index
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>

#include "pathsearch/pathsearch.h"
#include "platform/system.h"

// The Euclidean distance of two points as a float: what node costs and wall contacts are
// ranked by, the same in the search and in the index.
inline float PointDistance(const Vec2& a, const Vec2& b) {
    double dx = double{a.x} - b.x;
    double dy = double{a.y} - b.y;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

// ---- [SECTION] Search state ------------------------------------------------------------------

// One point the search reached, linked to the node it was reached from.
struct SearchNode {
    Vec2 point;               // never changes after creation
    float cost;               // length of the way from the start node along the links
    SearchNode* predecessor;  // nullptr for the start node, and for the goal until it is reached
};

// The node registry, the tested segments and SearchLock, with their thread rules, are in
// shared_state.h.

// ---- [SECTION] The search --------------------------------------------------------------------

// The Euclidean distance of the two nodes' points, as a float.
float NodeDistance(const SearchNode* a, const SearchNode* b);
// A new registered node at point ((0, 0) for none) linked to predecessor, its cost the
// predecessor's plus the distance; nullptr (nothing registered) when memory runs out.
SearchNode* CreateSearchNode(SearchNode* predecessor, const Vec2* point);
// The record CreatePathJob makes — start, goal and their two nodes in the registry — without
// starting a worker, for running PathJobWorker (or the search) on a thread of the caller's
// choosing. nullptr when memory runs out; what was made is released then.
PathJob* MakePathJobRecord(const Vec2& start, const Vec2& goal);
// Searches from node from toward target (targetIsCorner 1: a wall corner, else the job's goal),
// depth first over the nearest blocking walls' corners, until every branch has ended. Counts
// job->collisionChecks and links job->goalNode when the goal is reached. Runs on an explicit
// work stack, so no scene can overflow the thread's stack. Returns false when it stopped early
// because the calling thread was asked to stop (ThreadStopRequested); the nodes are then in an
// unfinished state and only fit for ReleaseSearchNodes. When memory runs out (a node, a tested
// segment, the work stack, a lookup table or a trace step) it ends at once with
// job->outOfMemory set: the links are then no answer. Memory missing for the wall copy or the
// wall index only makes it slower (it reads the list, or scans every wall).
bool SearchToward(PathJob* job, SearchNode* from, const Vec2* target, int32_t targetIsCorner);
// What a stopped search leaves to free on a thread apart, since the caller of the stop is
// waiting and unmapping a million walls' worth takes milliseconds: the search's own blocks
// when it had many walls, and the job's node registry and tested segments, which the worker
// hands over whole. Zero-filled fields are nothing to free.
struct WallIndex;
// The search's work stack is in chunks, the first in the search itself.
constexpr int32_t SEARCH_TASK_CHUNKS = 26;
struct SearchLeftovers {
    Wall* wallCopy;
    WallIndex* index;
    void* testedSlots;  // the search's two lookup tables' arrays
    void* nodeSlots;
    CursorList* nodes;  // a handed-over registry, its nodes with it
    CursorList* tested;
    int32_t workerDone;  // set (atomically) once the worker that handed it over has returned
    void* tasks[SEARCH_TASK_CHUNKS - 1];  // the work stack's other chunks
};
// The search stopped last on the calling thread left these (its own blocks only); nullptr when
// it left nothing. ReleaseSearchLeftovers frees everything in the record and the record;
// nullptr does nothing.
SearchLeftovers* TakeSearchLeftovers();
void ReleaseSearchLeftovers(SearchLeftovers* leftovers);
// A finished search keeps its lookup tables' arrays (up to a megabyte each), cleared, for the
// next search; this gives them back. Only while no search runs.
void ReleaseKeptLookups();
// Moves node up its chain of predecessors for as long as it sees the next ancestor directly.
void ShortcutNode(SearchNode* node);

// ---- [SECTION] The worker --------------------------------------------------------------------

// The worker thread's procedure (argument: the PathJob). Exposed so a test can run it on a
// thread of its own choosing.
void PathJobWorker(void* job);
// Releases every registered node and empties the registry and the tested-segment list.
// The worker calls it at its end, holding SearchLock.
void ReleaseSearchNodes();

#if PFAD_CHECKS
// Test seam, in builds with checks only: the next worker to take SearchLock behaves as one that
// faulted at the start of its search and is blocked in the fault report. It abandons itself
// (ThreadAbandon) and waits, holding the lock and the nodes, until LetHeldWorkerGo; then it
// goes on as if its search had found no way.
void HoldNextWorker();
// True while a worker is held.
bool WorkerHeld();
void LetHeldWorkerGo();
#endif

// ---- [SECTION] The wall index ----------------------------------------------------------------
//
// Which walls a segment meets: the plain scans over a wall array, and a uniform grid index that
// answers the same two questions faster. The index only chooses which walls to test; every
// answer is the plain scan's answer, bit for bit.
//
// In order of use: CreateWallIndex over an array of walls (kept by reference, unchanged while
// the index lives), then NearestWallHit and AnyWallHit as often as needed, FreeWallIndex.
//
// Why the grid cannot miss a wall. A wall is "regular" when its origin, delta and far end are
// finite, its points lie within WALL_INDEX_LIMIT of 0 and each non-zero delta component is at
// least 2^-40; a segment likewise. For a regular wall P and a regular segment S:
//  - The float det in IntersectSegments is 0 exactly when the deltas are parallel (the
//    products of such components cannot underflow), so the collinear branch is taken only for
//    truly parallel (or zero-length) pairs.
//  - A crossing (result 1, non-parallel) is the exact crossing of P with S moved by at most
//    2^-24·|diff| and both lengthened by 2^-22 of their length; the contact point lies within
//    2^-19·M of S (M the largest coordinate magnitude involved) and on P, up to its rounding.
//  - A collinear result (1 or -1) needs the rounded gap between the two to be at most 0; the
//    gap is rounded twice, and directions count as equal up to 2^-22 rad, so P lies within 1.5
//    plus 2^-21·M of S, and a collinear contact point is an end of P.
// So every wall that blocks S has a point within margin(S) = 2 + 2^-17·M of S (M over the
// scene and S). The grid lists each wall in every cell within a rounding pad of it, and a query
// visits every cell within margin(S) of the segment, lane by lane from the segment's origin
// outwards; the nearest-wall query stops only when every wall still unvisited lies farther than
// margin(S) beyond the best contact so far. Walls that are not regular are tested by every
// query; a segment that is not regular is answered by the plain scan over all walls.

// The contact distance nothing reaches: a scan starts with it, and no contact this far is taken.
constexpr float NO_WALL_CONTACT = 1e10f;
// Walls and segments with a coordinate larger than this in magnitude are not put in the grid.
constexpr float WALL_INDEX_LIMIT = 16777216.0f;

// How far from origin a wall lies that overlaps a segment from there collinearly: 0 when the
// origin lies between the wall's ends (within the circle over them), else the distance to the
// nearer end.
float OverlapDistance(const Wall& wall, const Vec2& origin);

// The segment from a point toward another as the search makes it: its delta stored as floats.
// The shortest path makes its segments the same way, so that both test the same ones.
inline Segment SegmentToward(const Vec2& from, const Vec2& to) {
    return Segment{from, Vec2{static_cast<float>(double{to.x} - from.x),
                              static_cast<float>(double{to.y} - from.y)}};
}

// IntersectSegments(wall, segment); when it is non-zero, *distance := how far from the segment's
// origin the wall blocks it: to the contact point for 1, OverlapDistance for a collinear
// overlap (-1). Inline: it runs once per wall and segment, most often to "no contact".
inline int32_t WallContact(const Wall& wall, const Segment& segment, float* distance) {
    Vec2 contact{};
    int32_t result = IntersectSegments(wall, segment, contact);
    if (result == 0) [[likely]] {
        *distance = NO_WALL_CONTACT;  // never read; set so no caller reads an unset float
        return 0;
    }
    *distance = result == 1 ? PointDistance(segment.origin, contact)
                            : OverlapDistance(wall, segment.origin);
    return result;
}

// The segment as SurelyApart reads it, converted once for all the walls of a query.
struct ApartSegment {
    double ox, oy, qx, qy;
    explicit ApartSegment(const Segment& segment)
        : ox(segment.origin.x), oy(segment.origin.y), qx(segment.delta.x), qy(segment.delta.y) {}
};
// Whether IntersectSegments(wall, segment) is 0 for certain, decided without its divisions
// and roundings to float; false means "maybe", and IntersectSegments decides. Its det and its t
// and s numerators are the double values computed here (same expressions, same floats in), each
// then rounded to float, and t = numerator / det rounded. For a regular wall and a regular
// segment (the grid's: finite, below 2^26, each non-zero delta component at least 2^-40) a
// non-zero det is at least 2^-126 (a non-zero multiple of it), so its rounding is off by at most
// 2^-24 of it. So when a numerator n, taken with det's sign, is at least |det| (1 + 2^-20), n is
// no subnormal either, and the rounded quotient is above 1 + 2^-21, thus t > 1; when it is at
// most -|det| 2^-20, it keeps its sign and the quotient stays far from underflowing: t < 0.
// Either way, for t or for s, IntersectSegments answers 0.
inline bool SurelyApart(const Wall& wall, const ApartSegment& segment) {
    const double px = wall.delta.x, py = wall.delta.y, qx = segment.qx, qy = segment.qy;
    const double det = px * qy - py * qx;
    if (det == 0.0) return false;  // parallel: the collinear rules decide
    const double diffX = static_cast<float>(segment.ox - wall.origin.x);
    const double diffY = static_cast<float>(segment.oy - wall.origin.y);
    const double size = std::fabs(det), sign = det > 0.0 ? 1.0 : -1.0;
    const double high = size * (1.0 + 0x1p-20), low = -size * 0x1p-20;
    const double t = sign * (diffX * qy - diffY * qx);
    if (t >= high || t <= low) return true;
    const double s = sign * (diffX * py - diffY * px);
    return s >= high || s <= low;
}
inline bool SurelyApart(const Wall& wall, const Segment& segment) {
    return SurelyApart(wall, ApartSegment(segment));
}

// How many walls a scan tests between two looks at the stop request: a look is a system call
// on some platforms, a wall test a few nanoseconds.
constexpr int32_t STOP_CHECK_WALLS = 4096;

// Whether the calling thread was asked to stop (ThreadStopRequested), looked at only every
// `every`-th call, so a loop over many small steps pays little for it. Every loop of the search
// and the index that is long enough to keep a stop waiting asks here.
class StopPoll {
  public:
    explicit StopPoll(int32_t every = STOP_CHECK_WALLS) : every_(every), left_(every) {}
    bool Asked() {
        if (--left_ > 0) [[likely]]
            return false;
        left_ = every_;
        return ThreadStopRequested();
    }

  private:
    int32_t every_;
    int32_t left_;
};

// The plain scan, the definition both index queries keep, over any range of walls in their
// order (an array or the walls list). The nearest blocking wall: the smallest contact distance
// below NO_WALL_CONTACT, the earliest of equally near ones; nullptr when nothing blocks, and
// when the calling thread was asked to stop (*stopped is set then).
template <class Walls>
const Wall* ScanNearestWall(const Walls& walls, const Segment& segment, bool* stopped) {
    StopPoll poll;
    float nearest = NO_WALL_CONTACT;
    const Wall* nearestWall = nullptr;
    for (const Wall& wall : walls) {
        if (poll.Asked()) {
            *stopped = true;
            return nullptr;
        }
        float distance;
        if (WallContact(wall, segment, &distance) != 0 && distance < nearest) {
            nearest = distance;
            nearestWall = &wall;
        }
    }
    *stopped = false;
    return nearestWall;
}
// Whether any wall blocks the segment (IntersectSegments non-zero); false when stopped.
template <class Walls>
bool ScanAnyWallHit(const Walls& walls, const Segment& segment, bool* stopped) {
    StopPoll poll;
    Vec2 contact{};
    *stopped = false;
    for (const Wall& wall : walls) {
        if (poll.Asked()) {
            *stopped = true;
            return false;
        }
        if (IntersectSegments(wall, segment, contact) != 0) return true;
    }
    return false;
}
// The scans over an array: the nearest wall's index, or -1.
inline int32_t LinearNearestWall(const Wall* walls, int32_t count, const Segment& segment,
                                 bool* stopped) {
    const Wall* wall =
        ScanNearestWall(std::span(walls, static_cast<size_t>(count)), segment, stopped);
    return wall ? static_cast<int32_t>(wall - walls) : -1;
}
inline bool LinearAnyWallHit(const Wall* walls, int32_t count, const Segment& segment,
                             bool* stopped) {
    return ScanAnyWallHit(std::span(walls, static_cast<size_t>(count)), segment, stopped);
}

struct WallIndex;

// Builds the index over count walls at walls (which must stay unchanged while it lives).
// nullptr when memory runs out; the caller then uses the plain scans. When the calling thread
// is asked to stop, *stopped is set and the partly built index comes back, fit only for
// FreeWallIndex: the caller chooses where that memory is given back (a stopped job's caller
// is waiting, and unmapping a million walls' index takes milliseconds). Queries on one index must
// not run concurrently. cellSize 0 lets the index choose (about one cell per wall, shaped after
// the walls' directions); tests pass a square cell's side, and the index still grows it when
// the walls would be listed too often.
WallIndex* CreateWallIndex(const Wall* walls, int32_t count, bool* stopped, double cellSize = 0);
// The walls' box and their extents summed, gathered wall by wall (AddWallExtent) where the
// walls are read anyway.
struct WallExtent {
    double minX = INFINITY, minY = INFINITY, maxX = -INFINITY, maxY = -INFINITY;
    double spanX = 0, spanY = 0;
    int32_t count = 0;
};
inline void AddWallExtent(WallExtent& extent, const Wall& wall) {
    double endX = double{wall.origin.x} + wall.delta.x, endY = double{wall.origin.y} + wall.delta.y;
    extent.minX = std::min({extent.minX, double{wall.origin.x}, endX});
    extent.maxX = std::max({extent.maxX, double{wall.origin.x}, endX});
    extent.minY = std::min({extent.minY, double{wall.origin.y}, endY});
    extent.maxY = std::max({extent.maxY, double{wall.origin.y}, endY});
    extent.spanX += std::fabs(double{wall.delta.x});
    extent.spanY += std::fabs(double{wall.delta.y});
    ++extent.count;
}
// A page of memory touched for the first time, in wall tests (one IntersectSegments each): a
// page fault costs a fraction of a microsecond on bare metal but 15 in the virtual machines we
// measure on, where a wall test takes 5 ns. Costing pages as there only delays the index of a
// search of few checks elsewhere, and by no more than those faults would have cost there.
constexpr double PAGE_WALL_TESTS = 3000;
// What a copy and index of that many bytes cost in pages the process has not touched yet:
// only what goes beyond the largest earlier one (NoteSearchMemory) counts, since the memory an
// earlier search gave back is mostly still there for the next (the window, the bench), while a
// fresh process (the solver) pays for every page.
double PageCost(double bytes);
void NoteSearchMemory(double bytes);
// What CreateWallIndex would cost over such walls, estimated in plain wall tests (one
// IntersectSegments each), so a search that will test fewer walls than that builds none, and
// *bytes := the memory it would take. 0 when the walls make no sense of it (not finite, or far
// apart from the rest).
double WallIndexCost(const WallExtent& extent, double* bytes);
// Frees the index; nullptr is ignored.
void FreeWallIndex(WallIndex* index);
// The same answer as LinearNearestWall over the index's walls.
int32_t NearestWallHit(WallIndex* index, const Segment& segment, bool* stopped);
// The same answer as LinearAnyWallHit over the index's walls.
bool AnyWallHit(WallIndex* index, const Segment& segment, bool* stopped);

// What the index holds, for benchmarks and tests.
struct WallIndexShape {
    int32_t columns;
    int32_t rows;
    double cellWidth;
    double cellHeight;
    double originX;  // the grid's top-left corner; cell borders are whole multiples of the sides
    double originY;
    int64_t entries;       // wall listings over all cells
    int32_t alwaysTested;  // walls outside the grid, tested by every query
};
WallIndexShape WallIndexShapeOf(const WallIndex* index);
