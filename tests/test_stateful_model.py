"""Random operation sequences run on the module and on the pure-Python model side by side."""

import math

from hypothesis import HealthCheck, settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from conftest import A, B, C, D, CallsBack, bits, examples, snapshot
from graph_diff_model import FIELDS, GraphDiffModel
from tovra_api import PyGraphDiff

ids = st.sampled_from([A, B, C, D])  # few ids: collisions and re-additions are frequent
specials = [math.nan, -math.nan, math.inf, -math.inf, -0.0, 0.0, 0.1, 1e39, -1e-46, 2**24 + 1]
weights = st.one_of(st.sampled_from(specials), st.floats(allow_nan=False),
                    st.integers(-(2**70), 2**70), st.booleans())
channels = st.one_of(st.integers(0, 255), st.booleans())
values = {"label": st.text(max_size=4), "url": st.text(max_size=4), "size": weights, "red": channels,
          "green": channels, "blue": channels, "show_label": st.booleans()}
# "showLabel" is no key of the dictionary form: ignored.
updates = st.fixed_dictionaries({}, optional={**values, "showLabel": st.integers()})


# Calls that are refused and must leave the diff exactly as it was: a bad id
# in every place, each kind of bad update value, bad weights, bad argument
# lists, calls back into the diff, and bytes the decoder refuses.
refused = st.sampled_from([
    lambda d: d.add_node(b"short", {}),
    lambda d: d.add_node(A, [("label", "x")]),
    lambda d: d.add_node(A, {"label": "x", "red": 256}),
    lambda d: d.add_node(A, {"label": 1}),
    lambda d: d.add_node(A, {"url": "\ud800"}),
    lambda d: d.add_node(A, {"size": "1", "red": 1}),
    lambda d: d.add_node(A, {"green": 1.0}),
    lambda d: d.add_node(A, {"show_label": 1, "label": "x"}),
    lambda d: d.delete_node(str(A)),
    lambda d: d.add_edge(A, B, "1"),
    lambda d: d.add_edge(A, B, 10**400),
    lambda d: d.add_edge(bytearray(A), B, 1.0),
    lambda d: d.add_edge(A, b"", 1.0),
    lambda d: d.delete_edge(None, B),
    lambda d: d.delete_edge(A, bytearray(B)),
    lambda d: d.delete_node(),
    lambda d: d.add_edge(A, B, weight=1.0, extra=1),
    lambda d: d.add_edge(A, C, CallsBack(d.num_edges, propagate=True)),
    lambda d: d.add_edge(C, A, CallsBack(d.clear, propagate=True)),
    lambda d: d.add_node(C, {"label": "c", "blue": CallsBack(lambda: d.delete_node(A), propagate=True)}),
    lambda d: d.from_bytes(d.to_bytes()[:-1]),
])


def exact(value):
    """Floats bit for bit, everything else with its type (so 1 and True differ)."""
    return bits(value) if isinstance(value, float) else (type(value), value)


class DiffAgainstModel(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.diff, self.model = PyGraphDiff(), GraphDiffModel()

    def both(self, name, *args):
        assert getattr(self.diff, name)(*args) is None
        getattr(self.model, name)(*args)

    @rule(node=ids, update=updates)
    def add_node(self, node, update):
        self.both("add_node", node, update)

    @rule(node=ids)
    def delete_node(self, node):
        self.both("delete_node", node)

    # A run of deletions: each visits the sources with pending edges until
    # the visits have cost about what indexing the pending edges by target
    # would, and from then on the diff keeps that index, so sequences with
    # this rule reach both ways of finding a deleted node's sources.
    @rule(nodes=st.lists(ids, min_size=2, max_size=6))
    def delete_nodes(self, nodes):
        for node in nodes:
            self.both("delete_node", node)

    # A decoded diff starts without that index and builds its own from what
    # it holds.
    @rule()
    def through_bytes(self):
        self.diff = PyGraphDiff.from_bytes(self.diff.to_bytes())
        self.model.through_bytes()

    @rule(source=ids, to=ids, weight=weights)
    def add_edge(self, source, to, weight):
        self.both("add_edge", source, to, weight)

    @rule(source=ids, to=ids)
    def delete_edge(self, source, to):
        self.both("delete_edge", source, to)

    @rule(roll=st.integers(0, 9))
    def clear(self, roll):
        if roll == 0:  # rarely, so that states grow
            self.both("clear")

    @rule(call=refused)
    def refused_call(self, call):
        # Exactly as it was: listings in the same order, and the same bytes.
        before = (repr(snapshot(self.diff)), self.diff.to_bytes())
        try:
            call(self.diff)
        except Exception as error:
            assert not isinstance(error, SystemError), repr(error)
            assert (repr(snapshot(self.diff)), self.diff.to_bytes()) == before
            return
        raise AssertionError("call was not refused")

    @invariant()
    def same_content(self):
        diff, model = self.diff, self.model
        nodes = diff.new_or_updated_nodes()
        assert all(list(u) == [k for k in FIELDS if k in u] for u in nodes.values())  # key order
        assert {n: {k: exact(v) for k, v in u.items()} for n, u in nodes.items()} == {
            n: {k: exact(v) for k, v in u.items()} for n, u in model.new_or_updated_nodes().items()}
        deleted = diff.deleted_nodes()
        assert len(deleted) == len(set(deleted)) and set(deleted) == set(model.deleted_nodes())
        assert {s: {t: bits(w) for t, w in ts.items()} for s, ts in diff.new_or_updated_edges().items()} == {
            s: {t: bits(w) for t, w in ts.items()} for s, ts in model.new_or_updated_edges().items()}
        deleted_edges = diff.deleted_edges()
        assert all(len(ts) == len(set(ts)) > 0 for ts in deleted_edges.values())
        assert {s: set(ts) for s, ts in deleted_edges.items()} == {
            s: set(ts) for s, ts in model.deleted_edges().items()}
        assert (diff.num_nodes(), diff.num_edges()) == (model.num_nodes(), model.num_edges())


DiffAgainstModel.TestCase.settings = settings(max_examples=examples(150), stateful_step_count=30, deadline=None,
                                              database=None, suppress_health_check=[HealthCheck.too_slow])
test_diff_against_model = DiffAgainstModel.TestCase
