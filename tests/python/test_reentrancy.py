"""Python code that runs in the middle of a call: the borrow flag, and
conversions whose Python code changes what is being converted."""

import gc
import pickle
import platform
import threading
import time
import uuid

import pytest

from quorl_api import PyGraphDiff

A = bytes(range(16))
B = bytes(range(16, 32))

READING_CALLS = {
    "new_or_updated_nodes": lambda d: d.new_or_updated_nodes(),
    "deleted_nodes": lambda d: d.deleted_nodes(),
    "new_or_updated_edges": lambda d: d.new_or_updated_edges(),
    "deleted_edges": lambda d: d.deleted_edges(),
    "num_nodes": lambda d: d.num_nodes(),
    "num_edges": lambda d: d.num_edges(),
    "merge_from": lambda d: PyGraphDiff().merge(d),
    "pickle": lambda d: pickle.dumps(d),
}
MUTATING_CALLS = {
    "add_node": lambda d: d.add_node(B, {}),
    "delete_node": lambda d: d.delete_node(B),
    "add_edge": lambda d: d.add_edge(B, B, 1.0),
    "delete_edge": lambda d: d.delete_edge(B, B),
    "clear": lambda d: d.clear(),
    "merge": lambda d: d.merge(PyGraphDiff()),
    "merge_itself": lambda d: d.merge(d),
}
INNER_CALLS = [
    pytest.param(call, "Already mutably borrowed", id=name) for name, call in READING_CALLS.items()
] + [pytest.param(call, "Already borrowed", id=name) for name, call in MUTATING_CALLS.items()]


class Hook:
    """A number whose conversions run `action` first. What the action raises
    is recorded, or, with propagate=True, raised from the conversion."""

    def __init__(self, action, value=1, propagate=False):
        self.action = action
        self.value = value
        self.propagate = propagate
        self.errors = []

    def run(self):
        try:
            self.action()
        except Exception as error:  # noqa: BLE001 - recorded for the test to look at
            self.errors.append(error)
            if self.propagate:
                raise

    def __float__(self):
        self.run()
        return float(self.value)

    def __index__(self):
        self.run()
        return int(self.value)


def numpy_bool_hook(hook):
    """A value that passes for a NumPy boolean and runs `hook` in __bool__."""

    def __bool__(self):
        hook.run()
        return True

    return type("bool_", (), {"__module__": "numpy", "__bool__": __bool__})()


# The places where a mutating call runs Python code while it holds the borrow.
def through_weight(d, hook):
    d.add_edge(A, A, hook)


def through_size(d, hook):
    d.add_node(A, {"size": hook})


def through_colour(d, hook):
    d.add_node(A, {"green": hook})


def through_show_label(d, hook):
    d.add_node(A, {"show_label": numpy_bool_hook(hook)})


HOOK_SITES = [through_weight, through_size, through_colour, through_show_label]


@pytest.mark.parametrize("site", HOOK_SITES)
@pytest.mark.parametrize("inner_call, message", INNER_CALLS)
def test_calls_into_a_busy_instance_are_refused(site, inner_call, message):
    d = PyGraphDiff()
    other = PyGraphDiff()
    hook = Hook(lambda: (inner_call(other), inner_call(d)))
    site(d, hook)
    assert [(type(error), str(error)) for error in hook.errors] == [(RuntimeError, message)]
    # The outer call completed, and the instance is free again.
    assert d.num_nodes() + d.num_edges() == 1
    inner_call(d)
    d.clear()


@pytest.mark.parametrize("site", HOOK_SITES)
@pytest.mark.parametrize(
    "inner_call, message",
    [(READING_CALLS["num_nodes"], "Already mutably borrowed"), (MUTATING_CALLS["clear"], "Already borrowed")],
)
def test_a_borrow_error_raised_from_a_conversion_passes_unchanged(site, inner_call, message):
    d = PyGraphDiff()
    with pytest.raises(RuntimeError) as info:
        site(d, Hook(lambda: inner_call(d), propagate=True))
    assert type(info.value) is RuntimeError
    assert str(info.value) == message
    # Nothing was recorded, and the borrow was given back.
    assert d.num_nodes() + d.num_edges() == 0
    d.add_node(A, {})
    assert d.num_nodes() == 1


