// A FlatMap or FlatSet (tables.hpp) that holds its first entry in
// place, inside the object, and makes a table only for a second key.
//
// Made for inner tables, one per entry of an outer map, where most hold a
// single key: held in the outer entry's own slot, that key costs
// no allocation, no regrowth and no second cache miss on a later call. The
// object is 24 bytes, 8 more than a table, which the first allocation saved
// repays many times over.
//
// A table's keys are also summed up in a word of bits kept in the object,
// in bytes the table leaves free (where a map's entry is larger than a
// table): each key sets one of 32 bits picked from its bytes. A lookup of a
// key whose bit is clear answers "absent" without reading the table, which
// is what a walk asking every inner table for one key needs, and which mostly is the
// answer. Bits are never cleared by an erasure, and an insertion that goes
// around this object (with_room) sets them all: the summary may say
// "perhaps" for a key that is absent, never "absent" for one that is there.
//
// Iteration order: the entry held in place alone; once a table is made, the
// table's order. The table stays, even when erasing leaves one key or none,
// so the order remains a function of the keys and of the operations applied.
// As with the tables, a change may move entries: no reference or iterator
// survives one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "tables/flat_table.hpp"

namespace tovra {

namespace flat_detail {
struct TableInspector;
}

template <class Table>
class InlineFirst {
    template <bool Const>
    class Iter;

public:
    using key_type = typename Table::key_type;
    using value_type = typename Table::value_type;
    using size_type = std::size_t;
    using hasher = typename Table::hasher;
    static constexpr bool is_map = !std::is_same_v<key_type, value_type>;
    using iterator = Iter<!is_map>;
    using const_iterator = Iter<true>;

    InlineFirst() noexcept = default;

    InlineFirst(std::initializer_list<value_type> entries) {
        for (const value_type& entry : entries) {
            if constexpr (is_map) {
                try_emplace(entry.first, entry.second);
            } else {
                insert(entry);
            }
        }
    }

    InlineFirst(const InlineFirst& other) {
        if (other.mode_ == Mode::one) {
            ::new (storage()) value_type(other.one());
        } else if (other.mode_ == Mode::table) {
            ::new (storage()) Table(other.table());
            set_summary(other.summary());
        }
        mode_ = other.mode_;
    }

    InlineFirst(InlineFirst&& other) noexcept { take(other); }

    InlineFirst& operator=(const InlineFirst& other) {
        if (this != &other) {
            InlineFirst copy(other);
            *this = std::move(copy);
        }
        return *this;
    }

    InlineFirst& operator=(InlineFirst&& other) noexcept {
        if (this != &other) {
            clear();
            take(other);
        }
        return *this;
    }

    ~InlineFirst() { clear(); }

    size_type size() const noexcept {
        switch (mode_) {
            case Mode::one: return 1;
            case Mode::table: return table().size();
            default: return 0;
        }
    }
    bool empty() const noexcept { return size() == 0; }

    iterator begin() noexcept { return first<!is_map>(); }
    iterator end() noexcept { return last<!is_map>(); }
    const_iterator begin() const noexcept { return first<true>(); }
    const_iterator end() const noexcept { return last<true>(); }

    template <class Lookup>
    bool contains(const Lookup& lookup) const noexcept {
        if (mode_ == Mode::one) return key_of(one()) == key_from(lookup);
        return mode_ == Mode::table && perhaps_holds(key_from(lookup)) && table().contains(lookup);
    }
    size_type count(const key_type& key) const noexcept { return contains(key) ? 1 : 0; }

    iterator find(const key_type& key) noexcept { return locate<!is_map>(key); }
    const_iterator find(const key_type& key) const noexcept { return locate<true>(key); }

    size_type erase(const key_type& key) noexcept { return erase_key(key); }
    size_type erase(const flat_detail::HashedKey<key_type>& hashed) noexcept { return erase_key(hashed); }

