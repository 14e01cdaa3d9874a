"""The module object, the PyGraphDiff class and its method table."""

import gc
import importlib
import subprocess
import sys

import pytest

import tovra_api
from conftest import expect_error
from tovra_api import PyGraphDiff

# (name, text signature), in method table order; from_bytes is the static one.
METHODS = [
    ("new_or_updated_nodes", "($self)"),
    ("deleted_nodes", "($self)"),
    ("new_or_updated_edges", "($self)"),
    ("deleted_edges", "($self)"),
    ("num_nodes", "($self)"),
    ("num_edges", "($self)"),
    ("add_node", "($self, id, update)"),
    ("delete_node", "($self, id)"),
    ("add_edge", "($self, from, to, weight)"),
    ("delete_edge", "($self, from, to)"),
    ("clear", "($self)"),
    ("to_bytes", "($self)"),
    ("from_bytes", "(bytes)"),
]


def test_module_and_class_attributes():
    assert tovra_api.__all__ == ["PyGraphDiff"] and tovra_api.__doc__ == ""
    assert {name for name in vars(tovra_api) if not name.startswith("__")} == {"PyGraphDiff"}
    assert not hasattr(tovra_api, "PanicException")
    names = (PyGraphDiff.__name__, PyGraphDiff.__qualname__, PyGraphDiff.__module__)
    assert names == ("PyGraphDiff", "PyGraphDiff", "tovra_api")
    assert (PyGraphDiff.__doc__, PyGraphDiff.__text_signature__) == ("", "()")
    assert PyGraphDiff.__bases__ == (object,)


def test_reimport_gives_same_module_and_class():
    module = sys.modules.pop("tovra_api")
    try:
        again = importlib.import_module("tovra_api")
        assert again is module and again.PyGraphDiff is PyGraphDiff
        assert again.__all__ == ["PyGraphDiff"]  # not appended to a second time
    finally:
        sys.modules["tovra_api"] = module


def test_import_with_warnings_as_errors():
    code = "import tovra_api; tovra_api.PyGraphDiff().add_node(bytes(16), {}); print('ok')"
    run = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True)
    assert (run.returncode, run.stdout, run.stderr) == (0, "ok\n", "")


def test_not_subclassable():
    with pytest.raises(TypeError):
        type("Sub", (PyGraphDiff,), {})


def test_method_table():
    own = [name for name in vars(PyGraphDiff) if not name.startswith("__")]
    assert own == [name for name, _ in METHODS]
    # Nothing else of its own: object's protocol is inherited.
    assert set(vars(PyGraphDiff)) - set(own) == {"__new__", "__doc__", "__module__"}
    for name in ("__init__", "__eq__", "__hash__", "__repr__", "__reduce_ex__"):
        assert getattr(PyGraphDiff, name) is getattr(object, name)


@pytest.mark.parametrize("name, signature", METHODS)
def test_method_signature_and_kind(name, signature):
    method = getattr(PyGraphDiff, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ is None  # the doc string is the signature and nothing else
    assert isinstance(vars(PyGraphDiff)[name], staticmethod) is (name == "from_bytes")
    if name != "from_bytes":
        with pytest.raises(TypeError):  # the descriptor checks self
            method(object())


def test_instances_hold_no_python_state(d):
    assert gc.is_tracked(d) is False
    with pytest.raises(AttributeError):
        d.extra = 1


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {}, "takes 0 positional arguments but 1 was given"),
        ((1, 2), {}, "takes 0 positional arguments but 2 were given"),
        ((1,), {"x": 1}, "takes 0 positional arguments but 1 was given"),
        ((), {"x": 1}, "got an unexpected keyword argument 'x'"),
        ((), {"from": 1}, "got an unexpected keyword argument 'from'"),
    ],
)
def test_constructor_refusals(args, kwargs, message):
    message = "PyGraphDiff.__new__() " + message
    expect_error(lambda: PyGraphDiff(*args, **kwargs), TypeError, message)
    expect_error(lambda: PyGraphDiff.__new__(PyGraphDiff, *args, **kwargs), TypeError, message)


def test_new_instance_is_empty():
    for d in (PyGraphDiff(), PyGraphDiff.__new__(PyGraphDiff)):
        assert type(d) is PyGraphDiff and (d.num_nodes(), d.num_edges()) == (0, 0)
