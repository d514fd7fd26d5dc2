"""Node attribute dictionaries: what add_node takes and what
new_or_updated_nodes gives back."""

import collections
import decimal
import math
import struct
import sys
import types
import uuid
from fractions import Fraction

import pytest
from hypothesis import given
from hypothesis import strategies as st

from quorl_api import PyGraphDiff

PYPY = sys.implementation.name == "pypy"

A = bytes(range(16))
KEY_ORDER = ["label", "url", "size", "red", "green", "blue", "show_label"]


def attributes_after(*updates):
    d = PyGraphDiff()
    for update in updates:
        d.add_node(A, update)
    return d.new_or_updated_nodes()[str(uuid.UUID(bytes=A))]


def fake_numpy_bool(name="bool_", **members):
    """A type that passes for NumPy's boolean by its module and name."""
    return type(name, (), {"__module__": "numpy", **members})


class Label(str):
    pass


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Nested:
    class Value:
        pass


ACCEPTED = [
    ({}, {}),
    ({"showLabel": True, "colour": 1, 5: "x", None: None}, {}),
    ({"label": "", "url": ""}, {"label": "", "url": ""}),
    ({"label": "ünï 😀\x00"}, {"label": "ünï 😀\x00"}),
    ({"label": Label("x")}, {"label": "x"}),
    ({"size": 1}, {"size": 1.0}),
    ({"size": True}, {"size": 1.0}),
    ({"size": -1.0}, {"size": -1.0}),
    ({"size": 0.1}, {"size": 0.10000000149011612}),
    ({"size": 1e300}, {"size": math.inf}),
    ({"size": -1e300}, {"size": -math.inf}),
    ({"red": 0, "green": 255, "blue": 128}, {"red": 0, "green": 255, "blue": 128}),
    ({"red": True, "green": False}, {"red": 1, "green": 0}),
    ({"blue": Index(9)}, {"blue": 9}),
    ({"show_label": False}, {"show_label": False}),
    ({"show_label": fake_numpy_bool(__bool__=lambda self: True)()}, {"show_label": True}),
    ({"show_label": fake_numpy_bool("bool", __bool__=lambda self: False)()}, {"show_label": False}),
]


@pytest.mark.parametrize("update, expected", ACCEPTED)
def test_accepted_values(update, expected):
    attributes = attributes_after(update)
    assert attributes == expected
    assert [type(value) for value in attributes.values()] == [
        type(value) for value in expected.values()
    ]


def test_nan_size_stays_nan():
    assert math.isnan(attributes_after({"size": math.nan})["size"])


@pytest.mark.parametrize(
    "update",
    [
        collections.OrderedDict(label="a", red=1),
        collections.defaultdict(str, label="a", red=1),
        collections.Counter(red=1, label="a"),
    ],
)
def test_dict_subclasses_are_read_by_plain_lookups(update):
    assert attributes_after(update) == {"label": "a", "red": 1}


def test_subclass_lookups_and_missing_are_never_called():
    calls = []

    class Spying(dict):
        def __getitem__(self, key):
            calls.append(key)
            return "spied"

        def __missing__(self, key):
            calls.append(key)
            return "missing"

        def get(self, key, default=None):
            calls.append(key)
            return "spied"

    factory = collections.defaultdict(lambda: calls.append("factory") or "made", url="u")
    assert attributes_after(Spying(label="a"), factory) == {"label": "a", "url": "u"}
    assert calls == []
    assert dict(factory) == {"url": "u"}


def test_keys_come_back_in_the_fixed_order_whatever_the_input_order():
    update = {
        "show_label": True,
        "blue": 3,
        "green": 2,
        "red": 1,
        "size": 0.5,
        "url": "u",
        "label": "l",
    }
    assert list(attributes_after(update)) == KEY_ORDER
    assert list(attributes_after({"blue": 3}, {"label": "l"}, {"size": 1.0})) == [
        "label",
        "size",
        "blue",
    ]


def test_later_update_wins_field_by_field():
    attributes = attributes_after(
        {"label": "x", "show_label": True, "red": 255, "size": 2.5, "url": "u"},
        {"label": "", "show_label": False, "red": 0, "size": 1.0, "green": 4},
    )
    assert attributes == {
        "label": "",
        "url": "u",
        "size": 1.0,
        "red": 0,
        "green": 4,
        "show_label": False,
    }


UPDATE_PREFIX = "argument 'update': "

