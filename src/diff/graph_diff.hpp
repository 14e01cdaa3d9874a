// One batch of changes to a directed, weighted graph, with the rules by which
// a later change merges with or cancels an earlier one.
//
// Generic over the node id, the node update (merged with +=), the weight
// (copied, never compared) and the tables, so that the benchmark runs the
// same rules over other tables; the module uses `UuidGraphDiff`. `Tables`
// gives `Key`, made by `Tables::key(id)` (an id as the tables look it up,
// which may carry its hash, worked out once for every table an operation
// probes); `Map<V>` and `Set`, keyed by node id; and `InnerMap<V>` and
// `InnerSet`, the targets of one source. Each table takes a `Key` or an id
// in find, contains, erase, try_emplace, insert_or_assign and insert; how
// the steps over several tables overlap their probes is table_ops.hpp's.
#pragma once

#include <cstddef>
#include <utility>

#include "common/result.hpp"
#include "common/uuid.hpp"
#include "diff/sources_by_target.hpp"
#include "node_update/node_update.hpp"
#include "tables/tables.hpp"

namespace tovra {

enum class DiffError {
    // add_edge named a node that this diff records as deleted.
    end_node_deleted,
};

template <class Id, class Weight, class Tables>
struct EdgeDiff {
    using TargetWeights = typename Tables::template InnerMap<Weight>;
    using TargetSet = typename Tables::InnerSet;

    // Both indexed by source; delete_node finds sources by target through
    // an index of its own (sources_by_target.hpp).
    typename Tables::template Map<TargetWeights> new_or_updated_edges;
    typename Tables::template Map<TargetSet> deleted_edges;
};

template <class Id, class Update, class Weight, class Tables>
class GraphDiff {
public:
    using Edges = EdgeDiff<Id, Weight, Tables>;
    using NodeMap = typename Tables::template Map<Update>;
    using NodeSet = typename Tables::Set;
    using TargetWeights = typename Edges::TargetWeights;
    using Key = typename Tables::Key;

    GraphDiff() = default;

    // Takes four collections as they are, without the rules of the operations:
    // a decoded diff is kept exactly as it was read. An index, if ever, is
    // built from what it holds.
    GraphDiff(NodeMap nodes, NodeSet deleted, Edges edges) noexcept
        : new_or_updated_nodes_(std::move(nodes)),
          deleted_nodes_(std::move(deleted)),
          edges_(std::move(edges)),
          pending_edges_known_(false) {}

    void add_or_update_node(const Id& id, Update update) {
        // One probe either way: the update is moved in when the id is new,
        // merged into the one there otherwise; the node is no longer deleted.
        upsert_and_erase(
            new_or_updated_nodes_, Tables::key(id), std::move(update),
            [](Update& held, Update&& later) { held += std::move(later); }, deleted_nodes_);
    }

    void delete_node(const Id& id) {
        auto& pending = edges_.new_or_updated_edges;
        const Key node = Tables::key(id);
        // With no pending edges there is nothing to index, nor to scan.
        if (into_.built() || (!pending.empty() && into_.build_instead_of_scan(pending, pending_edges()))) {
            return delete_node_indexed(node);
        }
        // The node is recorded deleted, its update dropped, and so are its
        // pending edges out...
        pending_edges_ -= insert_erase_and_take(deleted_nodes_, node, pending, new_or_updated_nodes_).size();
        // ...while pending edges into it become recorded deletions. The
        // emptied source entries stay (they still count); only delete_edge,
        // clear or a new add_edge on that source touches them again.
        for_each_holding(pending, node, [&](auto& source) { pending_to_deleted(source, node); });
    }

    Result<Done, DiffError> add_edge(const Id& from, const Id& to, Weight weight) {
        auto& pending = edges_.new_or_updated_edges;
        const Key source = Tables::key(from);
        const Key target = Tables::key(to);
        if (deleted_nodes_.contains(source) || deleted_nodes_.contains(target)) {
            return fail(DiffError::end_node_deleted);
        }
        // The edge is pending, no longer a recorded deletion. Allocating
        // steps first, the erasure last: a failure leaves the diff as it was.
        if (into_.built()) [[unlikely]] {
            pending_edges_ += into_.add_pending(pending, source, target, weight);
            erase_inner(edges_.deleted_edges, edges_.deleted_edges.find(source), target);
        } else {
            pending_edges_ += put_and_erase_inner(pending, edges_.deleted_edges, source, target, weight).first;
        }
        return Done{};
    }

