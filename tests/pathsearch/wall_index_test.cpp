// The wall index against the plain scans, query by query, on scenes made to catch a grid out:
// segments through cell corners and along cell borders, walls on the borders, collinear chains
// over many cells, zero-length walls, far, fractional and huge coordinates, NaN and infinities.

#include <gtest/gtest.h>
#include <time.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "pathsearch/pathsearch_internal.h"
#include "platform/system.h"
#include "search_fixture.h"
#include "tools/scene_families.h"

namespace {

Segment Toward(Vec2 from, Vec2 to) {
    return Segment{from, Vec2{static_cast<float>(double{to.x} - from.x),
                              static_cast<float>(double{to.y} - from.y)}};
}

// The points a search would join: wall ends and corners, plus the extra points given.
std::vector<Vec2> SearchPoints(const std::vector<Wall>& walls, std::vector<Vec2> extra) {
    for (const Wall& wall : walls) {
        extra.push_back(wall.origin);
        extra.push_back(Vec2{static_cast<float>(double{wall.origin.x} + wall.delta.x),
                             static_cast<float>(double{wall.origin.y} + wall.delta.y)});
        extra.push_back(wall.outerA);
        extra.push_back(wall.outerB);
    }
    return extra;
}

struct Tally {
    int32_t queries = 0;
    int32_t blocked = 0;
};

// Every query answered by the index as by the plain scan; counts how many were blocked, so a
// scene that blocks nothing cannot pass unnoticed.
testing::AssertionResult SameAnswers(const std::vector<Wall>& walls,
                                     const std::vector<Segment>& segments, double cellSize,
                                     Tally* tally) {
    bool stopped = false;
    WallIndex* index =
        CreateWallIndex(walls.data(), static_cast<int32_t>(walls.size()), &stopped, cellSize);
    if (!index) return testing::AssertionFailure() << "no index";
    for (const Segment& segment : segments) {
        int32_t plain =
            LinearNearestWall(walls.data(), static_cast<int32_t>(walls.size()), segment, &stopped);
        int32_t fast = NearestWallHit(index, segment, &stopped);
        bool plainAny =
            LinearAnyWallHit(walls.data(), static_cast<int32_t>(walls.size()), segment, &stopped);
        bool fastAny = AnyWallHit(index, segment, &stopped);
        ++tally->queries;
        if (plain >= 0) ++tally->blocked;
        if (plain != fast || plainAny != fastAny) {
            FreeWallIndex(index);
            return testing::AssertionFailure()
                   << "segment (" << segment.origin.x << ", " << segment.origin.y << ") + ("
                   << segment.delta.x << ", " << segment.delta.y << "): nearest wall " << fast
                   << ", plain " << plain << "; any " << fastAny << ", plain " << plainAny;
        }
    }
    FreeWallIndex(index);
    return testing::AssertionSuccess();
}

// Segments between pairs of the points, picked at random, and from every point to a few others.
std::vector<Segment> Pairs(const std::vector<Vec2>& points, uint32_t seed, int32_t count) {
    std::mt19937 random(seed);
    std::vector<Segment> segments;
    for (int32_t i = 0; i < count; ++i) {
        const Vec2& a = points[random() % points.size()];
        const Vec2& b = points[random() % points.size()];
        segments.push_back(Toward(a, b));
    }
    return segments;
}

float F(double value) { return static_cast<float>(value); }

}  // namespace

