// For delete_node: which sources hold a pending edge into a node, so that
// turning those edges into recorded deletions costs the node's own edges
// instead of a visit to every source.
//
// The index is made only when it pays. Until then each delete_node scans
// the sources, and what the scans cost is counted; once what they have cost
// would exceed what building the index costs, the index is built from what
// the diff holds and kept exact from then on. This is ski rental: a diff
// that deletes few nodes never pays for the index, and one that deletes many
// pays at most about twice what the better choice, known in advance, would
// have cost. That bound holds only if a scan and a build are priced in the
// same unit: both come from IndexCost (index_cost.hpp), whose constants are
// measured, from the counts of sources and pending edges.
//
// Tables whose index keeps RefBags build it in one pass over the pending
// edges (index_gathering.hpp), with every target's array of sources in one
// block that the index owns; others insert edge by edge.
//
// The order in which a delete_node meets the sources then comes from the
// index instead of the pending edges' table: still a function of the ids
// and of the operations, as is whether the index exists.
//
// What the index holds per source is the tables' choice (`Tables::SourceRef`):
// the module's tables keep a source's hash, half the bytes of its id, and
// find the source again in the map of pending edges from it. Since sources
// may share a reference, a reference stays while any source it may mean
// holds a pending edge into the target, and every source found from it is
// asked for the target. A reference lasts while the map places sources by
// the same hash (`Tables::ref_scheme`); when hostile keys change that, the
// index is dropped and built again by the next delete_node that needs it.
//
// Allocation failure: building happens before the diff changes, into a
// fresh table swapped in at the end; an update that throws leaves the
// index as it was (see add) or drops it (see forget_all), and a dropped
// index is rebuilt later from what the diff holds. It is never trusted
// beyond what it was kept exact through.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "diff/index_cost.hpp"
#include "diff/index_gathering.hpp"
#include "tables/tables.hpp"

namespace tovra {

// For tables whose index keeps a source's id: found again by one lookup,
// never shared. Such tables give `SourceRefs`, a set of ids.
template <class Id>
struct SourceIdRefs {
    using SourceRef = Id;
    static constexpr bool refs_shared = false;
    template <class Pending>
    static Id source_ref(const Pending&, const Id& source) noexcept {
        return source;
    }
    template <class Pending>
    static unsigned ref_scheme(const Pending&) noexcept {
        return 0;
    }
    template <class Pending, class Visit>
    static void for_each_source(Pending& pending, const Id& ref, Visit&& visit) {
        auto found = pending.find(ref);
        if (found != pending.end()) visit(*found);
    }
};

// The module's tables for a diff: a key that carries its primary hash; the
// outer tables, by node id; the inner ones, which hold their first entry in place.
template <class Id, class Hash>
struct FlatTables {
    using Key = HashedKey<Id>;
    static Key key(const Id& id) noexcept { return {id, Hash{}.primary(id)}; }

    template <class Value>
    using Map = FlatMap<Id, Value, Hash>;
    using Set = FlatSet<Id, Hash>;
    template <class Value>
    using InnerMap = InlineFirst<FlatMap<Id, Value, Hash>>;
    using InnerSet = InlineFirst<FlatSet<Id, Hash>>;

