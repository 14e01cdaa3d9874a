// Steps on one key in several tables at once (the rules of a diff are
// written with them). Each table is an allocation of its own, so the probe
// of a key not seen lately is likely a cache miss in each: a step starts the
// probe of every table it touches (`prefetch`, always inlined, where offered)
// before it probes the first, so that the misses overlap instead of
// queueing. Callers name only the tables a step reads or changes.
#pragma once

#include <utility>

namespace tovra {

namespace table_ops_detail {
[[gnu::always_inline]] inline void prefetch(const auto& table, const auto& key) noexcept {
    if constexpr (requires { table.prefetch(key); }) table.prefetch(key);
}
}  // namespace table_ops_detail

// `into` gets `value` for a new key, `merge(held, value)` otherwise (the value
// untouched until then); then the key is erased from each of `from`.
template <class Key, class Map, class Value, class Merge, class... From>
void upsert_and_erase(Map& into, const Key& key, Value&& value, Merge&& merge, From&... from) {
    (table_ops_detail::prefetch(from, key), ...);
    auto [entry, inserted] = into.try_emplace(key, std::forward<Value>(value));
    if (!inserted) merge(entry->second, std::forward<Value>(value));
    (from.erase(key), ...);
}

// Inserts the key into `into`, erases it from each of `from`, and takes
// what `map` holds for it out of `map` (an empty value where it holds
// nothing). If the insertion throws, every table still holds what it held.
template <class Key, class Set, class Map, class... From>
typename Map::mapped_type insert_erase_and_take(Set& into, const Key& key, Map& map, From&... from) {
    table_ops_detail::prefetch(into, key);
    table_ops_detail::prefetch(map, key);
    (table_ops_detail::prefetch(from, key), ...);
    into.insert(key);
    (from.erase(key), ...);
    typename Map::mapped_type taken{};
    if (auto found = map.find(key); found != map.end()) {
        taken = std::move(found->second);
        map.erase(found);
    }
    return taken;
}

// Erases `inner_key` from the table at `found` in `outer` (a map of tables),
// and the entry if left empty (or already): whether `inner_key` was there.
template <class Outer, class Key>
bool erase_inner(Outer& outer, typename Outer::iterator found, const Key& inner_key) noexcept {
    if (found == outer.end()) return false;
    const bool erased = found->second.erase(inner_key) != 0;
    if (found->second.empty()) outer.erase(found);
    return erased;
}

// Puts `inner_key` (with `value`, into a map) in the table of `key` in
// `into`, made empty if new, then erases it from `from` as erase_inner does:
// whether `into` gained it and `from` lost it. If the put throws, neither changed.
template <class Key, class Into, class From, class... Value>
std::pair<bool, bool> put_and_erase_inner(Into& into, From& from, const Key& key, const Key& inner_key,
                                          const Value&... value) {
    table_ops_detail::prefetch(into, key);
    table_ops_detail::prefetch(from, key);
    // Its inner table is fetched while `into` is probed, which leaves `found` be.
    auto found = from.find(key);
    if (found != from.end()) table_ops_detail::prefetch(found->second, inner_key);
    auto& inner = into.try_emplace(key).first->second;
    table_ops_detail::prefetch(inner, inner_key);
    bool put;
    if constexpr (sizeof...(Value) == 0) {
        put = inner.insert(inner_key).second;
    } else {
        put = inner.insert_or_assign(inner_key, value...).second;
    }
    return {put, erase_inner(from, found, inner_key)};
}

// Visits each entry of `outer` (a map of tables) whose table holds `key`,
// through the map's own walk where it offers one (which skips most entries
// without a miss and fetches the rest ahead). The visit may change those
// tables, not `outer`.
template <class Key, class Outer, class Visit>
void for_each_holding(Outer& outer, const Key& key, Visit&& visit) {
    if constexpr (requires { outer.for_each_inner_holding(key, visit); }) {
        outer.for_each_inner_holding(key, visit);
    } else {
        for (auto& entry : outer) {
            if (entry.second.contains(key)) visit(entry);
        }
    }
}

}  // namespace tovra
