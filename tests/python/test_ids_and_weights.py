"""Node ids (16-byte bytes in, 36-character text out) and edge weights."""

import math
import struct
import sys
import uuid
from fractions import Fraction

import pytest
from hypothesis import assume, given
from hypothesis import strategies as st

from quorl_api import PyGraphDiff

PYPY = sys.implementation.name == "pypy"

A = bytes(range(16))
B = bytes(range(16, 32))

FLOAT32_MAX = struct.unpack("<f", b"\xff\xff\x7f\x7f")[0]
# Halfway between the largest float32 and 2**128: from here on a double
# rounds to infinity.
OVERFLOW_HALFWAY = FLOAT32_MAX + 2.0**103


def text(node_id):
    return str(uuid.UUID(bytes=node_id))


class Outer:
    class Inner:
        pass


# A call for every id parameter of every method, with `bad` in that place.
ID_PARAMETERS = [
    pytest.param("id", lambda d, bad: d.add_node(bad, {}), id="add_node.id"),
    pytest.param("id", lambda d, bad: d.delete_node(bad), id="delete_node.id"),
    pytest.param("from", lambda d, bad: d.add_edge(bad, A, 1.0), id="add_edge.from"),
    pytest.param("to", lambda d, bad: d.add_edge(A, bad, 1.0), id="add_edge.to"),
    pytest.param("from", lambda d, bad: d.delete_edge(bad, A), id="delete_edge.from"),
    pytest.param("to", lambda d, bad: d.delete_edge(A, bad), id="delete_edge.to"),
]

WRONG_LENGTH = (Exception, "Expected 16 bytes.")

BAD_IDS = [
    pytest.param(b"abc", *WRONG_LENGTH, id="short"),
    pytest.param(b"", *WRONG_LENGTH, id="empty"),
    pytest.param(bytes(17), *WRONG_LENGTH, id="long"),
    pytest.param("x" * 16, TypeError, "'str' object cannot be converted to 'PyBytes'", id="str"),
    pytest.param(
        bytearray(16),
        TypeError,
        "'bytearray' object cannot be converted to 'PyBytes'",
        id="bytearray",
    ),
    pytest.param(
        memoryview(bytes(16)),
        TypeError,
        "'memoryview' object cannot be converted to 'PyBytes'",
        id="memoryview",
    ),
    pytest.param(
        uuid.UUID(int=0), TypeError, "'UUID' object cannot be converted to 'PyBytes'", id="uuid"
    ),
    pytest.param(None, TypeError, "'NoneType' object cannot be converted to 'PyBytes'", id="none"),
    pytest.param(
        Outer.Inner(),
        TypeError,
        "'Outer.Inner' object cannot be converted to 'PyBytes'",
        id="qualified-name",
    ),
]


@pytest.mark.parametrize("parameter, call", ID_PARAMETERS)
@pytest.mark.parametrize("bad, cause_type, cause_text", BAD_IDS)
def test_bad_id_gives_one_message_and_its_reason_as_cause(
    parameter, call, bad, cause_type, cause_text
):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        call(d, bad)
    error = info.value
    assert type(error) is TypeError
    assert str(error) == f"argument '{parameter}': failed to extract field PyUuid.0"
    assert type(error.__cause__) is cause_type
    assert str(error.__cause__) == cause_text
    assert error.__cause__.__cause__ is None
    assert (d.num_nodes(), d.num_edges()) == (0, 0)


class IdBytes(bytes):
    pass


@pytest.mark.parametrize(
    "node_id, expected",
    [
        (bytes(16), "00000000-0000-0000-0000-000000000000"),
        (b"\xff" * 16, "ffffffff-ffff-ffff-ffff-ffffffffffff"),
        (
            bytes.fromhex("00112233445566778899aabbccddeeff"),
            "00112233-4455-6677-8899-aabbccddeeff",
        ),
        (IdBytes(bytes.fromhex("0f" * 16)), "0f0f0f0f-0f0f-0f0f-0f0f-0f0f0f0f0f0f"),
    ],
)
def test_id_text(node_id, expected):
    d = PyGraphDiff()
    d.delete_node(node_id)
    assert d.deleted_nodes() == [expected]
    assert type(d.deleted_nodes()[0]) is str


@given(st.binary(min_size=16, max_size=16), st.binary(min_size=16, max_size=16))
def test_id_texts_match_uuid_everywhere_they_appear(source, target):
    assume(source != target)
    d = PyGraphDiff()
    d.add_node(source, {})
    d.add_edge(source, target, 1.0)
    d.delete_edge(target, source)
    d.delete_node(target)
    assert list(d.new_or_updated_nodes()) == [text(source)]
    assert d.deleted_nodes() == [text(target)]
    assert d.deleted_edges() == {text(source): [text(target)], text(target): [text(source)]}