    // Returns nothing, as the table's erase by position does.
    void erase(const_iterator position) noexcept {
        if (mode_ == Mode::table) {
            table().erase(position.in_table_);
        } else if (mode_ == Mode::one && position.one_ == &one()) {
            one().~value_type();
            mode_ = Mode::none;
        }
    }

    // Frees everything: back to an empty object, like a new one.
    void clear() noexcept {
        if (mode_ == Mode::one) {
            one().~value_type();
        } else if (mode_ == Mode::table) {
            table().~Table();
        }
        mode_ = Mode::none;
    }

    // Room for `count` entries without growing: more than one needs the
    // table.
    void reserve(size_type count) {
        if (mode_ == Mode::table) {
            table().reserve(count);
        } else if (count > 1) {
            spill(count);
        }
    }

    // Makes room for `count` entries and hands `fill` what to put them in:
    // this object, or for more than one entry the table itself, so that a
    // long run of insertions goes straight to the table. Returns what `fill`
    // returns.
    template <class Fill>
    decltype(auto) with_room(size_type count, Fill&& fill) {
        reserve(count);
        if (mode_ == Mode::table) {
            set_summary(~std::uint32_t{0});  // what `fill` inserts goes around it
            return fill(table());
        }
        return fill(*this);
    }

    // Set: inserts the key if it is new.
    template <class Lookup>
    std::pair<iterator, bool> insert(const Lookup& lookup)
        requires(!is_map)
    {
        return emplace_key(lookup);
    }

    // Map: as FlatMap's members of the same names.
    template <class Lookup, class... Args>
    std::pair<iterator, bool> try_emplace(const Lookup& lookup, Args&&... args)
        requires is_map
    {
        return emplace_key(lookup, std::forward<Args>(args)...);
    }
    template <class Lookup, class M>
    std::pair<iterator, bool> insert_or_assign(const Lookup& lookup, M&& value)
        requires is_map
    {
        auto result = emplace_key(lookup, std::forward<M>(value));
        // Not inserted: the value was not used, so it can still be assigned.
        if (!result.second) result.first->second = std::forward<M>(value);
        return result;
    }
    auto& operator[](const key_type& key)
        requires is_map
    {
        if (mode_ == Mode::table) {
            set_summary(summary() | summary_bit(key));
            return table()[key];
        }
        return emplace_key(key).first->second;
    }
    const auto& at(const key_type& key) const
        requires is_map
    {
        auto found = find(key);
        if (found == end()) throw std::out_of_range("InlineFirst::at: no such key");
        return found->second;
    }

    // False when `hashed` is certainly not here, from what this object holds
    // alone (the entry held in place, or the summary of the table's keys):
    // a caller asking many objects can then skip most without a miss.
    bool may_contain(const flat_detail::HashedKey<key_type>& hashed) const noexcept {
        if (mode_ == Mode::one) return key_of(one()) == hashed.key;
        return mode_ == Mode::table && perhaps_holds(hashed.key);
    }

    // As the table's: nothing to fetch for an entry held in place, which
    // came with the object.
    [[gnu::always_inline]] void prefetch(const flat_detail::HashedKey<key_type>& hashed) const noexcept {
        if (mode_ == Mode::table && perhaps_holds(hashed.key)) table().prefetch(hashed);
    }

    friend bool operator==(const InlineFirst& a, const InlineFirst& b) {
        return flat_detail::same_entries<is_map>(a, b, key_of);
    }

private:
    friend struct flat_detail::Fetch;
    friend struct flat_detail::TableInspector;

    enum class Mode : std::uint8_t { none, one, table };

    template <bool Const>
    class Iter {
        using Entry = std::conditional_t<Const, const typename Table::value_type, typename Table::value_type>;
        using TableIter = std::conditional_t<Const, typename Table::const_iterator, typename Table::iterator>;

    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = typename Table::value_type;
        using difference_type = std::ptrdiff_t;
        using reference = Entry&;
        using pointer = Entry*;

