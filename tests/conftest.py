"""Shared ids and helpers for the Python tests of tovra_api."""

import math
import struct
import uuid

import pytest

from tovra_api import PyGraphDiff

A = bytes(range(16))  # text 00010203-0405-0607-0809-0a0b0c0d0e0f
B = b"\xff" * 16  # text ffffffff-ffff-ffff-ffff-ffffffffffff
C = bytes(16)
D = bytes.fromhex("0123456789abcdef0123456789abcdef")


def text(node_id):
    """The text a listing gives for a 16-byte node id."""
    return str(uuid.UUID(bytes=node_id))


def f32(value):
    """`value` rounded to the nearest 32-bit float, ties to even, overflowing to infinity."""
    value = float(value)
    try:
        return struct.unpack("<f", struct.pack("<f", value))[0]
    except OverflowError:
        return math.copysign(math.inf, value)


def bits(value):
    """A float as its 8 bytes, so that nan, -0.0 and 0.0 compare exactly."""
    return struct.pack("<d", value)


def expect_error(call, cls, message, cause=None):
    """`call()` must raise exactly `cls` with `message`, and `cause` (class, message) or none."""
    with pytest.raises(BaseException) as info:
        call()
    error = info.value
    assert (type(error), str(error)) == (cls, message)
    if cause is None:
        assert error.__cause__ is None, repr(error.__cause__)
    else:
        assert (type(error.__cause__), str(error.__cause__)) == cause
    return error


def said(call):
    """The text of the error `call()` raises. Texts the module passes on from the interpreter
    change between Python versions, so tests take them from the running one this way."""
    try:
        call()
    except Exception as error:  # noqa: BLE001 - any error's text is wanted
        return str(error)
    raise AssertionError(f"{call} raised nothing")


def snapshot(diff):
    """Everything a diff shows, in listing order, for 'left unchanged' checks."""
    return (diff.new_or_updated_nodes(), diff.deleted_nodes(), diff.new_or_updated_edges(),
            diff.deleted_edges(), diff.num_nodes(), diff.num_edges())


@pytest.fixture
def d():
    return PyGraphDiff()


@pytest.fixture
def filled():
    """A diff with something in each of its four collections."""
    diff = PyGraphDiff()
    diff.add_node(A, {"label": "a", "red": 1})
    diff.add_edge(A, B, 0.5)
    diff.delete_edge(B, A)
    diff.delete_node(C)
    return diff
