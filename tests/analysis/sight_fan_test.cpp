// The sight fan proves segments blocked: every segment it calls hidden must meet a wall it was
// given, by the search's own test, however the walls and points fall.

#include "analysis/sight_fan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "analysis_fixture.h"

namespace {

TEST(SightFan, DebugShape) {
    SightGrid grid;
    grid.span = 100;
    grid.gapX = grid.gapY = 1;
    SightFan fan;
    fan.Aim(Vec2{0, 0}, grid);
    fan.AddWall(WallWithCorners(Vec2{10, -5}, Vec2{0, 10}));
    EXPECT_TRUE(fan.Hidden(Vec2{20, 0}));
    EXPECT_FALSE(fan.Hidden(Vec2{20, 20}));
    EXPECT_FALSE(fan.Hidden(Vec2{5, 0}));
    SightFan ring;
    ring.Aim(Vec2{0, 0}, grid);
    for (int i = 0; i < 64; ++i) {
        double a = i * 2 * 3.14159265358979 / 64, b = (i + 1.2) * 2 * 3.14159265358979 / 64;
        Vec2 p{(float)(10 * cos(a)), (float)(10 * sin(a))},
            q{(float)(10 * cos(b)), (float)(10 * sin(b))};
        ring.AddWall(WallWithCorners(p, Vec2{q.x - p.x, q.y - p.y}));
    }
    EXPECT_TRUE(ring.HiddenBeyond(11));
    EXPECT_FALSE(ring.HiddenBeyond(9));
}

}  // namespace