REFUSED = [
    ([], TypeError, UPDATE_PREFIX + "'list' object cannot be converted to 'PyDict'"),
    (None, TypeError, UPDATE_PREFIX + "'NoneType' object cannot be converted to 'PyDict'"),
    (
        types.MappingProxyType({"label": "a"}),
        TypeError,
        UPDATE_PREFIX + "'mappingproxy' object cannot be converted to 'PyDict'",
    ),
    (
        {"label": None},
        TypeError,
        UPDATE_PREFIX + "'NoneType' object cannot be converted to 'PyString'",
    ),
    ({"url": None}, TypeError, UPDATE_PREFIX + "'NoneType' object cannot be converted to 'PyString'"),
    ({"label": 5}, TypeError, UPDATE_PREFIX + "'int' object cannot be converted to 'PyString'"),
    ({"url": b"u"}, TypeError, UPDATE_PREFIX + "'bytes' object cannot be converted to 'PyString'"),
    (
        {"label": Nested.Value()},
        TypeError,
        UPDATE_PREFIX + "'Nested.Value' object cannot be converted to 'PyString'",
    ),
    ({"red": 256}, OverflowError, "out of range integral type conversion attempted"),
    ({"red": -1}, OverflowError, "out of range integral type conversion attempted"),
    ({"green": 1000}, OverflowError, "out of range integral type conversion attempted"),
    ({"blue": Index(-5)}, OverflowError, "out of range integral type conversion attempted"),
    ({"show_label": 1}, TypeError, UPDATE_PREFIX + "'int' object cannot be converted to 'PyBool'"),
    ({"show_label": 0}, TypeError, UPDATE_PREFIX + "'int' object cannot be converted to 'PyBool'"),
    (
        {"show_label": None},
        TypeError,
        UPDATE_PREFIX + "'NoneType' object cannot be converted to 'PyBool'",
    ),
    (
        {"show_label": fake_numpy_bool("int64")()},
        TypeError,
        UPDATE_PREFIX + "'int64' object cannot be converted to 'PyBool'",
    ),
    # Fields are converted in the fixed order, not in the dictionary's.
    ({"label": 5, "red": 300}, TypeError, UPDATE_PREFIX + "'int' object cannot be converted to 'PyString'"),
    ({"red": 300, "label": 5}, TypeError, UPDATE_PREFIX + "'int' object cannot be converted to 'PyString'"),
    ({"show_label": 1, "blue": 300}, OverflowError, "out of range integral type conversion attempted"),
]


@pytest.mark.parametrize("update, error_type, message", REFUSED)
def test_refused_values(update, error_type, message):
    d = PyGraphDiff()
    with pytest.raises(error_type) as info:
        d.add_node(A, update)
    assert type(info.value) is error_type
    assert str(info.value) == message
    assert info.value.__cause__ is None
    assert d.num_nodes() == 0


@pytest.mark.parametrize(
    "update, error_type, prefixed, cpython_text",
    [
        ({"size": "x"}, TypeError, True, "must be real number, not str"),
        ({"size": None}, TypeError, True, "must be real number, not NoneType"),
        ({"size": 2**1100}, OverflowError, False, "int too large to convert to float"),
        ({"red": "3"}, TypeError, True, "'str' object cannot be interpreted as an integer"),
        ({"red": 2**70}, OverflowError, False, "Python int too large to convert to C long"),
        ({"label": "\ud800"}, UnicodeEncodeError, False, None),
    ],
)
def test_interpreter_conversion_errors_pass_through(update, error_type, prefixed, cpython_text):
    d = PyGraphDiff()
    with pytest.raises(error_type) as info:
        d.add_node(A, update)
    assert type(info.value) is error_type
    assert str(info.value).startswith(UPDATE_PREFIX) == prefixed
    if cpython_text is not None and not PYPY:
        assert str(info.value) == (UPDATE_PREFIX if prefixed else "") + cpython_text
    assert d.num_nodes() == 0


@pytest.mark.parametrize(
    "value, type_name",
    [
        (1.0, "float"),
        (255.9, "float"),
        (decimal.Decimal(3), "decimal.Decimal"),
        (Fraction(3, 1), "Fraction"),
    ],
)
def test_colour_refuses_what_is_no_integer(value, type_name):
    with pytest.raises(TypeError) as info:
        attributes_after({"red": value})
    # Decimal is a C type under CPython and a Python class under PyPy,
    # which names it without its module.
    name = type_name.rpartition(".")[2] if PYPY else type_name
    assert str(info.value) == f"{UPDATE_PREFIX}'{name}' object cannot be interpreted as an integer"


