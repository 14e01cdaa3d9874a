"""Quick start: record a batch of graph changes, read it back, round-trip it through bytes.

Run: python examples/quickstart.py
"""

import uuid

from tovra_api import PyGraphDiff

# A node is named by 16 bytes; the bytes of a UUID are a handy source.
# Listings name it by the UUID's text form.
alice = uuid.UUID(int=1).bytes  # 00000000-0000-0000-0000-000000000001
bob = uuid.UUID(int=2).bytes
carol = uuid.UUID(int=3).bytes
dave = uuid.UUID(int=4).bytes

# 1. Record a batch of changes.
diff = PyGraphDiff()
diff.add_node(alice, {"label": "Alice", "size": 2.0})
diff.add_node(alice, {"red": 200, "show_label": True})  # merged into Alice's update
diff.add_node(bob, {"label": "Bob", "url": "https://example.com/bob"})
diff.add_edge(alice, bob, 0.75)
diff.add_edge(bob, alice, 0.25)
diff.add_edge(alice, carol, 1.0)
diff.delete_node(carol)  # the pending edge alice -> carol becomes an edge deletion
diff.delete_edge(dave, alice)  # an edge the receiver may know from an earlier batch

# 2. Read it back as plain dicts and lists.
print("new_or_updated_nodes:", diff.new_or_updated_nodes())
print("deleted_nodes:", diff.deleted_nodes())
print("new_or_updated_edges:", diff.new_or_updated_edges())
print("deleted_edges:", diff.deleted_edges())
print("num_nodes:", diff.num_nodes())
print("num_edges:", diff.num_edges())

# 3. Turn it into bytes (to store or send) and back.
data = diff.to_bytes()
copy = PyGraphDiff.from_bytes(data)
same = (
    copy.new_or_updated_nodes() == diff.new_or_updated_nodes()
    and sorted(copy.deleted_nodes()) == sorted(diff.deleted_nodes())
    and copy.new_or_updated_edges() == diff.new_or_updated_edges()
    and {s: sorted(t) for s, t in copy.deleted_edges().items()}
    == {s: sorted(t) for s, t in diff.deleted_edges().items()}
)
print("bytes:", len(data))
print("round trip keeps the content:", same)

# 4. A diff can be emptied and reused for the next batch.
diff.clear()
print("after clear:", diff.num_nodes(), diff.num_edges())