TEST(WallIndex, AgreesWithThePlainScanOnWallsAlongCellBordersAndSegmentsThroughCellCorners) {
    // Cells of 16: walls on the borders, meeting at cell corners, and short ones inside.
    const double cell = 16;
    std::mt19937 random(11);
    std::vector<Wall> walls;
    for (int32_t i = 0; i < 300; ++i) {
        int32_t x = static_cast<int32_t>(random() % 40) * 16,
                y = static_cast<int32_t>(random() % 40) * 16;
        int32_t length = static_cast<int32_t>(random() % 4 + 1) * 16;
        walls.push_back(random() % 2 ? WallBetween(x, y, x + length, y)
                                     : WallBetween(x, y, x, y + length));
        if (random() % 4 == 0) walls.push_back(WallBetween(x + 3, y + 5, x + 11, y + 13));
    }
    std::vector<Vec2> corners;
    for (int32_t i = 0; i <= 40; i += 3)
        for (int32_t j = 0; j <= 40; j += 3) corners.push_back(Vec2{F(i * 16), F(j * 16)});
    std::vector<Segment> segments = Pairs(SearchPoints(walls, corners), 12, 4000);
    // Exactly along a border line, and diagonals corner to corner.
    for (int32_t k = 0; k <= 40; k += 5) {
        segments.push_back(Toward(Vec2{F(k * 16), -8}, Vec2{F(k * 16), 700}));
        segments.push_back(Toward(Vec2{-8, F(k * 16)}, Vec2{700, F(k * 16)}));
        segments.push_back(Toward(Vec2{0, F(k * 16)}, Vec2{F(k * 16), 0}));
        segments.push_back(Toward(Vec2{F(k * 16), F(k * 16)}, Vec2{0, 0}));
    }
    Tally tally;
    EXPECT_TRUE(SameAnswers(walls, segments, cell, &tally));
    EXPECT_TRUE(SameAnswers(walls, segments, 0, &tally));
    EXPECT_GT(tally.blocked, tally.queries / 4);
}

TEST(WallIndex, AgreesWithThePlainScanOnCollinearChainsOverManyCells) {
    Tally tally;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        FamilyScene scene = CollinearChainScene(60, seed);
        std::vector<Vec2> extra{scene.start, scene.goal};
        // Points on the chain's line, between and beyond the pieces.
        const Wall& first = scene.walls.front();
        for (int32_t k = -30; k < 300; k += 7) {
            double unit = std::hypot(double{first.delta.x}, double{first.delta.y});
            if (unit == 0) continue;
            extra.push_back(Vec2{F(first.origin.x + k * first.delta.x / unit),
                                 F(first.origin.y + k * first.delta.y / unit)});
        }
        std::vector<Segment> segments = Pairs(SearchPoints(scene.walls, extra), seed, 1500);
        for (double cell : {1.0, 3.0, 7.0, 0.0})
            EXPECT_TRUE(SameAnswers(scene.walls, segments, cell, &tally)) << seed;
    }
    EXPECT_GT(tally.blocked, tally.queries / 4);
}

// The collinear test rounds the gap up to three times, so a collinear wall blocks a segment
// whose end lies up to 1.5 units beyond it along the line: small cells put it in other cells.
TEST(WallIndex, FindsCollinearWallsThatTouchOnlyByTheRoundedGap) {
    Tally tally;
    for (float a : {9.5f, 9.75f, 10.25f, 10.5f}) {
        std::vector<Wall> diagonal{FloatWall(Vec2{0, 0}, Vec2{a, a})};
        std::vector<Wall> across{FloatWall(Vec2{0, 0}, Vec2{a, 0})};
        std::vector<Segment> onDiagonal, onAxis;
        for (float x = a - 3; x <= a + 4; x += 1.0f / 16)
            for (float length : {0.25f, 1.0f, 1.5f, 2.75f})
                for (float sign : {1.0f, -1.0f}) {
                    onDiagonal.push_back(Segment{Vec2{x, x}, Vec2{sign * length, sign * length}});
                    onAxis.push_back(Segment{Vec2{x, 0}, Vec2{sign * length, 0}});
                }
        for (double cell : {0.25, 0.5, 1.0}) {
            EXPECT_TRUE(SameAnswers(diagonal, onDiagonal, cell, &tally)) << a;
            EXPECT_TRUE(SameAnswers(across, onAxis, cell, &tally)) << a;
        }
    }
    EXPECT_GT(tally.blocked, tally.queries / 4);
}

