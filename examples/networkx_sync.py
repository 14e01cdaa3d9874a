"""A networkx graph kept in step with another process's copy, one diff per batch.

The producer changes a networkx.DiGraph and records every change into a
PyGraphDiff. Each batch goes as bytes, in a frame (frames.py: an 8-byte
little-endian length, then the diff), through a pipe to a consumer process,
which applies it to a DiGraph of its own with apply_diff(). The changes are a few scripted
batches, so that every tricky case surely happens, then rounds of seeded
random ones.

So that the run proves the two graphs stay equal, the consumer answers each
batch with a snapshot of its graph (one JSON line) and the producer compares
it with its own; a real consumer would only apply the batches.

    python examples/networkx_sync.py [--seed N] [--rounds N]
    python examples/networkx_sync.py --unsafe-readd   # watch the consumer fall out of step

The consumer is this script started with the single argument `consume`.
"""

from __future__ import annotations

import argparse
import json
import random
import struct
import subprocess
import sys
import uuid
from typing import IO, TYPE_CHECKING, Any

import networkx as nx
from frames import read_frames, write_frame

from tovra_api import PyGraphDiff

if TYPE_CHECKING:
    from tovra_api import _NodeUpdate

FLOAT32 = struct.Struct("<f")


def apply_diff(graph: nx.DiGraph[str], diff: PyGraphDiff) -> None:
    """Applies one batch to `graph`, whose nodes are named by the text form of their ids."""
    # Deletions first: they are about the graph as it was before the batch. (A
    # node re-added in the same diff is no longer listed as deleted, so the
    # order never has to choose between a deletion and an update of one node.)
    for name in diff.deleted_nodes():
        # The diff names only the node: its edges from earlier batches must go
        # too, and remove_node takes them along. The node may never have got
        # here (added and deleted within the batch).
        if name in graph:
            graph.remove_node(name)
    for name, update in diff.new_or_updated_nodes().items():
        graph.add_node(name, **update)  # merges: an absent key leaves the attribute alone
    for source, targets in diff.deleted_edges().items():
        for target in targets:
            # Not every listed edge is here: it may have been set and deleted
            # within the batch, or have gone already with a deleted node.
            if graph.has_edge(source, target):
                graph.remove_edge(source, target)
    # Edges last: a producer records a node before its edges, so both ends are
    # here by now and add_edge does not have to make a bare node.
    for source, weights in diff.new_or_updated_edges().items():
        for target, weight in weights.items():
            graph.add_edge(source, target, weight=weight)


def node_id(name: str) -> bytes:
    return uuid.UUID(name).bytes


def name_of(number: int) -> str:
    """A node's name in both graphs: the text form of its id, as the diff lists it."""
    return str(uuid.UUID(int=number))


def as_float32(value: float) -> float:
    (rounded,) = FLOAT32.unpack(FLOAT32.pack(value))
    return float(rounded)


def snapshot(graph: nx.DiGraph[str]) -> dict[str, Any]:
    """The graph as JSON-ready data, sizes and weights as the 32-bit floats the diff keeps."""
    nodes = {}
    for name, attributes in graph.nodes(data=True):
        shown = dict(attributes)
        if "size" in shown:
            shown["size"] = as_float32(shown["size"])
        nodes[name] = shown
    edges = {f"{source} -> {target}": as_float32(data["weight"])
             for source, target, data in graph.edges(data=True)}
    return {"nodes": nodes, "edges": edges}


class OutOfStep(Exception):
    pass


