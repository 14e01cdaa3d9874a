// What the fuzz targets share: a failed oracle aborts with a message (libFuzzer
// then keeps the input as a crash), and diffs and updates are compared the way
// a round trip must preserve them.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bytes/utf8.hpp"
#include "diff/graph_diff.hpp"
#include "node_update/node_update.hpp"

namespace fuzz {

[[noreturn]] inline void oracle_failed(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: oracle failed: %s\n", file, line, what);
    std::abort();
}

}  // namespace fuzz

#define FUZZ_REQUIRE(cond)                                                     \
    do {                                                                       \
        if (!(cond)) fuzz::oracle_failed(__FILE__, __LINE__, #cond);           \
    } while (0)

namespace fuzz {

inline std::uint32_t bits_of(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

inline bool valid_utf8(std::string_view text) {
    return tovra::is_valid_utf8(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// What the JSON form carries of an update: a size that is not a finite number
// is written as null and so comes back absent.
inline tovra::NodeUpdate as_carried_by_json(tovra::NodeUpdate update) {
    if (update.size && !std::isfinite(*update.size)) update.size.reset();
    return update;
}

inline tovra::UuidGraphDiff as_carried_by_json(const tovra::UuidGraphDiff& diff) {
    tovra::UuidGraphDiff::NodeMap nodes;
    for (const auto& [id, update] : diff.new_or_updated_nodes()) nodes.emplace(id, as_carried_by_json(update));
    return tovra::UuidGraphDiff(std::move(nodes), diff.deleted_nodes(), diff.edges());
}

// Same members, whatever the order; needs only size() and find(), so it
// holds for any set container.
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
inline bool same_content(const tovra::UuidGraphDiff& a, const tovra::UuidGraphDiff& b) {
    const auto& a_nodes = a.new_or_updated_nodes();
    const auto& b_nodes = b.new_or_updated_nodes();
    if (a_nodes.size() != b_nodes.size()) return false;
    for (const auto& [id, update] : a_nodes) {
        auto other = b_nodes.find(id);
        if (other == b_nodes.end() || !tovra::same_update(update, other->second)) return false;
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

}  // namespace fuzz
