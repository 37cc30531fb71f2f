// RoundHalfEven: floats become integers by rounding to the nearest, halves to even.
#include <cmath>

#include "geometry/geometry.h"

int32_t RoundHalfEven(double value) {
    // The comparison is false for NaN as well, which takes the same way out.
    if (!(value >= -2147483648.5 && value < 2147483647.5)) return INT32_MIN;
    double rounded = std::nearbyint(value);  // the default rounding mode: ties to even
    if (rounded > 2147483647.0) return INT32_MIN;
    return static_cast<int32_t>(rounded);
}
