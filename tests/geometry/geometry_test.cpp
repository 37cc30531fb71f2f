// AddWall, AddBox and IntersectSegments, grouped by the cases the header names.
#include "geometry/geometry.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/assert_death.h"

namespace {

bool SameBits(Vec2 a, Vec2 b) { return std::memcmp(&a, &b, sizeof a) == 0; }

Segment Seg(float x, float y, float dx, float dy) { return Segment{{x, y}, {dx, dy}}; }

class WallsList : public ::testing::Test {
  protected:
    void SetUp() override { ListCreate(&walls, sizeof(Wall)); }
    void TearDown() override { ListRelease(&walls); }
    std::vector<Wall> All() {
        std::vector<Wall> all;
        for (Wall& wall : ListItems<Wall>(walls)) all.push_back(wall);
        return all;
    }
};

}  // namespace

TEST(NormalizeVec2, GivesTheUnitVectorRoundedToFloat) {
    Vec2 out;
    NormalizeVec2({3, 4}, out);
    EXPECT_TRUE(SameBits(out, Vec2{0.6f, 0.8f}));
    NormalizeVec2({-5, 0}, out);
    EXPECT_TRUE(SameBits(out, Vec2{-1.0f, 0.0f}));  // +0, not -0
    NormalizeVec2({0, 7}, out);
    EXPECT_TRUE(SameBits(out, Vec2{0.0f, 1.0f}));
}

TEST(NormalizeVec2, AVectorWhoseFloatLengthIsZeroGivesZero) {
    Vec2 out{9, 9};
    NormalizeVec2({0, 0}, out);
    EXPECT_TRUE(SameBits(out, Vec2{0, 0}));
    // A zero length gives positive zeros, whatever the signs of the components.
    out = Vec2{9, 9};
    NormalizeVec2({-0.0f, -0.0f}, out);
    EXPECT_TRUE(SameBits(out, Vec2{0, 0}));
    // The smallest non-zero components still have a non-zero float length.
    NormalizeVec2({1e-45f, 0}, out);
    EXPECT_TRUE(SameBits(out, Vec2{1, 0}));
}

TEST(NormalizeVec2, MayWriteItsOwnSource) {
    Vec2 v{3, 4};
    NormalizeVec2(v, v);
    EXPECT_TRUE(SameBits(v, Vec2{0.6f, 0.8f}));
}

TEST(IntersectSegments, CrossingSegmentsMeetAtThePointAlongTheFirst) {
    Vec2 hit{};
    EXPECT_EQ(IntersectSegments(Seg(400, 200, 0, 280), Seg(50, 340, 700, 0), hit), 1);
    EXPECT_TRUE(SameBits(hit, Vec2{400, 340}));
}

TEST(IntersectSegments, EndPointsCountAsMeeting) {
    Vec2 hit{};
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(5, -5, 0, 5), hit), 1);  // T-junction
    EXPECT_TRUE(SameBits(hit, Vec2{5, 0}));
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(10, 0, 3, 7), hit), 1);  // shared end
    EXPECT_TRUE(SameBits(hit, Vec2{10, 0}));
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(5, -5, 0, 4.99f), hit), 0);  // stops short
}

TEST(IntersectSegments, ParallelLinesNeverMeetHoweverClose) {
    Vec2 hit{7, 7};
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(0, 0.0001f, 10, 0), hit), 0);
    EXPECT_TRUE(SameBits(hit, Vec2{7, 7}));
}

TEST(IntersectSegments, CollinearCasesFollowTheWholeUnitGap) {
    const Segment wall = Seg(0, 0, 10, 0);
    Vec2 hit{7, 7};
    EXPECT_EQ(IntersectSegments(wall, Seg(20, 0, 10, 0), hit), 0);  // apart
    EXPECT_EQ(IntersectSegments(wall, Seg(5, 0, 10, 0), hit), -1);  // overlap
    EXPECT_TRUE(SameBits(hit, Vec2{7, 7}));                         // -1 leaves hit alone
    EXPECT_EQ(IntersectSegments(wall, Seg(10, 0, 10, 0), hit), 1);  // touches at the far end
    EXPECT_TRUE(SameBits(hit, Vec2{10, 0}));
    // Touching at the wall's origin from behind: the negated direction is (1, -0), which is not
    // bit-equal to (1, 0), so the touch goes unseen.
    EXPECT_EQ(IntersectSegments(wall, Seg(-10, 0, 10, 0), hit), 0);
}

TEST(IntersectSegments, CollinearWithACommonOrigin) {
    Vec2 hit{};
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(0, 0, 4, 0), hit), -1);  // same direction
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(0, 0, -4, 0), hit), 1);  // opposite
    EXPECT_TRUE(SameBits(hit, Vec2{0, 0}));
}

