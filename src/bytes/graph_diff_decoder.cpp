// Reading a diff from bytes. The input is untrusted: every field is checked
// against what remains before anything is allocated or copied, a count
// sizes a collection only once its entries are known to be present, and
// nothing is kept on failure.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#include "bytes/graph_diff_codec.hpp"
#include "bytes/utf8.hpp"
#include "common/little_endian.hpp"

namespace tovra {

namespace {

// Counts and lengths are 64-bit fields, but no value from 2^32 on is taken:
// it keeps every later size computation far from overflow on a 32-bit host.
constexpr std::uint64_t size_limit = std::uint64_t{1} << 32;

// A count alone may claim billions of entries in a few bytes. So the input is
// first walked for its framing alone (every count, length and id field),
// which allocates nothing; once that walk has passed, each collection is
// sized for its count at once. Until then a count pre-sizes for at most this
// many entries, never more than the rest of the input could hold.
constexpr std::size_t reserve_limit = 4096;
constexpr std::size_t min_entry_size = 24;

constexpr std::size_t no_failure = std::numeric_limits<std::size_t>::max();

// One section-1 entry: its text stays a view into the input until every
// section has been read; `failure` indexes its refusal, if it was refused.
struct NodeText {
    Uuid id;
    std::string_view text;
    std::size_t offset;
    std::size_t failure = no_failure;
};

// A cursor over the input; a failed read records what went wrong and where.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) noexcept
        : data_(data.data()), size_(data.size()) {}

    CodecFailure failure() const { return CodecFailure{error_, error_offset_, std::nullopt}; }

    void trust_counts() noexcept { counts_trusted_ = true; }

    // How many entries a collection whose count was just read may be sized for.
    std::size_t room_for(std::uint64_t count) const noexcept {
        if (counts_trusted_) return static_cast<std::size_t>(count);
        return static_cast<std::size_t>(
            std::min<std::uint64_t>({count, reserve_limit, (size_ - pos_) / min_entry_size}));
    }

    // Every count and length: a 64-bit field below size_limit.
    bool count(std::uint64_t& out) noexcept {
        if (size_ - pos_ < 8) return fail(CodecError::end_of_input, pos_);
        out = load_le<std::uint64_t>(data_ + pos_);
        pos_ += 8;
        if (out >= size_limit) return fail(CodecError::size_out_of_range, pos_ - 8);
        return true;
    }

    // The length field is checked (range, then what remains) and the bytes
    // consumed before the value 16 is demanded, so an id of the wrong length
    // that the input does hold is "bad length", one it does not is "end of
    // input".
    bool uuid(Uuid& out) noexcept {
        const std::size_t start = pos_;
        std::size_t length;
        if (!length_field(length)) return false;
        pos_ += length;
        if (length != 16) return fail(CodecError::bad_uuid_length, start);
        out = Uuid::from_raw(data_ + pos_ - 16);
        return true;
    }

    bool text(std::string_view& out, std::size_t& offset) noexcept {
        std::size_t length;
        if (!length_field(length)) return false;
        const std::uint8_t* bytes = data_ + pos_;
        const std::size_t valid = utf8_valid_prefix(bytes, length);
        if (valid != length) return fail(CodecError::invalid_utf8, pos_ + valid);
        out = std::string_view(reinterpret_cast<const char*>(bytes), length);
        offset = pos_;
        pos_ += length;
        return true;
    }

    bool skip_text() noexcept {
        std::size_t length;
        if (!length_field(length)) return false;
        pos_ += length;
        return true;
    }

    // The bits go straight into the stored float: an x87 register would quiet
    // a signalling NaN, and every payload must come back unchanged.
    bool weight(float& slot) noexcept {
        static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559);
        if (size_ - pos_ < 4) return fail(CodecError::end_of_input, pos_);
        const std::uint32_t bits = load_le<std::uint32_t>(data_ + pos_);
        std::memcpy(&slot, &bits, 4);
        pos_ += 4;
        return true;
    }

private:
    bool fail(CodecError error, std::size_t offset) noexcept {
        error_ = error;
        error_offset_ = offset;
        return false;
    }

