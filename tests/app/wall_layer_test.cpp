// The frame with its walls taken from the wall layer is, pixel for pixel, the frame drawn wall
// by wall; and the layer follows every change of the wall list.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "app/app.h"
#include "platform/display.h"
#include "platform/null/null_platform.h"

namespace {

int32_t Round(double value) { return RoundHalfEven(value); }

void DrawMarker(const Vec2& point, const char* label, int32_t colour) {
    DrawDisc(Round(point.x), Round(point.y), MARKER_RADIUS, colour);
    double width = LabelWidth(label);
    DrawLabel(Round(double{point.x} - width / 2.0), Round(double{point.y} + LABEL_OFFSET), label, colour);
}

// The frame of a scene without a job, every wall drawn in list order.
std::vector<uint32_t> FrameWallByWall() {
    ClearSurface(COLOUR_BACKGROUND);
    BeginSurfaceDrawing();
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    DrawMarker(scene.start, "Start", COLOUR_START);
    DrawMarker(scene.goal, "Ziel", COLOUR_GOAL);
    SetDrawingColour(COLOUR_WALL);
    for (const Wall& wall : ListItems<Wall>(walls)) DrawWall(&wall, CURRENT_COLOUR);
    SetDrawingColour(COLOUR_PATH);
    DrawLabel(5, 5, "Weg wird berechnet ...", COLOUR_COMPUTING);
    DrawLabel(500, 10, "Pfadlotse", COLOUR_HELP);
    DrawLabel(500, 30, "Mauer setzen mit linker Maus", COLOUR_HELP);
    DrawLabel(500, 50, "Start/Ziel verschieben mit rechter Maus", COLOUR_HELP);
    int32_t x = Round(scene.mousePos.x), y = Round(scene.mousePos.y);
    DrawLineOffset(x, y, 7, 15, COLOUR_CURSOR);
    DrawLineOffset(x, y, 15, 7, COLOUR_CURSOR);
    EndSurfaceDrawing();
    return std::vector<uint32_t>(BackBufferPixels(), BackBufferPixels() + SURFACE_WIDTH * SURFACE_HEIGHT);
}

std::vector<uint32_t> FrameOfTheLoop() {
    DrawFrame();
    return std::vector<uint32_t>(BackBufferPixels(), BackBufferPixels() + SURFACE_WIDTH * SURFACE_HEIGHT);
}

testing::AssertionResult SameFrame() {
    std::vector<uint32_t> layered = FrameOfTheLoop();
    std::vector<uint32_t> direct = FrameWallByWall();
    for (size_t i = 0; i < direct.size(); ++i)
        if (layered[i] != direct[i])
            return testing::AssertionFailure() << "pixel (" << i % SURFACE_WIDTH << ", " << i / SURFACE_WIDTH << ") is "
                                               << std::hex << layered[i] << ", drawn wall by wall " << direct[i];
    return testing::AssertionSuccess();
}

Wall RawWall(float x, float y, float dx, float dy) {
    Wall wall{};
    wall.origin = Vec2{x, y};
    wall.delta = Vec2{dx, dy};
    return wall;
}

void Append(const Wall& wall) { *static_cast<Wall*>(ListAppend(walls)) = wall; }

class WallLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        NullPlatformReset();
        ASSERT_TRUE(StartPlatform(false));
        StartScene();
        FreePathJob(scene.job);
        scene.job = nullptr;
        scene.mousePos = Vec2{300, 200};
    }
};

}  // namespace

TEST_F(WallLayerTest, FramesMatchTheWallByWallDrawingOnManyKindsOfWalls) {
    EXPECT_TRUE(SameFrame()) << "start-up scene";

    std::mt19937 random(4);
    for (int32_t i = 0; i < 400; ++i)
        AddWall(static_cast<int32_t>(random() % 900) - 50, static_cast<int32_t>(random() % 700) - 50,
                static_cast<int32_t>(random() % 900) - 50, static_cast<int32_t>(random() % 700) - 50);
    EXPECT_TRUE(SameFrame()) << "random walls, some reaching past the edges";

    // Over the markers and under the texts; halves that round to even; far, huge and
    // impossible coordinates; zero length.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    Append(RawWall(40.5f, 330.5f, 20.5f, 20.5f));
    Append(RawWall(0.5f, 10.5f, 799.5f, 0.5f));
    Append(RawWall(-1e6f, 300, 2e6f, 1.5f));
    Append(RawWall(3e9f, -3e9f, -6e9f, 6e9f));
    Append(RawWall(nan, 100, 10, 10));
    Append(RawWall(100, 100, inf, 0));
    Append(RawWall(200.4f, 200.4f, 0, 0));
    Append(RawWall(799.5f, 599.5f, -0.5f, -0.5f));
    Append(RawWall(-10, -10, 5, 5));  // wholly outside
    // One pixel inside at each edge.
    Append(RawWall(799, 300, 5, 3));
    Append(RawWall(300, 599, 4, 6));
    Append(RawWall(-5, 410, 6, 0));
    Append(RawWall(420, -5, 0, 6));
    EXPECT_TRUE(SameFrame()) << "edge cases";
}

TEST_F(WallLayerTest, TheLayerFollowsEveryChangeOfTheWalls) {
    ASSERT_TRUE(SameFrame());
    AddWall(100, 300, 700, 320);
    EXPECT_TRUE(SameFrame()) << "a wall added";

    // The same number of walls, refilled: the list's elements may even come back at the same
    // addresses.
    int32_t count = ListCount(walls);
    ListClear(walls);
    for (int32_t i = 0; i < count; ++i) AddWall(50 + i * 30, 150, 60 + i * 30, 500);
    EXPECT_TRUE(SameFrame()) << "refilled";

    ListClear(walls);
    EXPECT_TRUE(SameFrame()) << "emptied";

    ListCreate(&walls, sizeof(Wall));  // a new list in its place
    AddWall(10, 590, 790, 100);
    EXPECT_TRUE(SameFrame()) << "a new list";
    EXPECT_TRUE(SameFrame()) << "unchanged, from the layer";
}
