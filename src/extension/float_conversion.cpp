#include "float_conversion.hpp"

#include "py_ref.hpp"

namespace quorl::python {

namespace {

// Whether the type or a base defines __float__, found in the types'
// dictionaries so that no Python code runs. Only objects with __index__
// and no float or int type ask; the name is made for the question.
bool type_defines_float(PyObject* value) {
  const PyRef name = PyRef::steal(PyUnicode_InternFromString("__float__"));
  if (!name) {
    PyErr_Clear();
    return true;  // let PyFloat_AsDouble decide (and fail alike)
  }
  return _PyType_Lookup(Py_TYPE(value), name.get()) != nullptr;
}

// CPython's PyFloat_AsDouble, with each step taken by a call that behaves
// the same under PyPy: PyPy's version calls a float subclass's __float__
// instead of reading its value, and never falls back to __index__.
std::optional<double> as_double(PyObject* value) {
  if (PyFloat_Check(value)) {
    // The macro is a call into PyPy's C-API layer; the field is the same.
    return reinterpret_cast<PyFloatObject*>(value)->ob_fval;
  }
  if (!PyLong_CheckExact(value) && PyIndex_Check(value) && !type_defines_float(value)) {
    const PyRef index = PyRef::steal(PyNumber_Index(value));
    if (!index) {
      return std::nullopt;
    }
    const double converted = PyLong_AsDouble(index.get());
    if (converted == -1.0 && PyErr_Occurred() != nullptr) {
      return std::nullopt;
    }
    return converted;
  }
  const double converted = PyFloat_AsDouble(value);
  if (converted == -1.0 && PyErr_Occurred() != nullptr) {
    return std::nullopt;
  }
  return converted;
}

}  // namespace

std::optional<float> read_float(PyObject* value) {
  return as_double(value).transform(narrow_to_float);
}

}  // namespace quorl::python
