"""How later changes merge with or cancel earlier ones, seen through listings and counts.

Each rule runs against the native class and against the pure-Python model, so the
model used by the stateful test is held to the same rules.
"""

import pytest

from conftest import A, B, C, D, text
from graph_diff_model import GraphDiffModel
from tovra_api import PyGraphDiff


@pytest.fixture(params=[PyGraphDiff, GraphDiffModel], ids=["native", "model"])
def make(request):
    return request.param


def edges_of(diff):
    """Both edge listings with deleted targets as sets, and the edge count."""
    deleted = {s: set(t) for s, t in diff.deleted_edges().items()}
    return diff.new_or_updated_edges(), deleted, diff.num_edges()


FULL = {"label": "l", "url": "u", "size": 2.5, "red": 1, "green": 2, "blue": 3, "show_label": True}

MERGES = [
    ([{"label": "x", "size": 1.5}, {"size": 2.5, "red": 3}], {"label": "x", "size": 2.5, "red": 3}),
    ([{"label": "x"}, {"label": ""}], {"label": ""}),
    ([{"show_label": True}, {"show_label": False}], {"show_label": False}),
    ([{"size": 2.5}, {}], {"size": 2.5}),
    ([{"url": "X"}, {}, {"url": "Y"}], {"url": "Y"}),
    ([{"url": "X"}, {"url": "Y"}, {}], {"url": "Y"}),
    ([{}, {"green": 0}], {"green": 0}),
    ([FULL, {}], FULL),
    ([{"red": 9, "blue": 9}, {"red": 0}, {"blue": 255}], {"red": 0, "blue": 255}),
]


@pytest.mark.parametrize("updates, expected", MERGES)
def test_merge_last_stated_value_wins(make, updates, expected):
    d = make()
    for update in updates:
        d.add_node(A, update)
    assert d.new_or_updated_nodes() == {text(A): expected}
    assert (d.num_nodes(), d.deleted_nodes()) == (1, [])


def test_delete_and_re_add_node(make):
    d = make()
    d.add_node(A, {"label": "old", "red": 1})
    d.delete_node(A)
    assert (d.new_or_updated_nodes(), d.deleted_nodes(), d.num_nodes()) == ({}, [text(A)], 1)
    d.delete_node(A)
    assert (d.deleted_nodes(), d.num_nodes()) == ([text(A)], 1)
    d.add_node(A, {"url": "new"})  # the discarded update does not come back
    assert (d.new_or_updated_nodes(), d.deleted_nodes(), d.num_nodes()) == ({text(A): {"url": "new"}}, [], 1)
    d.delete_node(B)  # never seen before
    assert (d.deleted_nodes(), d.num_nodes()) == ([text(B)], 2)


