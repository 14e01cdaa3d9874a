"""to_bytes and from_bytes: golden bytes, rejections, decoded diffs taken as
they are, and random diffs and random corruptions."""

import math
import struct

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import A, B, C, D, bits, examples, expect_error, snapshot, text
from tovra_api import PyGraphDiff

DESERIALIZE_FAILED = "Failed to deserialize graph diff."

# The documented example: node 00..0F labelled "A", one edge from it to
# 10..1F with weight 0.5. 137 bytes.
GOLDEN = bytes.fromhex(
    "0100000000000000"  # 1 node
    "1000000000000000" "000102030405060708090a0b0c0d0e0f"  # A
    "0d00000000000000" "7b226c6162656c223a2241227d"  # {"label":"A"}
    "0000000000000000"  # 0 deleted nodes
    "0100000000000000"  # 1 source
    "1000000000000000" "000102030405060708090a0b0c0d0e0f"  # A
    "0100000000000000"  # 1 target
    "1000000000000000" "101112131415161718191a1b1c1d1e1f"  # B'
    "0000003f"  # 0.5
    "0000000000000000"  # 0 deleted-edge sources
)
B_NEXT = bytes(range(16, 32))


# --------------------------------------------------------------------------
# Building inputs by hand


def u64(value):
    return struct.pack("<Q", value)


def uuid_field(node_id, length=16):
    return u64(length) + node_id


def text_field(data):
    return u64(len(data)) + data


def weight_bits(pattern):
    return struct.pack("<I", pattern)


def sections(nodes=(), deleted=(), edges=(), deleted_edges=()):
    """nodes: (id, json bytes); deleted: ids; edges: (source, [(target, bits)]);
    deleted_edges: (source, [targets])."""
    out = u64(len(nodes))
    for node_id, json in nodes:
        out += uuid_field(node_id) + text_field(json)
    out += u64(len(deleted))
    for node_id in deleted:
        out += uuid_field(node_id)
    out += u64(len(edges))
    for source, targets in edges:
        out += uuid_field(source) + u64(len(targets))
        for target, pattern in targets:
            out += uuid_field(target) + weight_bits(pattern)
    out += u64(len(deleted_edges))
    for source, targets in deleted_edges:
        out += uuid_field(source) + u64(len(targets))
        for target in targets:
            out += uuid_field(target)
    return out


def content(diff):
    """What a diff holds, independent of order; floats by their bits."""

    def update(form):
        return {k: bits(v) if k == "size" else v for k, v in form.items()}

    return (
        {n: update(u) for n, u in diff.new_or_updated_nodes().items()},
        sorted(diff.deleted_nodes()),
        {s: {t: bits(w) for t, w in ts.items()} for s, ts in diff.new_or_updated_edges().items()},
        {s: sorted(ts) for s, ts in diff.deleted_edges().items()},
        diff.num_nodes(),
        diff.num_edges(),
    )


def json_carried(diff):
    """The content a round trip must give back: a size that is not a finite
    number is written as null and comes back absent."""
    nodes, *rest = content(diff)
    kept = {}
    for node, form in nodes.items():
        form = dict(form)
        if "size" in form and not math.isfinite(struct.unpack("<d", form["size"])[0]):
            del form["size"]
        kept[node] = form
    return (kept, *rest)


def refuse(data):
    expect_error(lambda: PyGraphDiff.from_bytes(data), Exception, DESERIALIZE_FAILED)


# --------------------------------------------------------------------------
# Golden bytes


def test_worked_example_encodes_to_golden_bytes():
    d = PyGraphDiff()
    d.add_node(A, {"label": "A"})
    d.add_edge(A, B_NEXT, 0.5)
    data = d.to_bytes()
    assert type(data) is bytes
    assert len(GOLDEN) == 137
    assert data == GOLDEN


def test_worked_example_decodes_to_its_listings():
    d = PyGraphDiff.from_bytes(GOLDEN)
    assert type(d) is PyGraphDiff
    assert d.new_or_updated_nodes() == {text(A): {"label": "A"}}
    assert d.deleted_nodes() == []
    assert d.new_or_updated_edges() == {text(A): {text(B_NEXT): 0.5}}
    assert d.deleted_edges() == {}
    assert (d.num_nodes(), d.num_edges()) == (1, 1)


def test_empty_diff_is_32_zero_bytes():
    assert PyGraphDiff().to_bytes() == bytes(32)
    d = PyGraphDiff.from_bytes(bytes(32))
    assert (d.num_nodes(), d.num_edges()) == (0, 0)


def test_emptied_source_travels_and_still_counts():
    d = PyGraphDiff()
    d.add_edge(A, B, 1.0)
    d.delete_node(B)
    data = d.to_bytes()
    assert data == sections(deleted=[B], edges=[(A, [])], deleted_edges=[(A, [B])])
    back = PyGraphDiff.from_bytes(data)
    assert back.new_or_updated_edges() == {}
    assert back.num_edges() == 2


