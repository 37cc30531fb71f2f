// The text renderer every platform draws with: DejaVu Sans at 13 px, hinted and monochrome, one
// glyph at a time from the table of the 256 Windows-1252 characters baked into the program.
// Glyph-by-glyph placement without kerning keeps widths a plain sum of advances.
#include <algorithm>

#include "platform/baked_glyphs.h"
#include "platform/display.h"
#include "platform/display_backend.h"

namespace {

constexpr int FONT_PIXEL_SIZE = 13;

bool rendererOpen = false;

}  // namespace

void OpenTextRenderer() { rendererOpen = true; }

void CloseTextRenderer() { rendererOpen = false; }

int32_t TextWidth(std::string_view text) {
    if (!rendererOpen) return 0;
    int64_t width = 0;
    for (char c : text) width += BAKED_GLYPHS[static_cast<uint8_t>(c)].advance;
    return static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX));
}

int32_t TextHeight() { return rendererOpen ? BAKED_FONT_LINE_HEIGHT : 0; }

void RenderText(int64_t x, int64_t y, std::string_view text, uint32_t pixel) {
    if (!rendererOpen || !BackBufferOpen()) return;
    int64_t pen = x;
    for (char c : text) {
        const BakedGlyph& glyph = BAKED_GLYPHS[static_cast<uint8_t>(c)];
        const uint8_t* bits = BAKED_GLYPH_BITS + glyph.bits;
        int64_t rowBytes = (glyph.width + 7) / 8;
        int64_t left = pen + glyph.left;
        int64_t top = y + BAKED_FONT_ASCENT - glyph.top;
        // Only the rows and columns that fall on the surface.
        int64_t firstRow = std::max<int64_t>(0, -top);
        int64_t lastRow = std::min<int64_t>(glyph.height, SURFACE_HEIGHT - top);
        int64_t firstColumn = std::max<int64_t>(0, -left);
        int64_t lastColumn = std::min<int64_t>(glyph.width, SURFACE_WIDTH - left);
        for (int64_t row = firstRow; row < lastRow; ++row) {
            for (int64_t column = firstColumn; column < lastColumn; ++column) {
                if ((bits[row * rowBytes + (column >> 3)] >> (7 - (column & 7))) & 1) {
                    StoreBackBufferPixel(left + column, top + row, pixel);
                }
            }
        }
        pen += glyph.advance;
        if (pen >= SURFACE_WIDTH + FONT_PIXEL_SIZE) break;  // the rest lies right of the surface
    }
}
