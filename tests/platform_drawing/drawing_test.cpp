// Pixel rules of the shared rasterizer, checked on the null platform's back buffer.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>
#include <utility>

#include "platform/display.h"
#include "platform/null/null_platform.h"

namespace {

using Pixel = std::pair<int64_t, int64_t>;
using Pixels = std::set<Pixel>;

constexpr int32_t WHITE = 0xFFFFFF;

class DrawingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        NullPlatformReset();
        ASSERT_NE(OpenDisplay(), 0);
        Window* window =
            OpenMainWindow(0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, "Fenster", MAIN_WINDOW_STYLE);
        ASSERT_NE(window, nullptr);
        ASSERT_NE(OpenWindowSurface(window, 0, 0, SURFACE_WIDTH, SURFACE_HEIGHT, 0, 0, 0), 0);
        ClearSurface(0x000000);
        BeginSurfaceDrawing();
    }
    void TearDown() override { EndSurfaceDrawing(); }

    static uint32_t At(int64_t x, int64_t y) { return BackBufferPixels()[y * SURFACE_WIDTH + x]; }

    // Every pixel that is not black.
    static Pixels Lit() {
        Pixels lit;
        for (int64_t y = 0; y < SURFACE_HEIGHT; ++y) {
            for (int64_t x = 0; x < SURFACE_WIDTH; ++x) {
                if (At(x, y) != 0) lit.insert({x, y});
            }
        }
        return lit;
    }
};

__int128 Floor(__int128 numerator, __int128 divisor) {
    __int128 q = numerator / divisor;
    return (numerator % divisor != 0 && numerator < 0) ? q - 1 : q;
}

bool Visible(const Pixel& p) {
    return p.first >= 0 && p.first < SURFACE_WIDTH && p.second >= 0 && p.second < SURFACE_HEIGHT;
}

// The line's visible pixels, found column by column (or row by row) along its major axis: the
// major coordinate moves by exactly one per step, so each visible step is found directly.
Pixels ReferenceLine(int64_t x, int64_t y, int64_t dx, int64_t dy) {
    Pixels pixels;
    __int128 n = std::max(dx < 0 ? -dx : dx, dy < 0 ? -dy : dy);
    if (n == 0) return pixels;
    bool xMajor = (dx < 0 ? -dx : dx) == n;
    int64_t size = xMajor ? SURFACE_WIDTH : SURFACE_HEIGHT;
    for (int64_t major = 0; major < size; ++major) {
        __int128 d = xMajor ? dx : dy;
        __int128 i = d > 0 ? major - (xMajor ? x : y) : (xMajor ? x : y) - major;
        if (i < 0 || i >= n) continue;
        Pixel p{static_cast<int64_t>(x + Floor(2 * i * dx + n, 2 * n)),
                static_cast<int64_t>(y + Floor(2 * i * dy + n, 2 * n))};
        if (Visible(p)) pixels.insert(p);
    }
    return pixels;
}

}  // namespace

// ---- Lines ---------------------------------------------------------------------------------

TEST_F(DrawingTest, LineOffsetStopsShortOfItsEndAndLineBetweenIncludesIt) {
    DrawLineOffset(10, 10, 7, 15, WHITE);
    Pixels offset = Lit();
    EXPECT_EQ(offset.size(), 15u);
    EXPECT_EQ(offset.count({17, 25}), 0u);
    EXPECT_EQ(offset.count({10, 10}), 1u);
    EXPECT_EQ(offset.count({17, 24}), 1u);
    EXPECT_EQ(offset.count({10, 11}), 1u);  // floor((2*7 + 15) / 30) = 0
    EXPECT_EQ(offset.count({11, 12}), 1u);

    ClearSurface(0);
    DrawLineBetween(10, 10, 17, 25, WHITE);
    Pixels between = Lit();
    offset.insert({17, 25});
    EXPECT_EQ(between, offset);
}

TEST_F(DrawingTest, ZeroLengthLinesDrawNothingOrOnePixel) {
    DrawLineOffset(100, 100, 0, 0, WHITE);
    EXPECT_TRUE(Lit().empty());
    DrawLineBetween(100, 100, 100, 100, WHITE);
    EXPECT_EQ(Lit(), (Pixels{{100, 100}}));
}

