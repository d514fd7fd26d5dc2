// The number form in which a node's size is written: the shortest decimal
// digits that read back to the same 32-bit value, laid out as a plain
// decimal for moderate magnitudes and with an exponent beyond them.
#pragma once

#include <cstddef>

namespace quorl::detail {

// Room enough for the text of any finite size ("-0.0000012345678" is 17).
inline constexpr std::size_t kLongestSizeText = 24;

// Writes the text of a finite `value` at `out`, which has room for
// kLongestSizeText bytes, and returns the end of what it wrote:
//   zero                       -> "0.0" or "-0.0"
//   0 <= k and p <= 13         -> digits, k zeros, ".0"    (1.0, 123456790.0)
//   0 < p <= 13                -> digits with a point      (1.5, 1234.5677)
//   -6 < p <= 0                -> "0.", -p zeros, digits   (0.1, 0.000001)
//   one digit                  -> "1e13", "1e-7"
//   otherwise                  -> "1.5e-7", "3.4028235e38"
// where the value is digits x 10^k with the shortest digit string and p is
// the number of digits plus k. The caller handles NaN and infinities.
char* write_size_text(float value, char* out) noexcept;

// The same by the general search for the shortest digits alone, which
// write_size_text skips for values near a short decimal; for the tests.
char* write_size_text_by_search(float value, char* out) noexcept;

}  // namespace quorl::detail
