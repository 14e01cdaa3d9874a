"""A pure-Python model of a graph diff with the methods of PyGraphDiff.

It takes only valid arguments (16-byte ids, update dicts whose values convert,
real-number weights) and lists what the native module lists, up to entry order.
"""

import math
import operator

from conftest import f32, text

FIELDS = ("label", "url", "size", "red", "green", "blue", "show_label")


def node_update(update):
    """The dictionary form listed for `update`: known keys, fixed order, converted values."""
    convert = {"size": f32, "red": operator.index, "green": operator.index, "blue": operator.index}
    return {key: convert.get(key, lambda v: v)(update[key]) for key in FIELDS if key in update}


class GraphDiffModel:
    def __init__(self):
        self.clear()

    def clear(self):
        self._nodes = {}  # id -> dictionary form of the merged update
        self._deleted = set()
        self._edges = {}  # source -> {target: weight}, possibly empty
        self._deleted_edges = {}  # source -> non-empty set of targets

    def add_node(self, node, update):
        self._nodes[node] = node_update({**self._nodes.get(node, {}), **node_update(update)})
        self._deleted.discard(node)

    def delete_node(self, node):
        self._nodes.pop(node, None)
        self._edges.pop(node, None)  # edges out of the node are dropped
        for source, targets in self._edges.items():
            if targets.pop(node, None) is not None:  # edges into it become deletions
                self._deleted_edges.setdefault(source, set()).add(node)
        self._deleted.add(node)

    def add_edge(self, source, target, weight):
        weight = f32(weight)
        if source in self._deleted or target in self._deleted:
            return  # refused, silently
        self._deleted_edges.get(source, set()).discard(target)
        if not self._deleted_edges.get(source, True):
            del self._deleted_edges[source]
        self._edges.setdefault(source, {})[target] = weight

    def delete_edge(self, source, target):
        self._deleted_edges.setdefault(source, set()).add(target)
        if source in self._edges:
            self._edges[source].pop(target, None)
            if not self._edges[source]:
                del self._edges[source]

    def through_bytes(self):
        """As to_bytes then from_bytes leave it: a size that is not a finite number is written as null."""
        for update in self._nodes.values():
            if "size" in update and not math.isfinite(update["size"]):
                del update["size"]

    def num_nodes(self):
        return len(self._nodes) + len(self._deleted)

    def num_edges(self):
        return len(self._edges) + len(self._deleted_edges)  # emptied sources count

    def new_or_updated_nodes(self):
        return {text(n): dict(u) for n, u in self._nodes.items()}

    def deleted_nodes(self):
        return [text(n) for n in self._deleted]

    def new_or_updated_edges(self):
        return {text(s): {text(t): w for t, w in ts.items()} for s, ts in self._edges.items() if ts}

    def deleted_edges(self):
        return {text(s): [text(t) for t in ts] for s, ts in self._deleted_edges.items()}