TEST_F(DrawingTest, NegativeOffsetsRoundByTheMathematicalFloor) {
    // Truncating toward zero would put the second pixel at x 20 and the third at x 19.
    DrawLineOffset(20, 20, -3, 1, WHITE);
    EXPECT_EQ(Lit(), (Pixels{{20, 20}, {19, 20}, {18, 21}}));
}

TEST_F(DrawingTest, LinesInAllEightOctantsFollowTheRule) {
    const std::pair<int32_t, int32_t> offsets[] = {{37, 11},   {11, 37},   {-11, 37}, {-37, 11},
                                                   {-37, -11}, {-11, -37}, {11, -37}, {37, -11},
                                                   {20, 20},   {-20, 20},  {0, -9},   {-9, 0}};
    for (auto [dx, dy] : offsets) {
        ClearSurface(0);
        DrawLineOffset(400, 300, dx, dy, WHITE);
        EXPECT_EQ(Lit(), ReferenceLine(400, 300, dx, dy)) << dx << "," << dy;
        EXPECT_EQ(Lit().size(), static_cast<size_t>(std::max(std::abs(dx), std::abs(dy))));
        EXPECT_EQ(Lit().count({400 + dx, 300 + dy}), 0u);
    }
}

TEST_F(DrawingTest, ClippedLinesDrawExactlyTheirVisiblePixels) {
    const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1000,         -1,       0, 399, 799,
                                800,       5000,          INT32_MAX - 1, INT32_MAX};
    for (int32_t x1 : extremes) {
        for (int32_t y1 : extremes) {
            for (auto [x2, y2] : {std::pair{INT32_MAX, INT32_MIN}, std::pair{-7, 650},
                                  std::pair{400, 300}, std::pair{INT32_MIN, 2}}) {
                ClearSurface(0);
                DrawLineBetween(x1, y1, x2, y2, WHITE);
                Pixels expected = ReferenceLine(x1, y1, int64_t{x2} - x1, int64_t{y2} - y1);
                if (Visible({x2, y2})) expected.insert({x2, y2});
                ASSERT_EQ(Lit(), expected) << x1 << "," << y1 << " to " << x2 << "," << y2;
            }
        }
    }
}

TEST_F(DrawingTest, RandomLinesThroughTheSurfaceMatchTheReference) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
    std::uniform_int_distribution<int32_t> near(-900, 1700);
    for (int round = 0; round < 300; ++round) {
        int32_t x = round % 2 ? any(random) : near(random);
        int32_t y = round % 3 ? near(random) : any(random);
        int32_t dx = round % 5 ? near(random) - 400 : any(random);
        int32_t dy = any(random) / (1 + round % 7 * 1000);
        ClearSurface(0);
        DrawLineOffset(x, y, dx, dy, WHITE);
        ASSERT_EQ(Lit(), ReferenceLine(x, y, dx, dy)) << x << "," << y << " by " << dx << "," << dy;
    }
}

// ---- Discs ---------------------------------------------------------------------------------

TEST_F(DrawingTest, DiscOfRadiusFourStaysInsideItsSquareInOneColour) {
    DrawDisc(50, 340, 4, 0x00A0A0);
    Pixels lit = Lit();
    ASSERT_FALSE(lit.empty());
    Pixels expected;
    for (int64_t py = 336; py < 344; ++py) {
        for (int64_t px = 46; px < 54; ++px) {
            int64_t u = 2 * px + 1 - 100, v = 2 * py + 1 - 680;
            if (u * u + v * v <= 64) expected.insert({px, py});
        }
    }
    EXPECT_EQ(lit, expected);
    for (const Pixel& p : lit) EXPECT_EQ(At(p.first, p.second), 0xA0A000u);  // 0x00RRGGBB
    EXPECT_EQ(lit.count({46, 340}), 1u);
    EXPECT_EQ(lit.count({46, 336}), 0u);  // the corners lie outside the circle
}

