"""Builds a small graph diff, prints its listings, and round-trips it through bytes."""

import uuid

from tovra_api import PyGraphDiff


def node(name: str) -> bytes:
    # Any 16 bytes name a node; here they come from a readable name.
    return uuid.uuid5(uuid.NAMESPACE_DNS, name).bytes


hub, leaf, old, gone = node("hub"), node("leaf"), node("old"), node("gone")

diff = PyGraphDiff()
diff.add_node(hub, {"label": "Hub", "size": 2.5, "red": 255, "green": 0, "blue": 16})
diff.add_node(hub, {"show_label": True})  # merged into the update above
diff.add_node(leaf, {"label": "Leaf", "url": "https://example.com/leaf"})
diff.add_edge(hub, leaf, 0.5)
diff.add_edge(leaf, hub, 0.1)  # stored as a 32-bit float
diff.add_edge(hub, old, 1.0)
diff.delete_node(old)  # the edge into it becomes an edge deletion
diff.delete_edge(leaf, gone)

print("new or updated nodes:", diff.new_or_updated_nodes())
print("deleted nodes:       ", diff.deleted_nodes())
print("new or updated edges:", diff.new_or_updated_edges())
print("deleted edges:       ", diff.deleted_edges())
print("counts:               nodes", diff.num_nodes(), "edge sources", diff.num_edges())

data = diff.to_bytes()
copy = PyGraphDiff.from_bytes(data)
print(f"as bytes:             {len(data)} bytes, round trip equal:",
      copy.new_or_updated_nodes() == diff.new_or_updated_nodes()
      and copy.new_or_updated_edges() == diff.new_or_updated_edges()
      and sorted(copy.deleted_nodes()) == sorted(diff.deleted_nodes()))
