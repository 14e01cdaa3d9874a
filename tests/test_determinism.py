"""The listing order and the bytes depend only on the operations, not on the process."""

import os
import subprocess
import sys

SCRIPT = r"""
import hashlib, json
from tovra_api import PyGraphDiff

ids = [hashlib.sha256(bytes([i])).digest()[:16] for i in range(40)]
d = PyGraphDiff()
for i, node in enumerate(ids):
    d.add_node(node, {"label": f"n{i}", "red": i})
for i in range(0, 40, 3):
    d.delete_node(ids[i])
for i, source in enumerate(ids):
    for j in (1, 5, 11, 17):
        d.add_edge(source, ids[(i + j) % 40], i / 7)
        d.delete_edge(ids[(i + 2 * j) % 40], source)
for i in range(1, 40, 7):
    d.delete_node(ids[i])
listings = [d.new_or_updated_nodes(), d.deleted_nodes(), d.new_or_updated_edges(), d.deleted_edges()]
print(json.dumps(listings))
print(d.to_bytes().hex())
"""


def run(seed):
    env = dict(os.environ, PYTHONHASHSEED=seed)
    done = subprocess.run([sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, check=True)
    return done.stdout


def test_same_operations_give_same_order_in_every_process():
    outputs = {seed: run(seed) for seed in ("0", "1", "4242", "random")}
    first = outputs["0"]
    assert len(first.splitlines()[0]) > 10_000  # all four collections are well filled
    for seed, output in outputs.items():
        assert output == first, f"PYTHONHASHSEED={seed} changed the order"