    // A length that passes fits in size_t and in what remains, and is
    // consumed as its field; the caller then owns the next `out` bytes.
    bool length_field(std::size_t& out) noexcept {
        const std::size_t start = pos_;
        std::uint64_t value;
        if (!count(value)) return false;
        if (value > size_ - pos_) return fail(CodecError::end_of_input, start);
        out = static_cast<std::size_t>(value);
        return true;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    CodecError error_ = CodecError::end_of_input;
    std::size_t error_offset_ = 0;
    bool counts_trusted_ = false;
};

// The framing walk: true when every count, length and id field of the four
// sections is in range and every entry they promise is present. Texts are not
// looked into; reading them is the second walk's business.
bool well_framed(Reader in) noexcept {
    std::uint64_t count;
    Uuid id;
    float weight;
    for (const bool with_text : {true, false}) {
        if (!in.count(count)) return false;
        for (std::uint64_t i = 0; i < count; ++i) {
            if (!in.uuid(id) || (with_text && !in.skip_text())) return false;
        }
    }
    for (const bool weighted : {true, false}) {
        std::uint64_t sources;
        if (!in.count(sources)) return false;
        for (std::uint64_t i = 0; i < sources; ++i) {
            if (!in.uuid(id) || !in.count(count)) return false;
            for (std::uint64_t j = 0; j < count; ++j) {
                if (!in.uuid(id) || (weighted && !in.weight(weight))) return false;
            }
        }
    }
    return true;
}

bool read_node_texts(Reader& in, std::vector<NodeText>& out) {
    std::uint64_t count;
    if (!in.count(count)) return false;
    out.reserve(in.room_for(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        NodeText entry;
        if (!in.uuid(entry.id) || !in.text(entry.text, entry.offset)) return false;
        out.push_back(entry);
    }
    return true;
}

bool read_deleted_nodes(Reader& in, UuidGraphDiff::NodeSet& out) {
    std::uint64_t count;
    if (!in.count(count)) return false;
    out.reserve(in.room_for(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        Uuid id;
        if (!in.uuid(id)) return false;
        out.insert(id);
    }
    return true;
}

// Sections 3 and 4: the targets of section 3 carry a weight each.
template <class Targets>
bool read_sources(Reader& in, FlatMap<Uuid, Targets, UuidHash>& out) {
    std::uint64_t sources;
    if (!in.count(sources)) return false;
    out.reserve(in.room_for(sources));
    for (std::uint64_t i = 0; i < sources; ++i) {
        Uuid source;
        if (!in.uuid(source)) return false;
        // A repeated source replaces the earlier entry's table, not merged with it.
        Targets& targets = out[source];
        targets.clear();
        std::uint64_t count;
        if (!in.count(count)) return false;
        const bool read = targets.with_room(in.room_for(count), [&](auto& into) {
            for (std::uint64_t j = 0; j < count; ++j) {
                Uuid target;
                if (!in.uuid(target)) return false;
                if constexpr (std::is_same_v<Targets, UuidEdgeDiff::TargetWeights>) {
                    if (!in.weight(into[target])) return false;
                } else {
                    into.insert(target);
                }
            }
            return true;
        });
        if (!read) return false;
    }
    return true;
}


std::string_view describe(CodecError error) noexcept {
    switch (error) {
        case CodecError::end_of_input: return "input ends inside a field";
        case CodecError::size_out_of_range: return "count or length of 2^32 or more";
        case CodecError::bad_uuid_length: return "node id length is not 16";
        case CodecError::invalid_utf8: return "node text is not valid UTF-8";
        case CodecError::invalid_node_update: return "node text is not a node update";
        case CodecError::encode_failed: return "diff too large to encode";
    }
    return "unknown codec error";
}

}  // namespace

std::string describe(const CodecFailure& failure) {
    std::string text(describe(failure.error));
    // The encoder's failure has no place in an input.
    if (failure.error == CodecError::encode_failed) return text;
    text += " at byte ";
    text += std::to_string(failure.offset);
    if (failure.json) {
        text += " (";
        text += describe(failure.json->error);
        text += " at byte ";
        text += std::to_string(failure.json->offset);
        text += " of the text)";
    }
    return text;
}

Result<UuidGraphDiff, CodecFailure> bytes_to_graph_diff(std::span<const std::uint8_t> data) {
    Reader in(data);
    // A badly framed input is still read, so that its first failure (which
    // may be an invalid text ahead of the broken field) is the one reported.
    if (well_framed(in)) in.trust_counts();
    std::vector<NodeText> texts;
    UuidGraphDiff::NodeSet deleted;
    UuidEdgeDiff edges;
    if (!read_node_texts(in, texts) || !read_deleted_nodes(in, deleted) ||
        !read_sources(in, edges.new_or_updated_edges) || !read_sources(in, edges.deleted_edges)) {
        return fail(in.failure());
    }
    // Whatever follows the fourth section is not ours to judge.

    // Each text is parsed once, in input order, and its update moved into the
    // map on the one insertion that decides whether it counts: walking
    // backwards, the first entry seen for an id is its last in the input, the
    // one that counts. A refused text matters only if it counts; the failure
    // reported is the first such in the input.
    std::vector<NodeUpdate> updates(texts.size());
    std::vector<JsonFailure> failures;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        auto update = node_update_from_json(texts[i].text);
        if (update) {
            updates[i] = std::move(update).value();
        } else {
            texts[i].failure = failures.size();
            failures.push_back(update.error());
        }
    }
    UuidGraphDiff::NodeMap nodes;
    nodes.reserve(texts.size());
    const NodeText* refused = nullptr;
    // The map is far larger than a cache at the sizes where speed matters,
    // and each insertion lands somewhere random in it: a run of probes.
    nodes.for_each_probe(
        texts.crbegin(), texts.crend(), [](const NodeText& entry) -> const Uuid& { return entry.id; },
        [&](const NodeText& entry) {
            const auto i = static_cast<std::size_t>(&entry - texts.data());
            if (nodes.try_emplace(entry.id, std::move(updates[i])).second && entry.failure != no_failure) {
                refused = &entry;
            }
        });
    if (refused != nullptr) {
        const JsonFailure json = failures[refused->failure];
        return fail(CodecFailure{CodecError::invalid_node_update, refused->offset + json.offset, json});
    }
    return UuidGraphDiff(std::move(nodes), std::move(deleted), std::move(edges));
}

}  // namespace tovra
