"""Every method, on its success and failure paths, leaves reference counts and memory flat."""

import ctypes
import ctypes.util
import gc
import sys
import tracemalloc

import pytest

from conftest import A, B, C
from tovra_api import PyGraphDiff

ROUNDS = 2000
LONG = "a label long enough to live on the heap " * 4


class CallsBack:
    def __init__(self, diff):
        self.diff = diff

    def __float__(self):
        try:
            self.diff.num_nodes()  # refused: the diff is borrowed
        except RuntimeError:
            pass
        return 1.5


def raise_with_cause(self):
    raise TypeError("t") from KeyError("k")


# Each operation gets a prepared diff `d` and the argument objects `a`.
OPERATIONS = {
    "add_node": lambda d, a: d.add_node(A, a["update"]),
    "add_node bad id": lambda d, a: d.add_node(a["short"], a["update"]),
    "add_node not a dict": lambda d, a: d.add_node(A, a["pairs"]),
    "add_node bad channel": lambda d, a: d.add_node(A, a["bad_update"]),
    "delete_node": lambda d, a: d.delete_node(C),
    "add_edge": lambda d, a: d.add_edge(A, B, a["weight"]),
    "add_edge refused": lambda d, a: d.add_edge(A, C, a["weight"]),
    "add_edge call back": lambda d, a: d.add_edge(A, B, a["calls"]),
    "add_edge bad weight": lambda d, a: d.add_edge(A, B, a["text"]),
    "add_edge error with cause": lambda d, a: d.add_edge(A, B, a["with_cause"]),
    "delete_edge": lambda d, a: d.delete_edge(B, A),
    "missing argument": lambda d, a: d.add_edge(A, B),
    "unexpected keyword": lambda d, a: d.delete_node(A, **{"x" + "y": 1}),
    "constructor refused": lambda d, a: PyGraphDiff(a["update"]),
    "readers": lambda d, a: (d.new_or_updated_nodes(), d.deleted_nodes(), d.new_or_updated_edges(),
                             d.deleted_edges(), d.num_nodes(), d.num_edges()),
    "to_bytes": lambda d, a: d.to_bytes(),
    "from_bytes": lambda d, a: PyGraphDiff.from_bytes(a["empty"]),
    "constructor": lambda d, a: PyGraphDiff(),
    "clear and refill": lambda d, a: (d.clear(), d.add_node(A, a["update"]), d.add_edge(A, B, 1.0),
                                     d.delete_node(C), d.delete_edge(B, A)),
}


def prepared():
    d = PyGraphDiff()
    d.add_node(A, {"label": LONG})
    d.add_edge(A, B, 1.0)
    d.add_edge(B, C, 1.0)
    d.delete_node(C)
    d.delete_edge(B, A)
    return d, {
        "update": {"label": LONG, "url": "u", "size": 1.5, "red": 1, "show_label": True},
        "bad_update": {"label": LONG, "red": 256},
        "pairs": [("label", "x")],
        "short": b"short",
        "text": "00010203-0405-0607-0809-0a0b0c0d0e0f",
        "weight": 0.25,
        "calls": CallsBack(d),
        "with_cause": type("WithCause", (), {"__float__": raise_with_cause})(),
        "empty": bytes(32),
    }


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
    refs = {key: sys.getrefcount(value) for key, value in args.items()}
    refs["diff"] = sys.getrefcount(d)
    assert_flat(growth(lambda: repeat(operation, d, args, ROUNDS)))
    assert {key: sys.getrefcount(value) for key, value in args.items()} | {"diff": sys.getrefcount(d)} == refs


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
