// The module's entry: PyInit_quorl_api builds the module object once per
// interpreter and hands the same object to every later initialisation.
//
// The module, its class and its interned keys are kept in process-wide
// variables, which suits one interpreter at a time and no more:
//  - A sub-interpreter is refused with ImportError. Handing it the main
//    interpreter's objects would let it wipe them when it is destroyed (it
//    clears every module it imported), and giving it objects of its own
//    would need per-interpreter state behind every method: a cost on every
//    call for a use nobody has asked for.
//  - An embedding host may finalise the interpreter and start a new one.
//    The kept objects die with the old interpreter, so the module asks to
//    be told at the end of finalisation and forgets them then; the next
//    import builds everything anew.
#include <Python.h>

#include "errors.hpp"
#include "methods.hpp"
#include "module.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

PyObject* the_module = nullptr;

// Private: what pickles name to rebuild a diff (see pickling.cpp).
PyMethodDef module_functions[] = {
    {"_graph_diff_from_buffer", graph_diff_from_buffer, METH_O,
     "_graph_diff_from_buffer(buffer, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "quorl_api",
    "",  // doc
    0,   // no per-module state
    module_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

constexpr int kApiVersion = 1013;

// The module's `__all__` list, created when the module has none yet.
PyRef all_list(PyObject* module) {
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (all || !PyErr_ExceptionMatches(PyExc_AttributeError)) {
    return all;
  }
  PyErr_Clear();
  all = PyRef::steal(PyList_New(0));
  if (all && PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
    return {};
  }
  return all;
}

bool populate(PyObject* module, PyTypeObject* type) {
  // The module's doc is the empty text. PyPy leaves an empty doc unset (the
  // module type's own doc then shows through), so it is set explicitly.
  const PyRef doc = PyRef::steal(PyUnicode_FromString(""));
  if (!doc || PyObject_SetAttrString(module, "__doc__", doc.get()) < 0) {
    return false;
  }
  const PyRef all = all_list(module);
  if (!all) {
    return false;
  }
  const PyRef name = PyRef::steal(PyUnicode_FromString("PyGraphDiff"));
  if (!name || PyList_Append(all.get(), name.get()) < 0) {
    return false;
  }
  return PyObject_SetAttrString(module, "PyGraphDiff", reinterpret_cast<PyObject*>(type)) == 0;
}

#if !defined(PYPY_VERSION)
// Runs at the very end of Py_Finalize, when no Python object may be touched:
// what was kept belonged to the interpreter just finalised, and is dropped
// without a release.
bool forget_registered = false;

void forget_interpreter_objects() {
  the_module = nullptr;
  forget_graph_diff_type();
  forget_cached_objects();
  forget_registered = false;
}

// Refuses sub-interpreters, and makes sure the kept objects are forgotten
// when this interpreter is finalised. Returns false with ImportError set.
bool check_interpreter() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError,
                    "quorl_api cannot be imported in a sub-interpreter: its module and class "
                    "belong to the main interpreter");
    return false;
  }
  if (!forget_registered) {
    if (Py_AtExit(forget_interpreter_objects) != 0) {
      PyErr_SetString(PyExc_ImportError,
                      "quorl_api cannot register its clean-up for the end of the interpreter");
      return false;
    }
    forget_registered = true;
  }
  return true;
}
#else
// PyPy has a single interpreter per process, and no finalisation after which
// another one starts.
bool check_interpreter() { return true; }
#endif

PyObject* initialise() {
  if (!check_interpreter()) {
    return nullptr;
  }
  if (the_module != nullptr) {
    Py_INCREF(the_module);
    return the_module;
  }
  PyRef module = PyRef::steal(PyModule_Create2(&module_definition, kApiVersion));
  if (!module) {
    return nullptr;
  }
  PyTypeObject* type = get_or_create_graph_diff_type();
  if (type == nullptr || !populate(module.get(), type)) {
    return nullptr;  // the new module is released; a later import starts again
  }
  if (the_module == nullptr) {
    the_module = module.get();
    Py_INCREF(the_module);  // kept for the life of the interpreter
    return module.release();
  }
  // Another first initialisation finished while this one ran: keep one.
  Py_INCREF(the_module);
  return the_module;
}

}  // namespace

}  // namespace quorl::python

PyMODINIT_FUNC PyInit_quorl_api(void) {
  return quorl::python::guard_entry([] { return quorl::python::initialise(); });
}
