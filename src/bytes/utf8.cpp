#include "bytes/utf8.hpp"

#include <cstring>

namespace tovra {

namespace {

constexpr std::uint64_t high_bits = 0x8080808080808080ULL;

inline bool in(std::uint8_t byte, std::uint8_t low, std::uint8_t high) noexcept {
    return byte >= low && byte <= high;
}

inline bool continuation(std::uint8_t byte) noexcept { return (byte & 0xC0) == 0x80; }

// Length of the well-formed sequence starting at `p`, or 0 if there is none.
// `left` (at least 1) is how many bytes remain. The second byte carries every
// rule stricter than "a continuation byte": it excludes overlongs (after E0
// and F0), surrogates (after ED) and values past U+10FFFF (after F4); later
// bytes only need to be continuation bytes.
inline std::size_t sequence_length(const std::uint8_t* p, std::size_t left) noexcept {
    const std::uint8_t lead = p[0];
    if (lead < 0x80) return 1;
    if (in(lead, 0xC2, 0xDF)) {
        return left >= 2 && continuation(p[1]) ? 2 : 0;
    }
    if (in(lead, 0xE0, 0xEF)) {
        if (left < 3) return 0;
        const std::uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
        const std::uint8_t high = lead == 0xED ? 0x9F : 0xBF;
        return in(p[1], low, high) && continuation(p[2]) ? 3 : 0;
    }
    if (in(lead, 0xF0, 0xF4)) {
        if (left < 4) return 0;
        const std::uint8_t low = lead == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t high = lead == 0xF4 ? 0x8F : 0xBF;
        return in(p[1], low, high) && continuation(p[2]) && continuation(p[3]) ? 4 : 0;
    }
    // 80..BF (a continuation byte with no lead), C0 and C1 (always
    // overlong), F5..FF (past U+10FFFF or not UTF-8 at all).
    return 0;
}

}  // namespace

std::size_t utf8_valid_prefix(const std::uint8_t* data, std::size_t size) noexcept {
    std::size_t pos = 0;
    // Labels and URLs are mostly ASCII: test eight bytes with one mask (byte
    // order does not matter for "is any high bit set"). A word that fails the
    // test is walked sequence by sequence to its end before the next test.
    while (size - pos >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data + pos, 8);
        if ((word & high_bits) == 0) {
            pos += 8;
            continue;
        }
        const std::size_t word_end = pos + 8;
        while (pos < word_end) {
            const std::size_t length = sequence_length(data + pos, size - pos);
            if (length == 0) return pos;
            pos += length;
        }
    }
    while (pos < size) {
        const std::size_t length = sequence_length(data + pos, size - pos);
        if (length == 0) return pos;
        pos += length;
    }
    return pos;
}

}  // namespace tovra