class Consumer:
    """The consumer process as the producer sees it."""

    def __init__(self) -> None:
        self.process = subprocess.Popen([sys.executable, __file__, "consume"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        assert self.process.stdin is not None and self.process.stdout is not None
        self.batches: IO[bytes] = self.process.stdin
        self.replies: IO[bytes] = self.process.stdout

    def send(self, diff: PyGraphDiff, expected: nx.DiGraph[str], number: int) -> None:
        """Sends one batch and checks the consumer's graph after it against `expected`."""
        data = diff.to_bytes()
        write_frame(self.batches, data)
        self.batches.flush()
        reply = self.replies.readline()
        if not reply:
            raise OutOfStep(f"the consumer stopped at batch {number}")
        mine, theirs = snapshot(expected), json.loads(reply)
        if mine != theirs:
            lines = [f"the graphs differ after batch {number}:"]
            for part in ("nodes", "edges"):
                for key in sorted(mine[part].keys() | theirs[part].keys()):
                    here, there = mine[part].get(key, "absent"), theirs[part].get(key, "absent")
                    if here != there:
                        lines.append(f"  {part[:-1]} {key}: producer {here}, consumer {there}")
            raise OutOfStep("\n".join(lines))

    def close(self) -> int:
        self.batches.close()  # end of input between two frames ends the stream
        code = self.process.wait()
        self.replies.close()
        return code


class Producer:
    """A DiGraph whose every change is also recorded into the current batch."""

    def __init__(self, consumer: Consumer, unsafe_readd: bool = False) -> None:
        self.graph: nx.DiGraph[str] = nx.DiGraph()
        self.diff = PyGraphDiff()
        self.deleted_in_batch: set[str] = set()
        self.consumer = consumer
        self.unsafe_readd = unsafe_readd
        self.batches = 0
        self.ended_early = 0  # batches ended to re-add a node deleted in them

    def end_batch(self) -> None:
        if self.diff.num_nodes() or self.diff.num_edges():
            self.batches += 1
            self.consumer.send(self.diff, self.graph, self.batches)
        self.diff.clear()  # the same object records the next batch
        self.deleted_in_batch.clear()

    def set_node(self, name: str, update: _NodeUpdate) -> None:
        """Adds the node, or merges `update` into its attributes."""
        if name in self.deleted_in_batch and not self.unsafe_readd:
            # In the same diff, add_node would cancel the deletion: the consumer
            # would never learn that the node's attributes and edges from earlier
            # batches are gone, and would merge `update` into the old attributes.
            # The deletion must reach it in a batch of its own first.
            self.ended_early += 1
            self.end_batch()
        self.graph.add_node(name, **update)
        self.diff.add_node(node_id(name), update)

    def delete_node(self, name: str) -> None:
        self.graph.remove_node(name)  # and every edge in or out
        self.diff.delete_node(node_id(name))
        self.deleted_in_batch.add(name)

    def set_edge(self, source: str, target: str, weight: float) -> None:
        """Adds the edge, or changes its weight; adds a missing end first."""
        # networkx would add a missing end by itself, but the diff would not
        # hear of it; and the diff silently refuses an edge to a node deleted
        # in it, while networkx would bring the node back. set_node handles both.
        for end in (source, target):
            if end not in self.graph:
                self.set_node(end, {})
        self.graph.add_edge(source, target, weight=weight)
        self.diff.add_edge(node_id(source), node_id(target), weight)

    def delete_edge(self, source: str, target: str) -> None:
        self.graph.remove_edge(source, target)
        self.diff.delete_edge(node_id(source), node_id(target))


def scripted_batches(producer: Producer) -> None:
    a, b, c, d, e = (name_of(number) for number in range(1, 6))
    p = producer

    p.set_node(a, {"label": "A", "url": "https://example.com/a", "size": 1.0})
    p.set_node(b, {"label": "B", "url": "https://example.com/b", "size": 1.5, "red": 200})
    p.set_node(c, {"label": "C", "show_label": True})
    for source, target, weight in [(a, b, 0.5), (b, c, 0.25), (c, a, 2.0), (b, a, 1.0), (a, c, 0.1)]:
        p.set_edge(source, target, weight)
    p.set_edge(d, b, 3.0)  # d comes into being as a node with no attributes
    p.end_batch()

    # Merged updates: the last value of each key wins, url stays from batch 1.
    p.set_node(a, {"label": "A2", "size": 2.5})
    p.set_node(a, {"red": 10, "green": 20})
    p.set_node(a, {"size": 0.3, "show_label": False})
    p.set_edge(a, b, 0.75)  # a new weight, twice
    p.set_edge(a, b, 0.7)
    p.delete_edge(c, a)
    p.set_edge(c, d, 1.0)  # set and deleted in this batch: the consumer never has it
    p.delete_edge(c, d)
    p.delete_edge(a, c)  # deleted and set again: only the new weight remains
    p.set_edge(a, c, 0.9)
    p.end_batch()

    # b has edges in (a, d) and out (c, a) from earlier batches. Its deletion
    # takes them along; re-adding it ends this batch first, so b comes back
    # bare: no url, size, red, nor its old edges.
    p.delete_node(b)
    p.set_node(b, {"label": "B again"})
    p.set_edge(b, c, 0.5)
    p.delete_node(d)
    p.set_edge(a, d, 1.5)  # d was deleted in this batch: set_edge brings it back in a new one
    # A node that lives and dies within one batch, with edges in and out.
    p.set_node(e, {"label": "E"})
    p.set_edge(a, e, 1.0)
    p.set_edge(e, c, 1.0)
    p.delete_node(e)
    p.end_batch()


LABELS = ["Home", "Docs", "Blog", "Zoë", "", "a \"quoted\" label", "日本"]


def random_update(rng: random.Random) -> _NodeUpdate:
    update: _NodeUpdate = {}  # sometimes stays empty: the node is only created
    if rng.random() < 0.4:
        update["label"] = rng.choice(LABELS)
    if rng.random() < 0.3:
        update["url"] = f"https://example.com/{rng.randrange(1000)}"
    if rng.random() < 0.4:
        update["size"] = rng.choice([rng.uniform(0.0, 10.0), rng.randrange(5), 0.1])
    if rng.random() < 0.3:
        update["red"] = rng.randrange(256)
    if rng.random() < 0.3:
        update["green"] = rng.randrange(256)
    if rng.random() < 0.3:
        update["blue"] = rng.randrange(256)
    if rng.random() < 0.3:
        update["show_label"] = rng.random() < 0.5
    return update


def random_batch(producer: Producer, rng: random.Random) -> None:
    pool = [name_of(100 + number) for number in range(20)]
    for _ in range(rng.randint(1, 15)):
        names, edges = list(producer.graph), list(producer.graph.edges)
        roll = rng.random()
        if roll < 0.25 or not names:
            producer.set_node(rng.choice(pool), random_update(rng))
        elif roll < 0.3 and producer.deleted_in_batch:
            producer.set_node(rng.choice(sorted(producer.deleted_in_batch)), random_update(rng))
        elif roll < 0.37:
            producer.delete_node(rng.choice(names))
        elif roll < 0.85 or not edges:
            weight = rng.choice([rng.uniform(-1.0, 1.0), rng.randrange(4), 0.1])
            producer.set_edge(rng.choice(pool), rng.choice(pool), weight)  # self-loops too
        else:
            producer.delete_edge(*rng.choice(edges))
    producer.end_batch()


def produce(seed: int, rounds: int, unsafe_readd: bool) -> int:
    consumer = Consumer()
    producer = Producer(consumer, unsafe_readd)
    rng = random.Random(seed)
    try:
        scripted_batches(producer)
        for _ in range(rounds):
            random_batch(producer, rng)
    except (OutOfStep, BrokenPipeError) as error:
        print(f"networkx_sync (seed {seed}): {error}", file=sys.stderr)
        consumer.close()
        return 1
    if consumer.close() != 0:
        print(f"networkx_sync (seed {seed}): the consumer failed", file=sys.stderr)
        return 1
    graph = producer.graph
    print(f"graphs equal after {producer.batches} batches: {graph.number_of_nodes()} nodes, "
          f"{graph.number_of_edges()} edges; {producer.ended_early} batches ended early to "
          f"re-add a node (seed {seed}, {rounds} rounds)")
    return 0


def consume(source: IO[bytes], replies: IO[str]) -> None:
    graph: nx.DiGraph[str] = nx.DiGraph()
    for data in read_frames(source):
        apply_diff(graph, PyGraphDiff.from_bytes(data))
        replies.write(json.dumps(snapshot(graph)) + "\n")
        replies.flush()


def main(argv: list[str]) -> int:
    if argv == ["consume"]:
        consume(sys.stdin.buffer, sys.stdout)
        return 0
    parser = argparse.ArgumentParser(description="Keeps a networkx graph in step across two processes.")
    parser.add_argument("--seed", type=int, default=1, help="seed of the random changes (default 1)")
    parser.add_argument("--rounds", type=int, default=200,
                        help="random batches after the scripted ones (default 200)")
    parser.add_argument("--unsafe-readd", action="store_true",
                        help="re-add a node deleted in the current batch without ending the batch "
                             "first (wrong: the consumer falls out of step)")
    args = parser.parse_args(argv)
    return produce(args.seed, args.rounds, args.unsafe_readd)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
