// The hash tables: FlatMap and FlatSet, and InlineFirst (inline_first.hpp),
// a small table that holds its first entry in place. What every caller uses:
//
//   find, contains, erase     by a key, or by a HashedKey: a key that carries
//                             its primary hash, worked out once for a caller
//                             that looks one key up in several tables
//   try_emplace, insert,      insert a new key (the value built only then)
//   insert_or_assign
//   begin, end                iterate, in an order that is a function of the
//                             keys and of the operations only
//   reserve, clear            room for a count; back to no memory at all
//   prefetch(hashed)          start loading what a probe reads first, for a
//                             step over several tables (table_ops.hpp)
//   hash_of, hash_generation, for a caller that keeps a key's hash instead
//   for_each_with_hash        of the key and finds its entries again by it
//
// An insertion or erasure may move the other entries of the same table, so
// no reference into a table is kept across a change to it. `Hash` is
// stateless and gives two 64-bit hashes of a key, `primary` and `strong`;
// keys also need == and < (the overflow is ordered by <). The probe core is
// flat_table_core.hpp; bulk filling in hash order, hash_order.hpp.
//
// Design. A table is one allocation, its block, holding a control byte per
// slot and then the slots: Robin Hood linear probing, backward-shift
// deletion (no tombstones), at most 7/8 of the slots in use (every slot, in a
// table of at most `full_up_to` slots). The table object itself is the
// block's address, the size, the capacity's class and two flags: 16 bytes,
// and an empty table has no block at all. A caller may keep a table per
// entry of another, most of them small, so both the empty and the tiny
// table are first-class cases.
//
// Capacities are not powers of two: a block pays for every slot it has, and
// doubling leaves a table between 7/16 and 7/8 full, over a third of the
// slots idle on average. Tiny tables step a slot or two at a time (a table of
// three keys gets three slots, not four), larger ones alternate 2^k and
// 1.5 x 2^k, and a large block grows through both. A key's home slot is the top 32 bits of its hash scaled to the
// capacity, which keeps homes in hash order: that is what the Robin Hood
// order of a cluster needs, and it is the same arithmetic on every host.
//
// A block of 8 slots (the overflow's address only in tables large enough to
// hold a run longer than `max_distance`):
//
//   block_
//   |
//   v
//   +--+--+--+--+--+--+--+--+---+--------+--------+-----+--------+-----------+
//   |c0|c1|c2|c3|c4|c5|c6|c7|pad| slot 0 | slot 1 | ... | slot 7 | overflow* |
//   +--+--+--+--+--+--+--+--+---+--------+--------+-----+--------+-----------+
//    control bytes                slots: a key, or a key and its value,
//    0: empty                     constructed only where the control byte
//    d + 1: taken, its entry      is not 0
//    d slots past its home
//
// The control bytes come first so that a small table's control bytes share
// a cache line with its first slots, and a walk reads eight of them at once.
// Within a cluster, entries are in order of home slot, so a lookup stops at
// the first entry closer to home than the key would be, and compares a key
// only where the distances agree.
//
// Order. Every step that moves an entry is a function of the keys and of the
// operations applied, so the slot order is too. Nothing depends on an
// address, a clock or a per-process seed.
//
// Hostile keys. The hash takes no secret, so a caller can choose keys that
// collide; the primary hash is even invertible. Every probe is therefore
// bounded: no entry sits more than `max_distance` slots past its home slot.
// When an insertion would break that bound, a table still on the primary hash
// rehashes itself, at the same capacity, under the strong hash (a growth that
// would break it, at the new capacity) and keeps it until it is cleared. A
// table already on the strong hash puts the key in an ordered map beside
// the slots instead (the "overflow"), so even keys chosen
// against the strong hash cost O(max_distance + log n) per operation. Both
// steps are decided by the keys and operations alone. Random keys never get
// near the bound (see bench/core_tables.cpp and the table tests), so neither
// step is taken in normal use.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "tables/flat_table.hpp"
#include "tables/hash_order.hpp"
#include "tables/inline_first.hpp"
#include "tables/table_ops.hpp"

namespace tovra {

using flat_detail::HashedKey;

template <class Key, class Value, class Hash>
class FlatMap : public flat_detail::FlatTable<flat_detail::MapPolicy<Key, Value>, Hash> {
    using Base = flat_detail::FlatTable<flat_detail::MapPolicy<Key, Value>, Hash>;

public:
    using typename Base::iterator;
    using mapped_type = Value;
    using Base::Base;

    // For a key or a HashedKey: constructs the value from `args` only if the
    // key is new; otherwise the arguments are left untouched.
    template <class Lookup, class... Args>
    [[gnu::always_inline]] std::pair<iterator, bool> try_emplace(const Lookup& key, Args&&... args) {
        return this->emplace_key(key, std::forward<Args>(args)...);
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

    // For a key or a HashedKey.
    template <class Lookup>
    std::pair<typename Base::iterator, bool> insert(const Lookup& key) { return this->emplace_key(key); }
};

namespace flat_detail {
template <class Key, class Value, class Hash>
struct RelocatesByCopy<FlatMap<Key, Value, Hash>> : std::true_type {};
template <class Key, class Hash>
struct RelocatesByCopy<FlatSet<Key, Hash>> : std::true_type {};
}  // namespace flat_detail

// The key of an entry as a walk of any table gives it: a map's entry holds
// it as `first`, a set's entry is the key.
template <class Entry>
const auto& key_of(const Entry& entry) noexcept {
    if constexpr (requires { entry.first; }) {
        return entry.first;
    } else {
        return entry;
    }
}

}  // namespace tovra

#include "tables/ref_bag.hpp"  // which needs FlatSet