def test_trailing_bytes_are_ignored():
    assert content(PyGraphDiff.from_bytes(GOLDEN + b"xyz")) == content(
        PyGraphDiff.from_bytes(GOLDEN)
    )
    assert PyGraphDiff.from_bytes(bytes(32) + b"\xff" * 40).num_nodes() == 0


# --------------------------------------------------------------------------
# Rejections

# One or two of each kind of failure; the core's own tests go through the
# rest. Every one must surface as the same exception.
REJECTED = {
    "empty": b"",
    "one byte": b"\x01",
    "31 zero bytes": bytes(31),
    "count 2^32": u64(2**32),
    "uuid length 15": u64(0) + u64(1) + u64(15) + bytes(15) + bytes(16),
    "uuid length 16, 15 bytes left": u64(0) + u64(1) + u64(16) + bytes(15),
    "text longer than input": u64(1) + uuid_field(A) + u64(100) + b"{}" + bytes(24),
    "text not UTF-8": sections(nodes=[(A, b'{"label":"\xff"}')]),
    "text an encoded surrogate": sections(nodes=[(A, b'{"label":"\xed\xa0\x80"}')]),
    "text not JSON": sections(nodes=[(A, b"nope")]),
    "text empty": sections(nodes=[(A, b"")]),
    "text followed by more": sections(nodes=[(A, b"{}x")]),
    "weight cut short": (u64(0) * 2 + u64(1) + uuid_field(A) + u64(1) + uuid_field(B) + b"\x00\x00"),
}


@pytest.mark.parametrize("data", REJECTED.values(), ids=REJECTED.keys())
def test_rejected_inputs(data):
    refuse(data)


@pytest.mark.parametrize("cut", range(len(GOLDEN)))
def test_every_truncation_of_the_golden_bytes_is_rejected(cut):
    refuse(GOLDEN[:cut])


def test_refusal_is_exactly_exception_not_a_subclass():
    with pytest.raises(Exception) as info:
        try:
            PyGraphDiff.from_bytes(b"")
        except ValueError:  # must not catch it
            pytest.fail("caught as ValueError")
    assert type(info.value) is Exception
    assert info.value.__cause__ is None


# --------------------------------------------------------------------------
# Argument handling


@pytest.mark.parametrize(
    "value, name",
    [(bytearray(32), "bytearray"), ("abc", "str"), (memoryview(bytes(32)), "memoryview"), (None, "NoneType")],
)
def test_from_bytes_takes_only_bytes(value, name):
    expect_error(
        lambda: PyGraphDiff.from_bytes(value),
        TypeError,
        f"argument 'bytes': '{name}' object cannot be converted to 'PyBytes'",
    )


def test_from_bytes_accepts_a_bytes_subclass_and_a_keyword():
    class Raw(bytes):
        pass

    assert content(PyGraphDiff.from_bytes(Raw(GOLDEN))) == content(PyGraphDiff.from_bytes(GOLDEN))
    assert PyGraphDiff.from_bytes(bytes=bytes(32)).num_nodes() == 0


def test_from_bytes_argument_count():
    expect_error(
        lambda: PyGraphDiff.from_bytes(),
        TypeError,
        "PyGraphDiff.from_bytes() missing 1 required positional argument: 'bytes'",
    )
    expect_error(
        lambda: PyGraphDiff.from_bytes(GOLDEN, GOLDEN),
        TypeError,
        "PyGraphDiff.from_bytes() takes 1 positional arguments but 2 were given",
    )


def test_from_bytes_on_an_instance_leaves_it_alone(filled):
    before = snapshot(filled)
    made = filled.from_bytes(GOLDEN)
    assert made is not filled
    assert snapshot(filled) == before
    assert content(made) == content(PyGraphDiff.from_bytes(GOLDEN))


# --------------------------------------------------------------------------
# Decoded diffs: taken as they are


def test_decoded_diff_is_not_normalised():
    data = sections(
        nodes=[(A, b' \n{"label":"x"}\t\r')],  # whitespace around the JSON is fine
        deleted=[A, B],
        edges=[(B, [(A, 0x3F800000)]), (C, [])],  # from a deleted node; an empty map
        deleted_edges=[(B, [A]), (D, [])],  # also pending; an empty set
    )
    d = PyGraphDiff.from_bytes(data)
    assert d.new_or_updated_nodes() == {text(A): {"label": "x"}}
    assert sorted(d.deleted_nodes()) == sorted([text(A), text(B)])
    assert d.new_or_updated_edges() == {text(B): {text(A): 1.0}}
    assert d.deleted_edges() == {text(B): [text(A)]}
    assert (d.num_nodes(), d.num_edges()) == (3, 4)


def test_repeated_node_text_later_wins_earlier_never_parsed():
    data = sections(nodes=[(A, b"not JSON"), (A, b'{"red":7}')])
    assert PyGraphDiff.from_bytes(data).new_or_updated_nodes() == {text(A): {"red": 7}}
    refuse(sections(nodes=[(A, b'{"red":7}'), (A, b"not JSON")]))


