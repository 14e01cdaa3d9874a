"""Memory per stored edge: the growth of the resident set while one subject
stores the edges, over their count, each subject in a fresh process.

The resident set is read after `gc.collect()` and `malloc_trim(0)`, before
and after building. Untrimmed, a subject that allocates with malloc reuses the
pages the process freed before (the data generator's temporaries) without
growing the resident set, and reads smaller than it is; trimmed, every
subject starts from a heap that holds no free pages."""

from __future__ import annotations

import ctypes
import gc
import os
import subprocess
import sys

from .data import Data

# Roles: a subject, and "+index" where it deleted nodes with pending incoming
# edges after building (enough to have the index built).
ROLES = ("module", "module+index", "same", "same+index", "plain")
INDEX_VICTIMS = 100


def payload(per_source: float) -> float:
    """What the edges themselves hold, per edge: two 16-byte ids and a 4-byte
    weight, less the source id that all of a source's edges share."""
    return 20 + 16 / per_source


def rss() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def trimmed_rss() -> int:
    """The resident set once the collector has run and the C heap has handed
    its free pages back."""
    gc.collect()
    ctypes.CDLL("libc.so.6").malloc_trim(0)
    return rss()


def resident_growth(build):
    """How much the trimmed resident set grows while build() runs, and what it
    built (kept alive until the second reading)."""
    before = trimmed_rss()
    built = build()
    return trimmed_rss() - before, built


def store(kind, data: Data, victims: list[bytes]):
    d = kind()
    add = d.add_edge
    for a, b, w in data.edges:
        add(a, b, w)
    for v in victims:
        d.delete_node(v)
    return d


def store_plain(data: Data):
    d: dict = {}
    for a, b, w in data.edges:
        d.setdefault(a, {})[b] = w
    return d


def probe(role: str, edges: int, nodes: int, kind) -> str:
    """Runs in the fresh process: `kind` is the role's class, imported before
    the data is made so that importing it is not counted."""
    data = Data(edges, nodes, edges_only=True)
    victims = [b for _, b, _ in data.edges[:INDEX_VICTIMS]] if role.endswith("+index") else []
    if role == "plain":
        grown, _ = resident_growth(lambda: store_plain(data))
    else:
        grown, _ = resident_growth(lambda: store(kind, data, victims))
    return f"{grown / len(data.edges)} {data.per_source}"


def rows_of(figures: dict[str, float | None]) -> dict[str, dict[str, float]]:
    """The rows the targets judge, from one shape's bytes per stored edge by
    role."""
    rows = {"memory per stored edge": {"module": figures["module"]}}
    if figures.get("module+index") is not None:
        rows["memory the index adds per stored edge"] = {"module": figures["module+index"] - figures["module"]}
    return rows


def bytes_per_edge(role: str, edges: int, nodes: int, same_dir: str | None) -> tuple[float, float]:
    """Bytes per stored edge and targets per source, from a fresh process."""
    command = [sys.executable, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "run.py"),
               "--memory-probe", f"{role}:{edges}:{nodes}"]
    if same_dir is not None:
        command += ["--same-dir", same_dir]
    out = subprocess.run(command, check=True, capture_output=True, text=True).stdout.split()
    return float(out[0]), float(out[1])
