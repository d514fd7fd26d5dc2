#include "float_conversion.hpp"

#include <cmath>
#include <limits>

namespace quorl::python {

float narrow_to_float(double value) noexcept {
  constexpr double kLargest = std::numeric_limits<float>::max();
  // Halfway between the largest float and 2^128: from here on (ties go to
  // the even neighbour, 2^128) rounding to nearest overflows.
  constexpr double kOverflowThreshold = kLargest + 0x1p103;
  const double magnitude = std::fabs(value);
  if (magnitude <= kLargest || std::isnan(value)) {
    return static_cast<float>(value);
  }
  // Converting an out-of-range double is undefined in C++, so the rounding
  // that the hardware would do is spelled out.
  const float rounded = magnitude < kOverflowThreshold ? std::numeric_limits<float>::max()
                                                       : std::numeric_limits<float>::infinity();
  return std::signbit(value) ? -rounded : rounded;
}

std::optional<float> read_float(PyObject* value) {
  if (PyFloat_CheckExact(value)) {
    return narrow_to_float(PyFloat_AS_DOUBLE(value));
  }
  const double converted = PyFloat_AsDouble(value);
  if (converted == -1.0 && PyErr_Occurred() != nullptr) {
    return std::nullopt;
  }
  return narrow_to_float(converted);
}

}  // namespace quorl::python
