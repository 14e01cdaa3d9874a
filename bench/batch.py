"""The batch users run: N mixed changes recorded, turned into bytes, read back
and listed, by the module and by the same batch kept in plain dicts under the
same rules (batch_plain.py) serialised with pickle, msgpack and orjson.

    python bench/batch.py [--sizes 100,1000,10000] [--repeats 7] [--json FILE]

Prints one table per batch size: per stage, the best of the repeats in
microseconds, their sum and that sum over the module's, and the best whole
run (all four stages in one repeat), which the machine's noise weighs on more. msgpack and orjson
are optional (pip install msgpack orjson); a missing one is left out and said
so. --json writes the figures for batch_chart.py, which draws the chart.
Before timing, every subject's listings are checked against the module's."""

from __future__ import annotations

import argparse
import gc
import json
import os
import pickle
import platform
import random
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from batch_plain import PlainDiff, as_text  # noqa: E402
from tovra_api import PyGraphDiff  # noqa: E402

STAGES = ("record", "to bytes", "read back", "list")


def f32(x: float) -> float:
    return struct.unpack("<f", struct.pack("<f", x))[0]


def mixed_batch(n: int, seed: int = 26) -> list[tuple]:
    """n changes over a pool of n // 2 ids: 40% node updates, 35% edge weights,
    15% edge deletions, 10% node deletions. Values are 32-bit floats already,
    so both sides hold the same numbers."""
    rng = random.Random(seed)
    ids = [rng.randbytes(16) for _ in range(max(2, n // 2))]
    ops: list[tuple] = []
    for k in range(n):
        r = rng.random()
        a, b = rng.choice(ids), rng.choice(ids)
        if r < 0.40:
            update: dict = {"label": f"node {k}", "size": f32(rng.random() * 10)}
            if rng.random() < 0.3:
                update.update(red=rng.randrange(256), green=rng.randrange(256), blue=rng.randrange(256))
            if rng.random() < 0.2:
                update["show_label"] = rng.random() < 0.5
            ops.append((0, (a, update)))
        elif r < 0.75:
            ops.append((2, (a, b, f32(rng.random()))))
        elif r < 0.90:
            ops.append((3, (a, b)))
        else:
            ops.append((1, (a,)))
    return ops


OPERATIONS = ("add_node", "delete_node", "add_edge", "delete_edge")


def record(kind, ops):
    d = kind()
    methods = [getattr(d, name) for name in OPERATIONS]
    for code, args in ops:
        methods[code](*args)
    return d


def listings_of_module(d: PyGraphDiff):
    return d.new_or_updated_nodes(), d.deleted_nodes(), d.new_or_updated_edges(), d.deleted_edges()


def listings_of_plain(d: PlainDiff):
    return d.listings()


# Each subject: record, to bytes, read back, list; one function per stage.
def module_subject():
    return (lambda ops: record(PyGraphDiff, ops), PyGraphDiff.to_bytes, PyGraphDiff.from_bytes, listings_of_module)


def pickle_subject():
    return (lambda ops: record(PlainDiff, ops),
            lambda d: pickle.dumps(d.state(), protocol=5),
            lambda data: PlainDiff.from_state(*pickle.loads(data)),
            listings_of_plain)


def msgpack_subject(msgpack):
    # msgpack has no sets: the two sets of ids go as lists and come back as sets.
    def dump(d: PlainDiff) -> bytes:
        return msgpack.packb((d.nodes, list(d.deleted), d.edges,
                              {s: list(ts) for s, ts in d.deleted_edges.items()}), use_bin_type=True)

    def load(data: bytes) -> PlainDiff:
        nodes, deleted, edges, deleted_edges = msgpack.unpackb(data, strict_map_key=False)
        return PlainDiff.from_state(nodes, deleted, edges, {s: set(ts) for s, ts in deleted_edges.items()})
    return (lambda ops: record(PlainDiff, ops), dump, load, listings_of_plain)


def orjson_subject(orjson):
    # JSON keys are text: ids go as hex and come back as bytes.
    def dump(d: PlainDiff) -> bytes:
        return orjson.dumps([
            {n.hex(): u for n, u in d.nodes.items()},
            [n.hex() for n in d.deleted],
            {s.hex(): {t.hex(): w for t, w in ts.items()} for s, ts in d.edges.items()},
            {s.hex(): [t.hex() for t in ts] for s, ts in d.deleted_edges.items()},
        ])

    def load(data: bytes) -> PlainDiff:
        nodes, deleted, edges, deleted_edges = orjson.loads(data)
        h = bytes.fromhex
        return PlainDiff.from_state(
            {h(n): u for n, u in nodes.items()}, [h(n) for n in deleted],
            {h(s): {h(t): w for t, w in ts.items()} for s, ts in edges.items()},
            {h(s): {h(t) for t in ts} for s, ts in deleted_edges.items()})
    return (lambda ops: record(PlainDiff, ops), dump, load, listings_of_plain)


def subjects() -> tuple[dict, list[str]]:
    found = {"module": module_subject(), "dicts + pickle": pickle_subject()}
    missing = []
    for name, make in (("msgpack", msgpack_subject), ("orjson", orjson_subject)):
        try:
            found[f"dicts + {name}"] = make(__import__(name))
        except ImportError:
            missing.append(name)
    return found, missing


def normalised(listings):
    """The module's listings with the order of entries taken out, for comparison."""
    nodes, deleted, edges, deleted_edges = listings
    return nodes, sorted(deleted), edges, {s: sorted(ts) for s, ts in deleted_edges.items()}


def check_same(found: dict, ops) -> None:
    expected = None
    for name, (rec, dump, load, listing) in found.items():
        listed = listing(load(dump(rec(ops))))
        got = normalised(listed) if name == "module" else as_text(listed)
        if expected is None:
            expected = got
        elif got != expected:
            raise SystemExit(f"batch: {name} lists another content than the module")


def time_pipeline(stages, ops, inner: int) -> list[float]:
    """One sample: `inner` runs of the pipeline, each stage's time per run in seconds."""
    rec, dump, load, listing = stages
    spent = [0.0] * 4
    clock = time.perf_counter
    for _ in range(inner):
        t0 = clock()
        d = rec(ops)
        t1 = clock()
        data = dump(d)
        t2 = clock()
        back = load(data)
        t3 = clock()
        listing(back)
        t4 = clock()
        for i, dt in enumerate((t1 - t0, t2 - t1, t3 - t2, t4 - t3)):
            spent[i] += dt
    return [s / inner for s in spent]


def measure(sizes, repeats):
    found, missing = subjects()
    results = {"python": platform.python_version(), "machine": platform.machine(),
               "repeats": repeats, "missing": missing, "sizes": []}
    for n in sizes:
        ops = mixed_batch(n)
        check_same(found, ops)
        inner = max(1, 20_000 // n)  # a sample of at least ~20,000 changes
        best: dict[str, list[float]] = {name: [float("inf")] * 4 for name in found}
        total: dict[str, float] = {name: float("inf") for name in found}
        sizes_out = {name: len(stages[1](stages[0](ops))) for name, stages in found.items()}
        # Subjects take turns within each repeat, so that a slow spell of the
        # machine falls on all of them alike.
        for _ in range(repeats):
            for name, stages in found.items():
                gc.collect()
                sample = time_pipeline(stages, ops, inner)
                best[name] = [min(a, b) for a, b in zip(best[name], sample)]
                total[name] = min(total[name], sum(sample))
        results["sizes"].append({"changes": n, "bytes": sizes_out,
                                 "stages_us": {k: [x * 1e6 for x in v] for k, v in best.items()},
                                 "total_us": {k: v * 1e6 for k, v in total.items()}})
    return results


def report(results) -> str:
    lines = [f"CPython {results['python']} on {results['machine']}, best of {results['repeats']}: each stage's "
             "best, their sum, that sum over the module's, and the best whole run"]
    if results["missing"]:
        lines.append("left out (not installed): " + ", ".join(results["missing"]))
    for entry in results["sizes"]:
        n = entry["changes"]
        module_sum = sum(entry["stages_us"]["module"])
        lines += ["", f"{n:,} changes", "",
                  "| subject | " + " | ".join(f"{s}, us" for s in STAGES)
                  + " | sum, us | sum x module | whole run, us | bytes |",
                  "|---|" + "---|" * (len(STAGES) + 4)]
        for name, stages in entry["stages_us"].items():
            whole = entry["total_us"][name]
            lines.append(f"| {name} | " + " | ".join(f"{x:,.1f}" for x in stages)
                         + f" | {sum(stages):,.1f} | {sum(stages) / module_sum:.2f} | {whole:,.1f}"
                         + f" | {entry['bytes'][name]:,} |")
    return "\n".join(lines)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", default="100,1000,10000")
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--json", help="write the figures here, for batch_chart.py")
    args = parser.parse_args()
    results = measure([int(s) for s in args.sizes.split(",")], args.repeats)
    print(report(results))
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            json.dump(results, out, indent=1)


if __name__ == "__main__":
    main()