TEST_F(DrawingTest, ClippedAndExtremeDiscsDrawOnlyTheirVisiblePixels) {
    struct Case {
        int32_t x, y, r;
    };
    for (Case c : {Case{-3, 300, 10}, Case{799, 599, 25}, Case{400, -20, 21}, Case{0, 0, INT32_MAX},
                   Case{INT32_MIN, INT32_MIN, INT32_MAX}, Case{INT32_MAX, 300, INT32_MAX},
                   Case{400, 300, 0}, Case{400, 300, -5}}) {
        ClearSurface(0);
        DrawDisc(c.x, c.y, c.r, WHITE);
        size_t expected = 0;
        for (int64_t py = 0; py < SURFACE_HEIGHT; ++py) {
            for (int64_t px = 0; px < SURFACE_WIDTH; ++px) {
                __int128 u = 2 * px + 1 - 2 * int64_t{c.x}, v = 2 * py + 1 - 2 * int64_t{c.y};
                bool inSquare = px >= int64_t{c.x} - c.r && px < int64_t{c.x} + c.r &&
                                py >= int64_t{c.y} - c.r && py < int64_t{c.y} + c.r;
                bool inside = inSquare && u * u + v * v <= __int128{4} * c.r * c.r;
                ASSERT_EQ(At(px, py) != 0, inside)
                    << c.x << "," << c.y << " r " << c.r << " at " << px << "," << py;
                expected += inside;
            }
        }
        if (c.x == 0 && c.r == INT32_MAX) {
            EXPECT_EQ(expected, size_t{SURFACE_WIDTH} * SURFACE_HEIGHT);
        }
    }
}

// ---- Colours and the drawing context -------------------------------------------------------

TEST_F(DrawingTest, AOneOffColourLeavesTheCurrentColourInPlace) {
    SetDrawingColour(0x0000FF);       // red
    DrawDisc(100, 100, 3, 0x00FF00);  // green, for this disc only
    DrawLineOffset(200, 200, 5, 0);   // the current colour
    DrawLineOffset(200, 210, 5, 0, CURRENT_COLOUR);
    EXPECT_EQ(At(100, 100), 0x00FF00u);
    EXPECT_EQ(At(200, 200), 0xFF0000u);
    EXPECT_EQ(At(200, 210), 0xFF0000u);
    ClearSurface(0x804020);  // BBGGRR 80 40 20 is RGB 20 40 80
    EXPECT_EQ(At(0, 0), 0x204080u);
}

TEST_F(DrawingTest, BeginResetsTheContextToBlackOnWhiteInModeZero) {
    SetDrawingColour(WHITE);
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    BeginSurfaceDrawing();
    ClearSurface(0x0000FF);
    DrawLineOffset(10, 10, 3, 0);
    EXPECT_EQ(At(10, 10), 0x000000u);
    int32_t right = DrawLabel(20, 20, "Ziel");
    EXPECT_EQ(At(20, 20), 0xFFFFFFu);  // the label's box in the background colour
    EXPECT_EQ(right, 20 + LabelWidth("Ziel"));
}

TEST_F(DrawingTest, WithoutATargetNothingIsDrawn) {
    EndSurfaceDrawing();
    DrawLineBetween(0, 0, 799, 599, WHITE);
    DrawDisc(400, 300, 50, WHITE);
    EXPECT_EQ(DrawLabel(10, 10, "Start", WHITE), 0);
    EXPECT_EQ(LabelWidth("Start"), 0);
    EXPECT_TRUE(Lit().empty());
}

TEST_F(DrawingTest, TheBackBufferKeepsThePresentedFrame) {
    DrawDisc(300, 300, 10, WHITE);
    EndSurfaceDrawing();
    Pixels before = Lit();
    PresentSurface();
    EXPECT_EQ(Lit(), before);
}

// ---- Labels --------------------------------------------------------------------------------

TEST_F(DrawingTest, EmptyLabelsDrawNothingAndHaveNoWidth) {
    EXPECT_EQ(LabelWidth(""), 0);
    EXPECT_EQ(DrawLabel(40, 50, ""), 40);
    EXPECT_TRUE(Lit().empty());
}

TEST_F(DrawingTest, TransparentLabelsUseOnlyTheirColourAndLeaveALineVisible) {
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    DrawLineOffset(0, 106, 800, 0, 0x0000FF);
    int32_t right = DrawLabel(100, 100, "Weg erfolgreich berechnet", 0x40D040);
    int32_t width = LabelWidth("Weg erfolgreich berechnet");
    EXPECT_GT(width, 100);
    EXPECT_LT(width, 250);
    EXPECT_EQ(right, 100 + width);
    int textPixels = 0, linePixels = 0;
    for (int64_t y = 90; y < 125; ++y) {
        for (int64_t x = 90; x < 110 + width; ++x) {
            uint32_t p = At(x, y);
            // No anti-aliasing: nothing between the text colour and what lay under it.
            ASSERT_TRUE(p == 0 || p == 0x40D040u || p == 0xFF0000u) << std::hex << p;
            textPixels += p == 0x40D040u;
            linePixels += y == 106 && x >= 100 && x < right && p == 0xFF0000u;
        }
    }
    EXPECT_GT(textPixels, 100);
    EXPECT_GT(linePixels, 0);
    EXPECT_LT(linePixels, width);
}

