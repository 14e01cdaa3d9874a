// What the core tests and the fuzz targets share: ids, random diffs built
// through the public operations, the JSON text and bytes the module would
// write, and comparisons that hold content to what a round trip preserves.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/graph_diff_codec.hpp"
#include "bytes/utf8.hpp"
#include "diff/graph_diff.hpp"
#include "node_update/node_update_json.hpp"

namespace test_support {

using tovra::NodeUpdate;
using tovra::Uuid;
using tovra::UuidGraphDiff;
using Bytes = std::vector<std::uint8_t>;

inline float float_of(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

inline std::uint32_t bits_of(const float& value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

inline bool valid_utf8(std::string_view text) {
    return tovra::utf8_valid_prefix(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) ==
           text.size();
}

// Equality with sizes compared bit for bit, so NaN equals the same NaN and
// 0.0 differs from -0.0: what a round trip must preserve (== would call NaN
// unequal to itself and 0.0 equal to -0.0).
inline bool same_update(const NodeUpdate& a, const NodeUpdate& b) noexcept {
    return tovra::all_fields([&](auto index) {
        const auto& x = a.*tovra::field_at<index>.member;
        const auto& y = b.*tovra::field_at<index>.member;
        if constexpr (tovra::field_at<index>.kind == tovra::FieldKind::size) {
            return x.has_value() == y.has_value() && (!x || bits_of(*x) == bits_of(*y));
        } else {
            return x == y;
        }
    });
}

// The JSON text of an update, written as the encoder writes it.
inline std::string json_of(const NodeUpdate& update) {
    std::string text(tovra::node_update_json_bound(update), '\0');
    text.resize(static_cast<std::size_t>(tovra::write_node_update_json(update, text.data()) - text.data()));
    return text;
}

// A text in the writer's exact layout is read by a shortcut; one leading
// space sends the same text down the general path. Both must agree on every
// text: the same update, or the same refusal one byte later. Returns what
// they disagree on, or nothing.
inline std::string_view read_paths_disagreement(std::string_view text) {
    const auto direct = tovra::node_update_from_json(text);
    const auto general = tovra::node_update_from_json(" " + std::string(text));
    if (direct.ok() != general.ok()) return "acceptance";
    if (direct.ok()) return same_update(direct.value(), general.value()) ? "" : "the update read";
    const bool same_refusal = direct.error().error == general.error().error &&
                              direct.error().offset + 1 == general.error().offset;
    return same_refusal ? "" : "the refusal";
}

// The bytes of a diff, planned and written as to_bytes does.
inline tovra::Result<Bytes, tovra::CodecFailure> bytes_of(const UuidGraphDiff& diff) {
    auto plan = tovra::plan_encoding(diff);
    if (!plan) return tovra::fail(std::move(plan).error());
    Bytes bytes(plan.value().size());
    plan.value().write(bytes.data());
    return bytes;
}

// Ids that differ in their first and last bytes, so a reader that took the
// wrong 16 bytes of a field would mix them up.
inline Uuid node(unsigned n) {
    Uuid id;
    id.bytes.fill(0xA5);
    id.bytes[0] = static_cast<std::uint8_t>(n);
    id.bytes[15] = static_cast<std::uint8_t>(n * 7 + 1);
    return id;
}

inline Uuid id_from_words(std::uint64_t lo, std::uint64_t hi) {
    Uuid id;
    for (int i = 0; i < 8; ++i) {
        id.bytes[i] = static_cast<std::uint8_t>(lo >> (8 * i));
        id.bytes[8 + i] = static_cast<std::uint8_t>(hi >> (8 * i));
    }
    return id;
}

// An id whose primary hash equals that of every other id made with the same
// `state`: the first word is free (see UuidHash::with_premix).
inline Uuid colliding_id(std::uint64_t free_word, std::uint64_t state) {
    return tovra::UuidHash::with_premix(free_word, state);
}

inline std::string random_text(std::mt19937& rng) {
    // Plain letters, every byte that needs escaping, and multi-byte
    // characters up to four bytes.
    static const char* const pieces[] = {"a", "Z", " ", "\"", "\\", "\n", "\x01", "\x1F", "/",
                                         "\x7F", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    std::string text;
    for (unsigned n = rng() % 12; n > 0; --n) text += pieces[rng() % std::size(pieces)];
    return text;
}

inline float random_float(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0: return float_of(static_cast<std::uint32_t>(rng()));  // anything, NaNs included
        case 1: return static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 8.0f;
        case 2: return float_of(0x7F800000);
        default: return float_of(0x80000000);
    }
}

inline NodeUpdate random_update(std::mt19937& rng) {
    NodeUpdate update;
    if (rng() % 2) update.label = random_text(rng);
    if (rng() % 2) update.size = random_float(rng);
    if (rng() % 2) update.url = random_text(rng);
    if (rng() % 2) update.red = static_cast<std::uint8_t>(rng());
    if (rng() % 2) update.green = static_cast<std::uint8_t>(rng());
    if (rng() % 2) update.blue = static_cast<std::uint8_t>(rng());
    if (rng() % 2) update.show_label = rng() % 2 == 0;
    return update;
}

// Up to `max_operations` operations on a small pool of ids, so that they
// meet each other and every rule leaves its trace (emptied sources,
// deletions that cancel edges).
inline UuidGraphDiff random_diff(std::mt19937& rng, unsigned max_operations) {
    UuidGraphDiff diff;
    const unsigned pool = 2 + rng() % 14;
    for (unsigned n = rng() % max_operations; n > 0; --n) {
        const Uuid a = node(rng() % pool);
        const Uuid b = node(rng() % pool);
        switch (rng() % 9) {
            case 0:
            case 1: diff.add_or_update_node(a, random_update(rng)); break;
            case 2: diff.delete_node(a); break;
            case 3:
            case 4:
            case 5: (void)diff.add_edge(a, b, random_float(rng)); break;
            case 6:
            case 7: diff.delete_edge(a, b); break;
            default:
                if (rng() % 10 == 0) diff.clear();
                break;
        }
    }
    return diff;
}

// What the JSON form carries of an update: a size that is not a finite number
// is written as null and so comes back absent.
inline NodeUpdate as_carried_by_json(NodeUpdate update) {
    if (update.size && !std::isfinite(*update.size)) update.size.reset();
    return update;
}

inline UuidGraphDiff as_carried_by_json(const UuidGraphDiff& diff) {
    UuidGraphDiff::NodeMap nodes;
    for (const auto& [id, update] : diff.new_or_updated_nodes()) nodes.try_emplace(id, as_carried_by_json(update));
    return UuidGraphDiff(std::move(nodes), diff.deleted_nodes(), diff.edges());
}

// Same members, whatever the order.
template <class Set>
bool same_set(const Set& a, const Set& b) {
    if (a.size() != b.size()) return false;
    for (const auto& id : a) {
        if (b.find(id) == b.end()) return false;
    }
    return true;
}

// Equal content: the same ids in the same collections, updates equal with
// sizes bit for bit, weights bit for bit. Order is not content.
inline bool same_content(const UuidGraphDiff& a, const UuidGraphDiff& b) {
    const auto& a_nodes = a.new_or_updated_nodes();
    const auto& b_nodes = b.new_or_updated_nodes();
    if (a_nodes.size() != b_nodes.size()) return false;
    for (const auto& [id, update] : a_nodes) {
        auto other = b_nodes.find(id);
        if (other == b_nodes.end() || !same_update(update, other->second)) return false;
    }
    if (!same_set(a.deleted_nodes(), b.deleted_nodes())) return false;
    const auto& a_new = a.edges().new_or_updated_edges;
    const auto& b_new = b.edges().new_or_updated_edges;
    if (a_new.size() != b_new.size()) return false;
    for (const auto& [source, targets] : a_new) {
        auto other = b_new.find(source);
        if (other == b_new.end() || other->second.size() != targets.size()) return false;
        for (const auto& [target, weight] : targets) {
            auto hit = other->second.find(target);
            if (hit == other->second.end() || bits_of(hit->second) != bits_of(weight)) return false;
        }
    }
    const auto& a_deleted = a.edges().deleted_edges;
    const auto& b_deleted = b.edges().deleted_edges;
    if (a_deleted.size() != b_deleted.size()) return false;
    for (const auto& [source, targets] : a_deleted) {
        auto other = b_deleted.find(source);
        if (other == b_deleted.end() || !same_set(targets, other->second)) return false;
    }
    return true;
}

}  // namespace test_support
