// Rounding floats to integers, halves to even.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "geometry/geometry.h"

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-3.5), -4);
    EXPECT_EQ(RoundHalfEven(0.49999999999999994), 0);
    EXPECT_EQ(RoundHalfEven(-0.5), 0);
    EXPECT_EQ(RoundHalfEven(2.5000001), 3);
}

TEST(RoundHalfEven, ValuesWithoutAnIntegerGiveTheSmallestInteger) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(RoundHalfEven(std::nan("")), INT32_MIN);
    EXPECT_EQ(RoundHalfEven(inf), INT32_MIN);
    EXPECT_EQ(RoundHalfEven(-inf), INT32_MIN);
    EXPECT_EQ(RoundHalfEven(2147483647.5), INT32_MIN);  // rounds to 2^31, out of range
    EXPECT_EQ(RoundHalfEven(3e9), INT32_MIN);
    EXPECT_EQ(RoundHalfEven(-3e9), INT32_MIN);
    EXPECT_EQ(RoundHalfEven(2147483647.4), 2147483647);
    EXPECT_EQ(RoundHalfEven(-2147483648.5), INT32_MIN);  // ties to even: -2^31 itself
    EXPECT_EQ(RoundHalfEven(-2147483647.5), INT32_MIN);
    EXPECT_EQ(RoundHalfEven(-2147483646.5), -2147483646);
}