TEST(WallIndex, AgreesWithThePlainScanOnZeroLengthWallsAndZeroLengthSegments) {
    std::mt19937 random(5);
    std::vector<Wall> walls;
    std::vector<Vec2> points;
    // Points on lines through the origin in directions of small whole steps, so that segments
    // along those lines meet them exactly, and the negated-zero rule matters on the axes.
    const int32_t directions[][2] = {{1, 0}, {0, 1}, {3, 4}, {-4, 3}, {1, 1}, {-1, 0}, {0, -1}};
    for (const auto& d : directions)
        for (int32_t k = 1; k < 40; k += static_cast<int32_t>(random() % 3 + 1)) {
            int32_t x = 300 + k * d[0] * 5, y = 300 + k * d[1] * 5;
            walls.push_back(WallBetween(x, y, x, y));
            points.push_back(Vec2{F(x), F(y)});
            points.push_back(Vec2{F(300 + (k + 1) * d[0] * 5 + 0.25), F(300 + (k + 1) * d[1] * 5)});
        }
    points.push_back(Vec2{300, 300});
    std::vector<Segment> segments = Pairs(SearchPoints(walls, points), 6, 4000);
    for (const Vec2& p : points) segments.push_back(Segment{p, Vec2{0, 0}});
    Tally tally;
    for (double cell : {2.0, 5.0, 0.0}) EXPECT_TRUE(SameAnswers(walls, segments, cell, &tally));
    EXPECT_GT(tally.blocked, tally.queries / 20);
}

TEST(WallIndex, AgreesWithThePlainScanOnFractionalFarAndHugeCoordinates) {
    std::mt19937 random(21);
    std::uniform_real_distribution<float> near(-50, 850), far(-3e6f, 3e6f), huge(-4e7f, 4e7f);
    std::vector<Wall> walls;
    std::vector<Vec2> points;
    for (int32_t i = 0; i < 400; ++i) {
        Vec2 a{near(random), near(random)};
        Vec2 b{F(a.x + near(random) / 20), F(a.y + near(random) / 20)};
        walls.push_back(FloatWall(a, b));
    }
    // Walls and points far outside the surface, some beyond what the grid takes.
    for (int32_t i = 0; i < 60; ++i) {
        walls.push_back(FloatWall(Vec2{far(random), far(random)}, Vec2{far(random), far(random)}));
        walls.push_back(
            FloatWall(Vec2{huge(random), near(random)}, Vec2{near(random), huge(random)}));
        points.push_back(Vec2{far(random), far(random)});
        points.push_back(Vec2{huge(random), huge(random)});
        points.push_back(Vec2{near(random), near(random)});
    }
    // Long walls across the whole scene, nearly parallel to each other.
    for (int32_t i = 0; i < 20; ++i)
        walls.push_back(
            FloatWall(Vec2{-1e5f, F(100 + i * 0.001)}, Vec2{1e5f, F(100 + i * 0.0013)}));
    std::vector<Segment> segments = Pairs(SearchPoints(walls, points), 22, 6000);
    Tally tally;
    EXPECT_TRUE(SameAnswers(walls, segments, 0, &tally));
    EXPECT_TRUE(SameAnswers(walls, segments, 3.5, &tally));
    EXPECT_GT(tally.blocked, tally.queries / 10);
}

TEST(WallIndex, AgreesWithThePlainScanOnNaNInfinitiesAndTinyDeltas) {
    const float inf = std::numeric_limits<float>::infinity(),
                nan = std::numeric_limits<float>::quiet_NaN();
    FamilyScene scene = RandomBoxScene(80, 9);
    std::vector<Wall> walls = scene.walls;
    walls.push_back(FloatWall(Vec2{nan, 300}, Vec2{400, 300}));
    walls.push_back(FloatWall(Vec2{100, 100}, Vec2{inf, 500}));
    walls.push_back(FloatWall(Vec2{-inf, 200}, Vec2{inf, 200}));
    Wall raw{};  // as a scene file may hold it: corners that do not fit the wall
    raw.origin = Vec2{350, 350};
    raw.delta = Vec2{1e-30f, 1e-30f};
    walls.push_back(raw);
    walls.push_back(FloatWall(Vec2{400, 400}, Vec2{F(400 + 1e-5), 400}));
    std::vector<Vec2> points{scene.start,    scene.goal,     Vec2{nan, nan},
                             Vec2{inf, 340}, Vec2{350, 350}, Vec2{-inf, -inf}};
    std::vector<Segment> segments = Pairs(SearchPoints(walls, points), 10, 5000);
    segments.push_back(Segment{Vec2{350, 350}, Vec2{1e-30f, 0}});
    segments.push_back(Segment{Vec2{0, 200}, Vec2{800, 1e-38f}});
    Tally tally;
    EXPECT_TRUE(SameAnswers(walls, segments, 0, &tally));
    EXPECT_GT(tally.blocked, tally.queries / 10);

    bool stopped = false;
    WallIndex* index = CreateWallIndex(walls.data(), static_cast<int32_t>(walls.size()), &stopped);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(WallIndexShapeOf(index).alwaysTested, 4);  // the three non-finite and the 1e-30 one
    FreeWallIndex(index);
}