TEST_F(DrawingTest, OpaqueLabelsCoverWhatLiesUnderTheirBox) {
    DrawLineOffset(0, 106, 800, 0, 0x0000FF);
    int32_t right = DrawLabel(100, 100, "Start", 0x00A0A0);
    for (int64_t x = 100; x < right; ++x) {
        uint32_t p = At(x, 106);
        EXPECT_TRUE(p == 0xFFFFFFu || p == 0xA0A000u) << x;
    }
    EXPECT_EQ(At(99, 106), 0xFF0000u);
    EXPECT_EQ(At(right, 106), 0xFF0000u);
    EXPECT_EQ(At(100, 100), 0xFFFFFFu);
}

TEST_F(DrawingTest, Windows1252LettersHaveGlyphsOfTheirOwn) {
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    // ü (0xFC) and € (0x80) must not fall back to the font's box for unknown characters.
    DrawLabel(10, 10, "\xFC", WHITE);
    Pixels umlaut = Lit();
    ClearSurface(0);
    DrawLabel(10, 10, "\x80", WHITE);
    Pixels euro = Lit();
    ClearSurface(0);
    DrawLabel(10, 10, "\x01", WHITE);
    Pixels unknown = Lit();
    EXPECT_FALSE(umlaut.empty());
    EXPECT_FALSE(euro.empty());
    EXPECT_NE(umlaut, euro);
    EXPECT_NE(umlaut, unknown);
    EXPECT_NE(euro, unknown);
}

TEST_F(DrawingTest, LabelsAreClippedAtEveryEdge) {
    SetDrawingMode(DRAWING_MODE_OPAQUE);
    for (auto [x, y] : {std::pair{INT32_MIN, INT32_MIN}, std::pair{INT32_MAX, INT32_MAX},
                        std::pair{-30, -5}, std::pair{780, 590}, std::pair{INT32_MIN, 300}}) {
        DrawLabel(x, y, "Kollisionskontrollen : 123", WHITE);
    }
    // Reaching here without writing outside the buffer is the point (AddressSanitizer checks);
    // the label at (780, 590) shows in the corner.
    EXPECT_EQ(At(799, 599), 0xFFFFFFu);
}

TEST_F(DrawingTest, TextIsTheSameAfterTheRendererIsReopened) {
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    DrawLabel(10, 10, "Berechungszeit : 15ms", WHITE);
    Pixels first = Lit();
    NullPlatformReset();
    SetUp();
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    DrawLabel(10, 10, "Berechungszeit : 15ms", WHITE);
    EXPECT_EQ(Lit(), first);
}

// Every character of the 8-bit set, one per cell of a 16 × 16 grid, in one picture: its pixels
// and advances are those the program has always shown (the value was taken from the earlier
// SDL_ttf renderer), so a change of renderer, hinting or font file shows here.
TEST_F(DrawingTest, EveryCharacterKeepsItsGlyphAndAdvance) {
    SetDrawingMode(DRAWING_MODE_TRANSPARENT);
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](uint64_t value) {
        for (int byte = 0; byte < 8; ++byte) {
            hash = (hash ^ ((value >> (8 * byte)) & 0xFF)) * 1099511628211ull;
        }
    };
    for (int code = 0; code < 256; ++code) {
        std::string text(1, static_cast<char>(code));
        mix(static_cast<uint64_t>(LabelWidth(text)));
        DrawLabel(10 + (code % 16) * 48, 10 + (code / 16) * 36, text, WHITE);
    }
    mix(static_cast<uint64_t>(LabelWidth("Weg-Knoten : 0123456789")));
    for (const Pixel& pixel : Lit()) mix(static_cast<uint64_t>(pixel.first << 16 | pixel.second));
    EXPECT_EQ(hash, 7292824600272251187ull);
}
