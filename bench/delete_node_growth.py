"""How delete_node's cost grows with the diff, and what the diff's memory costs.

For each size (random edges over a pool of random ids) it builds the diff,
then deletes 1,000 random ids of the pool one call at a time, and prints the
mean time per call over the first 100 calls (which may pay for scans and for
building the index of sources by target) and over the last 900, and the time
of building plus deleting against building alone. networkx's DiGraph, which
keeps a predecessor index for the same reason, is timed on the same graph and
victims when it is installed.

With --memory, each size is measured in a fresh process instead: resident
bytes per stored edge after building, and again once enough deletions have
made the index, each read after gc.collect() and malloc_trim(0) so that heap
freed by the data generator is not counted as the diff's.

    python bench/delete_node_growth.py [--sizes 1000000:1000000,1000000:100000]
                                       [--victims 1000] [--memory] [--no-networkx]
"""
import argparse
import ctypes
import gc
import json
import os
import random
import subprocess
import sys
import time

from tovra_api import PyGraphDiff

SEED = 18


def graph(edges, ids):
    """`edges` random pairs over `ids` random 16-byte ids, and the id pool."""
    rng = random.Random(SEED)
    pool = [rng.randbytes(16) for _ in range(ids)]
    pairs = [(rng.choice(pool), rng.choice(pool)) for _ in range(edges)]
    return pool, pairs


def victims(pool, count):
    return random.Random(SEED + 1).sample(pool, count)


def timed_deletions(delete, chosen):
    """Nanoseconds of each call, one call at a time."""
    clock = time.perf_counter_ns
    times = []
    for victim in chosen:
        start = clock()
        delete(victim)
        times.append(clock() - start)
    return times


def row(name, build_ns, times):
    head, tail = times[:100], times[100:]
    total = build_ns + sum(times)
    return (f"{name:<10} first 100: {sum(head) / len(head) / 1e3:9.1f} us/call   "
            f"last {len(tail)}: {sum(tail) / max(len(tail), 1) / 1e3:8.2f} us/call   "
            f"build {build_ns / 1e9:6.2f} s   build+deletions / build {total / build_ns:5.2f}")


def time_module(pairs, chosen):
    diff = PyGraphDiff()
    add = diff.add_edge
    start = time.perf_counter_ns()
    for a, b in pairs:
        add(a, b, 1.0)
    build_ns = time.perf_counter_ns() - start
    return build_ns, timed_deletions(diff.delete_node, chosen)


def time_networkx(pairs, chosen):
    import networkx

    g = networkx.DiGraph()
    start = time.perf_counter_ns()
    g.add_weighted_edges_from((a, b, 1.0) for a, b in pairs)
    build_ns = time.perf_counter_ns() - start

    def remove(node):
        if node in g:
            g.remove_node(node)

    return build_ns, timed_deletions(remove, chosen)


def resident_bytes():
    gc.collect()
    ctypes.CDLL("libc.so.6").malloc_trim(0)
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def measure_memory(edges, ids):
    """Run in a fresh process: bytes per edge without and with the index."""
    pool, pairs = graph(edges, ids)
    before = resident_bytes()
    diff = PyGraphDiff()
    for a, b in pairs:
        diff.add_edge(a, b, 1.0)
    built = resident_bytes()
    # Targets of pending edges: deleting them turns edges into recorded
    # deletions, so the scans are real work and the index pays for itself
    # after a few dozen calls (the cost model prices a build at 1e6 edges
    # at about 56 scans over 1e5 ids, 14 over 1e6). Then the diff is
    # measured with it.
    for _, b in pairs[:100]:
        diff.delete_node(b)
    indexed = resident_bytes()
    return {"without": (built - before) / edges, "with": (indexed - before) / edges}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", default="1000000:1000000,1000000:100000",
                        help="comma-separated EDGES:IDS")
    parser.add_argument("--victims", type=int, default=1000)
    parser.add_argument("--memory", action="store_true")
    parser.add_argument("--no-networkx", action="store_true")
    parser.add_argument("--memory-child", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_child:
        edges, ids = map(int, args.memory_child.split(":"))
        print(json.dumps(measure_memory(edges, ids)))
        return
    sizes = [tuple(map(int, size.split(":"))) for size in args.sizes.split(",")]
    for edges, ids in sizes:
        print(f"{edges} random edges over {ids} ids")
        if args.memory:
            out = subprocess.run([sys.executable, __file__, "--memory-child", f"{edges}:{ids}"],
                                 check=True, capture_output=True, text=True).stdout
            figures = json.loads(out)
            print(f"  resident bytes per edge (trimmed): {figures['without']:.1f} without the index, "
                  f"{figures['with']:.1f} with it")
            continue
        pool, pairs = graph(edges, ids)
        chosen = victims(pool, args.victims)
        print("  " + row("module", *time_module(pairs, chosen)))
        if not args.no_networkx:
            try:
                print("  " + row("networkx", *time_networkx(pairs, chosen)))
            except ImportError:
                print("  networkx: not installed")


if __name__ == "__main__":
    main()
