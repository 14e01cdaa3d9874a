// What a map and a set of the flat table (flat_table_core.hpp) differ in,
// and the key with its hash worked out once that lookups may take instead
// of a key.
#pragma once

#include <cstdint>
#include <map>
#include <new>
#include <set>
#include <tuple>
#include <type_traits>
#include <utility>

namespace tovra::flat_detail {

// Whether an object may be moved to another address by copying its bytes,
// the old bytes then being forgotten instead of destroyed: true when nothing
// in it points into itself and its address is not recorded anywhere. Then
// the entries a table shifts aside on an insertion or erasure move as plain
// bytes instead of by a move and a destructor each. A type says so by
// specialising this; the trivially copyable ones need not.
template <class T>
struct RelocatesByCopy : std::is_trivially_copyable<T> {};

template <class A, class B>
struct RelocatesByCopy<std::pair<A, B>>
    : std::bool_constant<RelocatesByCopy<std::remove_const_t<A>>::value && RelocatesByCopy<B>::value> {};

// What differs between a map and a set: the slot type, where its key is, how
// a new slot is made and what the overflow is.
template <class K, class V>
struct MapPolicy {
    static constexpr bool is_map = true;
    using key_type = K;
    using value_type = std::pair<const K, V>;
    using Overflow = std::map<K, V>;
    static constexpr bool relocates_by_copy = RelocatesByCopy<value_type>::value;

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
    static constexpr bool relocates_by_copy = RelocatesByCopy<K>::value;

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
// in many tables that share the hash (one probe per inner table in a walk).
template <class Key>
struct HashedKey {
    const Key& key;
    std::uint64_t primary;
};

}  // namespace tovra::flat_detail