def stored_weight(weight):
    d = PyGraphDiff()
    d.add_edge(A, B, weight)
    return d.new_or_updated_edges()[text(A)][text(B)]


class FloatLike:
    def __float__(self):
        return 2.5


class IndexLike:
    def __index__(self):
        return 7


class FloatSubclass(float):
    pass


@pytest.mark.parametrize(
    "weight, expected",
    [
        (1, 1.0),
        (True, 1.0),
        (-1.0, -1.0),
        (0.1, 0.10000000149011612),
        (FloatSubclass(0.1), 0.10000000149011612),
        (Fraction(1, 3), 0.3333333432674408),
        (FloatLike(), 2.5),
        (1e300, math.inf),
        (-1e300, -math.inf),
        (math.inf, math.inf),
        (FLOAT32_MAX, FLOAT32_MAX),
        # Past the largest float32 but nearer to it than to 2**128.
        (math.nextafter(OVERFLOW_HALFWAY, 0.0), FLOAT32_MAX),
        (-math.nextafter(OVERFLOW_HALFWAY, 0.0), -FLOAT32_MAX),
        # The tie goes to the even neighbour, 2**128, which overflows.
        (OVERFLOW_HALFWAY, math.inf),
        (1e-50, 0.0),
        (2.0**-149, 2.0**-149),
    ],
)
def test_weight_is_narrowed_to_float32(weight, expected):
    stored = stored_weight(weight)
    assert type(stored) is float
    assert stored == expected


def test_weight_keeps_the_sign_of_zero_and_nan():
    assert math.copysign(1.0, stored_weight(-0.0)) == -1.0
    assert math.copysign(1.0, stored_weight(-1e-50)) == -1.0
    assert math.isnan(stored_weight(math.nan))


class FloatSubclassWithItsOwnFloat(float):
    def __float__(self):
        return 9.0


class IndexAndFloat(IndexLike):
    def __float__(self):
        return 2.5


@pytest.mark.parametrize(
    "weight, expected",
    [
        (IndexLike(), 7.0),
        # A float's own value is taken, whatever its __float__ says;
        # __float__ wins over __index__.
        (FloatSubclassWithItsOwnFloat(0.5), 0.5),
        (IndexAndFloat(), 2.5),
    ],
)
def test_weight_conversion_prefers_value_then_float_then_index(weight, expected):
    assert stored_weight(weight) == expected


class RaisesTypeError:
    def __float__(self):
        raise TypeError("inner") from KeyError("why")


class TypeErrorSubclass(TypeError):
    pass


class RaisesTypeErrorSubclass:
    def __float__(self):
        raise TypeErrorSubclass("subclass")


class RaisesValueError:
    def __float__(self):
        raise ValueError("boom")


@pytest.mark.parametrize(
    "weight, error_type, message, cause",
    [
        # A TypeError (exactly) is named after the argument and keeps its cause.
        (RaisesTypeError(), TypeError, "argument 'weight': inner", KeyError),
        (RaisesTypeErrorSubclass(), TypeErrorSubclass, "subclass", None),
        (RaisesValueError(), ValueError, "boom", None),
    ],
)
def test_weight_failure_goes_through_the_argument_rule(weight, error_type, message, cause):
    d = PyGraphDiff()
    with pytest.raises(error_type) as info:
        d.add_edge(A, B, weight)
    assert type(info.value) is error_type
    assert str(info.value) == message
    assert type(info.value.__cause__) is (cause or type(None))
    assert d.num_edges() == 0


@pytest.mark.parametrize("weight", ["1", None, b"1", [1.0]])
def test_weight_of_wrong_type_gets_the_interpreters_message_prefixed(weight):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        d.add_edge(A, B, weight)
    assert type(info.value) is TypeError
    assert str(info.value).startswith("argument 'weight': ")
    assert info.value.__cause__ is None
    if not PYPY:
        assert str(info.value) == (
            f"argument 'weight': must be real number, not {type(weight).__name__}"
        )


def test_weight_too_large_for_a_double_raises_the_interpreters_overflow_unprefixed():
    d = PyGraphDiff()
    with pytest.raises(OverflowError) as info:
        d.add_edge(A, B, 2**1100)
    assert not str(info.value).startswith("argument")
    assert d.num_edges() == 0


@pytest.mark.parametrize(
    "call, parameter",
    [
        (lambda d: d.add_edge(b"short", b"short", "x"), "from"),
        (lambda d: d.add_edge(A, b"short", "x"), "to"),
        (lambda d: d.delete_edge("x", 1), "from"),
        (lambda d: d.add_node(b"abc", []), "id"),
    ],
)
def test_first_failing_argument_decides(call, parameter):
    with pytest.raises(TypeError, match=f"^argument '{parameter}': "):
        call(PyGraphDiff())
