"""merge against replaying the other diff through the single methods, and
pickling and copying as an exact round trip of the byte form."""

import copy
import json
import pickle
import struct
import uuid

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quorl_api import PyGraphDiff
from test_bulk import replay as recorded

IDS = [bytes([index]) * 16 for index in range(5)]
ids = st.sampled_from(IDS)
float32s = st.floats(width=32, allow_nan=False)
updates = st.fixed_dictionaries(
    {},
    optional={
        "label": st.sampled_from(["", "a", "b"]),
        # The byte form writes an infinite size as null, which reads back absent.
        "size": st.floats(width=32, allow_nan=False, allow_infinity=False),
        "red": st.integers(0, 255),
        "show_label": st.booleans(),
    },
)
edits = st.one_of(
    st.tuples(st.just("add_node"), ids, updates),
    st.tuples(st.just("delete_node"), ids),
    st.tuples(st.just("add_edge"), ids, ids, float32s),
    st.tuples(st.just("delete_edge"), ids, ids),
)
histories = st.lists(edits, max_size=25)
additions = st.lists(
    st.one_of(st.tuples(st.just("add_node"), ids, updates), st.tuples(st.just("add_edge"), ids, ids, float32s)),
    max_size=12,
)


def replay(diff, other):
    """What merge must do, through the single methods and other's readings."""
    for node in other.deleted_nodes():
        diff.delete_node(uuid.UUID(node).bytes)
    for source, targets in other.deleted_edges().items():
        for target in targets:
            diff.delete_edge(uuid.UUID(source).bytes, uuid.UUID(target).bytes)
    for node, record in other.new_or_updated_nodes().items():
        diff.add_node(uuid.UUID(node).bytes, record)
    for source, targets in other.new_or_updated_edges().items():
        for target, weight in targets.items():
            diff.add_edge(uuid.UUID(source).bytes, uuid.UUID(target).bytes, weight)


def encoded(nodes=(), deleted=(), edges=(), deleted_edges=()):
    """A byte form written entry by entry, repeats and contradictions kept."""
    count = lambda items: struct.pack("<Q", len(items))  # noqa: E731
    node_id = lambda node: struct.pack("<Q", 16) + node  # noqa: E731
    parts = [count(nodes)]
    for node, record in nodes:
        text = json.dumps(record, separators=(",", ":")).encode()
        parts += [node_id(node), struct.pack("<Q", len(text)), text]
    parts += [count(deleted)] + [node_id(node) for node in deleted]
    parts.append(count(edges))
    for source, targets in edges:
        parts += [node_id(source), count(targets)]
        parts += [node_id(target) + struct.pack("<f", weight) for target, weight in targets]
    parts.append(count(deleted_edges))
    for source, targets in deleted_edges:
        parts += [node_id(source), count(targets)] + [node_id(target) for target in targets]
    return b"".join(parts)


node_texts = st.fixed_dictionaries({}, optional={"label": st.sampled_from(["a", "b"]), "red": st.integers(0, 255)})
groups = lambda value: st.lists(st.tuples(ids, st.lists(value, max_size=3)), max_size=4)  # noqa: E731
contradicting = st.builds(
    encoded,
    nodes=st.lists(st.tuples(ids, node_texts), max_size=4),
    deleted=st.lists(ids, max_size=3),
    edges=groups(st.tuples(ids, float32s)),
    deleted_edges=groups(ids),
).map(PyGraphDiff.from_bytes)
diffs = st.one_of(histories.map(recorded), contradicting)


@settings(max_examples=400, deadline=None)
@given(diffs, diffs)
def test_merge_lists_exactly_what_the_replay_lists(first, second):
    start, other_bytes = first.to_bytes(), second.to_bytes()
    replayed = PyGraphDiff.from_bytes(start)
    replay(replayed, second)
    assert first.merge(second) is None
    assert first.to_bytes() == replayed.to_bytes()
    assert second.to_bytes() == other_bytes


@settings(max_examples=100, deadline=None)
@given(diffs)
def test_merging_a_diff_into_itself_merges_a_copy(diff):
    expected = PyGraphDiff.from_bytes(diff.to_bytes())
    expected.merge(PyGraphDiff.from_bytes(diff.to_bytes()))
    diff.merge(diff)
    assert diff.to_bytes() == expected.to_bytes()


def merge_tree(parts, shape):
    """Merges parts[0..n) in order, split where `shape` says."""
    if len(parts) == 1:
        return PyGraphDiff.from_bytes(parts[0].to_bytes())
    middle = 1 + shape.draw(st.integers(0, len(parts) - 2))
    left = merge_tree(parts[:middle], shape)
    left.merge(merge_tree(parts[middle:], shape))
    return left


