"""The installed distribution: its metadata, its files and its type stub."""

import importlib.metadata
import tomllib
from pathlib import Path

import tovra_api
from conftest import ROOT, stub_methods
from tovra_api import PyGraphDiff

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
    # stubtest cannot read the runtime signatures of add_edge and delete_edge
    # (a parameter named `from`), so all of them are compared here by name.
    runtime = [name for name in vars(PyGraphDiff) if not name.startswith("__")]
    stub = stub_methods()
    assert [name for name, _, _ in stub] == runtime
    for name, signature, _ in stub:
        assert getattr(PyGraphDiff, name).__text_signature__ == signature, name
