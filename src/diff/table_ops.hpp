// Operations on one key in several tables at once, as a diff's rules need
// them, written for any tables that take the key their `Tables` makes (see
// graph_diff.hpp).
//
// Each table is an allocation of its own, so the probe of a key not seen
// lately is likely a cache miss in each. A table may offer
// `prefetch(key)`, which starts loading what its probe for `key` reads
// first; these operations ask every table involved before probing the
// first, so that the misses overlap instead of queueing. A table that
// offers no prefetch is simply probed.
#pragma once

#include <utility>

namespace tovra {

template <class Table, class Key>
[[gnu::always_inline]] inline void prefetch(const Table& table, const Key& key) noexcept {
    if constexpr (requires { table.prefetch(key); }) table.prefetch(key);
}

// `into` gets `value` for the key if the key is new there, and `merge(held,
// value)` otherwise (the value is left untouched until then); then the key
// is erased from each of `from`.
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

// Whether `set` holds `a` or `b`, for a caller that probes each of `next`
// for `a` afterwards: those probes are started first.
template <class Key, class Set, class... Next>
bool holds_either(const Set& set, const Key& a, const Key& b, const Next&... next) {
    (prefetch(next, a), ...);
    return set.contains(a) || set.contains(b);
}

// Finds `key` in `outer`, starting first on the probes for `key` that the
// caller makes next in each of `also`.
template <class Key, class Outer, class... Also>
auto find_ahead_of(Outer& outer, const Key& key, const Also&... also) {
    (prefetch(also, key), ...);
    return outer.find(key);
}

// The inner table of `key` in `outer`, a map whose values are tables, made
// empty if the key is new, with its probe for `inner_key` started: the
// control bytes and the slot that probe reads first are fetched together
// instead of one after the other.
template <class Key, class Outer>
auto& inner_table(Outer& outer, const Key& key, const Key& inner_key) {
    auto& inner = outer.try_emplace(key).first->second;
    prefetch(inner, inner_key);
    return inner;
}

// Finds `key` in `outer`, a map whose values are tables, and starts on what
// the caller probes next: `key` in each of `also`, and `inner_key` in the
// inner table found.
template <class Key, class Outer, class... Also>
auto find_with_inner(Outer& outer, const Key& key, const Key& inner_key, const Also&... also) {
    (prefetch(also, key), ...);
    prefetch(outer, key);
    auto found = outer.find(key);
    if (found != outer.end()) prefetch(found->second, inner_key);
    return found;
}

// Visits every entry of `outer`, a map whose values are tables, for a visit
// that probes each inner table for `key`; a table that can fetch those
// probes ahead of the visits does. The visit may change the inner tables,
// not `outer`.
template <class Key, class Outer, class Visit>
void for_each_probing_inner(Outer& outer, const Key& key, Visit&& visit) {
    if constexpr (requires { outer.for_each_probing_inner(key, visit); }) {
        outer.for_each_probing_inner(key, visit);
    } else {
        for (auto& entry : outer) visit(entry);
    }
}

}  // namespace tovra
