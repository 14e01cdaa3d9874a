"""Before any timing, the yardstick must have done the same work as the module:
the same calls on both, every refusal and every listing compared."""

from __future__ import annotations

import random
import uuid

from .data import Data, with_index, without_index

def listings(d) -> tuple:
    """A diff's four listings and two counts, with the lists (deleted nodes,
    each source's deleted targets) as sets: the two keep their entries in
    different orders."""
    return (d.new_or_updated_nodes(), set(d.deleted_nodes()), d.new_or_updated_edges(),
            {source: set(targets) for source, targets in d.deleted_edges().items()},
            d.num_nodes(), d.num_edges())


def mixed_operations(ids: list[bytes], count: int, seed: int = 11) -> list:
    """Random calls over a few dozen ids, so that every merge and cancel rule
    fires many times, with every form of argument the rows do not use
    (integer, bool and overflowing weights, keywords) and a few refusals,
    which must leave both as they were."""
    rng = random.Random(seed)
    values = {"label": lambda: f"n{rng.randrange(99)}", "url": lambda: "u" * rng.randrange(30),
              "size": lambda: rng.choice((rng.random(), rng.randrange(9), 1e300)),
              "red": lambda: rng.randrange(256), "green": lambda: True, "blue": lambda: 9,
              "show_label": lambda: rng.random() < 0.5, "colour": lambda: 1}
    weights = (rng.random, lambda: rng.randrange(-3, 3), lambda: rng.random() < 0.5,
               lambda: rng.choice((1e300, -1e300)))
    ops = []
    for _ in range(count):
        a, b, r = rng.choice(ids), rng.choice(ids), rng.random()
        if r < 0.35:
            w = rng.choice(weights)()
            ops.append(("add_edge", (a, b, w), {}) if r < 0.3 else ("add_edge", (a,), {"to": b, "weight": w}))
        elif r < 0.55:
            ops.append(("delete_edge", (a, b), {}))
        elif r < 0.8:
            keys = rng.sample(sorted(values), rng.randrange(len(values) + 1))
            ops.append(("add_node", (a, {k: values[k]() for k in keys}), {}))
        elif r < 0.97:
            ops.append(("delete_node", (a,), {}))
        elif r < 0.995:
            ops.append(rng.choice((
                ("add_edge", (str(uuid.UUID(bytes=a)), b, 1.0), {}), ("add_edge", (a, b, "1"), {}),
                ("delete_edge", (a, bytearray(b)), {}), ("delete_node", (a[:15],), {}),
                ("add_node", (a, {"red": 256}), {}), ("add_node", (a, [("label", "x")]), {}),
                ("add_edge", (a, b), {}), ("delete_node", (a,), {"ids": a}))))
        else:
            ops.append(("clear", (), {}))
    return ops


def outcome(d, name: str, args: tuple, kwargs: dict) -> str | None:
    """None, or the refusal as text without the class's name."""
    try:
        getattr(d, name)(*args, **kwargs)
    except Exception as error:
        return f"{type(error).__name__}: {error} (cause: {error.__cause__!r})".replace(type(d).__name__, "CLASS")
    return None


def check_same_work(subjects) -> str | None:
    """Makes the same calls on the module and on the yardstick and compares
    every refusal and, after each chunk of calls, the listings: first the
    calls of the timed rows on 1e3 edges, then mixed ones. Returns what
    differed, or None."""
    data = Data(1000)
    module, same = subjects.diff(), subjects.same()
    steps = [("the rows' calls", [("add_node", nu, {}) for nu in zip(data.ids, data.updates)]
              + [("add_edge", edge, {}) for edge in data.edges]
              + [("delete_edge", (a, b), {}) for a, b, _ in data.edges[::2]]
              + [("delete_node", (i,), {}) for i in data.ids[:20]])]
    mixed = mixed_operations(data.ids[:40], 6000)
    steps += [(f"mixed calls {k}..{k + 200}", mixed[k:k + 200]) for k in range(0, len(mixed), 200)]
    for where, ops in steps:
        for name, args, kwargs in ops:
            m, s = outcome(module, name, args, kwargs), outcome(same, name, args, kwargs)
            if m != s:
                return f"in {where}, {name}: the module gave {m}, the yardstick {s}"
        if listings(module) != listings(same):
            return f"after {where}: the listings differ"
    # The rows that time the index start from these two states.
    for prepare in (with_index, without_index):
        if listings(prepare(subjects.diff())) != listings(prepare(subjects.same())):
            return f"after {prepare.__name__}: the listings differ"
    calls = sum(len(ops) for _, ops in steps)
    print(f"same-work check: listings equal to the module's after each of {len(steps)} steps ({calls} calls)")
    return None

