"""Arrow columns into the bulk methods and the diff's readings out as Arrow
tables: against the per-call loop and the dictionary readings, their
refusals, their lifetimes, and malformed C structures handed in by hand."""

import gc
import struct
import subprocess
import sys
import uuid
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import arrow_capsules as capsules
from quorl_api import PyGraphDiff
from test_bulk import IDS, busy_diff, fails_cleanly, history_steps, readings, replay

try:
    import pyarrow as pa
except ImportError:  # CPython CI installs it; elsewhere these tests skip
    pa = None
try:
    import polars as pl
except ImportError:
    pl = None

needs_pyarrow = pytest.mark.skipif(pa is None, reason="pyarrow is not installed")
needs_polars = pytest.mark.skipif(pa is None or pl is None, reason="polars is not installed")
needs_ctypes_capsules = pytest.mark.skipif(
    not capsules.AVAILABLE, reason="capsules are made through ctypes.pythonapi (CPython)"
)
A, B, C = IDS[:3]


def text(node_id):
    return str(uuid.UUID(bytes=node_id))


# ---------------------------------------------------------------------------
# Columns in: every form against the per-call loop.


def chunked(array):
    """The items in three chunks, one of them empty, each with an offset."""
    third = len(array) // 3
    return pa.chunked_array([array[:third], array[third:third], array[third:]], type=array.type)


def sliced(make):
    """The items as a slice of a longer array: its offset must be honoured."""
    return lambda items: make([items[0] if items else b"\0" * 16] * 3 + items + items[:1])[3:3 + len(items)]


def scattered_views(ids):
    """binary_view items that lie in reverse order: copied, not viewed."""
    views = b"".join(struct.pack("<i4sii", 16, node[:4], 0, (len(ids) - 1 - index) * 16)
                     for index, node in enumerate(ids))
    buffers = [None, pa.py_buffer(views), pa.py_buffer(b"".join(reversed(ids)))]
    return pa.Array.from_buffers(pa.binary_view(), len(ids), buffers)


if pa is not None:
    ID_FORMS = {
        "fixed_size_binary": lambda ids: pa.array(ids, pa.binary(16)),
        "uuid": lambda ids: pa.ExtensionArray.from_storage(pa.uuid(), pa.array(ids, pa.binary(16))),
        "binary": lambda ids: pa.array(ids, pa.binary()),
        "large_binary": lambda ids: pa.array(ids, pa.large_binary()),
        "binary_view": lambda ids: pa.array(ids, pa.binary_view()),
        "sliced fixed": sliced(lambda ids: pa.array(ids, pa.binary(16))),
        "sliced binary_view": sliced(lambda ids: pa.array(ids, pa.binary_view())),
        "scattered binary_view": scattered_views,
        "chunked fixed": lambda ids: chunked(pa.array(ids, pa.binary(16))),
        "chunked binary": lambda ids: chunked(pa.array(ids, pa.binary())),
        "one-column table": lambda ids: pa.table({"id": pa.array(ids, pa.binary(16))}),
    }
    WEIGHT_FORMS = {
        "float32": lambda weights: pa.array(weights, pa.float32()),
        "float64": lambda weights: pa.array(weights, pa.float64()),
        "sliced float32": lambda weights: pa.array([0.0] + weights, pa.float32())[1:],
        "chunked float64": lambda weights: chunked(pa.array(weights, pa.float64())),
    }
    if pl is not None:
        ID_FORMS["polars Binary"] = lambda ids: pl.Series(ids, dtype=pl.Binary)
        WEIGHT_FORMS["polars Float32"] = lambda weights: pl.Series(weights, dtype=pl.Float32)
else:
    ID_FORMS = WEIGHT_FORMS = {"none": None}


