// Python numbers to the 32-bit floats that the diff stores (edge weights and
// node sizes), and back.
#pragma once

#include <Python.h>

#include <optional>

#include "node_update/float_narrowing.hpp"

namespace quorl::python {

// Converts an exact `float` directly, anything else through PyFloat_AsDouble
// (which may run the value's __float__ or __index__), then narrows. Returns
// nullopt with the conversion's exception set when it fails.
[[nodiscard]] std::optional<float> read_float(PyObject* value);

}  // namespace quorl::python
