// For delete_node: which sources hold a pending edge into a node, so that
// turning those edges into recorded deletions costs the node's own edges
// instead of a visit to every source.
//
// The index is made only when it pays. Until then each delete_node scans
// the sources, and the scans' work is counted; once what they have cost
// would exceed what building the index costs (about one step per pending
// edge and per source), the index is built from what the diff holds and
// kept exact from then on. This is ski rental: a diff that deletes few
// nodes never pays for the index, and one that deletes many pays at most
// about twice what the better choice, known in advance, would have cost.
//
// The order in which a delete_node meets the sources then comes from the
// index instead of the pending edges' table: still a function of the ids
// and of the operations, as is whether the index exists.
//
// Allocation failure: building happens before the diff changes, into a
// fresh table swapped in at the end; an update that throws leaves the
// index as it was (see add) or drops it (see forget_all), and a dropped
// index is rebuilt later from what the diff holds. It is never trusted
// beyond what it was kept exact through.
#pragma once

#include <cstddef>
#include <utility>

#include "diff/table_ops.hpp"

namespace tovra {

template <class Tables>
class SourcesByTarget {
public:
    using Key = typename Tables::Key;

    bool built() const noexcept { return built_; }

    // Whether a delete_node facing `pending`, a map of sources to their
    // target tables, should build the index rather than scan it: once the
    // scans so far and this one would cost more than the building.
    // Otherwise the scan is counted as spent.
    //
    // What building costs is counted only when the scans have used up what
    // it cost when last counted: the count is a walk like a scan, and is
    // counted as one.
    template <class Pending>
    bool build_instead_of_scan(const Pending& pending) noexcept {
        const std::size_t sources = pending.size();
        if (spent_ + sources > building_) [[unlikely]] {
            count_building(pending);
            if (spent_ + sources > building_) return true;
        }
        spent_ += sources;
        return false;
    }

    // Builds the index from `pending`, a map of sources to their target
    // tables. If that throws, nothing has changed.
    template <class Pending>
    [[gnu::noinline]] void build(const Pending& pending) {
        Index made;
        made.reserve(pending.size());
        for (const auto& [source, targets] : pending) {
            for (const auto& target : targets) made[key_of(target)].insert(source);
        }
        index_.swap(made);
        built_ = true;
    }

    // Back to no index and nothing spent, as for a new diff.
    void reset() noexcept {
        index_.clear();
        built_ = false;
        spent_ = 0;
        building_ = 0;
    }

    // Starts on what add or remove of `target` reads first, so that the
    // index's miss overlaps the diff's own instead of following them.
    [[gnu::always_inline]] void prefetch(const Key& target) const noexcept {
        if (built_) tovra::prefetch(index_, target);
    }

    // `source` now has a pending edge into `target`. If this throws, the
    // index is as it was.
    void add(const Key& target, const Key& source) {
        auto [entry, inserted] = index_.try_emplace(target);
        try {
            entry->second.insert(source);
        } catch (...) {
            if (inserted) index_.erase(target);
            throw;
        }
    }

    // `source` no longer has a pending edge into `target`.
    template <class SourceKey>
    void remove(const Key& target, const SourceKey& source) noexcept {
        auto entry = index_.find(target);
        if (entry == index_.end()) return;
        entry->second.erase(source);
        if (entry->second.empty()) index_.erase(entry);
    }

    // `source`'s pending edges, the targets of `targets`, are all gone.
    template <class SourceKey, class Targets>
    void remove_source(const SourceKey& source, const Targets& targets) noexcept {
        for (const auto& target : targets) remove(Tables::key(key_of(target)), source);
    }

    // Hands `move` each source with a pending edge into `target`, then
    // forgets them all. `move` may change the diff but not the index; if it
    // throws, the index is dropped (some sources handed over already) and
    // the exception passed on.
    template <class Move>
    void forget_all(const Key& target, Move&& move) {
        auto entry = index_.find(target);
        if (entry == index_.end()) return;
        try {
            for (const auto& source : entry->second) move(source);
        } catch (...) {
            reset();
            throw;
        }
        index_.erase(entry);
    }

private:
    template <class Pending>
    [[gnu::noinline]] void count_building(const Pending& pending) noexcept {
        building_ = pending.size();
        for (const auto& source : pending) building_ += source.second.size();
        spent_ += pending.size();
    }

    using Index = typename Tables::template Map<typename Tables::InnerSet>;

    // A target as a map holds it (an entry) or as a set does (the id).
    template <class Entry>
    static const auto& key_of(const Entry& entry) noexcept {
        if constexpr (requires { entry.first; }) {
            return entry.first;
        } else {
            return entry;
        }
    }

    Index index_;
    bool built_ = false;
    std::size_t spent_ = 0;     // visits of source entries by scans so far
    std::size_t building_ = 0;  // sources and edges, when last counted
};

}  // namespace tovra
