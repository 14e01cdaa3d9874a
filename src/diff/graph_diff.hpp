// One batch of changes to a directed, weighted graph, with the rules by which
// a later change merges with or cancels an earlier one.
//
// Generic over the node id, the node update (merged with +=) and the weight
// (copied, never compared). The module uses one instantiation, `UuidGraphDiff`.
#pragma once

#include <cstddef>
#include <utility>

#include "common/result.hpp"
#include "diff/hash_containers.hpp"
#include "diff/inline_first.hpp"
#include "diff/uuid.hpp"
#include "node_update/node_update.hpp"

namespace tovra {

enum class DiffError {
    // add_edge named a node that this diff records as deleted.
    end_node_deleted,
};

template <class Id, class Weight, class Hash>
struct EdgeDiff {
    // Most sources of a sparse graph have one target: it is held in the
    // source's own entry, and a table is made only for a second.
    using TargetWeights = InlineFirst<HashMap<Id, Weight, Hash>>;
    using TargetSet = InlineFirst<HashSet<Id, Hash>>;

    // Both indexed by source only: there is no index by target.
    HashMap<Id, TargetWeights, Hash> new_or_updated_edges;
    HashMap<Id, TargetSet, Hash> deleted_edges;
};

template <class Id, class Update, class Weight, class Hash>
class GraphDiff {
public:
    using Edges = EdgeDiff<Id, Weight, Hash>;
    using NodeMap = HashMap<Id, Update, Hash>;
    using NodeSet = HashSet<Id, Hash>;
    using TargetWeights = typename Edges::TargetWeights;
    using TargetSet = typename Edges::TargetSet;

    GraphDiff() = default;

    // Takes four collections as they are, without the rules of the operations:
    // a decoded diff is kept exactly as it was read.
    GraphDiff(NodeMap nodes, NodeSet deleted, Edges edges) noexcept
        : new_or_updated_nodes_(std::move(nodes)),
          deleted_nodes_(std::move(deleted)),
          edges_(std::move(edges)) {}

    void add_or_update_node(const Id& id, Update update) {
        // One probe either way: the update is moved in only when the id is
        // new, and is merged into the one there otherwise. The node is no
        // longer deleted.
        upsert_and_erase(
            new_or_updated_nodes_, hashed(id), std::move(update),
            [](Update& held, Update&& later) { held += std::move(later); }, deleted_nodes_);
    }

    void delete_node(const Id& id) {
        auto& pending = edges_.new_or_updated_edges;
        const HashedKey<Id> node = hashed(id);
        // The node is recorded deleted, its update dropped, and so are its
        // pending edges out...
        insert_and_erase(deleted_nodes_, node, new_or_updated_nodes_, pending);
        // ...while pending edges into it become recorded deletions. The
        // emptied source entries stay (they still count); only delete_edge,
        // clear or a new add_edge on that source touches them again.
        //
        // This visits every source, so it is the one operation whose cost
        // grows with the diff.
        pending.for_each_probing_inner(node, [&](auto& source) {
            if (source.second.contains(node)) [[unlikely]] pending_to_deleted(source, node);
        });
    }

    Result<Done, DiffError> add_edge(const Id& from, const Id& to, Weight weight) {
        const HashedKey<Id> source = hashed(from);
        const HashedKey<Id> target = hashed(to);
        fetch_probes(source, edges_.new_or_updated_edges, edges_.deleted_edges);
        if (deleted_nodes_.contains(source) || deleted_nodes_.contains(target)) {
            return fail(DiffError::end_node_deleted);
        }
        auto deleted = edges_.deleted_edges.find(source);
        if (deleted != edges_.deleted_edges.end()) {
            deleted->second.erase(target);
            if (deleted->second.empty()) edges_.deleted_edges.erase(deleted);
        }
        inner_table(edges_.new_or_updated_edges, source, target).insert_or_assign(target, weight);
        return Done{};
    }

    void delete_edge(const Id& from, const Id& to) {
        auto& deleted = edges_.deleted_edges;
        auto& pending = edges_.new_or_updated_edges;
        const HashedKey<Id> source = hashed(from);
        const HashedKey<Id> target = hashed(to);
        auto found = find_with_inner(pending, source, target, deleted);
        inner_table(deleted, source, target).insert(target);
        if (found != pending.end()) {
            found->second.erase(target);
            // Also drops a map that delete_node had already emptied.
            if (found->second.empty()) pending.erase(found);
        }
    }

    void clear() noexcept {
        new_or_updated_nodes_.clear();
        deleted_nodes_.clear();
        edges_.new_or_updated_edges.clear();
        edges_.deleted_edges.clear();
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

private:
    // The pending edge from `source` to `target` becomes a recorded
    // deletion. Out of line: delete_node asks every source, and few hold
    // the target.
    template <class Source>
    [[gnu::noinline]] void pending_to_deleted(Source& source, const HashedKey<Id>& target) {
        edges_.deleted_edges[source.first].insert(target);
        source.second.erase(target);
    }

    // An id hashed once for the several tables its operation probes.
    static HashedKey<Id> hashed(const Id& id) noexcept { return {id, Hash{}.primary(id)}; }

    NodeMap new_or_updated_nodes_;
    NodeSet deleted_nodes_;
    Edges edges_;
};

using UuidGraphDiff = GraphDiff<Uuid, NodeUpdate, float, UuidHash>;
using UuidEdgeDiff = UuidGraphDiff::Edges;

}  // namespace tovra