@needs_pyarrow
@settings(max_examples=150, deadline=None)
@given(
    history=history_steps,
    batch=st.lists(st.tuples(st.sampled_from(IDS), st.sampled_from(IDS), st.floats(width=32, allow_nan=False)), max_size=30),
    method=st.sampled_from(["add_edges", "delete_edges", "delete_nodes", "add_nodes"]),
    id_form=st.sampled_from(sorted(ID_FORMS)),
    weight_form=st.sampled_from(sorted(WEIGHT_FORMS)),
)
def test_arrow_columns_equal_the_per_item_loop(history, batch, method, id_form, weight_form):
    looped, bulked = replay(history), replay(history)
    ids = ID_FORMS[id_form]
    sources, targets, weights = ([item[i] for item in batch] for i in range(3))
    if method == "add_edges":
        for source, target, weight in batch:
            looped.add_edge(source, target, weight)
        bulked.add_edges(ids(sources), ids(targets), WEIGHT_FORMS[weight_form](weights))
    elif method == "delete_edges":
        for source, target, _ in batch:
            looped.delete_edge(source, target)
        bulked.delete_edges(ids(sources), ids(targets))
    elif method == "delete_nodes":
        for node in sources:
            looped.delete_node(node)
        bulked.delete_nodes(ids(sources))
    else:
        for node in sources:
            looped.add_node(node, {"label": "x"})
        bulked.add_nodes(ids(sources), [{"label": "x"}] * len(sources))
    assert readings(bulked) == readings(looped)


# Attribute columns: each key with the Arrow types it may come in.
ATTRIBUTE_VALUES = {
    "label": st.text(st.characters(blacklist_categories=["Cs"]), max_size=20),
    "url": st.text(st.characters(blacklist_categories=["Cs"]), max_size=3),
    "size": st.floats(width=32),
    "red": st.integers(0, 255),
    "green": st.integers(0, 255),
    "blue": st.integers(0, 255),
    "show_label": st.booleans(),
}
if pa is not None:
    ATTRIBUTE_TYPES = {
        "label": [pa.utf8(), pa.large_utf8(), pa.string_view()],
        "url": [pa.utf8(), pa.string_view()],
        "size": [pa.float32(), pa.float64()],
        "red": [pa.uint8(), pa.int64(), pa.uint64()],
        "green": [pa.int16(), pa.uint32()],
        "blue": [pa.int32(), pa.uint16()],
        "show_label": [pa.bool_()],
    }

rows = st.lists(
    st.fixed_dictionaries({}, optional={key: values | st.none() for key, values in ATTRIBUTE_VALUES.items()}),
    max_size=25,
)


@needs_pyarrow
@settings(max_examples=120, deadline=None)
@given(rows=rows, data=st.data(), split=st.integers(0, 25), frame=st.sampled_from(["table", "batches", "polars"]))
def test_attribute_table_equals_the_dicts_without_their_nulls(rows, data, split, frame):
    if frame == "polars" and pl is None:
        return
    ids = [IDS[index % len(IDS)] for index in range(len(rows))]
    columns = {
        key: pa.array([row.get(key) for row in rows], data.draw(st.sampled_from(ATTRIBUTE_TYPES[key])))
        for key in ATTRIBUTE_VALUES
        if any(key in row for row in rows)
    }
    columns["weight"] = pa.array([1.5] * len(rows))  # another name: ignored
    table = pa.table(columns) if rows else pa.table({"label": pa.array([], pa.utf8())})
    if frame == "batches":
        table = pa.concat_tables([table.slice(0, split), table.slice(split)])
    elif frame == "polars":
        table = pl.DataFrame(table)
    looped, bulked = busy_diff(), busy_diff()
    for node, row in zip(ids, rows):
        looped.add_node(node, {key: value for key, value in row.items() if value is not None})
    bulked.add_nodes(pa.array(ids, pa.binary(16)), table)
    assert bulked.to_bytes() == looped.to_bytes()