@settings(max_examples=150, deadline=None)
@given(st.lists(additions.map(recorded), min_size=1, max_size=6), st.data())
def test_without_deletions_every_tree_of_merges_gives_the_left_fold(parts, shape):
    folded = PyGraphDiff()
    for part in parts:
        folded.merge(part)
    assert merge_tree(parts, shape).to_bytes() == folded.to_bytes()


@pytest.mark.parametrize(
    ("other", "name"), [(None, "NoneType"), (b"", "bytes"), (PyGraphDiff, "type"), (3, "int")]
)
def test_merge_takes_only_a_diff(other, name):
    diff = recorded([("add_edge", IDS[0], IDS[1], 1.0)])
    before = diff.to_bytes()
    with pytest.raises(TypeError) as info:
        diff.merge(other=other)
    assert type(info.value) is TypeError
    assert str(info.value) == f"argument 'other': '{name}' object cannot be converted to 'PyGraphDiff'"
    assert diff.to_bytes() == before


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda d: d.merge(), "PyGraphDiff.merge() missing 1 required positional argument: 'other'"),
        (lambda d: d.merge(d, d), "PyGraphDiff.merge() takes 1 positional arguments but 2 were given"),
        (lambda d: d.merge(d, other=d), "PyGraphDiff.merge() got multiple values for argument 'other'"),
        (lambda d: d.merge(diff=d), "PyGraphDiff.merge() got an unexpected keyword argument 'diff'"),
    ],
)
def test_merge_binding(call, message):
    with pytest.raises(TypeError) as info:
        call(PyGraphDiff())
    assert str(info.value) == message


SAMPLE = [
    ("add_node", IDS[0], {"label": "kept", "size": 0.1, "show_label": True}),
    ("add_edge", IDS[0], IDS[1], 0.25),
    ("add_edge", IDS[2], IDS[1], 2.0),
    ("delete_node", IDS[3]),
    ("delete_edge", IDS[1], IDS[0]),
]
COPIERS = {
    **{
        f"pickle-{protocol}": lambda d, protocol=protocol: pickle.loads(pickle.dumps(d, protocol=protocol))
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1)
    },
    "pickle-5-out-of-band": lambda d: out_of_band_round_trip(d),
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
    "deepcopy-in-a-list": lambda d: copy.deepcopy([d, d])[1],
}


def out_of_band_round_trip(diff, into=bytes):
    buffers = []
    data = pickle.dumps(diff, protocol=5, buffer_callback=buffers.append)
    assert len(buffers) == 1 and len(data) < 100
    return pickle.loads(data, buffers=[into(buffer.raw()) for buffer in buffers])


@pytest.mark.parametrize("copier", COPIERS.values(), ids=COPIERS.keys())
def test_copies_are_independent_and_byte_identical(copier):
    diff = recorded(SAMPLE)
    data = diff.to_bytes()
    copied = copier(diff)
    assert type(copied) is PyGraphDiff and copied is not diff
    assert copied.to_bytes() == data
    copied.add_edge(IDS[4], IDS[4], 1.0)
    diff.clear()
    assert copied.num_edges() == 4 and diff.num_edges() == 0


@pytest.mark.parametrize("into", [bytes, bytearray, memoryview, lambda raw: memoryview(bytes(raw)).cast("B", (len(raw),))])
def test_out_of_band_bytes_rebuild_from_any_buffer(into):
    diff = recorded(SAMPLE)
    assert out_of_band_round_trip(diff, into).to_bytes() == diff.to_bytes()


def test_the_rebuilding_function_refuses_what_is_no_byte_form():
    rebuild = pickle.loads(pickle.dumps(PyGraphDiff()))
    assert rebuild.to_bytes() == bytes(32)
    reconstructor, (payload,) = PyGraphDiff().__reduce_ex__(2)
    assert payload == bytes(32)
    with pytest.raises(TypeError) as info:
        reconstructor(7)
    assert str(info.value) == "argument 'buffer': 'int' object cannot be converted to 'PyBuffer'"
    with pytest.raises(Exception) as info:
        reconstructor(bytearray(31))
    assert str(info.value) == "Failed to deserialize graph diff."
    # from_bytes still takes bytes alone.
    with pytest.raises(TypeError):
        PyGraphDiff.from_bytes(bytearray(32))


def test_size_grows_with_what_the_diff_holds():
    empty = PyGraphDiff().__sizeof__()
    diff = PyGraphDiff()
    diff.add_edges(b"".join(uuid.uuid4().bytes for _ in range(1000)), bytes(16 * 1000), [1.0] * 1000)
    # Each source holds an id, a group and its one target: at least 36 bytes.
    assert diff.__sizeof__() >= empty + 36 * 1000
    assert diff.__sizeof__() < empty + 1000 * 1000
