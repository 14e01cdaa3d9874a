// The general reader of a node update's JSON text: strict RFC 8259, any
// whitespace, the object and the array form, unknown members skipped. The
// writer's own layout goes through a shortcut first (read_written_layout).
#include <cstdint>
#include <string>
#include <string_view>

#include "node_update/json_number.hpp"
#include "node_update/node_update_json.hpp"

namespace tovra {

namespace {

// The table index of the field a JSON member name names, or field_count.
std::size_t field_named(std::string_view name) noexcept {
    std::size_t found = field_count;
    for_each_field([&](auto index) {
        if (name == field_at<index>.json_name) found = index;
    });
    return found;
}

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::uint32_t code_point, std::string& out) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
        return;
    }
    constexpr unsigned lead_marker[] = {0, 0xC0, 0xE0, 0xF0};
    const int continuation = code_point < 0x800 ? 1 : code_point < 0x10000 ? 2 : 3;
    out += static_cast<char>(lead_marker[continuation] | code_point >> (6 * continuation));
    for (int i = continuation - 1; i >= 0; --i) out += static_cast<char>(0x80 | (code_point >> (6 * i) & 0x3F));
}

bool is_high_surrogate(std::uint32_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

// One read of one text. Every step returns false after recording the first
// failure, so the failure travels up without a Result at every level.
class Reader {
public:
    explicit Reader(std::string_view text) noexcept : text_(text) {}

    Result<NodeUpdate, JsonFailure> run() {
        skip_whitespace();
        if (at_end()) return fail(JsonFailure{JsonError::empty_text, pos_});
        const bool read = peek() == '{'   ? read_object()
                          : peek() == '[' ? read_array()
                                          : refuse(value_can_start() ? JsonError::not_a_node_update
                                                                     : JsonError::unexpected_character,
                                                   pos_);
        if (!read) return fail(failure_);
        skip_whitespace();
        if (!at_end()) return fail(JsonFailure{JsonError::trailing_text, pos_});
        return std::move(update_);
    }

private:
    bool at_end() const noexcept { return pos_ == text_.size(); }
    char peek() const noexcept { return text_[pos_]; }

    bool refuse(JsonError error, std::size_t offset) noexcept {
        failure_ = {error, offset};
        return false;
    }

    // The token at the current position is not what the grammar needs here.
    bool refuse_here() noexcept {
        return refuse(at_end() ? JsonError::unexpected_end : JsonError::unexpected_character, pos_);
    }

    void skip_whitespace() noexcept {
        while (!at_end()) {
            const char c = peek();
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
            ++pos_;
        }
    }

    // Past an opening bracket and the whitespace after it; true, and past the
    // closer too, when the container is empty.
    bool empty_container(char closer) noexcept {
        ++pos_;
        skip_whitespace();
        if (at_end() || peek() != closer) return false;
        ++pos_;
        return true;
    }

    bool expect(char c) noexcept {
        if (at_end() || peek() != c) return refuse_here();
        ++pos_;
        return true;
    }

    bool read_literal(std::string_view word) noexcept {
        if (text_.substr(pos_, word.size()) == word) {
            pos_ += word.size();
            return true;
        }
        // The first byte that differs, or the end if the text stops inside the word.
        std::size_t i = 0;
        while (pos_ + i < text_.size() && i < word.size() && text_[pos_ + i] == word[i]) ++i;
        return refuse(pos_ + i == text_.size() ? JsonError::unexpected_end : JsonError::unexpected_character,
                      pos_ + i);
    }

    // Whether a JSON value of some kind starts here; separates "a value of the
    // wrong kind" from plain broken syntax in the failure.
    bool value_can_start() const noexcept {
        if (at_end()) return false;
        const std::string_view rest = text_.substr(pos_);
        switch (peek()) {
            case '"': case '-': case '{': case '[':
                return true;
            case 't': return rest.starts_with("true");
            case 'f': return rest.starts_with("false");
            case 'n': return rest.starts_with("null");
            default: return is_digit(peek());
        }
    }

    bool refuse_kind() noexcept {
        return value_can_start() ? refuse(JsonError::wrong_value_kind, pos_) : refuse_here();
    }

    bool read_hex_unit(std::uint32_t& unit) noexcept {
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            if (at_end()) return refuse(JsonError::unexpected_end, pos_);
            const int digit = hex_value(peek());
            if (digit < 0) return refuse(JsonError::invalid_escape, pos_);
            unit = unit << 4 | static_cast<std::uint32_t>(digit);
            ++pos_;
        }
        return true;
    }

    // Reads the string that starts at the current quote. With `out`, the
    // decoded text is appended there and surrogate escapes must pair up into
    // one character; without it (a skipped value) only each escape's form is
    // checked, since nothing will ever be made of the text.
    bool read_string(std::string* out) {
        ++pos_;  // the opening quote
        for (;;) {
            const std::size_t run_start = pos_;
            while (!at_end()) {
                const auto byte = static_cast<unsigned char>(peek());
                if (byte == '"' || byte == '\\' || byte < 0x20) break;
                ++pos_;
            }
            if (out) out->append(text_.data() + run_start, pos_ - run_start);
            if (at_end()) return refuse(JsonError::unexpected_end, pos_);
            const char c = peek();
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c != '\\') return refuse(JsonError::control_character, pos_);

            const std::size_t escape_at = pos_;
            ++pos_;
            if (at_end()) return refuse(JsonError::unexpected_end, pos_);
            // The one-letter escapes, and at the same index what each stands for.
            constexpr std::string_view letters = "\"\\/bfnrt";
            constexpr std::string_view plain = "\"\\/\b\f\n\r\t";
            const char letter = text_[pos_++];
            if (const std::size_t at = letters.find(letter); at != std::string_view::npos) {
                if (out) *out += plain[at];
                continue;
            }
            if (letter != 'u') return refuse(JsonError::invalid_escape, escape_at);
            std::uint32_t unit;
            if (!read_hex_unit(unit)) return false;
            if (!out) continue;
            if (is_low_surrogate(unit)) return refuse(JsonError::unpaired_surrogate, escape_at);
            if (is_high_surrogate(unit)) {
                if (text_.substr(pos_, 2) != "\\u") return refuse(JsonError::unpaired_surrogate, escape_at);
                pos_ += 2;
                std::uint32_t low;
                if (!read_hex_unit(low)) return false;
                if (!is_low_surrogate(low)) return refuse(JsonError::unpaired_surrogate, escape_at);
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            }
            append_utf8(unit, *out);
        }
    }

    bool scan_number(NumberSpan& number) noexcept {
        if (!scan_json_number(text_, pos_, number, failure_)) return false;
        pos_ = number.end;
        return true;
    }

    // A size or a channel: a number that `convert` takes, or refuses as `out_of_range`.
    template <class Value, class Convert>
    bool read_number(std::optional<Value>& field, JsonError out_of_range, Convert convert) noexcept {
        if (at_end() || !(peek() == '-' || is_digit(peek()))) return refuse_kind();
        NumberSpan number;
        if (!scan_number(number)) return false;
        Value value;
        if (!convert(number, value)) return refuse(out_of_range, number.begin);
        field = value;
        return true;
    }

    bool read_value(std::optional<float>& size) noexcept {
        return read_number(size, JsonError::number_overflow, [&](const NumberSpan& number, float& value) {
            return decimal_to_float(text_.substr(number.begin, number.end - number.begin), number, value);
        });
    }

    bool read_value(std::optional<std::uint8_t>& channel) noexcept {
        return read_number(channel, JsonError::channel_out_of_range, [&](const NumberSpan& number, std::uint8_t& value) {
            return channel_of(text_, number, value);
        });
    }

    bool read_value(std::optional<bool>& flag) noexcept {
        for (const bool value : {true, false}) {
            const std::string_view word = value ? "true" : "false";
            if (text_.substr(pos_, word.size()) == word) {
                pos_ += word.size();
                flag = value;
                return true;
            }
        }
        return refuse_kind();
    }

    bool read_value(OptionalText& field) {
        if (at_end() || peek() != '"') return refuse_kind();
        text_value_.clear();
        if (!read_string(&text_value_)) return false;
        field.assign(text_value_);
        return true;
    }

    // The value of the field of table index `field`, or any value skipped
    // for field_count (a member of another name).
    bool read_field(std::size_t field) {
        if (text_.substr(pos_, 4) == "null") {
            pos_ += 4;
            return true;
        }
        if (field == field_count) return skip_value();
        bool read = false;
        all_fields([&](auto index) {
            if (index == field) read = read_value(update_.*field_at<index>.member);
            return index != field;
        });
        return read;
    }

    // After an element of a container that `closer` ends: past the closer
    // (`closed`), or past the comma and the whitespace after it.
    bool next_element(char closer, bool& closed) noexcept {
        skip_whitespace();
        if (at_end()) return refuse(JsonError::unexpected_end, pos_);
        closed = peek() == closer;
        if (!closed && peek() != ',') return refuse(JsonError::unexpected_character, pos_);
        ++pos_;
        if (!closed) skip_whitespace();
        return true;
    }

    // A member name, decoded into `name` unless null (a skipped object's), then its colon.
    bool read_member_name(std::string* name) {
        if (at_end() || peek() != '"') return refuse_here();
        if (name) name->clear();
        if (!read_string(name)) return false;
        skip_whitespace();
        if (!expect(':')) return false;
        skip_whitespace();
        return true;
    }

    // Checks one well-formed value of any shape and moves past it. The
    // brackets still open are kept in `open` rather than on the call stack,
    // so a hostile nesting depth costs memory in proportion to the text it
    // came in, never a stack overflow.
    bool skip_value() {
        std::string open;  // '{' or '[' per open level, innermost last
        for (;;) {
            if (at_end()) return refuse(JsonError::unexpected_end, pos_);
            switch (peek()) {
                case '{':
                    if (empty_container('}')) break;
                    open.push_back('{');
                    if (!read_member_name(nullptr)) return false;
                    continue;
                case '[':
                    if (empty_container(']')) break;
                    open.push_back('[');
                    continue;
                case '"':
                    if (!read_string(nullptr)) return false;
                    break;
                case 't':
                case 'f':
                case 'n':
                    if (!read_literal(peek() == 't' ? "true" : peek() == 'f' ? "false" : "null")) return false;
                    break;
                default: {
                    if (peek() != '-' && !is_digit(peek())) return refuse(JsonError::unexpected_character, pos_);
                    NumberSpan number;
                    if (!scan_number(number)) return false;
                    break;
                }
            }
            // A value just ended: close the containers it ends, then go to the next value.
            for (;;) {
                if (open.empty()) return true;
                bool closed;
                if (!next_element(open.back() == '{' ? '}' : ']', closed)) return false;
                if (closed) {
                    open.pop_back();
                    continue;
                }
                if (open.back() == '{' && !read_member_name(nullptr)) return false;
                break;
            }
        }
    }

    bool read_object() {
        if (empty_container('}')) return true;
        unsigned seen = 0;
        for (;;) {
            const std::size_t name_at = pos_;
            if (!read_member_name(&name_)) return false;
            const std::size_t field = field_named(name_);
            if (field != field_count) {
                // Two members for one field are refused, whatever their values.
                const unsigned bit = 1u << field;
                if (seen & bit) return refuse(JsonError::duplicate_member, name_at);
                seen |= bit;
            }
            bool closed;
            if (!read_field(field) || !next_element('}', closed)) return false;
            if (closed) return true;
        }
    }

    bool read_array() {
        if (empty_container(']')) return refuse(JsonError::wrong_array_length, pos_ - 1);
        for (std::size_t index = 0;; ++index) {
            if (index == field_count) return refuse(JsonError::wrong_array_length, pos_);
            bool closed;
            if (!read_field(field_at_position[index]) || !next_element(']', closed)) return false;
            // The length is judged at the closing bracket.
            if (closed) return index + 1 == field_count || refuse(JsonError::wrong_array_length, pos_ - 1);
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    JsonFailure failure_{JsonError::unexpected_end, 0};
    NodeUpdate update_;
    std::string name_;  // decoded member name, reused from member to member
    std::string text_value_;  // a decoded text before it is stored, likewise reused
};

}  // namespace

// g++ 12 at -O3 takes the payload byte of an absent std::optional<uint8_t>,
// copied along with its flag, for a read of uninitialized memory.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
Result<NodeUpdate, JsonFailure> node_update_from_json(std::string_view text) {
    {
        NodeUpdate update;
        if (read_written_layout(text, update)) return update;
    }
    return Reader(text).run();
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace tovra
