"""The module's shape, the class's registration, construction and lifetime."""

import copy
import gc
import importlib
import os
import pickle
import platform
import subprocess
import sys
import weakref

import pytest

import quorl_api
from quorl_api import PyGraphDiff

PYPY = platform.python_implementation() == "PyPy"


def pypy_differs(reason):
    """Skips a check of behaviour that PyPy's C-API layer decides itself."""
    return pytest.mark.skipif(PYPY, reason="PyPy 7.3.11's C-API layer " + reason)


pypy_hides_method_docs = pypy_differs("shows no doc or text signature for methods of C types")

# The method table in its order: name, whether it is static, text signature.
METHOD_TABLE = [
    ("new_or_updated_nodes", False, "($self)"),
    ("deleted_nodes", False, "($self)"),
    ("new_or_updated_edges", False, "($self)"),
    ("deleted_edges", False, "($self)"),
    ("num_nodes", False, "($self)"),
    ("num_edges", False, "($self)"),
    ("add_node", False, "($self, id, update)"),
    ("delete_node", False, "($self, id)"),
    ("add_edge", False, "($self, from, to, weight)"),
    ("delete_edge", False, "($self, from, to)"),
    ("clear", False, "($self)"),
    ("to_bytes", False, "($self)"),
    ("from_bytes", True, "(bytes)"),
    ("add_edges", False, "($self, sources, targets, weights)"),
    ("delete_edges", False, "($self, sources, targets)"),
    ("delete_nodes", False, "($self, ids)"),
    ("add_nodes", False, "($self, ids, updates)"),
    ("new_or_updated_edge_arrays", False, "($self)"),
    ("deleted_edge_arrays", False, "($self)"),
    ("deleted_node_ids", False, "($self)"),
    ("new_or_updated_node_table", False, "($self)"),
    ("deleted_node_table", False, "($self)"),
    ("new_or_updated_edge_table", False, "($self)"),
    ("deleted_edge_table", False, "($self)"),
    ("merge", False, "($self, other)"),
]

PY_TPFLAGS_BASETYPE = 1 << 10
PY_TPFLAGS_HAVE_GC = 1 << 14


def test_module_exports_only_the_class():
    assert quorl_api.__name__ == "quorl_api"
    assert quorl_api.__doc__ == ""
    assert type(quorl_api.__all__) is list
    assert quorl_api.__all__ == ["PyGraphDiff"]
    assert quorl_api.PyGraphDiff is PyGraphDiff
    assert [name for name in dir(quorl_api) if not name.startswith("_")] == ["PyGraphDiff"]


@pytest.mark.parametrize(
    ("attribute", "expected"),
    [("__name__", "PyGraphDiff"), ("__qualname__", "PyGraphDiff"), ("__module__", "builtins")],
)
def test_class_names(attribute, expected):
    assert getattr(PyGraphDiff, attribute) == expected


def test_class_is_a_plain_type_on_object():
    assert type(PyGraphDiff) is type
    assert PyGraphDiff.__bases__ == (object,)
    # The flags the module gives the type, which both interpreters report.
    assert PyGraphDiff.__flags__ & PY_TPFLAGS_BASETYPE == 0
    assert PyGraphDiff.__flags__ & PY_TPFLAGS_HAVE_GC == 0


def test_class_text_signature():
    assert PyGraphDiff.__text_signature__ == "()"


@pypy_differs("reports None as the doc of a C type whose doc body is empty")
def test_class_doc_is_empty():
    assert PyGraphDiff.__doc__ == ""


def reimport():
    """Imports the module again as a new import would, then puts the first
    module object back so that later tests see the usual state."""
    first = sys.modules["quorl_api"]
    del sys.modules["quorl_api"]
    try:
        return importlib.import_module("quorl_api")
    finally:
        sys.modules["quorl_api"] = first


def test_reimport_creates_nothing_again():
    second = reimport()
    assert second.PyGraphDiff is PyGraphDiff
    assert second.__all__ == ["PyGraphDiff"]
    assert second.PyGraphDiff().num_nodes() == 0


@pytest.mark.skipif(
    PYPY,
    reason="PyPy 7.3.11 does not call the init function on a re-import; it builds a new module "
    "object around a copy of the first one's namespace",
)
def test_reimport_returns_the_same_module():
    # CPython calls the init function again for a module without per-module
    # state; only the init function's cache can hand back the same object.
    assert reimport() is quorl_api


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        ((1,), {}, "PyGraphDiff.__new__() takes 0 positional arguments but 1 was given"),
        ((1, 2), {}, "PyGraphDiff.__new__() takes 0 positional arguments but 2 were given"),
        ((), {"x": 1}, "PyGraphDiff.__new__() got an unexpected keyword argument 'x'"),
        ((), {"": 1}, "PyGraphDiff.__new__() got an unexpected keyword argument ''"),
        ((), {"é": 1}, "PyGraphDiff.__new__() got an unexpected keyword argument 'é'"),
        # The first keyword the call gives is the one reported.
        ((), {"b": 1, "a": 2}, "PyGraphDiff.__new__() got an unexpected keyword argument 'b'"),
        # Too many positional arguments are reported before any keyword.
        ((1,), {"x": 1}, "PyGraphDiff.__new__() takes 0 positional arguments but 1 was given"),
    ],
)
def test_constructor_takes_no_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as raised:
        PyGraphDiff(*args, **kwargs)
    assert type(raised.value) is TypeError
    assert str(raised.value) == message


@pytest.mark.parametrize("other", [int, bytes, object, type])
def test_constructor_refuses_classes_outside_its_family(other):
    # The diff would not fit into their instances.
    with pytest.raises(TypeError):
        PyGraphDiff.__new__(other)


