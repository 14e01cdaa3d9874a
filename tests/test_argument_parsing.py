"""Argument parsing of the methods that take parameters: exact messages and precedence."""

import pytest

from conftest import A, B, CallsBack, expect_error, snapshot, text
from tovra_api import PyGraphDiff

BAD = b"short"  # a node id its conversion would refuse: parsing comes first

PARSE_ERRORS = [
    ("add_edge", (), {}, "missing 3 required positional arguments: 'from', 'to', and 'weight'"),
    ("add_edge", (A,), {}, "missing 2 required positional arguments: 'to' and 'weight'"),
    ("add_edge", (A, B), {}, "missing 1 required positional argument: 'weight'"),
    ("add_edge", (), {"to": B}, "missing 2 required positional arguments: 'from' and 'weight'"),
    ("add_edge", (BAD,), {"weight": "x"}, "missing 1 required positional argument: 'to'"),
    ("add_node", (A,), {}, "missing 1 required positional argument: 'update'"),
    ("add_node", (), {"update": {}}, "missing 1 required positional argument: 'id'"),
    ("delete_node", (), {}, "missing 1 required positional argument: 'id'"),
    ("delete_edge", (), {"to": A}, "missing 1 required positional argument: 'from'"),
    # too many positional arguments: "arguments" stays plural; keywords are not looked at
    ("delete_node", (A, B), {}, "takes 1 positional arguments but 2 were given"),
    ("delete_node", (A, B), {"x": 1}, "takes 1 positional arguments but 2 were given"),
    ("add_edge", (A, B, 1.0, 2.0), {"from": A}, "takes 3 positional arguments but 4 were given"),
    ("add_node", (BAD, 1, 2), {}, "takes 2 positional arguments but 3 were given"),
    # keywords, in the order given, before any check for missing ones
    ("delete_node", (A,), {"id": A}, "got multiple values for argument 'id'"),
    ("add_edge", (A, B, 1.0), {"to": B}, "got multiple values for argument 'to'"),
    ("add_edge", (A,), {"from": B, "to": B, "weight": 1.0}, "got multiple values for argument 'from'"),
    ("delete_node", (), {"x": 1}, "got an unexpected keyword argument 'x'"),
    ("delete_node", (), {"ID": A}, "got an unexpected keyword argument 'ID'"),
    ("delete_node", (), {"id\0": A}, "got an unexpected keyword argument 'id\0'"),
    ("delete_node", (A,), {"id": A, "x": 1}, "got multiple values for argument 'id'"),
    ("delete_node", (A,), {"x": 1, "id": A}, "got an unexpected keyword argument 'x'"),
    ("add_node", (BAD,), {"update": None, "id": A}, "got multiple values for argument 'id'"),
    ("add_edge", (), {"weight": 1.0, "frm": A}, "got an unexpected keyword argument 'frm'"),
]


@pytest.mark.parametrize("method, args, kwargs, message", PARSE_ERRORS)
def test_parse_errors(filled, method, args, kwargs, message):
    before = snapshot(filled)
    call = getattr(filled, method)
    expect_error(lambda: call(*args, **kwargs), TypeError, f"PyGraphDiff.{method}() {message}")
    assert snapshot(filled) == before


def test_keywords_behave_like_positions():
    # `from` can only be passed through a mapping; names built at run time are
    # not interned and must be matched by their text.
    name = "".join
    by_position, by_keyword = PyGraphDiff(), PyGraphDiff()
    by_position.add_node(A, {"red": 1})
    by_position.add_edge(A, B, 0.5)
    by_position.delete_edge(B, A)
    by_keyword.add_node(**{name("update"): {"red": 1}, name("id"): A})
    by_keyword.add_edge(**{"weight": 0.5, "to": B, "from": A})
    by_keyword.delete_edge(B, **{name(["t", "o"]): A})
    assert snapshot(by_keyword) == snapshot(by_position)
    assert by_keyword.new_or_updated_edges() == {text(A): {text(B): 0.5}}


class Keyword(str):
    """A keyword name whose __eq__ must not be used, shown by its str()."""

    __hash__ = str.__hash__

    def __eq__(self, other):
        raise AssertionError("keyword compared with __eq__")

    def __str__(self):
        return "shown"


def test_keyword_matched_by_text_and_shown_by_str(d):
    d.delete_node(**{Keyword("id"): A})
    assert d.deleted_nodes() == [text(A)]
    expect_error(lambda: d.delete_node(**{Keyword("nope"): A}), TypeError,
                 "PyGraphDiff.delete_node() got an unexpected keyword argument 'shown'")


@pytest.mark.parametrize("method", ["num_nodes", "new_or_updated_edges", "clear", "to_bytes"])
def test_no_argument_methods_refuse_arguments(filled, method):
    before = snapshot(filled)
    for args, kwargs in [((1,), {}), ((), {"x": 1})]:
        with pytest.raises(TypeError):  # the interpreter's own refusal
            getattr(filled, method)(*args, **kwargs)
    assert snapshot(filled) == before


@pytest.mark.parametrize(
    "action, cls, message",
    [
        # a parse error wins over the borrow conflict...
        (lambda d: d.delete_node(), TypeError, "PyGraphDiff.delete_node() missing 1 required positional argument: 'id'"),
        (lambda d: d.add_node(A, {}, {}, x=1), TypeError, "PyGraphDiff.add_node() takes 2 positional arguments but 3 were given"),
        (lambda d: d.delete_edge(A, z=B), TypeError, "PyGraphDiff.delete_edge() got an unexpected keyword argument 'z'"),
        # ...and the borrow conflict over a conversion error
        (lambda d: d.delete_node(BAD), RuntimeError, "Already borrowed"),
        (lambda d: d.add_edge("x", None, "y"), RuntimeError, "Already borrowed"),
        (lambda d: d.add_node(A, []), RuntimeError, "Already borrowed"),
    ],
)
def test_precedence_inside_a_call(d, action, cls, message):
    weight = CallsBack(lambda: action(d), value=1)
    d.add_edge(A, B, weight)
    assert (type(weight.raised), str(weight.raised)) == (cls, message)
    assert d.new_or_updated_edges() == {text(A): {text(B): 1.0}}
