// The strict UTF-8 check of node texts (src/bytes/utf8.*): the edges of each
// sequence length, the word-at-a-time fast path, and agreement with a
// textbook decoder on random bytes.
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/utf8.hpp"
#include "check.hpp"

namespace {

using tovra::utf8_valid_prefix;

std::size_t prefix(std::string_view text) {
    return utf8_valid_prefix(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// A textbook decoder, written differently from the validator on purpose: it
// computes each code point and then judges it.
std::size_t reference_prefix(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t lead = data[pos];
        std::size_t length;
        std::uint32_t point;
        std::uint32_t minimum;
        if (lead < 0x80) { length = 1; point = lead; minimum = 0; }
        else if ((lead & 0xE0) == 0xC0) { length = 2; point = lead & 0x1Fu; minimum = 0x80; }
        else if ((lead & 0xF0) == 0xE0) { length = 3; point = lead & 0x0Fu; minimum = 0x800; }
        else if ((lead & 0xF8) == 0xF0) { length = 4; point = lead & 0x07u; minimum = 0x10000; }
        else return pos;
        if (size - pos < length) return pos;
        for (std::size_t i = 1; i < length; ++i) {
            if ((data[pos + i] & 0xC0) != 0x80) return pos;
            point = (point << 6) | (data[pos + i] & 0x3Fu);
        }
        if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return pos;
        pos += length;
    }
    return pos;
}

TEST_CASE("utf8: boundaries of each sequence length") {
    struct Case {
        const char* name;
        std::string_view text;
        std::size_t valid;
    };
    const Case cases[] = {
        {"empty", "", 0},
        {"ascii", "hello", 5},
        {"U+0080", "\xC2\x80", 2},
        {"U+07FF", "\xDF\xBF", 2},
        {"U+0800", "\xE0\xA0\x80", 3},
        {"U+D7FF, last before the surrogates", "\xED\x9F\xBF", 3},
        {"U+E000, first after the surrogates", "\xEE\x80\x80", 3},
        {"U+FFFF", "\xEF\xBF\xBF", 3},
        {"U+10000", "\xF0\x90\x80\x80", 4},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", 4},
        {"NUL is a character", std::string_view("a\0b", 3), 3},
        {"overlong NUL", "\xC0\x80", 0},
        {"overlong 2-byte C1", "\xC1\xBF", 0},
        {"overlong 3-byte", "\xE0\x80\x80", 0},
        {"overlong 3-byte, largest", "\xE0\x9F\xBF", 0},
        {"overlong 4-byte", "\xF0\x80\x80\x80", 0},
        {"overlong 4-byte, largest", "\xF0\x8F\xBF\xBF", 0},
        {"U+D800", "\xED\xA0\x80", 0},
        {"U+DFFF", "\xED\xBF\xBF", 0},
        {"U+110000", "\xF4\x90\x80\x80", 0},
        {"F5 lead", "\xF5\x80\x80\x80", 0},
        {"FF", "\xFF", 0},
        {"lone continuation", "ab\x80", 2},
        {"2-byte cut by the end", "ab\xC3", 2},
        {"3-byte cut by the end", "\xE2\x82", 0},
        {"4-byte cut by the end", "x\xF0\x9F\x98", 1},
        {"3-byte cut by ascii", "\xE2\x82z", 0},
        {"continuation not continuing", "\xC3\xC3\xA9", 0},
        {"bad after valid multibyte", "\xC3\xA9\xE2\x82\xAC\xC0", 5},
    };
    for (const Case& c : cases) {
        if (prefix(c.text) != c.valid) {
            core_test::report(__FILE__, __LINE__, std::string("utf8 case: ") + c.name);
        }
    }
}

TEST_CASE("utf8: the eight-byte fast path sees a bad byte at any position") {
    // Around the word boundaries: a bad byte or a good multibyte character
    // at each offset of a longer ASCII text.
    for (std::size_t at = 0; at < 24; ++at) {
        std::string text(24, 'a');
        text[at] = '\xFF';
        CHECK_EQ(prefix(text), at);

        std::string good(24, 'a');
        good.replace(at, 2, "\xC3\xA9");
        good.resize(24);
        CHECK_EQ(prefix(good), good.size() - (at == 23 ? 1 : 0));

        // A sequence straddling the end of a word is still checked whole.
        std::string straddle(24, 'a');
        straddle.replace(at, 3, "\xED\xA0\x80");
        straddle.resize(24);
        CHECK_EQ(prefix(straddle), at);
    }
}

TEST_CASE("utf8: agrees with a reference decoder on random input") {
    // Bytes drawn mostly from the edges of the ranges that matter (lead bytes
    // next to the overlong, surrogate and U+10FFFF limits; continuation bytes
    // at the limits after E0, ED, F0, F4), with ASCII runs for the fast path.
    static const std::uint8_t edges[] = {0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                         0xDF, 0xE0, 0xE1, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5, 0xFF};
    std::mt19937 rng(7);
    for (int round = 0; round < 50000; ++round) {
        std::vector<std::uint8_t> bytes(rng() % 24);
        for (auto& byte : bytes) byte = rng() % 3 == 0 ? 'a' : edges[rng() % std::size(edges)];
        const std::size_t got = utf8_valid_prefix(bytes.data(), bytes.size());
        const std::size_t want = reference_prefix(bytes.data(), bytes.size());
        if (got != want) {
            core_test::report(__FILE__, __LINE__, "utf8 random round " + std::to_string(round) +
                                                       ": " + std::to_string(got) + " vs " +
                                                       std::to_string(want));
        }
    }
}

}  // namespace