@needs_pyarrow
def test_arrow_columns_over_numpy_buffers():
    numpy = pytest.importorskip("numpy")
    def over(ids):  # fixed-size ids in NumPy's memory, without a copy
        raw = numpy.frombuffer(b"".join(ids), dtype="S16").copy()
        return pa.FixedSizeBinaryArray.from_buffers(pa.binary(16), len(ids), [None, pa.py_buffer(raw)])

    weights = numpy.arange(len(IDS), dtype=numpy.float32)
    d = PyGraphDiff()
    assert d.add_edges(over(IDS), over(IDS[::-1]), pa.array(weights)) == len(IDS)
    looped = PyGraphDiff()
    for source, target, weight in zip(IDS, IDS[::-1], weights.tolist()):
        looped.add_edge(source, target, weight)
    assert d.to_bytes() == looped.to_bytes()


@needs_pyarrow
def test_code_in_a_later_conversion_cannot_change_an_arrow_column_read_in_place():
    numpy = pytest.importorskip("numpy")
    raw = numpy.frombuffer(A + B, dtype=numpy.uint8).copy()
    sources = pa.FixedSizeBinaryArray.from_buffers(pa.binary(16), 2, [None, pa.py_buffer(raw)])

    class Meddling:
        def __float__(self):
            raw[:] = 0  # the Arrow column is NumPy's memory, still writable
            return 2.0

    d, looped = PyGraphDiff(), PyGraphDiff()
    d.add_edges(sources, [B, C], [1.0, Meddling()])
    looped.add_edge(A, B, 1.0)
    looped.add_edge(B, C, 2.0)
    assert d.to_bytes() == looped.to_bytes()


# ---------------------------------------------------------------------------
# Refusals: the exact exception, and the diff unchanged.

if pa is not None:
    GOOD = pa.array([A, B, C], pa.binary(16))
    ARROW_REFUSALS = [
        (lambda d: d.add_edges(GOOD, pa.array([A, None, C], pa.binary(16)), [1.0] * 3), ValueError,
         "argument 'targets': item 1 is null"),
        (lambda d: d.delete_nodes(chunked(pa.array([A, B, C, None, A], pa.binary()))), ValueError,
         "argument 'ids': item 3 is null"),
        (lambda d: d.add_edges(GOOD, GOOD, pa.array([1.0, None, 2.0])), ValueError,
         "argument 'weights': item 1 is null"),
        (lambda d: d.add_edges(GOOD, GOOD, pa.array([1, 2, 3])), TypeError,
         "argument 'weights': an Arrow column of type int64 holds no float32 or float64 weights"),
        (lambda d: d.delete_nodes(pa.array([1, 2])), TypeError,
         "argument 'ids': an Arrow column of type int64 holds no 16-byte ids"),
        (lambda d: d.delete_nodes(pa.array([A[:8]], pa.binary(8))), TypeError,
         "argument 'ids': an Arrow column of type fixed_size_binary(8) holds no 16-byte ids"),
        (lambda d: d.delete_nodes(pa.array(["x"]).dictionary_encode()), TypeError,
         "argument 'ids': an Arrow column of type dictionary-encoded int32 holds no 16-byte ids"),
        (lambda d: d.delete_nodes(pa.table({"a": GOOD, "b": GOOD})), TypeError,
         "argument 'ids': an Arrow column of type struct holds no 16-byte ids"),
        (lambda d: d.add_nodes(GOOD, GOOD), TypeError,
         "argument 'updates': an Arrow column of type fixed_size_binary(16) holds no node "
         "attributes (a struct of named columns)"),
        (lambda d: d.add_nodes(GOOD, pa.table({"size": ["big"] * 3})), TypeError,
         "argument 'updates': the column 'size' of type utf8 holds no sizes (float32 or float64)"),
        (lambda d: d.add_nodes(GOOD, pa.table({"red": [1.0] * 3})), TypeError,
         "argument 'updates': the column 'red' of type float64 holds no colours (an integer type)"),
        (lambda d: d.add_nodes(GOOD, pa.table({"label": [1] * 3})), TypeError,
         "argument 'updates': the column 'label' of type int64 holds no texts (utf8, large_utf8 "
         "or utf8_view)"),
        (lambda d: d.add_nodes(GOOD, pa.table({"show_label": [1] * 3})), TypeError,
         "argument 'updates': the column 'show_label' of type int64 holds no flags (bool)"),
        (lambda d: d.add_nodes(GOOD, pa.StructArray.from_arrays([pa.array([1, 2, 3])], ["red"],
                                                                mask=pa.array([False, True, False]))),
         ValueError, "argument 'updates': item 1 is null"),
        (lambda d: d.add_nodes(GOOD, pa.table({"red": [1, 2]})), ValueError,
         "argument 'updates': 2 items where 'ids' has 3"),
        (lambda d: d.add_edges(GOOD, GOOD[:2], [1.0] * 3), ValueError,
         "argument 'targets': 2 items where 'sources' has 3"),
    ]
