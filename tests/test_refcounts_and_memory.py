"""Every method, on its success and failure paths, leaves reference counts and memory flat."""

import ctypes
import ctypes.util
import gc
import struct
import sys
import tracemalloc

import pytest

from conftest import A, B, C, CallsBack
from test_bytes import REJECTED
from tovra_api import PyGraphDiff

ROUNDS = 2000
LONG = "a label long enough to live on the heap " * 4


def raise_with_cause(self):
    raise TypeError("t") from KeyError("k")


def raise_type_error(self):
    raise TypeError("i")


NESTED = b'{"x":' + b"[" * 10000 + b"]" * 10000 + b"}"


# Each operation gets a prepared diff `d` and the argument objects `a`.
OPERATIONS = {
    "add_node": lambda d, a: d.add_node(A, a["update"]),
    "add_node bad id": lambda d, a: d.add_node(a["short"], a["update"]),
    "add_node not a dict": lambda d, a: d.add_node(A, a["pairs"]),
    "delete_node": lambda d, a: d.delete_node(C),
    "delete_node id not bytes": lambda d, a: d.delete_node(a["text"]),
    "add_edge": lambda d, a: d.add_edge(A, B, a["weight"]),
    "add_edge refused": lambda d, a: d.add_edge(A, C, a["weight"]),
    "add_edge bad to": lambda d, a: d.add_edge(A, a["bytearray"], a["weight"]),
    "add_edge bad weight": lambda d, a: d.add_edge(A, B, a["text"]),
    "add_edge weight too large": lambda d, a: d.add_edge(A, B, a["huge"]),
    "add_edge error with cause": lambda d, a: d.add_edge(A, B, a["with_cause"]),
    "delete_edge": lambda d, a: d.delete_edge(B, A),
    "delete_edge bad from": lambda d, a: d.delete_edge(a["short"], A),
    "delete_edge bad to": lambda d, a: d.delete_edge(A, None),
    # Each calls back into the diff from inside a conversion.
    "reader inside add_edge, swallowed": lambda d, a: d.add_edge(A, B, a["reads"]),
    "reader inside add_node, raised": lambda d, a: d.add_node(A, a["reads_raised"]),
    "writer inside add_edge, swallowed": lambda d, a: d.add_edge(A, B, a["writes"]),
    "writer inside add_edge, raised": lambda d, a: d.add_edge(A, B, a["writes_raised"]),
    "missing argument": lambda d, a: d.add_edge(A, B),
    "unexpected keyword": lambda d, a: d.delete_node(A, **{"x" + "y": 1}),
    "constructor refused": lambda d, a: PyGraphDiff(a["update"]),
    "readers": lambda d, a: (d.new_or_updated_nodes(), d.deleted_nodes(), d.new_or_updated_edges(),
                             d.deleted_edges(), d.num_nodes(), d.num_edges()),
    "to_bytes": lambda d, a: d.to_bytes(),
    "from_bytes": lambda d, a: PyGraphDiff.from_bytes(a["empty"]),
    "from_bytes not bytes": lambda d, a: PyGraphDiff.from_bytes(a["bytearray"]),
    "from_bytes deep nesting": lambda d, a: PyGraphDiff.from_bytes(a["nested"]),
    "constructor": lambda d, a: PyGraphDiff(),
    "clear and refill": lambda d, a: (d.clear(), d.add_node(A, a["update"]), d.add_edge(A, B, 1.0),
                                     d.delete_node(C), d.delete_edge(B, A)),
}
# Every way an update dict is refused.
BAD_UPDATES = {
    "not a str": {"label": 5},
    "not UTF-8": {"url": "\ud800"},
    "size not a number": {"size": "x"},
    "size too large": {"size": 10**400},
    "channel out of range": {"label": LONG, "red": 1000},  # not a cached int: its count shows
    "channel too large": {"green": 2**70},
    "channel not an int": {"blue": 1.5},
    "channel conversion fails": {"red": type("I", (), {"__index__": raise_type_error})()},
    "not a bool": {"show_label": 1},
}
for _name in BAD_UPDATES:
    OPERATIONS[f"add_node {_name}"] = lambda d, a, key=f"update {_name}": d.add_node(A, a[key])
# Every kind of decoder rejection.
for _name in REJECTED:
    OPERATIONS[f"from_bytes {_name}"] = lambda d, a, key=f"bytes {_name}": PyGraphDiff.from_bytes(a[key])


def prepared():
    d = PyGraphDiff()
    d.add_node(A, {"label": LONG})
    d.add_edge(A, B, 1.0)
    d.add_edge(B, C, 1.0)
    d.delete_node(C)
    d.delete_edge(B, A)
    reader, writer = (lambda d: d.num_nodes()), (lambda d: d.clear())
    return d, {
        "update": {"label": LONG, "url": "u", "size": 1.5, "red": 1, "show_label": True},
        "pairs": [("label", "x")],
        "short": b"short",
        "bytearray": bytearray(16),
        "text": "00010203-0405-0607-0809-0a0b0c0d0e0f",
        "weight": 0.25,
        "huge": 10**400,
        # Each calls back into the diff while the diff converts it, and is refused.
        "reads": CallsBack(lambda: reader(d), value=1),
        "reads_raised": {"label": LONG, "red": CallsBack(lambda: reader(d), propagate=True, value=1)},
        "writes": CallsBack(lambda: writer(d), value=1),
        "writes_raised": CallsBack(lambda: writer(d), propagate=True, value=1),
        "with_cause": type("WithCause", (), {"__float__": raise_with_cause})(),
        "empty": bytes(32),
        "nested": struct.pack("<QQ", 1, 16) + A + struct.pack("<Q", len(NESTED)) + NESTED + bytes(24),
        **{f"update {name}": dict(update) for name, update in BAD_UPDATES.items()},
        **{f"bytes {name}": data for name, data in REJECTED.items()},
    }


