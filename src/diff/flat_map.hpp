// A hash map of keys to values on the flat table (see flat_table.hpp for the
// layout, the order of iteration and what happens with colliding keys).
//
// `Hash` is stateless and gives two 64-bit hashes of a key, `primary` and
// `strong`; keys also need == and < (the overflow is ordered by <).
#pragma once

#include <initializer_list>
#include <stdexcept>
#include <utility>

#include "diff/flat_table.hpp"

namespace tovra {

template <class Key, class Value, class Hash>
class FlatMap : public flat_detail::FlatTable<flat_detail::MapPolicy<Key, Value>, Hash> {
    using Base = flat_detail::FlatTable<flat_detail::MapPolicy<Key, Value>, Hash>;

public:
    using mapped_type = Value;
    using typename Base::const_iterator;
    using typename Base::iterator;
    using typename Base::key_type;
    using typename Base::value_type;

    FlatMap() noexcept = default;

    FlatMap(std::initializer_list<value_type> entries) {
        this->reserve(entries.size());
        for (const value_type& entry : entries) try_emplace(entry.first, entry.second);
    }

    // Constructs the value from `args` only if the key is new; otherwise the
    // arguments are left untouched.
    template <class... Args>
    std::pair<iterator, bool> try_emplace(const key_type& key, Args&&... args) {
        return this->emplace_key(key, std::forward<Args>(args)...);
    }

    // Same as try_emplace: the value is not built when the key is there.
    template <class M>
    std::pair<iterator, bool> emplace(const key_type& key, M&& value) {
        return this->emplace_key(key, std::forward<M>(value));
    }

    template <class M>
    std::pair<iterator, bool> insert_or_assign(const key_type& key, M&& value) {
        auto result = this->emplace_key(key, std::forward<M>(value));
        // Not inserted: the value was not used, so it can still be assigned.
        if (!result.second) result.first->second = std::forward<M>(value);
        return result;
    }

    Value& operator[](const key_type& key) { return this->emplace_key(key).first->second; }

    Value& at(const key_type& key) {
        auto found = this->find(key);
        if (found == this->end()) throw std::out_of_range("FlatMap::at: no such key");
        return found->second;
    }
    const Value& at(const key_type& key) const {
        auto found = this->find(key);
        if (found == this->end()) throw std::out_of_range("FlatMap::at: no such key");
        return found->second;
    }
};

}  // namespace tovra