else:
    ARROW_REFUSALS = []


@needs_pyarrow
@pytest.mark.parametrize(("call", "error_type", "message"), ARROW_REFUSALS)
def test_arrow_refusals(call, error_type, message):
    error = fails_cleanly(call, error_type)
    assert type(error) is error_type and str(error) == message


@needs_pyarrow
@pytest.mark.parametrize("make", [pa and pa.binary(), pa and pa.large_binary(), pa and pa.binary_view()],
                         ids=["binary", "large_binary", "binary_view"])
def test_an_id_of_another_length_is_the_single_calls_refusal(make):
    column = pa.array([A, B, b"short"], make)
    error = fails_cleanly(lambda d: d.delete_nodes(column), TypeError)
    assert str(error) == "argument 'ids': item 2: failed to extract field PyUuid.0"
    assert type(error.__cause__) is Exception and str(error.__cause__) == "Expected 16 bytes."


@needs_pyarrow
@pytest.mark.parametrize(
    ("column", "error_type", "message"),
    [
        ({"red": [0, 256]}, OverflowError, "argument 'updates': item 1: out of range integral type conversion attempted"),
        ({"blue": [-1, 0]}, OverflowError, "argument 'updates': item 0: out of range integral type conversion attempted"),
    ],
)
def test_an_attribute_out_of_range_is_the_single_calls_refusal(column, error_type, message):
    error = fails_cleanly(lambda d: d.add_nodes([A, B], pa.table(column)), error_type)
    assert str(error) == message and type(error.__cause__) is OverflowError


@needs_pyarrow
def test_a_label_of_invalid_utf8_is_refused():
    offsets = pa.py_buffer(struct.pack("<3i", 0, 1, 3))
    labels = pa.Array.from_buffers(pa.utf8(), 2, [None, offsets, pa.py_buffer(b"a\xc3(")])
    error = fails_cleanly(lambda d: d.add_nodes([A, B], pa.table({"label": labels})), ValueError)
    assert str(error) == "argument 'updates': item 1: the label is not valid UTF-8"
    assert type(error.__cause__) is UnicodeDecodeError and error.__cause__.object == b"a\xc3("[1:]


