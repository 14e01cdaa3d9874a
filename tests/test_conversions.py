"""Python values in and out: node ids, update dicts and weights."""

import array
import collections
import math
import types

import pytest

from conftest import A, B, C, bits, expect_error, said, snapshot, text
from tovra_api import PyGraphDiff

FAILED_ID = "failed to extract field PyUuid.0"
FLT_MAX = 3.4028234663852886e38
FLT_OVERFLOW = FLT_MAX + 2.0**103  # halfway between the largest float and 2**128
PREFIX = "argument 'update': "

# The interpreter's own conversions, which the module calls and whose texts it passes on:
# math.sqrt turns its argument into a C double and array "l" into a C long, as the module does.
def as_double(value):
    return said(lambda: math.sqrt(value))


def as_long(value):
    return said(lambda: array.array("l", [value]))


SURROGATE = said(lambda: "\ud800".encode())


class Holder:
    class Inner:  # qualified name Holder.Inner, type name Inner
        pass


class Bytes16(bytes):
    def __eq__(self, other):
        raise AssertionError("node id compared with __eq__")

    def __hash__(self):
        raise AssertionError("node id hashed with __hash__")


def obj(**methods):
    """An object whose special methods return a value, or raise it if it is an exception."""

    def slot(result):
        def method(self):
            if isinstance(result, BaseException):
                raise result
            return result

        return method

    return type("FloatOnly" if "__float__" in methods else "Obj", (), {k: slot(v) for k, v in methods.items()})()


def type_error_with_cause():
    error = TypeError("boom")
    error.__cause__ = KeyError("k")
    return error


SubTypeError = type("SubTypeError", (TypeError,), {})

# ---------------------------------------------------------------- node ids

ID_REFUSALS = [
    (b"", Exception, "Expected 16 bytes."),
    (bytes(15), Exception, "Expected 16 bytes."),
    (Bytes16(b"x" * 15), Exception, "Expected 16 bytes."),
    (bytearray(16), TypeError, "'bytearray' object cannot be converted to 'PyBytes'"),
    (memoryview(bytes(16)), TypeError, "'memoryview' object cannot be converted to 'PyBytes'"),
    (text(A), TypeError, "'str' object cannot be converted to 'PyBytes'"),
    (None, TypeError, "'NoneType' object cannot be converted to 'PyBytes'"),
    (Holder.Inner(), TypeError, "'Holder.Inner' object cannot be converted to 'PyBytes'"),
]
# (method, arguments with the bad id in one place, parameter name)
ID_PLACES = [
    ("add_node", lambda x: (x, {"label": "x"}), "id"),
    ("delete_node", lambda x: (x,), "id"),
    ("add_edge", lambda x: (x, B, 1.0), "from"),
    ("add_edge", lambda x: (A, x, 1.0), "to"),
    ("delete_edge", lambda x: (x, B), "from"),
    ("delete_edge", lambda x: (A, x), "to"),
]


@pytest.mark.parametrize("method, place, name", ID_PLACES)
@pytest.mark.parametrize("value, cause, cause_message", ID_REFUSALS)
def test_node_id_refusals(filled, method, place, name, value, cause, cause_message):
    before = snapshot(filled)
    error = expect_error(lambda: getattr(filled, method)(*place(value)), TypeError,
                         f"argument '{name}': {FAILED_ID}", (cause, cause_message))
    assert error.__cause__.__cause__ is None
    assert snapshot(filled) == before


def test_first_refused_argument_wins(d):
    expect_error(lambda: d.delete_edge(b"", "x"), TypeError, f"argument 'from': {FAILED_ID}",
                 (Exception, "Expected 16 bytes."))
    expect_error(lambda: d.add_edge(A, "x", "w"), TypeError, f"argument 'to': {FAILED_ID}",
                 (TypeError, "'str' object cannot be converted to 'PyBytes'"))
    expect_error(lambda: d.add_node("x", "y"), TypeError, f"argument 'id': {FAILED_ID}",
                 (TypeError, "'str' object cannot be converted to 'PyBytes'"))


@pytest.mark.parametrize(
    "node_id, expected",
    [
        (bytes(16), "00000000-0000-0000-0000-000000000000"),
        (A, "00010203-0405-0607-0809-0a0b0c0d0e0f"),
        (B, "ffffffff-ffff-ffff-ffff-ffffffffffff"),
        (bytes.fromhex("a0b1c2d3e4f5061728394a5b6c7d8e9f"), "a0b1c2d3-e4f5-0617-2839-4a5b6c7d8e9f"),
        (Bytes16(A), "00010203-0405-0607-0809-0a0b0c0d0e0f"),  # read as raw bytes
    ],
)
def test_node_id_text(d, node_id, expected):
    d.add_node(node_id, {})
    d.delete_node(node_id)
    d.delete_edge(node_id, node_id)
    [listed] = d.deleted_nodes()
    assert type(listed) is str and listed == expected
    assert d.deleted_edges() == {expected: [expected]}


