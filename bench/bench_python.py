"""Side-by-side timings of quorl_api against a pure-Python equivalent and a
floor, printed as one markdown table of ratios, followed by a memory probe
and a delete_node scaling probe.

Standard library only; runs unchanged under CPython and PyPy:

    python bench/bench_python.py            # full sizes
    python bench/bench_python.py --quick    # small sizes, for a smoke run

Every figure is the best of several repeats, measured in the same run as its
baseline: the machines are shared and noisy, so only ratios mean anything.
"""

from __future__ import annotations

import argparse
import array
import dataclasses
import gc
import marshal
import operator
import os
import platform
import random
import struct
import subprocess
import sys
import time

# The pure-Python equivalent lives with the tests, which check the module against it.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "python"))

from pure_graph_diff import PureGraphDiff  # noqa: E402
from quorl_api import PyGraphDiff  # noqa: E402


def make_ids(count, salt=0):
    return [(salt << 96 | index).to_bytes(16, "little") for index in range(count)]


def best_of(repeats, run, setup=None, clock=time.perf_counter):
    """Best time of `run(state)` over `repeats` by `clock`, `setup()` untimed."""
    best = float("inf")
    for _ in range(repeats):
        state = setup() if setup is not None else None
        gc.collect()
        gc.disable()
        try:
            start = clock()
            run(state)
            best = min(best, clock() - start)
        finally:
            gc.enable()
    return best


@dataclasses.dataclass
class Row:
    method: str
    calls: int
    module: float
    pure: float
    floor: float
    floor_name: str

    def cells(self):
        per_call = self.module / self.calls * 1e9
        return [
            f"`{self.method}`",
            f"{per_call:,.0f} ns" if per_call < 1e6 else f"{per_call / 1e6:,.1f} ms",
            "" if self.pure is None else f"{self.pure / self.module:,.1f}x",
            f"{self.module / self.floor:,.2f}x",
            self.floor_name,
        ]


# Editing methods: a batch of calls into one diff; the floor is a bound
# built-in call with the same number of arguments doing one dict store.


