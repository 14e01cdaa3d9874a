// The probe core of the open-addressing table behind FlatMap and FlatSet. The
// interface built on it is flat_table.hpp; its iterator, flat_table_iterator.hpp.
//
// Its design and layout are described in tables.hpp.
//
// Sections, in reading order: construction and ownership; the block's
// geometry; lookup; prefetch and walks; insertion; erasure; growth,
// allocation and release.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/little_endian.hpp"
#include "tables/flat_table_policies.hpp"
#include "tables/table_memory.hpp"

namespace tovra::flat_detail {

template <class Core, bool Const>
class FlatIter;
struct Fetch;
struct TableInspector;

template <class Policy, class Hash>
class FlatCore {
public:
    using key_type = typename Policy::key_type;
    using value_type = typename Policy::value_type;

    // The farthest an entry may sit from its home slot. The control byte of
    // a slot holds its entry's distance + 1 (0: empty), so this must stay
    // below 255; it is also the most slots any lookup inspects.
    static constexpr unsigned max_distance = 127;

protected:
    template <class, bool>
    friend class FlatIter;
    friend struct Fetch;
    friend struct TableInspector;

    using Overflow = typename Policy::Overflow;
    using OverflowIter = typename Overflow::iterator;

    // How far ahead of what is being visited a walk fetches what a later
    // visit will read (in slots of the table walked, or in items of a run of
    // probes): far enough to cover a miss to memory with the work of the
    // visits in between, near enough that what is fetched is still in the
    // cache when its turn comes.
    static constexpr std::size_t walk_ahead = 16;

    // ---------------------------------------------------------------------
    // Construction and ownership

    FlatCore() noexcept = default;

