"""Cross-language differential test of the JavaScript decoder and encoder
against the installed quorl_api module.

Python writes several thousand byte strings: diffs made with the module,
those cut short and mutated, and hand-built ones whose node texts come from
a small grammar of valid and invalid JSON. Node decodes each one. For every
input the decoder must accept exactly when `from_bytes` does and give the
same content; what Node re-encodes must decode in Python to the same content
(and, for diffs the module wrote, be the very same bytes). Then Node encodes
random diffs of its own, which Python must decode to what Node meant; and
both merge pairs of diffs over shared ids, which must give the same bytes.

    python js/tests/differential.py [--diffs N] [--seed S]

Exits non-zero at the first disagreement, after printing it.
"""

import argparse
import json
import random
import struct
import subprocess
import sys
import tempfile
import uuid
from pathlib import Path

from quorl_api import PyGraphDiff

HERE = Path(__file__).resolve().parent
NODE_SIDE = HERE / "differential-node.mjs"


def float_bits(value):
    if value != value:
        return "nan"
    return struct.pack(">f", value).hex()


def random_float32(rng):
    choice = rng.random()
    if choice < 0.4:
        bits = rng.getrandbits(32)
        if (bits >> 23) & 0xFF == 0xFF and bits & 0x7FFFFF:
            bits = 0x7FC00000  # a NaN's payload need not survive JS numbers
        return struct.unpack("<f", struct.pack("<I", bits))[0]
    if choice < 0.6:
        return rng.choice([0.0, -0.0, 1.0, 0.1, 1e-45, 3.4028234663852886e38, float("inf"), 1e13, 123456789])
    return (rng.random() - 0.3) * 10 ** rng.randint(-8, 12)


PIECES = ["a", "Z", " ", '"', "\\", "/", "\n", "\t", "\x00", "\x1f", "\x7f", "é", "中", "😀", "\ufeff"]


def random_text(rng):
    return "".join(rng.choice(PIECES) for _ in range(rng.randrange(8)))


def random_update(rng):
    update = {}
    if rng.random() < 0.5:
        update["label"] = random_text(rng)
    if rng.random() < 0.5:
        update["size"] = random_float32(rng)
    if rng.random() < 0.3:
        update["url"] = random_text(rng)
    for key in ("red", "green", "blue"):
        if rng.random() < 0.4:
            update[key] = rng.randrange(256)
    if rng.random() < 0.4:
        update["show_label"] = rng.random() < 0.5
    return update


def module_diff(rng, pool=None):
    """A diff built by editing calls, as a user of the module makes one."""
    if pool is None:
        pool = [uuid.UUID(int=rng.getrandbits(128)).bytes for _ in range(rng.randint(1, 16))]
    diff = PyGraphDiff()
    for _ in range(rng.randrange(40)):
        op = rng.random()
        if op < 0.35:
            diff.add_node(rng.choice(pool), random_update(rng))
        elif op < 0.75:
            diff.add_edge(rng.choice(pool), rng.choice(pool), random_float32(rng))
        elif op < 0.85:
            diff.delete_node(rng.choice(pool))
        else:
            diff.delete_edge(rng.choice(pool), rng.choice(pool))
    return diff


# ---------------------------------------------------------------- node texts
#
# Texts that are valid in every way a reader may accept (whitespace, escapes,
# null, unknown keys of any depth, number forms), each with at most one fault
# from a list of the ways a text can be wrong, so that a fault is never hidden
# behind another.

KNOWN_KEYS = ["label", "size", "url", "red", "green", "blue", "showLabel"]