# ---------------------------------------------------------------- update dicts

UPDATE_REFUSALS = [
    ([("label", "x")], TypeError, PREFIX + "'list' object cannot be converted to 'PyDict'"),
    (None, TypeError, PREFIX + "'NoneType' object cannot be converted to 'PyDict'"),
    (types.MappingProxyType({}), TypeError, PREFIX + "'mappingproxy' object cannot be converted to 'PyDict'"),
    ({"label": None}, TypeError, PREFIX + "'NoneType' object cannot be converted to 'PyString'"),
    ({"url": b"x"}, TypeError, PREFIX + "'bytes' object cannot be converted to 'PyString'"),
    ({"label": "\ud800"}, UnicodeEncodeError,
     SURROGATE),
    ({"size": "2"}, TypeError, PREFIX + as_double("2")),
    ({"size": 10**400}, OverflowError, as_double(10**400)),
    ({"size": obj(__float__=ValueError("v"))}, ValueError, "v"),
    ({"red": 256}, OverflowError, "out of range integral type conversion attempted"),
    ({"green": -1}, OverflowError, "out of range integral type conversion attempted"),
    ({"red": 2**70}, OverflowError, as_long(2**70)),
    ({"red": 1.0}, TypeError, PREFIX + as_long(1.0)),
    ({"blue": None}, TypeError, PREFIX + as_long(None)),
    ({"red": obj(__index__=ValueError("i"))}, ValueError, "i"),
    ({"red": obj(__index__=TypeError("boom"))}, TypeError, PREFIX + "boom"),
    ({"show_label": 1}, TypeError, PREFIX + "'int' object cannot be converted to 'PyBool'"),
    # the first failure in the fixed key order wins, whatever the dict's own order
    ({"red": 300, "label": 5}, TypeError, PREFIX + "'int' object cannot be converted to 'PyString'"),
    ({"show_label": 1, "size": "x", "url": 3}, TypeError, PREFIX + "'int' object cannot be converted to 'PyString'"),
    ({"show_label": 1, "size": "x"}, TypeError, PREFIX + as_double("x")),
    ({"blue": "x", "green": 300}, OverflowError, "out of range integral type conversion attempted"),
]


@pytest.mark.parametrize("update, cls, message", UPDATE_REFUSALS)
def test_update_refusals(filled, update, cls, message):
    before = snapshot(filled)
    expect_error(lambda: filled.add_node(A, update), cls, message)
    assert snapshot(filled) == before


def test_renamed_type_error_keeps_its_cause(d):
    expect_error(lambda: d.add_node(A, {"size": obj(__float__=type_error_with_cause())}),
                 TypeError, PREFIX + "boom", (KeyError, "'k'"))


UPDATE_ACCEPTED = [
    ({}, {}),
    ({"showLabel": True, "colour": 3, 1: None, ("label",): 5}, {}),
    ({"label": ""}, {"label": ""}),
    ({"label": type("S", (str,), {})("é✓")}, {"label": "é✓"}),
    ({"red": True, "green": False}, {"red": 1, "green": 0}),
    ({"red": 255, "blue": type("I", (int,), {})(7), "green": obj(__index__=9)}, {"red": 255, "green": 9, "blue": 7}),
    ({"size": 0.1}, {"size": 0.10000000149011612}),
    ({"size": obj(__index__=3)}, {"size": 3.0}),
    ({"green": 0, "show_label": False}, {"green": 0, "show_label": False}),
    (
        {"show_label": True, "blue": 3, "green": 2, "red": 1, "size": 4.0, "url": "u", "label": "l", "x": 0},
        {"label": "l", "url": "u", "size": 4.0, "red": 1, "green": 2, "blue": 3, "show_label": True},
    ),
]


@pytest.mark.parametrize("update, expected", UPDATE_ACCEPTED)
def test_update_accepted(d, update, expected):
    kept = dict(update)
    d.add_node(A, update)
    listed = d.new_or_updated_nodes()[text(A)]
    assert list(listed.items()) == list(expected.items())  # values and key order
    assert [type(v) for v in listed.values()] == [type(v) for v in expected.values()]
    assert update == kept  # the argument is left as it was


def test_numpy_bool():
    # A numpy built for another interpreter is found but fails to import.
    try:
        import numpy
    except ImportError:
        pytest.skip("numpy cannot be imported here")
    d = PyGraphDiff()
    d.add_node(A, {"show_label": numpy.True_})
    d.add_node(B, {"show_label": numpy.False_})
    nodes = d.new_or_updated_nodes()
    assert nodes[text(A)]["show_label"] is True and nodes[text(B)]["show_label"] is False
    expect_error(lambda: d.add_node(C, {"show_label": numpy.int8(1)}), TypeError,
                 PREFIX + "'int8' object cannot be converted to 'PyBool'")


