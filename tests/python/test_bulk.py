"""The bulk methods against the per-item loop, their error forms, and their
all-or-nothing behaviour; the columnar readings against the dictionary
readings."""

import array
import struct
import sys
import uuid

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quorl_api import PyGraphDiff
from test_reentrancy import Hook

try:
    import numpy
except ImportError:  # NumPy is optional; the buffer forms below need none of it
    numpy = None

PYPY = sys.implementation.name == "pypy"
IDS = [bytes([index]) * 15 + b"\x5a" for index in range(6)]
A, B, C = IDS[:3]


def text(node_id):
    return str(uuid.UUID(bytes=node_id))


# ---------------------------------------------------------------------------
# The forms a column can take.


def as_list(ids):
    return list(ids)


def as_tuple(ids):
    return tuple(ids)


def as_bytes(ids):
    return b"".join(ids)


def as_bytearray(ids):
    return bytearray(b"".join(ids))


def as_memoryview(ids):
    return memoryview(b"".join(ids))


def as_numpy_s16(ids):
    return numpy.array(ids, dtype="S16") if ids else numpy.zeros(0, dtype="S16")


def as_numpy_rows(ids):
    return numpy.frombuffer(b"".join(ids), dtype=numpy.uint8).reshape(len(ids), 16)


ID_FORMS = [as_list, as_tuple, as_bytes, as_bytearray, as_memoryview]
def unaligned_float32(weights):
    # float32 items one byte off their alignment: read by copying, not in place.
    return memoryview(bytearray(b"\0" + array.array("f", weights).tobytes()))[1:].cast("f")


WEIGHT_FORMS = [
    list,
    tuple,
    lambda weights: array.array("f", weights),
    lambda weights: memoryview(array.array("d", weights)),
    unaligned_float32,
]
numpy_only = pytest.mark.skipif(numpy is None, reason="NumPy is not installed")
if numpy is not None:
    ID_FORMS += [as_numpy_s16, as_numpy_rows]
    WEIGHT_FORMS += [
        lambda weights: numpy.array(weights, dtype="<f4"),
        lambda weights: numpy.array(weights, dtype=">f8"),
        lambda weights: numpy.array(weights, dtype=">f4"),
    ]


# ---------------------------------------------------------------------------
# Bulk against loop: the same diff, the same bytes, the same readings.

ids = st.sampled_from(IDS)
weights = st.floats(width=32, allow_nan=False)
updates = st.fixed_dictionaries(
    {}, optional={"label": st.sampled_from(["a", "b"]), "red": st.integers(0, 255)}
)
history_steps = st.lists(
    st.one_of(
        st.tuples(st.just("add_edge"), ids, ids, weights),
        st.tuples(st.just("delete_edge"), ids, ids),
        st.tuples(st.just("delete_node"), ids),
        st.tuples(st.just("add_node"), ids, updates),
    ),
    max_size=30,
)


def replay(steps):
    d = PyGraphDiff()
    for name, *arguments in steps:
        getattr(d, name)(*arguments)
    return d


def readings(d):
    return (
        list(d.new_or_updated_nodes().items()),
        d.deleted_nodes(),
        [(source, list(targets.items())) for source, targets in d.new_or_updated_edges().items()],
        list(d.deleted_edges().items()),
        d.num_nodes(),
        d.num_edges(),
        d.new_or_updated_edge_arrays(),
        d.deleted_edge_arrays(),
        d.deleted_node_ids(),
        d.to_bytes(),
    )


