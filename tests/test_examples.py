"""The examples, run as a user runs them, and the Python snippets of the README and docs/."""

import ast
import importlib.util
import json
import math
import re
import struct
import subprocess
import sys
from pathlib import Path

import pytest

from conftest import A, B, C, D, text
from tovra_api import PyGraphDiff

ROOT = Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples"
DOCS = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]


def snippets(page=None):
    """The ```python blocks of one page, or of the README and every page of docs/."""
    pages = [ROOT / page] if page else DOCS
    return [s for p in pages for s in re.findall(r"```python\n(.*?)```", p.read_text(encoding="utf-8"), re.DOTALL)]


def run(script, *args, stdin=b""):
    """Runs an example with this interpreter; returns (exit code, stdout text, stderr text)."""
    done = subprocess.run([sys.executable, str(EXAMPLES / script), *args], input=stdin,
                          capture_output=True, timeout=120)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def listings(diff):
    """What inspect_diff.py shows of a diff, computed here: lists sorted, non-finite floats named."""
    def named(weights):
        return {t: w if math.isfinite(w) else str(w) for t, w in weights.items()}
    return {
        "new_or_updated_nodes": diff.new_or_updated_nodes(),
        "deleted_nodes": sorted(diff.deleted_nodes()),
        "new_or_updated_edges": {s: named(w) for s, w in diff.new_or_updated_edges().items()},
        "deleted_edges": {s: sorted(t) for s, t in diff.deleted_edges().items()},
        "num_nodes": diff.num_nodes(),
        "num_edges": diff.num_edges(),
    }


@pytest.fixture(scope="module")
def quickstart():
    """What examples/quickstart.py prints, line by line: {name: text after the colon}."""
    code, out, err = run("quickstart.py")
    assert (code, err) == (0, "")
    return dict(line.split(": ", 1) for line in out.splitlines())


def test_quickstart(quickstart):
    a, b, c, d = (f"00000000-0000-0000-0000-00000000000{n}" for n in range(1, 5))
    assert ast.literal_eval(quickstart["new_or_updated_nodes"]) == {
        a: {"label": "Alice", "size": 2.0, "red": 200, "show_label": True},
        b: {"label": "Bob", "url": "https://example.com/bob"},
    }
    assert ast.literal_eval(quickstart["deleted_nodes"]) == [c]
    assert ast.literal_eval(quickstart["new_or_updated_edges"]) == {a: {b: 0.75}, b: {a: 0.25}}
    assert ast.literal_eval(quickstart["deleted_edges"]) == {a: [c], d: [a]}
    assert (quickstart["num_nodes"], quickstart["num_edges"]) == ("3", "4")
    assert quickstart["round trip keeps the content"] == "True"
    assert quickstart["after clear"] == "0 0"


def test_documented_listings_are_those_of_the_quickstart(quickstart):
    # docs/api.md shows the quickstart's listings; the order of entries is left
    # out of the comparison, as the page says.
    page = (ROOT / "docs" / "api.md").read_text(encoding="utf-8")
    block = re.search(r"```pycon\n(.*?)```", page, re.DOTALL).group(1)
    shown = re.findall(r">>> diff\.(\w+)\(\)\n(.*?)(?=>>>|\Z)", block, re.DOTALL)
    assert [name for name, _ in shown] == ["new_or_updated_nodes", "deleted_nodes", "new_or_updated_edges",
                                           "deleted_edges", "num_nodes", "num_edges"]
    for name, value in shown:
        assert ast.literal_eval(value) == ast.literal_eval(quickstart[name]), name


def graph_by_label(graph):
    """The applier's graph with node texts replaced by labels, for a readable comparison."""
    label = {name: attributes["label"] for name, attributes in graph["nodes"].items()}
    nodes = {label[name]: attributes for name, attributes in graph["nodes"].items()}
    edges = {(label[s], label[t]): w for s, targets in graph["edges"].items() for t, w in targets.items()}
    return nodes, edges


def test_stream_through_a_pipe_between_two_processes():
    code, out, err = run("stream_diffs.py")
    assert (code, err) == (0, "")
    summary, graph = out.split("graph:\n")
    assert [line.split(":")[0] for line in summary.splitlines()] == ["diff 1", "diff 2", "diff 3"]
    nodes, edges = graph_by_label(json.loads(graph))
    # Home's attributes merged over two batches; the old page and every edge
    # touching it gone, including the one from batch 1 that batch 3 never named.
    assert nodes == {
        "Home": {"label": "Home", "url": "https://example.com/", "size": 3.0,
                 "red": 30, "green": 120, "blue": 220, "show_label": True},
        "Docs": {"label": "Docs", "url": "https://example.com/docs", "size": 2.0},
        "Blog": {"label": "Blog", "url": "https://example.com/blog"},
    }
    assert edges == {("Home", "Docs"): 1.0, ("Home", "Blog"): 0.75, ("Blog", "Docs"): 0.5,
                     ("Docs", "Home"): 0.125}


