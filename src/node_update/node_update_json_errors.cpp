// The text of each JSON refusal, one line per error code.
#include "node_update/node_update_json.hpp"

namespace tovra {

std::string_view describe(JsonError error) noexcept {
    switch (error) {
        case JsonError::empty_text: return "the text holds no value";
        case JsonError::trailing_text: return "text follows the value";
        case JsonError::unexpected_character: return "unexpected character";
        case JsonError::unexpected_end: return "the text ends inside a value";
        case JsonError::not_a_node_update: return "the value is neither an object nor an array";
        case JsonError::wrong_array_length: return "the array does not hold exactly seven elements";
        case JsonError::duplicate_member: return "a node update member is given twice";
        case JsonError::wrong_value_kind: return "a member's value is of the wrong kind";
        case JsonError::channel_out_of_range: return "a colour channel is not an integer from 0 to 255";
        case JsonError::number_overflow: return "a number is too large for a double";
        case JsonError::invalid_number: return "malformed number";
        case JsonError::invalid_escape: return "invalid escape sequence";
        case JsonError::unpaired_surrogate: return "unpaired surrogate escape";
        case JsonError::control_character: return "raw control character inside a string";
    }
    return "unknown JSON error";
}

}  // namespace tovra
