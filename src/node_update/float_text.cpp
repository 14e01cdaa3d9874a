#include "node_update/float_text.hpp"

#include <cassert>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace tovra {

namespace {

// Integers below this power of ten keep their plain decimal layout; from it on
// the exponent form is shorter or about as long, and stays readable.
constexpr int max_plain_point = 13;
// Fractions of at most five leading zeros stay plain (0.000001 is the smallest).
constexpr int min_plain_point = -5;

char* fill_zeros(char* out, int count) noexcept {
    for (int i = 0; i < count; ++i) *out++ = '0';
    return out;
}

char* write_exponent(char* out, int exponent) noexcept {
    if (exponent < 0) {
        *out++ = '-';
        exponent = -exponent;
    }
    // |exponent| of a float is at most 45: two digits at most.
    if (exponent >= 10) *out++ = static_cast<char>('0' + exponent / 10);
    *out++ = static_cast<char>('0' + exponent % 10);
    return out;
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

    // The scientific form of the shortest round trip gives the digits and the
    // exponent without deciding a layout: "d[.ddd]e±XX".
    char sci[32];
    const auto converted = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
    assert(converted.ec == std::errc());
    const char* const sci_end = converted.ptr;

    char digits[12];
    int n = 0;
    const char* p = sci;
    for (; p != sci_end && *p != 'e'; ++p) {
        if (*p != '.') digits[n++] = *p;
    }
    ++p;  // the 'e'
    const bool negative_exponent = *p == '-';
    ++p;  // its sign, always present
    int exponent = 0;
    for (; p != sci_end; ++p) exponent = exponent * 10 + (*p - '0');
    if (negative_exponent) exponent = -exponent;

    // The value is 0.d1...dn x 10^point.
    const int point = exponent + 1;
    if (point >= n && point <= max_plain_point) {
        std::memcpy(out, digits, static_cast<std::size_t>(n));
        out = fill_zeros(out + n, point - n);
        *out++ = '.';
        *out++ = '0';
    } else if (point > 0 && point <= max_plain_point) {
        std::memcpy(out, digits, static_cast<std::size_t>(point));
        out += point;
        *out++ = '.';
        std::memcpy(out, digits + point, static_cast<std::size_t>(n - point));
        out += n - point;
    } else if (point <= 0 && point >= min_plain_point) {
        *out++ = '0';
        *out++ = '.';
        out = fill_zeros(out, -point);
        std::memcpy(out, digits, static_cast<std::size_t>(n));
        out += n;
    } else {
        *out++ = digits[0];
        if (n > 1) {
            *out++ = '.';
            std::memcpy(out, digits + 1, static_cast<std::size_t>(n - 1));
            out += n - 1;
        }
        *out++ = 'e';
        out = write_exponent(out, exponent);
    }
    const auto length = static_cast<std::size_t>(out - start);
    assert(length <= max_float_text_length);
    return length;
}

}  // namespace tovra
