// The scene families: the same scene from the same seed, as documented, and stable across
// changes (other tools keep figures measured on them).

#include "tools/scene_families.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// FNV-1a over the wall records, start and goal: a fingerprint of the scene's bytes.
uint64_t Fingerprint(const FamilyScene& scene) {
    uint64_t hash = 1469598103934665603ull;
    auto add = [&](const void* data, size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    };
    add(scene.walls.data(), scene.walls.size() * sizeof(Wall));
    add(&scene.start, sizeof(Vec2));
    add(&scene.goal, sizeof(Vec2));
    return hash;
}

double Length(const Wall& wall) { return std::hypot(double{wall.delta.x}, double{wall.delta.y}); }

}  // namespace

TEST(SceneFamilies, EveryFamilyGivesTheSameSceneForTheSameSeedAndAnotherForAnotherSeed) {
    for (const std::string& family : SceneFamilyNames()) {
        FamilyScene first, again, other;
        ASSERT_TRUE(MakeFamilyScene(family, 50, 7, &first)) << family;
        ASSERT_TRUE(MakeFamilyScene(family, 50, 7, &again));
        ASSERT_TRUE(MakeFamilyScene(family, 50, 8, &other));
        EXPECT_EQ(Fingerprint(first), Fingerprint(again)) << family;
        EXPECT_FALSE(first.walls.empty()) << family;
        EXPECT_EQ(first.family, family);
        bool seeded = family.find("staircase") == std::string::npos && family != "start-up";
        if (seeded) {
            EXPECT_NE(Fingerprint(first), Fingerprint(other)) << family;
        }
    }
    FamilyScene unknown;
    EXPECT_FALSE(MakeFamilyScene("no-such-family", 10, 1, &unknown));
}

TEST(SceneFamilies, RandomDenseWallsAreShortAndInsideTheirSquare) {
    FamilyScene scene = RandomDenseScene(10000, 3);
    ASSERT_EQ(scene.walls.size(), 10000u);
    float side = scene.goal.x;
    EXPECT_EQ(side, 4100.0f);
    for (const Wall& wall : scene.walls) {
        ASSERT_GE(Length(wall), 4.0);
        ASSERT_LE(Length(wall), 41.0);
        ASSERT_GE(wall.origin.x, 0.0f);
        ASSERT_LE(wall.origin.x, side);
    }
}

TEST(SceneFamilies, WallsAreMadeAsAddWallMakesThem) {
    FamilyScene scene = StartUpScene(0, 0);
    ASSERT_EQ(scene.walls.size(), 4u);
    Wall top = WallBetween(10, 80, 790, 80);
    EXPECT_EQ(std::memcmp(&scene.walls[0], &top, sizeof(Wall)), 0);
    EXPECT_EQ(scene.walls[0].outerA.x, 9.0f);
    EXPECT_EQ(scene.walls[0].outerB.x, 791.0f);
}

// Figures measured on these scenes are compared across versions: a generator change must be
// deliberate (update the fingerprints and say so).
TEST(SceneFamilies, ScenesAreStableAcrossVersions) {
    EXPECT_EQ(Fingerprint(RandomDenseScene(1000, 1)), 6785907556536479787u);
    EXPECT_EQ(Fingerprint(GridMazeScene(20, 1)), 2771955289001728631u);
    EXPECT_EQ(Fingerprint(CollinearChainScene(30, 1)), 13977927757348364176u);
}
