"""Writes docs/format-vectors.json, the test vectors of docs/format.md.

    python3 tools/format_vectors.py [OUT]      (default: docs/format-vectors.json)

Every expected value here comes from the rules as docs/format.md states them,
worked out in exact rational arithmetic (fractions.Fraction), never from the
module: the suite (tests/test_format_vectors.py) then holds the module to
these answers, so the document, the vectors and the module cannot drift
apart. Standard library only, any Python 3.9 or newer."""

from __future__ import annotations

import json
import math
import struct
import sys
from fractions import Fraction
from pathlib import Path

REFUSED = "refused"

# --- Numbers: IEEE binary rounding, to nearest with ties to even -------------


def nearest_binary(x: Fraction, digits: int, emin: int, emax: int):
    """x rounded to a binary format of `digits` significand bits: a Fraction, or
    +-math.inf. Subnormals below 2^emin; overflow to infinity as IEEE rounds."""
    if x == 0:
        return Fraction(0)
    sign = -1 if x < 0 else 1
    a = abs(x)
    e = a.numerator.bit_length() - a.denominator.bit_length()  # 2^e <= a < 2^(e+2)
    if Fraction(2) ** e > a:
        e -= 1
    if Fraction(2) ** (e + 1) <= a:
        e += 1
    e = max(e, emin)
    ulp = Fraction(2) ** (e - digits + 1)
    q, r = divmod(a, ulp)
    q = int(q)
    if r * 2 > ulp or (r * 2 == ulp and q % 2 == 1):
        q += 1
    value = q * ulp
    if value >= Fraction(2) ** (emax + 1):
        return sign * math.inf
    return sign * value


def nearest_float(x):
    return x if isinstance(x, float) else nearest_binary(x, 24, -126, 127)


def nearest_double(x: Fraction):
    return nearest_binary(x, 53, -1022, 1023)


DOUBLE_OVERFLOW = Fraction(2) ** 1024 - Fraction(2) ** 970  # the least magnitude a double rounds to infinity


def f32_bits(value, negative: bool) -> str:
    """The bits of a float value (Fraction or inf; `negative` gives zero its sign) as 8 hex digits."""
    if value == 0:
        return "80000000" if negative else "00000000"
    return struct.pack(">f", float(value)).hex()


def bits_value(bits: str) -> Fraction | float:
    """The exact value of float bits (finite: a Fraction; otherwise the float)."""
    f = struct.unpack(">f", bytes.fromhex(bits))[0]
    return Fraction(f) if math.isfinite(f) else f


# --- Reading a size literal (rules size.*) ------------------------------------


def read_size(literal: str):
    """(rule, bits or REFUSED) for a JSON number literal read as a size."""
    negative = literal.startswith("-")
    body = literal[1:] if negative else literal
    mantissa, _, exponent = body.replace("E", "e").partition("e")
    whole, _, fraction = mantissa.partition(".")
    significant = (whole + fraction).lstrip("0").rstrip("0")
    if not significant:
        # Zero, however large its exponent: checked before any power of ten is made.
        if "." not in body and "e" not in body.lower():
            return "size.integer", f32_bits(0, negative)
        return "size.zero", f32_bits(0, negative)
    # value = M x 10^E, M the significant digits
    trailing = len((whole + fraction).lstrip("0")) - len(significant)
    e = int(exponent or 0) - len(fraction) + trailing
    magnitude_exponent = e + len(significant)  # 10^(this - 1) <= |value| < 10^this
    if magnitude_exponent > 400:
        return "size.overflow", REFUSED
    if magnitude_exponent < -400:
        return "size.direct", f32_bits(0, negative)
    value = Fraction(int(significant)) * Fraction(10) ** e
    if negative:
        value = -value
    if "." not in body and "e" not in body.lower():
        magnitude = int(body)
        if magnitude < 2 ** 64 if not negative else magnitude <= 2 ** 63:
            return "size.integer", f32_bits(nearest_float(value), negative)
    if len(significant) <= 19 and -22 <= e <= 22:
        return "size.pinned", f32_bits(nearest_float(nearest_double(value)), negative)
    if abs(value) >= DOUBLE_OVERFLOW:
        return "size.overflow", REFUSED
    return "size.direct", f32_bits(nearest_float(value), negative)


# --- Writing a size (rules text.size-*) ----------------------------------------