    // How the index of sources by target (sources_by_target.hpp) refers to
    // a source: by the hash the map of pending edges places it by, the
    // lowest bit set (RefBag's mark for a number held in place). Half the
    // bytes of an id, and the map finds the source again from it; sources
    // may share a reference, so the index asks each source found whether it
    // holds the target. A reference lasts while `ref_scheme` does.
    using SourceRef = std::uint64_t;
    using SourceRefs = RefBag;
    static constexpr bool refs_shared = true;
    template <class Pending>
    static SourceRef source_ref(const Pending& pending, const Key& source) noexcept {
        return pending.hash_of(source) | 1;
    }
    template <class Pending>
    static unsigned ref_scheme(const Pending& pending) noexcept {
        return pending.hash_generation();
    }
    // Visits each entry of `pending` that `ref` may refer to.
    template <class Pending, class Visit>
    static void for_each_source(Pending& pending, SourceRef ref, Visit&& visit) {
        pending.for_each_with_hash(ref, visit);
    }
};

// When delete_node builds the index: once it pays, as the module does; or,
// for a benchmark that times the two fixed strategies on the same tables,
// never (every call scans) or at the first call. Tables choose with a
// static member `index_build`; without one, once it pays.
enum class IndexBuild { when_it_pays, never, at_first_call };

template <class Tables>
constexpr IndexBuild index_build_of() noexcept {
    if constexpr (requires { Tables::index_build; }) {
        return Tables::index_build;
    } else {
        return IndexBuild::when_it_pays;
    }
}

template <class Tables>
class SourcesByTarget {
public:
    using Key = typename Tables::Key;
    using Ref = typename Tables::SourceRef;

    SourcesByTarget() noexcept = default;
    // A copy's arrays of sources are its own (RefBag copies them out of
    // the block), so the block stays with the original.
    SourcesByTarget(const SourcesByTarget& other)
        : index_(other.index_), built_(other.built_), scheme_(other.scheme_), spent_(other.spent_) {}
    SourcesByTarget(SourcesByTarget&&) noexcept = default;
    SourcesByTarget& operator=(const SourcesByTarget& other) {
        if (this != &other) *this = SourcesByTarget(other);
        return *this;
    }
    SourcesByTarget& operator=(SourcesByTarget&& other) noexcept {
        if (this != &other) {
            drop();
            index_.swap(other.index_);
            block_ = std::move(other.block_);
            built_ = other.built_;
            scheme_ = other.scheme_;
            spent_ = other.spent_;
        }
        return *this;
    }
    ~SourcesByTarget() { drop(); }

    bool built() const noexcept { return built_; }

    // Whether a delete_node facing `pending`, a map of sources to their
    // target tables holding `edges` pending edges in all, should build the
    // index rather than scan: once the scans so far, this one and half of
    // the next would cost more than the building. Otherwise the scan is
    // counted as spent.
    //
    // Building when the scans have spent B - r (B the build, r a scan) is
    // what keeps the worst case lowest, at 2 - r / B times the better fixed
    // choice; the half scan puts the build within half a scan of that point
    // either way, so that an error of up to half a scan in the prices keeps
    // that worst case below 2.
    template <class Pending>
    bool build_instead_of_scan(const Pending& pending, std::uint64_t edges) noexcept {
        if constexpr (index_build_of<Tables>() == IndexBuild::never) return false;
        if constexpr (index_build_of<Tables>() == IndexBuild::at_first_call) return true;
        const std::uint64_t scan = IndexCost::scan(pending.size(), edges);
        if (spent_ + scan + scan / 2 > IndexCost::build(pending.size(), edges)) return true;
        spent_ += scan;
        return false;
    }

    // A walk of the sources to count their edges, spent as the scans are.
    void spend_count(std::uint64_t sources) noexcept { spent_ += IndexCost::count(sources); }

    // Builds the index from `pending`, a map of sources to their target
    // tables. If that throws, nothing has changed.
    template <class Pending>
    [[gnu::noinline]] void build(const Pending& pending) {
        Index made;
        Scratch<std::uint64_t> block;
        if constexpr (std::is_same_v<typename Tables::SourceRefs, RefBag>) {
            try {
                index_gathering::gather<Tables>(pending, made, block);
            } catch (...) {
                made.clear();  // before the block its bags may lie in
                throw;
            }
        } else {
            made.reserve(pending.size());
            for (const auto& [source, targets] : pending) {
                const Ref ref = Tables::source_ref(pending, Tables::key(source));
                for (const auto& target : targets) made[key_of(target)].insert(ref);
            }
        }
        drop();
        index_.swap(made);
        block_ = std::move(block);
        built_ = true;
        scheme_ = Tables::ref_scheme(pending);
    }

    // Back to no index and nothing spent, as for a new diff.
    void reset() noexcept {
        drop();
        spent_ = 0;
    }

