// The open-addressing table behind FlatMap and FlatSet (hash_containers.hpp):
// one allocation per table holding the slots and a control byte per slot,
// Robin Hood linear probing over a power-of-two capacity, backward-shift
// deletion (no tombstones), at most 7/8 of the slots in use.
//
// Iteration order is the slot order, then (only after hostile keys, below)
// the order of the keys; every step that moves an entry is a function of the
// keys and of the operations applied, so the order is too. Nothing depends on
// an address, a clock or a per-process seed.
//
// Hostile keys. The hash takes no secret, so a caller can choose keys that
// collide; the primary hash is even invertible. Every probe is therefore
// bounded: no entry sits more than `max_distance` slots past its home slot.
// When an insertion would break that bound, a table still on the primary hash
// rehashes itself, at the same capacity, under the strong hash and keeps it
// until it is cleared. A table already on the strong hash puts the key in an
// ordered map beside the slots instead (the "overflow"), so even keys chosen
// against the strong hash cost O(max_distance + log n) per operation. Both
// steps are decided by the keys and operations alone. Random keys never get
// near the bound (see bench/core_tables.cpp), so neither step is taken in
// normal use.
//
// Unlike the node-based standard containers, an insertion or an erasure may
// move other entries: references and iterators into a table do not survive a
// change to that table. Erasing while iterating the same table is not
// supported (backward shift can move a visited entry ahead of the cursor).
// An insertion that throws leaves the entries as they were, though the table
// may have grown or changed hash before the throw.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <map>
#include <new>
#include <set>
#include <stdexcept>
#include <tuple>
#include <type_traits>
#include <utility>

#include "diff/table_memory.hpp"

namespace tovra::flat_detail {

// What differs between a map and a set: the slot type, where its key is, how
// a new slot is made and what the overflow is.
template <class K, class V>
struct MapPolicy {
    static constexpr bool is_map = true;
    using key_type = K;
    using value_type = std::pair<const K, V>;
    using Overflow = std::map<K, V>;

    static const K& key_of(const value_type& slot) noexcept { return slot.first; }

    template <class... Args>
    static void construct(value_type* at, const K& key, Args&&... args) {
        ::new (static_cast<void*>(at)) value_type(std::piecewise_construct, std::forward_as_tuple(key),
                                                  std::forward_as_tuple(std::forward<Args>(args)...));
    }

    template <class... Args>
    static typename Overflow::iterator overflow_emplace(Overflow& overflow, const K& key, Args&&... args) {
        return overflow.try_emplace(key, std::forward<Args>(args)...).first;
    }

    // A rehash moves values out but leaves each old slot standing, key
    // intact (the key is const, so moving the pair copies it). If the rehash
    // fails, the values go back by key.
    static value_type&& take(value_type& slot) noexcept { return std::move(slot); }
    static void give_back(value_type& old_slot, value_type& taken) noexcept {
        old_slot.second = std::move(taken.second);
    }
    static_assert(std::is_nothrow_move_assignable_v<V>, "a failed rehash gives values back by moving");
};

template <class K>
struct SetPolicy {
    static constexpr bool is_map = false;
    using key_type = K;
    using value_type = K;
    using Overflow = std::set<K>;

    static const K& key_of(const K& slot) noexcept { return slot; }

    static void construct(K* at, const K& key) { ::new (static_cast<void*>(at)) K(key); }

    static typename Overflow::iterator overflow_emplace(Overflow& overflow, const K& key) {
        return overflow.insert(key).first;
    }

    // Copied, not moved: the old slot must keep its key until the rehash is
    // committed (see MapPolicy::take).
    static const K& take(const K& slot) noexcept { return slot; }
    static void give_back(K&, K&) noexcept {}
};

// A key with its primary hash worked out once, for looking the same key up
// in many tables that share the hash (one probe per source in delete_node).
template <class Key>
struct HashedKey {
    const Key& key;
    std::uint64_t primary;
};

// The tables' prefetching, for the operations of hash_containers.hpp that
// span more than one table: a walk over a map of inner tables, probes of one
// key in several tables.
struct Fetch {
    template <class Table, class Key>
    [[gnu::always_inline]] static void probe(const Table& table, const HashedKey<Key>& hashed) noexcept {
        table.fetch_probe(hashed);
    }
    template <class Table>
    [[gnu::always_inline]] static void entries(const Table& table) noexcept {
        table.fetch_entries();
    }
};

template <class Policy, class Hash>
class FlatTable {
    template <bool Const>
    class Iter;

public:
    using key_type = typename Policy::key_type;
    using value_type = typename Policy::value_type;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using hasher = Hash;
    using reference = value_type&;
    using const_reference = const value_type&;
    // A set's entries are keys: no iterator of a set can change one.
    using iterator = Iter<!Policy::is_map>;
    using const_iterator = Iter<true>;

