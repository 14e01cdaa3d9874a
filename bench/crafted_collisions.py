"""Times the module on ids crafted to collide against random ids.

The hash of a node id takes no secret, and its primary form is invertible:
any first half of an id can be completed into an id with a chosen hash. This
has bench/core_tables.cpp make N such ids (all with one primary hash), then
times, for the crafted and for N random ids alike:

- from_bytes of a diff naming every id (nodes, a ring and a star of edges,
  deletions), written directly as bytes in the order chosen here;
- add_node for every id, then add_edge around a ring and out of one node to
  all of them (a single source with N targets).

It prints each time and the ratio crafted / random. Nothing is asserted about
time; a ratio near 1 means the tables' fallback for colliding keys works.

    python bench/crafted_collisions.py [N]          (default N = 100000)
"""

import pathlib
import random
import struct
import subprocess
import sys
import time

from tovra_api import PyGraphDiff

ROOT = pathlib.Path(__file__).resolve().parent.parent


def colliding_ids(n: int) -> list[bytes]:
    """N distinct ids whose primary hashes are all equal, made by the
    benchmark of the tables (bench/core_tables.cpp) from the hash's own
    inverse, so that the hash is written once, in C++."""
    build = ROOT / "bench" / "build_core_bench.sh"
    program = subprocess.run([str(build), "core_tables"], check=True, capture_output=True, text=True)
    made = subprocess.run(
        [program.stdout.strip(), "--colliding-ids", str(n)], check=True, capture_output=True, text=True
    )
    return [bytes.fromhex(line) for line in made.stdout.split()]


def random_ids(n: int, seed: int) -> list[bytes]:
    rng = random.Random(seed)
    return [rng.getrandbits(128).to_bytes(16, "little") for _ in range(n)]


def diff_bytes(ids: list[bytes]) -> bytes:
    """Every id as a node, every third one deleted, a star from ids[0] to all,
    a ring through the rest, and one source deleting edges to every third."""
    u64 = struct.Struct("<Q").pack
    weight = struct.pack("<f", 1.0)

    def uuid(node_id: bytes) -> bytes:
        return u64(16) + node_id

    n = len(ids)
    thirds = ids[::3]
    parts = [u64(n)]
    parts += [uuid(i) + u64(2) + b"{}" for i in ids]
    parts.append(u64(len(thirds)))
    parts += [uuid(i) for i in thirds]
    parts.append(u64(n))
    parts.append(uuid(ids[0]) + u64(n))
    parts += [uuid(i) + weight for i in ids]
    parts += [uuid(ids[k]) + u64(1) + uuid(ids[(k + 1) % n]) + weight for k in range(1, n)]
    parts.append(u64(1) + uuid(ids[1]) + u64(len(thirds)))
    parts += [uuid(i) for i in thirds]
    return b"".join(parts)


def best_of(repeats: int, body) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        body()
        best = min(best, time.perf_counter() - start)
    return best


def time_decode(ids: list[bytes]) -> float:
    data = diff_bytes(ids)

    def body():
        diff = PyGraphDiff.from_bytes(data)
        if diff.num_nodes() != len(ids) + len(ids[::3]):
            raise SystemExit("decoded diff has the wrong number of nodes")

    return best_of(5, body)


def time_nodes(ids: list[bytes]) -> float:
    def body():
        diff = PyGraphDiff()
        add = diff.add_node
        update = {"red": 1}
        for node_id in ids:
            add(node_id, update)

    return best_of(5, body)


def time_edges(ids: list[bytes]) -> float:
    n = len(ids)
    ring = [(ids[k], ids[(k + 1) % n]) for k in range(n)]
    centre = ids[0]

    def body():
        diff = PyGraphDiff()
        add = diff.add_edge
        for source, target in ring:
            add(source, target, 1.0)
        for target in ids:
            add(centre, target, 2.0)

    return best_of(5, body)


def main() -> None:
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    crafted = colliding_ids(n)
    if len(set(crafted)) != n:
        raise SystemExit("the crafted ids are not distinct")
    plain = random_ids(n, seed=2)
    print(f"{n} ids crafted to share one primary hash against {n} random ids")
    for name, timer in (
        ("from_bytes", time_decode),
        ("add_node", time_nodes),
        ("add_edge (ring + star)", time_edges),
    ):
        random_time = timer(plain)
        crafted_time = timer(crafted)
        print(
            f"  {name:24} random {random_time * 1e3:8.1f} ms   crafted {crafted_time * 1e3:8.1f} ms"
            f"   ratio {crafted_time / random_time:5.2f}"
        )


if __name__ == "__main__":
    main()