@pytest.mark.parametrize("key", ["size", "red"])
def test_object_with_only_index_is_a_number(key):
    assert attributes_after({key: Index(7)}) == {key: 7}


def test_failed_update_leaves_the_existing_record_untouched():
    d = PyGraphDiff()
    d.add_node(A, {"label": "x"})
    with pytest.raises(OverflowError):
        d.add_node(A, {"label": "y", "size": 2.0, "red": 256})
    assert list(d.new_or_updated_nodes().values()) == [{"label": "x"}]


class BindRefused:
    """A __bool__ that can be read from the class but not bound to a value."""

    def __get__(self, instance, owner):
        if instance is None:
            return self
        raise LookupError("cannot bind")


class NoBoolOnInstance:
    def __init__(self):
        self.__bool__ = lambda: True  # not looked at: __bool__ is read from the type


def raise_value_error(self):
    raise ValueError("undecided")


@pytest.mark.parametrize("name", ["bool_", "bool"])
@pytest.mark.parametrize(
    "members, error_type, message",
    [
        (
            {},
            TypeError,
            UPDATE_PREFIX + "object of type '<class 'numpy.{name}'>' does not define a '__bool__' conversion",
        ),
        (
            {"__init__": NoBoolOnInstance.__init__},
            TypeError,
            UPDATE_PREFIX + "object of type '<class 'numpy.{name}'>' does not define a '__bool__' conversion",
        ),
        (
            {"__bool__": lambda self: 1},
            TypeError,
            UPDATE_PREFIX + "'int' object cannot be converted to 'PyBool'",
        ),
        ({"__bool__": raise_value_error}, ValueError, "undecided"),
        ({"__bool__": BindRefused()}, LookupError, "cannot bind"),
    ],
)
def test_numpy_named_bool_refusals(name, members, error_type, message):
    value = fake_numpy_bool(name, **members)()
    with pytest.raises(error_type) as info:
        attributes_after({"show_label": value})
    assert type(info.value) is error_type
    assert str(info.value) == message.format(name=name)


def test_a_type_whose_name_cannot_be_read_is_no_numpy_bool():
    class Meta(type):
        @property
        def __module__(cls):
            raise RuntimeError("no module")

    value = Meta("bool_", (), {"__bool__": lambda self: True})()
    with pytest.raises(TypeError) as info:
        attributes_after({"show_label": value})
    assert str(info.value) == UPDATE_PREFIX + "'bool_' object cannot be converted to 'PyBool'"


def test_real_numpy_booleans():
    numpy = pytest.importorskip("numpy")
    assert attributes_after({"show_label": numpy.True_}) == {"show_label": True}
    assert attributes_after({"show_label": numpy.bool_(0)}) == {"show_label": False}
    assert type(attributes_after({"show_label": numpy.True_})["show_label"]) is bool
    # Other NumPy scalars are numbers, not flags.
    with pytest.raises(TypeError, match="cannot be converted to 'PyBool'"):
        attributes_after({"show_label": numpy.int64(1)})
    assert attributes_after({"size": numpy.float64(0.5), "red": numpy.uint8(7)}) == {
        "size": 0.5,
        "red": 7,
    }


def float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


UPDATES = st.fixed_dictionaries(
    {},
    optional={
        "label": st.text(),
        "url": st.text(),
        "size": st.floats(allow_nan=False, allow_infinity=True, width=32),
        "red": st.integers(0, 255),
        "green": st.integers(0, 255),
        "blue": st.integers(0, 255),
        "show_label": st.booleans(),
        "showLabel": st.booleans(),
        "other": st.integers(),
    },
)


@given(UPDATES)
def test_round_trip_keeps_values_in_the_fixed_key_order(update):
    expected = {key: update[key] for key in KEY_ORDER if key in update}
    attributes = attributes_after(update)
    assert attributes == expected
    assert list(attributes) == list(expected)
    # Reading it back in gives the same dictionary again.
    assert attributes_after(attributes) == attributes


@given(st.floats(allow_nan=False, allow_infinity=False, min_value=-3e38, max_value=3e38))
def test_size_is_the_nearest_float32(size):
    assert attributes_after({"size": size})["size"] == float32(size)
