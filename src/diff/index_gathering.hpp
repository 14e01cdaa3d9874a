// Building the index of sources by target (sources_by_target.hpp) in one
// pass over the pending edges, for tables whose index keeps its sources in
// RefBags (hash_containers.hpp).
//
// Inserting edge by edge costs a random probe of the index per edge, and a
// target's array of sources is allocated and regrown as its sources come
// (2, 4, 8, ...): about 220 ns per edge at 1e6 edges. Instead:
//
//   1. gather: one walk of the pending map writes each edge as (the target's
//      hash, the source's reference, the target) into one array sized from
//      the edges counted first;
//   2. sort that array by the target's hash (a stable pass of a radix sort
//      on its top bits into buckets, one more within each bucket, which fits
//      the cache, then the few edges whose top bits agree by the whole hash
//      and the id), so that a target's edges are together, in the order of
//      the walk, and the targets in the order of their home slots in the
//      index;
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

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "tables/ref_bag.hpp"

namespace tovra::index_gathering {

// One pending edge as gathered: the target kept as bytes, so that the arrays
// need no construction.
template <class Id>
struct Edge {
    std::uint64_t hash;  // the target's primary hash
    std::uint64_t ref;   // the source, as the index refers to it
    unsigned char target[sizeof(Id)];

    Id id() const noexcept {
        Id id;
        std::memcpy(static_cast<void*>(&id), target, sizeof(Id));
        return id;
    }
};

// `count` objects of a trivial type, uninitialised, from the heap.
template <class T>
class Scratch {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);

public:
    Scratch() noexcept = default;
    explicit Scratch(std::size_t count)
        : at_(count == 0 ? nullptr : static_cast<T*>(::operator new(count * sizeof(T)))), count_(count) {}
    Scratch(Scratch&& other) noexcept
        : at_(std::exchange(other.at_, nullptr)), count_(std::exchange(other.count_, 0)) {}
    Scratch& operator=(Scratch&& other) noexcept {
        Scratch taken(std::move(other));
        std::swap(at_, taken.at_);
        std::swap(count_, taken.count_);
        return *this;
    }
    ~Scratch() {
        ::operator delete(at_);
    }
    T* get() const noexcept { return at_; }
    T& operator[](std::size_t i) const noexcept { return at_[i]; }

private:
    T* at_ = nullptr;
    std::size_t count_ = 0;
};

// The radix passes: the top `high_bits` of the hash into buckets, then the
// next `low_bits` within each.
inline constexpr unsigned high_bits = 11;
inline constexpr unsigned low_bits = 8;
inline std::size_t high_digit(std::uint64_t hash) noexcept { return static_cast<std::size_t>(hash >> (64 - high_bits)); }
inline std::size_t low_digit(std::uint64_t hash) noexcept {
    return static_cast<std::size_t>(hash >> (64 - high_bits - low_bits)) & ((std::size_t{1} << low_bits) - 1);
}

// Stable: `from[0, n)` into `to` by `digit_of`, whose counts are `counts`
// (left as the ends of the buckets).
template <class E, class Digit, std::size_t Values>
void scatter(const E* from, E* to, std::size_t n, Digit&& digit_of, std::array<std::size_t, Values>& counts) {
    std::size_t at = 0;
    for (std::size_t& count : counts) at += std::exchange(count, at);
    for (std::size_t i = 0; i < n; ++i) to[counts[digit_of(from[i].hash)]++] = from[i];
}

// Orders edges whose top bits agree by the whole hash, then the id's bytes,
// keeping the walk's order among equals.
template <class E>
void finish(E* edges, std::size_t n) {
    const auto before = [](const E& a, const E& b) {
        if (a.hash != b.hash) return a.hash < b.hash;
        return std::memcmp(a.target, b.target, sizeof(a.target)) < 0;
    };
    constexpr std::uint64_t top = ~std::uint64_t{0} << (64 - high_bits - low_bits);
    for (std::size_t start = 0; start < n;) {
        std::size_t end = start + 1;
        while (end < n && ((edges[end].hash ^ edges[start].hash) & top) == 0) ++end;
        if (end - start > 16) {
            std::stable_sort(edges + start, edges + end, before);
        } else {
            for (std::size_t i = start + 1; i < end; ++i) {
                const E moving = edges[i];
                std::size_t j = i;
                for (; j > start && before(moving, edges[j - 1]); --j) edges[j] = edges[j - 1];
                edges[j] = moving;
            }
        }
        start = end;
    }
}

// Builds into `index` (empty) and `block` the index of the sources in
// `pending` by target. If this throws, `index` and `block` may hold part of
// it: the caller discards both.
template <class Tables, class Pending, class Index>
void gather(const Pending& pending, Index& index, Scratch<std::uint64_t>& block) {
    using Id = std::remove_cvref_t<decltype(pending.begin()->first)>;
    static_assert(std::is_trivially_copyable_v<Id>, "gathered targets are copied as bytes");
    using E = Edge<Id>;
    const auto target_of = [](const auto& entry) -> const Id& {
        if constexpr (requires { entry.first; }) {
            return entry.first;
        } else {
            return entry;
        }
    };

    std::size_t n = 0;
    for (const auto& source : pending) n += source.second.size();
    if (n == 0) return;
    Scratch<E> edges(n);
    Scratch<E> spare(n);
    std::array<std::size_t, std::size_t{1} << high_bits> buckets{};

    std::size_t at = 0;
    pending.for_each_with_inner([&](const auto& source) {
        const std::uint64_t ref = Tables::source_ref(pending, Tables::key(source.first));
        for (const auto& entry : source.second) {
            const Id& target = target_of(entry);
            E& edge = edges[at++];
            edge.hash = Tables::key(target).primary;
            edge.ref = ref;
            std::memcpy(edge.target, static_cast<const void*>(&target), sizeof(Id));
            ++buckets[high_digit(edge.hash)];
        }
    });

    const auto high = [](std::uint64_t hash) { return high_digit(hash); };
    const auto low = [](std::uint64_t hash) { return low_digit(hash); };
    scatter(edges.get(), spare.get(), n, high, buckets);
    for (std::size_t b = 0, start = 0; b < buckets.size(); start = buckets[b++]) {
        std::array<std::size_t, std::size_t{1} << low_bits> counts{};
        for (std::size_t i = start; i < buckets[b]; ++i) ++counts[low_digit(spare[i].hash)];
        scatter(spare.get() + start, edges.get() + start, buckets[b] - start, low, counts);
    }
    spare = Scratch<E>();
    finish(edges.get(), n);

    // The runs of one target each: how many, and the block's words.
    const auto same_target = [](const E& a, const E& b) {
        return a.hash == b.hash && std::memcmp(a.target, b.target, sizeof(a.target)) == 0;
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
        index.try_emplace(typename Tables::Key{target, edges[start].hash}, std::move(bag));
    }
}

}  // namespace tovra::index_gathering