def shortest_digits(bits: str) -> tuple[str, int]:
    """(digits, point) of a positive finite nonzero float: the value is 0.d1...dn x 10^point."""
    raw = int(bits, 16)
    f = bits_value(bits)
    biased, fraction = raw >> 23 & 0xFF, raw & 0x7FFFFF
    ulp = Fraction(2) ** (max(biased, 1) - 150)
    low_gap = ulp / 2 if fraction == 0 and biased > 1 else ulp  # below a power of two the float below is nearer
    low, high = f - low_gap / 2, f + ulp / 2
    even = (raw & 1) == 0  # a midpoint reads back as this float only if its significand is even
    k = len(str(int(high))) + 1  # 10^k above high: no multiple inside
    while True:
        step = Fraction(10) ** k
        first = math.ceil(low / step)
        last = math.floor(high / step)
        if not even:
            if first * step == low:
                first += 1
            if last * step == high:
                last -= 1
        if first <= last:
            # the multiple nearest f; of two equally near, the even one
            candidates = sorted(range(first, last + 1), key=lambda n: (abs(n * step - f), n % 2))
            n = candidates[0]
            digits = str(n)
            return digits, len(digits) + k
        k -= 1


def write_size(bits: str) -> str:
    value = struct.unpack(">f", bytes.fromhex(bits))[0]
    if not math.isfinite(value):
        return "null"
    sign = "-" if int(bits, 16) >> 31 else ""
    if value == 0:
        return sign + "0.0"
    digits, point = shortest_digits(f"{int(bits, 16) & 0x7FFFFFFF:08x}")
    digits = digits.rstrip("0")
    n = len(digits)
    if n <= point <= 13:
        text = digits + "0" * (point - n) + ".0"
    elif 0 < point <= 13:
        text = digits[:point] + "." + digits[point:]
    elif -5 <= point <= 0:
        text = "0." + "0" * -point + digits
    else:
        text = digits[0] + ("." + digits[1:] if n > 1 else "") + "e" + str(point - 1)
    return sign + text


def float_bits(x: float) -> str:
    return struct.pack(">f", x).hex()


# --- Byte strings ----------------------------------------------------------------

A, B, C = bytes(range(16)), bytes(range(16, 32)), bytes(range(32, 48))


def u64(n: int) -> bytes:
    return struct.pack("<Q", n)


def uid(node: bytes) -> bytes:
    return u64(len(node)) + node


def text(t) -> bytes:
    t = t.encode() if isinstance(t, str) else t
    return u64(len(t)) + t


def wbits(bits: str) -> bytes:
    return bytes.fromhex(bits)[::-1]  # little-endian


def diff_bytes(nodes=(), deleted=(), edges=(), deleted_edges=()) -> bytes:
    """Sections from lists: nodes [(id, text)], deleted [id], edges [(src, [(tgt, bits)])],
    deleted_edges [(src, [tgt])]."""
    out = u64(len(nodes)) + b"".join(uid(n) + text(t) for n, t in nodes)
    out += u64(len(deleted)) + b"".join(uid(n) for n in deleted)
    out += u64(len(edges)) + b"".join(uid(s) + u64(len(ts)) + b"".join(uid(t) + wbits(w) for t, w in ts)
                                       for s, ts in edges)
    out += u64(len(deleted_edges)) + b"".join(uid(s) + u64(len(ts)) + b"".join(uid(t) for t in ts)
                                               for s, ts in deleted_edges)
    return out


def content(nodes=None, deleted=(), edges=None, deleted_edges=None) -> dict:
    h = bytes.hex
    return {
        "nodes": {h(n): u for n, u in (nodes or {}).items()},
        "deleted_nodes": sorted(h(n) for n in deleted),
        "edges": {h(s): {h(t): w for t, w in ts.items()} for s, ts in (edges or {}).items()},
        "deleted_edges": {h(s): sorted(h(t) for t in ts) for s, ts in (deleted_edges or {}).items()},
    }


