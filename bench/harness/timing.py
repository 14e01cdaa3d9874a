"""Timing: every role of every row once per repeat, the repeats interleaved,
medians kept, the collector off while a run is timed."""

from __future__ import annotations

import gc
import statistics
import time

# Rows whose calls allocate one block of the output's size. Such a call is
# made once untimed before the timed one, for every role alike: whether the
# allocator hands out a block it has served before or fresh pages from the
# kernel (page faults, zeroing) otherwise swings a floor of the same copy by
# several times from one row to the next.
WARMED = ("to_bytes", "from_bytes")


def time_once(setup, warm: bool = False) -> float:
    run = setup()
    if warm:
        run()
    gc.collect()
    gc.disable()
    try:
        start = time.perf_counter_ns()
        result = run()
        elapsed = time.perf_counter_ns() - start
    finally:
        gc.enable()
    del result, run
    return float(elapsed)


def samples(all_cases, repeats: int):
    """Every timing taken: row -> role -> one time per repeat, in nanoseconds."""
    taken = {name: {role: [] for role in roles} for name, (_, roles) in all_cases.items()}
    for _ in range(repeats):
        for name, (_, roles) in all_cases.items():  # interleaved, repeat by repeat
            for role, setup in roles.items():
                taken[name][role].append(time_once(setup, warm=name in WARMED))
    return taken


def measure(all_cases, repeats: int):
    return {name: {role: statistics.median(v) for role, v in roles.items()}
            for name, roles in samples(all_cases, repeats).items()}
