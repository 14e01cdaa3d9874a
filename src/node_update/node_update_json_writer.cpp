#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>

#include "node_update/float_text.hpp"
#include "node_update/node_update_json.hpp"

namespace tovra {

namespace {

// For each byte: 0 when it is copied as is, otherwise the letter after the
// backslash ('u' for the \u00XX form). Only what JSON forbids raw is escaped,
// so the bytes of a text stay byte for byte the same across writers.
constexpr std::array<char, 256> escape_letters = [] {
    std::array<char, 256> table{};
    for (int byte = 0; byte < 0x20; ++byte) table[byte] = 'u';
    // The one-letter escapes: each character, and at the same index its letter.
    constexpr std::string_view plain = "\b\t\n\f\r\"\\", letters = "btnfr\"\\";
    for (std::size_t i = 0; i < plain.size(); ++i) table[static_cast<unsigned char>(plain[i])] = letters[i];
    return table;
}();

// The longest form of one byte is \u00XX.
constexpr std::size_t max_escaped_width = 6;

inline char* put(char* out, std::string_view text) noexcept {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// One writer per kind of field, chosen by the field's type.
char* write_value(std::string_view text, char* out) noexcept {
    constexpr char hex[] = "0123456789abcdef";
    *out++ = '"';
    // Copy runs of plain bytes in one go; most labels and URLs are one run.
    const char* run = text.data();
    const char* const end = run + text.size();
    for (const char* p = run; p != end; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        const char letter = escape_letters[byte];
        if (letter == 0) continue;
        out = put(out, std::string_view(run, static_cast<std::size_t>(p - run)));
        run = p + 1;
        out[0] = '\\';
        if (letter == 'u') {
            std::memcpy(out + 1, "u00", 3);
            out[4] = hex[byte >> 4];
            out[5] = hex[byte & 0xF];
            out += 6;
        } else {
            out[1] = letter;
            out += 2;
        }
    }
    out = put(out, std::string_view(run, static_cast<std::size_t>(end - run)));
    *out++ = '"';
    return out;
}

char* write_value(std::uint8_t value, char* out) noexcept {
    if (value >= 100) *out++ = static_cast<char>('0' + value / 100);
    if (value >= 10) *out++ = static_cast<char>('0' + value / 10 % 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

char* write_value(float value, char* out) noexcept {
    // JSON has no NaN or infinity; the member stays so that the reader sees a
    // size was stated, and reads it back as absent.
    if (!std::isfinite(value)) return put(out, "null");
    return out + write_float_text(value, out);
}

char* write_value(bool value, char* out) noexcept { return put(out, value ? "true" : "false"); }

}  // namespace

std::size_t node_update_json_bound(const NodeUpdate& update) noexcept {
    // Texts of a quarter of the address space or more could wrap the sum on
    // a 32-bit host; their bound saturates, and no buffer of it is made.
    constexpr std::size_t longest_text = std::numeric_limits<std::size_t>::max() / 4 / max_escaped_width;
    // Braces, then each member with its comma; texts with their quotes.
    std::size_t bound = 2;
    bool too_long = false;
    for_each_field([&](auto index) {
        const auto& field = update.*field_at<index>.member;
        constexpr FieldKind kind = field_at<index>.kind;
        if (!field) return;
        bound += 1 + json_member_prefix<index>.size();
        if constexpr (kind == FieldKind::text) {
            const std::size_t length = (*field).size();
            too_long = too_long || length > longest_text;
            bound += 2 + max_escaped_width * length;
        } else if constexpr (kind == FieldKind::size) {
            bound += max_float_text_length;
        } else if constexpr (kind == FieldKind::channel) {
            bound += sizeof "255" - 1;
        } else {
            bound += sizeof "false" - 1;
        }
    });
    return too_long ? std::numeric_limits<std::size_t>::max() : bound;
}

char* write_node_update_json(const NodeUpdate& update, char* out) noexcept {
    *out++ = '{';
    char* const first = out;
    for_each_json_field([&](auto index) {
        const auto& field = update.*field_at<index>.member;
        if (!field) return;
        if (out != first) *out++ = ',';
        constexpr auto& prefix = json_member_prefix<index>;
        out = write_value(*field, put(out, std::string_view(prefix.data(), prefix.size())));
    });
    *out++ = '}';
    return out;
}

}  // namespace tovra