def byte_vectors() -> list[dict]:
    v = []

    def add(rule, note, data, result, written=False):
        entry = {"rule": rule, "note": note, "hex": data.hex(), "result": result}
        if written:
            entry["written"] = True
        v.append(entry)

    half = float_bits(0.5)
    add("bytes.sections", "the empty diff: four counts of zero", bytes(32), content(), written=True)
    add("bytes.sections", "the worked example of docs/format.md",
        diff_bytes([(A, '{"label":"A"}')], [], [(B and A, [(B, half)])]),
        content({A: {"label": "A"}}, edges={A: {B: half}}), written=True)
    add("bytes.sections", "one entry in every section",
        diff_bytes([(A, '{"red":1}')], [C], [(A, [(B, float_bits(1.0))])], [(B, [A])]),
        content({A: {"red": 1}}, [C], {A: {B: float_bits(1.0)}}, {B: [A]}), written=True)
    add("bytes.sections", "section 3 counts sources: one source, two targets",
        diff_bytes(edges=[(A, [(B, half), (C, float_bits(2.0))])]),
        content(edges={A: {B: half, C: float_bits(2.0)}}))
    add("bytes.sections", "an update with no attribute",
        diff_bytes([(A, "{}")]), content({A: {}}), written=True)
    add("bytes.order", "entries in any order: the same content as the next vector",
        diff_bytes(deleted=[A, B]), content(deleted=[A, B]))
    add("bytes.order", "entries in any order: the same content as the vector before",
        diff_bytes(deleted=[B, A]), content(deleted=[A, B]))
    add("bytes.sections", "a node update text as written, one of each attribute",
        diff_bytes([(A, '{"label":"Hub","size":2.5,"url":"u","red":255,"green":0,"blue":16,"showLabel":true}')]),
        content({A: {"label": "Hub", "size": float_bits(2.5), "url": "u", "red": 255, "green": 0, "blue": 16,
                     "showLabel": True}}), written=True)

    full = diff_bytes([(A, '{"label":"A"}')], [C], [(A, [(B, half)])], [(B, [A])])
    # Every proper prefix of a well-formed input is refused: a field or an entry is cut.
    for cut in (0, 7, 8, 15, 16, 31, 32, 40, 52, 53, 60, 61, 68, 69, 92, 93, 100, 101, 124, 125, 128, 129,
                len(full) - 40, len(full) - 1):
        add("bytes.end", f"the input cut after {cut} of {len(full)} bytes", full[:cut], REFUSED)
    add("bytes.end", "a count of one node and nothing after it", u64(1), REFUSED)
    add("bytes.end", "a deleted-node count promising more ids than follow",
        u64(0) + u64(2) + uid(A) + u64(0) + u64(0), REFUSED)
    add("bytes.end", "a weight of three bytes", diff_bytes(edges=[(A, [(B, half)])])[:-8 - 1] , REFUSED)
    add("bytes.end", "a text length past the end",
        u64(1) + uid(A) + u64(100) + b"{}" + bytes(24), REFUSED)

    for n in (2 ** 32, 2 ** 63, 2 ** 64 - 1):
        add("bytes.count-limit", f"a node count of {n}", u64(n) + bytes(24), REFUSED)
        add("bytes.count-limit", f"an id length of {n}", u64(1) + u64(n) + bytes(64), REFUSED)
    add("bytes.count-limit", "a text length of 2^32",
        u64(1) + uid(A) + u64(2 ** 32) + b"{}" + bytes(24), REFUSED)
    add("bytes.count-limit", "an inner count of 2^32",
        u64(0) + u64(0) + u64(1) + uid(A) + u64(2 ** 32) + bytes(64), REFUSED)

    for length in (0, 15, 17, 32):
        node = bytes(range(length))
        add("bytes.id-length", f"a deleted node whose id is {length} bytes, all present",
            u64(0) + u64(1) + uid(node) + u64(0) + u64(0), REFUSED)
    add("bytes.id-length", "a target id of 15 bytes in section 4",
        diff_bytes(deleted_edges=[(A, [bytes(15)])]), REFUSED)

    bad_utf8 = {
        "an overlong slash (C0 AF)": b"\xc0\xaf",
        "an overlong three-byte form (E0 80 AF)": b"\xe0\x80\xaf",
        "an overlong four-byte form (F0 80 80 AF)": b"\xf0\x80\x80\xaf",
        "an encoded surrogate U+D800 (ED A0 80)": b"\xed\xa0\x80",
        "an encoded surrogate U+DFFF (ED BF BF)": b"\xed\xbf\xbf",
        "U+110000 (F4 90 80 80)": b"\xf4\x90\x80\x80",
        "a lead byte F5": b"\xf5\x80\x80\x80",
        "a byte FF": b"\xff",
        "a lone continuation byte 80": b"\x80",
        "a two-byte sequence cut short (C3)": b"\xc3",
        "a four-byte sequence cut short (F0 9F 98)": b"\xf0\x9f\x98",
    }
    for note, raw in bad_utf8.items():
        add("bytes.utf8", f"a label holding {note}",
            diff_bytes([(A, b'{"label":"' + raw + b'"}')]), REFUSED)
    for note, raw in {"U+D7FF (ED 9F BF)": "\ud7ff", "U+E000 (EE 80 80)": "\ue000",
                      "U+10FFFF (F4 8F BF BF)": "\U0010ffff", "U+0080 (C2 80)": "\x80",
                      "an emoji (F0 9F 98 80)": "\U0001f600"}.items():
        add("bytes.utf8", f"a label holding {note}", diff_bytes([(A, '{"label":"' + raw + '"}')]),
            content({A: {"label": raw}}), written=True)
    add("bytes.utf8", "a replaced text is still checked for UTF-8",
        diff_bytes([(A, b'{"label":"\xff"}'), (A, "{}")]), REFUSED)

    add("bytes.text-json", "a node text that is not JSON", diff_bytes([(A, "label")]), REFUSED)
    add("bytes.text-json", "an empty node text", diff_bytes([(A, "")]), REFUSED)
    add("bytes.text-json", "a node text refused by the JSON rules (a channel of 256)",
        diff_bytes([(A, '{"red":256}')]), REFUSED)

    for note, bits in {"a signalling NaN": "7f800001", "a quiet NaN with a payload": "7fc12345",
                       "a negative NaN": "ffc00000", "negative zero": "80000000", "infinity": "7f800000",
                       "minus infinity": "ff800000", "the least subnormal": "00000001",
                       "the largest float": "7f7fffff", "0.1 as a float": float_bits(0.1)}.items():
        add("bytes.weight", f"a weight of {note} keeps its bits",
            diff_bytes(edges=[(A, [(B, bits)])]), content(edges={A: {B: bits}}), written=True)

    add("bytes.repeat-node", "a later text replaces the earlier one whole",
        diff_bytes([(A, '{"label":"x","red":1}'), (A, '{"green":2}')]), content({A: {"green": 2}}))
    add("bytes.repeat-node", "a replaced text is never parsed",
        diff_bytes([(A, "not json"), (A, '{"blue":3}')]), content({A: {"blue": 3}}))
    add("bytes.repeat-node", "the text that counts is parsed",
        diff_bytes([(A, '{"blue":3}'), (A, "not json")]), REFUSED)
    add("bytes.repeat-node", "a replaced text between two other nodes",
        diff_bytes([(A, "[]"), (B, "{}"), (A, "{}")]), content({A: {}, B: {}}))
    add("bytes.repeat-source", "a later section-3 source replaces the earlier inner map whole",
        diff_bytes(edges=[(A, [(B, half)]), (A, [(C, half)])]), content(edges={A: {C: half}}))
    add("bytes.repeat-source", "a later section-4 source replaces the earlier set whole",
        diff_bytes(deleted_edges=[(A, [B]), (A, [C])]), content(deleted_edges={A: [C]}))
    add("bytes.repeat-source", "a later source with no targets empties it",
        diff_bytes(edges=[(A, [(B, half)]), (A, [])]), content(edges={A: {}}))
    add("bytes.repeat-target", "inside one inner map the later weight wins",
        diff_bytes(edges=[(A, [(B, half), (B, float_bits(2.0))])]), content(edges={A: {B: float_bits(2.0)}}))
    add("bytes.repeat-target", "a repeated target in a set is kept once",
        diff_bytes(deleted_edges=[(A, [B, B])]), content(deleted_edges={A: [B]}))
    add("bytes.repeat-target", "a repeated deleted node is kept once",
        diff_bytes(deleted=[A, A]), content(deleted=[A]))

    add("bytes.trailing", "bytes after the fourth section are ignored", bytes(32) + b"anything",
        content())
    add("bytes.trailing", "a whole second diff after the first is ignored",
        diff_bytes([(A, "{}")]) + diff_bytes([(B, "{}")]), content({A: {}}))

    add("bytes.as-is", "a node both updated and deleted",
        diff_bytes([(A, '{"red":1}')], [A]), content({A: {"red": 1}}, [A]))
    add("bytes.as-is", "an edge both pending and deleted",
        diff_bytes(edges=[(A, [(B, half)])], deleted_edges=[(A, [B])]),
        content(edges={A: {B: half}}, deleted_edges={A: [B]}))
    add("bytes.as-is", "an edge into a deleted node",
        diff_bytes(deleted=[B], edges=[(A, [(B, half)])]), content(deleted=[B], edges={A: {B: half}}))
    add("bytes.as-is", "a self-loop", diff_bytes(edges=[(A, [(A, half)])]), content(edges={A: {A: half}}))

    add("list.empty-source", "a section-3 source with no targets",
        diff_bytes(edges=[(A, [])]), content(edges={A: {}}), written=True)
    add("list.empty-source", "a section-4 source with no targets",
        diff_bytes(deleted_edges=[(A, [])]), content(deleted_edges={A: []}), written=True)
    add("list.empty-source", "empty sources beside a listed one",
        diff_bytes(edges=[(A, [])], deleted_edges=[(B, []), (C, [A])]),
        content(edges={A: {}}, deleted_edges={B: [], C: [A]}))
    return v