        Iter() noexcept = default;
        template <bool OtherConst, class = std::enable_if_t<Const && !OtherConst>>
        Iter(const Iter<OtherConst>& other) noexcept : one_(other.one_), in_table_(other.in_table_) {}

        reference operator*() const noexcept { return one_ != nullptr ? *one_ : *in_table_; }
        pointer operator->() const noexcept { return &**this; }
        Iter& operator++() noexcept {
            if (one_ != nullptr) {
                one_ = nullptr;
            } else {
                ++in_table_;
            }
            return *this;
        }
        friend bool operator==(const Iter& a, const Iter& b) noexcept {
            return a.one_ == b.one_ && a.in_table_ == b.in_table_;
        }

    private:
        friend class InlineFirst;
        template <bool>
        friend class Iter;

        explicit Iter(Entry* one) noexcept : one_(one) {}
        explicit Iter(TableIter in_table) noexcept : in_table_(in_table) {}

        // The entry held in place, until stepped past; else a position in
        // the table (value-initialized when there is none).
        Entry* one_ = nullptr;
        TableIter in_table_{};
    };

    static const key_type& key_of(const value_type& entry) noexcept {
        if constexpr (is_map) {
            return entry.first;
        } else {
            return entry;
        }
    }
    static const key_type& key_from(const key_type& key) noexcept { return key; }
    static const key_type& key_from(const flat_detail::HashedKey<key_type>& hashed) noexcept { return hashed.key; }

    // The summary of a table's keys, in the bytes of the object past the
    // table: only where the entry held in place is the larger, and only for
    // keys of 16 plain bytes (an id); otherwise every key may be there.
    static constexpr bool has_summary = std::is_trivially_copyable_v<key_type> && sizeof(key_type) == 16 &&
                                        sizeof(value_type) >= sizeof(Table) + sizeof(std::uint32_t);
    static std::uint32_t summary_bit(const key_type& key) noexcept {
        if constexpr (has_summary) {
            std::uint64_t words[2];
            std::memcpy(words, static_cast<const void*>(&key), sizeof(words));
            return std::uint32_t{1} << ((words[0] ^ words[1]) * 0x9e3779b97f4a7c15ULL >> 59);
        } else {
            return ~std::uint32_t{0};
        }
    }
    std::uint32_t summary() const noexcept {
        if constexpr (has_summary) {
            std::uint32_t bits;
            std::memcpy(&bits, storage_ + sizeof(Table), sizeof(bits));
            return bits;
        } else {
            return ~std::uint32_t{0};
        }
    }
    void set_summary(std::uint32_t bits) noexcept {
        if constexpr (has_summary) std::memcpy(storage_ + sizeof(Table), &bits, sizeof(bits));
    }
    // For a table: false if the key is certainly not in it.
    bool perhaps_holds(const key_type& key) const noexcept { return (summary() & summary_bit(key)) != 0; }

    void* storage() noexcept { return static_cast<void*>(storage_); }
    value_type& one() noexcept { return *std::launder(reinterpret_cast<value_type*>(storage_)); }
    const value_type& one() const noexcept { return *std::launder(reinterpret_cast<const value_type*>(storage_)); }
    Table& table() noexcept { return *std::launder(reinterpret_cast<Table*>(storage_)); }
    const Table& table() const noexcept { return *std::launder(reinterpret_cast<const Table*>(storage_)); }

    // Moves what `other` holds into this empty object, leaving `other` empty.
    void take(InlineFirst& other) noexcept {
        if (other.mode_ == Mode::one) {
            ::new (storage()) value_type(std::move(other.one()));
        } else if (other.mode_ == Mode::table) {
            ::new (storage()) Table(std::move(other.table()));
            set_summary(other.summary());
        }
        mode_ = other.mode_;
        other.clear();
    }