WHITESPACE = [b"", b"", b"", b" ", b"\t", b"\n", b"\r", b" \r\n\t "]
STRING_PIECES = [
    b"a", b"Z", "é".encode(), "😀".encode(), b"\x7f", b"/", b'\\"', b"\\\\", b"\\/", b"\\b", b"\\f",
    b"\\n", b"\\r", b"\\t", b"\\u0041", b"\\u00E9", b"\\u00e9", b"\\ud83d\\ude00", b"\\uD83D\\uDE00",
    b"\\u0000",
    b"\xef\xbf\xbf", b"\xf4\x8f\xbf\xbf", b"\xed\x9f\xbf", b"\xe0\xa0\x80", b"\xf0\x90\x80\x80", b"\xc2\x80",
]
SIZES = [
    b"0", b"1", b"-1", b"-0", b"-0.0", b"1.5", b"1E2", b"1e+2", b"10E-1", b"0.1", b"3.4028235e38", b"3.5e38",
    b"1e39", b"-1e39", b"1e-400", b"-1e-400", b"0e999999999", b"0.000001", b"16777217", b"-16777217",
    b"9007199791611905", b"18446744073709551615", b"18446744073709551616", b"-9223372036854775808",
    b"-9223372036854775809", b"123456789012345678901234567890", b"1.00000005960464477539062500001",
]
FAULTS = {
    "number": [b"007", b"01", b"+1", b".5", b"1.", b"1e", b"1e+", b"-", b"--1", b"NaN", b"Infinity", b"0x10"],
    "colour": [b"256", b"-1", b"1.0", b"1e2", b"-0", b'"5"', b"true", b"1000", b"0255"],
    "size": [b"1e400", b"-1e400", b'"5"', b"true", b"false", b"[]", b"{}"],
    "show": [b"1", b"0", b'"true"', b"True", b"tru", b"nul", b"nulll"],
    "string": [
        b"\\ud800", b"\\udc00", b"\\ud800\\u0041", b"\\ud800x", b"\\x", b"\\u12", b"\\uzzzz",
        b"\t", b"\x00", b"\x1f", b"\\",
    ],
    "utf8": [b"\xc0\x80", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xf0\x80\x80\x80", b"\xe0\x80\x80", b"\x80",
             b"\xe2\x82", b"\xff", b"\xf5\x80\x80\x80", b"\xc2"],
    "whitespace": [b"\x0b", b"\x0c", b"\xc2\xa0", b"\xef\xbb\xbf"],
    "skipped": [
        b"[1,]", b'{"a":1,}', b'{"a"}', b"[1 2]", b"[[[", b'{"a":[}', b"[01]", b'"\\x"', b"nul", b"{1:2}"
    ],
}


def pick(rng, choices):
    return rng.choice(choices)


def ws(rng):
    return pick(rng, WHITESPACE)


def string(rng, fault=None):
    pieces = [pick(rng, STRING_PIECES) for _ in range(rng.randrange(4))]
    if fault is not None:
        pieces.insert(rng.randrange(len(pieces) + 1), fault)
    return b'"' + b"".join(pieces) + b'"'


def skipped_value(rng, depth=0):
    """Any well-formed JSON value; skipped strings may hold lone surrogate
    escapes and skipped numbers may be out of any range."""
    choice = rng.random()
    if choice < 0.2:
        return pick(rng, SIZES + [b"1e400", b"-1e999999999999"])
    if choice < 0.35:
        return string(rng, pick(rng, [b"", b"\\ud800", b"\\udfff\\ud800"]))
    if choice < 0.45:
        return pick(rng, [b"true", b"false", b"null"])
    if depth > 3 or choice < 0.5:
        return pick(rng, [b"[]", b"{}", b"[[[[[[[[1]]]]]]]]", b"[" * 50 + b"]" * 50])
    if choice < 0.75:
        items = [ws(rng) + skipped_value(rng, depth + 1) + ws(rng) for _ in range(rng.randrange(4))]
        return b"[" + b",".join(items) + ws(rng) + b"]"
    members = [
        ws(rng) + string(rng) + ws(rng) + b":" + ws(rng) + skipped_value(rng, depth + 1) for _ in range(3)
    ]
    return b"{" + b",".join(members[: rng.randrange(4)]) + ws(rng) + b"}"


def float32_tie(rng):
    """An integer above 2^53 exactly halfway between two float32 values, or
    one off it: rounding through a double, or a tie not to even, shows."""
    exponent = rng.randint(53, 63)
    negative = exponent < 63 and rng.random() < 0.3
    mantissa = rng.randrange(1 << 23, 1 << 24)
    value = (mantissa << (exponent - 23)) + (1 << (exponent - 24)) + pick(rng, [0, 0, 0, -1, 1])
    return str(-value if negative else value).encode()


def field_value(rng, position):
    if rng.random() < 0.15:
        return b"null"
    if position in (0, 2):
        return string(rng)
    if position == 1:
        if rng.random() < 0.1:
            return float32_tie(rng)
        if rng.random() < 0.6:
            return pick(rng, SIZES)
        return repr(rng.uniform(-1e6, 1e6) * 10 ** rng.randint(-40, 30)).encode()
    if position == 6:
        return pick(rng, [b"true", b"false"])
    return str(rng.randrange(256)).encode()


def faulty_field_value(rng, position, kind):
    if kind == "number":
        if position in (1, 3, 4, 5):
            return pick(rng, FAULTS["number"])
        return faulty_field_value(rng, position, "string")
    if kind in ("string", "utf8") and position in (0, 2):
        return string(rng, pick(rng, FAULTS[kind]))
    if position == 1:
        return pick(rng, FAULTS["size"])
    if position == 6:
        return pick(rng, FAULTS["show"])
    if position in (0, 2):
        return pick(rng, [b"5", b"true", b"[]", b"'a'", b'"unclosed'])
    return pick(rng, FAULTS["colour"])


