// Fuzz target: IntersectSegments on any floats, against a plain double-precision restatement
// of what it promises. The first byte picks the kind of input:
//   even: coordinates on a grid of 1/8 within ±4096, where the arithmetic is exact enough
//         to judge crossing, touching, parallel and collinear pairs;
//   odd:  the raw bits of eight floats, where only what holds for any finite input is checked.
// For every input: the answer is 1, 0 or -1, and hit is written only for 1.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "geometry/geometry.h"

namespace {

double Cross(double ax, double ay, double bx, double by) { return ax * by - ay * bx; }

bool SameBits(const Vec2& a, const Vec2& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Distance from the point to the closed segment.
double PointSegmentDistance(double x, double y, double ox, double oy, double dx, double dy) {
    const double lengthSquared = dx * dx + dy * dy;
    double t = lengthSquared > 0 ? ((x - ox) * dx + (y - oy) * dy) / lengthSquared : 0;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(x - (ox + t * dx), y - (oy + t * dy));
}

// Shortest distance between two closed segments that do not cross (parallel ones).
double SegmentDistance(double px, double py, double pdx, double pdy, double qx, double qy,
                       double qdx, double qdy) {
    return std::min({PointSegmentDistance(px, py, qx, qy, qdx, qdy),
                     PointSegmentDistance(px + pdx, py + pdy, qx, qy, qdx, qdy),
                     PointSegmentDistance(qx, qy, px, py, pdx, pdy),
                     PointSegmentDistance(qx + qdx, qy + qdy, px, py, pdx, pdy)});
}

// Where the 1/8 grid is exact: products and their differences fit a double without rounding,
// and differences of coordinates fit a float.
void CheckOnGrid(const Segment& p, const Segment& q, int32_t result, const Vec2& hit) {
    const double px = p.origin.x, py = p.origin.y, pdx = p.delta.x, pdy = p.delta.y;
    const double qx = q.origin.x, qy = q.origin.y, qdx = q.delta.x, qdy = q.delta.y;
    const double dx = qx - px, dy = qy - py;
    const double det = Cross(pdx, pdy, qdx, qdy);
    // The answer computes t and s in floats, to a few parts in 2^24.
    constexpr double MARGIN = 1e-5;

    if (det != 0) {
        const double tNumerator = Cross(dx, dy, qdx, qdy);
        const double sNumerator = Cross(dx, dy, pdx, pdy);
        const double t = tNumerator / det;
        const double s = sNumerator / det;
        // Exactly at an end: the stored quotients are exactly 0 or 1 too.
        auto inside = [&](double value, double numerator) {
            return numerator == 0 || numerator == det || (value > MARGIN && value < 1 - MARGIN);
        };
        auto outside = [&](double value) { return value < -MARGIN || value > 1 + MARGIN; };
        if (inside(t, tNumerator) && inside(s, sNumerator)) {
            FUZZ_CHECK(result == 1);
            // Along the first segment, to within the float t.
            const double scale = std::max({std::fabs(pdx), std::fabs(pdy), 1.0});
            FUZZ_CHECK(std::fabs(hit.x - (px + t * pdx)) <= 1e-3 * scale);
            FUZZ_CHECK(std::fabs(hit.y - (py + t * pdy)) <= 1e-3 * scale);
        }
        if (outside(t) || outside(s)) FUZZ_CHECK(result == 0);
        return;
    }

    // Parallel, on distinct lines however close: never a hit.
    if ((pdx != 0 || pdy != 0) && Cross(dx, dy, pdx, pdy) != 0) {
        FUZZ_CHECK(result == 0);
        return;
    }
    // Collinear, or the first is a point. The gap is counted in whole units, rounded twice:
    // anything more than a unit away is apart; a hit is less than a unit away. (A touching
    // or overlapping pair may still answer 0: directions are compared bit for bit.)
    const double distance = SegmentDistance(px, py, pdx, pdy, qx, qy, qdx, qdy);
    constexpr double SLACK = 1e-3;
    if (distance > 1 + SLACK) FUZZ_CHECK(result == 0);
    if (result != 0) FUZZ_CHECK(distance < 1 + SLACK);
    if (result == 1) {
        // A touch is reported at one end of the first segment.
        const Vec2 far{static_cast<float>(px + pdx), static_cast<float>(py + pdy)};
        FUZZ_CHECK(SameBits(hit, p.origin) || SameBits(hit, far));
    }
}

// Any finite floats small enough that no stored product overflows: a hit lies on the first
// segment, to within its floats' rounding.
void CheckFinite(const Segment& p, int32_t result, const Vec2& hit) {
    if (result != 1) return;
    FUZZ_CHECK(std::isfinite(hit.x) && std::isfinite(hit.y));
    const double x0 = p.origin.x, y0 = p.origin.y;
    const double x1 = static_cast<double>(p.origin.x) + p.delta.x;
    const double y1 = static_cast<double>(p.origin.y) + p.delta.y;
    const double slackX = 1e-6 * std::max({std::fabs(x0), std::fabs(x1)}) + 1e-37;
    const double slackY = 1e-6 * std::max({std::fabs(y0), std::fabs(y1)}) + 1e-37;
    FUZZ_CHECK(hit.x >= std::min(x0, x1) - slackX && hit.x <= std::max(x0, x1) + slackX);
    FUZZ_CHECK(hit.y >= std::min(y0, y1) - slackY && hit.y <= std::max(y0, y1) + slackY);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool onGrid = (data[0] & 1) == 0;
    float values[8] = {};
    if (onGrid) {
        for (size_t i = 0; i < 8 && 1 + 2 * i + 1 < size + 1; ++i) {
            int16_t steps = 0;
            std::memcpy(&steps, data + 1 + 2 * i, std::min<size_t>(2, size - 1 - 2 * i));
            values[i] = static_cast<float>(steps) / 8.0f;
        }
    } else {
        std::memcpy(values, data + 1, std::min(sizeof values, size - 1));
    }
    const Segment p{{values[0], values[1]}, {values[2], values[3]}};
    const Segment q{{values[4], values[5]}, {values[6], values[7]}};

    const Vec2 untouched{-12345.5f, 67890.25f};
    Vec2 hit = untouched;
    const int32_t result = IntersectSegments(p, q, hit);
    FUZZ_CHECK(result == 1 || result == 0 || result == -1);
    if (result != 1) FUZZ_CHECK(SameBits(hit, untouched));

    if (onGrid) {
        CheckOnGrid(p, q, result, hit);
    } else {
        bool small = true;
        for (float value : values)
            small = small && std::isfinite(value) && std::fabs(value) <= 1e18f;
        if (small) CheckFinite(p, result, hit);
    }
    return 0;
}
