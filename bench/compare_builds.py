"""The module's main operations timed on two builds loaded side by side, each
call of one build followed by the same call of the other; prints the best and
the median of each and their ratios. Usage: compare_builds.py BEFORE.so AFTER.so"""
import importlib.util
import random
import sys
import time
import uuid

N = 20000
ROUNDS = 21


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

    singles = [(a,) for a in ids]
    return {
        "add_edge fresh": fresh(lambda d, a, b: d.add_edge(a, b, 0.5), pairs),
        "add_edge cached": add_edge_cached,
        "add_node fresh": fresh(lambda d, a: d.add_node(a, update), singles),
        "delete_edge fresh": fresh(diff_type.delete_edge, pairs),
        "delete_node fresh": fresh(diff_type.delete_node, singles),
        "to_bytes": full.to_bytes,
        "from_bytes": lambda: diff_type.from_bytes(blob),
        "edge listing": full.new_or_updated_edges,
        "node listing": full.new_or_updated_nodes,
    }


def elapsed(function):
    start = time.perf_counter_ns()
    function()
    return time.perf_counter_ns() - start


def main():
    random.seed(7)
    ids = [uuid.UUID(int=random.getrandbits(128)).bytes for _ in range(N)]
    pairs = [(random.choice(ids), random.choice(ids)) for _ in range(N)]
    before = operations(load(sys.argv[1]), ids, pairs)
    after = operations(load(sys.argv[2]), ids, pairs)
    print(f"{'ns per entry, ' + str(N) + ' entries':24} {'before':>16} {'after':>16} {'after/before':>14}")
    print(f"{'':24} {'best':>7} {'median':>8} {'best':>7} {'median':>8} {'best':>6} {'median':>7}")
    for name in before:
        old, new = [], []
        for _ in range(ROUNDS):
            old.append(elapsed(before[name]) / N)
            new.append(elapsed(after[name]) / N)
        old.sort()
        new.sort()
        mid = ROUNDS // 2
        print(f"{name:24} {old[0]:7.1f} {old[mid]:8.1f} {new[0]:7.1f} {new[mid]:8.1f} "
              f"{new[0] / old[0]:6.2f} {new[mid] / old[mid]:7.2f}")


if __name__ == "__main__":
    main()