def node_text(rng):
    """One node text, valid or with exactly one fault."""
    fault = pick(rng, list(FAULTS) + ["structure", "duplicate", "field"]) if rng.random() < 0.45 else None
    faulty = -1  # the position of the member or element that takes a field fault
    if rng.random() < 0.25:
        if fault in ("string", "utf8"):
            faulty = pick(rng, [0, 2])
        elif fault in ("field", "number", "colour", "size", "show"):
            faulty = rng.randrange(7)
        elements = [
            faulty_field_value(rng, p, fault) if p == faulty else field_value(rng, p) for p in range(7)
        ]
        if fault == "structure":
            change = rng.randrange(3)
            if change == 0:
                del elements[rng.randrange(7) :]
            elif change == 1:
                elements.append(b"null")
            else:
                elements.append(b"")  # a trailing comma
        text = b"[" + b",".join(ws(rng) + e + ws(rng) for e in elements) + b"]"
    else:
        positions = rng.sample(range(7), rng.randrange(8))
        members = []
        for position in positions:
            key = KNOWN_KEYS[position].encode()
            if rng.random() < 0.1:
                key = key.replace(b"s", b"\\u0073", 1).replace(b"r", b"\\u0072", 1)
            members.append([b'"' + key + b'"', field_value(rng, position), position])
        for _ in range(rng.randrange(3)):
            key = string(rng) if rng.random() < 0.5 else pick(rng, [b'"show_label"', b'"Label"', b'"x"'])
            members.insert(rng.randrange(len(members) + 1), [key, skipped_value(rng), -1])
        if fault == "duplicate" and positions:
            position = pick(rng, positions)
            key = b'"' + KNOWN_KEYS[position].encode() + b'"'
            members.append([key, field_value(rng, position), position])
        elif fault in ("string", "utf8") and members:
            # Into a label or url, or into any key: keys are strings too.
            member = pick(rng, members)
            if member[2] in (0, 2) and rng.random() < 0.5:
                member[1] = string(rng, pick(rng, FAULTS[fault]))
            else:
                member[0] = member[0][:1] + pick(rng, FAULTS[fault]) + member[0][1:]
        elif fault in ("field", "number", "colour", "size", "show") and positions:
            member = pick(rng, [m for m in members if m[2] >= 0])
            member[1] = faulty_field_value(rng, member[2], fault)
        elif fault == "skipped":
            members.append([b'"x"', pick(rng, FAULTS["skipped"]), -1])
        parts = [ws(rng) + key + ws(rng) + b":" + ws(rng) + value + ws(rng) for key, value, _ in members]
        if fault == "structure" and rng.random() < 0.5:
            parts.append(pick(rng, [b"", b' "a" 1', b"label:1", b"'a':1", b'"a":1 "b":2']))
        text = b"{" + b",".join(parts) + ws(rng) + b"}"
    text = ws(rng) + text + ws(rng)
    if fault == "structure" and rng.random() < 0.5:
        after = pick(rng, [b"{}", b"x", b"]", b"\x00"])
        text = pick(rng, [text + after, b"", b"null", b"5", b'"a"', text[:-1]])
    elif fault == "whitespace":
        at = pick(rng, [0, len(text), text.find(b":") if b":" in text else 0])
        text = text[:at] + pick(rng, FAULTS["whitespace"]) + text[at:]
    return text


# ---------------------------------------------------------------- byte strings


def count(value):
    return struct.pack("<Q", value)


def id_field(raw):
    return count(16) + raw


def node_section_bytes(rng, texts):
    ids = [uuid.UUID(int=rng.getrandbits(2)).bytes for _ in texts]
    return count(len(texts)) + b"".join(id_field(i) + count(len(t)) + t for i, t in zip(ids, texts))


def handmade_with_texts(rng):
    texts = [node_text(rng) for _ in range(rng.randint(1, 3))]
    return node_section_bytes(rng, texts) + count(0) * 3


def edges_block(rng, with_weights):
    ids = [uuid.UUID(int=i).bytes for i in range(3)]
    sources = rng.randrange(4)
    out = count(sources)
    for _ in range(sources):
        targets = rng.randrange(4)
        out += id_field(rng.choice(ids)) + count(targets)
        for _ in range(targets):
            out += id_field(rng.choice(ids))
            if with_weights:
                bits = rng.choice([rng.getrandbits(32), 0x80000000, 0x7F800000, 0x3FC00000])
                out += struct.pack("<I", bits)
    return out


