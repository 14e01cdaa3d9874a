"""The recipes of docs/api.md, taken from the page as a user copies them."""

import io
import math
import re
import subprocess
import sys

import pytest

from conftest import A, B, C, ROOT, text
from tovra_api import PyGraphDiff

PAGE = (ROOT / "docs" / "api.md").read_text(encoding="utf-8")


def recipe(heading: str) -> str:
    """The Python block under `### heading` in docs/api.md."""
    section = PAGE.split(f"### {heading}\n", 1)[1].split("\n### ", 1)[0].split("\n## ", 1)[0]
    (code,) = re.findall(r"```python\n(.*?)```", section, re.DOTALL)
    return code


def loaded(heading: str) -> dict:
    namespace = {"__name__": "recipe"}
    exec(compile(recipe(heading), heading, "exec"), namespace)  # noqa: S102 - the page's own code
    return namespace


def sample_diffs():
    first = PyGraphDiff()
    first.add_node(A, {"label": "Zoë", "size": 1.5, "show_label": True})
    first.add_edge(A, B, math.inf)
    first.delete_node(C)
    second = PyGraphDiff()  # empty: 32 bytes
    third = PyGraphDiff()
    third.delete_edge(B, A)
    return [first, second, third]


def test_pickling_recipe_crosses_a_process_boundary(tmp_path):
    script = tmp_path / "pickling.py"
    script.write_text(recipe("Pickling, copying and multiprocessing"), encoding="utf-8")
    for method in ("fork", "spawn"):
        # The start method is set before the recipe's own code runs.
        launcher = (f"import multiprocessing, runpy, sys; multiprocessing.set_start_method({method!r}); "
                    f"sys.argv = [{str(script)!r}]; runpy.run_path({str(script)!r}, run_name='__main__')")
        done = subprocess.run([sys.executable, "-c", launcher], capture_output=True, text=True, timeout=120,
                              cwd=tmp_path)
        assert (done.returncode, done.stderr) == (0, ""), method
        a, b = text(bytes(range(16))), text(bytes(range(16, 32)))
        assert done.stdout.splitlines() == [str([b]), str({a: [b]})]


def test_pickling_recipe_copies_hold_the_same_content():
    import copy
    import copyreg
    import pickle

    saved = copyreg.dispatch_table.get(PyGraphDiff)
    try:
        loaded("Pickling, copying and multiprocessing")
        for diff in sample_diffs():
            for protocol in range(2, pickle.HIGHEST_PROTOCOL + 1):
                again = pickle.loads(pickle.dumps(diff, protocol=protocol))
                assert type(again) is PyGraphDiff and again.to_bytes() == diff.to_bytes()
            for made in (copy.copy(diff), copy.deepcopy(diff)):
                assert made is not diff and made.to_bytes() == diff.to_bytes()
                made.add_node(B, {"red": 1})  # a copy of its own
                assert made.num_nodes() == diff.num_nodes() + 1
    finally:
        copyreg.dispatch_table.pop(PyGraphDiff, None)
        if saved is not None:
            copyreg.dispatch_table[PyGraphDiff] = saved
    assert copyreg.dispatch_table.get(PyGraphDiff) is saved  # the registration was the recipe's, and is gone


def test_framing_recipe_round_trip_and_cut_streams():
    framing = loaded("Many diffs in one stream or file")
    diffs = sample_diffs()
    stream = io.BytesIO()
    framing["write_diffs"](stream, diffs)
    data = stream.getvalue()
    assert len(data) == sum(8 + len(d.to_bytes()) for d in diffs)
    back = list(framing["read_diffs"](io.BytesIO(data)))
    assert [d.to_bytes() for d in back] == [d.to_bytes() for d in diffs]
    assert list(framing["read_diffs"](io.BytesIO(b""))) == []
    first_length = 8 + len(diffs[0].to_bytes())
    for cut, message in [(first_length + 3, "the stream ends inside a frame header"),
                         (first_length + 8 + 31, "the stream ends inside a frame: 31 of 32 bytes"),
                         (5, "the stream ends inside a frame header")]:
        reader = framing["read_diffs"](io.BytesIO(data[:cut]))
        with pytest.raises(EOFError, match=re.escape(message)):
            list(reader)


def test_networkx_recipe_applies_a_batch():
    nx = pytest.importorskip("networkx")
    apply_diff = loaded("Applying a diff to a networkx graph")["apply_diff"]
    graph = nx.DiGraph()
    graph.add_node(text(A), label="old", size=1.0)
    graph.add_node(text(C), label="gone")
    graph.add_edge(text(A), text(C), weight=1.0)
    graph.add_edge(text(C), text(A), weight=2.0)
    graph.add_edge(text(B), text(A), weight=3.0)
    graph.add_node(text(B))
    diff = PyGraphDiff()
    diff.delete_node(C)
    diff.add_node(A, {"size": 2.0, "red": 7})
    diff.delete_edge(B, A)
    diff.add_edge(A, B, 0.5)
    apply_diff(graph, diff)
    assert dict(graph.nodes(data=True)) == {text(A): {"label": "old", "size": 2.0, "red": 7}, text(B): {}}
    assert list(graph.edges(data=True)) == [(text(A), text(B), {"weight": 0.5})]
