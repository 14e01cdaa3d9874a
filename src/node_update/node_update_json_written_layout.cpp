// The shortcut for the text exactly as the writer lays it out: nearly every
// text a decoder sees, and reading it needs none of the general reader's
// bookkeeping. Whatever it does not take, valid or not, goes to the general
// reader, which it must agree with; the fuzz target holds the two together.
#include <cstring>
#include <string_view>

#include "node_update/json_number.hpp"
#include "node_update/node_update_json.hpp"

namespace tovra {

namespace {

class WrittenLayoutReader {
public:
    explicit WrittenLayoutReader(std::string_view text) noexcept : text_(text) {}

    bool run(NodeUpdate& out) {
        if (!take('{')) return false;
        if (take('}')) return at_end();
        // Each member may follow only the ones before it in the writer's order.
        bool first = true;
        bool read = true;
        for_each_json_field([&](auto index) {
            constexpr auto& prefix = json_member_prefix<index>;
            if (!read || !member(std::string_view(prefix.data(), prefix.size()), first)) return;
            read = value(out.*field_at<index>.member);
        });
        return read && !first && take('}') && at_end();
    }

private:
    bool at_end() const noexcept { return pos_ == text_.size(); }

    bool take(char c) noexcept {
        if (at_end() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }

    bool literal(std::string_view word) noexcept {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    bool member(std::string_view name, bool& first) noexcept {
        const std::size_t start = pos_;
        if ((!first && !take(',')) || !literal(name)) {
            pos_ = start;
            return false;
        }
        first = false;
        return true;
    }

    // The literal of a size or a channel, scanned: false where the grammar
    // breaks (the general reader then says how).
    bool number(NumberSpan& span) noexcept {
        JsonFailure unused;
        if (at_end() || !(text_[pos_] == '-' || is_digit(text_[pos_]))) return false;
        if (!scan_json_number(text_, pos_, span, unused)) return false;
        pos_ = span.end;
        return true;
    }

    bool value(OptionalText& field) {
        if (!take('"')) return false;
        const std::size_t start = pos_;
        while (!at_end()) {
            const auto byte = static_cast<unsigned char>(text_[pos_]);
            if (byte == '"') break;
            if (byte == '\\' || byte < 0x20) return false;
            ++pos_;
        }
        if (at_end()) return false;
        field = text_.substr(start, pos_ - start);
        ++pos_;
        return true;
    }

    bool value(std::optional<float>& field) noexcept {
        // The writer's form of a size that is NaN or infinite.
        if (literal("null")) return true;
        NumberSpan span;
        if (!number(span)) return false;
        field = decimal_to_float(text_.substr(span.begin, span.end - span.begin), span);
        return field.has_value();
    }

    bool value(std::optional<std::uint8_t>& field) noexcept {
        NumberSpan span;
        if (!number(span)) return false;
        field = channel_of(text_, span);
        return field.has_value();
    }

    bool value(std::optional<bool>& field) noexcept {
        if (literal("true")) {
            field = true;
        } else if (literal("false")) {
            field = false;
        } else {
            return false;
        }
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

bool read_written_layout(std::string_view text, NodeUpdate& out) { return WrittenLayoutReader(text).run(out); }

}  // namespace tovra
