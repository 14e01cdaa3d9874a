"""Diffs recorded in one process, applied in another.

A recorder turns each batch of changes into bytes and writes it to a file or a
pipe as one frame (frames.py: an 8-byte little-endian length, then that many
bytes). An
applier reads the frames back, decodes each with PyGraphDiff.from_bytes and
applies it to a graph it keeps in plain dicts.

    python examples/stream_diffs.py                # both: a recorder piping to an applier process
    python examples/stream_diffs.py record FILE    # record the batches into FILE ('-': stdout)
    python examples/stream_diffs.py apply FILE     # apply the batches in FILE ('-': stdin)

The last two also work as a shell pipe:
    python examples/stream_diffs.py record - | python examples/stream_diffs.py apply -
"""

import json
import subprocess
import sys
import uuid
from typing import IO, Any

from frames import read_frames, write_frame

from tovra_api import PyGraphDiff

# --- the recording side ---------------------------------------------------

def node(name: str) -> bytes:
    """A stable 16-byte id for a readable name."""
    return uuid.uuid5(uuid.NAMESPACE_URL, "example:" + name).bytes


def record(out: IO[bytes]) -> None:
    """Three batches of changes to a small graph of web pages, one frame each."""
    home, docs, blog, old = node("home"), node("docs"), node("blog"), node("old")
    diff = PyGraphDiff()

    # Batch 1: the first pages and their links.
    diff.add_node(home, {"label": "Home", "url": "https://example.com/", "size": 3.0})
    diff.add_node(docs, {"label": "Docs", "url": "https://example.com/docs"})
    diff.add_node(old, {"label": "Old page"})
    diff.add_edge(home, docs, 1.0)
    diff.add_edge(home, old, 0.5)
    diff.add_edge(old, docs, 0.25)
    write_frame(out, diff.to_bytes())
    diff.clear()  # the same object records the next batch

    # Batch 2: restyle the home page, add a blog, drop a link.
    diff.add_node(home, {"red": 30, "green": 120, "blue": 220, "show_label": True})
    diff.add_node(blog, {"label": "Blog", "url": "https://example.com/blog"})
    diff.add_edge(home, blog, 0.75)
    diff.add_edge(blog, docs, 0.5)
    diff.delete_edge(home, old)
    write_frame(out, diff.to_bytes())
    diff.clear()

    # Batch 3: the old page goes away, and so do the links that touch it.
    diff.delete_node(old)
    diff.add_edge(docs, home, 0.125)
    diff.add_node(docs, {"size": 2.0})
    write_frame(out, diff.to_bytes())


# --- the applying side ----------------------------------------------------

class Graph:
    """A receiver's view of the graph: node attributes and edge weights by node text."""

    def __init__(self) -> None:
        self.nodes: dict[str, dict[str, Any]] = {}
        self.edges: dict[str, dict[str, float]] = {}

    def apply(self, diff: PyGraphDiff) -> None:
        # A deleted node takes every edge that touches it along, including
        # edges that arrived in earlier batches.
        for gone in diff.deleted_nodes():
            self.nodes.pop(gone, None)
            self.edges.pop(gone, None)
            for targets in self.edges.values():
                targets.pop(gone, None)
        for name, update in diff.new_or_updated_nodes().items():
            self.nodes.setdefault(name, {}).update(update)  # absent keys leave attributes alone
        for source, deleted in diff.deleted_edges().items():
            for target in deleted:
                self.edges.get(source, {}).pop(target, None)
        for source, weights in diff.new_or_updated_edges().items():
            self.edges.setdefault(source, {}).update(weights)
        self.edges = {source: targets for source, targets in self.edges.items() if targets}


def apply_stream(source: IO[bytes]) -> None:
    graph = Graph()
    for number, data in enumerate(read_frames(source), start=1):
        diff = PyGraphDiff.from_bytes(data)
        print(
            f"diff {number}: {len(data)} bytes; nodes updated {len(diff.new_or_updated_nodes())}, "
            f"deleted {len(diff.deleted_nodes())}; "
            f"edges set {sum(map(len, diff.new_or_updated_edges().values()))}, "
            f"deleted {sum(map(len, diff.deleted_edges().values()))}"
        )
        graph.apply(diff)
    print("graph:")
    print(json.dumps({"nodes": graph.nodes, "edges": graph.edges}, indent=2, sort_keys=True))


def open_output(path: str) -> IO[bytes]:
    return sys.stdout.buffer if path == "-" else open(path, "wb")


def open_input(path: str) -> IO[bytes]:
    return sys.stdin.buffer if path == "-" else open(path, "rb")


def main(argv: list[str]) -> int:
    if not argv:
        # One command, two processes: this one records, a child applies.
        applier = subprocess.Popen([sys.executable, __file__, "apply", "-"], stdin=subprocess.PIPE)
        assert applier.stdin is not None
        with applier.stdin:
            record(applier.stdin)
        return applier.wait()
    if len(argv) == 2 and argv[0] in ("record", "apply"):
        if argv[0] == "record":
            with open_output(argv[1]) as out:
                record(out)
        else:
            with open_input(argv[1]) as source:
                apply_stream(source)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