class Refusing(dict):
    def __getitem__(self, key):
        raise AssertionError("__getitem__ called")

    def __missing__(self, key):
        raise AssertionError("__missing__ called")


def test_dicts_are_read_from_their_own_table(d):
    d.add_node(A, Refusing(label="x", red=3))
    factory = collections.defaultdict(lambda: 1 / 0, url="u")
    d.add_node(B, factory)
    assert dict(factory) == {"url": "u"}  # no key added for the missing ones
    assert d.new_or_updated_nodes() == {text(A): {"label": "x", "red": 3}, text(B): {"url": "u"}}


def test_dict_changed_during_conversion(d):
    class Mutator:  # the dict holds the only reference to it while it runs
        def __init__(self, action, value):
            self.action, self.value = action, value

        def __index__(self):
            self.action()
            return self.value

    update = {}
    update.update(label="l", red=Mutator(update.clear, 5), blue=3)
    d.add_node(A, update)
    update.update(green=Mutator(lambda: update.update(blue=7, show_label=True), 2))
    d.add_node(B, update)
    nodes = d.new_or_updated_nodes()
    assert nodes == {text(A): {"label": "l", "red": 5}, text(B): {"green": 2, "blue": 7, "show_label": True}}


class LabelStr(str):
    pass


class LooksLikeSize:
    """Not a str, yet equal to "size" for a dict lookup."""

    def __hash__(self):
        return hash("size")

    def __eq__(self, other):
        return other == "size"


@pytest.mark.parametrize("update, expected", [
    ({"".join(["la", "bel"]): "x", "re" + "d": 1}, {"label": "x", "red": 1}),  # keys made at run time
    ({LabelStr("label"): "x", "url": "u"}, {"label": "x", "url": "u"}),  # a str subclass key
    ({LooksLikeSize(): 2.5, "blue": 4}, {"size": 2.5, "blue": 4}),  # found through __eq__
    ({"labels": "x", "Label": "y", "é": 1, 7: 2}, {}),  # near misses and other keys are ignored
], ids=["runtime-keys", "str-subclass-key", "eq-key", "other-keys"])
def test_update_keys_match_as_in_a_lookup(d, update, expected):
    d.add_node(A, update)
    assert d.new_or_updated_nodes() == {text(A): expected}


# ---------------------------------------------------------------- weights

WEIGHTS = [
    (0.5, 0.5),
    (0.1, 0.10000000149011612),
    (True, 1.0),
    (2**24 + 1, 16777216.0),  # ties to even
    (1 + 2**-24, 1.0),
    (1 + 3 * 2**-24, 1 + 2**-22),
    (1e39, math.inf),
    (math.nextafter(FLT_OVERFLOW, 0), FLT_MAX),
    (FLT_OVERFLOW, math.inf),  # the midpoint: ties to even go up
    (-FLT_OVERFLOW, -math.inf),
    (-1e-46, -0.0),
    (-0.0, -0.0),
    (math.nan, math.nan),
    (-math.nan, -math.nan),
    (type("F", (float,), {})(2.5), 2.5),
    (obj(__float__=0.25), 0.25),
    (obj(__index__=7), 7.0),
]


@pytest.mark.parametrize("weight, expected", WEIGHTS)
def test_weight_accepted(d, weight, expected):
    d.add_edge(A, B, weight)
    listed = d.new_or_updated_edges()[text(A)][text(B)]
    assert type(listed) is float and bits(listed) == bits(expected)
    d.add_node(C, {"size": weight})  # the same conversion serves a node's size
    assert bits(d.new_or_updated_nodes()[text(C)]["size"]) == bits(expected)


WEIGHT_REFUSALS = [
    ("1.0", TypeError, "argument 'weight': " + as_double("1.0"), None),
    (1j, TypeError, "argument 'weight': " + as_double(1j), None),
    (Holder.Inner(), TypeError, "argument 'weight': " + as_double(Holder.Inner()), None),
    (10**400, OverflowError, as_double(10**400), None),
    (obj(__float__=ValueError("bad")), ValueError, "bad", None),
    (obj(__float__=TypeError("bad")), TypeError, "argument 'weight': bad", None),
    (obj(__float__=SubTypeError("sub")), SubTypeError, "sub", None),  # only TypeError itself is renamed
    (obj(__float__=type_error_with_cause()), TypeError, "argument 'weight': boom", (KeyError, "'k'")),
    (obj(__index__=OverflowError("big")), OverflowError, "big", None),
    (obj(__float__="1"), TypeError, "argument 'weight': " + as_double(obj(__float__="1")), None),
]


@pytest.mark.parametrize("weight, cls, message, cause", WEIGHT_REFUSALS)
def test_weight_refusals(filled, weight, cls, message, cause):
    before = snapshot(filled)
    expect_error(lambda: filled.add_edge(A, C, weight), cls, message, cause)
    assert snapshot(filled) == before
