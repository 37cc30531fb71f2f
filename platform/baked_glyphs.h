// The text renderer's font: DejaVu Sans at 13 px, hinted and monochrome, its 256 Windows-1252
// glyphs rendered with FreeType when the program is built (platform/glyph_baker/ writes the
// definitions), so that no platform needs a font file or a font library at run time.
#pragma once

#include <cstdint>

struct BakedGlyph {
    int16_t advance;  // pixels the pen moves on
    int16_t left;     // the bitmap's first column, right of the pen
    int16_t top;      // the bitmap's first row, above the baseline
    uint8_t width;
    uint8_t height;
    // The bitmap's rows in BAKED_GLYPH_BITS from here: (width + 7) / 8 bytes a row, eight
    // pixels a byte, the leftmost in the top bit, 1 where the glyph is drawn.
    uint32_t bits;
};

// Rows from the top of a line to the baseline, and the rows a line takes.
extern const int32_t BAKED_FONT_ASCENT;
extern const int32_t BAKED_FONT_LINE_HEIGHT;
extern const BakedGlyph BAKED_GLYPHS[256];
extern const uint8_t BAKED_GLYPH_BITS[];