TEST(WallIndex, AgreesWithThePlainScanOnTheSceneFamilies) {
    Tally tally;
    for (const std::string& family : SceneFamilyNames()) {
        FamilyScene scene;
        ASSERT_TRUE(MakeFamilyScene(family, family == "grid-maze" ? 30 : 400, 3, &scene));
        std::vector<Segment> segments =
            Pairs(SearchPoints(scene.walls, {scene.start, scene.goal}), 4, 3000);
        EXPECT_TRUE(SameAnswers(scene.walls, segments, 0, &tally)) << family;
    }
    EXPECT_GT(tally.blocked, tally.queries / 4);
}

TEST(WallIndex, ListsEachWallNearWhereItLies) {
    FamilyScene scene = RandomDenseScene(20000, 1);
    bool stopped = false;
    WallIndex* index =
        CreateWallIndex(scene.walls.data(), static_cast<int32_t>(scene.walls.size()), &stopped);
    ASSERT_NE(index, nullptr);
    WallIndexShape shape = WallIndexShapeOf(index);
    EXPECT_EQ(shape.alwaysTested, 0);
    // About one cell per wall, each short wall in a few cells: a query tests few walls.
    EXPECT_LE(int64_t{shape.columns} * shape.rows, 2 * 20000 + 64);
    EXPECT_LE(shape.entries, 6 * 20000);
    FreeWallIndex(index);

    std::vector<Wall> none;
    index = CreateWallIndex(none.data(), 0, &stopped);
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(NearestWallHit(index, Segment{Vec2{0, 0}, Vec2{10, 10}}, &stopped), -1);
    EXPECT_FALSE(AnyWallHit(index, Segment{Vec2{0, 0}, Vec2{10, 10}}, &stopped));
    FreeWallIndex(index);
}

// Walls that all run one way, each as long as thousands of square cells: the cells take their
// shape, so each wall is listed in few cells, and each cell holds only a few walls.
TEST(WallIndex, ShapesItsCellsAfterWallsThatAllRunOneWay) {
    for (const char* family : {"tall-comb", "low-staircase"}) {
        FamilyScene scene;
        ASSERT_TRUE(MakeFamilyScene(family, 3000, 1, &scene));
        bool stopped = false;
        WallIndex* index =
            CreateWallIndex(scene.walls.data(), static_cast<int32_t>(scene.walls.size()), &stopped);
        ASSERT_NE(index, nullptr);
        WallIndexShape shape = WallIndexShapeOf(index);
        int64_t walls = static_cast<int64_t>(scene.walls.size());
        EXPECT_LE(shape.entries, 4 * walls) << family;
        EXPECT_GE(int64_t{shape.columns} * shape.rows, walls / 16) << family;
        EXPECT_GT(shape.cellHeight, 100 * shape.cellWidth) << family;
        FreeWallIndex(index);
    }
}

