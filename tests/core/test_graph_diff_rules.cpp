// The diff's rules against a plain model that finds the sources of a deleted
// node by visiting every source, as the rules state them; and the same rules
// over other tables. Random operations on small pools of ids, with decoded
// diffs (also ones that break the rules) in between.
#include <algorithm>
#include <map>
#include <new>
#include <random>
#include <set>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "check.hpp"
#include "flat_table_diagnostics.hpp"
#include "table_checks.hpp"
#include "test_support.hpp"

using namespace test_support;
using tovra::GraphDiff;
using tovra::TableInspector;
using tovra::UuidHash;

namespace {

// The rules over ordered maps, step by step, with delete_node's scan.
struct Model {
    std::map<Uuid, NodeUpdate> nodes;
    std::set<Uuid> deleted;
    std::map<Uuid, std::map<Uuid, float>> edges;
    std::map<Uuid, std::set<Uuid>> deleted_edges;

    void add_node(const Uuid& id, const NodeUpdate& update) {
        auto [entry, inserted] = nodes.try_emplace(id, update);
        if (!inserted) entry->second += NodeUpdate(update);
        deleted.erase(id);
    }
    void delete_node(const Uuid& id) {
        nodes.erase(id);
        edges.erase(id);
        for (auto& [source, targets] : edges) {
            if (targets.erase(id) != 0) deleted_edges[source].insert(id);
        }
        deleted.insert(id);
    }
    bool add_edge(const Uuid& from, const Uuid& to, float weight) {
        if (deleted.count(from) != 0 || deleted.count(to) != 0) return false;
        auto gone = deleted_edges.find(from);
        if (gone != deleted_edges.end()) {
            gone->second.erase(to);
            if (gone->second.empty()) deleted_edges.erase(gone);
        }
        edges[from][to] = weight;
        return true;
    }
    void delete_edge(const Uuid& from, const Uuid& to) {
        deleted_edges[from].insert(to);
        auto found = edges.find(from);
        if (found == edges.end()) return;
        found->second.erase(to);
        if (found->second.empty()) edges.erase(found);
    }
    void clear() { *this = Model(); }

    // The module's diff holding exactly this, taken as it is.
    UuidGraphDiff diff() const {
        UuidGraphDiff::NodeMap node_map;
        for (const auto& [id, update] : nodes) node_map.try_emplace(id, update);
        UuidGraphDiff::NodeSet node_set;
        for (const auto& id : deleted) node_set.insert(id);
        tovra::UuidEdgeDiff held;
        for (const auto& [source, targets] : edges) {
            auto& into = held.new_or_updated_edges[source];
            for (const auto& [target, weight] : targets) into.try_emplace(target, weight);
        }
        for (const auto& [source, targets] : deleted_edges) {
            auto& into = held.deleted_edges[source];
            for (const auto& target : targets) into.insert(target);
        }
        return UuidGraphDiff(std::move(node_map), std::move(node_set), std::move(held));
    }
};

// Content that no sequence of operations makes, but bytes can carry: a
// deleted node that still has pending edges in and out and an update, and
// an empty set of deleted targets.
void break_the_rules(Model& model, std::mt19937& rng, unsigned pool) {
    const Uuid a = node(rng() % pool);
    const Uuid b = node(rng() % pool);
    model.deleted.insert(a);
    model.nodes[a] = random_update(rng);
    model.edges[b][a] = 1.0f;
    model.edges[a][b] = 2.0f;
    model.deleted_edges[node(rng() % pool)];
}

// What a diff and its model must agree on after every step.
bool agree(const UuidGraphDiff& diff, const Model& model) {
    return same_content(diff, model.diff()) && diff.node_count() == model.nodes.size() + model.deleted.size() &&
           diff.edge_count() == model.edges.size() + model.deleted_edges.size();
}

UuidGraphDiff round_trip(const UuidGraphDiff& diff) {
    auto decoded = tovra::bytes_to_graph_diff(bytes_of(diff).value());
    return std::move(decoded).value();
}

void carried_by_json(Model& model) {
    for (auto& [id, update] : model.nodes) update = as_carried_by_json(update);
}

}  // namespace