    // The farthest an entry may sit from its home slot. The control byte of
    // a slot holds its entry's distance + 1 (0: empty), so this must stay
    // below 255; it is also the most slots any lookup inspects.
    static constexpr unsigned max_distance = 127;

    FlatTable() noexcept = default;

    // As if each entry were inserted in turn: a repeated key keeps its first
    // value.
    FlatTable(std::initializer_list<value_type> entries) {
        reserve(entries.size());
        for (const value_type& entry : entries) {
            if constexpr (Policy::is_map) {
                emplace_key(entry.first, entry.second);
            } else {
                emplace_key(entry);
            }
        }
    }

    FlatTable(const FlatTable& other) : FlatTable() {
        if (other.block_ == nullptr) return;
        FlatTable copy;
        copy.allocate(other.log2_);
        copy.flags_ = other.flags_ & strong_flag;
        const std::size_t cap = other.capacity();
        const std::uint8_t* from = other.control();
        std::uint8_t* to = copy.control();
        // Slot for slot, so the copy iterates exactly like the original.
        for (std::size_t i = 0; i < cap; ++i) {
            if (from[i] == 0) continue;
            ::new (static_cast<void*>(copy.slots() + i)) value_type(other.slots()[i]);
            to[i] = from[i];
        }
        copy.size_ = other.size_;
        if (other.has_overflow()) {
            copy.overflow_slot() = new Overflow(other.overflow());
            copy.flags_ |= overflow_flag;
        }
        swap(copy);
    }

