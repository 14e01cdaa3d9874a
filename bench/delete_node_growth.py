"""How delete_node's cost grows with the diff, and what the diff's memory costs:
the benchmark's growth and memory rows (bench/harness/growth.py and memory.py)
for the module alone, beside networkx, on shapes of one's choosing, without
building the same-work yardstick or judging targets. bench/run.py measures the
same rows, with the yardstick, on its --growth and --memory shapes.

For each shape (distinct random edges over a pool of random ids: the harness's
data) it builds the diff, then deletes 1,000 random ids of the pool one call
at a time, and prints the time per call over the first 100 calls (which may
pay for scans and for building the index of sources by target) and over the
last 900, and the time of building plus deleting against building alone.
networkx's DiGraph, which keeps a predecessor index for the same reason, is
timed on the same graph and victims when it is installed.

With --memory, each shape is measured in a fresh process instead: resident
bytes per stored edge after building, and again once enough deletions have
made the index (module+index), each read after gc.collect() and
malloc_trim(0).

    python bench/delete_node_growth.py [--sizes 1000000:1000000,1000000:100000]
                                       [--memory] [--no-networkx]
"""

from __future__ import annotations

import argparse

from harness import report
from harness.data import Data
from harness.growth import measure_growth
from harness.memory import bytes_per_edge
from harness.subjects import Subjects


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sizes", default="1000000:1000000,1000000:100000", help="comma-separated EDGES:IDS")
    parser.add_argument("--memory", action="store_true")
    parser.add_argument("--no-networkx", action="store_true")
    args = parser.parse_args()
    sizes = [tuple(int(float(x)) for x in size.split(":")) for size in args.sizes.split(",")]
    if args.memory:
        lines = []
        for edges, ids in sizes:
            by_role: dict[str, float | None] = {}
            per_source = 0.0
            for role in ("module", "module+index"):
                by_role[role], per_source = bytes_per_edge(role, edges, ids, None)
            lines.append((Data.shape_of(edges, ids, per_source), by_role, per_source))
        report.memory_table(lines)
        return
    from tovra_api import PyGraphDiff

    module_only = Subjects(PyGraphDiff, None, None, None)
    for edges, ids in sizes:
        data, rows = measure_growth(edges, ids, module_only, with_networkx=not args.no_networkx)
        report.growth_table(data.shape(), rows)


if __name__ == "__main__":
    main()
