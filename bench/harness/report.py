"""What the benchmark prints: a table per size, the growth of delete_node,
memory per stored edge, what memory costs here, and the targets judged on
all of it."""

from __future__ import annotations

from .memory import payload
from .targets import FLOOR, TARGETS, Judged, Shape

MODULE_HEADER = (f"{'operation':34} {'edges':>8} {'module':>10} {'floor':>10} {'x floor':>8} {'target':>7} "
                 f"{'same':>10} {'x same':>7} {'plain':>10} {'x plain':>8}")


def _floor_limit(row: str, shape: Shape) -> float | None:
    for target in TARGETS:
        if target.group == FLOOR and target.row == row:
            # Shown at every size; judged only where the table says.
            return target.limit(Shape(max(shape.edges, 100_000), shape.nodes, shape.per_source))
    return None


def _ns(value: float | None, width: int = 8) -> str:
    return f"{'-':>{width + 2}}" if value is None else f"{value:>{width}.1f}ns"


def _ratio(a: float | None, b: float | None, width: int) -> str:
    return f"{'-':>{width}}" if a is None or b is None else f"{a / b:>{width}.2f}"


def size_table(shape_text: str, shape: Shape, per: dict, blob_size: int) -> None:
    """`per` maps row -> role -> ns per call."""
    print()
    print(shape_text)
    print(MODULE_HEADER)
    for name, times in per.items():
        module, floor, same = times["module"], times.get("floor"), times.get("same")
        alt = times.get("plain", times.get("pickle"))
        limit = _floor_limit(name, shape)
        limit_text = f"{limit:>7.2f}" if limit is not None and floor is not None else f"{'':>7}"
        print(f"{name:34} {shape.edges:>8} {_ns(module)} {_ns(floor)} {_ratio(module, floor, 8)} {limit_text} "
              f"{_ns(same)} {_ratio(module, same, 7)} {_ns(alt)} {_ratio(module, alt, 8)}")
        if "inline" in times:
            print(f"{'':34} {'':>8} inline dicts d.setdefault(a, {{}})[b] = w: {times['inline']:.1f}ns, "
                  f"module over them {module / times['inline']:.2f}")
        if name in ("to_bytes", "from_bytes"):
            mbps = blob_size / (module * (shape.nodes + shape.edges) / 1e9) / 1e6
            print(f"{'':34} {'':>8} {mbps:>8.0f}MB/s  ({blob_size} bytes; pickle {times['pickle']:.1f}ns/entry, "
                  f"marshal {times['marshal']:.1f}ns/entry)")


def growth_table(shape_text: str, rows: dict) -> None:
    print()
    print(f"delete_node as the diff grows, {shape_text}: 1000 random victims, each call timed by itself")
    for row, roles in rows.items():
        unit = "" if row.startswith("building") else " us per call"
        text = ", ".join(f"{role} {value:.2f}" for role, value in roles.items())
        print(f"  {row:40} {text}{unit}")


def memory_table(lines: list[tuple[str, dict[str, float | None], float]]) -> None:
    """Each line: the shape's text, role -> bytes per stored edge, targets
    per source."""
    print()
    print("memory per stored edge: growth of the resident set over the edge count, each subject in a process of "
          "its own, read after gc.collect() and malloc_trim(0) before and after building; +index: then 100 nodes "
          "with pending incoming edges deleted; payload: 20 B per edge + 16 per source")
    roles = ("module", "module+index", "same", "same+index", "plain")
    print(f"{'data':30} " + " ".join(f"{r:>12}" for r in roles) + f" {'payload':>8}")
    for shape_text, figures, per_source in lines:
        cells = " ".join(f"{'-':>12}" if figures.get(r) is None else f"{figures[r]:>12.1f}" for r in roles)
        print(f"{shape_text:30} {cells} {payload(per_source):>8.1f}")


def targets_table(judged: list[Judged], shape_text) -> int:
    """Prints the targets judged in this run, grouped; returns how many were
    not met."""
    print()
    print("targets, each judged on figures of this run (a row moves by 20 to 30 percent from one run to the next "
          "on a shared machine)")
    missed = 0
    for group in dict.fromkeys(t.group for t in TARGETS):
        if not any(j.target.group == group for j in judged):
            continue
        print(f"{group}:")
        met = not_met = skipped = 0
        for j in (j for j in judged if j.target.group == group):
            t = j.target
            if j.value is None:
                result, value = "not measured", "-"
                skipped += 1
            else:
                result = "met" if j.met else "NOT MET"
                value = f"{j.value:.2f}"
                met += bool(j.met)
                not_met += not j.met
            print(f"  {t.row:40} {shape_text(j.shape):30} {t.what():32} {value:>8} {'<= ' + str(j.limit):>9} {result}")
        missed += not_met
        print(f"  {met} met, {not_met} not met" + (f", {skipped} not measured" if skipped else ""))
    return missed
