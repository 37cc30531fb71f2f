// The text renderer both platforms draw with: DejaVu Sans at 13 px through FreeType, hinted and
// rendered in monochrome, one glyph at a time from a cache of the 256 Windows-1252 characters.
// Glyph-by-glyph placement without kerning keeps widths a plain sum of advances.
#include "platform/display.h"
#include "platform/display_backend.h"
#include "platform/system.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <fontconfig/fontconfig.h>

#include <cstring>
#include <vector>

namespace {

constexpr int FONT_PIXEL_SIZE = 13;
constexpr const char* FONT_FAMILY = "DejaVu Sans";
// Where Debian's fonts-dejavu-core puts it, for when fontconfig does not know it.
constexpr const char* FONT_FALLBACK_PATH = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// One glyph's monochrome bitmap: 1 where the glyph is drawn. left and top are the bitmap's
// offset from the pen position and from the top of the line.
struct Glyph {
    bool rendered;
    int32_t advance;
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
    std::vector<uint8_t> mask;
};

FT_Library library = nullptr;
FT_Face font = nullptr;
int32_t ascent = 0;
int32_t lineHeight = 0;
Glyph glyphs[256];

// A 26.6 fixed-point length rounded up to whole pixels.
int32_t CeilPixels(FT_Long value) { return static_cast<int32_t>((value + 63) >> 6); }

// The path of DejaVu Sans as fontconfig knows it; empty when it matches another family.
std::string FontPathFromFontconfig() {
    std::string path;
    if (!FcInit()) return path;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(FONT_FAMILY));
    if (!pattern) return path;
    FcPatternAddString(pattern, FC_STYLE, reinterpret_cast<const FcChar8*>("Book"));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    if (match) {
        FcChar8* family = nullptr;
        FcChar8* file = nullptr;
        if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch &&
            FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
            std::strcmp(reinterpret_cast<const char*>(family), FONT_FAMILY) == 0) {
            path = reinterpret_cast<const char*>(file);
        }
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    // Only the path is needed; fontconfig's own state would otherwise stay allocated for good.
    FcFini();
    return path;
}

const Glyph& GlyphFor(uint8_t byte) {
    Glyph& glyph = glyphs[byte];
    if (glyph.rendered) return glyph;
    glyph.rendered = true;
    FT_UInt index = FT_Get_Char_Index(font, Windows1252CodePoint(byte));
    if (FT_Load_Glyph(font, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL) != 0) return glyph;
    FT_GlyphSlot slot = font->glyph;
    glyph.advance = static_cast<int32_t>(slot->metrics.horiAdvance >> 6);
    // NUL and the soft hyphen (shown only where a line breaks) advance the pen but draw nothing.
    if (byte == 0 || byte == 0xAD || FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.left = slot->bitmap_left;
    glyph.top = ascent - slot->bitmap_top;
    glyph.width = static_cast<int32_t>(bitmap.width);
    glyph.height = static_cast<int32_t>(bitmap.rows);
    glyph.mask.assign(static_cast<size_t>(glyph.width) * glyph.height, 0);
    for (int32_t row = 0; row < glyph.height; ++row) {
        const uint8_t* bits = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        for (int32_t column = 0; column < glyph.width; ++column) {
            // Monochrome rows hold eight pixels per byte, the leftmost in the top bit.
            glyph.mask[static_cast<size_t>(row) * glyph.width + column] =
                (bits[column >> 3] >> (7 - (column & 7))) & 1;
        }
    }
    return glyph;
}

// Opens the face at 13 px and reads its line metrics; false when the file is no usable font.
bool OpenFace(const char* path) {
    if (FT_New_Face(library, path, 0, &font) != 0) {
        font = nullptr;
        return false;
    }
    if (FT_Set_Char_Size(font, 0, FONT_PIXEL_SIZE * 64, 0, 0) != 0) {
        FT_Done_Face(font);
        font = nullptr;
        return false;
    }
    FT_Fixed scale = font->size->metrics.y_scale;
    ascent = CeilPixels(FT_MulFix(font->ascender, scale));
    lineHeight = CeilPixels(FT_MulFix(font->ascender - font->descender, scale));
    return true;
}

}  // namespace

bool OpenTextRenderer() {
    if (font) return true;
    if (!library && FT_Init_FreeType(&library) != 0) {
        library = nullptr;
        SetPlatformOpenError("cannot start the font renderer FreeType");
        return false;
    }
    std::string path = FontPathFromFontconfig();
    if (path.empty() || !OpenFace(path.c_str())) OpenFace(FONT_FALLBACK_PATH);
    if (!font) {
        SetPlatformOpenError(
            "the font DejaVu Sans was not found; install it with: sudo apt-get install "
            "fonts-dejavu-core");
        return false;
    }
    return true;
}

void CloseTextRenderer() {
    for (Glyph& glyph : glyphs) glyph = Glyph{};
    if (font) FT_Done_Face(font);
    font = nullptr;
    if (library) FT_Done_FreeType(library);
    library = nullptr;
    ascent = 0;
    lineHeight = 0;
}

int32_t TextWidth(std::string_view text) {
    if (!font) return 0;
    int64_t width = 0;
    for (char c : text) width += GlyphFor(static_cast<uint8_t>(c)).advance;
    return static_cast<int32_t>(std::min<int64_t>(width, INT32_MAX));
}

int32_t TextHeight() { return lineHeight; }

void RenderText(int64_t x, int64_t y, std::string_view text, uint32_t pixel) {
    if (!font || !BackBufferOpen()) return;
    int64_t pen = x;
    for (char c : text) {
        const Glyph& glyph = GlyphFor(static_cast<uint8_t>(c));
        int64_t left = pen + glyph.left;
        int64_t top = y + glyph.top;
        // Only the rows and columns that fall on the surface.
        int64_t firstRow = std::max<int64_t>(0, -top);
        int64_t lastRow = std::min<int64_t>(glyph.height, SURFACE_HEIGHT - top);
        int64_t firstColumn = std::max<int64_t>(0, -left);
        int64_t lastColumn = std::min<int64_t>(glyph.width, SURFACE_WIDTH - left);
        for (int64_t row = firstRow; row < lastRow; ++row) {
            for (int64_t column = firstColumn; column < lastColumn; ++column) {
                if (glyph.mask[row * glyph.width + column]) {
                    StoreBackBufferPixel(left + column, top + row, pixel);
                }
            }
        }
        pen += glyph.advance;
        if (pen >= SURFACE_WIDTH + FONT_PIXEL_SIZE) break;  // the rest lies right of the surface
    }
}