    // Makes the table, with room for `count` entries, moving the entry held
    // in place into it. If making it throws, nothing has changed.
    void spill(size_type count = 2) {
        if (mode_ == Mode::table) return;
        Table made;
        made.reserve(count);
        std::uint32_t bits = 0;
        if (mode_ == Mode::one) {
            bits = summary_bit(key_of(one()));
            if constexpr (is_map) {
                made.try_emplace(one().first, std::move(one().second));
            } else {
                made.insert(one());
            }
            one().~value_type();
        }
        ::new (storage()) Table(std::move(made));
        set_summary(bits);
        mode_ = Mode::table;
    }

    template <class Lookup>
    size_type erase_key(const Lookup& lookup) noexcept {
        if (mode_ == Mode::one) {
            if (!(key_of(one()) == key_from(lookup))) return 0;
            one().~value_type();
            mode_ = Mode::none;
            return 1;
        }
        return mode_ == Mode::table ? table().erase(lookup) : 0;
    }

    template <class Lookup, class... Args>
    std::pair<iterator, bool> emplace_key(const Lookup& lookup, Args&&... args) {
        if (mode_ == Mode::table) return in_table(lookup, std::forward<Args>(args)...);
        if (mode_ == Mode::none) {
            if constexpr (is_map) {
                ::new (storage()) value_type(std::piecewise_construct, std::forward_as_tuple(key_from(lookup)),
                                             std::forward_as_tuple(std::forward<Args>(args)...));
            } else {
                ::new (storage()) value_type(key_from(lookup));
            }
            mode_ = Mode::one;
            return {iterator(&one()), true};
        }
        if (key_of(one()) == key_from(lookup)) return {iterator(&one()), false};
        spill();
        return in_table(lookup, std::forward<Args>(args)...);
    }

    template <class Lookup, class... Args>
    [[gnu::always_inline]] std::pair<iterator, bool> in_table(const Lookup& lookup, Args&&... args) {
        set_summary(summary() | summary_bit(key_from(lookup)));
        if constexpr (is_map) {
            auto [position, inserted] = table().try_emplace(lookup, std::forward<Args>(args)...);
            return {iterator(position), inserted};
        } else {
            auto [position, inserted] = table().insert(lookup);
            return {iterator(position), inserted};
        }
    }

    template <bool Const>
    Iter<Const> first() const noexcept {
        auto* self = const_cast<InlineFirst*>(this);
        if (mode_ == Mode::one) return Iter<Const>(&self->one());
        if (mode_ == Mode::table) return Iter<Const>(typename Iter<Const>::TableIter(self->table().begin()));
        return Iter<Const>();
    }
    template <bool Const>
    Iter<Const> last() const noexcept {
        auto* self = const_cast<InlineFirst*>(this);
        if (mode_ == Mode::table) return Iter<Const>(typename Iter<Const>::TableIter(self->table().end()));
        return Iter<Const>();
    }
    template <bool Const>
    Iter<Const> locate(const key_type& key) const noexcept {
        auto* self = const_cast<InlineFirst*>(this);
        if (mode_ == Mode::one) {
            return key_of(one()) == key ? Iter<Const>(&self->one()) : Iter<Const>();
        }
        if (mode_ == Mode::table) return Iter<Const>(typename Iter<Const>::TableIter(self->table().find(key)));
        return Iter<Const>();
    }

    [[gnu::always_inline]] void fetch_entries() const noexcept {
        if (mode_ == Mode::table) flat_detail::Fetch::entries(table());
    }

    static constexpr std::size_t storage_bytes = sizeof(value_type) > sizeof(Table) ? sizeof(value_type)
                                                                                   : sizeof(Table);
    alignas(alignof(value_type) > alignof(Table) ? alignof(value_type) : alignof(Table))
        unsigned char storage_[storage_bytes];
    Mode mode_ = Mode::none;
};

namespace flat_detail {
// Either an entry or a table, in place, and a byte saying which.
template <class Table>
struct RelocatesByCopy<InlineFirst<Table>>
    : std::bool_constant<RelocatesByCopy<typename Table::value_type>::value && RelocatesByCopy<Table>::value> {};
}  // namespace flat_detail

}  // namespace tovra
