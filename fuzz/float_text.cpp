// Fuzz target: the number text of a size. Every 4 bytes of the input are the
// bits of one float; for each finite one the written text must read back bit
// for bit (through the C library and through the node update reader), and no
// digit string shorter than the text's may read back to the same float.
// Wherever the writer's double-arithmetic digits are sure of themselves, they
// must be the standard library's, digit for digit.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.hpp"
#include "node_update/float_text.hpp"
#include "node_update/node_update_json.hpp"

namespace {

float parse(const std::string& text) {
    return std::strtof(text.c_str(), nullptr);
}

// The text as significant digits D (no leading or trailing zero) and a
// decimal exponent E, value D x 10^E; D is empty for zero.
void decompose(const std::string& text, std::string& digits, long& exponent) {
    std::size_t i = text[0] == '-' ? 1 : 0;
    digits.clear();
    long fraction_digits = 0;
    bool in_fraction = false;
    for (; i < text.size() && text[i] != 'e'; ++i) {
        if (text[i] == '.') {
            in_fraction = true;
            continue;
        }
        if (in_fraction) ++fraction_digits;
        if (!digits.empty() || text[i] != '0') digits += text[i];
    }
    exponent = i < text.size() ? std::strtol(text.c_str() + i + 1, nullptr, 10) : 0;
    exponent -= fraction_digits;
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
}

// Decimal digit string plus one in its last place ("199" -> "200", "99" -> "100").
std::string increment(std::string digits) {
    std::size_t i = digits.size();
    while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
    if (i == 0) return "1" + digits;
    ++digits[i - 1];
    return digits;
}

void check(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, 4);
    if (!std::isfinite(value)) return;
    char buffer[tovra::max_float_text_length];
    const std::size_t length = tovra::write_float_text(value, buffer);
    FUZZ_REQUIRE(length > 0 && length <= tovra::max_float_text_length);
    const std::string text(buffer, length);

    FUZZ_REQUIRE(test_support::bits_of(parse(text)) == bits);
    auto read = tovra::node_update_from_json("{\"size\":" + text + "}");
    FUZZ_REQUIRE(read.ok() && read.value().size && test_support::bits_of(*read.value().size) == bits);

    if (value != 0.0f) {
        char fast[tovra::shortest_digits_room], library[tovra::shortest_digits_room];
        int fast_point = 0, library_point = 0;
        const int fast_count = tovra::fast_shortest_digits(std::fabs(value), fast, fast_point);
        const int library_count = tovra::library_shortest_digits(std::fabs(value), library, library_point);
        FUZZ_REQUIRE(fast_count == 0 || (fast_count == library_count && fast_point == library_point &&
                                         std::memcmp(fast, library, static_cast<std::size_t>(fast_count)) == 0));
    }

    // Shortest: the set of decimals that read back as `value` is an interval
    // holding the written one, so if any string of fewer digits lies in it,
    // one of the two nearest (n-1)-digit neighbours of the written decimal
    // does.
    std::string digits;
    long exponent;
    decompose(text, digits, exponent);
    if (digits.size() <= 1) return;
    const std::string sign = text[0] == '-' ? "-" : "";
    const std::string shorter = digits.substr(0, digits.size() - 1);
    const std::string scale = "e" + std::to_string(exponent + 1);
    FUZZ_REQUIRE(test_support::bits_of(parse(sign + shorter + scale)) != bits);
    FUZZ_REQUIRE(test_support::bits_of(parse(sign + increment(shorter) + scale)) != bits);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        std::uint32_t bits;
        std::memcpy(&bits, data + i, 4);
        check(bits);
    }
    return 0;
}