@needs_pyarrow
@settings(max_examples=150, deadline=None)
@given(
    rows=st.lists(st.fixed_dictionaries({}, optional={key: ATTRIBUTE_VALUES[key] for key in ("label", "size", "red")}),
                  min_size=1, max_size=30),
    data=st.data(),
    fault=st.sampled_from(["null row", "colour", "utf-8"]),
    chunks=st.integers(1, 4),
)
def test_a_bad_row_anywhere_leaves_the_diff_as_it_was(rows, data, fault, chunks):
    # Rows go straight into the diff's records, so a bad row comes after
    # new records, merges into existing ones (A's) and repeats were made.
    ids = data.draw(st.lists(st.sampled_from(IDS), min_size=len(rows), max_size=len(rows)))
    bad = data.draw(st.integers(0, len(rows) - 1))

    def updates(faulty):
        labels = [None if "label" not in row else row["label"].encode() for row in rows]
        reds = [row.get("red") for row in rows]
        if faulty and fault == "utf-8":
            labels[bad] = b"a\xc3("
        if faulty and fault == "colour":
            reds[bad] = 256
        mask = pa.array([faulty and fault == "null row" and index == bad for index in range(len(rows))])
        struct_rows = pa.StructArray.from_arrays(
            [pa.array(labels, pa.binary()).view(pa.utf8()), pa.array([row.get("size") for row in rows], pa.float32()),
             pa.array(reds, pa.int64())],
            ["label", "size", "red"], mask=mask)
        bounds = sorted(data.draw(st.lists(st.integers(0, len(rows)), min_size=chunks - 1, max_size=chunks - 1)))
        return pa.chunked_array([struct_rows[start:end] for start, end in zip([0, *bounds], [*bounds, len(rows)])],
                                type=struct_rows.type)

    expected = {
        "null row": (ValueError, f"argument 'updates': item {bad} is null"),
        "colour": (OverflowError, f"argument 'updates': item {bad}: out of range integral type conversion attempted"),
        "utf-8": (ValueError, f"argument 'updates': item {bad}: the label is not valid UTF-8"),
    }[fault]
    d = busy_diff()
    before = readings(d)
    with pytest.raises(expected[0]) as raised:
        d.add_nodes(ids, updates(True))
    assert str(raised.value) == expected[1] and readings(d) == before
    # The rollback left the records and their index sound: the same rows
    # without the fault record as the per-item loop does.
    d.add_nodes(ids, updates(False))
    looped = busy_diff()
    for node, row in zip(ids, rows):
        looped.add_node(node, row)
    assert d.to_bytes() == looped.to_bytes()  # sizes by their bits: a NaN equals itself


def test_the_first_failing_column_decides_even_when_a_later_import_fails():
    class Refusing:
        def __arrow_c_array__(self, requested_schema=None):
            raise KeyError("not mine")

    error = fails_cleanly(lambda d: d.add_edges([b"x"], Refusing(), [1.0]), TypeError)
    assert str(error) == "argument 'sources': item 0: failed to extract field PyUuid.0"
    error = fails_cleanly(lambda d: d.add_edges([A], Refusing(), [1.0]), KeyError)
    assert str(error) == "\"argument 'targets': 'not mine'\"" and type(error.__cause__) is KeyError


@pytest.mark.parametrize(
    ("result", "message"),
    [
        (None, "argument 'ids': __arrow_c_array__() returned no pair of an 'arrow_schema' and an 'arrow_array' capsule"),
        ((1, 2), "argument 'ids': __arrow_c_array__() returned no pair of an 'arrow_schema' and an 'arrow_array' capsule"),
    ],
)
def test_an_array_method_that_returns_no_capsules_is_refused(result, message):
    class Wrong:
        def __arrow_c_array__(self, requested_schema=None):
            return result

    error = fails_cleanly(lambda d: d.delete_nodes(Wrong()), TypeError)
    assert str(error) == message


# ---------------------------------------------------------------------------
# Tables out: against the readings, and their lifetimes.

# Sizes without NaN, which compares unequal to itself in the readings.
table_updates = st.fixed_dictionaries(
    {}, optional={**ATTRIBUTE_VALUES, "size": st.floats(width=32, allow_nan=False)}
)
table_history = st.lists(
    st.one_of(
        st.tuples(st.just("add_edge"), st.sampled_from(IDS), st.sampled_from(IDS), st.floats(width=32, allow_nan=False)),
        st.tuples(st.just("delete_edge"), st.sampled_from(IDS), st.sampled_from(IDS)),
        st.tuples(st.just("delete_node"), st.sampled_from(IDS)),
        st.tuples(st.just("add_node"), st.sampled_from(IDS), table_updates),
    ),
    max_size=30,
)
NODE_COLUMNS = ["id", "label", "size", "url", "red", "green", "blue", "show_label"]
TABLE_READINGS = ["new_or_updated_node_table", "deleted_node_table", "new_or_updated_edge_table", "deleted_edge_table"]


