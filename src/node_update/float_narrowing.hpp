// Narrowing a double to the 32-bit float that the diff stores (node sizes
// and edge weights), whether it comes from Python or from a node's text.
#pragma once

#include <cmath>
#include <limits>

namespace quorl {

// The nearest 32-bit float. A magnitude past the largest finite float
// rounds to an infinity of the same sign, a NaN stays a NaN.
[[nodiscard]] inline float narrow_to_float(double value) noexcept {
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

}  // namespace quorl
