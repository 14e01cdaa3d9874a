// JSON numbers for both node update readers: the grammar, the one conversion
// of a literal to the float a size holds, and a colour channel's digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "common/exact_double.hpp"
#include "common/narrow_to_float.hpp"
#include "node_update/node_update_json.hpp"

namespace tovra {

inline bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// A literal that passed the grammar: [begin, end) of the text.
struct NumberSpan {
    std::size_t begin;
    std::size_t end;
    bool negative;
    bool integer;  // no fraction and no exponent
};

// Checks -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)? from `pos`,
// which holds '-' or a digit. False with `failure` set where it breaks.
inline bool scan_json_number(std::string_view text, std::size_t pos, NumberSpan& number,
                             JsonFailure& failure) noexcept {
    auto at_end = [&] { return pos == text.size(); };
    auto digits_follow = [&] {
        if (at_end() || !is_digit(text[pos])) {
            failure = {JsonError::invalid_number, pos};
            return false;
        }
        while (!at_end() && is_digit(text[pos])) ++pos;
        return true;
    };
    number = {pos, pos, text[pos] == '-', true};
    if (number.negative && ++pos == text.size()) {
        failure = {JsonError::unexpected_end, pos};
        return false;
    }
    if (text[pos] == '0') {
        ++pos;
        if (!at_end() && is_digit(text[pos])) {
            failure = {JsonError::invalid_number, pos};
            return false;
        }
    } else if (!digits_follow()) {
        return false;
    }
    if (!at_end() && text[pos] == '.') {
        number.integer = false;
        ++pos;
        if (!digits_follow()) return false;
    }
    if (!at_end() && (text[pos] == 'e' || text[pos] == 'E')) {
        number.integer = false;
        ++pos;
        if (!at_end() && (text[pos] == '+' || text[pos] == '-')) ++pos;
        if (!digits_follow()) return false;
    }
    number.end = pos;
    return true;
}

// A channel is bare digits, 0 to 255: 1.0, 1e2 and -0 are refused even though
// their values are whole.
// False for any other literal. (A bool and an out parameter rather than an
// optional: the value then goes straight to its field, not through memory.)
inline bool channel_of(std::string_view text, const NumberSpan& number, std::uint8_t& channel) noexcept {
    if (number.negative || !number.integer || number.end - number.begin > 3) return false;
    unsigned value = 0;
    for (std::size_t i = number.begin; i < number.end; ++i) value = value * 10 + static_cast<unsigned>(text[i] - '0');
    channel = static_cast<std::uint8_t>(value);
    return value <= 255;
}

// The literals of decimal_to_float that need the standard library.
bool decimal_to_float_by_library(std::string_view literal, bool negative, float& size) noexcept;

// The float nearest the value of `literal` (scanned as `number`), as the size
// of a node update holds it; false when the value is beyond the double range.
// Inline for the literals that come down to one exact integer conversion or
// one correctly rounded double operation: nearly every size a writer makes.
inline bool decimal_to_float(std::string_view literal, const NumberSpan& number, float& size) noexcept {
    const bool negative = number.negative;
    const char* p = literal.data() + (negative ? 1 : 0);
    const char* const end = literal.data() + literal.size();
    if (number.integer) {
        // Integers that fit 64 bits go straight to float: one rounding from
        // the exact value, where a detour through double could round twice
        // and land one float off.
        std::uint64_t magnitude = 0;
        for (; p != end; ++p) {
            const auto digit = static_cast<std::uint64_t>(*p - '0');
            if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                return decimal_to_float_by_library(literal, negative, size);
            }
            magnitude = magnitude * 10 + digit;
        }
        constexpr std::uint64_t min_int64_magnitude = std::uint64_t{1} << 63;
        if (negative && magnitude > min_int64_magnitude) return decimal_to_float_by_library(literal, negative, size);
        // Rounding to nearest is symmetric, so negating afterwards is exact;
        // it also makes -0 negative zero.
        size = negative ? -static_cast<float>(magnitude) : static_cast<float>(magnitude);
        return true;
    }
    if constexpr (!exact_double_arithmetic) {
        return decimal_to_float_by_library(literal, negative, size);
    } else {
        // The digits as one integer of at most 19 digits, and the power of
        // ten that scales it.
        std::uint64_t mantissa = 0;
        const char* const first_digit = p;
        for (; p != end && is_digit(*p); ++p) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
        long digit_count = p - first_digit;
        long exponent = 0;
        if (p != end && *p == '.') {
            const char* const fraction = ++p;
            for (; p != end && is_digit(*p); ++p) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
            exponent = -static_cast<long>(p - fraction);
            digit_count -= exponent;
        }
        // Beyond 19 digits the mantissa has wrapped; the library reads those.
        if (digit_count > 19) return decimal_to_float_by_library(literal, negative, size);
        if (p != end) {  // the exponent
            ++p;
            const bool negative_exponent = *p == '-';
            if (*p == '+' || *p == '-') ++p;
            if (end - p > 3) return decimal_to_float_by_library(literal, negative, size);
            long written = 0;
            for (; p != end; ++p) written = written * 10 + (*p - '0');
            exponent += negative_exponent ? -written : written;
        }
        if (mantissa == 0) {
            size = negative ? -0.0f : 0.0f;
            return true;
        }
        while (mantissa % 10 == 0) {
            mantissa /= 10;
            ++exponent;
        }
        // The double that std::from_chars gives is then the exact product or
        // quotient rounded once, and the float the nearest to it, as the
        // library path makes it for every literal of at most 19 digits.
        constexpr std::uint64_t max_exact_mantissa = std::uint64_t{1} << 53;
        if (mantissa > max_exact_mantissa || exponent < -max_exact_power_of_ten ||
            exponent > max_exact_power_of_ten) {
            return decimal_to_float_by_library(literal, negative, size);
        }
        const double scale = powers_of_ten[exponent < 0 ? -exponent : exponent];
        const double magnitude = static_cast<double>(mantissa);
        const double wide = exponent < 0 ? magnitude / scale : magnitude * scale;
        size = narrow_to_float(negative ? -wide : wide);
        return true;
    }
}

}  // namespace tovra
