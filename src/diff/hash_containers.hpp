// The hash containers every collection of a diff is built from. Kept behind
// these names so the container layout can change in one place.
//
// Flat open-addressing tables: one allocation per non-empty table, none for
// an empty one, iteration order a function of the keys and of the operations
// only, and a bounded probe with a deterministic fallback for keys chosen to
// collide (see flat_table_core.hpp). An insertion or erasure may move the other
// entries of the same table, so no reference into a table is kept across a
// change to it.
//
// `Hash` is stateless and gives two 64-bit hashes of a key, `primary` and
// `strong`; keys also need == and < (the overflow is ordered by <).
#pragma once

#include <stdexcept>
#include <type_traits>
#include <utility>

#include "diff/flat_table.hpp"

namespace tovra {

using flat_detail::HashedKey;

template <class Key, class Value, class Hash>
class FlatMap : public flat_detail::FlatTable<flat_detail::MapPolicy<Key, Value>, Hash> {
    using Base = flat_detail::FlatTable<flat_detail::MapPolicy<Key, Value>, Hash>;

public:
    using typename Base::iterator;
    using mapped_type = Value;
    using Base::Base;

    // Constructs the value from `args` only if the key is new; otherwise the
    // arguments are left untouched.
    template <class... Args>
    std::pair<iterator, bool> try_emplace(const Key& key, Args&&... args) {
        return this->emplace_key(key, std::forward<Args>(args)...);
    }
    template <class... Args>
    std::pair<iterator, bool> try_emplace(const HashedKey<Key>& key, Args&&... args) {
        return this->emplace_key(key, std::forward<Args>(args)...);
    }

    // Same as try_emplace: the value is not built when the key is there.
    template <class M>
    std::pair<iterator, bool> emplace(const Key& key, M&& value) {
        return this->emplace_key(key, std::forward<M>(value));
    }

    template <class M>
    std::pair<iterator, bool> insert_or_assign(const Key& key, M&& value) {
        return assign_key(key, std::forward<M>(value));
    }
    template <class M>
    std::pair<iterator, bool> insert_or_assign(const HashedKey<Key>& key, M&& value) {
        return assign_key(key, std::forward<M>(value));
    }

    Value& operator[](const Key& key) { return this->emplace_key(key).first->second; }

    // For a map whose values are tables: visits every entry in iteration
    // order, while the inner table of an entry a few further on is fetched,
    // ready to be walked in its turn. An inner table (one grown past the
    // entry held in place, see inline_first.hpp) is an allocation of its
    // own, a miss the outer walk cannot predict; fetched ahead, those
    // misses overlap the visits instead of each stalling one. A visit
    // returning bool stops the walk with false; none may change this map.
    template <class Visit>
    void for_each_with_inner(Visit&& visit) const {
        this->walk_fetching(visit, [](const auto& later) { flat_detail::Fetch::entries(later.second); });
    }

    // The same for a visit that probes each inner table for `hashed`: what
    // that probe reads first is fetched a few entries ahead. The visit may
    // change the inner tables, not this map.
    template <class Visit>
    void for_each_probing_inner(const HashedKey<Key>& hashed, Visit&& visit) {
        this->walk_fetching(visit,
                            [&hashed](const auto& later) { flat_detail::Fetch::probe(later.second, hashed); });
    }

    Value& at(const Key& key) { return const_cast<Value&>(std::as_const(*this).at(key)); }
    const Value& at(const Key& key) const {
        auto found = this->find(key);
        if (found == this->end()) throw std::out_of_range("FlatMap::at: no such key");
        return found->second;
    }

private:
    template <class Lookup, class M>
    std::pair<iterator, bool> assign_key(const Lookup& key, M&& value) {
        auto result = this->emplace_key(key, std::forward<M>(value));
        // Not inserted: the value was not used, so it can still be assigned.
        if (!result.second) result.first->second = std::forward<M>(value);
        return result;
    }
};

template <class Key, class Hash>
class FlatSet : public flat_detail::FlatTable<flat_detail::SetPolicy<Key>, Hash> {
    using Base = flat_detail::FlatTable<flat_detail::SetPolicy<Key>, Hash>;

public:
    using Base::Base;

    std::pair<typename Base::iterator, bool> insert(const Key& key) { return this->emplace_key(key); }
    std::pair<typename Base::iterator, bool> insert(const HashedKey<Key>& key) { return this->emplace_key(key); }
    std::pair<typename Base::iterator, bool> emplace(const Key& key) { return this->emplace_key(key); }
};

namespace flat_detail {
template <class Key, class Value, class Hash>
struct RelocatesByCopy<FlatMap<Key, Value, Hash>> : std::true_type {};
template <class Key, class Hash>
struct RelocatesByCopy<FlatSet<Key, Hash>> : std::true_type {};
}  // namespace flat_detail

template <class Key, class Value, class Hash>
using HashMap = FlatMap<Key, Value, Hash>;

template <class Key, class Hash>
using HashSet = FlatSet<Key, Hash>;

// Operations on one key in several tables at once, as the diff's rules
// need them. Each table is an allocation of its own, so the probe of a key
// not seen lately is likely a cache miss in each; all are asked for before
// the first is made, so that the misses overlap instead of queueing.

// `into` gets `value` for the key if the key is new there, and `merge(held,
// value)` otherwise (the value is left untouched until then); then the key
// is erased from each of `from`.
template <class Key, class Map, class Value, class Merge, class... From>
void upsert_and_erase(Map& into, const HashedKey<Key>& key, Value&& value, Merge&& merge, From&... from) {
    (flat_detail::Fetch::probe(from, key), ...);
    auto [entry, inserted] = into.try_emplace(key, std::forward<Value>(value));
    if (!inserted) merge(entry->second, std::forward<Value>(value));
    (from.erase(key), ...);
}

// Inserts the key into `into`, then erases it from each of `from`: if the
// insertion throws, every table still holds what it held.
template <class Key, class Set, class... From>
void insert_and_erase(Set& into, const HashedKey<Key>& key, From&... from) {
    flat_detail::Fetch::probe(into, key);
    (flat_detail::Fetch::probe(from, key), ...);
    into.insert(key);
    (from.erase(key), ...);
}

// Starts on the probes for `key` in each of `tables`, for a caller about to
// make them one after another.
template <class Key, class... Tables>
[[gnu::always_inline]] inline void fetch_probes(const HashedKey<Key>& key, const Tables&... tables) {
    (flat_detail::Fetch::probe(tables, key), ...);
}

// The inner table of `key` in `outer`, a map whose values are tables, made
// empty if the key is new, with its probe for `inner_key` started: the
// control bytes and the slot that probe reads first are fetched together
// instead of one after the other.
template <class Key, class Outer>
auto& inner_table(Outer& outer, const HashedKey<Key>& key, const HashedKey<Key>& inner_key) {
    auto& inner = outer.try_emplace(key).first->second;
    flat_detail::Fetch::probe(inner, inner_key);
    return inner;
}

// Finds `key` in `outer`, a map whose values are tables, and starts on what
// the caller probes next: `key` in each of `also`, and `inner_key` in the
// inner table found.
template <class Key, class Outer, class... Also>
auto find_with_inner(Outer& outer, const HashedKey<Key>& key, const HashedKey<Key>& inner_key,
                     const Also&... also) {
    (flat_detail::Fetch::probe(also, key), ...);
    flat_detail::Fetch::probe(outer, key);
    auto found = outer.find(key);
    if (found != outer.end()) flat_detail::Fetch::probe(found->second, inner_key);
    return found;
}

}  // namespace tovra