FAILING_CALLS = [
    lambda d: d.add_node(b"short", {}),
    lambda d: d.add_node(A, []),
    lambda d: d.add_node(A, {"red": 256}),
    lambda d: d.add_node(A, {"label": "\ud800"}),
    lambda d: d.delete_node(None),
    lambda d: d.add_edge(A, B, "x"),
    lambda d: d.add_edge(A, B, 2**1100),
    lambda d: d.delete_edge(A, 5),
    lambda d: d.add_node(A),
]


@pytest.mark.parametrize("call", FAILING_CALLS)
def test_a_failed_call_leaves_the_borrow_free(call):
    d = PyGraphDiff()
    with pytest.raises(Exception):
        call(d)
    d.add_edge(A, B, 1.0)
    assert d.new_or_updated_edges() != {}


class CollidingKey:
    """A key that collides with "label" and runs `on_compare` when a lookup
    compares it."""

    def __init__(self, on_compare):
        self.on_compare = on_compare

    def __hash__(self):
        return hash("label")

    def __eq__(self, other):
        self.on_compare()
        return False


def test_key_comparison_that_clears_the_dictionary():
    key = CollidingKey(lambda: None)
    update = {key: None, "label": "a", "red": 5}
    key.on_compare = update.clear  # armed once the dictionary is built
    d = PyGraphDiff()
    d.add_node(A, update)
    # Whatever the lookup saw before the dictionary emptied, nothing later is.
    (attributes,) = d.new_or_updated_nodes().values()
    assert attributes in ({}, {"label": "a"})
    assert update == {}


def test_key_comparison_that_grows_the_dictionary():
    update = {}

    def grow():
        for index in range(1000):
            update[f"extra{index}"] = index
        update["red"] = 7

    key = CollidingKey(lambda: None)
    update[key] = None
    update["label"] = "a"
    key.on_compare = grow
    d = PyGraphDiff()
    d.add_node(A, update)
    (attributes,) = d.new_or_updated_nodes().values()
    assert attributes["red"] == 7
    assert attributes.get("label", "a") == "a"


class Vanishing:
    """A value that removes itself (and the rest) from its dictionary while
    it is converted, so that only the conversion still holds it."""

    def __init__(self, update, key, result):
        self.update = update
        self.key = key
        self.result = result

    def vanish(self):
        update, self.update = self.update, None
        update.clear()
        gc.collect()
        return self.result

    def __float__(self):
        return self.vanish()

    def __index__(self):
        return self.vanish()

    @staticmethod
    def numpy_bool(update, key):
        def __bool__(self):
            return Vanishing(update, key, True).vanish()

        return type("bool", (), {"__module__": "numpy", "__bool__": __bool__})()


@pytest.mark.parametrize(
    "key, result, expected",
    [("size", 2.5, 2.5), ("red", 7, 7), ("blue", 9, 9), ("show_label", True, True)],
)
def test_value_that_empties_its_dictionary(key, result, expected):
    update = {"label": "a", "url": "u", "size": 1.0, "red": 3, "green": 1, "blue": 2}
    update["show_label"] = False
    if key == "show_label":
        update[key] = Vanishing.numpy_bool(update, key)
    else:
        update[key] = Vanishing(update, key, result)
    d = PyGraphDiff()
    d.add_node(A, update)
    (attributes,) = d.new_or_updated_nodes().values()
    # Fields before the vanishing one were read; those after it were gone.
    order = ["label", "url", "size", "red", "green", "blue", "show_label"]
    assert attributes[key] == expected
    assert all(name not in attributes for name in order[order.index(key) + 1 :])
    assert attributes["label"] == "a" and attributes["url"] == "u"


def test_bool_that_changes_its_class_and_drops_its_type():
    def __bool__(self):
        self.__class__ = Plain
        del holder[:]
        gc.collect()
        return False

    holder = [type("bool_", (), {"__module__": "numpy", "__bool__": __bool__})]
    value = holder[0]()
    d = PyGraphDiff()
    d.add_node(A, {"show_label": value})
    assert list(d.new_or_updated_nodes().values()) == [{"show_label": False}]
    assert type(value) is Plain


