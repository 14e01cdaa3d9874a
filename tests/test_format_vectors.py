"""The test vectors of docs/format.md, run both ways where both apply: every
input read as the vector says (or refused), and every content marked
`written` written byte for byte as the vector shows."""

import json
import math
import re
import struct
import uuid

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from conftest import ROOT, examples, load_source
from tovra_api import PyGraphDiff

VECTORS = json.loads((ROOT / "docs" / "format-vectors.json").read_text(encoding="utf-8"))
NODE = bytes(range(16))

# JSON member name -> the key of the dictionary form
KEYS = {"label": "label", "size": "size", "url": "url", "red": "red", "green": "green", "blue": "blue",
        "showLabel": "show_label"}


def f32_bits(x: float) -> str:
    return struct.pack(">f", x).hex()


def weight_key(bits: str) -> str:
    """Bits to compare a listed weight by: a NaN's payload and quiet bit do not survive the
    float-to-double widening of a listing, so every NaN is one; the bytes vectors marked
    `written` check the bits themselves."""
    return "nan" if math.isnan(float_of(bits)) else bits


def is_nan_free(content: dict) -> bool:
    return not any(weight_key(w) == "nan" for ts in content["edges"].values() for w in ts.values())


def float_of(bits: str) -> float:
    return struct.unpack(">f", bytes.fromhex(bits))[0]


def text_of(hex_id: str) -> str:
    return str(uuid.UUID(hex=hex_id))


def update_as_read(update: dict) -> dict:
    """A listed node update in the vectors' form: JSON names, sizes as bits."""
    names = {v: k for k, v in KEYS.items()}
    return {names[k]: f32_bits(v) if k == "size" else v for k, v in update.items()}


def update_for_add_node(fields: dict) -> dict:
    return {KEYS[k]: float_of(v) if k == "size" else v for k, v in fields.items()}


def with_one_node(text: str) -> bytes:
    raw = text.encode("utf-8")
    pack = struct.Struct("<Q").pack
    return pack(1) + pack(16) + NODE + pack(len(raw)) + raw + bytes(24)


def read_or_refused(data: bytes):
    try:
        return PyGraphDiff.from_bytes(data)
    except Exception as error:  # noqa: BLE001 - the refusal is the class Exception itself
        assert type(error) is Exception and str(error) == "Failed to deserialize graph diff."
        return "refused"


def ids(kind):
    return [f"{i}:{v['rule']}:{v['note'][:50]}" for i, v in enumerate(VECTORS[kind])]


@pytest.mark.parametrize("vector", VECTORS["bytes"], ids=ids("bytes"))
def test_byte_vectors(vector):
    data = bytes.fromhex(vector["hex"])
    diff = read_or_refused(data)
    expected = vector["result"]
    if expected == "refused":
        assert diff == "refused"
        return
    assert diff != "refused"
    listed_edges = {text_of(s): {text_of(t): weight_key(w) for t, w in ts.items()}
                    for s, ts in expected["edges"].items() if ts}
    got_edges = {s: {t: weight_key(f32_bits(w)) for t, w in ts.items()}
                 for s, ts in diff.new_or_updated_edges().items()}
    # Weights compare by their bits: infinities and -0.0 included.
    assert got_edges == listed_edges
    assert {s: sorted(ts) for s, ts in diff.deleted_edges().items()} == {
        text_of(s): sorted(map(text_of, ts)) for s, ts in expected["deleted_edges"].items() if ts}
    assert {n: update_as_read(u) for n, u in diff.new_or_updated_nodes().items()} == {
        text_of(n): u for n, u in expected["nodes"].items()}
    assert sorted(diff.deleted_nodes()) == sorted(map(text_of, expected["deleted_nodes"]))
    # Counts take in the sources the listings leave out.
    assert diff.num_nodes() == len(expected["nodes"]) + len(expected["deleted_nodes"])
    assert diff.num_edges() == len(expected["edges"]) + len(expected["deleted_edges"])
    if vector.get("written"):
        assert diff.to_bytes() == data


def recorded(content: dict) -> PyGraphDiff:
    """A diff holding `content`, made through the methods rather than decoded."""
    diff = PyGraphDiff()
    for n, update in content["nodes"].items():
        diff.add_node(bytes.fromhex(n), update_for_add_node(update))
    for s, ts in content["edges"].items():
        for t, w in ts.items():
            diff.add_edge(bytes.fromhex(s), bytes.fromhex(t), float_of(w))
    for s, ts in content["deleted_edges"].items():
        for t in ts:
            diff.delete_edge(bytes.fromhex(s), bytes.fromhex(t))
    for n in content["deleted_nodes"]:
        diff.delete_node(bytes.fromhex(n))
    return diff