# --------------------------------------------------------------------------
# Values that need care


@pytest.mark.parametrize(
    "pattern",
    [0x7FC12345, 0x7F800001, 0xFFC00001, 0x7F800000, 0xFF800000, 0x80000000, 0x00000001],
    ids=["nan payload", "signalling nan", "negative nan", "inf", "-inf", "-0", "subnormal"],
)
def test_weight_bits_survive_decode_and_encode(pattern):
    data = sections(edges=[(A, [(B, pattern)])])
    assert PyGraphDiff.from_bytes(data).to_bytes() == data


@pytest.mark.parametrize("weight", [-0.0, math.inf, -math.inf, math.nan, 1e-45, 3.4028234663852886e38])
def test_weights_from_python_round_trip(weight):
    d = PyGraphDiff()
    d.add_edge(A, B, weight)
    back = PyGraphDiff.from_bytes(d.to_bytes())
    assert bits(back.new_or_updated_edges()[text(A)][text(B)]) == bits(
        d.new_or_updated_edges()[text(A)][text(B)]
    )


@pytest.mark.parametrize("size", [math.nan, math.inf, -math.inf])
def test_non_finite_size_comes_back_absent(size):
    d = PyGraphDiff()
    d.add_node(A, {"size": size, "red": 1})
    data = d.to_bytes()
    assert b'{"size":null,"red":1}' in data
    assert PyGraphDiff.from_bytes(data).new_or_updated_nodes() == {text(A): {"red": 1}}


def test_texts_with_escapes_and_non_ascii_round_trip():
    label = '"\\\n\x01/\x7f é € 😀'
    d = PyGraphDiff()
    d.add_node(A, {"label": label, "url": "", "show_label": False, "size": -0.0})
    back = PyGraphDiff.from_bytes(d.to_bytes())
    assert content(back) == content(d)


# --------------------------------------------------------------------------
# Properties

IDS = [A, B, C, D, bytes(range(16, 32)), b"\x80" * 16]

labels = st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=12)
updates = st.fixed_dictionaries(
    {},
    optional={
        "label": labels,
        "url": labels,
        "size": st.floats(width=32),
        "red": st.integers(0, 255),
        "green": st.integers(0, 255),
        "blue": st.integers(0, 255),
        "show_label": st.booleans(),
    },
)
node_ids = st.sampled_from(IDS)
operations = st.lists(
    st.one_of(
        st.tuples(st.just("add_node"), node_ids, updates),
        st.tuples(st.just("delete_node"), node_ids),
        st.tuples(st.just("add_edge"), node_ids, node_ids, st.floats(width=32)),
        st.tuples(st.just("delete_edge"), node_ids, node_ids),
    ),
    max_size=40,
)


def build(ops):
    d = PyGraphDiff()
    for name, *args in ops:
        getattr(d, name)(*args)
    return d


QUICK = settings(max_examples=examples(80), deadline=None, suppress_health_check=[HealthCheck.too_slow])


@QUICK
@given(operations)
def test_random_diffs_round_trip(ops):
    d = build(ops)
    data = d.to_bytes()
    back = PyGraphDiff.from_bytes(data)
    assert content(back) == json_carried(d)
    # Order may differ, length may not, unless a non-finite size was written
    # as null and so dropped.
    again = back.to_bytes()
    if content(back) == content(d):
        assert len(again) == len(data)
    else:
        assert len(again) < len(data)
    assert content(PyGraphDiff.from_bytes(again)) == content(back)


mutations = st.lists(
    st.tuples(
        st.sampled_from(["flip", "insert", "delete", "truncate"]),
        st.integers(0, 10**6),  # position, taken modulo the length
        st.integers(0, 255),  # inserted byte, or which bit to flip
    ),
    min_size=1,
    max_size=4,
)


def mutate(data, steps):
    data = bytearray(data)
    for kind, where, value in steps:
        at = where % (len(data) + 1)
        if kind == "flip" and at < len(data):
            data[at] ^= 1 << (value % 8)
        elif kind == "insert":
            data.insert(at, value)
        elif kind == "delete" and at < len(data):
            del data[at]
        elif kind == "truncate":
            del data[at:]
    return bytes(data)


@QUICK
@given(operations, mutations)
def test_corrupted_encodings_decode_or_fail_cleanly(ops, steps):
    data = mutate(build(ops).to_bytes(), steps)
    try:
        d = PyGraphDiff.from_bytes(data)
    except BaseException as error:
        assert type(error) is Exception, repr(error)
        assert str(error) == DESERIALIZE_FAILED
        assert error.__cause__ is None
        return
    # Whatever was accepted is a diff like any other: it encodes, and that
    # encoding decodes to the same content (a size read as infinity, from a
    # literal beyond the float range, is the one thing that does not return).
    assert content(PyGraphDiff.from_bytes(d.to_bytes())) == json_carried(d)
