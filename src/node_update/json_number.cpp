#include "node_update/json_number.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace tovra {

namespace {

// The literal as D x 10^exponent, D without leading or trailing zeros
// (digit_count 0 for a zero value). Counts saturate far beyond any double,
// so a hostile literal cannot overflow them.
struct Shape {
    long long digit_count = 0;
    long long exponent = 0;
};

Shape shape_of(std::string_view literal) noexcept {
    constexpr long long limit = 1LL << 40;
    Shape shape;
    long long pending_zeros = 0;  // zeros after the last nonzero digit so far
    long long fraction_digits = 0;
    std::size_t i = literal[0] == '-' ? 1 : 0;
    bool in_fraction = false;
    for (; i < literal.size() && literal[i] != 'e' && literal[i] != 'E'; ++i) {
        if (literal[i] == '.') {
            in_fraction = true;
            continue;
        }
        if (in_fraction && fraction_digits < limit) ++fraction_digits;
        if (literal[i] == '0') {
            if (shape.digit_count > 0 && pending_zeros < limit) ++pending_zeros;
        } else {
            if (shape.digit_count < limit) shape.digit_count += pending_zeros + 1;
            pending_zeros = 0;
        }
    }
    long long exponent = 0;
    if (i < literal.size()) {
        ++i;  // the 'e'
        bool negative_exponent = false;
        if (literal[i] == '+' || literal[i] == '-') negative_exponent = literal[i++] == '-';
        for (; i < literal.size(); ++i) {
            if (exponent < limit) exponent = exponent * 10 + (literal[i] - '0');
        }
        if (negative_exponent) exponent = -exponent;
    }
    shape.exponent = exponent - fraction_digits + pending_zeros;
    return shape;
}

}  // namespace

bool decimal_to_float_by_library(std::string_view literal, bool negative, float& size) noexcept {
    const char* const first = literal.data();
    const char* const last = first + literal.size();
    const float zero = negative ? -0.0f : 0.0f;
    const float infinity = negative ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
    const Shape shape = shape_of(literal);
    double wide = 0.0;
    // The grammar was checked, so the only failure left is the range.
    if (std::from_chars(first, last, wide).ec == std::errc::result_out_of_range) {
        // Reported both for overflow and for underflow; only the first loses
        // the value altogether.
        size = zero;
        return shape.digit_count + shape.exponent <= 0;
    }

    // A literal of at most 19 digits scaled by a power of ten that a double
    // holds exactly has its value pinned to the float nearest its nearest
    // double. Beyond that the last bit is ours to choose, and the direct
    // conversion is taken: the double detour can land exactly between two
    // floats and round the wrong way, which would break the round trip of a
    // written size (7.038531e-26 is one such text).
    constexpr long long max_exact_digits = 19;
    const bool pinned_to_double = shape.digit_count <= max_exact_digits &&
                                  shape.exponent >= -max_exact_power_of_ten &&
                                  shape.exponent <= max_exact_power_of_ten;
    if (pinned_to_double) {
        size = narrow_to_float(wide);
    } else if (std::from_chars(first, last, size).ec != std::errc()) {
        // Out of the float range: the double tells which side.
        size = std::fabs(wide) >= 1.0 ? infinity : zero;
    }
    return true;
}

}  // namespace tovra
