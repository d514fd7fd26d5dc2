#include "float_conversion.hpp"

#include <cmath>
#include <limits>

#include "py_ref.hpp"

namespace quorl::python {

float narrow_to_float(double value) noexcept {
  constexpr double largest = std::numeric_limits<float>::max();
  // Halfway between the largest float and 2^128: from here on (ties go to
  // the even neighbour, 2^128) rounding to nearest overflows.
  constexpr double overflow_threshold = largest + 0x1p103;
  const double magnitude = std::fabs(value);
  if (magnitude <= largest || std::isnan(value)) {
    return static_cast<float>(value);
  }
  // Converting an out-of-range double is undefined in C++, so the rounding
  // that the hardware would do is spelled out.
  const float rounded = magnitude < overflow_threshold ? std::numeric_limits<float>::max()
                                                       : std::numeric_limits<float>::infinity();
  return std::signbit(value) ? -rounded : rounded;
}

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
