"""The batch a user would otherwise keep in plain dicts: the same merge and
cancel rules as PyGraphDiff, ids as 16-byte keys, and a reverse index of
pending edges by target so that deleting a node does not visit every source.
The batch benchmark (batch.py) times it against the module; a test holds its
listings to the module's on random batches, so it does the same work."""

from __future__ import annotations


import uuid


def as_text(listings: tuple) -> tuple:
    """Plain listings with their ids as the module's text, order of entries left out: for comparison."""
    def t(node_id: bytes) -> str:
        return str(uuid.UUID(bytes=node_id))
    nodes, deleted, edges, deleted_edges = listings
    return ({t(n): u for n, u in nodes.items()}, sorted(map(t, deleted)),
            {t(s): {t(x): w for x, w in ts.items()} for s, ts in edges.items()},
            {t(s): sorted(map(t, ts)) for s, ts in deleted_edges.items()})


class PlainDiff:
    __slots__ = ("nodes", "deleted", "edges", "deleted_edges", "incoming")

    def __init__(self) -> None:
        self.nodes: dict[bytes, dict] = {}
        self.deleted: set[bytes] = set()
        self.edges: dict[bytes, dict[bytes, float]] = {}
        self.deleted_edges: dict[bytes, set[bytes]] = {}
        self.incoming: dict[bytes, set[bytes]] = {}  # target -> sources with a pending edge into it

    def add_node(self, node: bytes, update: dict) -> None:
        if node in self.deleted:
            self.deleted.discard(node)
            self.nodes[node] = dict(update)
        else:
            self.nodes.setdefault(node, {}).update(update)

    def delete_node(self, node: bytes) -> None:
        self.nodes.pop(node, None)
        for target in self.edges.pop(node, ()):
            self.incoming[target].discard(node)
        for source in self.incoming.pop(node, ()):
            del self.edges[source][node]
            self.deleted_edges.setdefault(source, set()).add(node)
        self.deleted.add(node)

    def add_edge(self, source: bytes, target: bytes, weight: float) -> None:
        if source in self.deleted or target in self.deleted:
            return
        self.edges.setdefault(source, {})[target] = weight
        self.incoming.setdefault(target, set()).add(source)
        gone = self.deleted_edges.get(source)
        if gone:
            gone.discard(target)
            if not gone:
                del self.deleted_edges[source]

    def delete_edge(self, source: bytes, target: bytes) -> None:
        targets = self.edges.get(source)
        if targets is not None and targets.pop(target, None) is not None:
            self.incoming[target].discard(source)
            if not targets:
                del self.edges[source]
        self.deleted_edges.setdefault(source, set()).add(target)

    # The four listings in the module's shapes, built anew as the module's are,
    # but keyed by the 16-byte ids a user of plain dicts already has.
    def listings(self) -> tuple:
        return ({n: dict(u) for n, u in self.nodes.items()},
                list(self.deleted),
                {s: dict(ts) for s, ts in self.edges.items() if ts},
                {s: list(ts) for s, ts in self.deleted_edges.items() if ts})

    # What is serialised: the four collections (the reverse index is rebuilt on demand, as the module's is).
    def state(self) -> tuple:
        return self.nodes, self.deleted, self.edges, self.deleted_edges

    @classmethod
    def from_state(cls, nodes: dict, deleted, edges: dict, deleted_edges: dict) -> PlainDiff:
        d = cls()
        d.nodes, d.deleted, d.edges, d.deleted_edges = nodes, set(deleted), edges, deleted_edges
        return d
