// Writing a diff as bytes, planned first so that the destination is made at
// its exact size and filled in place, with no intermediate buffer.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "bytes/graph_diff_codec.hpp"
#include "common/little_endian.hpp"

namespace tovra {

namespace {

// Sizes of the fixed-width fields: a count or length is 8 bytes, a UUID is
// its 8-byte length field plus 16 bytes, a weight 4.
constexpr std::uint64_t count_width = 8;
constexpr std::uint64_t uuid_width = 24;
constexpr std::uint64_t weight_width = 4;

inline std::uint8_t* put_uuid(std::uint8_t* out, const Uuid& id) noexcept {
    out = store_le<std::uint64_t>(out, 16);
    std::memcpy(out, id.bytes.data(), 16);
    return out + 16;
}

// The bits come from the stored float, never through a float value: an x87
// register would quiet a signalling NaN, and each payload must come back as is.
inline std::uint8_t* put_weight(std::uint8_t* out, const float& weight) noexcept {
    static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559);
    std::uint32_t bits;
    std::memcpy(&bits, &weight, 4);
    return store_le(out, bits);
}

}  // namespace

char* EncodePlan::text_room(std::size_t count) {
    if (texts_capacity_ - texts_size_ < count) {
        if (count > std::numeric_limits<std::size_t>::max() / 2 - texts_size_) throw std::bad_alloc();
        const std::size_t capacity = std::max(2 * texts_capacity_, texts_size_ + count);
        std::unique_ptr<char[]> grown(new char[capacity]);
        if (texts_size_ != 0) std::memcpy(grown.get(), texts_.get(), texts_size_);
        texts_ = std::move(grown);
        texts_capacity_ = capacity;
    }
    return texts_.get() + texts_size_;
}

Result<EncodePlan, CodecFailure> plan_encoding(const UuidGraphDiff& diff) {
    EncodePlan plan(diff);
    const auto& nodes = diff.new_or_updated_nodes();
    const auto& edges = diff.edges();

    // Rendered here, since the output length depends on them. The usual
    // update, a short label and a size, takes some 40 bytes.
    plan.text_ends_.reserve(nodes.size());
    plan.text_room(64 * std::min(nodes.size(), std::numeric_limits<std::size_t>::max() / 256));
    for (const auto& entry : nodes) {
        char* const start = plan.text_room(node_update_json_bound(entry.second));
        char* const end = write_node_update_json(entry.second, start);
        plan.texts_size_ += static_cast<std::size_t>(end - start);
        plan.text_ends_.push_back(plan.texts_size_);
    }

    // Summed in 64 bits: on a 32-bit host a diff could need more bytes than
    // the address space holds, an error rather than a wrapped, small buffer.
    std::uint64_t total = 4 * count_width;
    total += (uuid_width + count_width) * nodes.size() + plan.texts_size_;
    total += uuid_width * diff.deleted_nodes().size();
    for (const auto& source : edges.new_or_updated_edges) {
        total += uuid_width + count_width + (uuid_width + weight_width) * source.second.size();
    }
    for (const auto& source : edges.deleted_edges) {
        total += uuid_width + count_width + uuid_width * source.second.size();
    }
    if constexpr (sizeof(std::size_t) < sizeof(std::uint64_t)) {
        if (total > std::numeric_limits<std::size_t>::max()) {
            return fail(CodecFailure{CodecError::encode_failed, 0, std::nullopt});
        }
    }
    plan.size_ = static_cast<std::size_t>(total);
    return plan;
}

void EncodePlan::write(std::uint8_t* out) const noexcept {
    const auto& nodes = diff_->new_or_updated_nodes();
    const auto& edges = diff_->edges();

    // Section 1, in the order the texts were rendered in (the diff is unchanged).
    out = store_le<std::uint64_t>(out, nodes.size());
    const char* const texts = texts_.get();
    std::size_t text_start = 0;
    std::size_t index = 0;
    for (const auto& entry : nodes) {
        const std::size_t text_end = text_ends_[index++];
        const std::size_t length = text_end - text_start;
        out = put_uuid(out, entry.first);
        out = store_le<std::uint64_t>(out, length);
        std::memcpy(out, texts + text_start, length);
        out += length;
        text_start = text_end;
    }

    // Section 2.
    out = store_le<std::uint64_t>(out, diff_->deleted_nodes().size());
    for (const auto& id : diff_->deleted_nodes()) out = put_uuid(out, id);

    // Section 3. A source whose map was emptied by a node deletion is
    // written with a count of 0, not dropped: it still counts as an entry.
    out = store_le<std::uint64_t>(out, edges.new_or_updated_edges.size());
    edges.new_or_updated_edges.for_each_with_inner([&out](const auto& source) {
        out = put_uuid(out, source.first);
        out = store_le<std::uint64_t>(out, source.second.size());
        for (const auto& target : source.second) {
            out = put_uuid(out, target.first);
            out = put_weight(out, target.second);
        }
    });

    // Section 4.
    out = store_le<std::uint64_t>(out, edges.deleted_edges.size());
    edges.deleted_edges.for_each_with_inner([&out](const auto& source) {
        out = put_uuid(out, source.first);
        out = store_le<std::uint64_t>(out, source.second.size());
        for (const auto& target : source.second) out = put_uuid(out, target);
    });
}

}  // namespace tovra
