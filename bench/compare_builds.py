"""The benchmark's timed rows on two builds of the module loaded side by side:
the harness's data, cases and timing, with the two builds as the two roles of
every row, so that each run of one build is followed by the same run of the
other and the machine's drift falls on both alike. Prints the best and the
median of each and their ratios. Usage:
compare_builds.py BEFORE.so AFTER.so [--edges E] [--nodes N] [--rounds R]"""

from __future__ import annotations

import argparse
import importlib.util
import statistics

from harness import subjects as subjects_
from harness.cases import cases
from harness.data import Data
from harness.timing import samples

BUILDS = ("before", "after")


def load(path: str) -> type:
    spec = importlib.util.spec_from_file_location("tovra_api", path)
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module.PyGraphDiff


def both_builds(data: Data, kinds: dict[str, type]) -> dict:
    """The harness's rows with the module's role taken from each build: row ->
    (count, build -> setup)."""
    floor = subjects_.build_floor()
    by_build = {build: cases(data, subjects_.Subjects(kind, floor, None, None))[0] for build, kind in kinds.items()}
    return {name: (count, {build: by_build[build][name][1]["module"] for build in kinds})
            for name, (count, _) in by_build[BUILDS[0]].items()}


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--edges", type=lambda x: int(float(x)), default=20000)
    parser.add_argument("--nodes", type=lambda x: int(float(x)), default=None, help="default: as many as edges")
    parser.add_argument("--rounds", type=int, default=21)
    args = parser.parse_args()
    data = Data(args.edges, args.nodes or args.edges)
    rows = both_builds(data, {"before": load(args.before), "after": load(args.after)})
    taken = samples(rows, args.rounds)
    print(f"{'ns per entry':32} {'before':>16} {'after':>16} {'after/before':>14}   ({data.shape()})")
    print(f"{'':32} {'best':>7} {'median':>8} {'best':>7} {'median':>8} {'best':>6} {'median':>7}")
    for name, (count, _) in rows.items():
        old, new = ([t / count for t in taken[name][build]] for build in BUILDS)
        old_median, new_median = statistics.median(old), statistics.median(new)
        print(f"{name:32} {min(old):7.1f} {old_median:8.1f} {min(new):7.1f} {new_median:8.1f} "
              f"{min(new) / min(old):6.2f} {new_median / old_median:7.2f}")


if __name__ == "__main__":
    main()