class Plain:
    pass


def numpy_bool_whose_name_drops_it(update, change_class):
    """Puts into `update` the only reference to a NumPy-named boolean whose
    type, when asked for its module, takes it out of `update` again; with
    `change_class`, the value then changes its class, which leaves the
    conversion holding the only reference to its old type."""

    class Meta(type):
        @property
        def __module__(cls):
            value = update.pop("show_label")
            if change_class:
                value.__class__ = Plain
            del value
            gc.collect()
            return "numpy"

    update["show_label"] = Meta("bool_", (), {"__bool__": lambda self: True})()


@pytest.mark.parametrize("change_class", [False, True])
def test_value_and_type_dropped_while_the_type_name_is_read(change_class):
    update = {"label": "a"}
    numpy_bool_whose_name_drops_it(update, change_class)
    d = PyGraphDiff()
    d.add_node(A, update)
    assert list(d.new_or_updated_nodes().values()) == [{"label": "a", "show_label": True}]
    assert update == {"label": "a"}


def test_instance_dropped_by_its_last_owner_during_a_call():
    owner = [PyGraphDiff()]
    hook = Hook(lambda: (owner.clear(), gc.collect()))
    owner[0].add_edge(A, B, hook)
    assert hook.errors == [] and owner == []


def test_other_thread_during_a_conversion_gets_the_borrow_errors():
    d = PyGraphDiff()
    converting = threading.Event()
    other_done = threading.Event()
    results = []

    def other_thread():
        converting.wait(10)
        for call in (d.num_nodes, d.clear):
            try:
                call()
                results.append(None)
            except RuntimeError as error:
                results.append(str(error))
        other_done.set()

    def wait_for_the_other_thread():
        converting.set()
        # Waiting releases the interpreter lock, so the other thread runs now.
        assert other_done.wait(10)

    thread = threading.Thread(target=other_thread)
    thread.start()
    d.add_edge(A, B, Hook(wait_for_the_other_thread, value=3))
    thread.join(10)
    assert results == ["Already mutably borrowed", "Already borrowed"]
    assert list(d.new_or_updated_edges().values()) == [{str(uuid.UUID(bytes=B)): 3.0}]


def test_threads_hammering_one_instance_never_corrupt_it():
    d = PyGraphDiff()
    ids = [bytes([index]) * 16 for index in range(8)]
    errors = []
    stop = time.monotonic() + 1.0

    class Slow:
        def __float__(self):
            time.sleep(0)
            return 1.0

    def work(seed):
        index = seed
        while time.monotonic() < stop:
            index += 1
            try:
                node = ids[index % len(ids)]
                d.add_edge(node, ids[(index * 3) % len(ids)], Slow())
                d.add_node(node, {"red": index % 256})
                d.delete_node(ids[(index * 5) % len(ids)])
                d.new_or_updated_nodes()
                d.deleted_edges()
            except RuntimeError as error:
                errors.append(str(error))

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert set(errors) <= {"Already borrowed", "Already mutably borrowed"}
    d.clear()
    assert d.num_nodes() == d.num_edges() == 0


# Subclasses of the argument types: the module reads what the object holds
# and runs none of the subclass's methods. PyPy's C-API layer itself calls
# __len__ once, when an instance first crosses into C (it sizes its C copy
# by it); nothing the module calls runs any other method, there or here.
PYPY = platform.python_implementation() == "PyPy"
LAYER_CALLS = {"__len__"} if PYPY else set()

SPIED_BYTES_METHODS = ["__len__", "__getitem__", "__iter__", "__bytes__", "__hash__", "__eq__", "hex", "decode"]
SPIED_DICT_METHODS = [
    "__getitem__", "__missing__", "__contains__", "__iter__", "__len__", "get", "keys", "items", "values",
]


def spying_subclass(base, methods, calls, length):
    """A subclass of `base` whose listed methods record their name; its
    __len__ claims `length` whatever the object holds."""

    def spy(name):
        def method(self, *args, **kwargs):
            calls.append(name)
            return length if name == "__len__" else getattr(base, name)(self, *args, **kwargs)

        return method

    return type("Spying" + base.__name__.title(), (base,), {name: spy(name) for name in methods})


