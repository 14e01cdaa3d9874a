"""The benchmark's own instruments: an instrument that flatters the module, or
a target that is never judged, is a fault of the benchmark."""

from __future__ import annotations

import ctypes

import pytest

import compare_builds
from harness import subjects as subjects_
from harness.cases import cases
from harness.data import Data, with_index, without_index
from harness.growth import measure_growth
from harness.memory import bytes_per_edge, payload, resident_growth, rows_of
from harness.same_check import check_same_work, listings
from harness.targets import TARGETS

libc = ctypes.CDLL("libc.so.6")
libc.malloc.restype = ctypes.c_void_p
libc.malloc.argtypes = [ctypes.c_size_t]
libc.free.argtypes = [ctypes.c_void_p]

BLOCK = 64 << 10  # under malloc's mmap threshold: served from the heap


def malloc_touched(count: int) -> list[int]:
    blocks = [libc.malloc(BLOCK) for _ in range(count)]
    for b in blocks:
        ctypes.memset(b, 1, BLOCK)
    return blocks


def test_memory_probe_counts_reused_heap_pages():
    # What the data generator does: fill the heap, then free it while
    # something allocated later pins it, so free() cannot shrink the heap.
    freed = malloc_touched(1025)
    pin = freed.pop()  # the last block, above the others
    for b in freed:
        libc.free(b)
    count = 512
    try:
        grown, blocks = resident_growth(lambda: malloc_touched(count))
        assert 0.9 * count * BLOCK <= grown <= 1.1 * count * BLOCK + (4 << 20)
    finally:
        for b in blocks:
            libc.free(b)
        libc.free(pin)


@pytest.fixture(scope="module")
def module_only():
    return subjects_.build(with_same=False)


def test_index_preludes_reach_the_same_state(module_only):
    data = Data(2000)
    diffs = [prepare(module_only.diff()) for prepare in (with_index, without_index)]
    assert listings(diffs[0]) == listings(diffs[1])
    assert diffs[0].num_nodes() > 0 and diffs[0].deleted_edges()
    for d in diffs:
        for a, b, w in data.edges:
            d.add_edge(a, b, w)
    assert listings(diffs[0]) == listings(diffs[1])


def test_every_target_names_a_row_and_role_the_run_measures(module_only):
    data = Data(300)
    all_cases, _ = cases(data, module_only)
    rows = {name: set(roles) | {"same"} for name, (_, roles) in all_cases.items()}
    _, growth = measure_growth(300, 300, module_only, victims=200)
    rows |= {name: set(roles) for name, roles in growth.items()}
    rows |= {name: set(roles) for name, roles in rows_of({"module": 40.0, "module+index": 50.0}).items()}
    for target in TARGETS:
        assert "module" in rows.get(target.row, ()), target
        if target.against is None:
            continue
        if target.against.startswith("row:"):
            assert "module" in rows.get(target.against[4:], ()), target
        else:
            assert target.against in rows[target.row], target


def test_same_work_check_tells_other_work_from_the_same(module_only):
    real = module_only.diff

    def wrapper(drop_delete_edge: bool):
        class PyGraphDiff:  # named as the module's, so refusals read alike
            def __init__(self):
                self._d = real()

            def __getattr__(self, name):
                return getattr(self._d, name)

            def delete_edge(self, *args, **kwargs):
                if not drop_delete_edge:
                    return self._d.delete_edge(*args, **kwargs)
        return PyGraphDiff

    def check(same):
        return check_same_work(subjects_.Subjects(real, module_only.floor, same, None))

    assert check(wrapper(drop_delete_edge=False)) is None
    assert "listings differ" in check(wrapper(drop_delete_edge=True))


@pytest.mark.parametrize("role", ["module", "module+index", "plain"])
def test_no_subject_reads_below_what_its_edges_hold(role):
    per_edge, per_source = bytes_per_edge(role, 20_000, 20_000, None)
    assert payload(per_source) <= per_edge < 1000


def test_compare_builds_times_each_build_in_its_own_role(module_only):
    called: list[str] = []

    def build(name: str) -> type:
        """The module, noting every call made through it under `name`."""
        def traced(method):
            def call(*args):
                called.append(name)
                return method(*args)
            return call

        class Diff:
            def __init__(self):
                self._d = module_only.diff()

            def __getattr__(self, attr):
                return traced(getattr(self._d, attr))

            from_bytes = staticmethod(traced(module_only.diff.from_bytes))
        return Diff

    rows = compare_builds.both_builds(Data(300), {"before": build("before"), "after": build("after")})
    for name, (_, roles) in rows.items():
        assert list(roles) == ["before", "after"], name
        for role, setup in roles.items():
            called.clear()
            setup()()
            assert called and set(called) == {role}, name
