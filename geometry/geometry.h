// Points, walls and the segment intersection test.
//
// Arithmetic rules, kept by every function here and by all code that computes with Vec2:
// values are stored as 32-bit floats, every expression is evaluated in double (cast
// explicitly: float * float is a float expression in C++) and rounded to float only where it
// is stored; floats become integers only through RoundHalfEven; points and segments are equal
// only when their floats are equal bit for bit.
#pragma once

#include <cstdint>

#include "pathsearch/shared_state.h"  // walls and its reader count
#include "platform/memory.h"

// A point or direction in pixels of the drawing surface, y growing downwards.
struct Vec2 {
    float x;
    float y;
};
static_assert(sizeof(Vec2) == 8);

// The nearest 32-bit integer, ties to even. Total: NaN, infinities and every value whose
// rounded result lies outside the 32-bit range give -2147483648.
int32_t RoundHalfEven(double value);

// dst := the unit vector in the direction of src, or (0, 0) when src's length, stored as a
// float, is exactly 0. dst may be src. Returns 0.
int32_t NormalizeVec2(const Vec2& src, Vec2& dst);

// A directed segment from origin to origin + delta.
struct Segment {
    Vec2 origin;
    Vec2 delta;
};
static_assert(sizeof(Segment) == 16);

// A wall: a segment plus its two corner points, one unit beyond each end along its line,
// which the path search uses to go around it. Stored unchanged in the scene file.
struct Wall {
    Vec2 origin;
    Vec2 delta;
    Vec2 outerA;  // origin - u, u the wall's unit direction
    Vec2 outerB;  // (origin + delta) + u
};
static_assert(sizeof(Wall) == 32 && alignof(Wall) == 4, "a Wall is exactly eight floats");

// The wall with this origin and delta and its corner points one unit beyond each end.
Wall WallWithCorners(const Vec2& origin, const Vec2& delta);
// The wall from (x1, y1) to (x2, y2) with its corner points, as AddWall stores it.
Wall WallBetween(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// Appends the wall from (x1, y1) to (x2, y2) to walls. Returns 0, or -1 when memory ran out
// (walls unchanged). Only while no path job exists (free the job first).
int32_t AddWall(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
// Adds the walls top, left, right, bottom of the box from (x, y) of that width and height.
// Returns 0, or -1 when any of them could not be added.
int32_t AddBox(int32_t x, int32_t y, int32_t width, int32_t height);

// Tests first (a wall) against second (a search segment); both closed, ends included.
//   1  they meet in a point: hit := that point, computed along first;
//   0  they do not meet (parallel lines on distinct lines included, however close);
//  -1  collinear and overlapping in more than a point; hit is not written.
// Collinear segments are measured in whole units: the distance between the origins is rounded
// before a length is subtracted, and the difference is rounded again, so a gap or overlap of
// under one half counts as touching (1). Directions are compared bit for bit, so a negated
// zero (-0.0) does not match +0.0 and some touching collinear pairs report 0.
// A zero-length wall is parallel to everything.
int32_t IntersectSegments(const Segment& first, const Segment& second, Vec2& hit);
#if PFAD_CHECKS
// Test seam, in builds with checks only: how many times IntersectSegments ran, on every thread,
// since the last reset; the work a search did, or still did after it was asked to stop. Nothing
// is counted before the first reset, so that the bench's searches pay no locked add per test.
int64_t IntersectionTestCount();
void ResetIntersectionTestCount();
// Counts tests whose answer was found without IntersectSegments (the same answer, only sooner).
void CountIntersectionTests(int64_t count);
#endif
inline int32_t IntersectSegments(const Wall& first, const Segment& second, Vec2& hit) {
    return IntersectSegments(Segment{first.origin, first.delta}, second, hit);
}
