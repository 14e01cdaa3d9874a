// Operations on one key in several tables at once, as a diff's rules need
// them (see graph_diff.hpp). Each table is an allocation of its own, so the
// probe of a key not seen lately is likely a cache miss in each: these
// operations ask every table that offers `prefetch(key)` to start loading
// what its probe reads first before probing the first, so that the misses
// overlap instead of queueing.
#pragma once

#include <utility>

namespace tovra {

template <class Table, class Key>
[[gnu::always_inline]] inline void prefetch(const Table& table, const Key& key) noexcept {
    if constexpr (requires { table.prefetch(key); }) table.prefetch(key);
}

// `into` gets `value` for a new key, `merge(held, value)` otherwise (the value
// untouched until then); then the key is erased from each of `from`.
template <class Key, class Map, class Value, class Merge, class... From>
void upsert_and_erase(Map& into, const Key& key, Value&& value, Merge&& merge, From&... from) {
    (prefetch(from, key), ...);
    auto [entry, inserted] = into.try_emplace(key, std::forward<Value>(value));
    if (!inserted) merge(entry->second, std::forward<Value>(value));
    (from.erase(key), ...);
}

// Inserts the key into `into`, then erases it from each of `from`: if the
// insertion throws, every table still holds what it held.
template <class Key, class Set, class... From>
void insert_and_erase(Set& into, const Key& key, From&... from) {
    prefetch(into, key);
    (prefetch(from, key), ...);
    into.insert(key);
    (from.erase(key), ...);
}

// Whether `set` holds `a` or `b`, with the caller's next probes for `a` started first.
template <class Key, class Set, class... Next>
bool holds_either(const Set& set, const Key& a, const Key& b, const Next&... next) {
    (prefetch(next, a), ...);
    return set.contains(a) || set.contains(b);
}

// Finds `key` in `outer`, with the caller's next probes for it started first.
template <class Key, class Outer, class... Also>
auto find_ahead_of(Outer& outer, const Key& key, const Also&... also) {
    (prefetch(also, key), ...);
    return outer.find(key);
}

// The inner table of `key` in `outer` (a map of tables), made empty if the
// key is new, with its probe for `inner_key` started.
template <class Key, class Outer>
auto& inner_table(Outer& outer, const Key& key, const Key& inner_key) {
    auto& inner = outer.try_emplace(key).first->second;
    prefetch(inner, inner_key);
    return inner;
}

// Finds `key` in `outer` (a map of tables), with the caller's next probes
// started: `key` in each of `also`, `inner_key` in the inner table found.
template <class Key, class Outer, class... Also>
auto find_with_inner(Outer& outer, const Key& key, const Key& inner_key, const Also&... also) {
    (prefetch(also, key), ...);
    prefetch(outer, key);
    auto found = outer.find(key);
    if (found != outer.end()) prefetch(found->second, inner_key);
    return found;
}

// Visits every entry of `outer` (a map of tables) with a visit that probes each
// inner table for `key`, fetched ahead where it can; it may change those, not `outer`.
template <class Key, class Outer, class Visit>
void for_each_probing_inner(Outer& outer, const Key& key, Visit&& visit) {
    if constexpr (requires { outer.for_each_probing_inner(key, visit); }) {
        outer.for_each_probing_inner(key, visit);
    } else {
        for (auto& entry : outer) visit(entry);
    }
}

}  // namespace tovra