TEST(IntersectSegments, SubHalfGapsAndOverlapsRoundToTouching) {
    Vec2 hit{};
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(10.4f, 0, 5, 0), hit), 1);
    EXPECT_TRUE(SameBits(hit, Vec2{10, 0}));
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(9.6f, 0, 5, 0), hit), 1);
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(10.6f, 0, 5, 0), hit), 0);
    EXPECT_EQ(IntersectSegments(Seg(0, 0, 10, 0), Seg(9.4f, 0, 5, 0), hit), -1);
}

TEST(IntersectSegments, ZeroLengthWall) {
    Vec2 hit{};
    EXPECT_EQ(IntersectSegments(Seg(3, 4, 0, 0), Seg(3, 4, 6, 8), hit), 1);  // starts on it
    EXPECT_TRUE(SameBits(hit, Vec2{3, 4}));
    EXPECT_EQ(IntersectSegments(Seg(3, 4, 0, 0), Seg(0, 0, 6, 8), hit), -1);  // runs through it
    EXPECT_EQ(IntersectSegments(Seg(3, 4, 0, 0), Seg(0, 0, 3, 4), hit), 1);   // ends on it
    EXPECT_EQ(IntersectSegments(Seg(5, 0, 0, 0), Seg(0, 0, 10, 0), hit), 0);  // (1, -0) again
}

TEST(IntersectSegments, NanParametersPassTheRangeTests) {
    // A NaN wall makes t NaN; "t < 0 or t > 1" is false for NaN, so the test reports a hit.
    Vec2 hit{};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(IntersectSegments(Seg(nan, 0, 1, 1), Seg(0, 0, 1, 0), hit), 1);
    EXPECT_TRUE(std::isnan(hit.x));
}

TEST_F(WallsList, AddWallStoresCornersOneUnitBeyondEachEnd) {
    AddWall(400, 200, 400, 480);
    AddWall(0, 0, 3, 4);
    AddWall(7, 7, 7, 7);
    auto all = All();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_TRUE(SameBits(all[0].delta, Vec2{0, 280}));
    EXPECT_TRUE(SameBits(all[0].outerA, Vec2{400, 199}));
    EXPECT_TRUE(SameBits(all[0].outerB, Vec2{400, 481}));
    EXPECT_TRUE(SameBits(all[1].outerA, Vec2{-0.6f, -0.8f}));
    EXPECT_TRUE(SameBits(all[1].outerB, Vec2{3.6f, 4.8f}));
    EXPECT_TRUE(SameBits(all[2].outerA, Vec2{7, 7}));  // zero length: corners on the point
    EXPECT_TRUE(SameBits(all[2].outerB, Vec2{7, 7}));
}

TEST_F(WallsList, AddBoxAddsTopLeftRightBottom) {
    AddBox(10, 80, 780, 510);
    auto all = All();
    ASSERT_EQ(all.size(), 4u);
    const Wall expected[4] = {
        {{10, 80}, {780, 0}, {9, 80}, {791, 80}},
        {{10, 80}, {0, 510}, {10, 79}, {10, 591}},
        {{790, 80}, {0, 510}, {790, 79}, {790, 591}},
        {{10, 590}, {780, 0}, {9, 590}, {791, 590}},
    };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(std::memcmp(&all[i], &expected[i], sizeof(Wall)), 0) << "wall " << i;
}

TEST_F(WallsList, AddWallAppendsWhereverTheCurrentElementStands) {
    AddWall(1, 1, 2, 2);
    AddWall(3, 3, 4, 4);
    ListRewind(walls);
    AddWall(5, 5, 6, 6);
    auto all = All();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].origin.x, 5.0f);
}

TEST_F(WallsList, ExtremeCoordinatesDoNotOverflow) {
    AddWall(INT32_MIN, 0, INT32_MAX, 0);
    EXPECT_EQ(All()[0].delta.x, 4294967295.0f);
}

// ---- Asserted misuse -----------------------------------------------------------------------

using AddWallDeathTest = WallsList;

TEST_F(AddWallDeathTest, WhileAPathJobMayReadTheWallsItStopsAndTheListStaysAsItWas) {
    AddWall(1, 2, 3, 4);
    CountWallReader(1);  // as a path job does while it exists
    EXPECT_ASSERT_FAILS(AddWall(5, 6, 7, 8), "AddWall while a path job exists.*free the job first");
    EXPECT_ASSERT_FAILS(AddBox(10, 80, 780, 510), "AddWall while a path job exists");
    CountWallReader(-1);
    EXPECT_EQ(ListCount(walls), 1);  // the children's walls were never ours
    AddWall(5, 6, 7, 8);
    EXPECT_EQ(ListCount(walls), 2);
}