ID_CALLS = {
    "add_node": lambda d, node_id: d.add_node(node_id, {}),
    "delete_node": lambda d, node_id: d.delete_node(node_id),
    "add_edge.from": lambda d, node_id: d.add_edge(node_id, B, 1.0),
    "add_edge.to": lambda d, node_id: d.add_edge(B, node_id, 1.0),
    "delete_edge.from": lambda d, node_id: d.delete_edge(node_id, B),
    "delete_edge.to": lambda d, node_id: d.delete_edge(B, node_id),
}


@pytest.mark.parametrize("call", ID_CALLS.values(), ids=ID_CALLS.keys())
def test_bytes_subclass_id_is_read_by_its_contents(call):
    calls = []
    spying = spying_subclass(bytes, SPIED_BYTES_METHODS, calls, length=16)
    d = PyGraphDiff()
    call(d, spying(A))
    # Three bytes that claim sixteen are refused for their true length.
    with pytest.raises(TypeError) as info:
        call(d, spying(b"abc"))
    assert str(info.value.__cause__) == "Expected 16 bytes."
    assert set(calls) <= LAYER_CALLS
    reference = PyGraphDiff()
    call(reference, A)
    assert d.to_bytes() == reference.to_bytes()


def test_bytes_subclass_is_decoded_by_its_contents():
    d = PyGraphDiff()
    d.add_node(A, {"label": "a"})
    d.add_edge(A, B, 0.5)
    data = d.to_bytes()
    calls = []
    spying = spying_subclass(bytes, SPIED_BYTES_METHODS, calls, length=len(data) + 7)
    assert PyGraphDiff.from_bytes(spying(data)).to_bytes() == data
    with pytest.raises(Exception, match="^Failed to deserialize graph diff.$"):
        PyGraphDiff.from_bytes(spying(data[:-1]))
    assert set(calls) <= LAYER_CALLS


def test_dict_subclass_update_is_read_by_plain_lookups():
    calls = []
    spying = spying_subclass(dict, SPIED_DICT_METHODS, calls, length=0)
    d = PyGraphDiff()
    d.add_node(A, spying(label="a", size=2.0, show_label=True, other=1))
    assert d.new_or_updated_nodes()[str(uuid.UUID(bytes=A))] == {"label": "a", "size": 2.0, "show_label": True}
    assert set(calls) <= LAYER_CALLS


class Raising:
    """A value whose every conversion raises `error`; with `clears`, it
    first empties the dictionary that holds it."""

    def __init__(self, error, clears):
        self.error = error
        self.clears = clears
        self.update = {}

    def fail(self):
        if self.clears:
            self.update.clear()
            gc.collect()
        raise self.error

    __float__ = __index__ = __bool__ = fail

    def put(self, key, **others):
        self.update.update(others, **{key: self})
        return self.update


RAISING_SITES = {
    "weight.__float__": lambda d, value: d.add_edge(A, B, value),
    "size.__float__": lambda d, value: d.add_node(A, value.put("size")),
    "red.__index__": lambda d, value: d.add_node(A, value.put("red", label="a")),
    "blue.__index__": lambda d, value: d.add_node(A, value.put("blue", green=1)),
    "show_label.__bool__": lambda d, value: d.add_node(
        A, {"show_label": type("bool_", (), {"__module__": "numpy", "__bool__": lambda _: value.fail()})()}
    ),
}


class CustomError(Exception):
    pass


@pytest.mark.parametrize("site", RAISING_SITES.values(), ids=RAISING_SITES.keys())
@pytest.mark.parametrize("error_type", [ValueError, OverflowError, KeyError, CustomError])
@pytest.mark.parametrize("clears", [False, True], ids=["stays", "clears-its-dict"])
def test_exception_raised_by_a_conversion_reaches_the_caller_unchanged(site, error_type, clears):
    error = error_type("raised by the value")
    d = PyGraphDiff()
    with pytest.raises(error_type) as info:
        site(d, Raising(error, clears))
    assert info.value is error
    assert d.num_nodes() + d.num_edges() == 0
