// Boost's generic flat hash tables as the containers of the module's diff:
// the same-work yardstick of the benchmarks (same_work.cpp, and the sweep of
// delete_node in bench/delete_node_sweep.cpp). Needs Boost 1.81 or newer.
#pragma once

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include <cstddef>

#include "diff/sources_by_target.hpp"
#include "common/uuid.hpp"

namespace tovra::same_work {

// An id with its hash worked out once: the rules make one per operation and
// hand it to every table that operation probes, as the module's tables take
// a key that carries its hash.
struct HashedId {
    Uuid id;
    std::size_t hash;
    operator const Uuid&() const noexcept { return id; }  // what a table stores
};

// The module's fixed hash of the 16 bytes. Its last steps already spread
// every input bit over the whole word, so Boost is told not to mix it again,
// which it would otherwise do on every probe.
struct IdHash {
    using is_avalanching = void;
    using is_transparent = void;
    std::size_t operator()(const Uuid& id) const noexcept {
        return static_cast<std::size_t>(UuidHash{}.primary(id));
    }
    std::size_t operator()(const HashedId& key) const noexcept { return key.hash; }
};

struct IdEqual {
    using is_transparent = void;
    bool operator()(const Uuid& a, const Uuid& b) const noexcept { return a == b; }
    bool operator()(const HashedId& a, const Uuid& b) const noexcept { return a.id == b; }
    bool operator()(const Uuid& a, const HashedId& b) const noexcept { return a == b.id; }
    bool operator()(const HashedId& a, const HashedId& b) const noexcept { return a.id == b.id; }
};

// Boost's tables as the diff's containers. Boost offers no prefetch, so the
// rules simply probe them; a source's targets are a table of their own from
// the first one, as Boost has no small-table form.
struct BoostTables : SourceIdRefs<Uuid> {
    using Key = HashedId;
    static Key key(const Uuid& id) noexcept { return {id, IdHash{}(id)}; }

    template <class Value>
    using Map = boost::unordered_flat_map<Uuid, Value, IdHash, IdEqual>;
    using Set = boost::unordered_flat_set<Uuid, IdHash, IdEqual>;
    template <class Value>
    using InnerMap = Map<Value>;
    using InnerSet = Set;

    using SourceRefs = Set;
};

}  // namespace tovra::same_work
