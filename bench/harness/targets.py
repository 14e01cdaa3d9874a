"""Every target the benchmark judges, in one table.

A target names a row of the report and what the module's figure in it is
set against: another role timed in the same row (its time over that role's),
another row (the module's time in it over the module's time there), or
nothing (the figure itself: bytes, microseconds, a ratio the row computes).
Its limit may depend on the data; where it gives None, the target is not
judged on that data. Every figure judged comes from the same run."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable


@dataclass(frozen=True)
class Shape:
    edges: int
    nodes: int
    per_source: float


@dataclass(frozen=True)
class Target:
    group: str
    row: str
    against: str | None          # a role, "row:" and a row, or None
    limit: Callable[[Shape], float | None]
    unit: str = "x"

    def what(self) -> str:
        if self.against is None:
            return self.unit
        if self.against.startswith("row:"):
            return f"x {self.against[4:]}"
        return f"x {self.against}"


def fixed(limit: float, at_least: int = 0, only: int | None = None) -> Callable[[Shape], float | None]:
    def judge(shape: Shape) -> float | None:
        if shape.edges < at_least or (only is not None and shape.edges != only):
            return None
        return limit
    return judge


def by_density(few: float, ten: float) -> Callable[[Shape], float]:
    """One limit where sources hold three targets or fewer, another beyond."""
    return lambda shape: few if shape.per_source <= 3 else ten


def by_size(small: float, large: float) -> Callable[[Shape], float]:
    return lambda shape: small if shape.edges <= 1000 else large


def bytes_limit(to_bytes: bool) -> Callable[[Shape], float | None]:
    """The byte rows' floor limits, looser where the nodes' JSON text weighs
    as much as the edges; judged at 1e5 edges and more."""
    def judge(shape: Shape) -> float | None:
        if shape.edges < 100_000:
            return None
        if shape.edges >= 5 * shape.nodes:
            return 3.0
        return 4.5 if to_bytes else 5.0
    return judge


FLOOR = "the module's time over the floor's (at 1e5 edges and more)"
SAME = "the module's time over the same rules on Boost's tables (same), plain or inline dicts"
INDEX = "with the index of incoming edges built, over the same state without it"
GROWTH = "delete_node as the diff grows"
MEMORY = "memory per stored edge (trimmed resident set)"

_floor_rows = {
    "add_edge fresh": 1.8, "add_edge repeated": 1.8, "add_node": 1.4, "delete_edge": 2.5,
    "delete_node, no pending edges": 2.5,
    "num_nodes": 1.15, "new_or_updated_edges()": 1.25, "new_or_updated_nodes()": 1.3,
    "deleted_edges()": 1.3, "deleted_nodes()": 1.6,
}

TARGETS: list[Target] = [
    *(Target(FLOOR, row, "floor", fixed(limit, at_least=100_000)) for row, limit in _floor_rows.items()),
    Target(FLOOR, "to_bytes", "floor", bytes_limit(True)),
    Target(FLOOR, "from_bytes", "floor", bytes_limit(False)),

    Target(SAME, "add_edge fresh", "same", by_density(0.8, 1.0)),
    Target(SAME, "delete_edge", "same", by_density(0.8, 1.0)),
    Target(SAME, "add_node", "same", fixed(1.0)),
    Target(SAME, "delete_node, no pending edges", "same", fixed(1.0)),
    Target(SAME, "add_edge fresh", "inline", fixed(1.0, only=1000)),
    Target(SAME, "add_edge fresh", "plain", by_size(0.5, 0.7)),
    Target(SAME, "delete_edge", "plain", by_size(0.5, 0.7)),

    Target(INDEX, "add_edge fresh, index built", "row:add_edge fresh, no index", fixed(1.5)),
    Target(INDEX, "delete_edge, index built", "row:delete_edge, no index", fixed(1.5)),

    Target(GROWTH, "delete_node, last 900 of 1000 victims", None, fixed(20.0), "us per call"),
    Target(GROWTH, "building, then the 1000 deletions", None, fixed(2.5), "x building alone"),

    Target(MEMORY, "memory per stored edge", None, by_density(52.0, 36.0), "bytes"),
    Target(MEMORY, "memory the index adds per stored edge", None, fixed(32.0), "bytes"),
]


@dataclass
class Judged:
    target: Target
    shape: Shape
    value: float | None   # None: a figure it needs was not measured (said why)
    limit: float

    @property
    def met(self) -> bool | None:
        return None if self.value is None else self.value <= self.limit


def value_of(target: Target, rows: dict) -> float | None:
    """The figure a target judges, from one shape's rows (row -> role ->
    figure), or None where one it needs is missing."""
    module = rows.get(target.row, {}).get("module")
    if module is None or target.against is None:
        return module
    if target.against.startswith("row:"):
        other = rows.get(target.against[4:], {}).get("module")
    else:
        other = rows.get(target.row, {}).get(target.against)
    return None if other is None else module / other


def judge(shape: Shape, rows: dict) -> list[Judged]:
    """Every target that applies to a shape and whose row was measured on it."""
    out = []
    for target in TARGETS:
        limit = target.limit(shape)
        if limit is None or target.row not in rows:
            continue
        out.append(Judged(target, shape, value_of(target, rows), limit))
    return out
