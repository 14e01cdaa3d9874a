// What the number shortcuts rely on: doubles that round once, and exact powers of ten.
#pragma once

#include <cfloat>

namespace tovra {

// Hosts that evaluate doubles with excess precision (x87: FLT_EVAL_METHOD 2)
// round a product or quotient twice; there the shortcuts are compiled out and
// the standard library does all the work.
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
inline constexpr bool exact_double_arithmetic = true;
#else
inline constexpr bool exact_double_arithmetic = false;
#endif

inline constexpr int max_exact_power_of_ten = 22;
inline constexpr double powers_of_ten[max_exact_power_of_ten + 1] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace tovra
