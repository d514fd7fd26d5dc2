// The PyGraphDiff class: its constructor, deallocation, method table and
// the type object built from them once per process.
#include <algorithm>
#include <array>
#include <new>

#include "binding.hpp"
#include "instance.hpp"
#include "method_entry.hpp"
#include "methods.hpp"
#include "module.hpp"

namespace quorl::python {

namespace {

PyTypeObject* the_type = nullptr;

#if defined(PYPY_VERSION)
Py_ssize_t probed_type_references = 1;
#endif

}  // namespace

PyObject* allocate_instance(PyTypeObject* type) {
  const allocfunc alloc = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
  return alloc(type, 0);
}

// CPython has taken one reference to the class for every instance of a heap
// type since 3.8; PyPy's C-API layer has differed between releases, so
// there the type is asked once, when it is created, instead of assumed.
void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
#if defined(PYPY_VERSION)
  const Py_ssize_t taken = probed_type_references;
#else
  const Py_ssize_t taken = 1;
#endif
  for (Py_ssize_t reference = 0; reference < taken; ++reference) {
    Py_DECREF(type);
  }
}

namespace {

constexpr Signature kConstructor{"PyGraphDiff.__new__()", {}};

PyObject* allocate(PyTypeObject* type) { return allocate_instance(type); }

// A new instance of `type` that owns `diff`, or empty with the allocator's
// exception set.
PyRef new_instance(PyTypeObject* type, Diff&& diff) {
  PyRef self = PyRef::steal(allocate(type));
  if (self) {
    auto* instance = reinterpret_cast<GraphDiffObject*>(self.get());
    new (&instance->diff) Diff(std::move(diff));
    instance->borrow = 0;
    instance->constructed = true;
  }
  return self;
}

PyObject* graph_diff_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return entry_point([&]() -> PyRef {
    // CPython refuses PyGraphDiff.__new__(X) for a class X outside this one's
    // family before this runs; PyPy does not, and laying a diff out in X's
    // smaller instance would write past its end.
    if (type != the_type && !PyType_IsSubtype(type, the_type)) {
      PyErr_Format(PyExc_TypeError, "PyGraphDiff.__new__(%s): %s is not a subtype of PyGraphDiff",
                   type->tp_name, type->tp_name);
      return {};
    }
    if (!bind_tuple(kConstructor, args, kwargs, {})) {
      return {};
    }
    return new_instance(type, Diff());
  });
}

void graph_diff_dealloc(PyObject* self) {
  auto* instance = reinterpret_cast<GraphDiffObject*>(self);
  if (instance->constructed) {
    instance->diff.~Diff();
  }
  free_instance(self);
}

#if defined(PYPY_VERSION)
// Allocates and frees one bare instance, counts the references to the class
// that the allocation took and gives exactly those back. Returns false with
// an exception set when the allocation fails.
bool probe_type_references(PyTypeObject* type, Py_ssize_t& taken) {
  const Py_ssize_t before = Py_REFCNT(type);
  PyObject* probe = allocate(type);
  if (probe == nullptr) {
    return false;
  }
  taken = std::max<Py_ssize_t>(Py_REFCNT(type) - before, 0);
  type->tp_free(probe);
  for (Py_ssize_t reference = 0; reference < taken; ++reference) {
    Py_DECREF(type);
  }
  return true;
}
#endif

constexpr int kNoArgs = METH_NOARGS;