    // `source` now has a pending edge into `target` in `pending`. If this
    // throws, the index is as it was.
    template <class Pending>
    void add(const Key& target, const Key& source, const Pending& pending) {
        if (Tables::ref_scheme(pending) != scheme_) [[unlikely]] return drop();
        auto [entry, inserted] = index_.try_emplace(target);
        try {
            entry->second.insert(Tables::source_ref(pending, source));
        } catch (...) {
            if (inserted) index_.erase(target);
            throw;
        }
    }

    // Puts the edge from `source` to `target` with `weight` in `pending`,
    // and in the index if new: whether it is. If either step throws, neither
    // has changed. Out of line, so that add_edge's common path stays short.
    template <class Pending, class Weight>
    [[gnu::noinline]] bool add_pending(Pending& pending, const Key& source, const Key& target, Weight weight) {
        auto [entry, new_source] = pending.try_emplace(source);
        if (!entry->second.insert_or_assign(target, weight).second) return false;
        try {
            add(target, source, pending);
        } catch (...) {
            // The index is apart from the pending edges: `entry` still holds.
            entry->second.erase(target);
            if (new_source) pending.erase(entry);
            throw;
        }
        return true;
    }

    // `source` no longer has a pending edge into `target` in `pending`.
    template <class Pending>
    void remove(const Key& target, const Key& source, Pending& pending) noexcept {
        auto entry = index_.find(target);
        if (entry == index_.end()) return;
        const Ref ref = Tables::source_ref(pending, source);
        if constexpr (Tables::refs_shared) {
            if (any_holding(pending, ref, target)) return;
        }
        entry->second.erase(ref);
        if (entry->second.empty()) index_.erase(entry);
    }

    // `source`, whose targets were `targets`, is gone from `pending`.
    template <class Pending, class Targets>
    void remove_source(const Key& source, const Targets& targets, Pending& pending) noexcept {
        for (const auto& target : targets) remove(Tables::key(key_of(target)), source, pending);
    }

    // Hands `move` each entry of `pending` with a pending edge into
    // `target`, then forgets them all. `move` may change those entries' targets, not
    // `pending` itself or the index; if it throws, the index is dropped (some
    // sources handed over already) and the exception passed on.
    template <class Pending, class Move>
    [[gnu::noinline]] void forget_all(const Key& target, Pending& pending, Move&& move) {
        auto entry = index_.find(target);
        if (entry == index_.end()) return;
        try {
            for_each_ref(entry->second, [&](const Ref& ref) {
                Tables::for_each_source(pending, ref, [&](auto& source) {
                    if (source.second.contains(target)) move(source);
                });
            });
        } catch (...) {
            reset();
            throw;
        }
        index_.erase(entry);
    }

private:
    // Gone, as if never built; what the scans have spent stays spent, so the
    // next delete_node builds it again. The bags go before the block they
    // may lie in.
    void drop() noexcept {
        index_.clear();
        block_ = {};
        built_ = false;
    }

    // Whether a source `ref` may refer to still has a pending edge into `target`.
    template <class Pending>
    static bool any_holding(Pending& pending, const Ref& ref, const Key& target) noexcept {
        bool held = false;
        Tables::for_each_source(pending, ref,
                                [&](const auto& source) { held = held || source.second.contains(target); });
        return held;
    }

    template <class Refs, class Visit>
    static void for_each_ref(const Refs& refs, Visit&& visit) {
        if constexpr (requires { refs.for_each(visit); }) {
            refs.for_each(visit);
        } else {
            for (const auto& ref : refs) visit(ref);
        }
    }

    using Index = typename Tables::template Map<typename Tables::SourceRefs>;

    Index index_;
    Scratch<std::uint64_t> block_;  // arrays of sources laid by the build
    bool built_ = false;
    unsigned scheme_ = 0;         // Tables::ref_scheme of the pending map, when built
    std::uint64_t spent_ = 0;     // what scans and counts have cost so far (IndexCost)
};

}  // namespace tovra
