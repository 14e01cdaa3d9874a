// A hash set of keys on the flat table (see flat_table.hpp for the layout,
// the order of iteration and what happens with colliding keys).
//
// `Hash` is stateless and gives two 64-bit hashes of a key, `primary` and
// `strong`; keys also need == and < (the overflow is ordered by <).
#pragma once

#include <initializer_list>
#include <utility>

#include "diff/flat_table.hpp"

namespace tovra {

template <class Key, class Hash>
class FlatSet : public flat_detail::FlatTable<flat_detail::SetPolicy<Key>, Hash> {
    using Base = flat_detail::FlatTable<flat_detail::SetPolicy<Key>, Hash>;

public:
    using typename Base::const_iterator;
    using typename Base::iterator;
    using typename Base::key_type;
    using typename Base::value_type;

    FlatSet() noexcept = default;

    FlatSet(std::initializer_list<Key> keys) {
        this->reserve(keys.size());
        for (const Key& key : keys) insert(key);
    }

    std::pair<iterator, bool> insert(const key_type& key) { return this->emplace_key(key); }
    std::pair<iterator, bool> emplace(const key_type& key) { return this->emplace_key(key); }
};

}  // namespace tovra
