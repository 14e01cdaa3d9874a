// Building the index of sources by target (sources_by_target.hpp) in one
// pass over the pending edges, for tables whose index keeps its sources in
// RefBags (tables/ref_bag.hpp).
//
// Inserting edge by edge costs a random probe of the index per edge, and a
// target's array of sources is allocated and regrown as its sources come
// (2, 4, 8, ...): about 220 ns per edge at 1e6 edges. Instead:
//
//   1. gather: one walk of the pending map writes each edge as (the target's
//      hash, the source's reference, the target) into one array sized from
//      the edges counted first;
//   2. sort that array into the order of the targets' home slots in the
//      index (tables/hash_order.hpp), so that a target's edges are
//      together, in the order of the walk;
//   3. lay out: the index is reserved once for the targets counted, every
//      array of sources is laid in one block sized from the same count, and
//      the targets are inserted in the order of their homes, each probe
//      next to the last.
//
// The arrays of edges and the block come from the general heap: in a
// process that has built and freed tables it holds memory already, where
// freshly mapped huge pages (the tables' own large blocks) made the build
// of a diff of 1e6 edges in a Python process here take 300 to 860 ms
// against 170 to 250.
//
// The order of a target's sources is the walk's, as inserting edge by edge
// gave. The index's own slot order is a function of its keys and of the
// order they are inserted in, itself a function of the hashes and ids.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "common/scratch.hpp"
#include "tables/tables.hpp"

namespace tovra::index_gathering {

// One pending edge as gathered: the target kept as bytes, so that the arrays
// need no construction.
template <class Id>
struct Edge {
    std::uint64_t hash;  // the target's primary hash
    std::uint64_t ref;   // the source, as the index refers to it
    unsigned char key[sizeof(Id)];  // the target

    Id id() const noexcept {
        Id id;
        std::memcpy(static_cast<void*>(&id), key, sizeof(Id));
        return id;
    }
};

// Builds into `index` (empty) and `block` the index of the sources in
// `pending` by target. If this throws, `index` and `block` may hold part of
// it: the caller discards both.
template <class Tables, class Pending, class Index>
void gather(const Pending& pending, Index& index, Scratch<std::uint64_t>& block) {
    using Id = std::remove_cvref_t<decltype(pending.begin()->first)>;
    static_assert(std::is_trivially_copyable_v<Id>, "gathered targets are copied as bytes");
    using E = Edge<Id>;

    std::size_t n = 0;
    for (const auto& source : pending) n += source.second.size();
    if (n == 0) return;
    Scratch<E> edges(n);

    std::size_t at = 0;
    pending.for_each_with_inner([&](const auto& source) {
        const std::uint64_t ref = Tables::source_ref(pending, Tables::key(source.first));
        for (const auto& entry : source.second) {
            const Id& target = key_of(entry);
            E& edge = edges[at++];
            edge.hash = index.hash_of(Tables::key(target));
            edge.ref = ref;
            std::memcpy(edge.key, static_cast<const void*>(&target), sizeof(Id));
        }
    });

    hash_order::sort(edges.get(), n);

    // The runs of one target each: how many, and the block's words.
    const auto same_target = [](const E& a, const E& b) {
        return a.hash == b.hash && std::memcmp(a.key, b.key, sizeof(a.key)) == 0;
    };
    std::size_t targets = 0;
    std::size_t words = 0;
    for (std::size_t start = 0, end = 0; start < n; start = end) {
        for (end = start + 1; end < n && same_target(edges[end], edges[start]);) ++end;
        ++targets;
        words += RefBag::block_words(end - start);
    }

    block = Scratch<std::uint64_t>(words);
    index.reserve(targets);
    std::uint64_t* free_words = block.get();
    for (std::size_t start = 0, end = 0; start < n; start = end) {
        for (end = start + 1; end < n && same_target(edges[end], edges[start]);) ++end;
        const std::size_t count = end - start;
        RefBag bag = RefBag::gathered(count, [&](std::size_t i) { return edges[start + i].ref; }, free_words);
        free_words += RefBag::block_words(count);
        const Id target = edges[start].id();
        index.try_emplace(Tables::key(target), std::move(bag));
    }
}

}  // namespace tovra::index_gathering