def bench_editing(size, repeats):
    ids = make_ids(size)
    targets = make_ids(size, salt=1)
    pairs = [(ids[i % (size // 100 or 1)], targets[i]) for i in range(size)]
    update = {"label": "node", "size": 1.5}
    rows = []

    def time_calls(make, call_loop):
        return best_of(repeats, call_loop, make)

    # add_node(id, update)
    def add_nodes(diff):
        add = diff.add_node
        for node_id in ids:
            add(node_id, update)

    def store_two(_):
        store = {}.__setitem__
        for node_id in ids:
            store(node_id, update)

    rows.append(
        Row(
            "add_node",
            size,
            time_calls(PyGraphDiff, add_nodes),
            time_calls(PureGraphDiff, add_nodes),
            best_of(repeats, store_two),
            "`{}.__setitem__(k, v)`",
        )
    )

    # add_edge(from, to, weight)
    def add_edges(diff):
        add = diff.add_edge
        for source, target in pairs:
            add(source, target, 1.5)

    def store_three(_):
        setitem = operator.setitem
        store = {}
        for source, target in pairs:
            setitem(store, source, target)

    rows.append(
        Row(
            "add_edge",
            size,
            time_calls(PyGraphDiff, add_edges),
            time_calls(PureGraphDiff, add_edges),
            best_of(repeats, store_three),
            "`operator.setitem(d, k, v)`",
        )
    )

    # delete_edge(from, to) on a diff that holds those edges
    def with_edges(cls):
        def make():
            diff = cls()
            add_edges(diff)
            return diff

        return make

    def delete_edges(diff):
        delete = diff.delete_edge
        for source, target in pairs:
            delete(source, target)

    def store_pair(_):
        store = {}.__setitem__
        for source, target in pairs:
            store(source, target)

    rows.append(
        Row(
            "delete_edge",
            size,
            time_calls(with_edges(PyGraphDiff), delete_edges),
            time_calls(with_edges(PureGraphDiff), delete_edges),
            best_of(repeats, store_pair),
            "`{}.__setitem__(k, v)`",
        )
    )

    # delete_node(id): every deleted node has incoming edges from 100 sources.
    victims = targets[: size // 10]

    def with_incoming(cls):
        def make():
            diff = cls()
            for index, victim in enumerate(victims):
                diff.add_edge(ids[index % 100], victim, 1.0)
            return diff

        return make

    def delete_nodes(diff):
        delete = diff.delete_node
        for victim in victims:
            delete(victim)

    def store_one(_):
        store = {}.setdefault
        for victim in victims:
            store(victim)

    rows.append(
        Row(
            "delete_node",
            len(victims),
            time_calls(with_incoming(PyGraphDiff), delete_nodes),
            time_calls(with_incoming(PureGraphDiff), delete_nodes),
            best_of(repeats, store_one),
            "`{}.setdefault(k)`",
        )
    )

    # clear() of a small diff, many times: the cost of the call itself.
    def clears(diff):
        clear = diff.clear
        for _ in ids:
            clear()

    def empty_clears(_):
        clear = {}.clear
        for _ in ids:
            clear()

    rows.append(
        Row(
            "clear",
            size,
            time_calls(PyGraphDiff, clears),
            time_calls(PureGraphDiff, clears),
            best_of(repeats, empty_clears),
            "`{}.clear()`",
        )
    )
    return rows


# Reading methods: one call on a populated diff; the floor is marshal.loads
# building an equal result object.


def populate(diff, size):
    sources = make_ids(size // 100 or 1, salt=2)
    targets = make_ids(100, salt=3)
    nodes = make_ids(size // 10, salt=4)
    for index, node_id in enumerate(nodes):
        diff.add_node(node_id, {"label": f"node {index}", "size": 1.5, "red": 7})
    for node_id in make_ids(size // 10, salt=5):
        diff.delete_node(node_id)
    for source in sources:
        for target in targets:
            diff.add_edge(source, target, 0.5)
    for source in make_ids(size // 100 or 1, salt=6):
        for target in targets:
            diff.delete_edge(source, target)
    return diff


def bench_reading(size, repeats):
    module = populate(PyGraphDiff(), size)
    pure = populate(PureGraphDiff(), size)
    rows = []
    readings = [
        ("new_or_updated_nodes", "new_or_updated_nodes"),
        ("deleted_nodes", "deleted_nodes"),
        ("new_or_updated_edges", "new_or_updated_edges"),
        ("deleted_edges", "deleted_edges_reading"),
        ("num_nodes", "num_nodes"),
        ("num_edges", "num_edges"),
    ]
    for name, pure_name in readings:
        read = getattr(module, name)
        pure_read = getattr(pure, pure_name)
        blob = marshal.dumps(read())
        calls = 1 if name.startswith(("new", "deleted")) else size
        rows.append(
            Row(
                name,
                calls,
                best_of(repeats, lambda _: [read() for _ in range(calls)]),
                best_of(repeats, lambda _: [pure_read() for _ in range(calls)]),
                best_of(repeats, lambda _: [marshal.loads(blob) for _ in range(calls)]),
                "`marshal.loads` of an equal result",
            )
        )
    return rows


# Byte methods on 10^6 edges over 10^4 sources (at full size); the floor is
# one copy of the same number of bytes into a new bytes object.


def bench_bytes(size, repeats):
    sources = make_ids(size // 100 or 1, salt=7)
    targets = make_ids(100, salt=8)
    module = PyGraphDiff()
    pure = PureGraphDiff()
    for diff in (module, pure):
        for source in sources:
            for target in targets:
                diff.add_edge(source, target, 0.25)
    data = module.to_bytes()
    source_buffer = bytearray(data)
    copy_time = best_of(repeats, lambda _: bytes(source_buffer))
    return [
        Row(
            "to_bytes",
            1,
            best_of(repeats, lambda _: module.to_bytes()),
            best_of(max(1, repeats // 2), lambda _: pure.to_bytes()),
            copy_time,
            f"copy {len(data):,} bytes",
        ),
        Row(
            "from_bytes",
            1,
            best_of(repeats, lambda _: PyGraphDiff.from_bytes(data)),
            best_of(max(1, repeats // 2), lambda _: PureGraphDiff.from_bytes(data)),
            copy_time,
            f"copy {len(data):,} bytes",
        ),
    ]


# Byte methods on the edge shapes of real graphs, `edges` edges each (no
# pure-Python figure: building them edge by edge in Python takes longer than
# the rest of the run):
#   sparse      10 targets per source
#   dense       250 targets per source
#   scale-free  preferential attachment: each new node links to 5 earlier
#               ones picked in proportion to their degree, so a few nodes
#               gather most edges


def edge_shapes(edges):
    rng = random.Random(5)
    shapes = {}
    for name, per_source in (("sparse", 10), ("dense", 250)):
        sources = make_ids(max(1, edges // per_source), salt=21)
        targets = make_ids(edges, salt=22)
        shapes[name] = (
            b"".join(sources[index // per_source] for index in range(edges)),
            b"".join(targets),
        )
    nodes = make_ids(edges // 5 + 5, salt=23)
    ends = list(range(5))  # every edge's two ends: a node turns up once per degree
    sources, targets = [], []
    for node in range(5, len(nodes)):
        for _ in range(5):
            target = rng.choice(ends)
            sources.append(nodes[node])
            targets.append(nodes[target])
            ends.append(target)
        ends.extend([node] * 5)
    shapes["scale-free"] = (b"".join(sources[:edges]), b"".join(targets[:edges]))
    return shapes


def bench_edge_shapes(edges, repeats):
    rows = []
    for name, (sources, targets) in edge_shapes(edges).items():
        count = len(sources) // 16
        module = PyGraphDiff()
        module.add_edges(sources, targets, array.array("f", [0.5]) * count)
        data = module.to_bytes()
        copy_time = cpu_best_of(repeats, lambda _, buffer=bytearray(data): bytes(buffer))
        copy_name = f"copy {len(data):,} bytes"
        rows.append(Row(f"to_bytes, {name}", 1, cpu_best_of(repeats, lambda _, d=module: d.to_bytes()),
                        None, copy_time, copy_name))
        rows.append(Row(f"from_bytes, {name}", 1,
                        cpu_best_of(repeats, lambda _, b=data: PyGraphDiff.from_bytes(b)),
                        None, copy_time, copy_name))
    return rows


# Byte methods on labelled nodes, the shape of a renderer's graph: 10^5
# nodes (at full size), each with a label, a size and a colour, a third with
# show_label and a fifth with a url; about 111 bytes a node in the byte form.
# "loose" is the same records in texts as another writer might produce them
# (whitespace, keys in another order, \u escapes, an unknown key with a
# nested value), which the reader takes through its general path.

_WORDS = ("alpha", "beta", "gamma", "delta", "epsilon", "zeta", "theta", "kappa")


def labelled_nodes(count):
    nodes = {}
    for index, node_id in enumerate(make_ids(count, salt=15)):
        update = {
            "label": f"{_WORDS[index % len(_WORDS)]} {index}",
            "size": 1 + (index % 90) / 10,
            "red": index * 7 % 256,
            "green": index * 13 % 256,
            "blue": index * 29 % 256,
        }
        if index % 10 < 3:
            update["show_label"] = index % 2 == 0
        if index % 5 == 0:
            update["url"] = f"https://example.org/node/{index}"
        nodes[node_id] = update
    return nodes


def loose_text(update):
    def string(text):
        # Every space as an escape, and the first letter too.
        return '"' + "".join(
            f"\\u{ord(c):04X}" if position == 0 or c == " " else c
            for position, c in enumerate(text)
        ) + '"'

    members = [f'"extra" : {{ "tags" : [ 1, "two", null, {{ "x" : -0.5e1 }} ] }}']
    for key, json_key in (("show_label", "showLabel"), ("blue", "blue"), ("green", "green"),
                          ("red", "red"), ("url", "url"), ("size", "size"), ("label", "label")):
        if key in update:
            value = update[key]
            if isinstance(value, str):
                value = string(value)
            elif isinstance(value, bool):
                value = "true" if value else "false"
            members.append(f'\t"{json_key}" :  {value}')
    return "{ " + " ,\r\n".join(members) + " }\n"


def loose_bytes(nodes):
    count = struct.Struct("<Q")
    parts = [count.pack(len(nodes))]
    for node_id, update in nodes.items():
        text = loose_text(update).encode()
        parts += [count.pack(16), node_id, count.pack(len(text)), text]
    return b"".join(parts) + bytes(24)


def bench_node_bytes(count, repeats):
    nodes = labelled_nodes(count)
    module = PyGraphDiff()
    pure = PureGraphDiff()
    for diff in (module, pure):
        for node_id, update in nodes.items():
            diff.add_node(node_id, update)
    data = module.to_bytes()
    loose = loose_bytes(nodes)
    if PyGraphDiff.from_bytes(loose).new_or_updated_nodes() != module.new_or_updated_nodes():
        raise AssertionError("the loose texts do not hold the same records")
    # In CPU time, as for the bulk methods: the shared machines' other work
    # otherwise enters the wall times of these runs.
    few = max(1, repeats // 2)
    copy_time = cpu_best_of(repeats, lambda _, buffer=bytearray(data): bytes(buffer))
    loose_copy_time = cpu_best_of(repeats, lambda _, buffer=bytearray(loose): bytes(buffer))
    name = f"copy {len(data):,} bytes"
    return [
        Row("to_bytes, labelled nodes", count, cpu_best_of(repeats, lambda _: module.to_bytes()),
            cpu_best_of(few, lambda _: pure.to_bytes()), copy_time, name),
        Row("from_bytes, labelled nodes", count,
            cpu_best_of(repeats, lambda _: PyGraphDiff.from_bytes(data)),
            cpu_best_of(few, lambda _: PureGraphDiff.from_bytes(data)), copy_time, name),
        Row("from_bytes, labelled nodes, loose texts", count,
            cpu_best_of(repeats, lambda _: PyGraphDiff.from_bytes(loose)),
            cpu_best_of(few, lambda _: PureGraphDiff.from_bytes(loose)), loose_copy_time,
            f"copy {len(loose):,} bytes"),
    ]


# Memory: resident memory per recorded edge and per node, measured in a
# child process so that nothing else of this run is counted.

_MEMORY_CHILD = r"""
import gc, os, sys
from quorl_api import PyGraphDiff

def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

kind, count = sys.argv[1], int(sys.argv[2])
diff = PyGraphDiff()
if kind.startswith("edges"):
    per_source = 100
    targets = [(1 << 120 | i).to_bytes(16, "little") for i in range(per_source)]
    gc.collect(); before = rss()
    for s in range(count // per_source):
        source = s.to_bytes(16, "little")
        for target in targets:
            diff.add_edge(source, target, 1.0)
    if kind == "edges+index":
        # Deletions scan until they have cost as much as building the index.
        for n in range(200):
            diff.delete_node((2 << 120 | n).to_bytes(16, "little"))
else:
    gc.collect(); before = rss()
    for n in range(count):
        diff.add_node(n.to_bytes(16, "little"), {"label": "abcdefghij"})
gc.collect()
print((rss() - before) / count)
"""


def memory_probe(size):
    results = {}
    for kind in ("edges", "edges+index", "nodes"):
        output = subprocess.run(
            [sys.executable, "-c", _MEMORY_CHILD, kind, str(size)],
            check=True,
            capture_output=True,
            text=True,
        ).stdout
        results[kind] = float(output)
    return results


# delete_node scaling: the cost of deleting 1 000 nodes next to S unrelated
# sources must not grow with S (once the diff has its index: building it is
# one pass over the edges, paid once).


def scaling_probe(repeats, unrelated_counts):
    victims = make_ids(1000, salt=9)
    feeders = make_ids(100, salt=10)
    results = {}
    for unrelated in unrelated_counts:
        others = make_ids(unrelated, salt=11)
        other_target = make_ids(1, salt=12)[0]

        def make():
            diff = PyGraphDiff()
            for source in others:
                diff.add_edge(source, other_target, 1.0)
            for index, victim in enumerate(victims):
                for k in range(3):
                    diff.add_edge(feeders[(index + k) % 100], victim, 1.0)
            # Deletions scan every source until the scans have cost as much
            # as building the index of sources by target; the probe measures
            # the diff once it has the index.
            for absent in make_ids(8, salt=13):
                diff.delete_node(absent)
            return diff

        def delete(diff):
            for victim in victims:
                diff.delete_node(victim)

        results[unrelated] = best_of(repeats, delete, make)
    return results


# Bulk methods: 10^6 edges over 10^5 sources (at full size), in an order
# that interleaves the sources, beside the per-call loop of the module and
# of the pure-Python equivalent.


def bulk_edges(size, grouped):
    nodes = make_ids(size // 10, salt=14)
    count = len(nodes)
    source_of = (lambda index: index // 10) if grouped else (lambda index: index % count)
    round_of = (lambda index: index % 10) if grouped else (lambda index: index // count)
    sources = [nodes[source_of(index)] for index in range(size)]
    # The ten targets of one source differ: ten distinct pairs per source.
    targets = [
        nodes[(round_of(index) * 7919 + source_of(index) * 31 + 7) % count] for index in range(size)
    ]
    weights = [float(index % 1000) / 8 for index in range(size)]
    return nodes, sources, targets, weights


@dataclasses.dataclass
class BulkRow:
    figure: str
    items: int
    bulk: float
    loop: float | None
    pure: float | None
    floor: float | None = None
    floor_name: str = ""

    def cells(self):
        def ratio(baseline):
            return "" if baseline is None else f"{baseline / self.bulk:,.1f}x"

        return [
            self.figure,
            f"{self.bulk / self.items * 1e9:,.1f} ns",
            ratio(self.loop),
            ratio(self.pure),
            "" if self.floor is None else f"{self.bulk / self.floor:,.2f}x {self.floor_name}",
        ]


def cpu_best_of(repeats, run, setup=None):
    """best_of in the process's CPU time: runs over a million edges last long
    enough for the other work of a shared machine to enter wall times."""
    return best_of(repeats, run, setup, clock=time.process_time)


def bench_bulk(size, repeats):
    few = max(1, repeats // 2)
    rows = []
    for grouped in (False, True):
        nodes, sources, targets, weights = bulk_edges(size, grouped)
        source_buffer = b"".join(sources)
        target_buffer = b"".join(targets)
        weight_buffer = array.array("f", weights)
        order = "grouped by source" if grouped else "sources interleaved"

        def loop(diff):
            add = diff.add_edge
            for source, target, weight in zip(sources, targets, weights):
                add(source, target, weight)

        module_loop = cpu_best_of(repeats, loop, PyGraphDiff)
        pure_loop = cpu_best_of(few, loop, PureGraphDiff)
        rows.append(
            BulkRow(
                f"`add_edges`, three buffers, {order}",
                size,
                cpu_best_of(
                    repeats,
                    lambda d: d.add_edges(source_buffer, target_buffer, weight_buffer),
                    PyGraphDiff,
                ),
                module_loop,
                pure_loop,
            )
        )
        rows.append(
            BulkRow(
                f"`add_edges`, lists of bytes and floats, {order}",
                size,
                cpu_best_of(repeats, lambda d: d.add_edges(sources, targets, weights), PyGraphDiff),
                module_loop,
                pure_loop,
            )
        )

    def filled(cls):
        def make():
            diff = cls()
            if cls is PyGraphDiff:
                diff.add_edges(source_buffer, target_buffer, weight_buffer)
            else:
                loop(diff)
            return diff

        return make

    full = filled(PyGraphDiff)()
    copied = bytearray(36 * size)
    rows.append(
        BulkRow(
            "`new_or_updated_edge_arrays()`",
            size,
            cpu_best_of(repeats, lambda _: full.new_or_updated_edge_arrays()),
            None,
            None,
            cpu_best_of(repeats, lambda _: bytes(copied)),
            f"copy of {len(copied):,} bytes",
        )
    )

    # delete_nodes of a tenth of the nodes, each with about ten incoming
    # edges, on that diff as add_edges left it. (The pure-Python loop scans
    # every source per deletion: too slow to time here.)
    victims = nodes[: size // 100]
    victim_buffer = b"".join(victims)

    def delete_loop(diff):
        delete = diff.delete_node
        for victim in victims:
            delete(victim)

    rows.append(
        BulkRow(
            f"`delete_nodes` of {len(victims):,} ids",
            len(victims),
            cpu_best_of(few, lambda d: d.delete_nodes(victim_buffer), filled(PyGraphDiff)),
            cpu_best_of(few, delete_loop, filled(PyGraphDiff)),
            None,
        )
    )
    return rows


# merge and pickling, on a diff of `edges` edges over `sources` sources and
# `nodes` labelled nodes, beside decoding the same diff's bytes.


def merge_input(edges, sources, nodes, salt):
    source_ids = make_ids(sources, salt=salt)
    target_ids = make_ids(sources, salt=salt + 1)
    diff = PyGraphDiff()
    per_source = edges // sources
    diff.add_edges(
        b"".join(source for source in source_ids for _ in range(per_source)),
        b"".join(target_ids[(index * 7 + step) % sources] for index in range(sources) for step in range(per_source)),
        array.array("f", [0.5] * (per_source * sources)),
    )
    node_ids = (source_ids + target_ids)[:nodes]
    diff.add_nodes(node_ids, [{"label": f"node {index}", "red": index % 256} for index in range(nodes)])
    return diff


def replay_readings(diff, other):
    for node in other.deleted_nodes():
        diff.delete_node(bytes.fromhex(node.replace("-", "")))
    for source, targets in other.deleted_edges().items():
        for target in targets:
            diff.delete_edge(bytes.fromhex(source.replace("-", "")), bytes.fromhex(target.replace("-", "")))
    for node, record in other.new_or_updated_nodes().items():
        diff.add_node(bytes.fromhex(node.replace("-", "")), record)
    for source, targets in other.new_or_updated_edges().items():
        source_id = bytes.fromhex(source.replace("-", ""))
        for target, weight in targets.items():
            diff.add_edge(source_id, bytes.fromhex(target.replace("-", "")), weight)


def bench_merge(edges, sources, nodes, repeats):
    """(figure, seconds, baseline name, baseline seconds, target) rows."""
    import pickle

    other = merge_input(edges, sources, nodes, salt=11)
    data = other.to_bytes()
    equal_bytes = merge_input(edges, sources, nodes, salt=21).to_bytes()
    decode = cpu_best_of(repeats, lambda _: PyGraphDiff.from_bytes(data))
    encode = cpu_best_of(repeats, lambda _: other.to_bytes())

    def out_of_band(_):
        buffers = []
        payload = pickle.dumps(other, protocol=5, buffer_callback=buffers.append)
        pickle.loads(payload, buffers=buffers)

    def in_band(_):
        pickle.loads(pickle.dumps(other, protocol=5))

    return [
        ("`merge` into an empty diff", cpu_best_of(repeats, lambda d: d.merge(other), PyGraphDiff),
         "`from_bytes` of the other's bytes", decode, "≤ 1.5x"),
        ("`merge` into a diff of equal size with other ids",
         cpu_best_of(repeats, lambda d: d.merge(other), lambda: PyGraphDiff.from_bytes(equal_bytes)),
         "`from_bytes` of the other's bytes", decode, "≤ 2.5x"),
        ("replaying the other's readings in Python",
         cpu_best_of(1, lambda d: replay_readings(d, other), PyGraphDiff),
         "`merge` into an empty diff", cpu_best_of(repeats, lambda d: d.merge(other), PyGraphDiff),
         "≥ 50x"),
        ("pickle round trip, protocol 5, buffers out of band", cpu_best_of(repeats, out_of_band),
         "`to_bytes` + `from_bytes`", encode + decode, "≤ 1.3x"),
        ("pickle round trip, protocol 5, in band", cpu_best_of(repeats, in_band),
         "`to_bytes` + `from_bytes`", encode + decode, ""),
    ]


def merge_table(rows):
    lines = ["| figure | time | ÷ baseline | baseline | target |", "|---|---|---|---|---|"]
    for figure, seconds, baseline, base_seconds, target in rows:
        lines.append(f"| {figure} | {seconds * 1e3:,.1f} ms | {seconds / base_seconds:.2f}x | {baseline} | {target} |")
    return "\n".join(lines)


BULK_HEADER = ["figure", "bulk, per item", "loop ÷ bulk", "pure-Python loop ÷ bulk", "bulk ÷ floor"]


def markdown_table(rows, header=("method", "module, per call", "pure Python ÷ module",
                                 "module ÷ floor", "floor")):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(row.cells()) + " |" for row in rows]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    parser.add_argument("--bulk-only", action="store_true", help="only the bulk methods")
    parser.add_argument("--bytes-only", action="store_true", help="only the byte methods")
    parser.add_argument("--merge-only", action="store_true", help="only merge and pickling")
    args = parser.parse_args()
    size = 20_000 if args.quick else 1_000_000
    edit_size = 10_000 if args.quick else 200_000
    repeats = 2 if args.quick else 5

    print(f"{platform.python_implementation()} {platform.python_version()} on {platform.machine()}")
    print()
    node_count = size // 10
    if args.bytes_only:
        print(markdown_table(bench_bytes(size, repeats) + bench_edge_shapes(size // 2, repeats)
                             + bench_node_bytes(node_count, repeats)))
        return
    if not args.bulk_only:
        merge_sizes = (20_000, 2_000, 1_000) if args.quick else (500_000, 50_000, 20_000)
        print(merge_table(bench_merge(*merge_sizes, repeats)))
        print()
        if args.merge_only:
            return
    print(markdown_table(bench_bulk(size, repeats), BULK_HEADER))
    print()
    if args.bulk_only:
        return
    rows = bench_editing(edit_size, repeats)
    rows += bench_reading(edit_size, repeats)
    rows += bench_bytes(size, repeats)
    rows += bench_edge_shapes(size // 2, repeats)
    rows += bench_node_bytes(node_count, repeats)
    print(markdown_table(rows))
    print()
    memory = memory_probe(size)
    print(
        f"Memory: {memory['edges']:.1f} bytes per edge ({size:,} edges over {size // 100:,} sources), "
        f"{memory['edges+index']:.1f} with the delete_node index, "
        f"{memory['nodes']:.1f} bytes per node with a 10-character label"
    )
    counts = (1_000, 10_000) if args.quick else (1_000, 10_000, 100_000)
    scaling = scaling_probe(repeats, counts)
    base = scaling[counts[0]]
    print(
        "delete_node of 1,000 nodes next to S unrelated sources: "
        + ", ".join(f"S={s:,}: {t * 1e3:.2f} ms ({t / base:.2f}x)" for s, t in scaling.items())
    )


if __name__ == "__main__":
    main()
