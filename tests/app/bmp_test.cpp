// The BMP encoding of the screenshot: header, row order and padding.
#include <gtest/gtest.h>

#include <cstring>

#include "app/scene_file.h"

namespace {
uint32_t Field(const std::vector<uint8_t>& file, size_t offset, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | file[offset + i];
    return value;
}
}  // namespace

TEST(Bmp, TheScreenHeaderHasEveryFieldOfA24BitBottomUpBitmap) {
    std::vector<uint32_t> pixels(800 * 600, 0);
    std::vector<uint8_t> file = EncodeBmp(pixels.data(), 800, 600);
    ASSERT_EQ(file.size(), 1440054u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Field(file, 2, 4), 1440054u);
    EXPECT_EQ(Field(file, 6, 4), 0u);  // both reserved fields
    EXPECT_EQ(Field(file, 10, 4), 54u);
    EXPECT_EQ(Field(file, 14, 4), 40u);
    EXPECT_EQ(Field(file, 18, 4), 800u);
    EXPECT_EQ(Field(file, 22, 4), 600u);
    EXPECT_EQ(Field(file, 26, 2), 1u);
    EXPECT_EQ(Field(file, 28, 2), 24u);
    for (size_t offset = 30; offset < 54; offset += 4)
        EXPECT_EQ(Field(file, offset, 4), 0u) << offset;
}

TEST(Bmp, RowsRunBottomUpWithPixelsAsBlueGreenRed) {
    std::vector<uint32_t> pixels(800 * 600, 0);
    pixels[0] = 0x00FF8040;                // top-left
    pixels[599 * 800] = 0x00102030;        // bottom-left
    pixels[599 * 800 + 799] = 0x00FFFF00;  // bottom-right, the path's yellow
    std::vector<uint8_t> file = EncodeBmp(pixels.data(), 800, 600);
    const uint8_t* bottom = file.data() + 54;
    EXPECT_EQ(bottom[0], 0x30);
    EXPECT_EQ(bottom[1], 0x20);
    EXPECT_EQ(bottom[2], 0x10);
    EXPECT_EQ(bottom[799 * 3], 0x00);
    EXPECT_EQ(bottom[799 * 3 + 1], 0xFF);
    EXPECT_EQ(bottom[799 * 3 + 2], 0xFF);
    const uint8_t* top = file.data() + 54 + 599 * 2400;
    EXPECT_EQ(top[0], 0x40);
    EXPECT_EQ(top[1], 0x80);
    EXPECT_EQ(top[2], 0xFF);
}

TEST(Bmp, RowsOfOddWidthArePaddedToFourBytes) {
    const uint32_t pixels[2 * 3] = {1, 2, 3, 0x00AABBCC, 5, 6};
    std::vector<uint8_t> file = EncodeBmp(pixels, 3, 2);
    ASSERT_EQ(file.size(), 54u + 2 * 12);
    EXPECT_EQ(Field(file, 2, 4), 78u);
    // The bottom row (the second) comes first, then 3 bytes of padding, then the top row.
    EXPECT_EQ(file[54], 0xCC);
    EXPECT_EQ(file[55], 0xBB);
    EXPECT_EQ(file[56], 0xAA);
    EXPECT_EQ(Field(file, 63, 3), 0u);
    EXPECT_EQ(file[66], 1);
    EXPECT_TRUE(EncodeBmp(nullptr, 800, 600).empty());
}
