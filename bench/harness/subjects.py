"""What the rows time: the module, the floor extension and the same-work
yardstick, the two benchmark-only extensions built (when out of date) by
`build()`, which `main()` calls, so that importing the harness builds nothing."""

from __future__ import annotations

import importlib
import os
import sys
from dataclasses import dataclass
from types import ModuleType

BENCH = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@dataclass
class Subjects:
    diff: type                # the module's PyGraphDiff
    floor: ModuleType | None  # _tovra_floor
    same: type | None         # SameWork, None where it could not be built
    same_dir: str | None      # where SameWork was built, for the memory probes


def _import_from(directory: str, name: str) -> ModuleType:
    if directory not in sys.path:
        sys.path.insert(0, directory)
    return importlib.import_module(name)


def load_same(directory: str) -> type:
    return _import_from(directory, "_tovra_same_work").SameWork


def build_floor() -> ModuleType:
    build_floor = _import_from(os.path.join(BENCH, "floor"), "build_floor")
    floor_dir = build_floor.build(os.path.join(BENCH, "floor", "build", sys.implementation.cache_tag))
    return _import_from(floor_dir, "_tovra_floor")


def build(with_same: bool = True) -> Subjects:
    from tovra_api import PyGraphDiff

    floor = build_floor()
    same = same_dir = None
    if with_same:
        build_same_work = _import_from(os.path.join(BENCH, "same_work"), "build_same_work")
        same_dir = build_same_work.build(os.path.join(BENCH, "same_work", "build", sys.implementation.cache_tag))
        if same_dir is not None:
            same = load_same(same_dir)
    return Subjects(PyGraphDiff, floor, same, same_dir)
