// A failed oracle aborts with a message, and libFuzzer then keeps the input as
// a crash. What the targets share with the core tests is in test_support.hpp.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "test_support.hpp"

namespace fuzz {

[[noreturn]] inline void oracle_failed(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: oracle failed: %s\n", file, line, what);
    std::abort();
}

}  // namespace fuzz

#define FUZZ_REQUIRE(cond)                                                     \
    do {                                                                       \
        if (!(cond)) fuzz::oracle_failed(__FILE__, __LINE__, #cond);           \
    } while (0)