def test_new_instance_is_empty_and_clear_keeps_it_so():
    diff = PyGraphDiff()
    assert type(diff) is PyGraphDiff
    assert (diff.num_nodes(), diff.num_edges()) == (0, 0)
    assert type(diff.num_nodes()) is int
    assert diff.clear() is None
    assert diff.clear() is None
    assert (diff.num_nodes(), diff.num_edges()) == (0, 0)


@pytest.mark.parametrize(
    "name", [name for name, _, signature in METHOD_TABLE if signature == "($self)"]
)
@pytest.mark.parametrize(("args", "kwargs"), [((1,), {}), ((), {"x": 1})])
def test_no_argument_methods_reject_arguments(name, args, kwargs):
    with pytest.raises(TypeError):
        getattr(PyGraphDiff(), name)(*args, **kwargs)


def test_method_table_order():
    table_names = [name for name, _, _ in METHOD_TABLE]
    listed = [name for name in PyGraphDiff.__dict__ if not name.startswith("_")]
    assert listed == table_names


@pytest.mark.parametrize("name", [name for name, static, _ in METHOD_TABLE if not static])
def test_instance_methods_are_method_descriptors(name):
    assert type(PyGraphDiff.__dict__[name]).__name__ == "method_descriptor"


@pypy_hides_method_docs
@pytest.mark.parametrize(("name", "static", "signature"), METHOD_TABLE)
def test_method_docs_are_only_text_signatures(name, static, signature):
    method = getattr(PyGraphDiff, name)
    assert method.__text_signature__ == signature
    assert method.__doc__ is None  # nothing follows the signature


@pypy_differs("lets such types be subclassed")
def test_class_cannot_be_subclassed():
    with pytest.raises(TypeError):

        class Derived(PyGraphDiff):
            pass


@pypy_differs("gives instances of such types a __dict__ that takes new attributes")
def test_instances_take_no_new_attributes_and_have_no_dict():
    diff = PyGraphDiff()
    with pytest.raises(AttributeError):
        diff.x = 1
    assert not hasattr(diff, "__dict__")
    assert PyGraphDiff.__dictoffset__ == 0


def test_pickling_adds_nothing_to_the_module():
    module_attributes = dict(vars(quorl_api))
    pickle.loads(pickle.dumps(PyGraphDiff()))
    copy.deepcopy(PyGraphDiff())
    assert dict(vars(quorl_api)) == module_attributes


@pypy_differs("gives instances of such types weak-reference support")
def test_instances_refuse_weak_references():
    with pytest.raises(TypeError):
        weakref.ref(PyGraphDiff())
    assert PyGraphDiff.__weakrefoffset__ == 0


@pytest.mark.skipif(PYPY, reason="PyPy has no gc.is_tracked")
def test_instances_are_not_tracked_by_the_cycle_collector():
    assert not gc.is_tracked(PyGraphDiff())


# object.__new__ would make an instance whose diff was never constructed.
# CPython refuses to; PyPy 7.3.11 makes one, zero-filled, and every method
# must then refuse it instead of using the diff that is not there. Run in a
# child process so that a crash fails this test instead of the whole run.
BYPASSED_CONSTRUCTOR = """
import gc, sys
from quorl_api import PyGraphDiff
try:
    diff = object.__new__(PyGraphDiff)
except TypeError:
    sys.exit(0)
zero = bytes(16)
calls = [
    ("num_nodes",), ("num_edges",), ("new_or_updated_nodes",), ("deleted_nodes",),
    ("new_or_updated_edges",), ("deleted_edges",), ("to_bytes",),
    ("add_node", zero, {"label": "a"}), ("delete_node", zero), ("add_edge", zero, zero, 1.0),
    ("delete_edge", zero, zero), ("clear",),
]
for name, *args in calls:
    try:
        getattr(diff, name)(*args)
    except TypeError:
        continue
    sys.exit(name + " ran on an instance made without the constructor")
del diff
gc.collect()
"""


def test_instance_made_without_the_constructor_is_refused():
    completed = subprocess.run(
        [sys.executable, "-c", BYPASSED_CONSTRUCTOR], capture_output=True, text=True, timeout=120
    )
    assert completed.returncode == 0, completed.stderr


def create_and_drop_instances(count):
    for _ in range(count // 2):
        PyGraphDiff().num_nodes()
    batch = [PyGraphDiff() for _ in range(count - count // 2)]
    del batch


@pytest.mark.skipif(PYPY, reason="PyPy has no reference counts to read")
def test_instances_give_back_their_reference_to_the_class():
    create_and_drop_instances(1_000)
    before = sys.getrefcount(PyGraphDiff)
    create_and_drop_instances(100_000)
    assert sys.getrefcount(PyGraphDiff) == before


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(not PYPY, reason="CPython is checked through the class's reference count")
def test_instances_are_released_under_pypy():
    # An instance takes about 200 bytes; 100 000 that were never freed would
    # add some 20 MB in every round. PyPy's collector may grow its own heap
    # in a round or two (more often after a long test run) and then stays
    # flat, so two rounds come first and a leak shows as growth in every
    # round after them.
    for _ in range(2):
        create_and_drop_instances(100_000)
        gc.collect()
    sizes = [resident_bytes()]
    for _ in range(4):
        create_and_drop_instances(100_000)
        gc.collect()
        sizes.append(resident_bytes())
    growth = [after - before for before, after in zip(sizes, sizes[1:])]
    assert min(growth) < 4_000_000, growth
