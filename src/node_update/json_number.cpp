#include "node_update/json_number.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "common/exact_double.hpp"
#include "common/narrow_to_float.hpp"

namespace tovra {

namespace {

constexpr long long max_exact_digits = 19;

// A literal as mantissa x 10^exponent, the mantissa's `digits` without leading
// or trailing zeros (0 for zero), held in `mantissa` when at most 19. Counts
// saturate far beyond any double, so a hostile literal cannot overflow them.
struct Decimal {
    std::uint64_t mantissa = 0;
    long long digits = 0;
    long long exponent = 0;
};

Decimal decimal_of(std::string_view literal) noexcept {
    constexpr long long limit = 1LL << 40;
    Decimal decimal;
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
            if (decimal.digits > 0 && pending_zeros < limit) ++pending_zeros;
            continue;
        }
        const long long run = pending_zeros + 1;  // the zeros held back, and this digit
        if (decimal.digits + run <= max_exact_digits) {
            for (long long zero = 0; zero < pending_zeros; ++zero) decimal.mantissa *= 10;
            decimal.mantissa = decimal.mantissa * 10 + static_cast<std::uint64_t>(literal[i] - '0');
        }
        if (decimal.digits < limit) decimal.digits += run;
        pending_zeros = 0;
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
    decimal.exponent = exponent - fraction_digits + pending_zeros;
    return decimal;
}

}  // namespace

bool decimal_to_float_in_full(std::string_view literal, const NumberSpan& number, float& size) noexcept {
    const bool negative = number.negative;
    const float zero = negative ? -0.0f : 0.0f;
    const float infinity = negative ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
    // Integers that fit 64 bits go straight to float: one rounding from the
    // exact value, where a detour through double could round twice and land
    // one float off. Rounding to nearest is symmetric, so negating afterwards
    // is exact; it also makes -0 negative zero.
    if (number.integer) {
        std::uint64_t magnitude = 0;
        bool fits = true;
        for (const char c : literal.substr(negative ? 1 : 0)) {
            fits = fits && !__builtin_mul_overflow(magnitude, 10, &magnitude) &&
                   !__builtin_add_overflow(magnitude, static_cast<std::uint64_t>(c - '0'), &magnitude);
        }
        if (fits && (!negative || magnitude <= std::uint64_t{1} << 63)) {
            size = negative ? -static_cast<float>(magnitude) : static_cast<float>(magnitude);
            return true;
        }
    }
    const Decimal decimal = decimal_of(literal);
    if (decimal.digits == 0) {
        size = zero;
        return true;
    }
    // A literal of at most 19 digits scaled by a power of ten that a double
    // holds exactly is pinned to the float nearest its nearest double. Beyond
    // that the direct conversion is taken: the double detour can land exactly
    // between two floats and round the wrong way, breaking the round trip of
    // a written size (7.038531e-26 is one such text).
    const bool pinned_to_double = decimal.digits <= max_exact_digits &&
                                  decimal.exponent >= -max_exact_power_of_ten &&
                                  decimal.exponent <= max_exact_power_of_ten;
    // Mantissa and power of ten both exact doubles: the nearest double in one
    // correctly rounded operation, without the library's general conversion.
    constexpr std::uint64_t max_exact_mantissa = std::uint64_t{1} << 53;
    if (exact_double_arithmetic && pinned_to_double && decimal.mantissa <= max_exact_mantissa) {
        const double scale = powers_of_ten[decimal.exponent < 0 ? -decimal.exponent : decimal.exponent];
        const double mantissa = static_cast<double>(decimal.mantissa);
        const double wide = decimal.exponent < 0 ? mantissa / scale : mantissa * scale;
        size = narrow_to_float(negative ? -wide : wide);
        return true;
    }
    const char* const first = literal.data();
    const char* const last = first + literal.size();
    double wide = 0.0;
    // The grammar was checked, so the only failure left is the range.
    if (std::from_chars(first, last, wide).ec == std::errc::result_out_of_range) {
        // Reported for overflow and underflow alike; only overflow loses the value.
        size = zero;
        return decimal.digits + decimal.exponent <= 0;
    }
    if (pinned_to_double) {
        size = narrow_to_float(wide);
    } else if (std::from_chars(first, last, size).ec != std::errc()) {
        // Out of the float range: the double tells which side.
        size = std::fabs(wide) >= 1.0 ? infinity : zero;
    }
    return true;
}

}  // namespace tovra
