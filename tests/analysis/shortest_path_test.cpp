// FindShortestPath: scenes whose optimum is known by construction, generated scenes against
// the plain all-pairs reference and the direct search, and the budget and stop request.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "analysis/shortest_path_baseline.h"
#include "analysis_fixture.h"
#include "platform/system.h"
#include "tools/scene_families.h"

namespace {

double Length(std::initializer_list<Vec2> points) { return PathLength(std::vector<Vec2>(points)); }

// Every segment of the answer passes the search's own test, in its direction of travel, and
// the answer's length is the sum of its segments.
testing::AssertionResult SoundPath(const std::vector<Wall>& walls, const ShortestPath& path,
                                   Vec2 start, Vec2 goal) {
    if (path.points.size() < 2) return testing::AssertionFailure() << "fewer than two points";
    auto same = [](Vec2 a, Vec2 b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    if (!same(path.points.front(), start) || !same(path.points.back(), goal))
        return testing::AssertionFailure() << "does not run from start to goal";
    for (size_t i = 1; i < path.points.size(); ++i)
        if (!SegmentFree(walls, path.points[i - 1], path.points[i]))
            return testing::AssertionFailure() << "segment " << i << " meets a wall";
    if (path.length != PathLength(path.points))
        return testing::AssertionFailure() << "length is not the path's";
    return testing::AssertionSuccess();
}

TEST(ShortestPathKnown, OneWallIsPassedAtTheNearerCornerAsTheDirectSearchDoes) {
    std::vector<Wall> walls{MakeWall(400, 200, 400, 480)};
    ShortestPath path = FindShortestPath(walls, Vec2{50, 340}, Vec2{750, 340});
    ASSERT_EQ(path.status, SHORTEST_FOUND);
    EXPECT_EQ(path.length, Length({{50, 340}, {400, 199}, {750, 340}}));
    EXPECT_TRUE(SoundPath(walls, path, Vec2{50, 340}, Vec2{750, 340}));
    EXPECT_EQ(path.waypoints, 4);
}

TEST(ShortestPathKnown, StraightLineWhenNothingIsInTheWay) {
    ShortestPath path = FindShortestPath({}, Vec2{50, 340}, Vec2{750, 340});
    ASSERT_EQ(path.status, SHORTEST_FOUND);
    EXPECT_EQ(path.length, 700.0);
    EXPECT_EQ(path.points.size(), 2u);
    EXPECT_EQ(path.expanded, 1);

    ShortestPath here = FindShortestPath({}, Vec2{5, 5}, Vec2{5, 5});
    ASSERT_EQ(here.status, SHORTEST_FOUND);
    EXPECT_EQ(here.length, 0.0);
    EXPECT_EQ(here.points.size(), 2u);
}

TEST(ShortestPathKnown, ClosedBoxAroundTheGoalHasNoWay) {
    std::vector<Wall> walls = BoxWalls(300, 200, 200, 200);
    ShortestPath path = FindShortestPath(walls, Vec2{50, 340}, Vec2{400, 300});
    EXPECT_EQ(path.status, SHORTEST_NONE);
    EXPECT_TRUE(path.points.empty());
    EXPECT_EQ(path.length, 0.0);
    EXPECT_EQ(RunDirectSearch(walls, Vec2{50, 340}, Vec2{400, 300}).status, -1);
}

TEST(ShortestPathKnown, BoxWithADoorIsEnteredPastTheDoorsNearerEdge) {
    // The top side has a door from x 380 to 420; the goal sits low on the right inside.
    std::vector<Wall> walls{MakeWall(300, 200, 380, 200), MakeWall(420, 200, 500, 200),
                            MakeWall(300, 200, 300, 400), MakeWall(500, 200, 500, 400),
                            MakeWall(300, 400, 500, 400)};
    Vec2 start{50, 100}, goal{460, 350};
    ShortestPath path = FindShortestPath(walls, start, goal);
    ASSERT_EQ(path.status, SHORTEST_FOUND);
    EXPECT_EQ(path.length, Length({start, {381, 200}, goal}));
    EXPECT_TRUE(SoundPath(walls, path, start, goal));
}

TEST(ShortestPathKnown, CombIsPassedUnderTheTeethAlongTheirEnds) {
    // A back wall with seven teeth hanging 300 pixels; start and goal outside the first and
    // last tooth. The taut way runs one unit below the tooth ends, from the first to the last.
    std::vector<Wall> walls{MakeWall(0, 100, 800, 100)};
    for (int32_t x = 100; x <= 700; x += 100) walls.push_back(MakeWall(x, 100, x, 400));
    Vec2 start{50, 300}, goal{750, 300};
    ShortestPath path = FindShortestPath(walls, start, goal);
    ASSERT_EQ(path.status, SHORTEST_FOUND);
    EXPECT_DOUBLE_EQ(path.length, Length({start, {100, 401}, {700, 401}, goal}));
    EXPECT_TRUE(SoundPath(walls, path, start, goal));

    DirectResult direct = RunDirectSearch(walls, start, goal);
    ASSERT_EQ(direct.status, 1);
    EXPECT_GE(PathLength(direct.path), path.length);
}

TEST(ShortestPathKnown, MazeCorridorTurnsAtBothBafflesEnds) {
    // A box with a baffle from the top and one from the bottom: an S-shaped corridor.
    std::vector<Wall> walls = BoxWalls(100, 100, 500, 400);
    walls.push_back(MakeWall(250, 100, 250, 400));
    walls.push_back(MakeWall(450, 200, 450, 500));
    Vec2 start{150, 300}, goal{550, 300};
    ShortestPath path = FindShortestPath(walls, start, goal);
    ASSERT_EQ(path.status, SHORTEST_FOUND);
    ASSERT_EQ(path.points.size(), 4u);
    EXPECT_EQ(path.length, Length({start, {250, 401}, {450, 199}, goal}));
    EXPECT_TRUE(SoundPath(walls, path, start, goal));
}

TEST(ShortestPathKnown, CollinearWallCountsInTheDirectionOfTravel) {
    // The wall lies on the line through start and goal, beyond the goal: travelling toward
    // it, the segment from (0, 0) to (10, 0) touches its origin (IntersectSegments gives 1)
    // and is blocked, so the optimum must step around even though nothing lies between.
    std::vector<Wall> walls{MakeWall(10, 0, 20, 0)};
    ShortestPath path = FindShortestPath(walls, Vec2{0, 0}, Vec2{10, 0});
    DirectResult direct = RunDirectSearch(walls, Vec2{0, 0}, Vec2{10, 0});
    ReferenceResult reference = AllPairsShortestPath(walls, Vec2{0, 0}, Vec2{10, 0});
    ASSERT_EQ(path.status == SHORTEST_FOUND, reference.found);
    EXPECT_DOUBLE_EQ(path.length, reference.length);
    if (direct.status == 1) {
        EXPECT_LE(path.length, PathLength(direct.path));
    }
}

// ---- Generated scenes ------------------------------------------------------------------------

// Sizes small enough for the all-pairs reference, varied with the seed.
FamilyScene GeneratedScene(int32_t i) {
    const std::vector<std::string>& families = SceneFamilyNames();
    const std::string& family =
        families[i % 6];  // the six generated families; not the start-up scene
    auto seed = static_cast<uint32_t>(1000 + i);
    int32_t size = family == "random-dense"      ? 5 + i % 36
                   : family == "random-box"      ? 1 + i % 30
                   : family == "grid-maze"       ? 2 + i % 5
                   : family == "comb"            ? 2 + i % 11
                   : family == "collinear-chain" ? 2 + i % 11
                                                 : 2 + i % 19;
    FamilyScene scene;
    MakeFamilyScene(family, size, seed, &scene);
    return scene;
}

TEST(ShortestPathGenerated, AgreesWithAllPairsAndIsNeverLongerThanTheDirectPath) {
    ASSERT_GE(SceneFamilyNames().size(), 6u);
    int32_t misses = 0, found = 0;
    for (int32_t i = 0; i < 300; ++i) {
        FamilyScene scene = GeneratedScene(i);
        SCOPED_TRACE(scene.family + " " + std::to_string(scene.size) + " seed " +
                     std::to_string(scene.seed));
        ShortestPath path = FindShortestPath(scene.walls, scene.start, scene.goal);
        ReferenceResult reference = AllPairsShortestPath(scene.walls, scene.start, scene.goal);
        DirectResult direct = RunDirectSearch(scene.walls, scene.start, scene.goal);

        ASSERT_NE(path.status, SHORTEST_NOT_FINISHED);
        ASSERT_EQ(path.status == SHORTEST_FOUND, reference.found);
        if (path.status != SHORTEST_FOUND) {
            // The direct path is a way over the same waypoints: it cannot exist without one.
            ASSERT_EQ(direct.status, -1);
            continue;
        }
        ++found;
        EXPECT_NEAR(path.length, reference.length, 1e-9 * (1 + reference.length));
        EXPECT_TRUE(SoundPath(scene.walls, path, scene.start, scene.goal));
        if (direct.status == 1) {
            double directLength = PathLength(direct.path);
            EXPECT_LE(path.length, directLength * (1 + 1e-12))
                << "direct path shorter than the optimum";
            EXPECT_GE(PathGap(directLength, path.length), -1e-12);
        } else {
            ++misses;
        }
    }
    // The families are meant to reach the interesting cases; if none were found the test
    // would prove little.
    EXPECT_GT(found, 150);
    RecordProperty("misses", misses);
}

// ---- Against the first form -----------------------------------------------------------------

// The same path, bit for bit, after the same expansions: the skipped tests changed nothing.
testing::AssertionResult SameAsScan(const std::vector<Wall>& walls, Vec2 start, Vec2 goal) {
    ShortestPath fast = FindShortestPath(walls, start, goal);
    ShortestPath scan = FindShortestPathByScan(walls, start, goal);
    if (fast.status != scan.status || fast.expanded != scan.expanded ||
        fast.waypoints != scan.waypoints)
        return testing::AssertionFailure()
               << "status " << fast.status << " vs " << scan.status << ", expanded "
               << fast.expanded << " vs " << scan.expanded;
    if (std::memcmp(&fast.length, &scan.length, sizeof fast.length) != 0 ||
        fast.points.size() != scan.points.size() ||
        (!fast.points.empty() && std::memcmp(fast.points.data(), scan.points.data(),
                                             fast.points.size() * sizeof(Vec2)) != 0))
        return testing::AssertionFailure() << "length " << fast.length << " vs " << scan.length;
    if (fast.visibilityTests > scan.visibilityTests)
        return testing::AssertionFailure() << "more segments tested than the scan";
    return testing::AssertionSuccess();
}

TEST(ShortestPathAgainstScan, SamePathOnEveryFamily) {
    struct Case {
        const char* family;
        int32_t size;
    };
    const Case cases[] = {{"random-dense", 2000}, {"random-box", 300},      {"grid-maze", 24},
                          {"comb", 80},           {"collinear-chain", 150}, {"staircase", 150},
                          {"start-up", 0}};
    for (const Case& c : cases)
        for (uint32_t seed : {1u, 2u}) {
            FamilyScene scene;
            ASSERT_TRUE(MakeFamilyScene(c.family, c.size, seed, &scene));
            EXPECT_TRUE(SameAsScan(scene.walls, scene.start, scene.goal))
                << c.family << " " << c.size << " seed " << seed;
        }
    for (int32_t i = 0; i < 300; ++i) {
        FamilyScene scene = GeneratedScene(i);
        EXPECT_TRUE(SameAsScan(scene.walls, scene.start, scene.goal))
            << scene.family << " " << scene.size << " seed " << scene.seed;
    }
}

TEST(ShortestPathAgainstScan, SamePathOnScenesTheFanCannotVouchFor) {
    FamilyScene base = RandomDenseScene(300, 3);
    struct Case {
        const char* name;
        Wall extra;
        Vec2 start, goal;
    };
    const float nan = std::nanf("");
    const Case cases[] = {
        {"a far wall", WallWithCorners(Vec2{3e7f, 1e7f}, Vec2{5, 5}), base.start, base.goal},
        {"a tiny delta", WallWithCorners(Vec2{300, 300}, Vec2{1e-30f, 40}), base.start, base.goal},
        {"a corner at NaN", Wall{{200, 200}, {10, 0}, {nan, 200}, {211, 200}}, base.start,
         base.goal},
        {"start is goal", WallWithCorners(Vec2{300, 300}, Vec2{0, 40}), base.start, base.start},
        {"start on a wall", WallWithCorners(Vec2{0, 0}, Vec2{0, 2000}), Vec2{0, 500}, base.goal},
        {"negative zero", WallWithCorners(Vec2{-0.0f, 100}, Vec2{0, 40}), Vec2{-0.0f, 50},
         base.goal},
    };
    for (const Case& c : cases) {
        std::vector<Wall> walls = base.walls;
        walls.push_back(c.extra);
        EXPECT_TRUE(SameAsScan(walls, c.start, c.goal)) << c.name;
    }
}

// A goal on a wall: no way at once where no segment reaches it (the scan expands everything
// first), and the scan's own answer, expansions included, where one might.
TEST(ShortestPathAgainstScan, AGoalOnAWallIsAnsweredAsTheScanAnswersIt) {
    FamilyScene base = RandomDenseScene(300, 3);
    const Vec2 goal = base.goal;
    struct Case {
        const char* name;
        std::vector<Wall> extra;
        bool shut;  // no segment reaches the goal
    };
    const Case cases[] = {
        {"inside a wall, reached along its line",
         {WallWithCorners(Vec2{goal.x, goal.y - 40}, Vec2{0, 80})},
         false},
        {"where two walls cross",
         {WallWithCorners(Vec2{goal.x, goal.y - 40}, Vec2{0, 80}),
          WallWithCorners(Vec2{goal.x - 40, goal.y}, Vec2{80, 0})},
         true},
        {"at a wall's end", {WallWithCorners(goal, Vec2{0, 80})}, false},
    };
    for (const Case& c : cases) {
        std::vector<Wall> walls = base.walls;
        walls.insert(walls.end(), c.extra.begin(), c.extra.end());
        ShortestPath fast = FindShortestPath(walls, base.start, goal);
        ShortestPath scan = FindShortestPathByScan(walls, base.start, goal);
        if (c.shut) {
            EXPECT_EQ(scan.status, SHORTEST_NONE) << c.name;
            EXPECT_GT(scan.expanded, 0) << c.name;
            EXPECT_EQ(fast.status, SHORTEST_NONE) << c.name;
            EXPECT_EQ(fast.expanded, 0) << c.name;
        } else {
            EXPECT_TRUE(SameAsScan(walls, base.start, goal)) << c.name;
            EXPECT_GT(fast.expanded, 0) << c.name;
        }
    }
}

// ---- Budget and stop -------------------------------------------------------------------------

TEST(ShortestPathBudget, ASpentBudgetEndsAHugeSceneAsNotFinished) {
    FamilyScene scene = RandomDenseScene(200000, 1);
    ShortestPath nodes =
        FindShortestPath(scene.walls, scene.start, scene.goal, ShortestPathBudget{5, 0});
    EXPECT_EQ(nodes.status, SHORTEST_NOT_FINISHED);
    EXPECT_EQ(nodes.expanded, 5);
    EXPECT_TRUE(nodes.points.empty());
    EXPECT_EQ(nodes.length, 0.0);
    ShortestPath time =
        FindShortestPath(scene.walls, scene.start, scene.goal, ShortestPathBudget{0, 50});
    EXPECT_EQ(time.status, SHORTEST_NOT_FINISHED);
    EXPECT_TRUE(time.points.empty());
}

TEST(ShortestPathBudget, ABudgetThatSufficesChangesNothing) {
    std::vector<Wall> walls = BoxWalls(100, 100, 500, 400);
    walls.push_back(MakeWall(250, 100, 250, 400));
    walls.push_back(MakeWall(450, 200, 450, 500));
    ShortestPath free = FindShortestPath(walls, Vec2{150, 300}, Vec2{550, 300});
    ShortestPath limited = FindShortestPath(walls, Vec2{150, 300}, Vec2{550, 300},
                                            ShortestPathBudget{free.expanded + 1, 0});
    ASSERT_EQ(limited.status, SHORTEST_FOUND);
    EXPECT_EQ(limited.length, free.length);
    ShortestPath tight = FindShortestPath(walls, Vec2{150, 300}, Vec2{550, 300},
                                          ShortestPathBudget{free.expanded, 0});
    // The goal is taken from the open set after the last expansion: the exact budget suffices.
    EXPECT_EQ(tight.status, SHORTEST_FOUND);
    ShortestPath short_ = FindShortestPath(walls, Vec2{150, 300}, Vec2{550, 300},
                                           ShortestPathBudget{free.expanded - 1, 0});
    EXPECT_EQ(short_.status, SHORTEST_NOT_FINISHED);
}

struct StopRun {
    const FamilyScene* scene;
    ShortestPath result;
};

TEST(ShortestPathBudget, AStopRequestEndsItAsNotFinished) {
    FamilyScene scene = RandomDenseScene(200000, 1);
    StopRun run{&scene, {}};
    run.result.status = 99;
    int32_t thread = ThreadStart(
        [](void* argument) {
            auto* run = static_cast<StopRun*>(argument);
            run->result = FindShortestPath(run->scene->walls, run->scene->start, run->scene->goal);
        },
        &run);
    ASSERT_NE(thread, 0);
    SleepMilliseconds(50);
    ThreadKill(thread);
    EXPECT_EQ(run.result.status, SHORTEST_NOT_FINISHED);
}

}  // namespace
