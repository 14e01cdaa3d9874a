#include "node_update/float_text.hpp"

#include <algorithm>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "common/exact_double.hpp"

namespace tovra {

namespace {

// The plain decimal layout is kept for integers below 10^13 (from there on
// the exponent form is about as long or shorter) and fractions of at most
// five leading zeros (0.000001 is the smallest).
constexpr int max_plain_point = 13;
constexpr int min_plain_point = -5;

// The shortest digits of a positive, finite, nonzero float and the decimal
// exponent of the first: the value is 0.d1...dn x 10^point. What the standard
// library's shortest scientific form gives, read back out of its text.
[[gnu::always_inline]] inline int library_digits(float value, char* digits, int& point) noexcept {
    char sci[32];
    const auto converted = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    assert(converted.ec == std::errc());
    const char* const sci_end = converted.ptr;

    int n = 0;
    const char* p = sci;
    for (; p != sci_end && *p != 'e'; ++p) {
        if (*p != '.') digits[n++] = *p;
    }
    ++p;  // the 'e', then a sign that from_chars takes only when it is '-'
    if (*p == '+') ++p;
    int exponent = 0;
    [[maybe_unused]] const auto parsed = std::from_chars(p, sci_end, exponent);
    assert(parsed.ec == std::errc());
    point = exponent + 1;
    return n;
}

// The same digits, worked out in double arithmetic for the common range, or
// 0 when this cannot be sure of them (the caller then asks the library).
//
// A float widens exactly to a double, and so do the two midpoints to its
// neighbours: every decimal strictly between them (or on one, when the last
// mantissa bit is even and reading rounds ties to even) reads back as the
// float. The shortest such decimal is a multiple of the largest 10^k that has
// a multiple in that interval; of several, the one nearest the float.
//
// The scaled midpoints and value are at most a few 10^9, each from one
// correctly rounded operation, so within 1e-6 of the exact quotient. Where a
// decision hangs on a distance below `margin` (a midpoint close to a
// multiple, a value close to halfway) this gives up rather than guess: about
// one ordinary float in 10^4.
constexpr double margin = 1e-4;

// x / 10^k for |k| up to 22, with one rounding.
inline double scale_down(double x, int k) noexcept {
    return k >= 0 ? x / powers_of_ten[k] : x * powers_of_ten[-k];
}

[[gnu::always_inline]] inline int fast_digits(float value, char* digits, int& point) noexcept {
    if constexpr (!exact_double_arithmetic) {
        (void)value, (void)digits, (void)point;
        return 0;
    } else {
        const auto bits = std::bit_cast<std::uint32_t>(value);
        const std::uint32_t biased = bits >> 23;
        const std::uint32_t fraction = bits & 0x7FFFFF;
        if (biased == 0) return 0;  // subnormal: far outside the range below
        // value = m x 2^e, and the gap to each neighbour.
        const int e = static_cast<int>(biased) - 150;
        // 2^e straight from its bits (e is within -126 - 23 .. 127 - 23).
        const auto ulp = std::bit_cast<double>(static_cast<std::uint64_t>(e + 1023) << 52);
        const double exact = static_cast<double>(value);
        // Below a power of two the next float down is half as far.
        const double low = exact - (fraction == 0 && biased > 1 ? ulp / 4 : ulp / 2);
        const double high = exact + ulp / 2;

        // 10^k > ulp >= high - low: from here on, at most one multiple fits.
        // floor(e log10 2) by the usual fixed-point product, exact for |e| < 1650.
        int k = ((e * 78913) >> 18) + 1;
        for (int tries = 0; tries < 4; ++tries, --k) {
            if (k < -max_exact_power_of_ten || k > max_exact_power_of_ten) return 0;
            const double lo = scale_down(low, k);
            const double hi = scale_down(high, k);
            // Both below 2^53, so the truncation is the floor.
            const double lo_floor = static_cast<double>(static_cast<std::int64_t>(lo));
            const double hi_floor = static_cast<double>(static_cast<std::int64_t>(hi));
            const double lo_gap = lo - lo_floor;
            const double hi_gap = hi - hi_floor;
            // A midpoint this close to a multiple would need its exact value
            // (and whether a midpoint itself reads back, which depends on the
            // last mantissa bit); never guessed.
            if (lo_gap < margin || lo_gap > 1 - margin || hi_gap < margin || hi_gap > 1 - margin) return 0;
            // Multiples of 10^k inside: lo_floor + 1 .. hi_floor.
            if (hi_floor < lo_floor + 1) continue;
            std::uint64_t n;
            if (hi_floor == lo_floor + 1) {
                n = static_cast<std::uint64_t>(hi_floor);
            } else {
                const double scaled = scale_down(exact, k);
                const double floor = static_cast<double>(static_cast<std::int64_t>(scaled));
                const double gap = scaled - floor;
                if (gap > 0.5 - margin && gap < 0.5 + margin) return 0;
                n = static_cast<std::uint64_t>(floor) + (gap > 0.5 ? 1 : 0);
            }
            while (n % 10 == 0) {
                n /= 10;
                ++k;
            }
            char reversed[20];
            int count = 0;
            for (; n != 0; n /= 10) reversed[count++] = static_cast<char>('0' + n % 10);
            for (int i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
            point = k + count;
            return count;
        }
        return 0;
    }
}

}  // namespace

std::size_t write_float_text(float value, char* out) noexcept {
    assert(std::isfinite(value));
    char* const start = out;
    if (std::signbit(value)) {
        *out++ = '-';
        value = -value;
    }
    if (value == 0.0f) {
        std::memcpy(out, "0.0", 3);
        return static_cast<std::size_t>(out + 3 - start);
    }

    char digits[shortest_digits_room];
    int point = 0;
    int n = fast_digits(value, digits, point);
    if (n == 0) n = library_digits(value, digits, point);

    // The value is 0.d1...dn x 10^point.
    if (point >= n && point <= max_plain_point) {
        out = std::fill_n(std::copy_n(digits, n, out), point - n, '0');
        *out++ = '.';
        *out++ = '0';
    } else if (point > 0 && point <= max_plain_point) {
        out = std::copy_n(digits, point, out);
        *out++ = '.';
        out = std::copy_n(digits + point, n - point, out);
    } else if (point <= 0 && point >= min_plain_point) {
        *out++ = '0';
        *out++ = '.';
        out = std::copy_n(digits, n, std::fill_n(out, -point, '0'));
    } else {
        *out++ = digits[0];
        if (n > 1) {
            *out++ = '.';
            out = std::copy_n(digits + 1, n - 1, out);
        }
        *out++ = 'e';
        // |exponent| of a float is at most 45: a sign and two digits at most.
        out = std::to_chars(out, out + 3, point - 1).ptr;
    }
    const auto length = static_cast<std::size_t>(out - start);
    assert(length <= max_float_text_length);
    return length;
}

// Out of line for the fuzz target only: a call for every size written would
// cost write_float_text a part of the fast one's gain.
int fast_shortest_digits(float value, char* digits, int& point) noexcept {
    return fast_digits(value, digits, point);
}

int library_shortest_digits(float value, char* digits, int& point) noexcept {
    return library_digits(value, digits, point);
}

}  // namespace tovra