def test_stream_through_a_file_and_its_inspection(tmp_path):
    stored = tmp_path / "diffs.bin"
    assert run("stream_diffs.py", "record", str(stored)) == (0, "", "")
    assert run("stream_diffs.py", "apply", str(stored)) == run("stream_diffs.py")

    # The frames, read here by their documented layout: an 8-byte little-endian
    # length, then the diff.
    data, frames = stored.read_bytes(), []
    while data:
        (length,) = struct.unpack_from("<Q", data)
        frames.append(data[8:8 + length])
        data = data[8 + length:]
    assert len(frames) == 3

    code, out, err = run("inspect_diff.py", "--stream", str(stored))
    assert (code, err) == (0, "")
    shown = json.loads(out)
    expected = [dict(listings(PyGraphDiff.from_bytes(frame)), bytes=len(frame)) for frame in frames]
    assert shown == expected


def test_inspect_one_diff_from_a_file_and_from_stdin(tmp_path):
    diff = PyGraphDiff()
    diff.add_node(A, {"label": "Zoë \"quoted\"", "size": 0.1, "show_label": False})
    diff.add_node(B, {})
    diff.add_edge(A, B, math.nan)
    diff.add_edge(A, C, -math.inf)
    diff.add_edge(B, A, 1e-3)
    diff.delete_edge(D, A)
    diff.delete_edge(D, B)
    diff.delete_node(D)
    diff.delete_node(C)
    data = diff.to_bytes()
    stored = tmp_path / "one.diff"
    stored.write_bytes(data)

    expected = dict(listings(diff), bytes=len(data))
    assert expected["new_or_updated_edges"][text(A)][text(B)] == "nan"
    for args, stdin in [((str(stored),), b""), (("-",), data)]:
        code, out, err = run("inspect_diff.py", *args, stdin=stdin)
        assert (code, err) == (0, "")
        assert json.loads(out) == expected
        assert "Zoë" in out  # readable, not \u escapes


@pytest.mark.parametrize("args, content, message", [
    ((), b"\x01" + bytes(31), "not a diff: Failed to deserialize graph diff."),
    (("--stream",), struct.pack("<Q", 3) + b"abc", "not a diff: Failed to deserialize graph diff."),
    (("--stream",), struct.pack("<Q", 40) + bytes(32), "the stream ends inside a frame: 32 of 40 bytes"),
    (("--stream",), b"\x20\x00", "the stream ends inside a frame header"),
])
def test_inspect_refuses_what_is_not_a_diff(tmp_path, args, content, message):
    stored = tmp_path / "bad.bin"
    stored.write_bytes(content)
    assert run("inspect_diff.py", *args, str(stored)) == (1, "", f"inspect_diff: {stored}: {message}\n")


def test_documented_python_snippets_run(tmp_path):
    found = snippets()
    assert len(found) >= 5
    for snippet in found:
        if "import networkx" in snippet and importlib.util.find_spec("networkx") is None:
            continue
        # From a file: a snippet that starts processes needs its module importable by path.
        script = tmp_path / "snippet.py"
        script.write_text(snippet, encoding="utf-8")
        done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, timeout=120)
        assert (done.returncode, done.stderr) == (0, ""), snippet
    # The worked example of the byte format prints the bytes the page shows.
    worked = next(s for s in snippets("docs/format.md") if "print(data.hex())" in s)
    printed = subprocess.run([sys.executable, "-c", worked], capture_output=True, text=True).stdout
    assert re.search(r"```\n" + printed.strip() + r"\n```", (ROOT / "docs" / "format.md").read_text(encoding="utf-8"))


def test_networkx_graphs_stay_equal_across_processes():
    pytest.importorskip("networkx")
    code, out, err = run("networkx_sync.py", "--seed", "3")
    assert (code, err) == (0, "")
    assert re.fullmatch(r"graphs equal after \d+ batches: \d+ nodes, \d+ edges; [1-9]\d* batches ended "
                        r"early to re-add a node \(seed 3, 200 rounds\)\n", out), out

    # Re-added in the batch that deleted it, node 2 keeps on the consumer its
    # attributes and edges from earlier batches, and the check must say so.
    code, out, err = run("networkx_sync.py", "--unsafe-readd")
    assert (code, out) == (1, "")
    one, two, four = (f"00000000-0000-0000-0000-00000000000{n}" for n in (1, 2, 4))
    assert err.splitlines() == [
        "networkx_sync (seed 1): the graphs differ after batch 3:",
        f"  node {two}: producer {{'label': 'B again'}}, consumer {{'label': 'B again', "
        "'url': 'https://example.com/b', 'size': 1.5, 'red': 200}",
        f"  edge {one} -> {two}: producer absent, consumer 0.699999988079071",
        f"  edge {two} -> {one}: producer absent, consumer 1.0",
        f"  edge {four} -> {two}: producer absent, consumer 3.0",
    ]


def test_documented_apply_diff_is_the_example_s():
    def apply_diff_source(code):
        tree = ast.parse(code)
        found = [ast.get_source_segment(code, f) for f in tree.body
                 if isinstance(f, ast.FunctionDef) and f.name == "apply_diff"]
        assert len(found) == 1
        return found[0]

    shown = [s for s in snippets("docs/api.md") if "def apply_diff" in s]
    assert len(shown) == 1
    example = (EXAMPLES / "networkx_sync.py").read_text(encoding="utf-8")
    assert apply_diff_source(shown[0]) == apply_diff_source(example)
