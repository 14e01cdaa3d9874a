// delete_node's index of sources by target: when it is built (the cost
// model's arithmetic), what the one-pass build lays out, and the parts of
// the scan before it (a small table's summary of its keys, the walk that
// visits only the sources that may hold the node).
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "check.hpp"
#include "test_support.hpp"

using namespace test_support;
using tovra::IndexCost;
using tovra::InlineFirst;
using tovra::RefBag;
using tovra::UuidHash;
using tovra::UuidTables;

namespace {

Uuid random_id(std::mt19937_64& rng) { return id_from_words(rng(), rng()); }

// The number of delete_node calls that scan before one builds the index,
// on a diff whose pending edges none of the calls touch: `sources` sources
// with `per_source` targets each. Worked out in closed form from the
// constants, as the model states it: call j (from 0) scans, having spent j
// scans, while j scans, its own and half of the next cost no more than the
// build.
std::uint64_t scans_before_build(std::uint64_t sources, std::uint64_t per_source) {
    const std::uint64_t edges = sources * per_source;
    const std::uint64_t scan = IndexCost::scan(sources, edges);
    const std::uint64_t build = IndexCost::build(sources, edges);
    const std::uint64_t ahead = scan + scan / 2;
    return build < ahead ? 0 : (build - ahead) / scan + 1;
}

// Calls of delete_node, on ids absent from the diff, until the index exists.
std::uint64_t scans_observed(std::uint64_t sources, std::uint64_t per_source) {
    UuidGraphDiff diff;
    for (std::uint64_t s = 0; s < sources; ++s) {
        for (std::uint64_t t = 0; t < per_source; ++t) {
            CHECK(diff.add_edge(id_from_words(s, 1), id_from_words(s * per_source + t, 2), 1.0f).ok());
        }
    }
    std::uint64_t calls = 0;
    while (!diff.indexes_sources_by_target() && calls < 100000) diff.delete_node(id_from_words(calls++, 3));
    return calls - 1;  // the last call built it
}

// For a source in `pending`: what the index refers to it by.
template <class Pending>
std::uint64_t ref_of(const Pending& pending, const Uuid& source) {
    return UuidTables::source_ref(pending, UuidTables::key(source));
}

}  // namespace

TEST_CASE("index of sources: built after as many scans as the cost model says, small and large") {
    // Small and large diffs, one target per source and eight: the scans
    // counted, and the ski-rental bracket the rule keeps.
    const std::uint64_t cases[][2] = {{40, 1}, {40, 8}, {20000, 1}, {20000, 8}};
    for (const auto& [sources, per_source] : cases) {
        const std::uint64_t expected = scans_before_build(sources, per_source);
        CHECK_EQ(scans_observed(sources, per_source), expected);
        // What the model's rule is for: priced at the true cost of a scan,
        // the calls up to and including the build cost at most twice the
        // cheaper fixed choice for as many calls (scanning each time, or
        // building at the first).
        const std::uint64_t edges = sources * per_source;
        const std::uint64_t scan = IndexCost::scan(sources, edges);
        const std::uint64_t build = IndexCost::build(sources, edges);
        const std::uint64_t online = expected * scan + build;
        CHECK(online <= 2 * std::min((expected + 1) * scan, build));
        CHECK(expected >= 1);
    }
    // More edges per source make building dearer against a scan: more scans.
    CHECK(scans_before_build(20000, 8) > scans_before_build(20000, 1));
    // A decoded diff counts its edges with a walk at its first delete_node,
    // spent as a scan is: the build comes no later than on the diff it
    // was encoded from.
    UuidGraphDiff made;
    for (std::uint64_t s = 0; s < 3000; ++s) CHECK(made.add_edge(id_from_words(s, 1), id_from_words(s, 2), 1.0f).ok());
    UuidGraphDiff decoded = tovra::bytes_to_graph_diff(bytes_of(made).value()).value();
    std::uint64_t made_calls = 0;
    std::uint64_t decoded_calls = 0;
    while (!made.indexes_sources_by_target()) made.delete_node(id_from_words(made_calls++, 3));
    while (!decoded.indexes_sources_by_target()) decoded.delete_node(id_from_words(decoded_calls++, 3));
    CHECK_EQ(made_calls, scans_before_build(3000, 1) + 1);
    CHECK(decoded_calls <= made_calls && decoded_calls + 1 >= made_calls);
}

