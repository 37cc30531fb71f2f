// Judging the direct search from outside: the shortest way over the same waypoints, and a
// record of the search's steps as they happened. The search does not know this exists; it only
// offers a trace list that it fills when one is set.
//
// In order of use: FindShortestPath on a copy of the walls; PathLength and PathGap to compare
// the direct path with it; StartSearchTrace before a path job is created and StopSearchTrace
// once it has finished, to read what the search tried.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/geometry.h"
#include "pathsearch/pathsearch.h"

// ---- The shortest path ------------------------------------------------------------------------

// Results of FindShortestPath.
constexpr int32_t SHORTEST_FOUND = 1;
constexpr int32_t SHORTEST_NONE = -1;         // no way exists over these waypoints
constexpr int32_t SHORTEST_NOT_FINISHED = 0;  // the budget was spent or the thread was stopped

// When FindShortestPath gives up; 0 means no limit.
struct ShortestPathBudget {
    int64_t maxExpanded;      // nodes taken from the open set and expanded
    int64_t maxMilliseconds;  // wall-clock time from the call
};

struct ShortestPath {
    int32_t status;            // SHORTEST_FOUND, SHORTEST_NONE or SHORTEST_NOT_FINISHED
    double length;             // the path's length, summed in double; 0 unless found
    std::vector<Vec2> points;  // start … goal when found, else empty
    int64_t waypoints;         // distinct points of the graph, start and goal included
    int64_t expanded;          // nodes expanded
    int64_t visibilityTests;   // segments tested against the walls
};

// True when the segment from `from` toward `to`, made as the search makes it (delta stored as
// floats), meets no wall: IntersectSegments gives 0 for every one.
bool SegmentFree(std::span<const Wall> walls, const Vec2& from, const Vec2& to);

// The shortest polyline from start to goal over the waypoints start, goal and every wall's two
// corner points, whose every segment is free in its direction of travel (SegmentFree). A* over
// the visibility graph with the straight distance to the goal as estimate; a segment is tested
// only when the node it leaves is expanded and the segment could still improve its end, and
// it is tested through the search's wall index (the same answers as SegmentFree). Segments that
// a nearby wall provably blocks are not tested, and waypoints that only such segments reach
// are not looked at: the path, its length and the expansions are those of testing them all
// (of equally long paths, the one that order finds; visibilityTests counts the tests made),
// but for a goal on a wall that no segment reaches: no way at once, 0 expanded.
// Looks at ThreadStopRequested between steps and answers SHORTEST_NOT_FINISHED when asked to
// stop or when the budget runs out, never a length it has not proven.
ShortestPath FindShortestPath(std::span<const Wall> walls, const Vec2& start, const Vec2& goal,
                              const ShortestPathBudget& budget = {});

// The length of the polyline, each segment's length in double, summed in double.
double PathLength(std::span<const Vec2> points);
// How much longer the direct path is than the optimum: direct / optimal - 1; 0 when both are 0.
double PathGap(double directLength, double optimalLength);

// ---- Recording the search --------------------------------------------------------------------

// Starts recording the steps of the next searches (SearchEvent, pathsearch.h) into trace,
// cleared first. Call it before the path job is created, and stop it only once the job has
// finished; one trace at a time.
void StartSearchTrace(std::vector<SearchEvent>* trace);
void StopSearchTrace();

// The walls list as one flat array, for FindShortestPath.
std::vector<Wall> CopyWalls(const CursorList* list);