TEST_CASE("delete_node: found through its index, the same as a scan of every source") {
    std::mt19937 rng(18);
    int indexed_steps = 0;
    int indexed_after_decoding = 0;
    int dropped = 0;         // by a change of the pending map's hash
    int on_strong_hash = 0;  // steps with the index built over a map on its strong hash
    int hubs = 0;            // steps with the index built and a target of over 32 sources
    for (int round = 0; round < 60; ++round) {
        // Every fourth round, ids that all share their primary hash: the
        // index's references to sources all agree until the map of pending
        // edges leaves that hash. Every fifth, three targets, so that each
        // has many sources.
        const bool colliding = round % 4 == 3;
        const unsigned pool = colliding ? 400 : 2 + rng() % (round % 3 == 0 ? 8 : 120);
        const unsigned targets = round % 5 == 4 ? 3 : pool;
        const auto id = [&](unsigned n) { return colliding ? colliding_id(n, 7) : node(n); };
        UuidGraphDiff diff;
        Model model;
        bool decoded = false;
        for (int step = 0; step < (colliding ? 700 : 400); ++step) {
            const Uuid a = id(rng() % pool);
            const Uuid b = id(rng() % targets);
            const bool was_indexed = diff.indexes_sources_by_target();
            const unsigned roll = rng() % 100;
            if (roll < 40) {
                const float weight = random_float(rng);
                CHECK_EQ(diff.add_edge(a, b, weight).ok(), model.add_edge(a, b, weight));
            } else if (roll < 60) {
                diff.delete_node(a);
                model.delete_node(a);
            } else if (roll < 75) {
                diff.delete_edge(a, b);
                model.delete_edge(a, b);
            } else if (roll < 90) {
                const NodeUpdate update = random_update(rng);
                diff.add_or_update_node(a, update);
                model.add_node(a, update);
            } else if (roll < 95) {
                // Decoded: whatever index there was is not carried over, and
                // it pays again only after a run of delete_node calls, so the
                // rounds that are there for the index (colliding ids, hubs)
                // decode one time in four.
                if ((colliding || targets == 3) && rng() % 4 != 0) continue;
                if (rng() % 3 == 0) break_the_rules(model, rng, pool);
                carried_by_json(model);
                diff = round_trip(model.diff());
                decoded = true;
            } else if (roll < 96 && !colliding) {
                diff.clear();
                model.clear();
            }
            // Colliding ids make each comparison slow: every fourth step.
            if ((!colliding || step % 4 == 0) && !agree(diff, model)) {
                core_test::report(__FILE__, __LINE__,
                                  "round " + std::to_string(round) + ", step " + std::to_string(step));
                break;
            }
            const bool indexed = diff.indexes_sources_by_target();
            indexed_steps += indexed;
            indexed_after_decoding += decoded && indexed;
            dropped += roll < 40 && was_indexed && !indexed;
            on_strong_hash += indexed && TableInspector::strong_hash_in_use(diff.edges().new_or_updated_edges);
            if (indexed && targets == 3) {
                std::map<Uuid, int> sources;
                for (const auto& [source, into] : model.edges) {
                    for (const auto& entry : into) ++sources[entry.first];
                }
                hubs += std::any_of(sources.begin(), sources.end(), [](const auto& s) { return s.second > 32; });
            }
        }
        // The bytes carry the same content, whichever way it was reached.
        carried_by_json(model);
        CHECK(same_content(round_trip(diff), model.diff()));
    }
    // Both paths ran: the index was built, also on decoded diffs.
    CHECK(indexed_steps > 1000);
    CHECK(indexed_after_decoding > 100);
    CHECK(dropped > 0);
    CHECK(on_strong_hash > 100);
    CHECK(hubs > 100);
}

namespace {

// The standard library's node-based tables, looked up by plain id.
struct StdIdHash {
    std::size_t operator()(const Uuid& id) const noexcept { return static_cast<std::size_t>(UuidHash{}.primary(id)); }
};
struct StdTables : tovra::SourceIdRefs<Uuid> {
    using Key = Uuid;
    static const Uuid& key(const Uuid& id) noexcept { return id; }
    template <class Value>
    using Map = std::unordered_map<Uuid, Value, StdIdHash>;
    using Set = std::unordered_set<Uuid, StdIdHash>;
    template <class Value>
    using InnerMap = Map<Value>;
    using InnerSet = Set;
    using SourceRefs = Set;
};
using StdGraphDiff = GraphDiff<Uuid, NodeUpdate, float, StdTables>;

// Both diffs' content, as the model holds it.
template <class Diff>
Model content(const Diff& diff) {
    Model model;
    for (const auto& [id, update] : diff.new_or_updated_nodes()) model.nodes.emplace(id, update);
    for (const auto& id : diff.deleted_nodes()) model.deleted.insert(id);
    for (const auto& [source, targets] : diff.edges().new_or_updated_edges) {
        auto& into = model.edges[source];
        for (const auto& [target, weight] : targets) into.emplace(target, weight);
    }
    for (const auto& [source, targets] : diff.edges().deleted_edges) {
        auto& into = model.deleted_edges[source];
        for (const auto& target : targets) into.insert(target);
    }
    return model;
}

}  // namespace