TEST_CASE("index of sources: the one-pass build holds each target's sources in the order of the walk") {
    std::mt19937 rng(25);
    for (int round = 0; round < 12; ++round) {
        // Random ids; ids that all share their primary hash (targets then
        // tie on the sort's key, sources share their reference); and few
        // targets, so that some have more than 32 sources.
        const bool colliding = round % 3 == 1;
        const unsigned pool = round % 3 == 2 ? 300 : 2 + rng() % 400;
        const unsigned targets = round % 3 == 2 ? 4 : pool;
        const auto id = [&](unsigned n) { return colliding ? colliding_id(n, 11) : node(n) ; };
        UuidGraphDiff::Edges held;
        auto& pending = held.new_or_updated_edges;
        for (int e = 0; e < 1500; ++e) {
            pending[id(rng() % pool)].insert_or_assign(id(rng() % targets), 1.0f);
        }
        // The oracle: each target's references in the walk's order, a
        // repeat kept once.
        std::map<Uuid, std::vector<std::uint64_t>> expected;
        for (const auto& [source, into] : pending) {
            const std::uint64_t ref = ref_of(pending, source);
            for (const auto& entry : into) {
                auto& refs = expected[entry.first];
                if (std::find(refs.begin(), refs.end(), ref) == refs.end()) refs.push_back(ref);
            }
        }
        UuidTables::Map<RefBag> index;
        tovra::Scratch<std::uint64_t> block;
        tovra::index_gathering::gather<UuidTables>(pending, index, block);
        CHECK_EQ(index.size(), expected.size());
        for (const auto& [target, refs] : expected) {
            const auto found = index.find(target);
            CHECK(found != index.end());
            if (found == index.end()) continue;
            std::vector<std::uint64_t> got;
            found->second.for_each([&](std::uint64_t ref) { got.push_back(ref); });
            // A bag past 32 is a table, in the table's order: same set there.
            if (refs.size() > 32) {
                std::sort(got.begin(), got.end());
                std::vector<std::uint64_t> sorted = refs;
                std::sort(sorted.begin(), sorted.end());
                CHECK(got == sorted);
            } else {
                CHECK(got == refs);
            }
        }
    }
}

TEST_CASE("index of sources: a source's summary of targets never hides one it holds") {
    // Through every way a target gets into the table: one at a time, the
    // entry held in place spilling into it, operator[], a run filled
    // straight into the table, copies and moves; and erasures, which leave
    // the summary's bits set.
    std::mt19937_64 rng(2525);
    using Targets = InlineFirst<tovra::FlatMap<Uuid, float, UuidHash>>;
    std::size_t absent_asked = 0;
    std::size_t absent_refused = 0;
    for (int round = 0; round < 200; ++round) {
        Targets targets;
        std::set<Uuid> model;
        const unsigned count = 1 + rng() % 14;
        for (unsigned i = 0; i < count; ++i) {
            const Uuid id = random_id(rng);
            switch (rng() % 3) {
                case 0: targets.try_emplace(id, 1.0f); break;
                case 1: targets.insert_or_assign(UuidTables::key(id), 2.0f); break;
                default: targets[id] = 3.0f; break;
            }
            model.insert(id);
        }
        if (round % 4 == 0) {
            std::vector<Uuid> more;
            for (int i = 0; i < 5; ++i) more.push_back(random_id(rng));
            targets.with_room(targets.size() + more.size(), [&](auto& into) {
                for (const Uuid& id : more) into.try_emplace(id, 4.0f);
            });
            model.insert(more.begin(), more.end());
        }
        if (round % 5 == 1 && !model.empty()) {
            CHECK_EQ(targets.erase(*model.begin()), std::size_t{1});
            model.erase(model.begin());
        }
        const Targets copied = targets;
        Targets moved(std::move(targets));
        const Targets* both[] = {&copied, &moved};
        for (const Targets* each : both) {
            for (const Uuid& id : model) {
                CHECK(each->may_contain(UuidTables::key(id)));
                CHECK(each->contains(UuidTables::key(id)));
            }
            for (int i = 0; i < 20; ++i) {
                const Uuid absent = random_id(rng);
                CHECK(!each->contains(UuidTables::key(absent)));
                if (each->size() >= 2 && round % 4 != 0) {
                    ++absent_asked;
                    absent_refused += !each->may_contain(UuidTables::key(absent));
                }
            }
        }
    }
    // A summary of at most 14 keys in 32 bits turns away over a third of
    // absent keys; one that said "perhaps" to all would turn away none.
    CHECK(absent_refused * 3 > absent_asked);
}

TEST_CASE("index of sources: the scan visits, in iteration order, every source that holds the node") {
    std::mt19937 rng(250);
    for (int round = 0; round < 30; ++round) {
        const unsigned pool = 2 + rng() % 300;
        UuidGraphDiff::Edges held;
        auto& pending = held.new_or_updated_edges;
        for (unsigned e = 0; e < 4 * pool; ++e) pending[node(rng() % pool)].insert_or_assign(node(rng() % pool), 1.0f);
        for (unsigned target = 0; target < pool; target += 1 + rng() % 7) {
            const Uuid wanted = node(target);
            std::vector<Uuid> expected;
            for (const auto& [source, into] : pending) {
                if (into.contains(wanted)) expected.push_back(source);
            }
            std::vector<Uuid> visited;
            pending.for_each_inner_holding(UuidTables::key(wanted),
                                           [&](auto& source) { visited.push_back(source.first); });
            CHECK(visited == expected);
        }
    }
}
