"""Side-by-side benchmark of tovra_api against its floor and a plain-Python way.

For each size the same generated data goes through three implementations:
the module, the floor (a benchmark-only C extension with the same calling
shapes that stores nothing, builds the same result objects from C arrays,
and copies bytes), and what a user would write instead (nested dicts and sets
changed inline, comprehensions, pickle and marshal). Repeats are interleaved,
medians reported, the garbage collector off while timing. Last, it prints what
a random read and a page fault cost on this machine: what the fresh rows pay
for and the floors do not.

    python bench/run.py [--sizes 1e3,1e5,1e6] [--repeats 5]
"""

from __future__ import annotations

import argparse
import gc
import marshal
import os
import pickle
import random
import statistics
import subprocess
import sys
import time
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "floor"))
import build_floor  # noqa: E402

sys.path.insert(0, build_floor.build(os.path.join(HERE, "floor", "build", sys.implementation.cache_tag)))
import _tovra_floor  # noqa: E402
from tovra_api import PyGraphDiff  # noqa: E402


# ---- data ------------------------------------------------------------------

class Data:
    """E edges over N = min(E, 1e5) nodes, all from one seeded generator."""

    def __init__(self, edges: int, seed: int = 7) -> None:
        rng = random.Random(seed)
        self.n = min(edges, 100_000)
        self.ids = [rng.randbytes(16) for _ in range(self.n)]
        self.text = {i: str(uuid.UUID(bytes=i)) for i in self.ids}
        pairs = {}
        while len(pairs) < edges:
            a, b = rng.randrange(self.n), rng.randrange(self.n)
            pairs[(a, b)] = rng.random()
        self.edges = [(self.ids[a], self.ids[b], w) for (a, b), w in pairs.items()]
        self.updates = [{"label": f"node {k}", "size": rng.random() * 10} for k in range(self.n)]
        self.fresh = [rng.randbytes(16) for _ in range(64)]  # ids the diff never saw


def build_diff(data: Data, nodes=True, edges=True) -> PyGraphDiff:
    d = PyGraphDiff()
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
    p = Plain()
    if nodes:
        for i, u in zip(data.ids, data.updates):
            p.add_node(i, u)
    if edges:
        for a, b, w in data.edges:
            p.add_edge(a, b, w)
    return p


# ---- cases -----------------------------------------------------------------
# Each case maps a role ("module", "floor", "plain") to a setup function that
# returns (run, count): run() does the timed work, count is what it is per.

def loop3(f, triples):
    def run():
        for a, b, c in triples:
            f(a, b, c)
    return run


def loop2(f, pairs):
    def run():
        for a, b in pairs:
            f(a, b)
    return run


def loop1(f, items):
    def run():
        for a in items:
            f(a)
    return run


def repeat3(f, a, b, c, n):
    def run():
        for _ in range(n):
            f(a, b, c)
    return run


def repeat0(f, n):
    def run():
        for _ in range(n):
            f()
    return run