@settings(max_examples=150, deadline=None)
@given(
    history=history_steps,
    batch=st.lists(st.tuples(ids, ids, weights, updates), max_size=40),
    method=st.sampled_from(["add_edges", "delete_edges", "delete_nodes", "add_nodes"]),
    id_form=st.sampled_from(ID_FORMS),
    weight_form=st.sampled_from(WEIGHT_FORMS),
)
def test_bulk_call_equals_the_per_item_loop(history, batch, method, id_form, weight_form):
    looped, bulked = replay(history), replay(history)
    first = [item[0] for item in batch]
    second = [item[1] for item in batch]
    if method == "add_edges":
        before = set(looped.deleted_nodes())
        expected = sum(text(s) not in before and text(t) not in before for s, t in zip(first, second))
        for source, target, weight, _ in batch:
            looped.add_edge(source, target, weight)
        column = [item[2] for item in batch]
        assert bulked.add_edges(id_form(first), id_form(second), weight_form(column)) == expected
    elif method == "delete_edges":
        for source, target, _, _ in batch:
            looped.delete_edge(source, target)
        assert bulked.delete_edges(id_form(first), id_form(second)) is None
    elif method == "delete_nodes":
        for node in first:
            looped.delete_node(node)
        assert bulked.delete_nodes(id_form(first)) is None
    else:
        for node, _, _, update in batch:
            looped.add_node(node, update)
        assert bulked.add_nodes(id_form(first), [item[3] for item in batch]) is None
    assert readings(bulked) == readings(looped)


@settings(max_examples=100, deadline=None)
@given(history=history_steps)
def test_columnar_readings_list_like_the_dictionary_readings(history):
    d = replay(history)
    sources, targets, weights_bytes = d.new_or_updated_edge_arrays()
    pairs = [
        (source, target, weight)
        for source, inner in d.new_or_updated_edges().items()
        for target, weight in inner.items()
    ]
    assert len(sources) == len(targets) == 16 * len(pairs) and len(weights_bytes) == 4 * len(pairs)
    unpacked = struct.unpack(f"<{len(pairs)}f", weights_bytes)
    assert [
        (text(sources[i * 16 : i * 16 + 16]), text(targets[i * 16 : i * 16 + 16]), unpacked[i])
        for i in range(len(pairs))
    ] == pairs

    deleted_sources, deleted_targets = d.deleted_edge_arrays()
    assert [
        (text(deleted_sources[i : i + 16]), text(deleted_targets[i : i + 16]))
        for i in range(0, len(deleted_sources), 16)
    ] == [(source, target) for source, inner in d.deleted_edges().items() for target in inner]

    ids_bytes = d.deleted_node_ids()
    assert [text(ids_bytes[i : i + 16]) for i in range(0, len(ids_bytes), 16)] == d.deleted_nodes()


@numpy_only
def test_columnar_readings_feed_numpy():
    d = PyGraphDiff()
    d.add_edges(numpy.array([A, B], dtype="S16"), numpy.array([B, C], dtype="S16"), [0.5, 2])
    sources, targets, weights_bytes = d.new_or_updated_edge_arrays()
    got = sorted(zip(numpy.frombuffer(sources, "S16"), numpy.frombuffer(targets, "S16"),
                     numpy.frombuffer(weights_bytes, "<f4").tolist()))
    assert got == [(A, B, 0.5), (B, C, 2.0)]


# ---------------------------------------------------------------------------
# Errors: each leaves the diff as it was and the borrow free.


class Raises:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error


BAD_ID_CASES = [
    pytest.param(b"short", Exception, "Expected 16 bytes.", id="short bytes"),
    pytest.param("x" * 16, TypeError, "'str' object cannot be converted to 'PyBytes'", id="str"),
    pytest.param(bytearray(16), TypeError, "'bytearray' object cannot be converted to 'PyBytes'",
                 id="bytearray item"),
]


def calls_with_bad_item(position, bad):
    """Every method and column with a bad item at `position` of three."""
    good = [A, B, C]
    column = good[:position] + [bad] + good[position + 1 :]
    return {
        "add_edges sources": (lambda d: d.add_edges(column, good, [1.0] * 3), "sources"),
        "add_edges targets": (lambda d: d.add_edges(good, column, [1.0] * 3), "targets"),
        "delete_edges sources": (lambda d: d.delete_edges(column, good), "sources"),
        "delete_edges targets": (lambda d: d.delete_edges(good, column), "targets"),
        "delete_nodes": (lambda d: d.delete_nodes(column), "ids"),
        "add_nodes": (lambda d: d.add_nodes(column, [{}] * 3), "ids"),
    }


