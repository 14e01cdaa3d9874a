// What the C++ benchmarks share: random ids and the best of several timings.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

#include "common/uuid.hpp"

namespace bench {

using Clock = std::chrono::steady_clock;

inline tovra::Uuid random_id(std::mt19937_64& rng) {
    tovra::Uuid id;
    const std::uint64_t lo = rng();
    const std::uint64_t hi = rng();
    std::memcpy(id.bytes.data(), &lo, 8);
    std::memcpy(id.bytes.data() + 8, &hi, 8);
    return id;
}

// Seconds taken by the fastest of `repeats` runs of `body`.
template <class Body>
double best_seconds(int repeats, Body&& body) {
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        const auto start = Clock::now();
        body();
        const std::chrono::duration<double> took = Clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

}  // namespace bench