def refcounts(d, args):
    """Reference counts of the diff, of every argument object and of the values in argument dicts."""
    counts = {"diff": sys.getrefcount(d)}
    for key, value in args.items():
        counts[key] = sys.getrefcount(value)
        if isinstance(value, dict):
            counts.update({(key, k): sys.getrefcount(v) for k, v in value.items()})
    return counts


def c_heap_counter():
    """Bytes in use on the C heap (where the diffs live), where glibc reports them."""
    libc = ctypes.CDLL(ctypes.util.find_library("c"))
    if not hasattr(libc, "mallinfo2"):
        return lambda: 0

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd",
                                                         "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]

    libc.mallinfo2.restype = MallInfo2
    return lambda: libc.mallinfo2().uordblks


c_heap = c_heap_counter()


def growth(run):
    """How much each measure grew while `run()` ran."""
    def measures():
        gc.collect()
        return (sys.getrefcount(PyGraphDiff), sys.getallocatedblocks(), len(gc.get_objects()),
                tracemalloc.get_traced_memory()[0], c_heap())

    tracemalloc.start()
    try:
        before = measures()
        run()
        return dict(zip(("class refs", "blocks", "objects", "traced", "c heap"),
                        (after - b for after, b in zip(measures(), before))))
    finally:
        tracemalloc.stop()


def repeat(operation, d, args, rounds):
    for _ in range(rounds):
        try:
            operation(d, args)
        except Exception:
            pass


def assert_flat(grown):
    # A leak of one object or one allocation per call would show as about ROUNDS.
    assert grown["class refs"] == 0, grown
    assert grown["blocks"] < ROUNDS // 10 and grown["objects"] < ROUNDS // 10, grown
    assert grown["traced"] < 16 * ROUNDS // 10 and grown["c heap"] < 64 * ROUNDS // 10, grown


@pytest.mark.parametrize("name", OPERATIONS)
def test_operation_stays_flat(name):
    operation = OPERATIONS[name]
    d, args = prepared()
    repeat(operation, d, args, 100)  # warm caches and free lists
    gc.collect()  # what an earlier failure's traceback still holds goes first
    refs = refcounts(d, args)
    # A leak grows every run; a heap that happens to grow once (a cache of the
    # interpreter's, a table of tracemalloc's own) does not, so the smaller of
    # two runs' growth is judged.
    runs = [growth(lambda: repeat(operation, d, args, ROUNDS)) for _ in range(2)]
    assert_flat({key: min(run[key] for run in runs) for key in runs[0]})
    assert refcounts(d, args) == refs


# On a debug build of CPython the interpreter counts every reference and every
# allocated block itself, so a leak shows exactly, as under its own -R runs:
# each operation runs a warm-up, then runs whose growth must be nil.
DEBUG_BUILD = hasattr(sys, "gettotalrefcount")
DEBUG_RUNS, DEBUG_ROUNDS = 4, 50


def debug_counts():
    gc.collect()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


@pytest.mark.skipif(not DEBUG_BUILD, reason="needs a debug build of CPython")
@pytest.mark.parametrize("name", OPERATIONS)
def test_operation_leaks_nothing_on_debug_build(name):
    operation = OPERATIONS[name]
    d, args = prepared()
    # The first run is the warm-up: it also makes the counters' own locals.
    grown = [None] * (DEBUG_RUNS + 1)
    for run in range(DEBUG_RUNS + 1):
        refs, blocks = debug_counts()
        repeat(operation, d, args, DEBUG_ROUNDS)
        refs_after, blocks_after = debug_counts()
        grown[run] = (refs_after - refs, blocks_after - blocks)
    assert grown[1:] == [(0, 0)] * DEBUG_RUNS


def test_instances_free_their_diff():
    def churn():
        for i in range(ROUNDS):
            d = PyGraphDiff()
            d.add_node(A, {"label": LONG, "url": LONG})
            d.add_edge(A, B, float(i))
            d.add_edge(B, C, 1.0)
            d.delete_node(C)
            d.delete_edge(C, A)
            del d

    churn()
    assert_flat(growth(churn))


# Memory running out while a refusal is turned into its exception: the caller
# gets a MemoryError (or, when the failing allocation came before the message,
# the refusal itself), never an aborted process.
OUT_OF_MEMORY_CHILD = r"""
import _testcapi
from tovra_api import PyGraphDiff
d = PyGraphDiff()
calls = [
    lambda: d.delete_node(1, 2),
    lambda: d.add_edge(),
    lambda: d.add_node(b"short", {}),
    lambda: d.add_node(bytes(16), {"red": 300}),
    lambda: d.delete_edge(bytes(16), bytes(16), x=1),
]
for call in calls:
    for failing in (1, 2, 3):
        _testcapi.set_nomemory(0, failing)
        try:
            call()
        except BaseException as error:
            _testcapi.remove_mem_hooks()
            print(type(error).__name__)
        else:
            _testcapi.remove_mem_hooks()
            print("no error")
"""


def test_memory_exhausted_while_raising_gives_memory_error():
    import subprocess

    testcapi = pytest.importorskip("_testcapi")
    if not hasattr(testcapi, "set_nomemory"):
        pytest.skip("this interpreter cannot make allocations fail")
    run = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY_CHILD], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    raised = run.stdout.split()
    assert len(raised) == 15
    assert set(raised) <= {"MemoryError", "TypeError", "OverflowError"}
    assert "MemoryError" in raised