TEST_CASE("graph diff: the same rules over other tables give the same content") {
    std::mt19937 rng(1818);
    for (int round = 0; round < 40; ++round) {
        const unsigned pool = 2 + rng() % 60;
        UuidGraphDiff flat;
        StdGraphDiff other;
        for (int step = 0; step < 300; ++step) {
            const Uuid a = node(rng() % pool);
            const Uuid b = node(rng() % pool);
            switch (rng() % 6) {
                case 0: {
                    const NodeUpdate update = random_update(rng);
                    flat.add_or_update_node(a, update);
                    other.add_or_update_node(a, update);
                    break;
                }
                case 1:
                    flat.delete_node(a);
                    other.delete_node(a);
                    break;
                case 2:
                    flat.delete_edge(a, b);
                    other.delete_edge(a, b);
                    break;
                default: {
                    const float weight = random_float(rng);
                    CHECK_EQ(flat.add_edge(a, b, weight).ok(), other.add_edge(a, b, weight).ok());
                }
            }
        }
        CHECK(same_content(flat, content(other).diff()));
        CHECK_EQ(flat.node_count(), other.node_count());
        CHECK_EQ(flat.edge_count(), other.edge_count());
        CHECK_EQ(flat.indexes_sources_by_target(), other.indexes_sources_by_target());
    }
}

namespace core_test {
extern std::size_t allocations_until_failure;  // see test_graph_diff_codec.cpp
}

namespace {

// Whether the n-th allocation from now can be made to fail in this build.
bool can_fail_allocations() {
    core_test::allocations_until_failure = 1;
    try {
        delete new int(0);
    } catch (const std::bad_alloc&) {
        return true;
    }
    core_test::allocations_until_failure = 0;
    return false;
}

// Runs `operation` on `diff` with its first allocation failing, then its
// second, and so on until it completes; returns whether every failed
// attempt left the diff as it was.
template <class Operation>
bool all_or_nothing(UuidGraphDiff& diff, Operation&& operation) {
    for (std::size_t failing = 1;; ++failing) {
        const UuidGraphDiff before = diff;
        core_test::allocations_until_failure = failing;
        try {
            operation(diff);
            core_test::allocations_until_failure = 0;
            return true;
        } catch (const std::bad_alloc&) {
            core_test::allocations_until_failure = 0;
            if (!same_content(diff, before) || diff.edge_count() != before.edge_count()) return false;
        }
    }
}

}  // namespace

