// JSON numbers for both node update readers: the grammar, the one conversion
// of a literal to the float a size holds, and a colour channel's digits.
#pragma once

#include <cstddef>
#include <cstdint>
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
    auto refuse = [&](JsonError error) {
        failure = {error, pos};
        return false;
    };
    auto digit_here = [&] { return pos < text.size() && is_digit(text[pos]); };
    auto digits = [&] {  // one or more
        if (!digit_here()) return refuse(JsonError::invalid_number);
        while (digit_here()) ++pos;
        return true;
    };
    number = {pos, pos, text[pos] == '-', true};
    if (number.negative && ++pos == text.size()) return refuse(JsonError::unexpected_end);
    if (text[pos] == '0') {
        ++pos;
        if (digit_here()) return refuse(JsonError::invalid_number);
    } else if (!digits()) {
        return false;
    }
    if (pos < text.size() && text[pos] == '.') {
        number.integer = false;
        ++pos;
        if (!digits()) return false;
    }
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        number.integer = false;
        if (++pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
        if (!digits()) return false;
    }
    number.end = pos;
    return true;
}

// A channel is bare digits, 0 to 255 (1.0, 1e2 and -0 are refused though whole).
// An out parameter rather than an optional: the value goes straight to its field.
inline bool channel_of(std::string_view text, const NumberSpan& number, std::uint8_t& channel) noexcept {
    if (number.negative || !number.integer || number.end - number.begin > 3) return false;
    unsigned value = 0;
    for (std::size_t i = number.begin; i < number.end; ++i) value = value * 10 + static_cast<unsigned>(text[i] - '0');
    channel = static_cast<std::uint8_t>(value);
    return value <= 255;
}

// The float nearest the value of `literal` (scanned as `number`), as the size
// of a node update holds it; false when the value is beyond the double range.
bool decimal_to_float_in_full(std::string_view literal, const NumberSpan& number, float& size) noexcept;

// The same, inline for a fraction of at most 19 digits with no exponent (nearly
// every size a writer makes): its digits as one exact integer, then one
// correctly rounded division, as the rules in full come to for it.
inline bool decimal_to_float(std::string_view literal, const NumberSpan& number, float& size) noexcept {
    constexpr std::size_t longest = sizeof "-0.123456789012345678" - 1;
    if (exact_double_arithmetic && !number.integer && literal.size() <= longest) {
        std::uint64_t mantissa = 0;
        int digits = 0;
        int fraction_digits = -1;  // until the point
        for (const char* p = literal.data() + (number.negative ? 1 : 0); p != literal.data() + literal.size(); ++p) {
            if (*p == '.') {
                fraction_digits = 0;
            } else if (is_digit(*p)) {
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
                ++digits;
                fraction_digits += fraction_digits >= 0 ? 1 : 0;
            } else {
                fraction_digits = -1;  // an exponent: the rules in full
                break;
            }
        }
        // Twenty digits (a positive literal as long as the longest negative
        // one) may pass 2^64 and wrap: the rules in full read those.
        if (fraction_digits > 0 && digits <= 19 && mantissa != 0 && mantissa <= std::uint64_t{1} << 53) {
            const double wide = static_cast<double>(mantissa) / powers_of_ten[fraction_digits];
            size = narrow_to_float(number.negative ? -wide : wide);
            return true;
        }
    }
    return decimal_to_float_in_full(literal, number, size);
}

}  // namespace tovra
