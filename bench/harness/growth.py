"""delete_node as the diff grows: 1,000 random victims deleted one by one
from E random edges over N ids, each call timed by itself, beside networkx's
`DiGraph.remove_node` on the same graph (it keeps an index of predecessors,
so its cost follows the node's own edges). The first hundred calls may pay
for scans and for building an index; the other 900 show what a call costs
once that is done."""

from __future__ import annotations

import gc
import random
import statistics
import time

from .data import Data

VICTIMS = 1000
FIRST = 100


def timed_calls(call, items) -> list[int]:
    """Nanoseconds of each call, the collector off."""
    clock = time.perf_counter_ns
    out = []
    gc.collect()
    gc.disable()
    try:
        for item in items:
            start = clock()
            call(item)
            out.append(clock() - start)
    finally:
        gc.enable()
    return out


def build_timed(kind, data: Data):
    d = kind()
    add = d.add_edge
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter_ns()
        for a, b, w in data.edges:
            add(a, b, w)
        elapsed = time.perf_counter_ns() - start
    finally:
        gc.enable()
    return d, elapsed


def split_us(calls: list[int]) -> tuple[float, float, float]:
    """Microseconds per call: the mean over the first hundred, and the mean
    and the median over the rest (a mean that one slow call can move, as a
    table of the diff regrowing, beside what most calls cost)."""
    rest = calls[FIRST:]
    return sum(calls[:FIRST]) / FIRST / 1e3, sum(rest) / len(rest) / 1e3, statistics.median(rest) / 1e3


def networkx_graph(data: Data):
    try:
        import networkx
    except ImportError:
        return None
    g = networkx.DiGraph()
    g.add_nodes_from(data.ids)
    g.add_weighted_edges_from(data.edges)
    return g


def measure_growth(edges: int, nodes: int, subjects, victims: int = VICTIMS,
                   with_networkx: bool = True) -> tuple[Data, dict]:
    """The rows (row -> role -> figure) for one shape: per call in
    microseconds over the first hundred and the last 900 victims, and the
    time of building plus deleting over building alone."""
    data = Data(edges, nodes, edges_only=True)
    chosen = random.Random(99).sample(data.ids, victims)
    rows: dict[str, dict[str, float]] = {
        "delete_node, first 100 of 1000 victims": {}, "delete_node, last 900 of 1000 victims": {},
        "delete_node, median of the last 900": {}, "building, then the 1000 deletions": {},
    }
    kinds = {"module": subjects.diff}
    if subjects.same is not None:
        kinds["same"] = subjects.same
    for role, kind in kinds.items():
        d, built = build_timed(kind, data)
        calls = timed_calls(d.delete_node, chosen)
        first, rest, median = split_us(calls)
        rows["delete_node, first 100 of 1000 victims"][role] = first
        rows["delete_node, last 900 of 1000 victims"][role] = rest
        rows["delete_node, median of the last 900"][role] = median
        rows["building, then the 1000 deletions"][role] = (built + sum(calls)) / built
        del d
    g = networkx_graph(data) if with_networkx else None
    if g is not None:
        first, rest, median = split_us(timed_calls(g.remove_node, chosen))
        rows["delete_node, first 100 of 1000 victims"]["networkx"] = first
        rows["delete_node, last 900 of 1000 victims"]["networkx"] = rest
        rows["delete_node, median of the last 900"]["networkx"] = median
    return data, rows