def cases(data: Data):
    e = len(data.edges)
    pairs = [(a, b) for a, b, _ in data.edges]
    nu = list(zip(data.ids, data.updates))
    floor = _tovra_floor.Floor()
    a0, b0, w0 = data.edges[0]
    out = {}

    out["add_edge fresh"] = (e, {
        "module": lambda: loop3(PyGraphDiff().add_edge, data.edges),
        "floor": lambda: loop3(floor.noop3, data.edges),
        "plain": lambda: loop3(Plain().add_edge, data.edges),
    })
    out["add_edge repeated"] = (e, {
        "module": lambda: repeat3(PyGraphDiff().add_edge, a0, b0, w0, e),
        "floor": lambda: repeat3(floor.noop3, a0, b0, w0, e),
        "plain": lambda: repeat3(Plain().add_edge, a0, b0, w0, e),
    })
    out["add_node"] = (data.n, {
        "module": lambda: loop2(PyGraphDiff().add_node, nu),
        "floor": lambda: loop2(floor.convert_node, nu),
        "plain": lambda: loop2(Plain().add_node, nu),
    })
    out["delete_edge"] = (e, {
        "module": lambda: loop2(build_diff(data, nodes=False).delete_edge, pairs),
        "floor": lambda: loop2(floor.noop2, pairs),
        "plain": lambda: loop2(plain_with(data, nodes=False).delete_edge, pairs),
    })
    out["delete_node, no pending edges"] = (data.n, {
        "module": lambda: loop1(build_diff(data, edges=False).delete_node, data.ids),
        "floor": lambda: loop1(floor.noop1, data.ids),
        "plain": lambda: loop1(plain_with(data, edges=False).delete_node, data.ids),
    })
    sources = len({a for a, _, _ in data.edges})
    floor.make_probe_tables(sources)
    out["delete_node, per pending source"] = (sources * len(data.fresh), {
        "module": lambda: loop1(build_diff(data, nodes=False).delete_node, data.fresh),
        "floor": lambda: loop1(floor.probe_each, data.fresh),
        "plain": lambda: loop1(plain_with(data, nodes=False).delete_node, data.fresh),
    })
    filled = build_diff(data)
    filled_plain = plain_with(data)
    floor.set_count(filled.num_nodes())
    out["num_nodes"] = (e, {
        "module": lambda: repeat0(filled.num_nodes, e),
        "floor": lambda: repeat0(floor.count, e),
        "plain": lambda: repeat0(filled_plain.num_nodes, e),
    })

    # Listings: the floor builds the same objects from plain C arrays.
    edge_map = {}
    for a, b, w in data.edges:
        edge_map.setdefault(a, {})[b] = w
    text_edges = {data.text[a]: {data.text[b]: w for b, w in m.items()} for a, m in edge_map.items()}
    text_nodes = {data.text[i]: dict(u) for i, u in nu}
    deleted = PyGraphDiff()
    for i in data.ids:
        deleted.delete_node(i)
    deleted_text = [data.text[i] for i in data.ids]
    gone = PyGraphDiff()
    for a, b in pairs:
        gone.delete_edge(a, b)
    gone_text = {data.text[a]: [data.text[b] for b in m] for a, m in edge_map.items()}

    def load_edges():
        floor.load_edges(edge_map)
        return floor.build_edges

    def load_deleted_edges():
        floor.load_edges(edge_map)
        return floor.build_deleted_edges

    def load_nodes():
        floor.load_nodes({i: (u["label"], u["size"]) for i, u in nu})
        return floor.build_nodes

    def load_deleted_nodes():
        floor.load_nodes({i: ("", 0.0) for i in data.ids})
        return floor.build_deleted_nodes

    out["new_or_updated_edges()"] = (e, {
        "module": lambda: filled.new_or_updated_edges,
        "floor": load_edges,
        "plain": lambda: lambda: {s: dict(m) for s, m in text_edges.items()},
    })
    out["new_or_updated_nodes()"] = (data.n, {
        "module": lambda: filled.new_or_updated_nodes,
        "floor": load_nodes,
        "plain": lambda: lambda: {i: dict(u) for i, u in text_nodes.items()},
    })
    out["deleted_edges()"] = (e, {
        "module": lambda: gone.deleted_edges,
        "floor": load_deleted_edges,
        "plain": lambda: lambda: {s: list(m) for s, m in gone_text.items()},
    })
    out["deleted_nodes()"] = (data.n, {
        "module": lambda: deleted.deleted_nodes,
        "floor": load_deleted_nodes,
        "plain": lambda: lambda: list(deleted_text),
    })

    # Bytes: the floor is one copy of as many bytes into a new object.
    blob = filled.to_bytes()
    plain_state = (text_nodes, set(), text_edges, {})
    pickled = pickle.dumps(plain_state, protocol=5)
    marshalled = marshal.dumps(plain_state)
    entries = data.n + e
    out["to_bytes"] = (entries, {
        "module": lambda: filled.to_bytes,
        "floor": lambda: lambda: floor.copy_bytes(len(blob)),
        "pickle": lambda: lambda: pickle.dumps(plain_state, protocol=5),
        "marshal": lambda: lambda: marshal.dumps(plain_state),
    })
    out["from_bytes"] = (entries, {
        "module": lambda: lambda: PyGraphDiff.from_bytes(blob),
        "floor": lambda: lambda: floor.copy_bytes(len(blob)),
        "pickle": lambda: lambda: pickle.loads(pickled),
        "marshal": lambda: lambda: marshal.loads(marshalled),
    })
    return out, len(blob)


# ---- timing ----------------------------------------------------------------

# Rows whose calls allocate one block of the output's size. Such a call is
# made once untimed before the timed one, for every role alike: whether the
# allocator hands out a block it has served before or fresh pages from the
# kernel (page faults, zeroing) otherwise swings a floor of the same copy by
# several times from one row to the next.
WARMED = ("to_bytes", "from_bytes")


def time_once(setup, warm: bool = False) -> float:
    run = setup()
    if warm:
        run()
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter_ns()
        result = run()
        elapsed = time.perf_counter_ns() - start
    finally:
        gc.enable()
    del result, run
    return float(elapsed)


def measure(all_cases, repeats: int):
    samples = {name: {role: [] for role in roles} for name, (_, roles) in all_cases.items()}
    for _ in range(repeats):
        for name, (_, roles) in all_cases.items():  # interleaved, repeat by repeat
            for role, setup in roles.items():
                samples[name][role].append(time_once(setup, warm=name in WARMED))
    return {name: {role: statistics.median(v) for role, v in roles.items()}
            for name, roles in samples.items()}


