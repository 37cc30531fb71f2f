// The software rasterizer both platforms draw with: our own back buffer, the per-thread drawing
// context, lines, discs and labels. Every shape is computed in 64-bit (and for products
// 128-bit) integers and clipped by solving for its visible part, so any 32-bit coordinates are
// safe and the pixels are the same on every machine.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/display.h"
#include "platform/display_backend.h"

namespace {

using Wide = __int128;

uint32_t backBuffer[SURFACE_WIDTH * SURFACE_HEIGHT];
bool backBufferOpen = false;
std::atomic<int64_t> pixelsOutside{0};

struct DrawingContext {
    bool target;
    int32_t colour;
    int32_t background;
    int32_t mode;
};
thread_local DrawingContext context{};

bool Drawing() { return context.target && backBufferOpen; }

uint32_t PixelFor(int32_t colour) {
    return ColourToPixel(colour == CURRENT_COLOUR ? context.colour : colour);
}

// Floor division for a positive divisor, also for negative numerators.
Wide FloorDiv(Wide numerator, Wide divisor) {
    Wide quotient = numerator / divisor;
    if (numerator % divisor != 0 && numerator < 0) --quotient;
    return quotient;
}

// Offset of step i along one axis of a line with n steps: floor((2*i*d + n) / (2n)).
Wide AxisOffset(Wide i, Wide d, Wide n) { return FloorDiv(2 * i * d + n, 2 * n); }

// The first i in [from, to) for which the predicate holds, the predicate being false and then
// true along i (monotone); `to` when it never holds.
template <class Predicate>
Wide FirstWhere(Wide from, Wide to, Predicate holds) {
    while (from < to) {
        Wide middle = from + (to - from) / 2;
        if (holds(middle)) {
            to = middle;
        } else {
            from = middle + 1;
        }
    }
    return from;
}

// Narrows [first, last) to the steps whose coordinate start + offset(i) lies in [0, size).
// The offset is monotone in i, so the visible steps form one interval.
void ClipAxis(Wide start, Wide d, Wide n, Wide size, Wide* first, Wide* last) {
    auto coordinate = [&](Wide i) { return start + AxisOffset(i, d, n); };
    Wide from = *first;
    Wide to = *last;
    if (d >= 0) {
        *first = FirstWhere(from, to, [&](Wide i) { return coordinate(i) >= 0; });
        *last = FirstWhere(from, to, [&](Wide i) { return coordinate(i) >= size; });
    } else {
        *first = FirstWhere(from, to, [&](Wide i) { return coordinate(i) < size; });
        *last = FirstWhere(from, to, [&](Wide i) { return coordinate(i) < 0; });
    }
}

void PutPixel(Wide x, Wide y, uint32_t pixel) {
    if (x < 0 || y < 0 || x >= SURFACE_WIDTH || y >= SURFACE_HEIGHT) return;
    backBuffer[static_cast<int64_t>(y) * SURFACE_WIDTH + static_cast<int64_t>(x)] = pixel;
}

void LineOffset(int64_t x, int64_t y, int64_t dx, int64_t dy, uint32_t pixel) {
    Wide n = std::max(dx < 0 ? -dx : dx, dy < 0 ? -dy : dy);
    if (n == 0) return;
    Wide first = 0;
    Wide last = n;
    ClipAxis(x, dx, n, SURFACE_WIDTH, &first, &last);
    if (first >= last) return;
    ClipAxis(y, dy, n, SURFACE_HEIGHT, &first, &last);
    for (Wide i = first; i < last; ++i) {
        StoreBackBufferPixel(static_cast<int64_t>(x + AxisOffset(i, dx, n)),
                             static_cast<int64_t>(y + AxisOffset(i, dy, n)), pixel);
    }
}

// The largest s with s*s <= value, for 0 <= value < 2^64.
Wide SquareRootFloor(Wide value) {
    Wide root = static_cast<Wide>(std::sqrt(static_cast<long double>(value)));
    while (root * root > value) --root;
    while ((root + 1) * (root + 1) <= value) ++root;
    return root;
}

void FillRect(int64_t left, int64_t top, int64_t right, int64_t bottom, uint32_t pixel) {
    left = std::max<int64_t>(left, 0);
    top = std::max<int64_t>(top, 0);
    right = std::min<int64_t>(right, SURFACE_WIDTH);
    bottom = std::min<int64_t>(bottom, SURFACE_HEIGHT);
    for (int64_t row = top; row < bottom; ++row) {
        for (int64_t column = left; column < right; ++column) {
            StoreBackBufferPixel(column, row, pixel);
        }
    }
}

}  // namespace

