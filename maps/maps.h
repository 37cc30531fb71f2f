// Benchmark maps as scenes: grid maps (.map), navigation meshes (.mesh) and the scenario files
// (.scen) that list start/goal queries on them with their published optimal lengths.
//
// This library knows the files and the walls they give, not the search. In order of use:
// LoadMapScene reads a map and turns it into walls; ReadScenario reads the queries;
// QueryPoint turns a query's coordinates into scene units; PointOnWall tells the queries that
// start or end on a wall apart.
//
// Every reader refuses a bad file whole, with "FILE:LINE: problem" in *error (line 0 when the
// problem is the file as a whole), and leaves its output alone then.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/geometry.h"

// The default size of a grid cell in scene units. The search goes around a wall's end through a
// point one unit beyond it; at 100 units a cell that detour is 1 % of a cell, and the largest
// sample (768 cells) stays at 76,800 units, where floats still hold every integer exactly and
// the intersection test's rounding is far below one unit.
constexpr int32_t DEFAULT_CELL = 100;
// The default scale of mesh units to scene units; meshes of grid maps count in cells.
constexpr double DEFAULT_MESH_SCALE = 100.0;
// Scene coordinates stay below this, so that integers stay exact as floats.
constexpr double MAX_SCENE_COORDINATE = 16777216.0;
// Map and scenario files longer than this are refused unread.
constexpr int64_t MAX_MAP_FILE_BYTES = int64_t{256} << 20;

// ---- Reading files ------------------------------------------------------------------------

// The whole file as text. False with "FILE: problem" when it is missing, unreadable, not a
// regular file or longer than maxBytes.
bool ReadTextFile(const std::string& path, int64_t maxBytes, std::string* text, std::string* error);

// ---- Grid maps ----------------------------------------------------------------------------

struct GridMap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> blocked;  // row by row, 1 for a blocked cell
};

// Reads "type octile", "height H", "width W", "map" and H rows of W cells ('.', 'G', 'S' free,
// anything else blocked). What follows the last row is ignored; a trailing '\r' is not a cell.
bool ReadGridMap(std::string_view text, const std::string& name, GridMap* map, std::string* error);
// True for a blocked cell and for every place outside the map.
bool GridCellBlocked(const GridMap& map, int64_t x, int64_t y);
// The walls of the map with cells of `cell` units: every border between a free and a blocked
// cell (outside the map counts as blocked), merged into maximal straight runs, the horizontal
// ones row line by row line from the top, each left to right, then the vertical ones column
// line by column line from the left, each top to bottom. A run goes on through a point where
// two blocked cells touch only at their corners, so that the pinch stays closed.
std::vector<Wall> GridMapWalls(const GridMap& map, int32_t cell);
// How many walls GridMapWalls gives, without making them.
int64_t GridMapWallCount(const GridMap& map);

// ---- Meshes -------------------------------------------------------------------------------

struct MeshMap {
    int32_t version = 0;    // 2 or 3
    std::vector<double> x;  // vertices in mesh units, y growing downwards (version 3 flipped)
    std::vector<double> y;
    std::vector<int32_t> wallFrom;  // the edges that are walls, as vertex pairs
    std::vector<int32_t> wallTo;
    std::vector<double> insideX;  // one point inside each traversable polygon (its centroid)
    std::vector<double> insideY;
    double flipY = 0;  // version 3: a file's y is flipY - y here; 0 for version 2
};

// Reads a mesh of version 2 (vertices with their polygons, polygons with vertices and
// neighbours, -1 for none) or version 3 (1-based ids, traversable flags, entries <= 0 for an
// edge that may not be crossed, y growing upwards).
bool ReadMesh(std::string_view text, const std::string& name, MeshMap* mesh, std::string* error);
// One wall per edge without a neighbour to cross into, mesh units times scale.
std::vector<Wall> MeshWalls(const MeshMap& mesh, double scale);

// ---- Scenarios ----------------------------------------------------------------------------

struct ScenarioQuery {
    int32_t line;  // in the scenario file
    int32_t bucket;
    std::string map;  // the map's path as the file gives it
    int32_t mapWidth;
    int32_t mapHeight;
    double startX, startY, goalX, goalY;
    double optimal;  // in the map's own units
};

// Reads a scenario: "version 1" (tab-separated), "version 1.0" (spaces) or "version 3", then
// one query of nine columns per line; blank lines are skipped.
bool ReadScenario(std::string_view text, const std::string& name,
                  std::vector<ScenarioQuery>* queries, std::string* error);

// ---- Maps as scenes -----------------------------------------------------------------------

// How a query's coordinates name a point of a grid map: the cell's centre (the 8-connected
// grid benchmarks) or its top-left corner (the any-angle benchmarks). Mesh queries are points.
enum QueryReference { REFERENCE_OCTILE, REFERENCE_EUCLIDEAN };

struct MapScene {
    bool isMesh = false;
    GridMap grid;
    MeshMap mesh;
    double unit = 0;  // scene units per map unit: the cell size or the mesh scale
    std::vector<Wall> walls;
};

// Reads the map at path (a mesh when its first line is "mesh", else a grid map) and makes its
// walls with cells of `cell` units or mesh units times `scale`. Refused, with the file and
// the reason, when the walls would be more than maxWalls or reach beyond MAX_SCENE_COORDINATE.
bool LoadMapScene(const std::string& path, int32_t cell, double scale, int64_t maxWalls,
                  MapScene* scene, std::string* error);
// The query point (x, y) of the map in scene units.
Vec2 QueryPoint(const MapScene& scene, double x, double y, QueryReference reference);
// Whether (x, y) names a place in the map: a grid cell index inside it; for a mesh, any point.
bool QueryInMap(const MapScene& scene, double x, double y);
// Two free points of the map far apart: the free cells' centres nearest the top-left and the
// bottom-right corners, or the inside points of a mesh's polygons likewise. False when the map
// has no free place.
bool FarApartFreePoints(const MapScene& scene, Vec2* start, Vec2* goal);
// True when the point lies on one of the walls (ends included), where every segment from it
// meets that wall.
bool PointOnWall(std::span<const Wall> walls, const Vec2& point);
