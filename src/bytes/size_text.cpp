#include "bytes/size_text.hpp"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace quorl::detail {

namespace {

// The limits of the plain decimal layout for single precision; a wider type
// would use larger ones, but texts must match what other readers and writers
// of this form produce.
constexpr int kLargestPlainPoint = 13;
constexpr int kSmallestPlainPoint = -6;

struct ShortestDigits {
  std::string_view digits;  // d1..dn, no leading or trailing zeros
  int point = 0;            // p: the value is 0.d1..dn x 10^p
};

// std::to_chars without a precision gives the shortest digit string that
// reads back to the same float (the nearest one on a tie), so only its
// scientific layout "d.ddde+XX" needs taking apart.
ShortestDigits shortest_digits(float magnitude, char (&buffer)[32], char (&digits)[16]) {
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
  (void)error;  // 32 bytes hold every float in this layout
  std::size_t count = 0;
  const char* cursor = buffer;
  for (; cursor != end && *cursor != 'e'; ++cursor) {
    if (*cursor != '.') {
      digits[count++] = *cursor;
    }
  }
  while (count > 1 && digits[count - 1] == '0') {
    --count;
  }
  int exponent = 0;
  ++cursor;  // past 'e'
  if (cursor != end && *cursor == '+') {
    ++cursor;
  }
  std::from_chars(cursor, end, exponent);
  return {std::string_view(digits, count), exponent + 1};
}

void append_exponent(int exponent, std::string& out) {
  char buffer[8];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, exponent);
  (void)error;
  out.push_back('e');
  out.append(buffer, end);
}

}  // namespace

void append_size_text(float value, std::string& out) {
  if (std::signbit(value)) {
    out.push_back('-');
    value = -value;
  }
  if (value == 0.0F) {
    out.append("0.0");
    return;
  }
  char buffer[32];
  char digit_buffer[16];
  const auto [digits, point] = shortest_digits(value, buffer, digit_buffer);
  const int count = static_cast<int>(digits.size());
  if (point >= count && point <= kLargestPlainPoint) {
    out.append(digits);
    out.append(static_cast<std::size_t>(point - count), '0');
    out.append(".0");
  } else if (point > 0 && point <= kLargestPlainPoint) {
    out.append(digits.substr(0, static_cast<std::size_t>(point)));
    out.push_back('.');
    out.append(digits.substr(static_cast<std::size_t>(point)));
  } else if (point > kSmallestPlainPoint && point <= 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-point), '0');
    out.append(digits);
  } else if (count == 1) {
    out.append(digits);
    append_exponent(point - 1, out);
  } else {
    out.push_back(digits.front());
    out.push_back('.');
    out.append(digits.substr(1));
    append_exponent(point - 1, out);
  }
}

}  // namespace quorl::detail