def busy_diff():
    d = PyGraphDiff()
    d.add_edge(A, B, 1.0)
    d.add_edge(C, A, 2.0)
    d.delete_edge(B, C)
    d.add_node(A, {"label": "a"})
    d.delete_node(IDS[5])
    return d


def fails_cleanly(call, exception):
    d = busy_diff()
    before = d.to_bytes()
    with pytest.raises(exception) as raised:
        call(d)
    assert d.to_bytes() == before
    d.clear()  # the borrow was given back
    return raised.value


@pytest.mark.parametrize("position", [0, 1, 2], ids=["first", "middle", "last"])
@pytest.mark.parametrize(("bad", "cause_type", "cause_text"), BAD_ID_CASES)
def test_bad_id_item_names_parameter_and_index(position, bad, cause_type, cause_text):
    for name, (call, parameter) in calls_with_bad_item(position, bad).items():
        error = fails_cleanly(call, TypeError)
        assert type(error) is TypeError, name
        assert str(error) == f"argument '{parameter}': item {position}: failed to extract field PyUuid.0"
        assert type(error.__cause__) is cause_type and str(error.__cause__) == cause_text


@pytest.mark.parametrize("position", [0, 1, 2], ids=["first", "middle", "last"])
@pytest.mark.parametrize(
    ("bad", "error_type", "text", "cause"),
    [
        ("x", TypeError, "must be real number, not str", None),
        (2**1100, OverflowError, "int too large to convert to float", OverflowError),
        (Raises(ValueError("mine")), ValueError, "mine", ValueError),
    ],
    ids=["str", "huge int", "raising __float__"],
)
def test_bad_weight_item_keeps_the_single_call_class(position, bad, error_type, text, cause):
    column = [1.0, 2.0, 3.0]
    column[position] = bad
    error = fails_cleanly(lambda d: d.add_edges([A, B, C], [B, C, A], column), error_type)
    assert type(error) is error_type
    assert str(error).startswith(f"argument 'weights': item {position}: ")
    if error_type is TypeError:
        assert str(error).endswith(text) and error.__cause__ is None
    else:
        assert str(error) == f"argument 'weights': item {position}: {text}"
        assert type(error.__cause__) is cause


@pytest.mark.parametrize("position", [0, 1, 2], ids=["first", "middle", "last"])
@pytest.mark.parametrize(
    ("bad", "error_type", "message"),
    [
        ([], TypeError, "argument 'updates': item {}: 'list' object cannot be converted to 'PyDict'"),
        ({"red": 256}, OverflowError,
         "argument 'updates': item {}: out of range integral type conversion attempted"),
        ({"label": None}, TypeError,
         "argument 'updates': item {}: 'NoneType' object cannot be converted to 'PyString'"),
    ],
)
def test_bad_update_item(position, bad, error_type, message):
    column = [{"label": "ok"}, {"red": 1}, {}]
    column[position] = bad
    error = fails_cleanly(lambda d: d.add_nodes([A, B, C], column), error_type)
    assert type(error) is error_type and str(error) == message.format(position)


def strided(data):
    return memoryview(data)[::2]


