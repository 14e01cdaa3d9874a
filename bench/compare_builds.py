"""The module's main operations timed on two builds loaded side by side, each
call of one build followed by the same call of the other; prints the best and
the median of each and their ratios. Usage:
compare_builds.py BEFORE.so AFTER.so [--edges E] [--nodes N] [--rounds R]"""
import argparse
import importlib.util
import random
import sys
import time
import uuid


def load(path):
    spec = importlib.util.spec_from_file_location("tovra_api", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.PyGraphDiff


def operations(diff_type, ids, pairs):
    update = {"label": "node", "size": 1.5, "red": 1}
    full = diff_type()
    for a, b in pairs:
        full.add_edge(a, b, 0.5)
    for a in ids:
        full.add_node(a, update)
    blob = full.to_bytes()

    def fresh(call, items):
        def run():
            diff = diff_type()
            for item in items:
                call(diff, *item)
        return run

    def add_edge_cached():
        for a, b in pairs:
            full.add_edge(a, b, 0.25)

    # With the index of incoming edges built: half the edges held, then a
    # few of their targets deleted; the other half added, or the first half
    # deleted. Only the calls after the deletions are timed.
    half = len(pairs) // 2
    victims = {b for _, b in pairs[: half : max(1, half // 64)]}
    kept = [(a, b) for a, b in pairs if a not in victims and b not in victims]
    base = diff_type()
    for a, b in pairs[:half]:
        base.add_edge(a, b, 0.5)
    base_blob = base.to_bytes()

    def indexed(call, items):
        def run():
            diff = diff_type.from_bytes(base_blob)
            for victim in victims:
                diff.delete_node(victim)
            start = time.perf_counter_ns()
            for item in items:
                call(diff, *item)
            return time.perf_counter_ns() - start
        run.items = items
        return run

    singles = [(a,) for a in ids]
    return {
        "add_edge fresh": fresh(lambda d, a, b: d.add_edge(a, b, 0.5), pairs),
        "add_edge cached": add_edge_cached,
        "add_node fresh": fresh(lambda d, a: d.add_node(a, update), singles),
        "delete_edge fresh": fresh(diff_type.delete_edge, pairs),
        "delete_node fresh": fresh(diff_type.delete_node, singles),
        "add_edge, index built": indexed(lambda d, a, b: d.add_edge(a, b, 0.5), kept[len(kept) // 2 :]),
        "delete_edge, index built": indexed(diff_type.delete_edge, kept[: len(kept) // 2]),
        "to_bytes": full.to_bytes,
        "from_bytes": lambda: diff_type.from_bytes(blob),
        "edge listing": full.new_or_updated_edges,
        "node listing": full.new_or_updated_nodes,
    }


def elapsed(function):
    """Nanoseconds taken, or what the function says it took (when it times part of itself)."""
    start = time.perf_counter_ns()
    timed = function()
    end = time.perf_counter_ns()
    return timed if type(timed) is int else end - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--edges", type=lambda x: int(float(x)), default=20000)
    parser.add_argument("--nodes", type=lambda x: int(float(x)), default=None, help="default: as many as edges")
    parser.add_argument("--rounds", type=int, default=21)
    args = parser.parse_args()
    random.seed(7)
    ids = [uuid.UUID(int=random.getrandbits(128)).bytes for _ in range(args.nodes or args.edges)]
    pairs = [(random.choice(ids), random.choice(ids)) for _ in range(args.edges)]
    before = operations(load(args.before), ids, pairs)
    after = operations(load(args.after), ids, pairs)
    per = [len(run.items) if hasattr(run, "items") else len(pairs) if "edge" in name or "bytes" in name
           else len(ids) for name, run in before.items()]
    print(f"{'ns per entry':24} {'before':>16} {'after':>16} {'after/before':>14}   "
          f"({len(pairs)} edges over {len(ids)} ids)")
    print(f"{'':24} {'best':>7} {'median':>8} {'best':>7} {'median':>8} {'best':>6} {'median':>7}")
    for name, count in zip(before, per):
        old, new = [], []
        for _ in range(args.rounds):
            old.append(elapsed(before[name]) / count)
            new.append(elapsed(after[name]) / count)
        old.sort()
        new.sort()
        mid = args.rounds // 2
        print(f"{name:24} {old[0]:7.1f} {old[mid]:8.1f} {new[0]:7.1f} {new[mid]:8.1f} "
              f"{new[0] / old[0]:6.2f} {new[mid] / old[mid]:7.2f}")


if __name__ == "__main__":
    main()
