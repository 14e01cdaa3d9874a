#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "common/exact_double.hpp"
#include "common/narrow_to_float.hpp"
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

namespace {

// The seven fields, numbered by their position in the array form.
enum class Field : unsigned { label, size, url, red, green, blue, show_label, unknown };
constexpr unsigned field_count = 7;

Field field_named(std::string_view name) noexcept {
    switch (name.size()) {
        case 3:
            if (name == "url") return Field::url;
            if (name == "red") return Field::red;
            break;
        case 4:
            if (name == "size") return Field::size;
            if (name == "blue") return Field::blue;
            break;
        case 5:
            if (name == "label") return Field::label;
            if (name == "green") return Field::green;
            break;
        case 9:
            if (name == "showLabel") return Field::show_label;
            break;
        default:
            break;
    }
    return Field::unknown;
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::uint32_t code_point, std::string& out) {
    char bytes[4];
    std::size_t n;
    if (code_point < 0x80) {
        bytes[0] = static_cast<char>(code_point);
        n = 1;
    } else if (code_point < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (code_point >> 6));
        bytes[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        n = 2;
    } else if (code_point < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (code_point >> 12));
        bytes[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (code_point & 0x3F));
        n = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | (code_point >> 18));
        bytes[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (code_point & 0x3F));
        n = 4;
    }
    out.append(bytes, n);
}

