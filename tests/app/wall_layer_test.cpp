// The frame the program draws shows every pixel that drawing each wall on its own would set,
// over the markers and under the texts and the cursor, and nothing else of the walls; and it
// follows every change of the wall list.
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

using Frame = std::vector<uint32_t>;

// Colours are 0x00BBGGRR, back buffer pixels 0x00RRGGBB.
uint32_t Pixel(int32_t colour) {
    return (colour & 0xFF) << 16 | (colour & 0xFF00) | (colour >> 16 & 0xFF);
}

Frame BackBuffer() {
    return Frame(BackBufferPixels(), BackBufferPixels() + SURFACE_WIDTH * SURFACE_HEIGHT);
}

Frame FrameOfTheLoop() {
    DrawFrame();
    return BackBuffer();
}

// The pixels the walls set, each wall drawn on its own.
Frame WallByWall() {
    ClearSurface(COLOUR_BACKGROUND);
    BeginSurfaceDrawing();
    SetDrawingColour(COLOUR_WALL);
    for (const Wall& wall : ListItems<Wall>(walls)) DrawWall(&wall, CURRENT_COLOUR);
    EndSurfaceDrawing();
    return BackBuffer();
}

// A pixel of the frame without walls that lies above them: a text's or the cursor's.
bool AboveTheWalls(uint32_t pixel) {
    for (int32_t colour : {COLOUR_COMPUTING, COLOUR_HELP, COLOUR_CURSOR})
        if (pixel == Pixel(colour)) return true;
    return false;
}

// withoutWalls: the program's frame of the same scene with no walls.
testing::AssertionResult ShowsTheWalls(const Frame& withoutWalls) {
    Frame frame = FrameOfTheLoop();
    Frame wallPixels = WallByWall();
    for (size_t i = 0; i < frame.size(); ++i) {
        uint32_t expected = wallPixels[i] != 0 && !AboveTheWalls(withoutWalls[i])
                                ? Pixel(COLOUR_WALL)
                                : withoutWalls[i];
        if (frame[i] != expected)
            return testing::AssertionFailure()
                   << "pixel (" << i % SURFACE_WIDTH << ", " << i / SURFACE_WIDTH << ") is "
                   << std::hex << frame[i] << ", not " << expected;
    }
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
        // The frame without walls, the walls then put back: every change here is made in place,
        // as the edits make them.
        std::vector<Wall> kept;
        for (const Wall& wall : ListItems<Wall>(walls)) kept.push_back(wall);
        ListClear(walls);
        withoutWalls_ = FrameOfTheLoop();
        for (const Wall& wall : kept) Append(wall);
    }
    testing::AssertionResult SameFrame() { return ShowsTheWalls(withoutWalls_); }
    Frame withoutWalls_;
};

}  // namespace

TEST_F(WallLayerTest, FramesMatchTheWallByWallDrawingOnManyKindsOfWalls) {
    EXPECT_TRUE(SameFrame()) << "start-up scene";

    std::mt19937 random(4);
    for (int32_t i = 0; i < 400; ++i)
        AddWall(
            static_cast<int32_t>(random() % 900) - 50, static_cast<int32_t>(random() % 700) - 50,
            static_cast<int32_t>(random() % 900) - 50, static_cast<int32_t>(random() % 700) - 50);
    EXPECT_TRUE(SameFrame()) << "random walls, some reaching past the edges";

    // Over the markers and under the texts; halves that round to even; far, huge and
    // impossible coordinates; zero length.
    const float nan = std::numeric_limits<float>::quiet_NaN(),
                inf = std::numeric_limits<float>::infinity();
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
