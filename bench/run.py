"""Side-by-side benchmark of tovra_api against its floor, the same rules on
generic tables, networkx and plain Python.

For each size the same generated data goes through four implementations:
the module, the floor (a benchmark-only C extension with the same calling
shapes that stores nothing, builds the same result objects from C arrays,
and copies bytes), the same-work yardstick (a benchmark-only C++ extension
that runs the module's own diff over Boost's generic flat hash tables behind
the module's own argument conversions: it tells whether the module's own
tables beat the best generic ones), and what a user would write instead
(nested dicts and sets changed inline, comprehensions, pickle and marshal).
Before any timing, the yardstick and the module make the same calls (the
rows' calls on small data, then random ones that fire every rule) and must
list the same nodes and edges. Repeats are interleaved, medians reported,
the garbage collector off while timing. Then it times delete_node as the
diff grows, beside networkx; prints what a random read and a page fault cost
on this machine (what the fresh rows pay for and the floors do not) and the
memory each way takes per stored edge; and judges every target in one table.

The yardstick needs Boost 1.81 or newer; where it is missing and apt-get runs
as root it is installed, and otherwise the column is skipped (said so).

    python bench/run.py [--sizes 1e3,1e5,1e6] [--repeats 5] [--memory 1e6/1e6,1e6/1e5]
                        [--growth 1e5/1e5,1e6/1e6,1e6/1e5]
    python bench/run.py --quick    # a smoke run: small sizes, one repeat
"""

from __future__ import annotations

import argparse
import json
import sys

from harness import report, subjects as subjects_
from harness.cases import cases
from harness.data import Data
from harness.growth import measure_growth
from harness.memory import ROLES, bytes_per_edge, payload, probe, rows_of
from harness.same_check import check_same_work
from harness.targets import Shape, judge
from harness.timing import measure


def shapes_of(text: str) -> list[tuple[int, int]]:
    if text == "none":
        return []
    return [tuple(int(float(x)) for x in shape.split("/")) for shape in text.split(",")]  # type: ignore[misc]


def memory_probe(spec: str, same_dir: str | None) -> int:
    """In a process of its own: one role's bytes per stored edge."""
    role, edges, nodes = spec.split(":")
    if role.startswith("same"):
        kind = subjects_.load_same(same_dir)
    elif role.startswith("module"):
        from tovra_api import PyGraphDiff as kind
    else:
        kind = dict
    print(probe(role, int(edges), int(nodes), kind))
    return 0


def shape_text(shape: Shape) -> str:
    return Data.shape_of(shape.edges, shape.nodes, shape.per_source)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizes", default="1e3,1e5,1e6", help="edge counts of the timed rows, or 'none'")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--memory", default="1e6/1e6,1e6/1e5",
                        help="EDGES/NODES shapes whose memory per stored edge is measured, or 'none'")
    parser.add_argument("--growth", default="1e5/1e5,1e6/1e6,1e6/1e5",
                        help="EDGES/NODES shapes on which delete_node's growth is timed, or 'none'")
    parser.add_argument("--quick", action="store_true",
                        help="a smoke run: --sizes 1e3,1e4 --repeats 1 --memory 1e5/1e5,1e5/1e4 --growth 1e4/1e4")
    parser.add_argument("--json", metavar="PATH", help="also write every figure and judged target to PATH")
    parser.add_argument("--memory-probe", help=argparse.SUPPRESS)
    parser.add_argument("--same-dir", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory_probe:
        return memory_probe(args.memory_probe, args.same_dir)
    if args.quick:
        args.sizes, args.repeats, args.memory, args.growth = "1e3,1e4", 1, "1e5/1e5,1e5/1e4", "1e4/1e4"

    subjects = subjects_.build()
    print(f"tovra_api benchmark, Python {sys.version.split()[0]}, medians of {args.repeats}")
    if subjects.same is None:
        print("same-work column: skipped (Boost 1.81 or newer is not available, see above)")
    else:
        # Before any timing: a column that did other work would mean nothing.
        failed = check_same_work(subjects)
        if failed:
            print(f"same-work check FAILED: {failed}")
            return 1
    judged = []
    figures: dict = {"python": sys.version.split()[0], "repeats": args.repeats, "timing": {}, "growth": {},
                     "memory": {}, "targets": []}
    sizes = [] if args.sizes == "none" else [int(float(s)) for s in args.sizes.split(",")]
    for size in sizes:
        data = Data(size)
        all_cases, blob_size = cases(data, subjects)
        medians = measure(all_cases, args.repeats)
        per = {name: {role: value / count for role, value in medians[name].items()}
               for name, (count, _) in all_cases.items()}
        shape = Shape(len(data.edges), data.n, data.per_source)
        report.size_table(data.shape(), shape, per, blob_size)
        figures["timing"][data.shape()] = per
        figures.setdefault("bytes", {})[data.shape()] = blob_size
        judged += judge(shape, per)
        del all_cases, data

    for edges, nodes in shapes_of(args.growth):
        data, rows = measure_growth(edges, nodes, subjects)
        shape = Shape(edges, nodes, data.per_source)
        report.growth_table(data.shape(), rows)
        figures["growth"][data.shape()] = rows
        judged += judge(shape, rows)
        del data

    floor = subjects.floor.Floor()
    print()
    per_fault = None
    for mib in (1, 16, 64):
        per_read, per_fault = floor.memory_costs(mib << 20)
        print(f"memory here: a dependent read at random in {mib} MiB costs {per_read:.1f}ns")
    if per_fault is not None:
        print(f"memory here: the first touch of a fresh 4 KiB page costs {per_fault:.0f}ns")

    lines = []
    for edges, nodes in shapes_of(args.memory):
        by_role: dict[str, float | None] = {}
        per_source = 0.0
        for role in ROLES:
            if role.startswith("same") and subjects.same is None:
                by_role[role] = None
                continue
            by_role[role], per_source = bytes_per_edge(role, edges, nodes, subjects.same_dir)
        shape = Shape(edges, nodes, per_source)
        lines.append((shape_text(shape), by_role, per_source))
        figures["memory"][shape_text(shape)] = dict(by_role, payload=payload(per_source))
        judged += judge(shape, rows_of(by_role))
    if lines:
        report.memory_table(lines)

    missed = report.targets_table(judged, shape_text)
    met = sum(bool(j.met) for j in judged)
    print(f"summary: {met} targets met, {missed} not met")
    if args.json:
        figures["targets"] = [{"group": j.target.group, "row": j.target.row, "data": shape_text(j.shape),
                               "what": j.target.what(), "value": j.value, "limit": j.limit, "met": j.met}
                              for j in judged]
        with open(args.json, "w") as f:
            json.dump(figures, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
