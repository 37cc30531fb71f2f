// The map, mesh and scenario readers on small hand-made files with known walls, and every kind
// of bad file they refuse.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "maps/maps.h"

namespace {

struct WallRun {
    int32_t x1, y1, x2, y2;
};

void ExpectWalls(const std::vector<Wall>& walls, const std::vector<WallRun>& runs, int32_t cell) {
    ASSERT_EQ(walls.size(), runs.size());
    for (size_t i = 0; i < runs.size(); ++i) {
        const WallRun& r = runs[i];
        Wall expected = WallBetween(r.x1 * cell, r.y1 * cell, r.x2 * cell, r.y2 * cell);
        EXPECT_EQ(std::memcmp(&walls[i], &expected, sizeof(Wall)), 0)
            << "wall " << i << " should run from (" << r.x1 << ", " << r.y1 << ") to (" << r.x2
            << ", " << r.y2 << "), is from (" << walls[i].origin.x << ", " << walls[i].origin.y
            << ") by (" << walls[i].delta.x << ", " << walls[i].delta.y << ")";
    }
}

GridMap Grid(const std::string& text) {
    GridMap map;
    std::string error;
    EXPECT_TRUE(ReadGridMap(text, "t.map", &map, &error)) << error;
    return map;
}

TEST(GridMapWalls, BordersOfBlockedCellsAndTheOuterBorderMergedIntoRuns) {
    struct Case {
        const char* what;
        std::string map;
        std::vector<WallRun> runs;
    };
    const Case cases[] = {
        {"a free row: one run per side of the outer border",
         "type octile\nheight 1\nwidth 3\nmap\n.GS\n",
         {{0, 0, 3, 0}, {0, 1, 3, 1}, {0, 0, 0, 1}, {3, 0, 3, 1}}},
        {"blocked everywhere: nothing to wall off",
         "type octile\nheight 2\nwidth 2\nmap\n@T\nOW\n",
         {}},
        {"a blocked cell amid free ones, blocked border cells, CRLF and trailing text",
         "type octile\r\nheight 3\r\nwidth 4\r\nmap\r\n@...\r\n@.T.\r\n@...\r\nnot a row\n",
         {{1, 0, 4, 0},
          {2, 1, 3, 1},
          {2, 2, 3, 2},
          {1, 3, 4, 3},
          {1, 0, 1, 3},
          {2, 1, 2, 2},
          {3, 1, 3, 2},
          {4, 0, 4, 3}}},
        // The pinch where the two touch stays closed: the runs cross there.
        {"two blocked cells touching only at a corner",
         "type octile\nheight 4\nwidth 4\nmap\n....\n.@..\n..@.\n....\n",
         {{0, 0, 4, 0},
          {1, 1, 2, 1},
          {1, 2, 3, 2},
          {2, 3, 3, 3},
          {0, 4, 4, 4},
          {0, 0, 0, 4},
          {1, 1, 1, 2},
          {2, 1, 2, 3},
          {3, 2, 3, 3},
          {4, 0, 4, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GridMap map = Grid(c.map);
        ExpectWalls(GridMapWalls(map, 1), c.runs, 1);
        ExpectWalls(GridMapWalls(map, 100), c.runs, 100);
        EXPECT_EQ(GridMapWallCount(map), static_cast<int64_t>(c.runs.size()));
    }
}

TEST(GridMapWalls, NoSegmentPassesBetweenCellsThatTouchOnlyAtACorner) {
    GridMap map = Grid("type octile\nheight 4\nwidth 4\nmap\n....\n.@..\n..@.\n....\n");
    std::vector<Wall> walls = GridMapWalls(map, DEFAULT_CELL);
    // From the free cell right of the first blocked one to the free cell left of the second,
    // straight through the point where the blocked ones touch.
    EXPECT_FALSE(SegmentFree(walls, Vec2{250, 150}, Vec2{150, 250}));
    EXPECT_FALSE(SegmentFree(walls, Vec2{150, 250}, Vec2{250, 150}));
    // Beside the pinch the free cells see each other.
    EXPECT_TRUE(SegmentFree(walls, Vec2{250, 150}, Vec2{350, 150}));
}

struct BadFile {
    const char* what;
    std::string text;
    int32_t line;         // where the problem is named; 0 for the file as a whole
    const char* problem;  // part of the message
};

TEST(ReadGridMap, RefusesABadFileNamingFileLineAndProblem) {
    const BadFile cases[] = {
        {"wrong type", "type tile\nheight 1\nwidth 1\nmap\n.\n", 1, "type octile"},
        {"no map line", "type octile\nheight 1\nwidth 1\n.\n", 4, "\"map\""},
        {"height not a number", "type octile\nheight x\nwidth 1\nmap\n.\n", 2, "whole number"},
        {"width of zero", "type octile\nheight 1\nwidth 0\nmap\n.\n", 3, "whole number"},
        {"height twice", "type octile\nheight 1\nheight 1\nmap\n.\n", 3, "height H"},
        {"short row", "type octile\nheight 2\nwidth 3\nmap\n...\n..\n", 6, "a row of 2 cells"},
        {"long row", "type octile\nheight 1\nwidth 2\nmap\n...\n", 5, "a row of 3 cells"},
        {"rows missing", "type octile\nheight 3\nwidth 1\nmap\n.\n.\n", 6, "after 2 of 3 rows"},
        {"more cells than bytes", "type octile\nheight 100000\nwidth 100000\nmap\n", 4,
         "more than the file holds"},
    };
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.what);
        GridMap map;
        map.width = -7;
        std::string error;
        EXPECT_FALSE(ReadGridMap(c.text, "bad.map", &map, &error));
        EXPECT_EQ(error.rfind("bad.map:" + std::to_string(c.line) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
        EXPECT_EQ(map.width, -7);
    }
}

// A unit square cut along its diagonal into two polygons; only the diagonal has a neighbour.
const char* SQUARE_V2 =
    "mesh\n2\n4 2\n"
    "0 0 2 0 1\n1 0 1 0\n1 1 2 0 1\n0 1 1 1\n"
    "3 0 1 2 1 -1 -1\n"
    "3 0 2 3 -1 0 -1\n";
// The same square in version 3 (ids from 1, y upwards), with a third, closed face beside it
// whose shared edge may not be crossed.
const char* SQUARE_V3 =
    "mesh\n3\n5 3\n"
    "0 1\n1 1\n1 0\n0 0\n2 1\n"
    "1 3 1 2 3 2 0 -3\n"
    "1 3 1 3 4 0 1 0\n"
    "0 3 2 5 3 0 0 1\n";

TEST(ReadMesh, WallsAreTheEdgesWithNoNeighbourToCrossInto) {
    for (const char* text : {SQUARE_V2, SQUARE_V3}) {
        MeshMap mesh;
        std::string error;
        ASSERT_TRUE(ReadMesh(text, "square.mesh", &mesh, &error)) << error;
        std::vector<Wall> walls = MeshWalls(mesh, 10);
        // Both versions: 0-1, 1-2 of the first polygon, then 3-0 and 2-3 of the second.
        ExpectWalls(walls, {{0, 0, 1, 0}, {1, 0, 1, 1}, {0, 1, 0, 0}, {1, 1, 0, 1}}, 10);
        ASSERT_EQ(mesh.insideX.size(), 2u);  // the closed face is no place to start from
        MapScene scene;
        scene.isMesh = true;
        scene.mesh = mesh;
        scene.unit = 10;
        Vec2 start, goal;
        ASSERT_TRUE(FarApartFreePoints(scene, &start, &goal));
        EXPECT_FALSE(PointOnWall(walls, start));
        EXPECT_FALSE(PointOnWall(walls, goal));
    }
}

TEST(ReadMesh, RefusesABadFileNamingFileLineAndProblem) {
    const BadFile cases[] = {
        {"wrong header", "mash\n2\n0 0\n", 1, "\"mesh\""},
        {"unknown version", "mesh\n4\n0 0\n", 2, "version"},
        {"counts not numbers", "mesh\n2\nfour 2\n", 3, "numbers of vertices"},
        {"vertex count does not match", "mesh\n2\n1 0\n0 0 2 0\n", 4, "does not match"},
        {"coordinate not a number", "mesh\n2\n1 0\n0 y 0\n", 4, "two numbers"},
        {"vertex index out of range", "mesh\n2\n3 1\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3 -1 -1 -1\n", 7,
         "vertex index"},
        {"neighbour out of range", "mesh\n2\n3 1\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2 -1 1 -1\n", 7,
         "neighbour"},
        {"polygon entries short", "mesh\n2\n3 1\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2 -1 -1\n", 7,
         "needs 3 vertex and 3 neighbour"},
        {"two-sided polygon", "mesh\n2\n3 1\n0 0 0\n1 0 0\n0 1 0\n2 0 1 -1 -1\n", 7, "from 3"},
        {"file ends early", "mesh\n2\n3 1\n0 0 0\n1 0 0\n", 5, "after 2 of 3 vertices"},
        {"more than counted", "mesh\n3\n3 1\n0 0\n1 0\n0 1\n1 3 1 2 3 0 0 0\n9 9\n", 8,
         "more lines"},
        {"version 3 flag", "mesh\n3\n3 1\n0 0\n1 0\n0 1\n2 3 1 2 3 0 0 0\n", 7, "0 or 1"},
    };
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.what);
        MeshMap mesh;
        mesh.version = -7;
        std::string error;
        EXPECT_FALSE(ReadMesh(c.text, "bad.mesh", &mesh, &error));
        EXPECT_EQ(error.rfind("bad.mesh:" + std::to_string(c.line) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
        EXPECT_EQ(mesh.version, -7);
    }
}

TEST(ReadScenario, ReadsBothHeadersAlike) {
    const char* tabs = "version 1\n0\tmaps/dao/my map.map\t4\t3\t1\t2\t3\t0\t2.82843\n\n\n";
    const char* spaces = "version 1.0\n0 my_map.map 4 3 1 2 3 0 2.82843\r\n";
    std::vector<ScenarioQuery> a, b;
    std::string error;
    ASSERT_TRUE(ReadScenario(tabs, "a.scen", &a, &error)) << error;
    ASSERT_TRUE(ReadScenario(spaces, "b.scen", &b, &error)) << error;
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(a[0].map, "maps/dao/my map.map");  // a tab-separated path may hold spaces
    for (const ScenarioQuery& q : {a[0], b[0]}) {
        EXPECT_EQ(q.line, 2);
        EXPECT_EQ(q.mapWidth, 4);
        EXPECT_EQ(q.mapHeight, 3);
        EXPECT_EQ(q.startX, 1);
        EXPECT_EQ(q.startY, 2);
        EXPECT_EQ(q.goalX, 3);
        EXPECT_EQ(q.goalY, 0);
        EXPECT_EQ(q.optimal, 2.82843);
    }
}

TEST(ReadScenario, RefusesABadFileNamingFileLineAndProblem) {
    const BadFile cases[] = {
        {"no header", "0\tm.map\t4\t3\t1\t2\t3\t0\t2\n", 1, "version 1"},
        {"unknown version", "version 2\n", 1, "version 1"},
        {"a column short", "version 1\n0\tm.map\t4\t3\t1\t2\t3\t0\t2\n0\tm.map\t4\t3\t1\t2\t3\t0\n",
         3, "this line has 8"},
        {"coordinate not a number", "version 1.0\n0 m.map 4 3 1 two 3 0 2\n", 2,
         "\"two\" is not a number"},
        {"size not whole", "version 1.0\n0 m.map 4.5 3 1 2 3 0 2\n", 2, "width and height"},
        {"negative optimum", "version 1.0\n0 m.map 4 3 1 2 3 0 -2\n", 2, "negative"},
    };
    for (const BadFile& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<ScenarioQuery> queries(3);
        std::string error;
        EXPECT_FALSE(ReadScenario(c.text, "bad.scen", &queries, &error));
        EXPECT_EQ(error.rfind("bad.scen:" + std::to_string(c.line) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
        EXPECT_EQ(queries.size(), 3u);
    }
}

}  // namespace
