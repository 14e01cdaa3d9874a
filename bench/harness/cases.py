"""The timed rows. Each case is (count, roles): roles maps a role ("module",
"floor", "same", "plain", "inline", "pickle", "marshal") to a setup function
that returns run; run() does the timed work, and count is what it is per."""

from __future__ import annotations

import marshal
import pickle

from .data import Data, Plain, build_diff, plain_with, with_index, without_index

def loop3(f, triples):
    def run():
        for a, b, c in triples:
            f(a, b, c)
    return run


def loop2(f, pairs):
    def run():
        for a, b in pairs:
            f(a, b)
    return run


def loop1(f, items):
    def run():
        for a in items:
            f(a)
    return run


def repeat3(f, a, b, c, n):
    def run():
        for _ in range(n):
            f(a, b, c)
    return run


def repeat0(f, n):
    def run():
        for _ in range(n):
            f()
    return run


def inline_add_edge(edges):
    """What the plainest user code does in place of add_edge: nested dicts
    changed inline, no call and no rule."""
    d: dict = {}

    def run():
        for a, b, w in edges:
            d.setdefault(a, {})[b] = w
    return run


def cases(data: Data, subjects):
    Diff, Same = subjects.diff, subjects.same
    e = len(data.edges)
    pairs = [(a, b) for a, b, _ in data.edges]
    nu = list(zip(data.ids, data.updates))
    floor = subjects.floor.Floor()
    a0, b0, w0 = data.edges[0]
    out = {}

    def with_same(roles, same):
        # Left out where the yardstick could not be built.
        if Same is not None:
            roles["same"] = same
        return roles

    out["add_edge fresh"] = (e, with_same({
        "module": lambda: loop3(Diff().add_edge, data.edges),
        "floor": lambda: loop3(floor.noop3, data.edges),
        "plain": lambda: loop3(Plain().add_edge, data.edges),
        "inline": lambda: inline_add_edge(data.edges),
    }, lambda: loop3(Same().add_edge, data.edges)))
    out["add_edge repeated"] = (e, with_same({
        "module": lambda: repeat3(Diff().add_edge, a0, b0, w0, e),
        "floor": lambda: repeat3(floor.noop3, a0, b0, w0, e),
        "plain": lambda: repeat3(Plain().add_edge, a0, b0, w0, e),
    }, lambda: repeat3(Same().add_edge, a0, b0, w0, e)))
    out["add_node"] = (data.n, with_same({
        "module": lambda: loop2(Diff().add_node, nu),
        "floor": lambda: loop2(floor.convert_node, nu),
        "plain": lambda: loop2(Plain().add_node, nu),
    }, lambda: loop2(Same().add_node, nu)))
    out["delete_edge"] = (e, with_same({
        "module": lambda: loop2(build_diff(Diff, data, nodes=False).delete_edge, pairs),
        "floor": lambda: loop2(floor.noop2, pairs),
        "plain": lambda: loop2(plain_with(data, nodes=False).delete_edge, pairs),
    }, lambda: loop2(build_diff(Same, data, nodes=False).delete_edge, pairs)))
    out["delete_node, no pending edges"] = (data.n, with_same({
        "module": lambda: loop1(build_diff(Diff, data, edges=False).delete_node, data.ids),
        "floor": lambda: loop1(floor.noop1, data.ids),
        "plain": lambda: loop1(plain_with(data, edges=False).delete_node, data.ids),
    }, lambda: loop1(build_diff(Same, data, edges=False).delete_node, data.ids)))

    # The same two mutations once delete_node has had reason to index the
    # sources of each target, beside the same state reached without it.
    out["add_edge fresh, no index"] = (e, with_same({
        "module": lambda: loop3(without_index(Diff()).add_edge, data.edges),
    }, lambda: loop3(without_index(Same()).add_edge, data.edges)))
    out["add_edge fresh, index built"] = (e, with_same({
        "module": lambda: loop3(with_index(Diff()).add_edge, data.edges),
    }, lambda: loop3(with_index(Same()).add_edge, data.edges)))

    def filled_then(prepare, kind):
        d = prepare(kind())
        for a, b, w in data.edges:
            d.add_edge(a, b, w)
        return d

    out["delete_edge, no index"] = (e, with_same({
        "module": lambda: loop2(filled_then(without_index, Diff).delete_edge, pairs),
    }, lambda: loop2(filled_then(without_index, Same).delete_edge, pairs)))
    out["delete_edge, index built"] = (e, with_same({
        "module": lambda: loop2(filled_then(with_index, Diff).delete_edge, pairs),
    }, lambda: loop2(filled_then(with_index, Same).delete_edge, pairs)))

    filled = build_diff(Diff, data)
    filled_plain = plain_with(data)
    floor.set_count(filled.num_nodes())
    filled_same = build_diff(Same, data) if Same is not None else None
    out["num_nodes"] = (e, with_same({
        "module": lambda: repeat0(filled.num_nodes, e),
        "floor": lambda: repeat0(floor.count, e),
        "plain": lambda: repeat0(filled_plain.num_nodes, e),
    }, lambda: repeat0(filled_same.num_nodes, e)))

    # Listings: the floor builds the same objects from plain C arrays.
    edge_map = {}
    for a, b, w in data.edges:
        edge_map.setdefault(a, {})[b] = w
    text_edges = {data.text[a]: {data.text[b]: w for b, w in m.items()} for a, m in edge_map.items()}
    text_nodes = {data.text[i]: dict(u) for i, u in nu}
    deleted = Diff()
    for i in data.ids:
        deleted.delete_node(i)
    deleted_text = [data.text[i] for i in data.ids]
    gone = Diff()
    for a, b in pairs:
        gone.delete_edge(a, b)
    gone_text = {data.text[a]: [data.text[b] for b in m] for a, m in edge_map.items()}

    def listing(count, module_call, floor_load, floor_call, plain_call):
        """A listing's row: the floor loads its C arrays untimed, then builds."""
        def floor_setup():
            floor_load()
            return floor_call
        return (count, {"module": lambda: module_call, "floor": floor_setup, "plain": lambda: plain_call})

    out["new_or_updated_edges()"] = listing(
        e, filled.new_or_updated_edges, lambda: floor.load_edges(edge_map), floor.build_edges,
        lambda: {s: dict(m) for s, m in text_edges.items()})
    out["new_or_updated_nodes()"] = listing(
        data.n, filled.new_or_updated_nodes, lambda: floor.load_nodes({i: (u["label"], u["size"]) for i, u in nu}),
        floor.build_nodes, lambda: {i: dict(u) for i, u in text_nodes.items()})
    out["deleted_edges()"] = listing(
        e, gone.deleted_edges, lambda: floor.load_edges(edge_map), floor.build_deleted_edges,
        lambda: {s: list(m) for s, m in gone_text.items()})
    out["deleted_nodes()"] = listing(
        data.n, deleted.deleted_nodes, lambda: floor.load_nodes({i: ("", 0.0) for i in data.ids}),
        floor.build_deleted_nodes, lambda: list(deleted_text))

    # Bytes: the floor is one copy of as many bytes into a new object.
    blob = filled.to_bytes()
    plain_state = (text_nodes, set(), text_edges, {})
    pickled = pickle.dumps(plain_state, protocol=5)
    marshalled = marshal.dumps(plain_state)
    entries = data.n + e
    out["to_bytes"] = (entries, {
        "module": lambda: filled.to_bytes,
        "floor": lambda: lambda: floor.copy_bytes(len(blob)),
        "pickle": lambda: lambda: pickle.dumps(plain_state, protocol=5),
        "marshal": lambda: lambda: marshal.dumps(plain_state),
    })
    out["from_bytes"] = (entries, {
        "module": lambda: lambda: Diff.from_bytes(blob),
        "floor": lambda: lambda: floor.copy_bytes(len(blob)),
        "pickle": lambda: lambda: pickle.loads(pickled),
        "marshal": lambda: lambda: marshal.loads(marshalled),
    })
    return out, len(blob)