// ---- Back buffer ---------------------------------------------------------------------------

void OpenBackBuffer() {
    std::fill(std::begin(backBuffer), std::end(backBuffer), 0u);
    backBufferOpen = true;
}

void CloseBackBuffer() { backBufferOpen = false; }

bool BackBufferOpen() { return backBufferOpen; }

uint32_t* BackBufferData() { return backBuffer; }

void StoreBackBufferPixel(int64_t x, int64_t y, uint32_t pixel) {
    if (x < 0 || y < 0 || x >= SURFACE_WIDTH || y >= SURFACE_HEIGHT) {
        pixelsOutside.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    backBuffer[y * SURFACE_WIDTH + x] = pixel;
}

int64_t PixelsOutsideSurface() { return pixelsOutside.load(std::memory_order_relaxed); }

const uint32_t* BackBufferPixels() { return backBuffer; }

void ClearSurface(int32_t colour) {
    if (!backBufferOpen) return;
    std::fill(std::begin(backBuffer), std::end(backBuffer), ColourToPixel(colour));
}

// ---- Drawing context -----------------------------------------------------------------------

void BeginSurfaceDrawing() {
    EndSurfaceDrawing();
    if (!backBufferOpen) return;
    context = DrawingContext{true, 0x000000, 0xFFFFFF, DRAWING_MODE_OPAQUE};
}

void EndSurfaceDrawing() { context.target = false; }

void SetDrawingMode(int32_t mode) {
    if (Drawing()) context.mode = mode;
}

void SetDrawingColour(int32_t colour) {
    if (Drawing() && colour != CURRENT_COLOUR) context.colour = colour;
}

// ---- Shapes --------------------------------------------------------------------------------

void DrawLineOffset(int32_t x, int32_t y, int32_t dx, int32_t dy, int32_t colour) {
    if (!Drawing()) return;
    LineOffset(x, y, dx, dy, PixelFor(colour));
}

void DrawLineBetween(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t colour) {
    if (!Drawing()) return;
    uint32_t pixel = PixelFor(colour);
    // The differences need 33 bits for extreme end points.
    LineOffset(x1, y1, int64_t{x2} - x1, int64_t{y2} - y1, pixel);
    PutPixel(x2, y2, pixel);
}

void DrawDisc(int32_t x, int32_t y, int32_t radius, int32_t colour) {
    if (!Drawing() || radius <= 0) return;
    uint32_t pixel = PixelFor(colour);
    Wide cx = x;
    Wide cy = y;
    Wide r = radius;
    Wide top = std::max<Wide>(cy - r, 0);
    Wide bottom = std::min<Wide>(cy + r, SURFACE_HEIGHT);
    for (Wide py = top; py < bottom; ++py) {
        Wide v = 2 * py + 1 - 2 * cy;
        Wide room = 4 * r * r - v * v;
        if (room < 0) continue;
        // |2px + 1 - 2x| <= u  <=>  (2x - 1 - u) / 2 <= px <= (2x - 1 + u) / 2
        Wide u = SquareRootFloor(room);
        Wide left = -FloorDiv(-(2 * cx - 1 - u), 2);
        Wide right = FloorDiv(2 * cx - 1 + u, 2) + 1;
        left = std::max({left, cx - r, Wide{0}});
        right = std::min({right, cx + r, Wide{SURFACE_WIDTH}});
        for (Wide px = left; px < right; ++px) {
            StoreBackBufferPixel(static_cast<int64_t>(px), static_cast<int64_t>(py), pixel);
        }
    }
}

// ---- Labels --------------------------------------------------------------------------------

int32_t LabelWidth(std::string_view text) {
    if (!Drawing()) return 0;
    return TextWidth(text);
}

int32_t DrawLabel(int32_t x, int32_t y, std::string_view text, int32_t colour) {
    if (!Drawing()) return 0;
    if (text.empty()) return x;
    int32_t width = TextWidth(text);
    if (context.mode == DRAWING_MODE_OPAQUE) {
        FillRect(x, y, int64_t{x} + width, int64_t{y} + TextHeight(),
                 ColourToPixel(context.background));
    }
    RenderText(x, y, text, PixelFor(colour));
    return static_cast<int32_t>(int64_t{x} + width);
}