// Each doc string is only the method's text signature.
PyMethodDef methods[] = {
    {"new_or_updated_nodes", new_or_updated_nodes, kNoArgs, "new_or_updated_nodes($self)\n--\n\n"},
    {"deleted_nodes", deleted_nodes, kNoArgs, "deleted_nodes($self)\n--\n\n"},
    {"new_or_updated_edges", new_or_updated_edges, kNoArgs, "new_or_updated_edges($self)\n--\n\n"},
    {"deleted_edges", deleted_edges, kNoArgs, "deleted_edges($self)\n--\n\n"},
    {"num_nodes", num_nodes, kNoArgs, "num_nodes($self)\n--\n\n"},
    {"num_edges", num_edges, kNoArgs, "num_edges($self)\n--\n\n"},
    {"add_node", as_table_entry(add_node), kFastCall, "add_node($self, id, update)\n--\n\n"},
    {"delete_node", as_table_entry(delete_node), kFastCall, "delete_node($self, id)\n--\n\n"},
    {"add_edge", as_table_entry(add_edge), kFastCall, "add_edge($self, from, to, weight)\n--\n\n"},
    {"delete_edge", as_table_entry(delete_edge), kFastCall, "delete_edge($self, from, to)\n--\n\n"},
    {"clear", clear, kNoArgs, "clear($self)\n--\n\n"},
    {"to_bytes", to_bytes, kNoArgs, "to_bytes($self)\n--\n\n"},
    {"from_bytes", as_table_entry(from_bytes), kFastCall | METH_STATIC,
     "from_bytes(bytes)\n--\n\n"},
    // Bulk editing and columnar readings.
    {"add_edges", as_table_entry(add_edges), kFastCall,
     "add_edges($self, sources, targets, weights)\n--\n\n"},
    {"delete_edges", as_table_entry(delete_edges), kFastCall,
     "delete_edges($self, sources, targets)\n--\n\n"},
    {"delete_nodes", as_table_entry(delete_nodes), kFastCall, "delete_nodes($self, ids)\n--\n\n"},
    {"add_nodes", as_table_entry(add_nodes), kFastCall, "add_nodes($self, ids, updates)\n--\n\n"},
    {"new_or_updated_edge_arrays", new_or_updated_edge_arrays, kNoArgs,
     "new_or_updated_edge_arrays($self)\n--\n\n"},
    {"deleted_edge_arrays", deleted_edge_arrays, kNoArgs, "deleted_edge_arrays($self)\n--\n\n"},
    {"deleted_node_ids", deleted_node_ids, kNoArgs, "deleted_node_ids($self)\n--\n\n"},
    // Arrow tables.
    {"new_or_updated_node_table", new_or_updated_node_table, kNoArgs,
     "new_or_updated_node_table($self)\n--\n\n"},
    {"deleted_node_table", deleted_node_table, kNoArgs, "deleted_node_table($self)\n--\n\n"},
    {"new_or_updated_edge_table", new_or_updated_edge_table, kNoArgs,
     "new_or_updated_edge_table($self)\n--\n\n"},
    {"deleted_edge_table", deleted_edge_table, kNoArgs, "deleted_edge_table($self)\n--\n\n"},
    {"merge", as_table_entry(merge), kFastCall, "merge($self, other)\n--\n\n"},
    {"__reduce_ex__", reduce_ex, METH_O, "__reduce_ex__($self, protocol, /)\n--\n\n"},
    {"__sizeof__", size_of, kNoArgs, "__sizeof__($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// The class name, the text signature "()", and an empty doc body.
char class_doc[] = "PyGraphDiff()\n--\n\n";

PyType_Slot slots[] = {
    {Py_tp_doc, class_doc},
    {Py_tp_methods, methods},
    {Py_tp_new, reinterpret_cast<void*>(graph_diff_new)},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(graph_diff_dealloc)},
    {0, nullptr},
};

// No Py_TPFLAGS_BASETYPE: the class cannot be subclassed. No GC tracking: an
// instance holds no Python objects. No dict or weak-reference slots.
PyType_Spec spec = {
    "builtins.PyGraphDiff", static_cast<int>(sizeof(GraphDiffObject)), 0, Py_TPFLAGS_DEFAULT, slots,
};

}  // namespace

PyTypeObject* graph_diff_type() noexcept { return the_type; }

void forget_graph_diff_type() noexcept { the_type = nullptr; }

PyTypeObject* get_or_create_graph_diff_type() {
  if (the_type != nullptr) {
    return the_type;
  }
  PyObject* created = PyType_FromSpec(&spec);
  if (created == nullptr) {
    return nullptr;
  }
#if defined(PYPY_VERSION)
  Py_ssize_t taken = 0;
  if (!probe_type_references(reinterpret_cast<PyTypeObject*>(created), taken)) {
    Py_DECREF(created);
    return nullptr;
  }
#endif
  if (the_type != nullptr) {
    // Another first use finished while this one ran: keep one type object.
    Py_DECREF(created);
    return the_type;
  }
#if defined(PYPY_VERSION)
  probed_type_references = taken;
#endif
  the_type = reinterpret_cast<PyTypeObject*>(created);  // kept for the life of the interpreter
  return the_type;
}

PyRef new_graph_diff_object(Diff diff) { return new_instance(the_type, std::move(diff)); }

}  // namespace quorl::python
