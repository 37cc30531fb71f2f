// Deterministic scene families for benchmarks, differential tests and the analysis tools:
// each family makes the same walls, start and goal from the same size and seed on every
// machine (the random numbers are mt19937's raw output, never a library distribution).
//
// Every wall is made as AddWall makes it (WallBetween), from whole-number end points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/geometry.h"

struct FamilyScene {
    std::string family;  // the family's name, as SceneFamilyNames lists it
    int32_t size;        // the family's size parameter (walls, cells, teeth, stairs)
    uint32_t seed;
    std::vector<Wall> walls;
    Vec2 start;
    Vec2 goal;
};

// Random walls of 5 to 40 pixels in a square of side 40·√count (one wall per 1,600 square
// pixels however many there are); start and goal in the middle of its left and right sides.
FamilyScene RandomDenseScene(int32_t count, uint32_t seed);
// The start-up scene's border box and count random walls inside it (any length), start and
// goal of start-up: the window's own scene, denser as count grows.
FamilyScene RandomBoxScene(int32_t count, uint32_t seed);
// A cells × cells maze of 16-pixel cells, closed all round: a random spanning tree of the cells
// (every cell reachable) with 13 % of the other inner edges opened as well, so there are loops.
// Start in the first corner cell, goal in the far corner cell. Axis-aligned walls meeting end to
// end: collinear neighbours everywhere.
FamilyScene GridMazeScene(int32_t cells, uint32_t seed);
// teeth long parallel walls, alternately hanging from the top and standing on the bottom of a
// box, so the way snakes between them; the seed shifts each tooth by up to 3 pixels.
FamilyScene CombScene(int32_t teeth, uint32_t seed);
// count pieces of one line (direction picked by the seed), end to end, overlapping or apart
// by a few pixels; start and goal on either side of the line's middle.
FamilyScene CollinearChainScene(int32_t count, uint32_t seed);
// Stair k is a wall at x = 10k from (10k, 3k) far up; each goal step hits the next stair first,
// so the search nests one level deeper per stair.
FamilyScene StaircaseScene(int32_t stairs, uint32_t seed);
// The start-up scene: the border box, start (50, 340), goal (750, 340).
FamilyScene StartUpScene(int32_t unused, uint32_t seed);
// The comb with teeth 40,000 long and the staircase with stairs reaching to y = -60,000: walls
// that each cross thousands of cells of an index sized for one cell per wall.
FamilyScene TallCombScene(int32_t teeth, uint32_t seed);
FamilyScene LowStaircaseScene(int32_t stairs, uint32_t seed);

// The family names in a fixed order: "random-dense", "random-box", "grid-maze", "comb",
// "collinear-chain", "staircase", "start-up", "tall-comb", "low-staircase".
const std::vector<std::string>& SceneFamilyNames();
// The scene of the named family; false for an unknown name.
bool MakeFamilyScene(const std::string& family, int32_t size, uint32_t seed, FamilyScene* scene);
