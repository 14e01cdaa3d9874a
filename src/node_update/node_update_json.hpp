// The JSON text of one node update: written byte for byte the same every
// time, read strictly (RFC 8259 plus the member rules of the node update).
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "common/result.hpp"
#include "node_update/node_update.hpp"

namespace tovra {

enum class JsonError {
    empty_text,             // nothing but whitespace
    trailing_text,          // something other than whitespace after the value
    unexpected_character,   // a token that cannot start or continue here
    unexpected_end,         // the text ended inside a value
    not_a_node_update,      // the value is neither an object nor an array
    wrong_array_length,     // the array form has other than seven elements
    duplicate_member,       // one of the seven names given twice
    wrong_value_kind,       // e.g. a number for "label", 1 for "showLabel"
    channel_out_of_range,   // a colour channel that is no integer 0..255
    number_overflow,        // a size literal beyond the double range
    invalid_number,         // a number that breaks the JSON grammar
    invalid_escape,         // a backslash sequence JSON does not know
    unpaired_surrogate,     // a \u escape of half a surrogate pair
    control_character,      // a raw byte below 0x20 inside a string
};

struct JsonFailure {
    JsonError error;
    std::size_t offset;  // byte offset in the text where it went wrong
};

std::string_view describe(JsonError error) noexcept;

// Writes the compact JSON text of `update` to `out` (room for
// node_update_json_bound(update) bytes); returns the end of what was written.
char* write_node_update_json(const NodeUpdate& update, char* out) noexcept;

// Never less than the length of the text of `update`.
std::size_t node_update_json_bound(const NodeUpdate& update) noexcept;

// `text` must be valid UTF-8 (the byte decoder checks that first).
Result<NodeUpdate, JsonFailure> node_update_from_json(std::string_view text);

// The shortcut node_update_from_json takes first, for the text exactly as the
// writer lays it out (an object, no whitespace, members in the writer's
// order, strings without escapes). Anything else, valid or not, gives false
// (`out` is then unspecified) and is left to the general reader.
bool read_written_layout(std::string_view text, NodeUpdate& out);

// Field I's member name as the writer lays it out, quotes and colon included
// ("showLabel":), made at compile time from the field table.
template <std::size_t I>
inline constexpr auto json_member_prefix = [] {
    constexpr std::string_view name = field_at<I>.json_name;
    std::array<char, name.size() + 3> text{};
    text[0] = '"';
    for (std::size_t i = 0; i < name.size(); ++i) text[i + 1] = name[i];
    text[name.size() + 1] = '"';
    text[name.size() + 2] = ':';
    return text;
}();

}  // namespace tovra