@pytest.mark.parametrize(
    ("call", "error_type", "message"),
    [
        # Lengths: every later column against the first.
        (lambda d: d.add_edges([A, B], [A], [1.0, 2.0]), ValueError,
         "argument 'targets': 1 items where 'sources' has 2"),
        (lambda d: d.add_edges([A], [A], [1.0, 2.0]), ValueError,
         "argument 'weights': 2 items where 'sources' has 1"),
        (lambda d: d.add_edges(A + B, A, array.array("f", [1, 2])), ValueError,
         "argument 'targets': 1 items where 'sources' has 2"),
        (lambda d: d.delete_edges([A], []), ValueError,
         "argument 'targets': 0 items where 'sources' has 1"),
        (lambda d: d.add_nodes([A, B], [{}]), ValueError,
         "argument 'updates': 1 items where 'ids' has 2"),
        (lambda d: d.delete_nodes(A + b"x"), ValueError,
         "argument 'ids': a buffer of 17 bytes is not a whole number of 16-byte ids"),
        # Buffer formats.
        (lambda d: d.add_edges([A], [B], array.array("i", [1])), TypeError,
         "argument 'weights': a buffer of format 'i' holds no float32 ('f') or float64 ('d') items"),
        (lambda d: d.add_edges([A], [B], struct.pack("<f", 1.0)), TypeError,
         "argument 'weights': a buffer of format 'B' holds no float32 ('f') or float64 ('d') items"),
        # Buffers that are not C-contiguous.
        (lambda d: d.delete_nodes(strided(A + A)), BufferError,
         "argument 'ids': the buffer is not C-contiguous"),
        (lambda d: d.add_edges([A], [B], strided(array.array("f", [1, 2, 3]))), BufferError,
         "argument 'weights': the buffer is not C-contiguous"),
        # Neither buffer nor sequence.
        (lambda d: d.delete_nodes(5), TypeError,
         "argument 'ids': 'int' object cannot be converted to 'PySequence'"),
        (lambda d: d.add_edges({A}, [B], [1.0]), TypeError,
         "argument 'sources': 'set' object cannot be converted to 'PySequence'"),
        (lambda d: d.add_nodes(A, {A: {}}), TypeError,
         "argument 'updates': 'dict' object cannot be converted to 'PySequence'"),
        # Updates never come as a buffer: bytes is a sequence of ints.
        (lambda d: d.add_nodes(A * 16, A), TypeError,
         "argument 'updates': item 0: 'int' object cannot be converted to 'PyDict'"),
        # Binding, as for every method.
        (lambda d: d.add_edges([A], [B]), TypeError,
         "PyGraphDiff.add_edges() missing 1 required positional argument: 'weights'"),
        (lambda d: d.delete_nodes([A], ids=[A]), TypeError,
         "PyGraphDiff.delete_nodes() got multiple values for argument 'ids'"),
    ],
)
def test_whole_argument_errors(call, error_type, message):
    error = fails_cleanly(call, error_type)
    assert type(error) is error_type and str(error) == message


@numpy_only
def test_non_contiguous_numpy_columns_are_refused():
    rows = numpy.zeros((4, 16), dtype=numpy.uint8)
    error = fails_cleanly(lambda d: d.delete_nodes(rows[::2]), BufferError)
    assert str(error) == "argument 'ids': the buffer is not C-contiguous"
    error = fails_cleanly(lambda d: d.delete_nodes(rows.T.copy().T), BufferError)
    assert str(error) == "argument 'ids': the buffer is not C-contiguous"


def test_keywords_and_first_failing_column_decides():
    d = PyGraphDiff()
    assert d.add_edges(weights=[1.0], targets=[B], sources=[A]) == 1
    d.add_nodes(updates=[{"label": "x"}], ids=[A])
    assert d.new_or_updated_nodes() == {text(A): {"label": "x"}}
    # sources fails first, even though targets and weights are worse
    with pytest.raises(TypeError, match=r"^argument 'sources': item 0: "):
        d.add_edges([b"x"], 5, None)


def test_refused_edges_are_not_counted():
    d = PyGraphDiff()
    d.delete_node(C)
    assert d.add_edges([A, C, A, B], [B, A, C, A], [1, 2, 3, 4]) == 2
    assert d.new_or_updated_edges() == {text(A): {text(B): 1.0}, text(B): {text(A): 4.0}}


