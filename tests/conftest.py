"""Shared ids and helpers for the Python tests of tovra_api."""

import ast
import importlib.util
import math
import os
import struct
import uuid
from pathlib import Path

import pytest
from hypothesis import settings

from tovra_api import PyGraphDiff

A = bytes(range(16))  # text 00010203-0405-0607-0809-0a0b0c0d0e0f
B = b"\xff" * 16  # text ffffffff-ffff-ffff-ffff-ffffffffffff
C = bytes(16)
D = bytes.fromhex("0123456789abcdef0123456789abcdef")


ROOT = Path(__file__).resolve().parents[1]

# The share of the property tests' examples to run. Under emulation an
# example costs tens of times what it costs natively, so the emulated runs set
# TOVRA_TEST_EFFORT=0.2: every test still runs, on a fifth of the examples.
EFFORT = float(os.environ.get("TOVRA_TEST_EFFORT", "1"))


def examples(count):
    """`count` examples scaled by the effort, never fewer than ten."""
    return max(10, round(count * EFFORT))


settings.register_profile("effort", max_examples=examples(settings.default.max_examples))
settings.load_profile("effort")


def load_source(relative_path):
    """A Python file of the checkout outside the tests (a tool, a benchmark's subject), as a module."""
    path = ROOT / relative_path
    spec = importlib.util.spec_from_file_location(path.stem, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


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


class CallsBack:
    """A number that runs `action` each time it is converted (__index__ or __float__), as a
    converted object may run any Python code, then converts to `value`. It records what `action`
    raised, and lets it through when `propagate`."""

    def __init__(self, action, propagate=False, value=2):
        self.action, self.propagate, self.value, self.raised = action, propagate, value, None

    def __index__(self):
        try:
            self.action()
        except Exception as error:
            # Kept without its traceback, which would hold this frame and its
            # callers alive between conversions (and show in the leak checks).
            self.raised = error.with_traceback(None)
            if self.propagate:
                raise
        return self.value

    def __float__(self):
        return float(self.__index__())


def snapshot(diff):
    """Everything a diff shows, in listing order, for 'left unchanged' checks."""
    return (diff.new_or_updated_nodes(), diff.deleted_nodes(), diff.new_or_updated_edges(),
            diff.deleted_edges(), diff.num_nodes(), diff.num_edges())


def stub_methods():
    """(name, text signature, static) of each method of the stub's class, in the stub's order.
    The stub names `from` as `from_` (a keyword in Python) and makes it positional-only."""
    tree = ast.parse((ROOT / "tovra_api.pyi").read_text())
    stub_class = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "PyGraphDiff")
    methods = []
    for function in stub_class.body:
        if not isinstance(function, ast.FunctionDef) or function.name.startswith("__"):
            continue
        names = ["from" if a.arg == "from_" else a.arg for a in function.args.posonlyargs + function.args.args]
        static = [ast.unparse(d) for d in function.decorator_list] == ["staticmethod"]
        if not static:
            assert names[0] == "self", function.name
            names[0] = "$self"
        methods.append((function.name, "(" + ", ".join(names) + ")", static))
    return methods


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
