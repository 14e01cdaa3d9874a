#include <array>
#include <cmath>
#include <cstdint>
#include <string>
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
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}();

void append_json_string(std::string_view text, std::string& out) {
    constexpr char hex[] = "0123456789abcdef";
    out += '"';
    // Copy runs of plain bytes in one go; most labels and URLs are one run.
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const char letter = escape_letters[byte];
        if (letter == 0) continue;
        out.append(text.data() + run_start, i - run_start);
        run_start = i + 1;
        if (letter == 'u') {
            const char escaped[6] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 0xF]};
            out.append(escaped, sizeof escaped);
        } else {
            const char escaped[2] = {'\\', letter};
            out.append(escaped, sizeof escaped);
        }
    }
    out.append(text.data() + run_start, text.size() - run_start);
    out += '"';
}

void append_channel(std::uint8_t value, std::string& out) {
    char digits[3];
    int n = 0;
    if (value >= 100) digits[n++] = static_cast<char>('0' + value / 100);
    if (value >= 10) digits[n++] = static_cast<char>('0' + value / 10 % 10);
    digits[n++] = static_cast<char>('0' + value % 10);
    out.append(digits, static_cast<std::size_t>(n));
}

// Writes the separator before every member but the first, then the name and
// the colon: `name` is the quoted member name followed by ':'.
void begin_member(std::string_view name, bool& first, std::string& out) {
    if (!first) out += ',';
    first = false;
    out.append(name);
}

}  // namespace

void append_node_update_json(const NodeUpdate& update, std::string& out) {
    bool first = true;
    out += '{';
    if (update.label) {
        begin_member("\"label\":", first, out);
        append_json_string(*update.label, out);
    }
    if (update.size) {
        begin_member("\"size\":", first, out);
        // JSON has no NaN or infinity; the member stays so that the reader
        // sees a size was stated, and reads it back as absent.
        if (std::isfinite(*update.size)) {
            char text[max_float_text_length];
            out.append(text, write_float_text(*update.size, text));
        } else {
            out.append("null");
        }
    }
    if (update.url) {
        begin_member("\"url\":", first, out);
        append_json_string(*update.url, out);
    }
    if (update.red) {
        begin_member("\"red\":", first, out);
        append_channel(*update.red, out);
    }
    if (update.green) {
        begin_member("\"green\":", first, out);
        append_channel(*update.green, out);
    }
    if (update.blue) {
        begin_member("\"blue\":", first, out);
        append_channel(*update.blue, out);
    }
    if (update.show_label) {
        begin_member("\"showLabel\":", first, out);
        out.append(*update.show_label ? "true" : "false");
    }
    out += '}';
}

std::string node_update_to_json(const NodeUpdate& update) {
    std::string out;
    out.reserve(128);
    append_node_update_json(update, out);
    return out;
}

}  // namespace tovra