def table_rows(table):
    return pa.table(table).to_pylist()


@needs_pyarrow
@settings(max_examples=100, deadline=None)
@given(history=table_history)
def test_tables_list_what_the_readings_list(history):
    d = replay(history)
    nodes = d.new_or_updated_node_table()
    assert pa.table(nodes).column_names == NODE_COLUMNS and len(nodes) == len(d.new_or_updated_nodes())
    assert table_rows(nodes) == [
        {"id": uuid.UUID(node).bytes, **{key: attributes.get(key) for key in NODE_COLUMNS[1:]}}
        for node, attributes in d.new_or_updated_nodes().items()
    ]
    assert table_rows(d.deleted_node_table()) == [{"id": uuid.UUID(node).bytes} for node in d.deleted_nodes()]
    sources, targets, weights = d.new_or_updated_edge_arrays()
    edges = pa.table(d.new_or_updated_edge_table())
    assert edges.column("weight").combine_chunks().buffers()[1].to_pybytes()[: len(weights)] == weights
    assert edges.column("source").to_pylist() == [sources[i : i + 16] for i in range(0, len(sources), 16)]
    assert edges.column("target").to_pylist() == [targets[i : i + 16] for i in range(0, len(targets), 16)]
    assert table_rows(d.deleted_edge_table()) == [
        {"source": uuid.UUID(source).bytes, "target": uuid.UUID(target).bytes}
        for source, inner in d.deleted_edges().items()
        for target in inner
    ]


@needs_pyarrow
def test_schema_types_and_record_batch():
    d = PyGraphDiff()
    d.add_node(A, {"label": "a", "red": 1, "show_label": True})
    schema = pa.schema(d.new_or_updated_node_table())
    assert [str(field.type) for field in schema] == [
        "fixed_size_binary[16]", "string", "float", "string", "uint8", "uint8", "uint8", "bool"
    ]
    assert [field.nullable for field in schema] == [False] + [True] * 7
    batch = pa.record_batch(d.new_or_updated_edge_table())
    assert batch.num_rows == 0 and batch.schema.names == ["source", "target", "weight"]


@needs_pyarrow
def test_a_table_outlives_changes_and_the_diff():
    d = busy_diff()
    expected = [table_rows(getattr(d, name)()) for name in TABLE_READINGS]
    tables = [getattr(d, name)() for name in TABLE_READINGS]
    stream = tables[2].__arrow_c_stream__()
    d.clear()
    d.add_edge(C, C, 9.0)
    assert [table_rows(table) for table in tables] == expected
    imported = [pa.table(table) for table in tables]
    del d, tables
    gc.collect()
    assert [table.to_pylist() for table in imported] == expected
    assert pa.RecordBatchReader._import_from_c_capsule(stream).read_all().to_pylist() == expected[2]


