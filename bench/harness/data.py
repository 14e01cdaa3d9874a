"""The generated data every row runs on, and the plain-Python way a user would
keep the same diff instead."""

from __future__ import annotations

import random
import uuid


class Data:
    """E distinct edges over N nodes (by default N = min(E, 1e5)), both ends
    drawn at random, all from one seeded generator. `edges_only` leaves out
    what only the timing rows use (texts, updates), for the memory probes."""

    def __init__(self, edges: int, nodes: int | None = None, seed: int = 7,
                 edges_only: bool = False) -> None:
        rng = random.Random(seed)
        self.n = nodes or min(edges, 100_000)
        self.ids = [rng.randbytes(16) for _ in range(self.n)]
        pairs = {}
        while len(pairs) < edges:
            a, b = rng.randrange(self.n), rng.randrange(self.n)
            pairs[(a, b)] = rng.random()
        self.edges = [(self.ids[a], self.ids[b], w) for (a, b), w in pairs.items()]
        self.sources = len({a for a, _ in pairs})
        self.per_source = edges / self.sources
        if edges_only:
            # Kept alive: trimming hands the C heap's free pages back, but
            # not the interpreter's partly used small-object arenas, whose
            # freed blocks (these tuples and ints) nested dicts would reuse
            # without growing the resident set.
            self.pairs = pairs
            return
        self.text = {i: str(uuid.UUID(bytes=i)) for i in self.ids}
        self.updates = [{"label": f"node {k}", "size": rng.random() * 10} for k in range(self.n)]

    def shape(self) -> str:
        return self.shape_of(len(self.edges), self.n, self.per_source)

    @staticmethod
    def shape_of(edges: int, nodes: int, per_source: float) -> str:
        def short(x: int) -> str:
            return f"{x:.0e}".replace("e+0", "e") if x >= 1000 else str(x)
        return f"{short(edges)} over {short(nodes)} ({per_source:.1f}/source)"


def build_diff(kind, data: Data, nodes=True, edges=True):
    """A `kind` (the module's diff or the yardstick) holding the data's node
    updates, its edges, or both."""
    d = kind()
    if nodes:
        for i, u in zip(data.ids, data.updates):
            d.add_node(i, u)
    if edges:
        for a, b, w in data.edges:
            d.add_edge(a, b, w)
    return d


class Plain:
    """What a user would keep instead: nested dicts and sets."""

    def __init__(self) -> None:
        self.nodes: dict = {}
        self.deleted_nodes: set = set()
        self.edges: dict = {}
        self.deleted_edges: dict = {}

    def add_edge(self, a, b, w) -> None:
        if a in self.deleted_nodes or b in self.deleted_nodes:
            return
        gone = self.deleted_edges.get(a)
        if gone is not None:
            gone.discard(b)
            if not gone:
                del self.deleted_edges[a]
        self.edges.setdefault(a, {})[b] = w

    def add_node(self, i, update) -> None:
        old = self.nodes.get(i)
        if old is None:
            self.nodes[i] = dict(update)
        else:
            old.update(update)
        self.deleted_nodes.discard(i)

    def delete_edge(self, a, b) -> None:
        self.deleted_edges.setdefault(a, set()).add(b)
        targets = self.edges.get(a)
        if targets is not None:
            targets.pop(b, None)
            if not targets:
                del self.edges[a]

    def delete_node(self, i) -> None:
        self.nodes.pop(i, None)
        self.edges.pop(i, None)
        for s, targets in self.edges.items():
            if i in targets:
                self.deleted_edges.setdefault(s, set()).add(i)
                del targets[i]
        self.deleted_nodes.add(i)

    def num_nodes(self) -> int:
        return len(self.nodes) + len(self.deleted_nodes)


def plain_with(data: Data, nodes=True, edges=True) -> Plain:
    return build_diff(Plain, data, nodes, edges)


# ---- a diff with and without the index of incoming edges -------------------
# Reached through the public calls alone. Both preludes leave the same state:
# PRELUDE_SOURCES sources, each with one pending edge into one of the kept
# targets and one deleted edge into one of the victims, and the victims
# deleted. One gets there by deleting the victims while their incoming edges
# are pending, which makes delete_node scan every source again and again
# (PRELUDE_VICTIMS scans of PRELUDE_SOURCES sources, far more than indexing
# those sources would cost); the other deletes the victims first and each
# edge into them by itself, which no scan ever meets.

PRELUDE_SOURCES = 1024
PRELUDE_VICTIMS = 64


def _prelude_ids() -> tuple[list[bytes], list[bytes], list[bytes]]:
    rng = random.Random(2024)  # apart from the data's seeds: ids it never holds
    ids = [rng.randbytes(16) for _ in range(PRELUDE_SOURCES + 2 * PRELUDE_VICTIMS)]
    return (ids[:PRELUDE_SOURCES], ids[PRELUDE_SOURCES:PRELUDE_SOURCES + PRELUDE_VICTIMS],
            ids[PRELUDE_SOURCES + PRELUDE_VICTIMS:])


def with_index(d):
    """`d` after deletions that give it every reason to index incoming edges."""
    sources, victims, kept = _prelude_ids()
    for k, s in enumerate(sources):
        d.add_edge(s, kept[k % len(kept)], 1.0)
        d.add_edge(s, victims[k % len(victims)], 1.0)
    for v in victims:
        d.delete_node(v)
    return d


def without_index(d):
    """`d` in the state `with_index` leaves, reached without a scan."""
    sources, victims, kept = _prelude_ids()
    for v in victims:
        d.delete_node(v)
    for k, s in enumerate(sources):
        d.add_edge(s, kept[k % len(kept)], 1.0)
        d.delete_edge(s, victims[k % len(victims)])
    return d