    FlatTable(FlatTable&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          log2_(std::exchange(other.log2_, 0)),
          flags_(std::exchange(other.flags_, 0)) {}

    FlatTable& operator=(const FlatTable& other) {
        if (this != &other) {
            FlatTable copy(other);
            swap(copy);
        }
        return *this;
    }

    FlatTable& operator=(FlatTable&& other) noexcept {
        if (this != &other) {
            FlatTable taken(std::move(other));
            swap(taken);
        }
        return *this;
    }

    ~FlatTable() { release(); }

    void swap(FlatTable& other) noexcept {
        std::swap(block_, other.block_);
        std::swap(size_, other.size_);
        std::swap(log2_, other.log2_);
        std::swap(flags_, other.flags_);
    }
    friend void swap(FlatTable& a, FlatTable& b) noexcept { a.swap(b); }

    size_type size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    size_type max_size() const noexcept { return std::numeric_limits<std::uint32_t>::max(); }

    iterator begin() noexcept { return first<!Policy::is_map>(); }
    iterator end() noexcept { return last<!Policy::is_map>(); }
    const_iterator begin() const noexcept { return first<true>(); }
    const_iterator end() const noexcept { return last<true>(); }
    const_iterator cbegin() const noexcept { return first<true>(); }
    const_iterator cend() const noexcept { return last<true>(); }

    iterator find(const key_type& key) noexcept { return locate<!Policy::is_map>(key); }
    iterator find(const HashedKey<key_type>& hashed) noexcept { return locate<!Policy::is_map>(hashed); }
    bool contains(const HashedKey<key_type>& hashed) const noexcept { return holds(hashed); }
    size_type erase(const HashedKey<key_type>& hashed) noexcept { return erase_found(hashed); }

    // Runs `visit(item)` for each item of [first, last) in turn, for a
    // caller that probes this table for `key_of(item)` of each: a long run
    // of keys landing at random in a table larger than the cache. The memory
    // the probe of an item a few further on reads is fetched meanwhile.
    template <class It, class KeyOf, class Visit>
    void for_each_probe(It first, It last, KeyOf&& key_of, Visit&& visit) {
        It ahead = first;
        for (std::size_t lead = 0; lead < walk_ahead && ahead != last; ++lead) ++ahead;
        for (; first != last; ++first) {
            if (ahead != last) {
                const key_type& later = key_of(*ahead);
                fetch_probe({later, Hash{}.primary(later)});
                ++ahead;
            }
            visit(*first);
        }
    }

    const_iterator find(const key_type& key) const noexcept { return locate<true>(key); }
    size_type count(const key_type& key) const noexcept { return contains(key) ? 1 : 0; }
    bool contains(const key_type& key) const noexcept { return holds(key); }

    size_type erase(const key_type& key) noexcept { return erase_found(key); }

    // Returns nothing: the entry that backward shift moves into the erased
    // slot may be one the caller has already visited, so there is no sound
    // "next" to give.
    void erase(const_iterator position) noexcept {
        if (position.index_ < capacity()) {
            erase_slot(position.index_);
            return;
        }
        overflow().erase(position.overflow_);
        --size_;
        drop_overflow_if_empty();
    }

    // Frees everything: a cleared table holds no memory and is back on the
    // primary hash, exactly like a new one.
    void clear() noexcept { release(); }

    // Room for `count` entries without growing.
    void reserve(size_type count) {
        if (count > max_load(capacity())) rehash(capacity_log2_for(count), strong());
    }

    friend bool operator==(const FlatTable& a, const FlatTable& b) {
        if (a.size() != b.size()) return false;
        for (const value_type& entry : a) {
            const auto other = b.find(Policy::key_of(entry));
            if (other == b.end()) return false;
            if constexpr (Policy::is_map) {
                if (!(other->second == entry.second)) return false;
            }
        }
        return true;
    }

    // Diagnostics for tests and benchmarks.
    size_type capacity() const noexcept { return block_ == nullptr ? 0 : std::size_t{1} << log2_; }
    bool strong_hash_in_use() const noexcept { return strong(); }
    size_type overflow_size() const noexcept { return has_overflow() ? overflow().size() : 0; }
    unsigned longest_distance() const noexcept {
        unsigned longest = 0;
        for (std::size_t i = 0, cap = capacity(); i < cap; ++i) {
            longest = std::max<unsigned>(longest, control()[i]);
        }
        return longest == 0 ? 0 : longest - 1;
    }

protected:
    friend struct Fetch;

    // How many entries ahead of the one being visited a walk fetches what a
    // later visit will read: far enough to cover a miss to memory with the
    // work of the visits in between, near enough that what is fetched is
    // still in the cache when its turn comes.
    static constexpr std::size_t walk_ahead = 16;

    // Starts loading the memory a lookup of `hashed` reads first, so that
    // probes of several tables, or of one table for a run of keys, overlap
    // their cache misses instead of taking them in turn.
    //
    // Always inlined: g++ takes a function that only prefetches for one
    // without effects and drops calls to it.
    [[gnu::always_inline]] void fetch_probe(const HashedKey<key_type>& hashed) const noexcept {
        if (size_ == 0) return;
        const std::size_t at = home(hashed);
        __builtin_prefetch(control() + at);
        __builtin_prefetch(slots() + at);
    }

    // Starts loading the first entries and the control bytes, for a caller
    // about to walk the whole (small) table.
    [[gnu::always_inline]] void fetch_entries() const noexcept {
        if (block_ == nullptr) return;
        __builtin_prefetch(block_ + header_bytes);
        __builtin_prefetch(control());
    }

    // Visits every entry in iteration order, and hands `ahead` the entry
    // `walk_ahead` slots further on (when there is one) before visiting the
    // current one: room to fetch what the visit of a later entry needs.
    // Neither may insert into or erase from this table. A visit returning
    // bool stops the walk with false.
    template <class Visit, class Ahead>
    void walk_fetching(Visit&& visit, Ahead&& ahead) {
        walk(*this, visit, ahead);
    }
    template <class Visit, class Ahead>
    void walk_fetching(Visit&& visit, Ahead&& ahead) const {
        walk(*this, visit, ahead);
    }

    // Where a probe for a key ended: the key's slot, or where it would go
    // (`distance` is then the control byte it would get: distance + 1).
    struct Spot {
        std::size_t index;
        unsigned distance;
        bool found;
    };

    // Finds `key` or inserts a new entry made from `args`; the arguments are
    // untouched when the key is already there.
    //
    // Split in two so that the common case, a key already there, is a probe
    // inlined into the caller; inserting is out of line.
    template <class Lookup, class... Args>
    std::pair<iterator, bool> emplace_key(const Lookup& lookup, Args&&... args) {
        Spot spot{};
        if (block_ != nullptr) [[likely]] {
            spot = probe_from(lookup_key(lookup), home(lookup));
            if (spot.found) return {iterator(this, spot.index), false};
        }
        return emplace_absent(spot, lookup_key(lookup), std::forward<Args>(args)...);
    }

private:
    // `spot` is where the probe for `key` in the slots ended (unset when the
    // table has no block yet); the key may still be in the overflow.
    template <class... Args>
    [[gnu::noinline]] std::pair<iterator, bool> emplace_absent(Spot spot, const key_type& key,
                                                               Args&&... args) {
        if (has_overflow()) {
            auto hit = overflow().find(key);
            if (hit != overflow().end()) return {iterator(this, hit), false};
        }
        if (size_ == max_size()) throw std::length_error("hash table is full");
        bool spot_valid = block_ != nullptr;
        for (;;) {
            if (main_size() + 1 > max_load(capacity())) {
                rehash(block_ == nullptr ? min_log2 : log2_ + 1, strong());
                spot_valid = false;
            }
            if (!spot_valid) spot = probe(key);
            if (make_room(spot.index, spot.distance)) {
                try {
                    Policy::construct(slots() + spot.index, key, std::forward<Args>(args)...);
                } catch (...) {
                    close_gap(spot.index);
                    throw;
                }
                control()[spot.index] = static_cast<std::uint8_t>(spot.distance);
                ++size_;
                return {iterator(this, spot.index), true};
            }
            if (!strong()) {
                rehash(log2_, true);
                spot_valid = false;
                continue;
            }
            Overflow& overflow = make_overflow();
            try {
                auto placed = Policy::overflow_emplace(overflow, key, std::forward<Args>(args)...);
                ++size_;
                return {iterator(this, placed), true};
            } catch (...) {
                drop_overflow_if_empty();
                throw;
            }
        }
    }

    using Overflow = typename Policy::Overflow;
    using OverflowIter = typename Overflow::iterator;

    static_assert(max_distance + 1 < 255);
    static_assert(std::is_nothrow_move_constructible_v<value_type>,
                  "entries are moved while other entries are inserted or erased");
    static_assert(alignof(value_type) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

    static constexpr std::uint8_t strong_flag = 1;
    static constexpr std::uint8_t overflow_flag = 2;
    static constexpr unsigned min_log2 = 1;
    static constexpr unsigned max_log2 = sizeof(std::size_t) >= 8 ? 32 : 31;
    // The block starts with the overflow's address, padded so the slots that
    // follow are aligned; the control bytes come after the slots.
    static constexpr std::size_t header_bytes =
        (sizeof(Overflow*) + alignof(value_type) - 1) / alignof(value_type) * alignof(value_type);

    static std::size_t block_bytes(std::size_t cap) noexcept {
        return header_bytes + cap * (sizeof(value_type) + 1);
    }

    static std::size_t max_load(std::size_t cap) noexcept {
        return cap == 0 ? 0 : cap - std::max<std::size_t>(cap / 8, 1);
    }

    static unsigned capacity_log2_for(std::size_t count) {
        unsigned log2 = min_log2;
        while (max_load(std::size_t{1} << log2) < count) {
            if (++log2 > max_log2) throw std::length_error("hash table too large");
        }
        return log2;
    }

    bool strong() const noexcept { return (flags_ & strong_flag) != 0; }
    bool has_overflow() const noexcept { return (flags_ & overflow_flag) != 0; }

    // These need the block: only for a table that has one.
    std::size_t mask() const noexcept { return (std::size_t{1} << log2_) - 1; }
    value_type* slots() const noexcept { return reinterpret_cast<value_type*>(block_ + header_bytes); }
    std::uint8_t* control() const noexcept {
        return reinterpret_cast<std::uint8_t*>(block_ + header_bytes + (mask() + 1) * sizeof(value_type));
    }
    Overflow*& overflow_slot() const noexcept {
        return *reinterpret_cast<Overflow**>(block_);
    }
    Overflow& overflow() const noexcept { return *overflow_slot(); }

    std::size_t main_size() const noexcept { return size_ - overflow_size(); }

    std::size_t home(const key_type& key) const noexcept {
        const std::uint64_t h = strong() ? Hash{}.strong(key) : Hash{}.primary(key);
        return static_cast<std::size_t>(h) & mask();
    }
    std::size_t home(const HashedKey<key_type>& hashed) const noexcept {
        const std::uint64_t h = strong() ? Hash{}.strong(hashed.key) : hashed.primary;
        return static_cast<std::size_t>(h) & mask();
    }

    Spot probe(const key_type& key) const noexcept { return probe_from(key, home(key)); }

    // Robin Hood lookup: entries of one cluster are in order of home slot, so
    // the search ends at the first entry closer to its home than the key
    // would be, and a key is compared only where the distances agree.
    Spot probe_from(const key_type& key, std::size_t start) const noexcept {
        const std::size_t mask = this->mask();
        const std::uint8_t* ctrl = control();
        std::size_t i = start;
        for (unsigned d = 1;; ++d, i = (i + 1) & mask) {
            const unsigned c = ctrl[i];
            if (c < d) return {i, d, false};
            if (c == d && Policy::key_of(slots()[i]) == key) return {i, d, true};
        }
    }

    // Where a key known to be absent goes.
    Spot probe_absent(const key_type& key) const noexcept {
        const std::size_t mask = this->mask();
        const std::uint8_t* ctrl = control();
        std::size_t i = home(key);
        unsigned d = 1;
        while (ctrl[i] >= d) {
            ++d;
            i = (i + 1) & mask;
        }
        return {i, d, false};
    }

    void relocate(std::size_t from, std::size_t to) noexcept {
        ::new (static_cast<void*>(slots() + to)) value_type(std::move(slots()[from]));
        slots()[from].~value_type();
    }

    // Shifts the run that starts at `at` one slot on, leaving slot `at`
    // unconstructed; refuses, changing nothing, if that would put any entry
    // (the new one included) past `max_distance`.
    bool make_room(std::size_t at, unsigned distance) noexcept {
        if (distance > max_distance + 1) return false;
        const std::size_t mask = this->mask();
        std::uint8_t* ctrl = control();
        std::size_t end = at;
        while (ctrl[end] != 0) {
            if (ctrl[end] == max_distance + 1) return false;
            end = (end + 1) & mask;
        }
        while (end != at) {
            const std::size_t before = (end - 1) & mask;
            relocate(before, end);
            ctrl[end] = static_cast<std::uint8_t>(ctrl[before] + 1);
            end = before;
        }
        return true;
    }

    // Backward shift into the unconstructed slot `hole`: the entries after
    // it move one slot back until one is at its home or a slot is empty. The
    // exact inverse of make_room.
    void close_gap(std::size_t hole) noexcept {
        const std::size_t mask = this->mask();
        std::uint8_t* ctrl = control();
        std::size_t next = (hole + 1) & mask;
        while (ctrl[next] > 1) {
            relocate(next, hole);
            ctrl[hole] = static_cast<std::uint8_t>(ctrl[next] - 1);
            hole = next;
            next = (next + 1) & mask;
        }
        ctrl[hole] = 0;
    }

    // Both walk_fetching: `Self` is the table, const or not, and the entries are
    // as const as it is.
    template <class Self, class Visit, class Ahead>
    static void walk(Self& self, Visit& visit, Ahead& ahead) {
        using Entry = std::conditional_t<std::is_const_v<Self>, const value_type, value_type>;
        using Entries = std::conditional_t<std::is_const_v<Self>, const Overflow, Overflow>;
        if (self.block_ == nullptr) return;
        const std::size_t cap = self.capacity();
        const std::uint8_t* ctrl = self.control();
        Entry* slot = self.slots();
        // A visit that returns a bool ends the walk by returning false.
        auto keep_going = [&visit](Entry& entry) {
            if constexpr (std::is_void_v<std::invoke_result_t<Visit&, Entry&>>) {
                visit(entry);
                return true;
            } else {
                return static_cast<bool>(visit(entry));
            }
        };
        for (std::size_t i = 0; i < cap; ++i) {
            if (i + walk_ahead < cap && ctrl[i + walk_ahead] != 0) ahead(slot[i + walk_ahead]);
            if (ctrl[i] != 0 && !keep_going(slot[i])) return;
        }
        if (self.has_overflow()) {
            Entries& overflow = self.overflow();
            for (Entry& entry : overflow) {
                if (!keep_going(entry)) return;
            }
        }
    }

    // The lookups, for a key or a key with its primary hash (`Lookup`): the
    // two differ only in where the probe starts.
    static const key_type& lookup_key(const key_type& key) noexcept { return key; }
    static const key_type& lookup_key(const HashedKey<key_type>& hashed) noexcept { return hashed.key; }

    template <class Lookup>
    bool holds(const Lookup& lookup) const noexcept {
        if (block_ == nullptr) return false;
        if (probe_from(lookup_key(lookup), home(lookup)).found) return true;
        return has_overflow() && overflow().count(lookup_key(lookup)) != 0;
    }

    template <class Lookup>
    size_type erase_found(const Lookup& lookup) noexcept {
        if (block_ == nullptr) return 0;
        const Spot spot = probe_from(lookup_key(lookup), home(lookup));
        if (spot.found) {
            erase_slot(spot.index);
            return 1;
        }
        if (!has_overflow()) return 0;
        const size_type erased = overflow().erase(lookup_key(lookup));
        if (erased != 0) {
            --size_;
            drop_overflow_if_empty();
        }
        return erased;
    }

    void erase_slot(std::size_t index) noexcept {
        slots()[index].~value_type();
        close_gap(index);
        --size_;
    }

    void allocate(unsigned log2) {
        if (log2 > max_log2) throw std::length_error("hash table too large");
        const std::size_t cap = std::size_t{1} << log2;
        const std::size_t limit = std::numeric_limits<std::size_t>::max() - header_bytes;
        if (cap > limit / (sizeof(value_type) + 1)) throw std::length_error("hash table too large");
        char* block = static_cast<char*>(table_memory::allocate(block_bytes(cap)));
        ::new (static_cast<void*>(block)) Overflow*(nullptr);
        block_ = block;
        log2_ = static_cast<std::uint8_t>(log2);
        std::memset(control(), 0, cap);
    }

    void release() noexcept {
        if (block_ == nullptr) return;
        if constexpr (!std::is_trivially_destructible_v<value_type>) {
            const std::uint8_t* ctrl = control();
            for (std::size_t i = 0, cap = capacity(); i < cap; ++i) {
                if (ctrl[i] != 0) slots()[i].~value_type();
            }
        }
        if (has_overflow()) delete overflow_slot();
        table_memory::release(block_, block_bytes(capacity()));
        block_ = nullptr;
        size_ = 0;
        log2_ = 0;
        flags_ = 0;
    }

    Overflow& make_overflow() {
        if (!has_overflow()) {
            overflow_slot() = new Overflow();
            flags_ |= overflow_flag;
        }
        return overflow();
    }

    void drop_overflow_if_empty() noexcept {
        if (has_overflow() && overflow().empty()) {
            delete overflow_slot();
            overflow_slot() = nullptr;
            flags_ &= static_cast<std::uint8_t>(~overflow_flag);
        }
    }

    // Places an entry taken from another table during a rehash; one the
    // bound refuses goes to the overflow. That happens only when a table
    // switches to the strong hash: growing never moves an entry farther from
    // its home (a larger table only splits the runs of a smaller one, and a
    // run's entries keep their relative order), so a growing table refuses
    // nothing.
    template <class Taken>
    void place(Taken&& entry) {
        const key_type& key = Policy::key_of(entry);
        const Spot spot = probe_absent(key);
        if (make_room(spot.index, spot.distance)) {
            ::new (static_cast<void*>(slots() + spot.index)) value_type(std::forward<Taken>(entry));
            control()[spot.index] = static_cast<std::uint8_t>(spot.distance);
        } else {
            make_overflow().emplace(std::forward<Taken>(entry));
        }
        ++size_;
    }

    // Moves every slot entry, in slot order, into a new block of 2^log2
    // slots under the chosen hash. The overflow is handed over as it is (its
    // keys stay there until they are erased or the table is cleared).
    //
    // The old slots are left standing, keys intact, until the new table is
    // complete, so if an allocation for the overflow fails every value can
    // be given back and the table is left as it was.
    void rehash(unsigned log2, bool use_strong) {
        FlatTable fresh;
        fresh.allocate(log2);
        if (use_strong) fresh.flags_ |= strong_flag;
        try {
            for (std::size_t i = 0, cap = capacity(); i < cap; ++i) {
                if (control()[i] != 0) fresh.place(Policy::take(slots()[i]));
            }
        } catch (...) {
            give_back(fresh);
            throw;
        }
        if (has_overflow()) {
            Overflow* kept = std::exchange(overflow_slot(), nullptr);
            flags_ &= static_cast<std::uint8_t>(~overflow_flag);
            if (fresh.has_overflow()) {  // not expected: see place()
                kept->merge(fresh.overflow());
                delete fresh.overflow_slot();
            }
            fresh.overflow_slot() = kept;
            fresh.flags_ |= overflow_flag;
        }
        fresh.size_ = size_;
        swap(fresh);  // `fresh` now owns the old block and destroys it
    }

    void give_back(FlatTable& fresh) noexcept {
        if constexpr (Policy::is_map) {
            for (value_type& entry : fresh) {
                const Spot spot = probe(Policy::key_of(entry));
                Policy::give_back(slots()[spot.index], entry);
            }
        }
    }

    template <bool Const>
    Iter<Const> first() const noexcept {
        if (block_ == nullptr) return Iter<Const>(this, 0);
        const std::size_t cap = capacity();
        const std::uint8_t* ctrl = control();
        std::size_t i = 0;
        while (i < cap && ctrl[i] == 0) ++i;
        if (i == cap && has_overflow()) return Iter<Const>(this, overflow().begin());
        return Iter<Const>(this, i);
    }

    template <bool Const>
    Iter<Const> last() const noexcept {
        if (has_overflow()) return Iter<Const>(this, overflow().end());
        return Iter<Const>(this, capacity());
    }

    template <bool Const, class Lookup>
    Iter<Const> locate(const Lookup& lookup) const noexcept {
        if (block_ == nullptr) return last<Const>();
        const Spot spot = probe_from(lookup_key(lookup), home(lookup));
        if (spot.found) return Iter<Const>(this, spot.index);
        if (has_overflow()) return Iter<Const>(this, overflow().find(lookup_key(lookup)));
        return last<Const>();
    }

    // The overflow's address, then the slots, then a control byte per slot.
    char* block_ = nullptr;
    std::uint32_t size_ = 0;   // slots and overflow together
    std::uint8_t log2_ = 0;    // capacity is 2^log2_ once block_ is set
    std::uint8_t flags_ = 0;
};

// Walks the slots, then the overflow. A slot position is `index_` below the
// capacity; from the capacity on, `overflow_` is the position (and is left
// value-initialized while walking slots, so positions compare by both).
template <class Policy, class Hash>
template <bool Const>
class FlatTable<Policy, Hash>::Iter {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = typename Policy::value_type;
    using difference_type = std::ptrdiff_t;
    using reference = std::conditional_t<Const, const value_type&, value_type&>;
    using pointer = std::conditional_t<Const, const value_type*, value_type*>;

    Iter() noexcept = default;

    // iterator to const_iterator.
    template <bool OtherConst, class = std::enable_if_t<Const && !OtherConst>>
    Iter(const Iter<OtherConst>& other) noexcept
        : table_(other.table_), index_(other.index_), overflow_(other.overflow_) {}

    reference operator*() const noexcept {
        if (index_ < table_->capacity()) return table_->slots()[index_];
        return *overflow_;
    }
    pointer operator->() const noexcept { return &**this; }

    Iter& operator++() noexcept {
        const std::size_t cap = table_->capacity();
        if (index_ < cap) {
            const std::uint8_t* ctrl = table_->control();
            do {
                ++index_;
            } while (index_ < cap && ctrl[index_] == 0);
            if (index_ == cap && table_->has_overflow()) overflow_ = table_->overflow().begin();
        } else {
            ++overflow_;
        }
        return *this;
    }
    Iter operator++(int) noexcept {
        Iter before = *this;
        ++*this;
        return before;
    }

    friend bool operator==(const Iter& a, const Iter& b) noexcept {
        return a.index_ == b.index_ && a.overflow_ == b.overflow_;
    }

private:
    friend class FlatTable;
    template <bool>
    friend class Iter;

    Iter(const FlatTable* table, std::size_t index) noexcept : table_(table), index_(index) {}
    Iter(const FlatTable* table, OverflowIter position) noexcept
        : table_(table), index_(table->capacity()), overflow_(position) {}

    const FlatTable* table_ = nullptr;
    std::size_t index_ = 0;
    OverflowIter overflow_{};
};

}  // namespace tovra::flat_detail
