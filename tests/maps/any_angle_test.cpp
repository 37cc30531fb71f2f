// The any-angle sample: our shortest path over the corner points against the published
// Euclidean optima. The corner points sit one unit beyond the walls' ends, so at 100 units a
// cell each bend of our path may cost up to two units (0.02 cells) over the true optimum,
// which bends exactly at the blocked squares' corners; it is never shorter than the optimum,
// since our walls close everything the benchmark's blocked squares close.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "maps/maps.h"

namespace {

// The shortest path takes about a second for the sample's long queries: the normal run checks
// every sixteenth query, short and long alike; with PFAD_ANY_ANGLE_FULL set (CTest's
// maps_any_angle_full, label slow, a few minutes) every query is checked.
size_t QueryStride() { return std::getenv("PFAD_ANY_ANGLE_FULL") ? 1 : 16; }
// The published optima carry nine decimals.
constexpr double PUBLISHED_ROUNDING = 1e-8;

TEST(AnyAngleSample, ShortestPathOverCornerPointsIsWithinTwoUnitsABendOfTheOptimum) {
    const std::string folder = std::string(PFAD_TEST_DATA) + "/maps/";
    MapScene scene;
    std::string text, error;
    ASSERT_TRUE(LoadMapScene(folder + "AcrosstheCape.map", DEFAULT_CELL, DEFAULT_MESH_SCALE,
                             1000000, &scene, &error))
        << error;
    std::vector<ScenarioQuery> queries;
    ASSERT_TRUE(ReadTextFile(folder + "AcrosstheCape.map.scen", MAX_MAP_FILE_BYTES, &text, &error));
    ASSERT_TRUE(ReadScenario(text, "AcrosstheCape.map.scen", &queries, &error)) << error;
    ASSERT_EQ(queries.size(), 201u);

    double worstExcess = 0, worstPerBend = 0;
    int32_t checked = 0, onWall = 0;
    for (size_t i = 0; i < queries.size(); i += QueryStride()) {
        const ScenarioQuery& q = queries[i];
        SCOPED_TRACE("query " + std::to_string(i) + " (line " + std::to_string(q.line) + ")");
        Vec2 start = QueryPoint(scene, q.startX, q.startY, REFERENCE_EUCLIDEAN);
        Vec2 goal = QueryPoint(scene, q.goalX, q.goalY, REFERENCE_EUCLIDEAN);
        // A point on a wall is left or reached only along the wall's line, where the
        // intersection test's whole units decide; such a query says nothing of the corner
        // points, and is counted apart.
        if (PointOnWall(scene.walls, start) || PointOnWall(scene.walls, goal)) {
            ++onWall;
            continue;
        }
        ShortestPath path = FindShortestPath(scene.walls, start, goal, ShortestPathBudget{});
        ASSERT_EQ(path.status, SHORTEST_FOUND);
        ++checked;
        double length = path.length / DEFAULT_CELL;
        double bends = static_cast<double>(path.points.size()) - 2;
        worstExcess = std::max(worstExcess, length - q.optimal);
        if (bends > 0)
            worstPerBend = std::max(worstPerBend, (length - q.optimal) * DEFAULT_CELL / bends);
        EXPECT_GE(length, q.optimal - PUBLISHED_ROUNDING);
        EXPECT_LE(length, q.optimal + bends * 2.0 / DEFAULT_CELL + PUBLISHED_ROUNDING);
    }
    std::printf("%d queries checked, %d on a wall; worst excess %.4f cells, %.2f units a bend\n",
                checked, onWall, worstExcess, worstPerBend);
    if (QueryStride() == 1) {
        EXPECT_EQ(onWall, 11);
    }
    EXPECT_GT(checked, 10);
}

}  // namespace
