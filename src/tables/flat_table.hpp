// The open-addressing table behind FlatMap and FlatSet (hash_containers.hpp),
// as its users see it. How it probes, grows and fends off hostile keys is in
// flat_table_core.hpp; its iterator is in flat_table_iterator.hpp.
//
// Iteration order is the slot order, then (only after hostile keys) the
// order of the keys: a function of the keys and of the operations applied.
//
// Unlike the node-based standard containers, an insertion or an erasure may
// move other entries: references and iterators into a table do not survive a
// change to that table. Erasing while iterating the same table is not
// supported (backward shift can move a visited entry ahead of the cursor).
// An insertion that throws leaves the entries as they were, though the table
// may have grown or changed hash before the throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "tables/flat_table_core.hpp"
#include "tables/flat_table_iterator.hpp"

namespace tovra::flat_detail {

// Whether two tables hold the same keys, and for maps equal values, in
// whatever order.
template <bool IsMap, class Table, class KeyOf>
bool same_entries(const Table& a, const Table& b, KeyOf key_of) {
    if (a.size() != b.size()) return false;
    for (const auto& entry : a) {
        const auto other = b.find(key_of(entry));
        if (other == b.end()) return false;
        if constexpr (IsMap) {
            if (!(other->second == entry.second)) return false;
        }
    }
    return true;
}

template <class Policy, class Hash>
class FlatTable : public FlatCore<Policy, Hash> {
    using Core = FlatCore<Policy, Hash>;
    using typename Core::Place;

public:
    using key_type = typename Policy::key_type;
    using value_type = typename Policy::value_type;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using hasher = Hash;
    using reference = value_type&;
    using const_reference = const value_type&;
    // A set's entries are keys: no iterator of a set can change one.
    using iterator = FlatIter<Core, !Policy::is_map>;
    using const_iterator = FlatIter<Core, true>;

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

    void swap(FlatTable& other) noexcept { Core::swap(other); }

    size_type size() const noexcept { return this->size_; }
    bool empty() const noexcept { return this->size_ == 0; }

    iterator begin() noexcept { return first<!Policy::is_map>(); }
    iterator end() noexcept { return last<!Policy::is_map>(); }
    const_iterator begin() const noexcept { return first<true>(); }
    const_iterator end() const noexcept { return last<true>(); }

    iterator find(const key_type& key) noexcept { return locate<!Policy::is_map>(key); }
    iterator find(const HashedKey<key_type>& hashed) noexcept { return locate<!Policy::is_map>(hashed); }
    const_iterator find(const key_type& key) const noexcept { return locate<true>(key); }
    size_type count(const key_type& key) const noexcept { return contains(key) ? 1 : 0; }
    bool contains(const key_type& key) const noexcept { return this->holds(key); }
    bool contains(const HashedKey<key_type>& hashed) const noexcept { return this->holds(hashed); }

    size_type erase(const key_type& key) noexcept { return this->erase_found(key); }
    size_type erase(const HashedKey<key_type>& hashed) noexcept { return this->erase_found(hashed); }

    // Returns nothing: the entry that backward shift moves into the erased
    // slot may be one the caller has already visited, so there is no sound
    // "next" to give.
    void erase(const_iterator position) noexcept { this->erase_place(position.place()); }

    // Frees everything: a cleared table holds no memory and is back on the
    // primary hash, exactly like a new one.
    void clear() noexcept { this->release(); }

    // Room for `count` entries without growing.
    void reserve(size_type count) { Core::reserve(count); }

    // Starts loading what a probe for `hashed` reads first, for a caller
    // about to probe other tables before this one (see table_ops.hpp).
    [[gnu::always_inline]] void prefetch(const HashedKey<key_type>& hashed) const noexcept {
        this->fetch_probe(hashed);
    }

    // The hash the table places `hashed` by: the primary one, or the strong
    // one once hostile keys have moved the table to it.
    std::uint64_t hash_of(const HashedKey<key_type>& hashed) const noexcept {
        return this->strong() ? Hash{}.strong(hashed.key) : hashed.primary;
    }
    // Stays the same while hash_of gives every key the hash it gave: a
    // caller that keeps hashes instead of keys compares it before trusting
    // them. Changes only when an insertion meets hostile keys, or on clear.
    unsigned hash_generation() const noexcept { return this->strong() ? 1 : 0; }

