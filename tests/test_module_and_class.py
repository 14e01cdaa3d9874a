"""The module object, the PyGraphDiff class and its method table."""

import gc
import importlib
import pickle
import re
import subprocess
import sys

import pytest

import tovra_api
from conftest import ROOT, expect_error, stub_methods
from tovra_api import PyGraphDiff

def documented_methods():
    """name -> signature text of each entry under the Methods heading of docs/api.md."""
    page = (ROOT / "docs" / "api.md").read_text(encoding="utf-8")
    section = page.split("## Methods\n", 1)[1].split("\n## ", 1)[0]
    entries = re.findall(r"^\*\*`(?:PyGraphDiff\.)?(\w+)\(([^)]*)\)[^`]*`\*\*", section, re.MULTILINE)
    return {name: "(" + parameters + ")" for name, parameters in entries if name != "PyGraphDiff"}


# Read from the stub, and held against the runtime method table below.
METHODS = stub_methods()


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


def test_method_table_is_the_stubs_and_the_documented_one():
    own = [name for name in vars(PyGraphDiff) if not name.startswith("__")]
    assert own == [name for name, _, _ in METHODS]  # the stub lists them in table order
    # Nothing else of its own: object's protocol is inherited.
    assert set(vars(PyGraphDiff)) - set(own) == {"__new__", "__doc__", "__module__"}
    for name in ("__init__", "__eq__", "__hash__", "__repr__", "__reduce_ex__"):
        assert getattr(PyGraphDiff, name) is getattr(object, name)
    # docs/api.md documents each method once, with the runtime's parameters.
    runtime = {name: getattr(PyGraphDiff, name).__text_signature__.replace("$self, ", "").replace("$self", "")
               for name in own}
    assert documented_methods() == runtime


@pytest.mark.parametrize("name, signature, static", METHODS)
def test_method_signature_and_kind(name, signature, static):
    method = getattr(PyGraphDiff, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ is None  # the doc string is the signature and nothing else
    assert isinstance(vars(PyGraphDiff)[name], staticmethod) is static
    if not static:
        with pytest.raises(TypeError):  # the descriptor checks self
            method(object())


def test_class_keeps_its_attributes(d):
    # A refused pickle caches the slot names on a class that lets it.
    with pytest.raises(TypeError):
        pickle.dumps(d)
    before = dict(vars(PyGraphDiff))
    with pytest.raises(TypeError):
        PyGraphDiff.extra = 1
    with pytest.raises(TypeError):
        del PyGraphDiff.add_node
    assert "__slotnames__" not in before and dict(vars(PyGraphDiff)) == before


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
