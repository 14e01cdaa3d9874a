// The hash containers every collection of a diff is built from. Kept behind
// these names so the container layout can change in one place.
//
// Flat open-addressing tables: one allocation per non-empty table, none for
// an empty one, iteration order a function of the keys and of the operations
// only, and a bounded probe with a deterministic fallback for keys chosen to
// collide (see flat_table.hpp). An insertion or erasure may move the other
// entries of the same table, so no reference into a table is kept across a
// change to it.
#pragma once

#include "diff/flat_map.hpp"
#include "diff/flat_set.hpp"

namespace tovra {

template <class Key, class Value, class Hash>
using HashMap = FlatMap<Key, Value, Hash>;

template <class Key, class Hash>
using HashSet = FlatSet<Key, Hash>;

using flat_detail::HashedKey;

}  // namespace tovra