@needs_polars
def test_the_parquet_example_runs(tmp_path):
    example = Path(__file__).parents[2] / "examples" / "parquet_to_diff.py"
    result = subprocess.run([sys.executable, str(example), str(tmp_path)], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert "recorded 6 edges from 6 rows in 3 chunks" in result.stdout


@needs_polars
def test_polars_and_duckdb_take_the_tables():
    d = busy_diff()
    frame = pl.DataFrame(d.new_or_updated_edge_table())
    assert frame.columns == ["source", "target", "weight"] and frame["weight"].to_list() == [1.0, 2.0]
    duckdb = pytest.importorskip("duckdb")
    edges = d.new_or_updated_edge_table()
    assert duckdb.sql("select sum(weight) from edges").fetchall() == [(3.0,)]
    # And back: a one-column result stands for its column.
    copied = PyGraphDiff()
    copied.add_edges(
        duckdb.sql("select source from edges"),
        duckdb.sql("select target from edges"),
        duckdb.sql("select weight from edges"),
    )
    assert copied.new_or_updated_edges() == d.new_or_updated_edges()


# Both interpreters: the module reads back its own exported tables.


class StreamOf:
    """An object offering only another's stream."""

    def __init__(self, table):
        self.table = table

    def __arrow_c_stream__(self, requested_schema=None):
        return self.table.__arrow_c_stream__(requested_schema)


@settings(max_examples=60, deadline=None)
@given(history=table_history)
def test_exported_tables_read_back_into_a_diff(history):
    d = replay(history)
    ids = [uuid.UUID(node).bytes for node in d.new_or_updated_nodes()]
    copied, looped = PyGraphDiff(), PyGraphDiff()
    copied.add_nodes(ids, d.new_or_updated_node_table())
    copied.delete_nodes(StreamOf(d.deleted_node_table()))
    for node, attributes in zip(ids, d.new_or_updated_nodes().values()):
        looped.add_node(node, attributes)
    for node in d.deleted_nodes():
        looped.delete_node(uuid.UUID(node).bytes)
    assert copied.to_bytes() == looped.to_bytes()


def test_a_consumed_capsule_is_refused():
    d = busy_diff()
    pair = d.deleted_node_table().__arrow_c_array__()

    class Again:
        def __arrow_c_array__(self, requested_schema=None):
            return pair

    d.delete_nodes(Again())
    error = fails_cleanly(lambda d: d.delete_nodes(Again()), ValueError)
    assert str(error) == "argument 'ids': the Arrow capsule was already consumed"


def test_table_objects():
    table = busy_diff().new_or_updated_edge_table()
    assert len(table) == 2 and type(table).__name__ == "DiffTable"
    with pytest.raises(TypeError, match="cannot create 'DiffTable' instances"):
        type(table)()
    with pytest.raises(TypeError, match="takes at most 1 argument|got an unexpected keyword"):
        table.__arrow_c_stream__(schema=None)


# ---------------------------------------------------------------------------
# Hand-made C structures: malformed ones are refused, nothing is read past
# what they declare, and every release is called exactly once.

ID_BYTES = A + B


def fixed_ids(releases, length=2, offset=0, **overrides):
    schema = releases.new_schema(overrides.pop("format", "w:16"))
    buffers = overrides.pop("buffers", [None, ID_BYTES])
    array = releases.new_array(length, buffers, offset=offset, **overrides)
    return schema, array


def malformed_cases():
    offsets = struct.pack("<3i", 0, 16, 32)
    return {
        "unknown format": (lambda r: fixed_ids(r, format="q"), TypeError,
                           "argument 'ids': an Arrow column of type format 'q' holds no 16-byte ids"),
        "too few buffers": (lambda r: fixed_ids(r, buffers=[ID_BYTES]), ValueError,
                            "it has 1 buffers where fixed_size_binary(16) has 2"),
        "too many buffers": (lambda r: fixed_ids(r, buffers=[None, ID_BYTES, ID_BYTES]), ValueError,
                             "it has 3 buffers where fixed_size_binary(16) has 2"),
        "negative length": (lambda r: fixed_ids(r, length=-1), ValueError,
                            "its length is -1 and its offset 0"),
        "negative offset": (lambda r: fixed_ids(r, length=1, offset=-1), ValueError,
                            "its length is 1 and its offset -1"),
        "missing data": (lambda r: fixed_ids(r, buffers=[None, None]), ValueError,
                         "its data buffer is missing"),
        "nulls without bitmap": (lambda r: fixed_ids(r, null_count=1), ValueError,
                                 "it declares 1 nulls but has no validity bitmap"),
        "children on an array": (lambda r: (r.new_schema("w:16"), r.new_array(2, [None, ID_BYTES], children=[r.new_array(0, [None, b""])])),
                                 ValueError, "it has 1 children where its schema has 0"),
        "falling offsets": (lambda r: (r.new_schema("z"), r.new_array(2, [None, struct.pack("<3i", 0, 16, 8), ID_BYTES])),
                            ValueError, "the offsets fall at item 1"),
        "negative first offset": (lambda r: (r.new_schema("z"), r.new_array(1, [None, struct.pack("<2i", -16, 0), ID_BYTES])),
                                  ValueError, "the offsets start at -16"),
        "binary without data": (lambda r: (r.new_schema("z"), r.new_array(2, [None, offsets, None])),
                                ValueError, "the data buffer is missing"),
        "view past its buffer": (lambda r: (r.new_schema("vz"), r.new_array(1, [None, struct.pack("<iiii", 16, 0, 0, 8), ID_BYTES, struct.pack("<q", 16)])),
                                 ValueError, "item 0 lies outside data buffer 0"),
        "view of a missing buffer": (lambda r: (r.new_schema("vz"), r.new_array(1, [None, struct.pack("<iiii", 16, 0, 1, 0), ID_BYTES, struct.pack("<q", 32)])),
                                     ValueError, "item 0 refers to data buffer 1 of 1"),
        "short child": (lambda r: (r.new_schema("+s", children=[r.new_schema("w:16", "id")]),
                                   r.new_array(2, [None], children=[r.new_array(1, [None, A])])),
                        ValueError, "the child 'id' has 1 items where its struct needs 2"),
    }


@needs_ctypes_capsules
@pytest.mark.parametrize("case", sorted(malformed_cases()))
def test_malformed_structures_are_refused_and_released_once(case):
    build, error_type, message = malformed_cases()[case]
    releases = capsules.Releases()
    schema, array = build(releases)
    error = fails_cleanly(lambda d: d.delete_nodes(capsules.ArrayColumn(schema, array)), error_type)
    expected = message if error_type is TypeError else f"argument 'ids': malformed Arrow array: {message}"
    assert str(error) == expected
    assert releases.once(schema, array)


@needs_ctypes_capsules
def test_hand_made_columns_are_read_through_their_offsets():
    releases = capsules.Releases()
    # Three ids, the first skipped by the offset; the bitmap marks the last null.
    schema, array = fixed_ids(releases, length=2, offset=1, buffers=[bytes([0b011]), C + A + B])
    d = PyGraphDiff()
    d.delete_nodes(capsules.ArrayColumn(schema, array))
    assert d.deleted_nodes() == [text(A), text(B)] and releases.once(schema, array)
    releases = capsules.Releases()
    schema, array = fixed_ids(releases, length=2, offset=1, null_count=-1, buffers=[bytes([0b011]), C + A + B])
    error = fails_cleanly(lambda d: d.delete_nodes(capsules.ArrayColumn(schema, array)), ValueError)
    assert str(error) == "argument 'ids': item 1 is null" and releases.once(schema, array)


@needs_ctypes_capsules
@pytest.mark.parametrize(("fail_after", "error"), [(None, 0), (0, 5), (1, 5), (1, 12)])
def test_a_stream_is_read_to_its_end_or_refused_where_it_fails(fail_after, error):
    releases = capsules.Releases()
    schema = releases.new_schema("w:16")
    chunks = [releases.new_array(1, [None, A]), releases.new_array(1, [None, B])]
    stream = capsules.StreamColumn(releases, schema, chunks, fail_after, error)
    d = busy_diff()
    if fail_after is None:
        d.delete_nodes(stream)
        assert d.deleted_nodes()[-2:] == [text(A), text(B)]
    elif error == 12:
        fails_cleanly(lambda d: d.delete_nodes(stream), MemoryError)
    else:
        raised = fails_cleanly(lambda d: d.delete_nodes(stream), RuntimeError)
        assert str(raised) == "argument 'ids': the Arrow stream failed (error 5): the producer broke"
    given = chunks[: stream.given]
    assert releases.once(stream.stream, schema, *given)
