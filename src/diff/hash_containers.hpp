// The hash containers every collection of a diff is built from. Kept behind
// these names so the container layout can change in one place.
//
// Flat open-addressing tables: one allocation per non-empty table, none for
// an empty one, iteration order a function of the keys and of the operations
// only, and a bounded probe with a deterministic fallback for keys chosen to
// collide (see flat_table.hpp). An insertion or erasure may move the other
// entries of the same table, so no reference into a table is kept across a
// change to it.
//
// `Hash` is stateless and gives two 64-bit hashes of a key, `primary` and
// `strong`; keys also need == and < (the overflow is ordered by <).
#pragma once

#include <stdexcept>
#include <utility>

#include "diff/flat_table.hpp"

namespace tovra {

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

    // Same as try_emplace: the value is not built when the key is there.
    template <class M>
    std::pair<iterator, bool> emplace(const Key& key, M&& value) {
        return this->emplace_key(key, std::forward<M>(value));
    }

    template <class M>
    std::pair<iterator, bool> insert_or_assign(const Key& key, M&& value) {
        auto result = this->emplace_key(key, std::forward<M>(value));
        // Not inserted: the value was not used, so it can still be assigned.
        if (!result.second) result.first->second = std::forward<M>(value);
        return result;
    }

    Value& operator[](const Key& key) { return this->emplace_key(key).first->second; }

    Value& at(const Key& key) { return const_cast<Value&>(std::as_const(*this).at(key)); }
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
    std::pair<typename Base::iterator, bool> emplace(const Key& key) { return this->emplace_key(key); }
};

template <class Key, class Value, class Hash>
using HashMap = FlatMap<Key, Value, Hash>;

template <class Key, class Hash>
using HashSet = FlatSet<Key, Hash>;

using flat_detail::HashedKey;

}  // namespace tovra