def made_by_methods(vector) -> bool:
    # A source with no targets comes only from a decoded diff, and a NaN weight
    # cannot be handed over exactly through a Python float: those vectors are
    # written above, from what they decode to.
    return bool(vector.get("written")) and vector["rule"] != "list.empty-source" and is_nan_free(vector["result"])


@pytest.mark.parametrize("vector", [v for v in VECTORS["bytes"] if made_by_methods(v)],
                         ids=[i for i, v in zip(ids("bytes"), VECTORS["bytes"]) if made_by_methods(v)])
def test_byte_vectors_written_by_the_methods(vector):
    assert recorded(vector["result"]).to_bytes() == bytes.fromhex(vector["hex"])


def written_text(update: dict) -> str:
    diff = PyGraphDiff()
    diff.add_node(NODE, update)
    data = diff.to_bytes()
    (length,) = struct.unpack_from("<Q", data, 32)
    return data[40:40 + length].decode("utf-8")


@pytest.mark.parametrize("vector", VECTORS["node_updates"], ids=ids("node_updates"))
def test_node_update_vectors(vector):
    diff = read_or_refused(with_one_node(vector["text"]))
    expected = vector["result"]
    if expected == "refused":
        assert diff == "refused"
        return
    assert diff != "refused"
    assert update_as_read(diff.new_or_updated_nodes()[str(uuid.UUID(bytes=NODE))]) == expected
    if vector.get("written"):
        assert written_text(update_for_add_node(expected)) == vector["text"]


@pytest.mark.parametrize("vector", VECTORS["sizes"], ids=ids("sizes"))
def test_size_vectors(vector):
    value = float_of(vector["bits"])
    assert written_text({"size": value}) == '{"size":' + vector["text"] + "}"
    # And back: a written size reads as the same float, a non-finite one as absent.
    read = PyGraphDiff.from_bytes(with_one_node('{"size":' + vector["text"] + "}"))
    update = read.new_or_updated_nodes()[str(uuid.UUID(bytes=NODE))]
    if math.isfinite(value):
        assert f32_bits(update["size"]) == vector["bits"]
    else:
        assert update == {}


def test_every_rule_of_the_format_has_vectors():
    text = (ROOT / "docs" / "format.md").read_text(encoding="utf-8")
    named = set(re.findall(r"^#+ .*?`((?:bytes|json|size|text|list)\.[a-z0-9-]+)`", text, re.MULTILINE))
    cited = {v["rule"] for kind in ("bytes", "node_updates", "sizes") for v in VECTORS[kind]}
    assert named and named == cited


RULES = load_source("tools/format_vectors.py")


@settings(max_examples=examples(400), deadline=None)
@given(st.floats(width=32, allow_nan=False))
def test_the_generators_writer_is_the_modules(value):
    # The generator's rules, exact arithmetic, against the module on any float.
    assert written_text({"size": value}) == '{"size":' + RULES.write_size(f32_bits(value)) + "}"


digits = st.text("0123456789", min_size=1, max_size=24)
literals = st.one_of(
    st.builds(lambda sign, whole, fraction, exponent: f"{sign}{whole}{fraction}{exponent}",
              st.sampled_from(["", "-"]),
              digits.map(lambda d: d.lstrip("0") or "0"),
              st.one_of(st.just(""), digits.map(lambda d: "." + d)),
              st.one_of(st.just(""), st.integers(-60, 60).map(lambda e: f"e{e}"))),
    # The midpoint between a float and the next, written with 8 to 30 digits: on it or a hair beside it.
    st.builds(lambda bits, places: midpoint_text(bits, places),
              st.integers(0x00000001, 0x7F7FFFFE), st.integers(8, 30)),
)


def midpoint_text(bits: int, places: int) -> str:
    from decimal import Context, Decimal
    low, high = (struct.unpack(">f", struct.pack(">I", b))[0] for b in (bits, bits + 1))
    wide = Context(prec=200)  # wide enough for every float's exact decimal expansion
    middle = wide.divide(wide.add(Decimal(low), Decimal(high)), 2)
    return format(Context(prec=places).plus(middle), "e")


@settings(max_examples=examples(400), deadline=None)
@given(literals)
def test_the_generators_reader_is_the_modules(literal):
    _, expected = RULES.read_size(literal)
    diff = read_or_refused(with_one_node('{"size":' + literal + "}"))
    got = "refused" if diff == "refused" else f32_bits(diff.new_or_updated_nodes()[str(uuid.UUID(bytes=NODE))]["size"])
    assert got == expected