# --- Node update texts ---------------------------------------------------------------


def node_update_vectors() -> list[dict]:
    v = []

    def add(rule, note, t, result, written=False):
        entry = {"rule": rule, "note": note, "text": t, "result": result}
        if written:
            entry["written"] = True
        v.append(entry)

    def size(literal):
        return read_size(literal)[1]

    # json.value
    for t in ['"label"', "0", "-1", "1.5", "true", "false", "null", '""']:
        add("json.value", f"a top-level {t}", t, REFUSED)
    for t in ["", " ", "\n\t\r ", "{}x", "{},", "{}{}", "[]]", '{"red":1}}', "{} null"]:
        add("json.value", "empty, or not one value" if t.strip() in ("",) else "text after the value", t, REFUSED)
    add("json.value", "an unclosed object", '{"red":1', REFUSED)
    add("json.value", "an unclosed array", "[null", REFUSED)

    # json.whitespace
    add("json.whitespace", "space, tab, line feed and carriage return anywhere between tokens",
        ' \t\n\r{ \t\n\r"red" \t\n\r: \t\n\r1 \t\n\r, "x" : [ 1 , { } ] \r\n} \t\n\r', {"red": 1})
    add("json.whitespace", "whitespace in the array form",
        "[ null , null , null , 7 , null , null , null ]", {"red": 7})
    for note, ws in {"form feed": "\f", "vertical tab": "\v", "no-break space": "\u00a0",
                     "byte order mark": "\ufeff", "line separator": "\u2028"}.items():
        add("json.whitespace", f"a {note} between tokens", "{" + ws + '"red":1}', REFUSED)
    add("json.whitespace", "a byte order mark before the value", "\ufeff{}", REFUSED)

    # json.syntax
    for note, t in {"a trailing comma in the object": '{"red":1,}',
                    "a trailing comma in a skipped array": '{"x":[1,]}',
                    "a leading comma": '{,"red":1}',
                    "a missing colon": '{"red" 1}',
                    "a missing comma": '{"red":1 "green":2}',
                    "an unquoted name": "{red:1}",
                    "a single-quoted name": "{'red':1}",
                    "a comment": '{/**/"red":1}',
                    "a misspelt literal in a skipped value": '{"x":nul}',
                    "a capitalised literal": '{"showLabel":True}',
                    "a literal followed by letters": '{"x":truex}',
                    "a mismatched bracket": '{"x":[}',
                    "a colon in an array": '{"x":[1:2]}',
                    "a missing value": '{"red":}',
                    "a name that is not a string": "{1:2}",
                    "an unclosed string": '{"label":"abc}',
                    "a skipped object with a missing value": '{"x":{"a"}}',
                    }.items():
        add("json.syntax", note, t, REFUSED)

    # json.members
    add("json.members", "members in any order", '{"showLabel":false,"red":3,"label":"L"}',
        {"label": "L", "red": 3, "showLabel": False})
    add("json.members", "unknown members skipped, with values of every kind",
        '{"x":1,"y":"s","z":true,"w":null,"v":[1,{"a":[]}],"u":{"k":{"k":[[{}]]}},"red":9}', {"red": 9})
    add("json.members", "an unknown member repeated", '{"x":1,"x":2,"x":{}}', {})
    add("json.members", "deep nesting inside a skipped value", '{"x":' + "[" * 500 + "]" * 500 + "}", {})
    add("json.members", "names are case-sensitive: showlabel is unknown", '{"showlabel":1}', {})
    add("json.members", "the dictionary spelling show_label is unknown", '{"show_label":1}', {})
    add("json.members", "a name matched after its escapes are decoded", '{"\\u0072ed":5}', {"red": 5})
    add("json.members", "a name with a trailing space is unknown", '{"red ":5}', {})

    # json.duplicate
    for note, t in {"the same name twice": '{"red":1,"red":1}',
                    "twice, once null": '{"label":null,"label":"x"}',
                    "twice, both null": '{"size":null,"size":null}',
                    "twice, the second spelt with an escape": '{"red":1,"\\u0072ed":2}',
                    "twice, far apart": '{"showLabel":true,"x":0,"y":[],"showLabel":true}'}.items():
        add("json.duplicate", note, t, REFUSED)

    # json.null
    add("json.null", "null for every attribute",
        '{"label":null,"size":null,"url":null,"red":null,"green":null,"blue":null,"showLabel":null}', {})
    add("json.null", "null beside a stated attribute", '{"label":null,"green":4}', {"green": 4})

    # json.array
    add("json.array", "seven nulls", "[null,null,null,null,null,null,null]", {})
    add("json.array", "every attribute, in the array order",
        '["L",1.5,"U",1,2,3,true]',
        {"label": "L", "size": size("1.5"), "url": "U", "red": 1, "green": 2, "blue": 3, "showLabel": True})
    for n in (0, 1, 6, 8):
        add("json.array", f"{n} elements", "[" + ",".join(["null"] * n) + "]", REFUSED)
    add("json.array", "a value of the wrong kind at its place", '[1,null,null,null,null,null,null]', REFUSED)
    add("json.array", "the channel at the size's place is a size", "[null,7,null,null,null,null,null]",
        {"size": size("7")})

    # json.kind
    for note, t in {"a number as label": '{"label":1}', "an array as url": '{"url":[]}',
                    "a string as size": '{"size":"1"}', "true as size": '{"size":true}',
                    "a string as red": '{"red":"1"}', "true as green": '{"green":true}',
                    "1 as showLabel": '{"showLabel":1}', "a string as showLabel": '{"showLabel":"true"}',
                    "an object as label": '{"label":{}}'}.items():
        add("json.kind", note, t, REFUSED)

    # json.number (inside skipped values too)
    for literal in ["01", "-01", "00", "+1", ".5", "1.", "1.e5", "1e", "1e+", "-", "0x10", "Infinity",
                    "-Infinity", "NaN", "1_0", "- 1", "1 2", "2.", "--1"]:
        add("json.number", f"the literal {literal} as a size", '{"size":' + literal + "}", REFUSED)
        add("json.number", f"the literal {literal} in a skipped value", '{"x":[' + literal + "]}", REFUSED)
    add("json.number", "a well-formed number in a skipped value, however large",
        '{"x":[1e99999,-0.0e-0,123456789012345678901234567890]}', {})

    # json.channel
    for c in (0, 1, 9, 10, 99, 100, 254, 255):
        add("json.channel", f"the channel {c}", '{"red":%d,"green":%d,"blue":%d}' % (c, c, c),
            {"red": c, "green": c, "blue": c}, written=True)
    for literal in ["256", "999", "1000", "-1", "-0", "1.0", "1e2", "0e0", "255.0", "2.55e2", "00", "007"]:
        add("json.channel", f"the channel {literal}", '{"blue":' + literal + "}", REFUSED)

    # json.string
    add("json.string", "the one-letter escapes",
        '{"label":"\\"\\\\\\/\\b\\f\\n\\r\\t"}', {"label": '"\\/\b\f\n\r\t'})
    add("json.string", "\\u escapes in either case", '{"label":"\\u00e9\\u00C9\\u20AC"}',
        {"label": "\u00e9\u00c9\u20ac"})
    add("json.string", "\\u0000 is a character", '{"url":"a\\u0000b"}', {"url": "a\x00b"})
    add("json.string", "raw DEL, raw non-ASCII", '{"label":"\x7f\u00e9\u4e2d"}', {"label": "\x7f\u00e9\u4e2d"})
    for note, t in {"\\x": '{"label":"\\x41"}', "\\U": '{"label":"\\U0041"}', "\\'": '{"label":"\\\'"}',
                    "\\0": '{"label":"\\0"}', "\\u with three hex digits": '{"label":"\\u041"}',
                    "\\u with a non-hex digit": '{"label":"\\u00g0"}',
                    "a backslash at the end of the text": '{"label":"\\',
                    "\\x in a skipped value": '{"x":"\\x41"}',
                    "\\x in a skipped member name": '{"x":{"\\x41":0}}'}.items():
        add("json.string", f"the escape {note}" if note.startswith("\\") else note, t, REFUSED)
    for byte in (0x00, 0x09, 0x0A, 0x1F):
        add("json.string", f"a raw byte 0x{byte:02X} in a label", '{"label":"a' + chr(byte) + 'b"}', REFUSED)
        add("json.string", f"a raw byte 0x{byte:02X} in a skipped value", '{"x":"a' + chr(byte) + 'b"}', REFUSED)
    add("json.string", "a raw tab in a member name", '{"r\ted":1}', REFUSED)

    # json.surrogate
    add("json.surrogate", "a pair of \\u escapes is one character", '{"label":"\\ud83d\\ude00"}',
        {"label": "\U0001f600"})
    add("json.surrogate", "a pair in upper case", '{"url":"\\uD83D\\uDE00"}', {"url": "\U0001f600"})
    add("json.surrogate", "a pair in a top-level member name (an unknown member)", '{"\\ud83d\\ude00":1}', {})
    for note, t in {"a lone high surrogate in a label": '{"label":"\\ud83d"}',
                    "a lone low surrogate in a url": '{"url":"\\ude00"}',
                    "a high surrogate followed by a plain character": '{"label":"\\ud83dx"}',
                    "a high surrogate followed by a non-surrogate escape": '{"label":"\\ud83d\\u0041"}',
                    "two high surrogates": '{"label":"\\ud83d\\ud83d"}',
                    "a reversed pair": '{"label":"\\ude00\\ud83d"}',
                    "a lone surrogate in the array form's label": '["\\udfff",null,null,null,null,null,null]',
                    "a lone surrogate in a top-level member name": '{"\\ud83d":0}',
                    "a lone surrogate in a top-level name of a known member's spelling":
                        '{"re\\udc00d":0}'}.items():
        add("json.surrogate", note, t, REFUSED)
    for note, t in {"in the value of an unknown member": '{"x":"\\ud83d"}',
                    "in a member name inside a skipped value": '{"x":{"\\ud83d":0}}',
                    "a lone low surrogate deep in a skipped value": '{"x":[[{"a":"\\udc00"}]]}',
                    "a reversed pair in a skipped value": '{"x":"\\ude00\\ud83d"}'}.items():
        add("json.surrogate", "a lone surrogate " + note if "lone" not in note and "reversed" not in note
            else note, t, {})

    # The writer's own texts (text.*), read back by the same rules.
    add("text.layout", "nothing set", "{}", {}, written=True)
    add("text.layout", "every attribute, in the writer's order",
        '{"label":"Hub","size":2.5,"url":"u","red":255,"green":0,"blue":16,"showLabel":true}',
        {"label": "Hub", "size": size("2.5"), "url": "u", "red": 255, "green": 0, "blue": 16,
         "showLabel": True}, written=True)
    add("text.layout", "false", '{"showLabel":false}', {"showLabel": False}, written=True)
    add("text.layout", "two members", '{"label":"A","blue":0}', {"label": "A", "blue": 0}, written=True)
    add("text.string", "the escapes the writer makes",
        '{"label":"q\\"b\\\\s/\\b\\t\\n\\f\\r\\u0000\\u0001\\u001f\x7f\u00e9\U0001f600"}',
        {"label": 'q"b\\s/\b\t\n\f\r\x00\x01\x1f\x7f\u00e9\U0001f600'}, written=True)
    add("text.string", "an empty url", '{"url":""}', {"url": ""}, written=True)
    add("text.size-nonfinite", "a size written as null reads as absent", '{"size":null}', {})

    # size.* : literals read as a size
    literals = [
        # size.integer
        "0", "-0", "1", "-1", "16777216", "16777217", "16777219", "2147483647", "9007199254740993",
        "18446744073709551615", "9223372036854775808", "-9223372036854775808",
        "9223372586610589697", "-9223372586610589697", "340282356779733661637539395458142568448",
        "18446744073709551616", "-9223372036854775809",
        # size.zero
        "0.0", "-0.0", "0e0", "-0e0", "0.000e999999999", "-0.0000e-99999", "0e-400",
        # size.pinned
        "0.1", "-0.1", "2.5", "1.5", "0.3", "1.0000000596046448", "1.00000005960464477539", "1.0000000596046449",
        "3.4028235677973366e38", "3.4028234663852886e38", "3.4028235e38", "1e22", "1e-22", "9.999999e-22",
        "1.0e22", "1234567890123456789e3", "0.1234567890123456789", "-1.00000005960464477539",
        "16777217.0", "16777217e0", "1.6777217e7", "100000000000000000000", "10000000000000000000000",
        "1e-7", "1.17549435e-38", "7.038531e-26",
        "1844674407370955161.7", "9223372036854775808.3", "9999999999999999999.9", "1844674407370955161.6",
        # size.direct
        "1e23", "1e-23", "1e38", "3.4028235677973366e38", "3.4028235677973366163e38",
        "3.40282356779733661637539395458142568448e38", "3.4028235677973362e38",
        "1e39", "-1e39", "1e308", "-1e308", "1e-45", "7e-46", "7.006492321624085e-46", "7.006492321624086e-46",
        "1.4012984643e-45", "1e-400", "-1e-400", "1e-99999", "1.00000005960464477539062500001",
        "1.000000059604644775390625", "0.00000000000000000000001", "1.7976931348623157e308",
        "1.7976931348623158e308", "-1.7976931348623158e308", "7.038531e-26",
        "17976931348623158079372897140530341507993413271003782693617377898044496829276475094664901797758720709633"
        "02864166928879109465555478519404026306574886715058206819089020007083836762738548458177115317644757302700"
        "69855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497791",
        # size.overflow
        "1e400", "-1e400", "1.8e308", "1.7976931348623159e308", "1e99999999999",
        "17976931348623158079372897140530341507993413271003782693617377898044496829276475094664901797758720709633"
        "02864166928879109465555478519404026306574886715058206819089020007083836762738548458177115317644757302700"
        "69855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497792",
    ]
    seen = set()
    for literal in literals:
        if literal in seen:
            continue
        seen.add(literal)
        rule, bits = read_size(literal)
        shown = literal if len(literal) < 40 else literal[:12] + "..." + literal[-6:]
        add(rule, f"the size {shown}", '{"size":' + literal + "}", REFUSED if bits == REFUSED else {"size": bits})
    return v