    void delete_edge(const Id& from, const Id& to) {
        auto& pending = edges_.new_or_updated_edges;
        const Key source = Tables::key(from);
        const Key target = Tables::key(to);
        // The edge is a recorded deletion, no longer pending; a source
        // entry that delete_node had already emptied goes too.
        if (put_and_erase_inner(edges_.deleted_edges, pending, source, target).second) {
            --pending_edges_;
            if (into_.built()) into_.remove(target, source, pending);
        }
    }

    void clear() noexcept {
        new_or_updated_nodes_.clear();
        deleted_nodes_.clear();
        edges_.new_or_updated_edges.clear();
        edges_.deleted_edges.clear();
        pending_edges_ = 0;
        pending_edges_known_ = true;
        into_.reset();
    }

    // Counts of entries, not of edges: a source with several targets counts
    // once, and an emptied source entry still counts.
    std::size_t node_count() const noexcept {
        return new_or_updated_nodes_.size() + deleted_nodes_.size();
    }
    std::size_t edge_count() const noexcept {
        return edges_.new_or_updated_edges.size() + edges_.deleted_edges.size();
    }

    const NodeMap& new_or_updated_nodes() const noexcept { return new_or_updated_nodes_; }
    const NodeSet& deleted_nodes() const noexcept { return deleted_nodes_; }
    const Edges& edges() const noexcept { return edges_; }

    // Whether delete_node has built its index of sources by target yet: for
    // tests and benchmarks that must know which path they exercise.
    bool indexes_sources_by_target() const noexcept { return into_.built(); }

private:
    // delete_node once the index pays: the same steps, with the sources
    // that hold a pending edge into the node taken from the index.
    void delete_node_indexed(const Key& node) {
        auto& pending = edges_.new_or_updated_edges;
        // Built before anything changes: building may throw.
        if (!into_.built()) into_.build(pending);
        // Out of the map first: the index asks the map which sources still
        // hold each target.
        const TargetWeights targets = insert_erase_and_take(deleted_nodes_, node, pending, new_or_updated_nodes_);
        pending_edges_ -= targets.size();
        into_.remove_source(node, targets, pending);
        into_.forget_all(node, pending, [&](auto& source) { pending_to_deleted(source, node); });
    }

    // The pending edge from `source` to `target` becomes a recorded deletion.
    template <class Source>
    void pending_to_deleted(Source& source, const Key& target) {
        edges_.deleted_edges[source.first].insert(target);
        pending_edges_ -= source.second.erase(target);
    }

    // The pending edges, counted by a walk (spent as delete_node's scans
    // are) the first time a decoded diff is asked.
    std::uint64_t pending_edges() noexcept {
        if (!pending_edges_known_) [[unlikely]] count_pending_edges();
        return pending_edges_;
    }
    [[gnu::cold]] void count_pending_edges() noexcept {
        const auto& pending = edges_.new_or_updated_edges;
        pending_edges_ = 0;
        for (const auto& source : pending) pending_edges_ += source.second.size();
        pending_edges_known_ = true;
        into_.spend_count(pending.size());
    }

    NodeMap new_or_updated_nodes_;
    NodeSet deleted_nodes_;
    Edges edges_;
    // Pending edges in all, kept by the operations so that delete_node can
    // price a scan and a build without a walk; unknown for a decoded diff
    // until first asked. Only the count's users read it; before it is
    // known, what the operations add and take off is discarded.
    std::uint64_t pending_edges_ = 0;
    bool pending_edges_known_ = true;
    SourcesByTarget<Tables> into_;   // for delete_node, once it pays
};

// A node's update owns its texts' heap blocks through plain pointers and
// never points into itself (node_update/optional_text.hpp), so the node
// table grows and shifts its slots as bytes.
template <>
struct flat_detail::RelocatesByCopy<NodeUpdate> : std::true_type {};

using UuidTables = FlatTables<Uuid, UuidHash>;
using UuidGraphDiff = GraphDiff<Uuid, NodeUpdate, float, UuidTables>;
using UuidEdgeDiff = UuidGraphDiff::Edges;

}  // namespace tovra