bool is_high_surrogate(std::uint32_t unit) noexcept { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

// A number literal that passed the grammar check: [begin, end) of the text.
struct NumberSpan {
    std::size_t begin;
    std::size_t end;
    bool negative;
    bool integer;  // no fraction and no exponent
};

// One read of one text. Every step returns false after recording the first
// failure, so the failure travels up without a Result at every level.
class Reader {
public:
    explicit Reader(std::string_view text) noexcept : text_(text) {}

    Result<NodeUpdate, JsonFailure> run() {
        skip_whitespace();
        if (at_end()) return fail(JsonFailure{JsonError::empty_text, pos_});
        bool read;
        if (peek() == '{') {
            read = read_object();
        } else if (peek() == '[') {
            read = read_array();
        } else {
            read = refuse(value_can_start() ? JsonError::not_a_node_update : JsonError::unexpected_character, pos_);
        }
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
        // Report the first byte that differs, or the end if the text stops
        // inside the word.
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
            char plain;
            switch (text_[pos_++]) {
                case '"': plain = '"'; break;
                case '\\': plain = '\\'; break;
                case '/': plain = '/'; break;
                case 'b': plain = '\b'; break;
                case 'f': plain = '\f'; break;
                case 'n': plain = '\n'; break;
                case 'r': plain = '\r'; break;
                case 't': plain = '\t'; break;
                case 'u': {
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
                    continue;
                }
                default:
                    return refuse(JsonError::invalid_escape, escape_at);
            }
            if (out) *out += plain;
        }
    }

    // Checks the JSON number grammar from the current position:
    // -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
    bool scan_number(NumberSpan& number) noexcept {
        number.begin = pos_;
        number.negative = false;
        number.integer = true;
        if (peek() == '-') {
            number.negative = true;
            ++pos_;
        }
        if (at_end()) return refuse(JsonError::unexpected_end, pos_);
        if (peek() == '0') {
            ++pos_;
            if (!at_end() && is_digit(peek())) return refuse(JsonError::invalid_number, pos_);
        } else if (is_digit(peek())) {
            while (!at_end() && is_digit(peek())) ++pos_;
        } else {
            return refuse(JsonError::invalid_number, pos_);
        }
        if (!at_end() && peek() == '.') {
            number.integer = false;
            ++pos_;
            if (at_end() || !is_digit(peek())) return refuse(JsonError::invalid_number, pos_);
            while (!at_end() && is_digit(peek())) ++pos_;
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            number.integer = false;
            ++pos_;
            if (!at_end() && (peek() == '+' || peek() == '-')) ++pos_;
            if (at_end() || !is_digit(peek())) return refuse(JsonError::invalid_number, pos_);
            while (!at_end() && is_digit(peek())) ++pos_;
        }
        number.end = pos_;
        return true;
    }

    // The literal as D x 10^exponent, D without leading or trailing zeros
    // (digit_count 0 for a zero value). Counts saturate far beyond any
    // double, so a hostile literal cannot overflow them.
    struct Shape {
        long long digit_count = 0;
        long long exponent = 0;
    };

    Shape shape_of(const NumberSpan& number) const noexcept {
        constexpr long long limit = 1LL << 40;
        Shape shape;
        long long pending_zeros = 0;  // zeros after the last nonzero digit so far
        long long fraction_digits = 0;
        std::size_t i = number.begin + (number.negative ? 1 : 0);
        bool in_fraction = false;
        for (; i < number.end && text_[i] != 'e' && text_[i] != 'E'; ++i) {
            if (text_[i] == '.') {
                in_fraction = true;
                continue;
            }
            if (in_fraction && fraction_digits < limit) ++fraction_digits;
            if (text_[i] == '0') {
                if (shape.digit_count > 0 && pending_zeros < limit) ++pending_zeros;
            } else {
                if (shape.digit_count < limit) shape.digit_count += pending_zeros + 1;
                pending_zeros = 0;
            }
        }
        long long exponent = 0;
        if (i < number.end) {
            ++i;  // the 'e'
            bool negative_exponent = false;
            if (text_[i] == '+' || text_[i] == '-') negative_exponent = text_[i++] == '-';
            for (; i < number.end; ++i) {
                if (exponent < limit) exponent = exponent * 10 + (text_[i] - '0');
            }
            if (negative_exponent) exponent = -exponent;
        }
        shape.exponent = exponent - fraction_digits + pending_zeros;
        return shape;
    }

    bool convert_size(const NumberSpan& number, float& value) noexcept {
        const char* const first = text_.data() + number.begin;
        const char* const last = text_.data() + number.end;
        if (number.integer) {
            // Integers that fit 64 bits go straight to float: one rounding
            // from the exact value, where a detour through double could round
            // twice and land one float off.
            std::uint64_t magnitude = 0;
            bool fits = true;
            for (const char* p = first + (number.negative ? 1 : 0); p != last; ++p) {
                const auto digit = static_cast<std::uint64_t>(*p - '0');
                if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                    fits = false;
                    break;
                }
                magnitude = magnitude * 10 + digit;
            }
            constexpr std::uint64_t min_int64_magnitude = std::uint64_t{1} << 63;
            if (fits && (!number.negative || magnitude <= min_int64_magnitude)) {
                // Rounding to nearest is symmetric, so negating afterwards is
                // exact; it also makes -0 negative zero.
                value = number.negative ? -static_cast<float>(magnitude) : static_cast<float>(magnitude);
                return true;
            }
        }

        const float zero = number.negative ? -0.0f : 0.0f;
        const float infinity = number.negative ? -std::numeric_limits<float>::infinity()
                                               : std::numeric_limits<float>::infinity();
        const Shape shape = shape_of(number);
        double wide = 0.0;
        const auto converted = std::from_chars(first, last, wide);
        if (converted.ec == std::errc::result_out_of_range) {
            // Reported both for overflow and for underflow; only the first
            // loses the value altogether.
            if (shape.digit_count + shape.exponent > 0) return refuse(JsonError::number_overflow, number.begin);
            value = zero;
            return true;
        }
        if (converted.ec != std::errc() || converted.ptr != last) {
            return refuse(JsonError::invalid_number, number.begin);
        }

        // A literal of at most 19 digits scaled by a power of ten that a
        // double holds exactly has its value pinned to the float nearest its
        // nearest double. Beyond that the last bit is ours to choose, and the
        // direct conversion is taken: the double detour can land exactly
        // between two floats and round the wrong way, which would break the
        // round trip of a written size (7.038531e-26 is one such text).
        constexpr long long max_exact_digits = 19;
        const bool pinned_to_double = shape.digit_count <= max_exact_digits &&
                                      shape.exponent >= -max_exact_power_of_ten &&
                                      shape.exponent <= max_exact_power_of_ten;
        if (!pinned_to_double) {
            float direct = 0.0f;
            const auto narrow = std::from_chars(first, last, direct);
            if (narrow.ec == std::errc()) {
                value = direct;
            } else {
                // Out of the float range: the double tells which side.
                value = std::fabs(wide) >= 1.0 ? infinity : zero;
            }
            return true;
        }
        value = narrow_to_float(wide);
        return true;
    }

    bool read_channel(std::optional<std::uint8_t>& channel) noexcept {
        if (at_end() || !(peek() == '-' || is_digit(peek()))) return refuse_kind();
        NumberSpan number;
        if (!scan_number(number)) return false;
        // Only bare digits name a channel: 1.0, 1e2 and -0 are refused even
        // though their values are whole.
        if (number.negative || !number.integer || number.end - number.begin > 3) {
            return refuse(JsonError::channel_out_of_range, number.begin);
        }
        unsigned value = 0;
        for (std::size_t i = number.begin; i < number.end; ++i) value = value * 10 + static_cast<unsigned>(text_[i] - '0');
        if (value > 255) return refuse(JsonError::channel_out_of_range, number.begin);
        channel = static_cast<std::uint8_t>(value);
        return true;
    }

    bool read_text(OptionalText& field) {
        if (at_end() || peek() != '"') return refuse_kind();
        text_value_.clear();
        if (!read_string(&text_value_)) return false;
        field = std::string_view(text_value_);
        return true;
    }

    bool read_field(Field field) {
        if (text_.substr(pos_, 4) == "null") {
            pos_ += 4;
            return true;
        }
        switch (field) {
            case Field::label: return read_text(update_.label);
            case Field::url: return read_text(update_.url);
            case Field::size: {
                if (at_end() || !(peek() == '-' || is_digit(peek()))) return refuse_kind();
                NumberSpan number;
                float value;
                if (!scan_number(number) || !convert_size(number, value)) return false;
                update_.size = value;
                return true;
            }
            case Field::red: return read_channel(update_.red);
            case Field::green: return read_channel(update_.green);
            case Field::blue: return read_channel(update_.blue);
            case Field::show_label:
                if (text_.substr(pos_, 4) == "true") {
                    pos_ += 4;
                    update_.show_label = true;
                    return true;
                }
                if (text_.substr(pos_, 5) == "false") {
                    pos_ += 5;
                    update_.show_label = false;
                    return true;
                }
                return refuse_kind();
            case Field::unknown:
                break;
        }
        return skip_value();
    }

    // A member name inside a skipped object, then its colon.
    bool skip_member_name() {
        if (at_end() || peek() != '"') return refuse_here();
        if (!read_string(nullptr)) return false;
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
                    ++pos_;
                    skip_whitespace();
                    if (!at_end() && peek() == '}') {
                        ++pos_;
                        break;
                    }
                    open.push_back('{');
                    if (!skip_member_name()) return false;
                    continue;
                case '[':
                    ++pos_;
                    skip_whitespace();
                    if (!at_end() && peek() == ']') {
                        ++pos_;
                        break;
                    }
                    open.push_back('[');
                    continue;
                case '"':
                    if (!read_string(nullptr)) return false;
                    break;
                case 't':
                    if (!read_literal("true")) return false;
                    break;
                case 'f':
                    if (!read_literal("false")) return false;
                    break;
                case 'n':
                    if (!read_literal("null")) return false;
                    break;
                default: {
                    if (peek() != '-' && !is_digit(peek())) return refuse(JsonError::unexpected_character, pos_);
                    NumberSpan number;
                    if (!scan_number(number)) return false;
                    break;
                }
            }
            // A value just ended: close every container that ends with it,
            // then move to the start of the next value.
            for (;;) {
                if (open.empty()) return true;
                skip_whitespace();
                if (at_end()) return refuse(JsonError::unexpected_end, pos_);
                const char closer = open.back() == '{' ? '}' : ']';
                if (peek() == closer) {
                    ++pos_;
                    open.pop_back();
                    continue;
                }
                if (peek() != ',') return refuse(JsonError::unexpected_character, pos_);
                ++pos_;
                skip_whitespace();
                if (open.back() == '{' && !skip_member_name()) return false;
                break;
            }
        }
    }

    bool read_object() {
        ++pos_;
        skip_whitespace();
        if (!at_end() && peek() == '}') {
            ++pos_;
            return true;
        }
        unsigned seen = 0;
        for (;;) {
            if (at_end() || peek() != '"') return refuse_here();
            const std::size_t name_at = pos_;
            name_.clear();
            if (!read_string(&name_)) return false;
            skip_whitespace();
            if (!expect(':')) return false;
            skip_whitespace();
            const Field field = field_named(name_);
            if (field != Field::unknown) {
                // A null counts as stated here: two members for one field are
                // refused whatever their values.
                const unsigned bit = 1u << static_cast<unsigned>(field);
                if (seen & bit) return refuse(JsonError::duplicate_member, name_at);
                seen |= bit;
            }
            if (!read_field(field)) return false;
            skip_whitespace();
            if (at_end()) return refuse(JsonError::unexpected_end, pos_);
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            if (peek() != ',') return refuse(JsonError::unexpected_character, pos_);
            ++pos_;
            skip_whitespace();
        }
    }

    bool read_array() {
        ++pos_;
        skip_whitespace();
        if (!at_end() && peek() == ']') return refuse(JsonError::wrong_array_length, pos_);
        for (unsigned index = 0;; ++index) {
            if (index == field_count) return refuse(JsonError::wrong_array_length, pos_);
            if (!read_field(static_cast<Field>(index))) return false;
            skip_whitespace();
            if (at_end()) return refuse(JsonError::unexpected_end, pos_);
            if (peek() == ']') {
                if (index + 1 != field_count) return refuse(JsonError::wrong_array_length, pos_);
                ++pos_;
                return true;
            }
            if (peek() != ',') return refuse(JsonError::unexpected_character, pos_);
            ++pos_;
            skip_whitespace();
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    JsonFailure failure_{JsonError::unexpected_end, 0};
    NodeUpdate update_;
    std::string name_;  // decoded member name, reused from member to member
    std::string text_value_;  // a decoded text before it is stored, likewise reused
};

// The text exactly as the writer lays it out: an object, no whitespace, the
// members it knows in the writer's order, strings without escapes, sizes of
// at most 19 digits. That is nearly every text a decoder sees, and reading
// it needs none of the general reader's bookkeeping. Anything else, valid or
// not, is left to the general reader (returns false, `out` then unspecified),
// so this never accepts a text the general reader refuses and never reads one
// differently.
class CanonicalReader {
public:
    explicit CanonicalReader(std::string_view text) noexcept
        : p_(text.data()), end_(text.data() + text.size()) {}

    bool run(NodeUpdate& out) {
        if (!take('{')) return false;
        if (take('}')) return p_ == end_;
        // Each member may follow only the ones before it in the writer's order.
        bool first = true;
        auto member = [&](std::string_view name) {
            const std::size_t needed = name.size() + (first ? 0 : 1);
            if (static_cast<std::size_t>(end_ - p_) < needed) return false;
            const char* at = p_;
            if (!first) {
                if (*at != ',') return false;
                ++at;
            }
            if (std::memcmp(at, name.data(), name.size()) != 0) return false;
            p_ = at + name.size();
            first = false;
            return true;
        };
        if (member("\"label\":") && !string(out.label)) return false;
        if (member("\"size\":") && !size(out.size)) return false;
        if (member("\"url\":") && !string(out.url)) return false;
        if (member("\"red\":") && !channel(out.red)) return false;
        if (member("\"green\":") && !channel(out.green)) return false;
        if (member("\"blue\":") && !channel(out.blue)) return false;
        if (member("\"showLabel\":")) {
            if (literal("true")) {
                out.show_label = true;
            } else if (literal("false")) {
                out.show_label = false;
            } else {
                return false;
            }
        }
        return !first && take('}') && p_ == end_;
    }

private:
    bool take(char c) noexcept {
        if (p_ == end_ || *p_ != c) return false;
        ++p_;
        return true;
    }

    bool literal(std::string_view word) noexcept {
        if (static_cast<std::size_t>(end_ - p_) < word.size() || std::memcmp(p_, word.data(), word.size()) != 0) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    std::uint64_t digits(std::size_t& count) noexcept {
        std::uint64_t value = 0;
        const char* const start = p_;
        while (p_ != end_ && is_digit(*p_)) {
            value = value * 10 + static_cast<std::uint64_t>(*p_ - '0');
            ++p_;
            if (p_ - start > 19) return 0;  // `count` left as it was: 0
        }
        count = static_cast<std::size_t>(p_ - start);
        return value;
    }

    bool string(OptionalText& field) {
        if (!take('"')) return false;
        const char* const start = p_;
        while (p_ != end_) {
            const auto byte = static_cast<unsigned char>(*p_);
            if (byte == '"') break;
            if (byte == '\\' || byte < 0x20) return false;
            ++p_;
        }
        if (p_ == end_) return false;
        field = std::string_view(start, static_cast<std::size_t>(p_ - start));
        ++p_;
        return true;
    }

    bool channel(std::optional<std::uint8_t>& field) noexcept {
        const char* const start = p_;
        std::size_t count = 0;
        const std::uint64_t value = digits(count);
        if (count == 0 || count > 3 || value > 255 || (*start == '0' && count > 1)) return false;
        field = static_cast<std::uint8_t>(value);
        return true;
    }

    // The general reader's conversion, for the literals where it comes down
    // to one correctly rounded double operation: at most 19 significant
    // digits, a mantissa below 2^53 and a power of ten a double holds
    // exactly. Then the double is the one std::from_chars gives, and the
    // float the nearest to it, as there.
    bool size(std::optional<float>& field) noexcept {
        if (literal("null")) return true;
        const bool negative = take('-');
        const char* const int_start = p_;
        std::size_t int_count = 0;
        std::uint64_t mantissa = digits(int_count);
        if (int_count == 0 || int_count > 19 || (*int_start == '0' && int_count > 1)) return false;
        std::size_t fraction_count = 0;
        bool integer = true;
        if (take('.')) {
            integer = false;
            const char* const fraction_start = p_;
            while (p_ != end_ && is_digit(*p_)) ++p_;
            fraction_count = static_cast<std::size_t>(p_ - fraction_start);
            if (fraction_count == 0 || int_count + fraction_count > 19) return false;
            for (const char* d = fraction_start; d != p_; ++d) {
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(*d - '0');
            }
        }
        long exponent = 0;
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            integer = false;
            ++p_;
            bool negative_exponent = false;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) negative_exponent = *p_++ == '-';
            std::size_t count = 0;
            const std::uint64_t magnitude = digits(count);
            if (count == 0 || count > 3) return false;
            exponent = negative_exponent ? -static_cast<long>(magnitude) : static_cast<long>(magnitude);
        }
        if (integer) {
            // As the general reader: straight to float, one rounding, for
            // every magnitude an int64 literal can have.
            constexpr std::uint64_t min_int64_magnitude = std::uint64_t{1} << 63;
            if (negative && mantissa > min_int64_magnitude) return false;
            field = negative ? -static_cast<float>(mantissa) : static_cast<float>(mantissa);
            return true;
        }
        if (mantissa == 0) {
            field = negative ? -0.0f : 0.0f;
            return true;
        }
        if constexpr (!exact_double_arithmetic) {
            return false;
        } else {
            exponent -= static_cast<long>(fraction_count);
            while (mantissa % 10 == 0) {
                mantissa /= 10;
                ++exponent;
            }
            constexpr std::uint64_t max_exact_mantissa = std::uint64_t{1} << 53;
            if (mantissa > max_exact_mantissa || exponent < -max_exact_power_of_ten || exponent > max_exact_power_of_ten) {
                return false;
            }
            const double scale = powers_of_ten[exponent < 0 ? -exponent : exponent];
            const double magnitude = static_cast<double>(mantissa);
            const double wide = exponent < 0 ? magnitude / scale : magnitude * scale;
            field = narrow_to_float(negative ? -wide : wide);
            return true;
        }
    }

    const char* p_;
    const char* end_;
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
        if (CanonicalReader(text).run(update)) return update;
    }
    return Reader(text).run();
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

}  // namespace tovra
