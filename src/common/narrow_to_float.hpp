// Rounding a double to the nearest float, ties to even, with finite values
// beyond the float range going to infinity: what a plain cast does on IEEE
// hardware, but C++ leaves the out-of-range case undefined (and sanitizers say so).
#pragma once

#include <cmath>
#include <limits>

namespace tovra {

inline float narrow_to_float(double value) noexcept {
    constexpr double max_float = std::numeric_limits<float>::max();
    // Halfway between the largest float and the next power of two: from here
    // on, round-to-nearest-even goes to infinity (the largest float's last
    // mantissa bit is odd, so the tie goes up).
    constexpr double overflow_threshold = max_float + 0x1p103;
    if (std::isfinite(value) && std::fabs(value) > max_float) {
        if (std::fabs(value) >= overflow_threshold) {
            return value > 0 ? std::numeric_limits<float>::infinity()
                             : -std::numeric_limits<float>::infinity();
        }
        return value > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
    }
    return static_cast<float>(value);
}

}  // namespace tovra
