// The hash containers every collection of a diff is built from. Kept behind
// these names so the container layout can change in one place.
#pragma once

#include <unordered_map>
#include <unordered_set>

namespace tovra {

template <class Key, class Value, class Hash>
using HashMap = std::unordered_map<Key, Value, Hash>;

template <class Key, class Hash>
using HashSet = std::unordered_set<Key, Hash>;

}  // namespace tovra
