// The number form in which a node's size is written: the shortest decimal
// digits that read back to the same 32-bit value, laid out as a plain
// decimal for moderate magnitudes and with an exponent beyond them.
#pragma once

#include <string>

namespace quorl::detail {

// Appends the text of a finite `value`:
//   zero                       -> "0.0" or "-0.0"
//   0 <= k and p <= 13         -> digits, k zeros, ".0"    (1.0, 123456790.0)
//   0 < p <= 13                -> digits with a point      (1.5, 1234.5677)
//   -6 < p <= 0                -> "0.", -p zeros, digits   (0.1, 0.000001)
//   one digit                  -> "1e13", "1e-7"
//   otherwise                  -> "1.5e-7", "3.4028235e38"
// where the value is digits x 10^k with the shortest digit string and p is
// the number of digits plus k. The caller handles NaN and infinities.
void append_size_text(float value, std::string& out);

}  // namespace quorl::detail
