// A minimal test harness for the core: no dependency, one binary, a failure
// prints where and keeps going so one run shows every broken case.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace core_test {

struct Case {
    const char* name;
    std::function<void()> body;
};

inline std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}

inline int& failures() {
    static int count = 0;
    return count;
}

struct Register {
    Register(const char* name, std::function<void()> body) {
        registry().push_back({name, std::move(body)});
    }
};

inline void report(const char* file, int line, const std::string& what) {
    ++failures();
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
}

// A test, or a part of one, that this build cannot run or that was not asked
// for says so, the same way everywhere, rather than passing in silence.
inline void skipped(const char* what) { std::printf("skipped: %s\n", what); }

}  // namespace core_test

#define CORE_TEST_CONCAT2(a, b) a##b
#define CORE_TEST_CONCAT(a, b) CORE_TEST_CONCAT2(a, b)

#define TEST_CASE(name)                                                              \
    static void CORE_TEST_CONCAT(test_body_, __LINE__)();                            \
    static core_test::Register CORE_TEST_CONCAT(test_reg_, __LINE__)(                \
        name, CORE_TEST_CONCAT(test_body_, __LINE__));                               \
    static void CORE_TEST_CONCAT(test_body_, __LINE__)()

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) core_test::report(__FILE__, __LINE__, #cond);                   \
    } while (0)

// Compares two values that can be turned into text with std::to_string or are
// strings; shows both sides on failure.
#define CHECK_EQ(a, b)                                                               \
    do {                                                                             \
        const auto& check_lhs_ = (a);                                                \
        const auto& check_rhs_ = (b);                                                \
        if (!(check_lhs_ == check_rhs_))                                             \
            core_test::report(__FILE__, __LINE__, std::string(#a " == " #b));        \
    } while (0)
