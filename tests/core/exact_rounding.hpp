// Exact rounding of a decimal literal to a binary float, for tests that need
// to know the float nearest a value without asking a library or the code
// under test: the literal becomes a ratio of natural numbers held in full,
// and the ratio is rounded to nearest, ties to even, by long division.
//
// Slow and plain on purpose: numbers are little-endian vectors of 32-bit
// limbs, and every step is schoolbook arithmetic.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace exact {

// A natural number, least significant limb first, no leading zero limbs.
struct Natural {
    std::vector<std::uint32_t> limbs;

    static Natural of(std::uint64_t value) {
        Natural n;
        for (; value != 0; value >>= 32) n.limbs.push_back(static_cast<std::uint32_t>(value));
        return n;
    }

    bool is_zero() const { return limbs.empty(); }

    std::size_t bit_length() const {
        if (limbs.empty()) return 0;
        return 32 * (limbs.size() - 1) + static_cast<std::size_t>(32 - __builtin_clz(limbs.back()));
    }

    void multiply_add(std::uint32_t factor, std::uint32_t addend) {
        std::uint64_t carry = addend;
        for (std::uint32_t& limb : limbs) {
            carry += static_cast<std::uint64_t>(limb) * factor;
            limb = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        if (carry != 0) limbs.push_back(static_cast<std::uint32_t>(carry));
        trim();
    }

    void shift_left(std::size_t bits) {
        if (limbs.empty() || bits == 0) return;
        const std::size_t whole = bits / 32;
        const unsigned part = static_cast<unsigned>(bits % 32);
        limbs.push_back(0);
        if (part != 0) {
            for (std::size_t i = limbs.size() - 1; i > 0; --i) {
                limbs[i] = (limbs[i] << part) | (limbs[i - 1] >> (32 - part));
            }
            limbs[0] <<= part;
        }
        limbs.insert(limbs.begin(), whole, 0);
        trim();
    }

    void shift_right_one() {
        for (std::size_t i = 0; i < limbs.size(); ++i) {
            limbs[i] = (limbs[i] >> 1) | (i + 1 < limbs.size() ? limbs[i + 1] << 31 : 0);
        }
        trim();
    }

    // Requires *this >= other.
    void subtract(const Natural& other) {
        std::int64_t borrow = 0;
        for (std::size_t i = 0; i < limbs.size(); ++i) {
            std::int64_t d = static_cast<std::int64_t>(limbs[i]) - borrow -
                             (i < other.limbs.size() ? static_cast<std::int64_t>(other.limbs[i]) : 0);
            borrow = d < 0 ? 1 : 0;
            limbs[i] = static_cast<std::uint32_t>(d + (borrow << 32));
        }
        trim();
    }

    void trim() {
        while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
    }
};

inline int compare(const Natural& a, const Natural& b) {
    if (a.limbs.size() != b.limbs.size()) return a.limbs.size() < b.limbs.size() ? -1 : 1;
    for (std::size_t i = a.limbs.size(); i-- > 0;) {
        if (a.limbs[i] != b.limbs[i]) return a.limbs[i] < b.limbs[i] ? -1 : 1;
    }
    return 0;
}

inline Natural shifted(Natural n, std::size_t bits) {
    n.shift_left(bits);
    return n;
}

inline Natural power_of_ten(std::size_t exponent) {
    Natural n = Natural::of(1);
    for (std::size_t i = 0; i < exponent; ++i) n.multiply_add(10, 0);
    return n;
}

inline Natural power_of_two(std::size_t exponent) { return shifted(Natural::of(1), exponent); }

// A binary format: `precision` bits of significand, normal exponents from
// `min_exponent` to `max_exponent` (subnormals below, at the least one's ulp).
struct Format {
    int precision;
    int min_exponent;
    int max_exponent;
};
inline constexpr Format binary32{24, -126, 127};
inline constexpr Format binary64{53, -1022, 1023};

// A rounded magnitude: significand x 2^exponent, or infinite.
struct Rounded {
    bool infinite = false;
    std::uint64_t significand = 0;
    long long exponent = 0;

