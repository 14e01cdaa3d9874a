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

#include <cstdint>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "tables/flat_table.hpp"
#include "tables/inline_first.hpp"

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
    [[gnu::always_inline]] std::pair<iterator, bool> try_emplace(const Key& key, Args&&... args) {
        return this->emplace_key(key, std::forward<Args>(args)...);
    }
    template <class... Args>
    [[gnu::always_inline]] std::pair<iterator, bool> try_emplace(const HashedKey<Key>& key, Args&&... args) {
        return this->emplace_key(key, std::forward<Args>(args)...);
    }

    // Same as try_emplace: the value is not built when the key is there.
    template <class M>
    std::pair<iterator, bool> emplace(const Key& key, M&& value) {
        return this->emplace_key(key, std::forward<M>(value));
    }

    // For a key or a HashedKey.
    template <class Lookup, class M>
    std::pair<iterator, bool> insert_or_assign(const Lookup& key, M&& value) {
        auto result = this->emplace_key(key, std::forward<M>(value));
        // Not inserted: the value was not used, so it can still be assigned.
        if (!result.second) result.first->second = std::forward<M>(value);
        return result;
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

    // Visits, in iteration order, the entries whose inner table holds
    // `hashed`. Most are passed over on what the entry alone holds
    // (`may_contain`); one that may hold it waits in a short queue, its
    // probe's memory fetched as it joins, and is probed when the queue is
    // full or the walk ends: the fetches overlap, and only for the few
    // entries that need one. The visit may change the inner tables, not this
    // map, so the queued entries stay where they are.
    template <class Visit>
    void for_each_inner_holding(const HashedKey<Key>& hashed, Visit&& visit) {
        using Entry = typename Base::value_type;
        constexpr std::size_t depth = 8;
        Entry* queue[depth];
        std::size_t queued = 0;  // entries waiting
        std::size_t next = 0;    // entries queued so far; the oldest waiting is next - queued
        const auto probe = [&](Entry& entry) {
            if (entry.second.contains(hashed)) [[unlikely]] visit(entry);
        };
        this->walk_fetching(
            [&](Entry& entry) {
                if (!entry.second.may_contain(hashed)) return;
                entry.second.prefetch(hashed);
                if (queued == depth) {
                    probe(*queue[(next - depth) % depth]);
                    --queued;
                }
                queue[next++ % depth] = &entry;
                ++queued;
            },
            typename Base::NothingAhead{});
        for (; queued != 0; --queued) probe(*queue[(next - queued) % depth]);
    }

    const Value& at(const Key& key) const {
        auto found = this->find(key);
        if (found == this->end()) throw std::out_of_range("FlatMap::at: no such key");
        return found->second;
    }
};

template <class Key, class Hash>
class FlatSet : public flat_detail::FlatTable<flat_detail::SetPolicy<Key>, Hash> {
    using Base = flat_detail::FlatTable<flat_detail::SetPolicy<Key>, Hash>;

public:
    using Base::Base;

    std::pair<typename Base::iterator, bool> insert(const Key& key) { return this->emplace_key(key); }
    std::pair<typename Base::iterator, bool> insert(const HashedKey<Key>& key) { return this->emplace_key(key); }
};

class RefBag;  // ref_bag.hpp, which needs FlatSet

namespace flat_detail {
template <class Key, class Value, class Hash>
struct RelocatesByCopy<FlatMap<Key, Value, Hash>> : std::true_type {};
template <class Key, class Hash>
struct RelocatesByCopy<FlatSet<Key, Hash>> : std::true_type {};
}  // namespace flat_detail

template <class Key, class Value, class Hash>
using HashMap = FlatMap<Key, Value, Hash>;

// The tables of a diff (see graph_diff.hpp): a key with its primary hash
// worked out once, for an operation that looks one id up in several tables;
// the outer tables, keyed by node id; and the inner tables of a source's
// targets, which hold their first entry in place.
template <class Id, class Hash>
struct FlatTables {
    using Key = HashedKey<Id>;
    static Key key(const Id& id) noexcept { return {id, Hash{}.primary(id)}; }

    template <class Value>
    using Map = FlatMap<Id, Value, Hash>;
    using Set = FlatSet<Id, Hash>;
    template <class Value>
    using InnerMap = InlineFirst<FlatMap<Id, Value, Hash>>;
    using InnerSet = InlineFirst<FlatSet<Id, Hash>>;

    // How the index of sources by target (sources_by_target.hpp) refers to
    // a source: by the hash the map of pending edges places it by, the
    // lowest bit set (RefBag's mark for a number held in place). Half the
    // bytes of an id, and the map finds the source again from it; sources
    // may share a reference, so the index asks each source found whether it
    // holds the target. A reference lasts while `ref_scheme` does.
    using SourceRef = std::uint64_t;
    using SourceRefs = RefBag;
    static constexpr bool refs_shared = true;
    template <class Pending>
    static SourceRef source_ref(const Pending& pending, const Key& source) noexcept {
        return pending.hash_of(source) | 1;
    }
    template <class Pending>
    static bool ref_scheme(const Pending& pending) noexcept {
        return pending.on_strong_hash();
    }
    // Visits each entry of `pending` that `ref` may refer to.
    template <class Pending, class Visit>
    static void for_each_source(Pending& pending, SourceRef ref, Visit&& visit) {
        pending.for_each_with_hash(ref, visit);
    }
};

}  // namespace tovra