# --- Sizes as the writer writes them -------------------------------------------------------


def size_vectors() -> list[dict]:
    v = []

    def add(rule, note, bits):
        v.append({"rule": rule, "note": note, "bits": bits, "text": write_size(bits)})

    ties = {"1768119.25 (1768119.2 and 1768119.3 equally near)": 1768119.25,
            "434178.875 (434178.87 and 434178.88 equally near)": 434178.875}
    for note, x in ties.items():
        add("text.size-digits", "a tie goes to the even last digit: " + note, float_bits(x))
    # More ties: floats exactly halfway between the two shortest candidates, found by search.
    found = 0
    for exp in range(10, 24):
        for m in range(1 << 23, (1 << 23) + 4000, 7):
            x = m * 2.0 ** (exp - 23)
            bits = float_bits(x)
            digits, point = shortest_digits(bits)
            step = Fraction(10) ** (point - len(digits))
            if abs(int(digits) * step - Fraction(x)) * 2 == step:
                add("text.size-digits", f"a tie goes to the even last digit: {x!r}", bits)
                found += 1
                break
        if found >= 8:
            break
    for note, x in {"0.1": 0.1, "the float nearest 1/3": 1 / 3, "2/3": 2 / 3, "pi": math.pi, "e": math.e,
                    "0.3": 0.3, "1.1": 1.1, "123.456": 123.456, "16777216 (2^24)": 16777216.0,
                    "16777218": 16777218.0, "the float above 1": 1.0000001192092896,
                    "the float below 1": 0.9999999403953552, "2^-10": 2.0 ** -10, "2^100": 2.0 ** 100,
                    "2^-100": 2.0 ** -100, "the largest float": 3.4028234663852886e38,
                    "the least normal float": 1.1754943508222875e-38,
                    "the largest subnormal": 1.1754942106924411e-38, "the least subnormal": 1.401298464324817e-45,
                    "twice the least subnormal": 2.802596928649634e-45, "7.038531e-26": 7.038531e-26,
                    "9.999999e-22 region": 9.999999e-22, "1e10": 1e10, "8388607.5": 8388607.5,
                    "0.2": 0.2, "33554430": 33554430.0, "33554432 (2^25)": 33554432.0}.items():
        add("text.size-digits", f"the shortest digits of {note}", float_bits(x))
    for note, x in {"zero": 0.0, "negative zero": -0.0, "1": 1.0, "-1": -1.0, "100": 100.0, "2.5": 2.5,
                    "123.45": 123.45, "9999999": 9999999.0, "1e12": 1e12, "9.999999e12 region": 9999999e6,
                    "1e13": 1e13, "1.5e13": 1.5e13, "1e14": 1e14, "123456790000 (point 12)": 123456790000.0,
                    "1234567900000 (point 13)": 1234567900000.0, "12345679000000 (point 14)": 12345679000000.0,
                    "1234567.9 with a fraction at point 7": 1234567.9,
                    "0.5": 0.5, "0.001": 0.001, "0.000001 (point -5)": 0.000001, "0.0000015": 0.0000015,
                    "0.0000001 (point -6)": 1e-7, "1.5e-7": 1.5e-7, "-0.000123": -0.000123,
                    "1e-45": 1e-45, "3.4028235e38": 3.4028234663852886e38, "-2.5e-20": -2.5e-20,
                    "1e20": 1e20, "1.2e21": 1.2e21}.items():
        add("text.size-form", f"the layout of {note}", float_bits(x))
    for note, bits in {"infinity": "7f800000", "minus infinity": "ff800000", "a NaN": "7fc00000",
                       "a signalling NaN": "7f800001", "a negative NaN": "ffc00001"}.items():
        add("text.size-nonfinite", f"{note} is written null", bits)
    return v


def main() -> None:
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[1] / "docs" / "format-vectors.json"
    vectors = {
        "about": ("Test vectors of the tovra_api graph diff byte format and node update JSON text (docs/format.md). "
                  "Ids are 32 hex digits (the 16 bytes, byte 0 first); a float is 8 hex digits of its IEEE 754 "
                  "single-precision bits, most significant first (3f800000 is 1.0). 'result' is 'refused' or "
                  "what the input reads as; 'written' marks what this module writes, byte for byte, for that "
                  "content. Made by tools/format_vectors.py."),
        "bytes": byte_vectors(),
        "node_updates": node_update_vectors(),
        "sizes": size_vectors(),
    }
    out.write_text(json.dumps(vectors, indent=1, ensure_ascii=True) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
