// The writer's own layout is nearly every text a decoder sees, and reading it
// needs none of the general reader's bookkeeping. The fuzz target holds the
// two readers to the same answers.
#include <cstring>
#include <string_view>

#include "node_update/json_number.hpp"
#include "node_update/node_update_json.hpp"

namespace tovra {

namespace {

class WrittenLayoutReader {
public:
    explicit WrittenLayoutReader(std::string_view text) noexcept
        : text_(text), p_(text.data()), end_(text.data() + text.size()) {}

    bool run(NodeUpdate& out) {
        if (!literal("{")) return false;
        if (literal("}")) return p_ == end_;
        // Each member may follow only the ones before it in the writer's order.
        bool first = true;
        bool read = true;
        for_each_json_field([&](auto index) {
            constexpr auto& prefix = json_member_prefix<index>;
            if (!read || !member(prefix.data(), prefix.size(), first)) return;
            read = value(out.*field_at<index>.member);
        });
        return read && !first && literal("}") && p_ == end_;
    }

private:
    bool literal(std::string_view word) noexcept {
        if (static_cast<std::size_t>(end_ - p_) < word.size() || std::memcmp(p_, word.data(), word.size()) != 0) {
            return false;
        }
        p_ += word.size();
        return true;
    }

    bool member(const char* name, std::size_t size, bool& first) noexcept {
        const std::size_t needed = size + (first ? 0 : 1);
        if (static_cast<std::size_t>(end_ - p_) < needed) return false;
        const char* at = p_;
        if (!first && *at++ != ',') return false;
        if (std::memcmp(at, name, size) != 0) return false;
        p_ = at + size;
        first = false;
        return true;
    }

    // The literal of a size or a channel, scanned: false where the grammar
    // breaks (the general reader then says how).
    bool number(NumberSpan& span) noexcept {
        JsonFailure unused;
        if (p_ == end_ || !(*p_ == '-' || is_digit(*p_))) return false;
        if (!scan_json_number(text_, static_cast<std::size_t>(p_ - text_.data()), span, unused)) return false;
        p_ = text_.data() + span.end;
        return true;
    }

    bool value(OptionalText& field) {
        if (!literal("\"")) return false;
        const char* const start = p_;
        while (p_ != end_) {
            const auto byte = static_cast<unsigned char>(*p_);
            if (byte == '"') break;
            if (byte == '\\' || byte < 0x20) return false;
            ++p_;
        }
        if (p_ == end_) return false;
        field.assign(std::string_view(start, static_cast<std::size_t>(p_ - start)));
        ++p_;
        return true;
    }

    bool value(std::optional<float>& field) noexcept {
        // The writer's form of a size that is NaN or infinite.
        if (literal("null")) return true;
        NumberSpan span;
        if (!number(span)) return false;
        float size;
        if (!decimal_to_float({text_.data() + span.begin, span.end - span.begin}, span, size)) return false;
        field = size;
        return true;
    }

    bool value(std::optional<std::uint8_t>& field) noexcept {
        NumberSpan span;
        if (!number(span)) return false;
        std::uint8_t channel;
        if (!channel_of(text_, span, channel)) return false;
        field = channel;
        return true;
    }

    bool value(std::optional<bool>& field) noexcept {
        for (const bool value : {true, false}) {
            if (literal(value ? "true" : "false")) {
                field = value;
                return true;
            }
        }
        return false;
    }

    std::string_view text_;
    const char* p_;
    const char* end_;
};

}  // namespace

bool read_written_layout(std::string_view text, NodeUpdate& out) { return WrittenLayoutReader(text).run(out); }

}  // namespace tovra