def handmade_containers(rng):
    ids = [uuid.UUID(int=i).bytes for i in range(3)]
    texts = [rng.choice([b"{}", b'{"red":1}', b'{"label":"x"}']) for _ in range(rng.randrange(3))]
    deleted = [rng.choice(ids) for _ in range(rng.randrange(4))]
    return (
        node_section_bytes(rng, texts)
        + count(len(deleted))
        + b"".join(id_field(i) for i in deleted)
        + edges_block(rng, True)
        + edges_block(rng, False)
    )


def mutate(rng, data):
    data = bytearray(data)
    for _ in range(rng.randint(1, 3)):
        op = rng.random()
        at = rng.randrange(len(data) + 1)
        if op < 0.4 and data:
            at = min(at, len(data) - 1)
            data[at] = rng.randrange(256)
        elif op < 0.6:
            data[at:at] = bytes([rng.randrange(256)])
        elif op < 0.75 and data:
            del data[min(at, len(data) - 1)]
        elif op < 0.9 and len(data) >= 8:
            # a count or length field gets a value near the edge of its range
            at = rng.randrange(0, len(data) - 7)
            data[at : at + 8] = count(rng.choice([0, 1, 15, 17, 2**32, 2**53 + 1, 2**63, 2**64 - 1]))
        else:
            data += bytes(rng.randrange(256) for _ in range(rng.randrange(1, 5)))
    return bytes(data)


def make_cases(rng, diffs):
    """Yields (bytes, whether the module wrote them as they stand)."""
    for index in range(diffs):
        data = module_diff(rng).to_bytes()
        yield data, True
        yield data[: rng.randrange(len(data))], False
        yield mutate(rng, data), False
        yield handmade_with_texts(rng), False
        if index % 2 == 0:
            yield handmade_containers(rng), False
    for cut in range(0, 200):
        yield bytes(cut), False


def signalling_nan_weight(diff):
    """Whether a weight is a signalling NaN, which a JavaScript number quiets."""
    weights = diff.new_or_updated_edge_arrays()[2]
    for (bits,) in struct.iter_unpack("<I", weights):
        if bits & 0x7F800000 == 0x7F800000 and bits & 0x7FFFFF and not bits & 0x400000:
            return True
    return False


def merge_pair(rng):
    """Two byte strings over ids they share: diffs made with the module, or
    hand-built ones with repeated keys, contradictions and empty groups."""
    pool = [uuid.UUID(int=i).bytes for i in range(rng.randint(1, 6))]

    def one():
        while rng.random() < 0.3:
            diff = PyGraphDiff.from_bytes(handmade_containers(rng))
            if not signalling_nan_weight(diff):
                return diff.to_bytes()
        return module_diff(rng, pool).to_bytes()

    return one(), one()


# ---------------------------------------------------------------- comparison


def module_content(diff):
    """The readings, in a form that does not depend on the order of entries."""
    nodes = {}
    for node_id, update in diff.new_or_updated_nodes().items():
        update = dict(update)
        if "size" in update:
            update["size"] = float_bits(update["size"])
        nodes[node_id] = update
    return {
        "nodes": nodes,
        "deleted_nodes": set(diff.deleted_nodes()),
        "edges": {
            s: {t: float_bits(w) for t, w in ts.items()} for s, ts in diff.new_or_updated_edges().items()
        },
        "deleted_edges": {s: set(ts) for s, ts in diff.deleted_edges().items()},
        "num_nodes": diff.num_nodes(),
        "num_edges": diff.num_edges(),
    }


def js_content(content):
    """The same form from Node's decoding. The readings leave out a source
    with no targets, which num_edges still counts."""
    nodes = {}
    for node_id, attributes in content["nodes"]:
        attributes = dict(attributes)
        if "showLabel" in attributes:
            attributes["show_label"] = attributes.pop("showLabel")
        nodes[node_id] = attributes
    deleted_nodes = set(content["deletedNodes"])
    edges = {s: dict(ts) for s, ts in content["edges"]}
    deleted_edges = {s: set(ts) for s, ts in content["deletedEdges"]}
    return {
        "nodes": nodes,
        "deleted_nodes": deleted_nodes,
        "edges": {s: ts for s, ts in edges.items() if ts},
        "deleted_edges": {s: ts for s, ts in deleted_edges.items() if ts},
        "num_nodes": len(nodes) + len(deleted_nodes),
        "num_edges": len(edges) + len(deleted_edges),
    }


