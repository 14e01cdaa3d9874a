"""The installed distribution: its metadata, its files and its type stub."""

import ast
import importlib.metadata
import tomllib
from pathlib import Path

import tovra_api
from tovra_api import PyGraphDiff

ROOT = Path(__file__).resolve().parents[1]
STUB = ROOT / "tovra_api.pyi"


def test_installed_distribution():
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    meta = importlib.metadata.metadata("tovra_api")
    assert (meta["Name"], meta["Version"], meta["Requires-Python"]) == (
        project["name"], project["version"], project["requires-python"])
    assert importlib.metadata.version("tovra_api") == project["version"]

    files = {str(f): f for f in importlib.metadata.files("tovra_api")}
    # The module imported is the one this distribution installed.
    module = Path(tovra_api.__file__).resolve()
    assert any(f.locate().resolve() == module for f in files.values())
    # The stub, twice: beside the module, and as the stub-only package that mypy reads.
    for name in ("tovra_api.pyi", "tovra_api-stubs/__init__.pyi"):
        assert files[name].read_text() == STUB.read_text(), name


def test_stub_matches_the_runtime_signatures():
    # stubtest cannot read the runtime signatures of add_edge and
    # delete_edge (a parameter named `from`), so all of them are compared here
    # by name; the stub calls that parameter `from_`.
    tree = ast.parse(STUB.read_text())
    stub_class = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "PyGraphDiff")
    stub = {f.name: f for f in stub_class.body if isinstance(f, ast.FunctionDef)}
    runtime = [name for name in vars(PyGraphDiff) if not name.startswith("__")]
    assert sorted(stub) == sorted(runtime + ["__new__"])
    for name in runtime:
        function = stub[name]
        names = [a.arg for a in function.args.posonlyargs + function.args.args]
        names = ["from" if n == "from_" else n for n in names]
        static = [ast.unparse(d) for d in function.decorator_list] == ["staticmethod"]
        assert static is (name == "from_bytes")
        if not static:
            assert names[0] == "self"
            names[0] = "$self"
        assert getattr(PyGraphDiff, name).__text_signature__ == "(" + ", ".join(names) + ")", name