// The quick miss may only ever say "apart" where IntersectSegments says 0. The pairs end on,
// a few ulps short of and a few ulps past each other's ends and lines, where rounding of t and
// s decides, at coordinates from fractions to 2^24.
TEST(WallIndex, QuickMissNeverCallsAContactAMiss) {
    std::mt19937 random(7);
    auto nudge = [&](float v) {
        int steps = static_cast<int>(random() % 9) - 4;
        for (; steps > 0; --steps) v = std::nextafter(v, INFINITY);
        for (; steps < 0; ++steps) v = std::nextafter(v, -INFINITY);
        return v;
    };
    int32_t apart = 0, contacts = 0;
    for (float scale : {1.0f, 37.5f, 1000.0f, 65536.0f, 16777216.0f}) {
        std::uniform_real_distribution<float> coordinate(-scale, scale);
        for (int32_t n = 0; n < 20000; ++n) {
            Vec2 a{coordinate(random), coordinate(random)},
                b{coordinate(random), coordinate(random)};
            if (n % 3 == 0) b = Vec2{a.x, nudge(b.y)};  // axis-aligned, as combs and stairs
            Wall wall = FloatWall(a, b);
            // A point on the wall (an end, or where a fraction of the way falls), nudged.
            float f = static_cast<float>(random() % 5) / 4.0f;
            Vec2 on{nudge(static_cast<float>(double{a.x} + f * (double{b.x} - a.x))),
                    nudge(static_cast<float>(double{a.y} + f * (double{b.y} - a.y)))};
            Vec2 far{coordinate(random), coordinate(random)};
            for (const Segment& segment : {Toward(far, on), Toward(on, far), Toward(a, far),
                                           Toward(far, Vec2{nudge(b.x), nudge(b.y)})}) {
                Vec2 contact{};
                bool hit = IntersectSegments(wall, segment, contact) != 0;
                contacts += hit;
                if (!SurelyApart(wall, segment)) continue;
                ++apart;
                ASSERT_FALSE(hit) << "wall (" << a.x << ", " << a.y << ")-(" << b.x << ", " << b.y
                                  << "), segment from (" << segment.origin.x << ", "
                                  << segment.origin.y << ") by (" << segment.delta.x << ", "
                                  << segment.delta.y << ")";
            }
        }
    }
    // Both answers were asked for often.
    EXPECT_GT(apart, 10000);
    EXPECT_GT(contacts, 50000);
}

namespace {

struct StoppableBuild {
    const std::vector<Wall>* walls;
    WallIndex* index = nullptr;
    bool stopped = false;
};

void BuildOnThread(void* argument) {
    auto* build = static_cast<StoppableBuild*>(argument);
    build->index = CreateWallIndex(build->walls->data(), static_cast<int32_t>(build->walls->size()),
                                   &build->stopped);
}

}  // namespace

// A stop at any moment of the build hands back the partial index (the caller gives its memory
// back where it likes) and never a half-built one that claims to be whole; the sanitizer build
// checks that every partial index frees cleanly.
TEST(WallIndex, AStoppedBuildHandsBackItsPartialIndexAtAnyMoment) {
    FamilyScene scene = RandomDenseScene(200000, 2);
    std::vector<Segment> segments =
        Pairs(SearchPoints(scene.walls, {scene.start, scene.goal}), 2, 200);
    int32_t stoppedBuilds = 0;
    for (int32_t delayUs : {0, 200, 500, 1000, 2000, 4000, 8000, 16000, 32000, 64000, 250000}) {
        StoppableBuild build{&scene.walls};
        int32_t thread = ThreadStart(BuildOnThread, &build);
        ASSERT_NE(thread, 0);
        struct timespec pause {
            delayUs / 1000000, (delayUs % 1000000) * 1000L
        };
        nanosleep(&pause, nullptr);
        ThreadKill(thread);
        ASSERT_NE(build.index, nullptr) << "after " << delayUs << " us";
        if (build.stopped) {
            ++stoppedBuilds;
        } else {
            for (const Segment& segment : segments) {
                bool stopped = false;
                ASSERT_EQ(
                    NearestWallHit(build.index, segment, &stopped),
                    LinearNearestWall(scene.walls.data(), static_cast<int32_t>(scene.walls.size()),
                                      segment, &stopped));
            }
        }
        FreeWallIndex(build.index);
    }
    EXPECT_GT(stoppedBuilds, 0);  // the first delays stop it, whatever the machine
}