def as_written(content):
    """The content as it reads back once written: a NaN or infinite size is
    written as null, which reads back absent."""
    for attributes in content["nodes"].values():
        if attributes.get("size") in ("nan", "7f800000", "ff800000"):
            del attributes["size"]
    return content


def fail(what, data, **details):
    print(f"DISAGREEMENT: {what}\n  input: {data.hex()}", file=sys.stderr)
    for key, value in details.items():
        print(f"  {key}: {value}", file=sys.stderr)
    sys.exit(1)


def json_lines(path):
    # Not splitlines(): a label may hold U+2028, which JSON leaves unescaped.
    return [json.loads(line) for line in path.read_text(encoding="utf-8").split("\n") if line]


def run_node(*args):
    subprocess.run(["node", str(NODE_SIDE), *map(str, args)], check=True)


def check_decoding(rng, diffs, workdir):
    cases = list(make_cases(rng, diffs))
    cases_path = workdir / "cases.bin"
    cases_path.write_bytes(b"".join(struct.pack("<I", len(data)) + data for data, _ in cases))
    out_path = workdir / "decoded.jsonl"
    run_node("decode", cases_path, out_path)
    results = json_lines(out_path)
    assert len(results) == len(cases), (len(results), len(cases))
    accepted = 0
    for (data, written_by_module), result in zip(cases, results):
        try:
            expected = module_content(PyGraphDiff.from_bytes(data))
        except Exception as error:  # noqa: BLE001 - the module's refusal is a plain Exception
            if str(error) != "Failed to deserialize graph diff.":
                raise
            if result["ok"]:
                fail("Node accepts what the module refuses", data)
            continue
        if not result["ok"]:
            fail("Node refuses what the module accepts", data, refusal=result)
        accepted += 1
        got = js_content(result["content"])
        if got != expected:
            fail("decoded content differs", data, node=got, module=expected)
        reencoded = bytes.fromhex(result["reencoded"])
        if module_content(PyGraphDiff.from_bytes(reencoded)) != as_written(expected):
            fail("Node's re-encoding decodes in Python to other content", data, reencoded=reencoded.hex())
        # The module writes an infinite size as null, which reads back absent.
        if written_by_module and b'"size":null' not in data and reencoded != data:
            fail("Node does not re-encode the module's bytes byte for byte", data, reencoded=reencoded.hex())
    return len(cases), accepted


def check_encoding(count, seed, workdir):
    out_path = workdir / "generated.jsonl"
    run_node("generate", count, seed, out_path)
    lines = json_lines(out_path)
    for case in lines:
        data = bytes.fromhex(case["bytes"])
        expected = as_written(js_content(case["input"]))
        got = module_content(PyGraphDiff.from_bytes(data))
        if got != expected:
            fail("Python decodes Node's bytes to other content", data, python=got, node=expected)
    return len(lines)


def check_merging(rng, pairs, workdir):
    """Python merges each pair and Node merges the decoded pair: encoding
    Node's result must give the module's bytes."""
    cases = [merge_pair(rng) for _ in range(pairs)]
    cases_path = workdir / "pairs.bin"
    cases_path.write_bytes(
        b"".join(struct.pack("<I", len(data)) + data for pair in cases for data in pair)
    )
    out_path = workdir / "merged.jsonl"
    run_node("merge", cases_path, out_path)
    results = json_lines(out_path)
    assert len(results) == len(cases), (len(results), len(cases))
    for (first, second), result in zip(cases, results):
        merged = PyGraphDiff.from_bytes(first)
        merged.merge(PyGraphDiff.from_bytes(second))
        if bytes.fromhex(result) != merged.to_bytes():
            fail("Node's merge encodes to other bytes than the module's", first + second,
                 node=result, module=merged.to_bytes().hex())
    return len(cases)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--diffs", type=int, default=2000, help="module diffs to start from")
    parser.add_argument("--seed", type=int, default=20261209)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    with tempfile.TemporaryDirectory() as directory:
        workdir = Path(directory)
        tried, accepted = check_decoding(rng, args.diffs, workdir)
        print(
            f"differential: {tried} byte strings decoded by Node and by the module, {tried} agreed "
            f"({accepted} accepted with equal content and equal re-encoding, "
            f"{tried - accepted} refused by both)"
        )
        merged = check_merging(rng, args.diffs, workdir)
        print(f"differential: {merged} pairs merged by Node and by the module to the same bytes")
        generated = check_encoding(args.diffs, args.seed, workdir)
        print(
            f"differential: {generated} diffs encoded by Node, "
            f"{generated} decoded by the module to the same content"
        )


if __name__ == "__main__":
    main()