# ---------------------------------------------------------------------------
# Python code that runs during a conversion.


def test_conversion_code_meets_the_borrow_and_cannot_change_what_is_read():
    d = PyGraphDiff()
    sources = bytearray(A + B + C)
    weights = [1.0, None, 3.0]

    def meddle():
        sources[:16] = IDS[4]  # in place: the ids were read before any weight
        weights[2] = 99.0  # the list is read from a copy taken before this ran
        weights.append(5.0)
        d.num_nodes()  # the instance is busy

    hook = Hook(meddle, 2.0)
    weights[1] = hook
    assert d.add_edges(sources, [B, C, A], weights) == 3
    assert [str(error) for error in hook.errors] == ["Already mutably borrowed"]
    assert d.new_or_updated_edges() == {
        text(A): {text(B): 1.0},
        text(B): {text(C): 2.0},
        text(C): {text(A): 3.0},
    }


class Meddling:
    """A sequence, neither list nor tuple, that runs `action` on every read."""

    def __init__(self, items, action):
        self.items = items
        self.action = action

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        self.action()
        return self.items[index]


# Calls whose id buffers `first` and `second` are taken before a later column's
# conversion runs `action`.
LATER_COLUMN_RUNS_CODE = {
    "add_edges: targets a sequence": lambda d, first, second, action: d.add_edges(
        first, Meddling([B, C], action), array.array("f", [1.0, 2.0])
    ),
    "add_edges: weights a sequence": lambda d, first, second, action: d.add_edges(
        first, second, Meddling([1.0, 2.0], action)
    ),
    "add_edges: a weight's __float__": lambda d, first, second, action: d.add_edges(
        first, second, [1.0, Hook(action, 2.0)]
    ),
    "delete_edges: targets a sequence": lambda d, first, second, action: d.delete_edges(
        first, Meddling([B, C], action)
    ),
    "add_nodes: updates a sequence": lambda d, first, second, action: d.add_nodes(
        first, Meddling([{}, {"red": 1}], action)
    ),
    "add_nodes: a size's __float__": lambda d, first, second, action: d.add_nodes(
        first, [{}, {"size": Hook(action, 2.0)}]
    ),
}


@pytest.mark.parametrize(
    "call", LATER_COLUMN_RUNS_CODE.values(), ids=LATER_COLUMN_RUNS_CODE.keys()
)
def test_code_in_a_later_conversion_cannot_change_a_buffer_already_taken(call):
    def outcome(overwrite):
        d = PyGraphDiff()
        first, second = bytearray(A + B), bytearray(C + A)

        def action():
            if overwrite:
                first[:] = second[:] = b"\xee" * 32

        call(d, first, second, action)
        return readings(d)

    assert outcome(overwrite=True) == outcome(overwrite=False)


@pytest.mark.skipif(
    PYPY, reason="PyPy's C-API layer decides itself whether an exported bytearray may resize"
)
def test_columns_stay_exported_while_conversion_code_runs():
    d = PyGraphDiff()
    sources = bytearray(A)
    hook = Hook(lambda: sources.extend(b"x"))
    d.add_edges(sources, [B], [hook])
    assert [type(error) for error in hook.errors] == [BufferError]
    sources.extend(b"x")  # released when the call ended


@pytest.mark.parametrize("outcome", ["success", "failure"])
def test_buffers_are_released_on_every_way_out(outcome):
    d = PyGraphDiff()
    sources, targets = bytearray(A), bytearray(B)
    weights = array.array("f", [1.0] if outcome == "success" else [1.0, 2.0])
    try:
        d.add_edges(sources, targets, weights)
    except ValueError:
        assert outcome == "failure"
    # Each raises BufferError while an export is held.
    sources.extend(b"x")
    targets.extend(b"x")
    weights.append(3.0)