W = 0.5
# (operations, new_or_updated_edges, deleted_edges, num_edges) with ids as bytes
EDGE_CASES = [
    ([("add_edge", A, B, 1.0), ("add_edge", A, B, 2.0)], {A: {B: 2.0}}, {}, 1),
    ([("delete_edge", A, B)], {}, {A: {B}}, 1),
    ([("delete_edge", A, B), ("add_edge", A, B, W)], {A: {B: W}}, {}, 1),
    ([("delete_edge", A, B), ("delete_edge", A, C), ("add_edge", A, B, W)], {A: {B: W}}, {A: {C}}, 2),
    ([("add_edge", A, B, W), ("delete_edge", A, B)], {}, {A: {B}}, 1),
    ([("add_edge", A, B, W), ("add_edge", A, C, W), ("delete_edge", A, B)], {A: {C: W}}, {A: {B}}, 2),
    ([("add_edge", A, B, W), ("add_edge", A, C, W)], {A: {B: W, C: W}}, {}, 1),
    ([("add_edge", A, B, W), ("add_edge", A, C, W), ("delete_edge", A, D)], {A: {B: W, C: W}}, {A: {D}}, 2),
    ([("add_edge", A, B, 1.0), ("add_edge", B, A, 2.0), ("delete_edge", B, A)], {A: {B: 1.0}}, {B: {A}}, 2),
    ([("add_edge", A, A, W)], {A: {A: W}}, {}, 1),
    # delete_node: edges into the node become deletions, edges out of it vanish
    ([("add_edge", A, B, W), ("delete_node", B)], {}, {A: {B}}, 2),
    ([("add_edge", A, B, W), ("delete_node", A)], {}, {}, 0),
    ([("add_edge", A, A, W), ("delete_node", A)], {}, {}, 0),
    ([("add_edge", A, B, W), ("add_edge", C, B, W), ("add_edge", B, C, W), ("delete_node", B)], {}, {A: {B}, C: {B}}, 4),
    ([("add_edge", A, B, W), ("add_edge", A, C, W), ("delete_node", B)], {A: {C: W}}, {A: {B}}, 2),
    ([("delete_edge", A, B), ("delete_node", B)], {}, {A: {B}}, 1),
    ([("delete_edge", B, A), ("add_edge", A, B, W), ("delete_node", A)], {}, {B: {A}}, 1),
    # the empty source entry left by delete_node: counted, not listed, until touched
    ([("add_edge", A, B, W), ("delete_node", B), ("delete_edge", A, C)], {}, {A: {B, C}}, 1),
    ([("add_edge", A, B, W), ("delete_node", B), ("add_edge", A, C, 2.0)], {A: {C: 2.0}}, {A: {B}}, 2),
    ([("add_edge", A, B, W), ("delete_node", B), ("add_node", B, {})], {}, {A: {B}}, 2),
    ([("add_edge", A, B, W), ("delete_node", B), ("add_edge", A, B, 1.0)], {}, {A: {B}}, 2),
    # a deleted end node refuses add_edge (silently); add_node lifts that
    ([("delete_node", B), ("add_edge", A, B, W)], {}, {}, 0),
    ([("delete_node", A), ("add_edge", A, B, W)], {}, {}, 0),
    ([("delete_node", A), ("add_edge", A, A, W)], {}, {}, 0),
    ([("delete_edge", A, B), ("delete_node", B), ("add_edge", A, B, W)], {}, {A: {B}}, 1),
    ([("delete_node", B), ("add_node", B, {}), ("add_edge", A, B, W)], {A: {B: W}}, {}, 1),
    ([("delete_node", A), ("delete_edge", A, B)], {}, {A: {B}}, 1),  # delete_edge does not look
    ([("add_node", A, {}), ("add_node", B, {})], {}, {}, 0),
]


@pytest.mark.parametrize("operations, new_edges, deleted_edges, count", EDGE_CASES)
def test_edge_rules(make, operations, new_edges, deleted_edges, count):
    d = make()
    for name, *args in operations:
        assert getattr(d, name)(*args) is None
    expected_new = {text(s): {text(t): w for t, w in ts.items()} for s, ts in new_edges.items()}
    expected_deleted = {text(s): {text(t) for t in ts} for s, ts in deleted_edges.items()}
    assert edges_of(d) == (expected_new, expected_deleted, count)


def test_clear(make):
    d = make()
    empty = ({}, [], {}, {}, 0, 0)
    assert (d.new_or_updated_nodes(), d.deleted_nodes(), *edges_of(d), d.num_nodes()) == empty
    assert d.clear() is None and (d.new_or_updated_nodes(), d.deleted_nodes(), *edges_of(d), d.num_nodes()) == empty
    d.add_node(A, {"red": 1})
    d.add_edge(A, B, 1.0)
    d.add_edge(C, B, 1.0)
    d.delete_node(B)
    d.delete_edge(D, A)
    assert (d.num_nodes(), d.num_edges()) == (2, 5)
    assert d.clear() is None
    assert (d.new_or_updated_nodes(), d.deleted_nodes(), *edges_of(d), d.num_nodes()) == empty
    d.add_edge(A, B, 2.0)  # B is no longer deleted
    assert edges_of(d) == ({text(A): {text(B): 2.0}}, {}, 1)


def test_listings_are_new_objects_owned_by_the_caller(filled):
    def listings():
        return [filled.new_or_updated_nodes(), filled.deleted_nodes(),
                filled.new_or_updated_edges(), filled.deleted_edges()]

    first, second = listings(), listings()
    assert [type(x) for x in first] == [dict, list, dict, dict]
    assert all(a is not b for a, b in zip(first, second))
    kept = repr(first)
    # Changing what was returned does not reach the diff...
    first[0][text(A)]["label"] = "changed"
    first[1].append("extra")
    first[2][text(A)][text(B)] = 9.0
    first[3][text(B)].clear()
    assert repr(listings()) == kept
    # ...and changing the diff does not reach what was returned earlier.
    filled.clear()
    assert repr(second) == kept
