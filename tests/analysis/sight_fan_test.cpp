// The sight fan only ever proves: whatever it calls hidden, the search's own segment test finds
// blocked by the walls it was given. Checked against that test on scenes made to catch it out:
// random float walls, a maze's walls meeting end to end with waypoints on their lines, points
// on the axes and on the waypoints' box.

#include "analysis/sight_fan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

#include "analysis_fixture.h"
#include "tools/scene_families.h"

namespace {

struct FanScene {
    std::string name;
    std::vector<Wall> walls;
    std::vector<Vec2> points;
};

std::vector<Vec2> CornersOf(const std::vector<Wall>& walls, Vec2 start, Vec2 goal) {
    std::vector<Vec2> points{start, goal};
    for (const Wall& wall : walls) {
        points.push_back(wall.outerA);
        points.push_back(wall.outerB);
    }
    return points;
}

FanScene FamilyFanScene(const std::string& family, int32_t size) {
    FamilyScene scene;
    MakeFamilyScene(family, size, 7, &scene);
    return {family, scene.walls, CornersOf(scene.walls, scene.start, scene.goal)};
}

// Walls of float coordinates and lengths, some crossing, some nearly parallel, some tiny.
FanScene FloatFanScene() {
    std::mt19937 random(11);
    auto unit = [&] { return static_cast<double>(random()) / 4294967296.0; };
    FanScene scene{"float walls", {}, {}};
    for (int32_t i = 0; i < 300; ++i) {
        Vec2 origin{static_cast<float>(unit() * 400), static_cast<float>(unit() * 400)};
        double angle = unit() * 6.283185307179586, length = i % 10 == 0 ? unit() : unit() * 60;
        scene.walls.push_back(
            WallWithCorners(origin, Vec2{static_cast<float>(length * std::cos(angle)),
                                         static_cast<float>(length * std::sin(angle))}));
    }
    scene.points = CornersOf(scene.walls, Vec2{0, 200}, Vec2{400, 200});
    for (int32_t i = 0; i < 300; ++i)
        scene.points.push_back(
            Vec2{static_cast<float>(unit() * 400), static_cast<float>(unit() * 400)});
    return scene;
}

// A slit narrower than the wedge around the axis, which only a point on the axis can use: the
// fan must leave it open along the axis itself.
FanScene SlitFanScene() {
    FanScene scene{"slit", {}, {}};
    scene.walls.push_back(WallWithCorners(Vec2{50, 0.01f}, Vec2{0, 30}));
    scene.walls.push_back(WallWithCorners(Vec2{50, -0.01f}, Vec2{0, -30}));
    scene.walls.push_back(WallWithCorners(Vec2{200, -40}, Vec2{0, 80}));
    scene.points = CornersOf(scene.walls, Vec2{0, 0}, Vec2{100, 0});
    return scene;
}

bool NoStop(const void*) { return false; }

struct Claims {
    int64_t hidden = 0, shut = 0, boxes = 0;
};

// Every claim the fan makes, aimed at each of some points with all walls added, checked
// against SegmentFree over those walls.
void CheckClaims(const FanScene& scene, Claims* claims) {
    SCOPED_TRACE(scene.name);
    SightGrid grid;
    ASSERT_TRUE(BuildSightGrid(scene.points, scene.walls, NoStop, nullptr, &grid));
    ASSERT_TRUE(grid.provable);
    int64_t& hidden = claims->hidden;
    int64_t& shut = claims->shut;
    int64_t& boxes = claims->boxes;
    std::vector<Wall> shading;
    for (const Wall& wall : scene.walls)
        if (SightWall(wall)) shading.push_back(wall);
    for (size_t i = 0; i < scene.points.size(); i += 7) {
        const Vec2 from = scene.points[i];
        SightFan fan;
        fan.Aim(from, grid);
        for (const Wall& wall : shading) fan.AddWall(wall);
        for (const Vec2& to : scene.points) {
            if (!fan.Hidden(to)) continue;
            ++hidden;
            ASSERT_FALSE(SegmentFree(shading, from, to))
                << "from " << from.x << "," << from.y << " to " << to.x << "," << to.y;
        }
        // The least radius at which the fan claims everything beyond, by doubling.
        double radius = grid.cellSize;
        while (radius < 4 * grid.span && !fan.HiddenBeyond(radius)) radius *= 2;
        if (radius < 4 * grid.span) ++shut;
        for (const Vec2& to : scene.points) {
            double dx = double{to.x} - from.x, dy = double{to.y} - from.y;
            if (std::sqrt(dx * dx + dy * dy) < radius) continue;
            ASSERT_FALSE(SegmentFree(shading, from, to))
                << "beyond " << radius << " from " << from.x << "," << from.y << " to " << to.x
                << "," << to.y;
        }
        // A box claimed hidden holds no point that can be seen. Radii only grow: boxes are
        // asked nearest first, of a fan aimed afresh.
        struct Box {
            double nearest, x0, y0;
            Vec2 to;
        };
        std::vector<Box> asked;
        const double size = std::min(grid.cellSize, grid.span / 20);
        for (const Vec2& to : scene.points) {
            double x0 = std::floor(to.x / size) * size, y0 = std::floor(to.y / size) * size;
            double dx = std::max({x0 - from.x, double{from.x} - (x0 + size), 0.0});
            double dy = std::max({y0 - from.y, double{from.y} - (y0 + size), 0.0});
            asked.push_back(Box{std::sqrt(dx * dx + dy * dy), x0, y0, to});
        }
        std::sort(asked.begin(), asked.end(),
                  [](const Box& a, const Box& b) { return a.nearest < b.nearest; });
        fan.Aim(from, grid);
        for (const Wall& wall : shading) fan.AddWall(wall);
        for (const Box& box : asked) {
            if (!(box.nearest > 0) ||
                !fan.BoxHidden(box.x0, box.y0, box.x0 + size, box.y0 + size, box.nearest))
                continue;
            ++boxes;
            ASSERT_FALSE(SegmentFree(shading, from, box.to))
                << "box at " << box.x0 << "," << box.y0 << " from " << from.x << "," << from.y;
        }
    }
}

TEST(SightFan, WhatItHidesTheSegmentTestFindsBlocked) {
    Claims claims;
    for (const FanScene& scene :
         {SlitFanScene(), FloatFanScene(), FamilyFanScene("grid-maze", 12),
          FamilyFanScene("random-dense", 400), FamilyFanScene("comb", 20),
          FamilyFanScene("staircase", 40), FamilyFanScene("collinear-chain", 40)})
        CheckClaims(scene, &claims);
    // Claims were made, or the checks above proved nothing.
    EXPECT_GT(claims.hidden, 1000);
    EXPECT_GT(claims.shut, 10);
    EXPECT_GT(claims.boxes, 1000);
}

TEST(SightFan, ProvesNothingForWaypointsBeyondItsLimit) {
    std::vector<Wall> walls{MakeWall(0, 0, 10, 10)};
    std::vector<Vec2> points{{0, 5}, {3e7f, 5}};
    SightGrid grid;
    ASSERT_TRUE(BuildSightGrid(points, walls, NoStop, nullptr, &grid));
    EXPECT_FALSE(grid.provable);
    EXPECT_FALSE(SightWall(WallWithCorners(Vec2{0, 0}, Vec2{1e-20f, 1})));
    EXPECT_FALSE(SightWall(WallWithCorners(Vec2{2e7f, 0}, Vec2{1, 1})));
    EXPECT_FALSE(SightWall(WallWithCorners(Vec2{5, 5}, Vec2{0, 0})));
}

}  // namespace
