// Python numbers to the 32-bit floats that the diff stores (edge weights and
// node sizes), and back.
#pragma once

#include <Python.h>

#include <optional>

namespace quorl::python {

// Narrows a double to the nearest 32-bit float. A magnitude past the largest
// finite float rounds to an infinity of the same sign, a NaN stays a NaN.
[[nodiscard]] float narrow_to_float(double value) noexcept;

// Converts an exact `float` directly, anything else through PyFloat_AsDouble
// (which may run the value's __float__ or __index__), then narrows. Returns
// nullopt with the conversion's exception set when it fails.
[[nodiscard]] std::optional<float> read_float(PyObject* value);

}  // namespace quorl::python