    FlatCore(const FlatCore& other) : FlatCore() {
        if (other.block_ == nullptr) return;
        FlatCore copy;
        copy.allocate(other.class_);
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

    FlatCore(FlatCore&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          class_(std::exchange(other.class_, 0)),
          flags_(std::exchange(other.flags_, 0)) {}

    FlatCore& operator=(const FlatCore& other) {
        if (this != &other) {
            FlatCore copy(other);
            swap(copy);
        }
        return *this;
    }

    FlatCore& operator=(FlatCore&& other) noexcept {
        if (this != &other) {
            FlatCore taken(std::move(other));
            swap(taken);
        }
        return *this;
    }

    ~FlatCore() { release(); }

    void swap(FlatCore& other) noexcept {
        std::swap(block_, other.block_);
        std::swap(size_, other.size_);
        std::swap(class_, other.class_);
        std::swap(flags_, other.flags_);
    }

    // ---------------------------------------------------------------------
    // The block's geometry

    // Where a probe for a key ended: the key's slot, or where it would go
    // (`distance` is then the control byte it would get: distance + 1).
    struct Spot {
        std::size_t index;
        unsigned distance;
        bool found;
    };

    // Where an entry is: a slot below the capacity; from the capacity on, a
    // position in the overflow.
    struct Place {
        std::size_t index;
        OverflowIter overflow;
    };

    static constexpr std::uint8_t strong_flag = 1;
    static constexpr std::uint8_t overflow_flag = 2;

    // A table this small may fill every slot. Inner tables (one per entry of
    // an outer map) hold two to a few dozen keys: kept full they take less
    // memory (at ten keys per inner table, 38.8 bytes per key against
    // 42.4 when only tables of four slots filled up) and regrow less often,
    // and a miss in a full table still stops within `full_up_to + 1`
    // control bytes, one cache line (no entry is farther from home).
    static constexpr std::size_t full_up_to = 16;

    static constexpr std::size_t max_load(std::size_t cap) noexcept {
        if (cap <= full_up_to) return cap;
        return cap - cap / 8;
    }

    // The capacity of each class, smallest first (see grown_class for which
    // one a full table grows to). The tiny ones step by a slot up to four
    // (most inner tables hold one to three keys), then by four, so that a
    // table of ten keys is made four times, not six. From 16 on, 2^k and
    // 1.5 x 2^k alternate. All stay below 2^32, as the home slot's
    // arithmetic needs.
    static constexpr std::size_t class_count = 62;
    static constexpr std::array<std::uint32_t, class_count> capacities = [] {
        std::array<std::uint32_t, class_count> caps{1, 2, 3, 4, 8, 12, 16};
        for (std::size_t c = 7; c < class_count; ++c) {
            caps[c] = c % 2 == 1 ? caps[c - 1] / 2 * 3 : caps[c - 2] * 2;
        }
        return caps;
    }();
    static_assert(capacities[class_count - 1] == 3u << 30, "the largest class stays below 2^32");

    static_assert(max_distance + 1 < 255);
    static_assert(std::is_nothrow_move_constructible_v<value_type>,
                  "entries are moved while other entries are inserted or erased");
    static_assert(alignof(value_type) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    static_assert(alignof(Overflow*) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

    // The block, as drawn at the top of this file.
    static constexpr std::size_t round_up(std::size_t bytes, std::size_t to) noexcept {
        return (bytes + to - 1) / to * to;
    }
    static constexpr std::size_t slots_offset(std::size_t cap) noexcept {
        return round_up(cap, alignof(value_type));
    }
    static constexpr std::size_t overflow_offset(std::size_t cap) noexcept {
        return round_up(slots_offset(cap) + cap * sizeof(value_type), alignof(Overflow*));
    }
    // Only a run of more than `max_distance` entries sends a key to the
    // overflow, so a table too small to hold one never has an overflow and
    // its block keeps no room for the overflow's address.
    static constexpr bool has_overflow_room(std::size_t cap) noexcept { return max_load(cap) > max_distance; }
    static constexpr std::size_t block_bytes(std::size_t cap) noexcept {
        if (has_overflow_room(cap)) return overflow_offset(cap) + sizeof(Overflow*);
        return slots_offset(cap) + cap * sizeof(value_type);
    }

    // The smallest class with room for `count` entries.
    static unsigned class_for(std::size_t count) {
        for (unsigned c = 0; c < class_count; ++c) {
            if (max_load(capacities[c]) >= count) return c;
        }
        throw std::length_error("hash table too large");
    }

    static std::size_t max_size() noexcept { return std::numeric_limits<std::uint32_t>::max(); }

    std::size_t capacity() const noexcept { return block_ == nullptr ? 0 : capacities[class_]; }
    bool strong() const noexcept { return (flags_ & strong_flag) != 0; }
    bool has_overflow() const noexcept { return (flags_ & overflow_flag) != 0; }
    std::size_t overflow_size() const noexcept { return has_overflow() ? overflow().size() : 0; }

    // These need the block: only for a table that has one.
    std::size_t slot_count() const noexcept { return capacities[class_]; }
    std::size_t after(std::size_t i) const noexcept { return i + 1 == slot_count() ? 0 : i + 1; }
    value_type* slots() const noexcept { return reinterpret_cast<value_type*>(block_ + slots_offset(slot_count())); }
    std::uint8_t* control() const noexcept { return reinterpret_cast<std::uint8_t*>(block_); }
    // Only for a table with room for it (has_overflow_room).
    Overflow*& overflow_slot() const noexcept {
        return *reinterpret_cast<Overflow**>(block_ + overflow_offset(slot_count()));
    }
    Overflow& overflow() const noexcept { return *overflow_slot(); }

    std::size_t main_size() const noexcept { return size_ - overflow_size(); }

    // ---------------------------------------------------------------------
    // Lookup

    // The lookups take a key or a key with its primary hash (`Lookup`): the
    // two differ only in where the probe starts.
    static const key_type& lookup_key(const key_type& key) noexcept { return key; }
    static const key_type& lookup_key(const HashedKey<key_type>& hashed) noexcept { return hashed.key; }

    // Both factors are below 2^32, so the product fits 64 bits on any host.
    std::size_t home_of(std::uint64_t h) const noexcept {
        return static_cast<std::size_t>(((h >> 32) * capacities[class_]) >> 32);
    }
    // The hash the table now places `key` by.
    std::uint64_t hash(const key_type& key) const noexcept {
        return strong() ? Hash{}.strong(key) : Hash{}.primary(key);
    }
    std::size_t home(const key_type& key) const noexcept { return home_of(hash(key)); }
    std::size_t home(const HashedKey<key_type>& hashed) const noexcept {
        return home_of(strong() ? Hash{}.strong(hashed.key) : hashed.primary);
    }

    template <class Lookup>
    Spot probe(const Lookup& lookup) const noexcept {
        return probe_from(lookup_key(lookup), home(lookup));
    }

    // Robin Hood lookup: entries of one cluster are in order of home slot, so
    // the search ends at the first entry closer to its home than the key
    // would be, and a key is compared only where the distances agree.
    Spot probe_from(const key_type& key, std::size_t start) const noexcept {
        const std::uint8_t* ctrl = control();
        std::size_t i = start;
        for (unsigned d = 1;; ++d, i = after(i)) {
            const unsigned c = ctrl[i];
            if (c < d) return {i, d, false};
            if (c == d && Policy::key_of(slots()[i]) == key) return {i, d, true};
        }
    }

    // Where a key known to be absent goes.
    Spot probe_absent(const key_type& key) const noexcept {
        const std::uint8_t* ctrl = control();
        std::size_t i = home(key);
        unsigned d = 1;
        while (ctrl[i] >= d) {
            ++d;
            i = after(i);
        }
        return {i, d, false};
    }

    // Where `lookup`'s key is, if it is in the table.
    template <class Lookup>
    bool find_place(const Lookup& lookup, Place& place) const noexcept {
        if (block_ == nullptr) return false;
        const Spot spot = probe(lookup);
        if (spot.found) {
            place.index = spot.index;
            return true;
        }
        if (!has_overflow()) return false;
        place.overflow = overflow().find(lookup_key(lookup));
        if (place.overflow == overflow().end()) return false;
        place.index = capacity();
        return true;
    }

    template <class Lookup>
    bool holds(const Lookup& lookup) const noexcept {
        if (block_ == nullptr) return false;
        if constexpr (reads_control_at_once) {
            // A small table has no overflow.
            if (slot_count() <= full_up_to) return holds_small(lookup_key(lookup), home(lookup));
        }
        if (probe(lookup).found) return true;
        return has_overflow() && overflow().count(lookup_key(lookup)) != 0;
    }

    // Whether a small table's lookup can read its control bytes sixteen at
    // a time: with SSE2, and where the sixteen bytes from any slot's control
    // byte on lie within the block (slots of 15 bytes or more see to that).
#if defined(__SSE2__)
    static constexpr bool reads_control_at_once = sizeof(value_type) >= 15;
#else
    static constexpr bool reads_control_at_once = false;
#endif

    // The lookup of `probe_from` in a table of at most `full_up_to` slots,
    // for a caller that asks many tables for a key most of them lack (a walk
    // asking every inner table): where the probe stops, and which slots on the
    // way hold an entry as far from home as the key would be, come from
    // compares of sixteen control bytes at once, so that a miss costs no
    // branch per slot, whose outcome no predictor learns over tables of
    // random keys. A probe that would wrap past the last slot takes the
    // plain path.
    bool holds_small(const key_type& key, std::size_t start) const noexcept {
#if defined(__SSE2__)
        if constexpr (reads_control_at_once) {
            const std::uint8_t* ctrl = control();
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ctrl + start));
            // Lane i holds i + 1: the control byte of an entry i slots past
            // the key's home, that far from its own.
            const __m128i distance = _mm_setr_epi8(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
            // Control bytes of a small table stay below 17: signed compares serve.
            const unsigned in_table = (1u << (slot_count() - start)) - 1;
            const unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(bytes, distance))) & in_table;
            if (stops != 0) [[likely]] {
                unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, distance)));
                same &= (stops & (0u - stops)) - 1;
                // Mostly none or one such slot: the first is compared
                // whether or not there is one (the home slot stands in,
                // fetched already), so that neither case branches.
                const unsigned first = same != 0 ? static_cast<unsigned>(std::countr_zero(same)) : 0;
                bool found = (same != 0) & (Policy::key_of(slots()[start + first]) == key);
                for (same &= same - 1; same != 0; same &= same - 1) {
                    found |= Policy::key_of(slots()[start + static_cast<unsigned>(std::countr_zero(same))]) == key;
                }
                return found;
            }
        }
#endif
        return probe_from(key, start).found;
    }

    // ---------------------------------------------------------------------
    // Prefetch and walks

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
        __builtin_prefetch(block_);
        __builtin_prefetch(slots());
    }

    // Visits every entry in iteration order, and before each visit hands
    // `ahead` an entry about `walk_ahead` slots further on: room to fetch
    // what the visit of a later entry needs.
    // Neither may insert into or erase from this table. A visit returning
    // bool stops the walk with false. `Self` is the table, const or not, and
    // the entries are as const as it is.
    template <class Self, class Visit, class Ahead>
    static void walk(Self& self, Visit& visit, Ahead& ahead) {
        using Entry = std::conditional_t<std::is_const_v<Self>, const value_type, value_type>;
        using Entries = std::conditional_t<std::is_const_v<Self>, const Overflow, Overflow>;
        if (self.block_ == nullptr) return;
        const std::size_t cap = self.capacity();
        const std::uint8_t* ctrl = self.control();
        Entry* slot = self.slots();
        auto keep_going = [&visit](Entry& entry) {
            if constexpr (std::is_void_v<std::invoke_result_t<Visit&, Entry&>>) {
                visit(entry);
                return true;
            } else {
                return static_cast<bool>(visit(entry));
            }
        };
        if constexpr (std::is_same_v<std::remove_cvref_t<Ahead>, NothingAhead>) {
            for (std::size_t base = 0; base < cap; base += group) {
                for (std::uint64_t bits = taken(ctrl, cap, base); bits != 0; bits &= bits - 1) {
                    if (!keep_going(slot[base + first_taken(bits)])) return;
                }
            }
        } else if (!walk_leading(self, ahead, keep_going)) {
            return;
        }
        if (self.has_overflow()) {
            Entries& overflow = self.overflow();
            for (Entry& entry : overflow) {
                if (!keep_going(entry)) return;
            }
        }
    }

    // For a walk whose visits fetch nothing ahead.
    struct NothingAhead {
        template <class Entry>
        void operator()(const Entry&) const noexcept {}
    };

    // The slots of walk, with a second cursor, started `walk_ahead` slots
    // on, that hands `ahead` one entry for each entry visited, so that the
    // fetches are spread as evenly as the visits. False if a visit stopped it.
    template <class Self, class Ahead, class KeepGoing>
    static bool walk_leading(Self& self, Ahead& ahead, KeepGoing& keep_going) {
        const std::size_t cap = self.capacity();
        const std::uint8_t* ctrl = self.control();
        auto* slot = self.slots();
        std::size_t lead_base = walk_ahead;
        std::uint64_t lead_bits = lead_base < cap ? taken(ctrl, cap, lead_base) : 0;
        for (std::size_t base = 0; base < cap; base += group) {
            for (std::uint64_t bits = taken(ctrl, cap, base); bits != 0; bits &= bits - 1) {
                while (lead_bits == 0 && lead_base + group < cap) {
                    lead_base += group;
                    lead_bits = taken(ctrl, cap, lead_base);
                }
                if (lead_bits != 0) {
                    ahead(slot[lead_base + first_taken(lead_bits)]);
                    lead_bits &= lead_bits - 1;
                }
                if (!keep_going(slot[base + first_taken(bits)])) return false;
            }
        }
        return true;
    }

    // A walk finds the taken slots from eight control bytes at a time: it
    // then branches once per entry, not once per slot on whether the slot is
    // taken, a branch no predictor can learn in a table of random keys.
    static constexpr std::size_t group = 8;
    static_assert(walk_ahead % group == 0, "a walk fetches whole groups ahead");

    // The high bit of byte k set where slot base + k is taken. A table of
    // fewer than eight slots is read byte by byte.
    static std::uint64_t taken(const std::uint8_t* ctrl, std::size_t cap, std::size_t base) noexcept {
        std::uint64_t bytes = 0;
        if (cap - base >= group) {
            bytes = load_le<std::uint64_t>(ctrl + base);
        } else {
            for (std::size_t k = 0; base + k < cap; ++k) bytes |= std::uint64_t{ctrl[base + k]} << (8 * k);
        }
        constexpr std::uint64_t low7 = 0x7f7f7f7f7f7f7f7fULL;
        return (((bytes & low7) + low7) | bytes) & ~low7;
    }
    static std::size_t first_taken(std::uint64_t bits) noexcept {
        return static_cast<std::size_t>(std::countr_zero(bits)) / 8;
    }

    // ---------------------------------------------------------------------
    // Insertion

    // Inserts `key` with a value made from `args`, the key being absent from
    // the slots: `spot` is where its probe ended there (unset when the table
    // has no block yet). The key may still be in the overflow, and then the
    // arguments are untouched. Out of line: the common case, a key already
    // there, is a probe inlined into the caller.
    template <class... Args>
    [[gnu::noinline]] std::pair<Place, bool> emplace_absent(Spot spot, const key_type& key, Args&&... args) {
        if (has_overflow()) {
            auto hit = overflow().find(key);
            if (hit != overflow().end()) return {Place{capacity(), hit}, false};
        }
        if (size_ == max_size()) throw std::length_error("hash table is full");
        bool spot_valid = block_ != nullptr;
        for (;;) {
            if (main_size() + 1 > max_load(capacity())) {
                rehash(block_ == nullptr ? 0 : grown_class(), strong());
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
                return {Place{spot.index, {}}, true};
            }
            if (!strong()) {
                rehash(class_, true);
                spot_valid = false;
                continue;
            }
            Overflow& overflow = make_overflow();
            try {
                auto placed = Policy::overflow_emplace(overflow, key, std::forward<Args>(args)...);
                ++size_;
                return {Place{capacity(), placed}, true};
            } catch (...) {
                drop_overflow_if_empty();
                throw;
            }
        }
    }

    static void relocate(value_type* slot, std::size_t from, std::size_t to) noexcept {
        if constexpr (Policy::relocates_by_copy) {
            std::memcpy(static_cast<void*>(slot + to), static_cast<const void*>(slot + from), sizeof(value_type));
        } else {
            ::new (static_cast<void*>(slot + to)) value_type(std::move(slot[from]));
            slot[from].~value_type();
        }
    }

    // Shifts the run that starts at `at` one slot on, leaving slot `at`
    // unconstructed; refuses, changing nothing, if that would put any entry
    // (the new one included) past `max_distance`.
    //
    // This and close_gap read the geometry once: a control byte written
    // through a byte pointer may alias the table's fields as far as the
    // compiler knows, so each step would otherwise look the capacity up again.
    bool make_room(std::size_t at, unsigned distance) noexcept {
        if (distance > max_distance + 1) return false;
        std::uint8_t* ctrl = control();
        value_type* slot = slots();
        const std::size_t cap = slot_count();
        std::size_t end = at;
        while (ctrl[end] != 0) {
            if (ctrl[end] == max_distance + 1) return false;
            end = end + 1 == cap ? 0 : end + 1;
        }
        if constexpr (Policy::relocates_by_copy) {
            // A run that does not wrap moves as one block of bytes.
            if (end > at) {
                std::memmove(static_cast<void*>(slot + at + 1), static_cast<const void*>(slot + at),
                             (end - at) * sizeof(value_type));
                for (; end != at; --end) ctrl[end] = static_cast<std::uint8_t>(ctrl[end - 1] + 1);
                return true;
            }
        }
        while (end != at) {
            const std::size_t from = (end == 0 ? cap : end) - 1;
            relocate(slot, from, end);
            ctrl[end] = static_cast<std::uint8_t>(ctrl[from] + 1);
            end = from;
        }
        return true;
    }

    // Backward shift into the unconstructed slot `hole`: the entries after
    // it move one slot back until one is at its home or a slot is empty. The
    // exact inverse of make_room.
    void close_gap(std::size_t hole) noexcept {
        std::uint8_t* ctrl = control();
        value_type* slot = slots();
        const std::size_t cap = slot_count();
        std::size_t next = hole + 1 == cap ? 0 : hole + 1;
        while (ctrl[next] > 1) {
            relocate(slot, next, hole);
            ctrl[hole] = static_cast<std::uint8_t>(ctrl[next] - 1);
            hole = next;
            next = next + 1 == cap ? 0 : next + 1;
        }
        ctrl[hole] = 0;
    }

    // ---------------------------------------------------------------------
    // Erasure

    template <class Lookup>
    std::size_t erase_found(const Lookup& lookup) noexcept {
        if (block_ == nullptr) return 0;
        const Spot spot = probe(lookup);
        if (spot.found) {
            erase_slot(spot.index);
            return 1;
        }
        if (!has_overflow()) return 0;
        const std::size_t erased = overflow().erase(lookup_key(lookup));
        if (erased != 0) {
            --size_;
            drop_overflow_if_empty();
        }
        return erased;
    }

    void erase_place(const Place& place) noexcept {
        if (place.index < capacity()) {
            erase_slot(place.index);
            return;
        }
        overflow().erase(place.overflow);
        --size_;
        drop_overflow_if_empty();
    }

    void erase_slot(std::size_t index) noexcept {
        slots()[index].~value_type();
        close_gap(index);
        --size_;
    }

    // ---------------------------------------------------------------------
    // Growth, allocation and release

    void allocate(unsigned size_class) {
        const std::size_t cap = capacities[size_class];
        const std::size_t limit = std::numeric_limits<std::size_t>::max() - 2 * alignof(value_type) - 8;
        if (cap > limit / (sizeof(value_type) + 1)) throw std::length_error("hash table too large");
        block_ = static_cast<char*>(table_memory::allocate(block_bytes(cap)));
        class_ = static_cast<std::uint8_t>(size_class);
        if (has_overflow_room(cap)) ::new (static_cast<void*>(&overflow_slot())) Overflow*(nullptr);
        std::memset(control(), 0, cap);
    }

    // Frees everything: the table holds no memory and is back on the
    // primary hash, exactly like a new one.
    void release() noexcept {
        if (block_ == nullptr) return;
        if constexpr (!std::is_trivially_destructible_v<value_type>) {
            const std::uint8_t* ctrl = control();
            value_type* slot = slots();
            for (std::size_t i = 0, cap = capacity(); i < cap; ++i) {
                if (ctrl[i] != 0) slot[i].~value_type();
            }
        }
        if (has_overflow()) delete overflow_slot();
        table_memory::release(block_, block_bytes(capacity()));
        block_ = nullptr;
        size_ = 0;
        class_ = 0;
        flags_ = 0;
    }

    Overflow& make_overflow() {
        if (!has_overflow()) {
            // Unreachable by the arithmetic of has_overflow_room; kept so that
            // a mistake there fails loudly instead of writing past the block.
            if (!has_overflow_room(capacity())) throw std::logic_error("overflow in a small table");
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

    // Room for `count` entries without growing.
    void reserve(std::size_t count) {
        if (count > max_load(capacity())) rehash(class_for(count), strong());
    }

    // Past the tiny classes a table doubles (two classes on) while its block
    // is small: it lives in the cache, where moving entries is most of what
    // growing costs. A block large enough to be mapped on its own takes
    // every class (1.5 or 4/3): that is where the memory goes, and where an
    // insertion's misses outweigh the extra moves.
    unsigned grown_class() const {
        const unsigned step =
            capacities[class_] >= full_up_to && block_bytes(capacities[class_]) < table_memory::large_block ? 2 : 1;
        if (class_ + step >= class_count) throw std::length_error("hash table too large");
        return class_ + step;
    }

    // A rehash fills the new table in home order. Homes follow the hash in
    // both tables, so from the first slot past the entries of a cluster
    // wrapped around from the end, the old slots come in home order and most
    // entries just go after the last one placed, with no probe and nothing
    // to shift. The rest (keys of one home there and of two here, a run
    // reaching the end) are inserted as usual.
    //
    // The new block's geometry is read once, here: every control byte
    // written through a byte pointer may alias the table's own fields as
    // far as the compiler knows, so a member read per entry would be a
    // reload (and a capacity looked up again) per entry.
    struct Filling {
        std::uint8_t* ctrl;
        value_type* slots;
        std::uint64_t cap;
        bool strong;
        std::size_t last_home = 0;
        std::size_t next = 0;  // the first free slot after the last one placed in order
    };

    Filling start_filling() const noexcept { return {control(), slots(), slot_count(), strong()}; }

    std::size_t first_in_home_order() const noexcept {
        std::size_t first = 0;
        while (first < capacity() && control()[first] > first + 1) ++first;
        return first;
    }

    // Where the next entry of a rehash goes, with room made there; false,
    // changing nothing, if that would put an entry past the bound.
    bool room_for(const key_type& key, Filling& filling, Spot& spot) noexcept {
        const std::size_t cap = static_cast<std::size_t>(filling.cap);
        // As home(key), with the geometry read once.
        const std::uint64_t hash = filling.strong ? Hash{}.strong(key) : Hash{}.primary(key);
        const std::size_t home = static_cast<std::size_t>(((hash >> 32) * filling.cap) >> 32);
        spot = {std::max(home, filling.next), 0, false};
        spot.distance = static_cast<unsigned>(spot.index - home + 1);
        const bool in_order = home >= filling.last_home && spot.index < cap;
        if (in_order) {
            if (spot.distance > max_distance + 1) return false;
            filling.last_home = home;
            filling.next = spot.index + 1;
        } else {
            spot = probe_absent(key);
            if (!make_room(spot.index, spot.distance)) return false;
            if (spot.index == filling.next) ++filling.next;
        }
        while (filling.next < cap && filling.ctrl[filling.next] != 0) ++filling.next;
        return true;
    }

    // Places an entry taken from another table during a rehash. A table on
    // the primary hash refuses one that would sit past the bound, and then
    // false is returned with the entry untouched: the rehash starts over on
    // the strong hash, as an insertion would. A table already on the strong
    // hash puts it in the overflow. Either happens only to keys chosen to
    // collide: capacities are not powers of two, so growing can move an
    // entry a slot farther from home, but never near the bound with random
    // keys.
    template <class Taken>
    bool place(Taken&& entry, Filling& filling) {
        Spot spot;
        if (room_for(Policy::key_of(entry), filling, spot)) {
            ::new (static_cast<void*>(filling.slots + spot.index)) value_type(std::forward<Taken>(entry));
            filling.ctrl[spot.index] = static_cast<std::uint8_t>(spot.distance);
        } else if (strong()) {
            make_overflow().emplace(std::forward<Taken>(entry));
        } else {
            return false;
        }
        ++size_;
        return true;
    }

    // Moves every slot entry into a new block of the given class under the
    // chosen hash, or under the strong hash if the primary one would break
    // the bound. The overflow is handed over as it is (its keys stay there
    // until they are erased or the table is cleared).
    void rehash(unsigned size_class, bool use_strong) {
        if (!rehash_as(size_class, use_strong)) rehash_as(size_class, true);
    }

    // The old slots are left standing, keys intact, until the new table is
    // complete, so if an allocation for the overflow fails, or the primary
    // hash refuses an entry (then false is returned), every value can be
    // given back and the table is left as it was.
    bool rehash_as(unsigned size_class, bool use_strong) {
        FlatCore fresh;
        fresh.allocate(size_class);
        if (use_strong) fresh.flags_ |= strong_flag;
        Filling filling = fresh.start_filling();
        const std::size_t cap = capacity();
        const std::uint8_t* ctrl = control();
        // A table growing from empty has no block to find slots in.
        value_type* old = block_ == nullptr ? nullptr : slots();
        try {
            for (std::size_t k = 0, i = first_in_home_order(); k < cap; ++k, i = i + 1 == cap ? 0 : i + 1) {
                if (ctrl[i] != 0 && !fresh.place(Policy::take(old[i]), filling)) {
                    give_back(fresh);
                    return false;
                }
            }
        } catch (...) {
            give_back(fresh);
            throw;
        }
        if (has_overflow()) {
            Overflow* kept = std::exchange(overflow_slot(), nullptr);
            flags_ &= static_cast<std::uint8_t>(~overflow_flag);
            if (fresh.has_overflow()) {  // only when switching to the strong hash
                kept->merge(fresh.overflow());
                delete fresh.overflow_slot();
            }
            fresh.overflow_slot() = kept;
            fresh.flags_ |= overflow_flag;
        }
        fresh.size_ = size_;
        swap(fresh);  // `fresh` now owns the old block and destroys it
        return true;
    }

    // Gives each value taken by a failed rehash back to its old slot.
    void give_back(FlatCore& fresh) noexcept {
        if constexpr (Policy::is_map) {
            const std::uint8_t* ctrl = fresh.control();
            for (std::size_t i = 0, cap = fresh.capacity(); i < cap; ++i) {
                if (ctrl[i] == 0) continue;
                value_type& entry = fresh.slots()[i];
                Policy::give_back(slots()[probe(Policy::key_of(entry)).index], entry);
            }
            if (fresh.has_overflow()) {
                for (value_type& entry : fresh.overflow()) {
                    Policy::give_back(slots()[probe(Policy::key_of(entry)).index], entry);
                }
            }
        }
    }

    // A control byte per slot, the slots, then the overflow's address (see
    // block_bytes).
    char* block_ = nullptr;
    std::uint32_t size_ = 0;  // slots and overflow together
    std::uint8_t class_ = 0;  // capacities[class_] slots once block_ is set
    std::uint8_t flags_ = 0;
};

}  // namespace tovra::flat_detail