    // The ratio this value is, for a second rounding.
    void as_ratio(Natural& numerator, Natural& denominator) const {
        numerator = shifted(Natural::of(significand), static_cast<std::size_t>(std::max(exponent, 0LL)));
        denominator = power_of_two(static_cast<std::size_t>(std::max(-exponent, 0LL)));
    }
};

// numerator / denominator (denominator nonzero) to the nearest value of
// `format`, ties to the even significand; infinite from 2^(max_exponent + 1)
// on, after rounding.
inline Rounded round_ratio(const Natural& numerator, const Natural& denominator, Format format) {
    Rounded out;
    if (numerator.is_zero()) return out;
    // 2^k <= numerator / denominator < 2^(k + 1).
    long long k = static_cast<long long>(numerator.bit_length()) - static_cast<long long>(denominator.bit_length());
    const auto below_two_to = [&](long long power) {  // numerator / denominator < 2^power
        return power >= 0 ? compare(numerator, shifted(denominator, static_cast<std::size_t>(power))) < 0
                          : compare(shifted(numerator, static_cast<std::size_t>(-power)), denominator) < 0;
    };
    if (below_two_to(k)) --k;
    // The ulp at that magnitude is 2^q; the significand is the ratio over it.
    long long q = std::max<long long>(k, format.min_exponent) - (format.precision - 1);
    Natural rest = shifted(numerator, static_cast<std::size_t>(std::max(-q, 0LL)));
    const Natural divisor = shifted(denominator, static_cast<std::size_t>(std::max(q, 0LL)));
    std::uint64_t significand = 0;
    Natural step = shifted(divisor, static_cast<std::size_t>(format.precision));
    for (int bit = format.precision; bit >= 0; --bit) {
        if (compare(rest, step) >= 0) {
            rest.subtract(step);
            significand |= std::uint64_t{1} << bit;
        }
        step.shift_right_one();
    }
    const int half = compare(shifted(rest, 1), divisor);
    if (half > 0 || (half == 0 && (significand & 1) != 0)) ++significand;
    if (significand == std::uint64_t{1} << format.precision) {
        significand >>= 1;
        ++q;
    }
    const long long top = q + static_cast<long long>(64 - __builtin_clzll(significand | 1)) - 1;
    if (significand != 0 && top > format.max_exponent) {
        out.infinite = true;
        return out;
    }
    out.significand = significand;
    out.exponent = q;
    return out;
}

// A JSON number literal as its sign, its significant digits M (no leading or
// trailing zeros; empty for zero) and E, its value being ±M x 10^E. An
// exponent too long for a long long saturates far past any float.
struct Decimal {
    bool negative = false;
    bool integer = true;  // no fraction and no exponent
    std::string digits;
    long long exponent = 0;
};

inline Decimal decimal_of(std::string_view literal) {
    Decimal d;
    std::size_t i = 0;
    if (literal[i] == '-') {
        d.negative = true;
        ++i;
    }
    std::string all;
    long long fraction = 0;
    bool in_fraction = false;
    for (; i < literal.size() && literal[i] != 'e' && literal[i] != 'E'; ++i) {
        if (literal[i] == '.') {
            in_fraction = true;
            d.integer = false;
            continue;
        }
        all += literal[i];
        fraction += in_fraction ? 1 : 0;
    }
    long long written = 0;
    if (i < literal.size()) {
        d.integer = false;
        bool minus = false;
        if (literal[++i] == '+' || literal[i] == '-') minus = literal[i++] == '-';
        for (; i < literal.size(); ++i) written = std::min(written * 10 + (literal[i] - '0'), 1LL << 50);
        if (minus) written = -written;
    }
    const std::size_t first = std::min(all.find_first_not_of('0'), all.size());
    const std::size_t last = all.find_last_not_of('0');
    d.digits = first == all.size() ? std::string() : all.substr(first, last + 1 - first);
    d.exponent = written - fraction + static_cast<long long>(all.size() - (last == std::string::npos ? 0 : last + 1));
    return d;
}

inline Natural natural_of_digits(std::string_view digits) {
    Natural n;
    for (const char c : digits) n.multiply_add(10, static_cast<std::uint32_t>(c - '0'));
    return n;
}

inline Natural multiply(const Natural& a, const Natural& b) {
    Natural product;
    product.limbs.assign(a.limbs.size() + b.limbs.size(), 0);
    for (std::size_t i = 0; i < a.limbs.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.limbs.size(); ++j) {
            carry += static_cast<std::uint64_t>(a.limbs[i]) * b.limbs[j] + product.limbs[i + j];
            product.limbs[i + j] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
        product.limbs[i + b.limbs.size()] = static_cast<std::uint32_t>(carry);
    }
    product.trim();
    return product;
}

// |M x 10^E| as a ratio; E within a few hundred.
inline void ratio_of(const Decimal& d, Natural& numerator, Natural& denominator) {
    numerator = natural_of_digits(d.digits);
    denominator = Natural::of(1);
    if (d.exponent >= 0) {
        numerator = multiply(numerator, power_of_ten(static_cast<std::size_t>(d.exponent)));
    } else {
        denominator = power_of_ten(static_cast<std::size_t>(-d.exponent));
    }
}

inline float float_of(const Rounded& r, bool negative) {
    const float magnitude = r.infinite ? std::numeric_limits<float>::infinity()
                                       : std::ldexp(static_cast<float>(r.significand), static_cast<int>(r.exponent));
    return negative ? -magnitude : magnitude;
}

}  // namespace exact
