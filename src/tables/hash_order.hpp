// Records put in the order of their keys' home slots, for a caller that
// fills a table from many keys at once: a key's home is the top bits of its
// hash (flat_table_core.hpp), so inserting in hash order probes each slot
// next to the last instead of one at random per key.
//
// A record has `hash`, its key's hash as the table places it, and `key`,
// the key's bytes. The sort is stable: records of one key keep their order.
// A pass of a radix sort on the hash's top bits into buckets, one more
// within each bucket (which fits the cache), then the few records whose
// top bits agree ordered by the whole hash and the key's bytes.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "common/scratch.hpp"

namespace tovra::hash_order {

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

// Orders records whose top bits agree by the whole hash, then the key's bytes,
// keeping the walk's order among equals.
template <class E>
void finish(E* records, std::size_t n) {
    const auto before = [](const E& a, const E& b) {
        if (a.hash != b.hash) return a.hash < b.hash;
        return std::memcmp(a.key, b.key, sizeof(a.key)) < 0;
    };
    constexpr std::uint64_t top = ~std::uint64_t{0} << (64 - high_bits - low_bits);
    for (std::size_t start = 0; start < n;) {
        std::size_t end = start + 1;
        while (end < n && ((records[end].hash ^ records[start].hash) & top) == 0) ++end;
        if (end - start > 16) {
            std::stable_sort(records + start, records + end, before);
        } else {
            for (std::size_t i = start + 1; i < end; ++i) {
                const E moving = records[i];
                std::size_t j = i;
                for (; j > start && before(moving, records[j - 1]); --j) records[j] = records[j - 1];
                records[j] = moving;
            }
        }
        start = end;
    }
}

// Sorts `records[0, n)` as the top of this file says.
template <class E>
void sort(E* records, std::size_t n) {
    Scratch<E> spare(n);
    std::array<std::size_t, std::size_t{1} << high_bits> buckets{};
    for (std::size_t i = 0; i < n; ++i) ++buckets[high_digit(records[i].hash)];
    const auto high = [](std::uint64_t hash) { return high_digit(hash); };
    const auto low = [](std::uint64_t hash) { return low_digit(hash); };
    scatter(records, spare.get(), n, high, buckets);
    for (std::size_t b = 0, start = 0; b < buckets.size(); start = buckets[b++]) {
        std::array<std::size_t, std::size_t{1} << low_bits> counts{};
        for (std::size_t i = start; i < buckets[b]; ++i) ++counts[low_digit(spare[i].hash)];
        scatter(spare.get() + start, records + start, buckets[b] - start, low, counts);
    }
    spare = Scratch<E>();
    finish(records, n);
}

}  // namespace tovra::hash_order
