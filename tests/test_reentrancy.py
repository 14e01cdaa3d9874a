"""Python code that runs inside a method and calls back into the same diff."""

import pytest

from conftest import A, B, C, CallsBack, expect_error, snapshot, text
from tovra_api import PyGraphDiff

READERS = ["num_nodes", "num_edges", "new_or_updated_nodes", "deleted_nodes",
           "new_or_updated_edges", "deleted_edges", "to_bytes"]
WRITERS = [("add_node", (C, {"label": "c"})), ("delete_node", (C,)), ("add_edge", (C, A, 1.0)),
           ("delete_edge", (C, A)), ("clear", ())]
CALLBACKS = [(m, (), "Already mutably borrowed") for m in READERS] + [
    (m, a, "Already borrowed") for m, a in WRITERS]

# Where the object is converted: as a weight, a node size or a colour channel,
# with the listing that shows the call went through with the value 2.
ENTRIES = {
    "weight": (lambda d, v: d.add_edge(A, B, v), lambda d: d.new_or_updated_edges(), {text(A): {text(B): 2.0}}),
    "size": (lambda d, v: d.add_node(A, {"label": "a", "size": v}), lambda d: d.new_or_updated_nodes(),
             {text(A): {"label": "a", "size": 2.0}}),
    "red": (lambda d, v: d.add_node(A, {"red": v, "blue": 4}), lambda d: d.new_or_updated_nodes(),
            {text(A): {"red": 2, "blue": 4}}),
}


def prepared():
    d = PyGraphDiff()
    d.add_edge(B, C, 0.5)
    d.delete_node(C)
    return d


@pytest.mark.parametrize("entry", ENTRIES)
@pytest.mark.parametrize("method, args, message", CALLBACKS)
def test_call_back_is_refused(entry, method, args, message):
    call, listing, expected = ENTRIES[entry]
    d = prepared()
    value = CallsBack(lambda: getattr(d, method)(*args))
    assert call(d, value) is None  # the outer call goes on
    assert (type(value.raised), str(value.raised)) == (RuntimeError, message)
    assert listing(d) == expected
    getattr(d, method)(*args)  # the borrow is released: the same call now works


@pytest.mark.parametrize("entry", ENTRIES)
@pytest.mark.parametrize("method, args, message", CALLBACKS)
def test_call_back_error_propagates_unchanged(entry, method, args, message):
    call, listing, expected = ENTRIES[entry]
    d = prepared()
    before = snapshot(d)
    value = CallsBack(lambda: getattr(d, method)(*args), propagate=True)
    error = expect_error(lambda: call(d, value), RuntimeError, message)  # no "argument '...': "
    assert error is value.raised
    assert snapshot(d) == before
    call(d, 2)
    assert listing(d) == expected


def test_other_objects_are_not_borrowed():
    d, other = PyGraphDiff(), PyGraphDiff()
    inner = CallsBack(d.num_nodes)  # d is still borrowed while other converts this
    outer = CallsBack(lambda: (other.add_edge(A, B, inner), other.add_node(C, {"label": "o"}),
                               PyGraphDiff.from_bytes(bytes(32))))  # from_bytes takes no borrow
    d.add_edge(A, C, outer)
    assert outer.raised is None and str(inner.raised) == "Already mutably borrowed"
    assert other.new_or_updated_nodes() == {text(C): {"label": "o"}}
    assert other.new_or_updated_edges() == {text(A): {text(B): 2.0}}
    assert d.new_or_updated_edges() == {text(A): {text(C): 2.0}}