    // Visits each entry whose key hash_of gives `h`, ignoring the lowest bit
    // of both: for a caller that kept a key's hash instead of the key (with
    // that bit as a mark of its own) and tells apart the keys found itself.
    // Reads one cluster of slots, and the overflow if there is one. A visit
    // may change an entry's value, not this table.
    template <class Visit>
    void for_each_with_hash(std::uint64_t h, Visit&& visit) {
        if (this->block_ == nullptr) return;
        const auto same = [&](const key_type& key) { return (this->hash(key) | 1) == (h | 1); };
        const std::uint8_t* ctrl = this->control();
        value_type* slots = this->slots();
        std::size_t i = this->home_of(h);
        // An entry whose control byte equals the distance walked is at home here.
        for (unsigned d = 1; ctrl[i] >= d; ++d, i = this->after(i)) {
            if (ctrl[i] == d && same(Policy::key_of(slots[i]))) visit(slots[i]);
        }
        if (this->has_overflow()) {
            for (auto& entry : this->overflow()) {
                if (same(Policy::key_of(entry))) visit(entry);
            }
        }
    }

    // Runs `visit(item)` for each item of [first, last) in turn, for a
    // caller that probes this table for `key_of(item)` of each: a long run
    // of keys landing at random in a table larger than the cache. The memory
    // the probe of an item a few further on reads is fetched meanwhile.
    template <class It, class KeyOf, class Visit>
    void for_each_probe(It first, It last, KeyOf&& key_of, Visit&& visit) {
        It ahead = first;
        for (std::size_t lead = 0; lead < Core::walk_ahead && ahead != last; ++lead) ++ahead;
        for (; first != last; ++first) {
            if (ahead != last) {
                const key_type& later = key_of(*ahead);
                this->fetch_probe({later, Hash{}.primary(later)});
                ++ahead;
            }
            visit(*first);
        }
    }

    friend bool operator==(const FlatTable& a, const FlatTable& b) {
        return same_entries<Policy::is_map>(a, b, Policy::key_of);
    }

protected:
    // Finds the key or inserts a new entry made from `args`; the arguments
    // are untouched when the key is already there. The probe for a key
    // already there is inlined into the caller; inserting is out of line.
    template <class Lookup, class... Args>
    [[gnu::always_inline]] std::pair<iterator, bool> emplace_key(const Lookup& lookup, Args&&... args) {
        typename Core::Spot spot{};
        if (this->block_ != nullptr) [[likely]] {
            spot = this->probe(lookup);
            if (spot.found) return {iterator(this, spot.index), false};
        }
        const auto [place, inserted] =
            this->emplace_absent(spot, Core::lookup_key(lookup), std::forward<Args>(args)...);
        return {iterator(this, place), inserted};
    }

    // As FlatCore::walk.
    template <class Visit, class Ahead>
    void walk_fetching(Visit&& visit, Ahead&& ahead) {
        Core::walk(*this, visit, ahead);
    }
    template <class Visit, class Ahead>
    void walk_fetching(Visit&& visit, Ahead&& ahead) const {
        Core::walk(*this, visit, ahead);
    }

private:
    template <bool Const>
    FlatIter<Core, Const> first() const noexcept {
        if (this->block_ == nullptr) return FlatIter<Core, Const>(this, std::size_t{0});
        const std::size_t cap = this->capacity();
        const std::uint8_t* ctrl = this->control();
        std::size_t i = 0;
        while (i < cap && ctrl[i] == 0) ++i;
        if (i == cap && this->has_overflow()) return FlatIter<Core, Const>(this, this->overflow().begin());
        return FlatIter<Core, Const>(this, i);
    }

    template <bool Const>
    FlatIter<Core, Const> last() const noexcept {
        if (this->has_overflow()) return FlatIter<Core, Const>(this, this->overflow().end());
        return FlatIter<Core, Const>(this, this->capacity());
    }

    template <bool Const, class Lookup>
    FlatIter<Core, Const> locate(const Lookup& lookup) const noexcept {
        Place place{};
        if (!this->find_place(lookup, place)) return last<Const>();
        return FlatIter<Core, Const>(this, place);
    }
};

// A table is a pointer to its block and a few numbers: nothing in it points
// into itself, so a table holding tables can shift them as bytes.
template <class Policy, class Hash>
struct RelocatesByCopy<FlatTable<Policy, Hash>> : std::true_type {};

// What a walk over a map of inner tables fetches ahead of its visits.
struct Fetch {
    template <class Table>
    [[gnu::always_inline]] static void entries(const Table& table) noexcept {
        table.fetch_entries();
    }
};

}  // namespace tovra::flat_detail
