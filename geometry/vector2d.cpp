// NormalizeVec2: a direction of length one, computed in double and stored as float.
#include <cmath>

#include "geometry/geometry.h"

int32_t NormalizeVec2(const Vec2& src, Vec2& dst) {
    double x = src.x;
    double y = src.y;
    float length = static_cast<float>(std::sqrt(x * x + y * y));
    if (length == 0.0f) {
        dst = Vec2{0.0f, 0.0f};
        return 0;
    }
    dst.x = static_cast<float>(x / length);
    dst.y = static_cast<float>(y / length);
    return 0;
}
