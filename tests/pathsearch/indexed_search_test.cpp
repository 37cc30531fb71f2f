// The whole search on scenes large enough for the wall index (and the hashed lookups) against
// the plain search, bit for bit: the scene families and scenes made to catch the index out.

#include <cmath>
#include <limits>
#include <random>

#include "search_fixture.h"
#include "tools/scene_families.h"

namespace {

struct Count {
    int32_t scenes = 0;
    int32_t detours = 0;  // answers other than the straight line
};

void Compare(const char* what, const std::vector<Wall>& scene, Vec2 start, Vec2 goal,
             Count* count) {
    ASSERT_GE(scene.size(), 48u) << what << ": too few walls for the index";
    SetWalls(scene);
    PlainResult plain = PlainSearch(scene, start, goal);
    JobResult job = RunJob(start, goal);
    EXPECT_TRUE(SameAsPlain(plain, job)) << what;
    ++count->scenes;
    if (job.status != 1 || job.path.size() > 2) ++count->detours;
}

}  // namespace

TEST_F(Differential, AgreesWithThePlainSearchOnTheSceneFamiliesWithTheIndex) {
    Count count;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        for (auto [family, size] : {std::pair{"random-dense", 400},
                                    {"random-box", 60},
                                    {"random-box", 150},
                                    {"grid-maze", 9},
                                    {"grid-maze", 14},
                                    {"comb", 60},
                                    {"collinear-chain", 80},
                                    {"staircase", 60},
                                    {"tall-comb", 60},
                                    {"low-staircase", 80}}) {
            FamilyScene scene;
            ASSERT_TRUE(MakeFamilyScene(family, size, seed, &scene));
            Compare(
                (std::string(family) + " " + std::to_string(size) + " seed " + std::to_string(seed))
                    .c_str(),
                scene.walls, scene.start, scene.goal, &count);
        }
    }
    EXPECT_GE(count.detours, count.scenes / 2);
}

TEST_F(Differential, AgreesWithThePlainSearchOnCollinearAndZeroLengthWallsAlongTheWay) {
    Count count;
    std::mt19937 random(31);
    for (int32_t n = 0; n < 24; ++n) {
        // A diagonal line of fractional pieces end to end, apart by under two units, and points
        // on it, with start and goal on the line or beside it.
        std::vector<Wall> scene = BorderWalls();
        float at = 100;
        while (scene.size() < 70) {
            float length = static_cast<float>(random() % 40) / 4 + 0.25f;
            float gap = static_cast<float>(random() % 8) / 4 - 0.5f;
            scene.push_back(FloatWall(Vec2{at, at}, Vec2{at + length, at + length}));
            if (random() % 3 == 0)
                scene.push_back(FloatWall(Vec2{at + length / 2, at + length / 2},
                                          Vec2{at + length / 2, at + length / 2}));
            at += length + gap;
        }
        Vec2 start{90, static_cast<float>(90 + (random() % 3) * 0.5)};
        Vec2 goal{at + 10, at + 10 - static_cast<float>(random() % 2)};
        Compare("diagonal chain", scene, start, goal, &count);
        Compare("across the chain", scene, Vec2{300, 150}, Vec2{150, 300}, &count);
    }
    EXPECT_GE(count.detours, count.scenes / 4);
}

TEST_F(Differential, AgreesWithThePlainSearchOnFractionalHugeAndNonFiniteWalls) {
    const float nan = std::numeric_limits<float>::quiet_NaN(),
                inf = std::numeric_limits<float>::infinity();
    Count count;
    std::mt19937 random(41);
    std::uniform_real_distribution<float> x(20, 780), y(90, 580), spread(-40, 40);
    for (int32_t n = 0; n < 20; ++n) {
        std::vector<Wall> scene = BorderWalls();
        for (int32_t i = 0; i < 60; ++i) {
            Vec2 a{x(random), y(random)};
            scene.push_back(FloatWall(a, Vec2{a.x + spread(random), a.y + spread(random)}));
        }
        // Far outside, beyond what the grid takes, and impossible.
        scene.push_back(FloatWall(Vec2{-3e7f, 300}, Vec2{3e7f, 310}));
        scene.push_back(FloatWall(Vec2{400, -1e9f}, Vec2{410, 1e9f}));
        scene.push_back(FloatWall(Vec2{1e6f, 1e6f}, Vec2{1e6f + 30, 1e6f}));
        if (n % 2) scene.push_back(FloatWall(Vec2{nan, 200}, Vec2{300, 200}));
        if (n % 3 == 0) scene.push_back(FloatWall(Vec2{200, 250}, Vec2{inf, 250}));
        if (n % 4 == 0) std::swap(scene[4], scene.back());
        Compare("fractional, huge, non-finite", scene, Vec2{50, 340}, Vec2{750, 340}, &count);
    }
    EXPECT_GE(count.detours, count.scenes / 2);
}

// The index pays for itself only over many checks: a search of a few tests every wall at each
// check, as the plain scan does, and a long one soon tests far fewer.
TEST_F(Differential, OnlyASearchOfManyChecksBuildsTheIndex) {
    struct Case {
        const char* family;
        int32_t size;
        bool indexed;
    };
    for (const Case& c : {Case{"random-box", 1000, false}, Case{"random-dense", 3000, true},
                          Case{"low-staircase", 1000, true}}) {
        FamilyScene scene;
        ASSERT_TRUE(MakeFamilyScene(c.family, c.size, 1, &scene));
        SetWalls(scene.walls);
        PlainResult plain = PlainSearch(scene.walls, scene.start, scene.goal);
        ResetIntersectionTestCount();
        JobResult job = RunJob(scene.start, scene.goal);
        ASSERT_TRUE(SameAsPlain(plain, job)) << c.family;
        int64_t scanned = int64_t{job.collisionChecks} * static_cast<int64_t>(scene.walls.size());
        if (c.indexed)
            EXPECT_LT(IntersectionTestCount() * 4, scanned) << c.family;
        else
            EXPECT_GE(IntersectionTestCount(), scanned) << c.family;
    }
}