# ---- memory ----------------------------------------------------------------

MEMORY_PROBE = r"""
import random, sys, gc
def rss():
    with open('/proc/self/statm') as f:
        return int(f.read().split()[1]) * 4096
rng = random.Random(3)
sources = [rng.randbytes(16) for _ in range(100_000)]
targets = [rng.randbytes(16) for _ in range(100_000)]
edges = [(sources[k % 100_000], targets[rng.randrange(100_000)], 0.5) for k in range(1_000_000)]
gc.collect()
before = rss()
if sys.argv[1] == 'module':
    from tovra_api import PyGraphDiff
    d = PyGraphDiff()
    for a, b, w in edges:
        d.add_edge(a, b, w)
else:
    d = {}
    for a, b, w in edges:
        d.setdefault(a, {})[b] = w
gc.collect()
print(rss() - before)
"""


def bytes_per_edge(role: str) -> float:
    out = subprocess.run([sys.executable, "-c", MEMORY_PROBE, role],
                         check=True, capture_output=True, text=True).stdout
    return int(out) / 1_000_000


# ---- report ----------------------------------------------------------------

# operation -> (floor ratio limit, condition on the size) as the project's targets.
TARGETS = {
    "add_edge fresh": 1.8, "add_edge repeated": 1.8, "add_node": 1.4, "delete_edge": 2.5,
    "delete_node, no pending edges": 2.5, "delete_node, per pending source": 1.5,
    "num_nodes": 1.15, "new_or_updated_edges()": 1.25, "new_or_updated_nodes()": 1.3,
    "deleted_edges()": 1.3, "deleted_nodes()": 1.6,
}


def byte_target(name: str, data: Data) -> float:
    edges_dominate = len(data.edges) >= 5 * data.n
    if name == "to_bytes":
        return 3.0 if edges_dominate else 4.5
    return 3.0 if edges_dominate else 5.0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="1e3,1e5,1e6")
    parser.add_argument("--repeats", type=int, default=5)
    args = parser.parse_args()
    sizes = [int(float(s)) for s in args.sizes.split(",")]

    print(f"tovra_api benchmark, Python {sys.version.split()[0]}, medians of {args.repeats}")
    header = f"{'operation':34} {'edges':>8} {'module':>10} {'floor':>10} {'x floor':>8} {'target':>7} {'plain':>10} {'x plain':>8}"
    met = missed = 0
    for size in sizes:
        data = Data(size)
        all_cases, blob_size = cases(data)
        medians = measure(all_cases, args.repeats)
        print()
        print(header)
        for name, (count, _) in all_cases.items():
            m = medians[name]
            module = m["module"] / count
            floor = m["floor"] / count
            alt_role = "plain" if "plain" in m else "pickle"
            alt = m[alt_role] / count
            ratio = module / floor
            limit = TARGETS.get(name) or byte_target(name, data)
            judged = size >= 100_000
            mark = ""
            if judged:
                ok = ratio <= limit
                met += ok
                missed += not ok
                mark = " ok" if ok else " MISS"
            print(f"{name:34} {size:>8} {module:>8.1f}ns {floor:>8.1f}ns {ratio:>8.2f} {limit:>6.2f}{mark:5} {alt:>8.1f}ns {module / alt:>8.2f}")
            if name in ("to_bytes", "from_bytes"):
                mbps = blob_size / (m["module"] / 1e9) / 1e6
                extra = f"marshal {m['marshal'] / count:.1f}ns/entry"
                print(f"{'':34} {'':>8} {mbps:>8.0f}MB/s  ({blob_size} bytes; pickle {alt:.1f}ns/entry, {extra})")
    floor = _tovra_floor.Floor()
    print()
    for mib in (1, 16, 64):
        per_read, per_fault = floor.memory_costs(mib << 20)
        print(f"memory here: a dependent read at random in {mib} MiB costs {per_read:.1f}ns")
    if per_fault is not None:
        print(f"memory here: the first touch of a fresh 4 KiB page costs {per_fault:.0f}ns")
    module_mem = bytes_per_edge("module")
    plain_mem = bytes_per_edge("plain")
    mem_ok = module_mem <= 48
    met += mem_ok
    missed += not mem_ok
    print()
    print(f"memory: {module_mem:.1f} bytes per stored edge at 1e6 edges over 1e5 sources "
          f"(target 48{' ok' if mem_ok else ' MISS'}); nested dicts: {plain_mem:.1f}")
    print(f"summary: {met} targets met, {missed} missed (ratios judged at 1e5 and 1e6 edges)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