TEST_CASE("graph diff: an allocation failure leaves the diff as it was, and the index exact") {
    if (!can_fail_allocations()) {
        core_test::skipped("allocation failures in the rules (a sanitizer build brings its own allocator)");
        return;
    }
    std::mt19937 rng(1818);
    for (int round = 0; round < 20; ++round) {
        const unsigned pool = 4 + rng() % 40;
        UuidGraphDiff diff;
        Model model;
        for (int step = 0; step < 300; ++step) {
            const Uuid a = node(rng() % pool);
            const Uuid b = node(rng() % pool);
            const unsigned roll = rng() % 10;
            if (roll < 5) {
                CHECK(all_or_nothing(diff, [&](UuidGraphDiff& d) { (void)d.add_edge(a, b, 1.0f); }));
                model.add_edge(a, b, 1.0f);
            } else if (roll < 7) {
                CHECK(all_or_nothing(diff, [&](UuidGraphDiff& d) { d.delete_edge(a, b); }));
                model.delete_edge(a, b);
            } else if (roll < 8) {
                CHECK(all_or_nothing(diff, [&](UuidGraphDiff& d) { d.add_or_update_node(a, NodeUpdate{}); }));
                model.add_node(a, NodeUpdate{});
            } else {
                // Not all or nothing: a failure part way through leaves some
                // edges into the node recorded as deleted. Asked again, it
                // completes, with the index rebuilt or still exact.
                for (std::size_t failing = 1 + rng() % 4;; failing = 0) {
                    core_test::allocations_until_failure = failing;
                    try {
                        diff.delete_node(a);
                        core_test::allocations_until_failure = 0;
                        break;
                    } catch (const std::bad_alloc&) {
                        core_test::allocations_until_failure = 0;
                    }
                }
                model.delete_node(a);
            }
            if (!agree(diff, model)) {
                core_test::report(__FILE__, __LINE__,
                                  "round " + std::to_string(round) + ", step " + std::to_string(step));
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Keys chosen to collide, through the rules

namespace {

using tovra::bytes_to_graph_diff;

Uuid random_id(std::mt19937_64& rng) { return id_from_words(rng(), rng()); }

TEST_CASE("graph diff: ids crafted to collide in the primary hash, through a whole diff and its bytes") {
    std::vector<Uuid> ids;
    for (std::uint64_t i = 0; i < 2000; ++i) ids.push_back(colliding_id(i * 0x9e3779b97f4a7c15ULL, 42));
    UuidGraphDiff diff;
    NodeUpdate update;
    update.label = "n";
    for (std::size_t i = 0; i < 2000; ++i) {
        diff.add_or_update_node(ids[i], update);
        CHECK(diff.add_edge(ids[i], ids[(i + 1) % 2000], 1.0f).ok());
        CHECK(diff.add_edge(ids[0], ids[i], 2.0f).ok());
    }
    CHECK_DIFF_SOUND(diff);
    for (std::size_t i = 0; i < 2000; i += 3) diff.delete_node(ids[i]);
    CHECK_DIFF_SOUND(diff);
    CHECK(TableInspector::strong_hash_in_use(diff.new_or_updated_nodes()));
    CHECK(TableInspector::strong_hash_in_use(diff.edges().new_or_updated_edges));
    auto bytes = test_support::bytes_of(diff);
    CHECK(bytes.ok());
    if (!bytes) return;
    auto decoded = bytes_to_graph_diff(std::span<const std::uint8_t>(bytes.value()));
    CHECK(decoded.ok());
    if (!decoded) return;
    CHECK_DIFF_SOUND(decoded.value());
    CHECK(decoded.value().deleted_nodes() == diff.deleted_nodes());
    CHECK(decoded.value().edges().new_or_updated_edges == diff.edges().new_or_updated_edges);
    CHECK(decoded.value().edges().deleted_edges == diff.edges().deleted_edges);
    CHECK_EQ(decoded.value().node_count(), diff.node_count());
}

TEST_CASE("graph diff: delete_node reaches sources kept in the overflow") {
    // Every source has a pending edge into `target`; many sources sit in the
    // overflow of the source table, which delete_node must walk as well.
    const std::vector<Uuid> sources = ids_colliding_in_both_hashes(300);
    std::mt19937_64 rng(5);
    const Uuid target = random_id(rng);
    const Uuid other = random_id(rng);
    UuidGraphDiff diff;
    for (const Uuid& source : sources) {
        CHECK(diff.add_edge(source, target, 1.0f).ok());
        CHECK(diff.add_edge(source, other, 2.0f).ok());
    }
    CHECK(TableInspector::overflow_size(diff.edges().new_or_updated_edges) > 0);
    diff.delete_node(target);
    CHECK_DIFF_SOUND(diff);
    std::size_t recorded = 0;
    std::size_t kept = 0;
    for (const Uuid& source : sources) {
        const auto deleted = diff.edges().deleted_edges.find(source);
        recorded += deleted != diff.edges().deleted_edges.end() && deleted->second.size() == 1 &&
                    deleted->second.count(target) == 1;
        const auto pending = diff.edges().new_or_updated_edges.find(source);
        kept += pending->second.size() == 1 && pending->second.count(other) == 1;
    }
    CHECK_EQ(recorded, sources.size());
    CHECK_EQ(kept, sources.size());
}

TEST_CASE("graph diff: the index of incoming edges finds sources kept in the overflow") {
    // Sources colliding in both hashes, two random targets each of sixteen:
    // a few deletions build the index, which must then find sources in the
    // overflow from their hashes, for delete_node and delete_edge alike.
    const std::vector<Uuid> sources = ids_colliding_in_both_hashes(300);
    std::mt19937_64 rng(23);
    std::vector<Uuid> targets;
    for (int i = 0; i < 16; ++i) targets.push_back(random_id(rng));
    UuidGraphDiff diff;
    // Every target is deleted in the end: each edge ends as a recorded deletion.
    std::map<Uuid, std::set<Uuid>> deleted;
    for (const Uuid& source : sources) {
        for (int k = 0; k < 2; ++k) {
            const Uuid& target = targets[rng() % targets.size()];
            CHECK(diff.add_edge(source, target, 1.0f).ok());
            deleted[source].insert(target);
        }
    }
    CHECK(TableInspector::overflow_size(diff.edges().new_or_updated_edges) > 0);
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const Uuid& source = sources[rng() % sources.size()];
        const Uuid& target = targets[rng() % targets.size()];
        diff.delete_edge(source, target);
        deleted[source].insert(target);
        diff.delete_node(targets[i]);
        CHECK_DIFF_SOUND(diff);
    }
    CHECK(diff.indexes_sources_by_target());
    std::size_t wrong = 0;
    for (const auto& [source, into] : deleted) {
        const auto pending = diff.edges().new_or_updated_edges.find(source);
        const auto held = diff.edges().deleted_edges.find(source);
        wrong += pending != diff.edges().new_or_updated_edges.end() && !pending->second.empty();
        wrong += held == diff.edges().deleted_edges.end() ||
                 std::set<Uuid>(held->second.begin(), held->second.end()) != into;
    }
    CHECK_EQ(wrong, std::size_t{0});
}

}  // namespace
