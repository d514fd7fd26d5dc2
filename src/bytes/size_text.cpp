#include "bytes/size_text.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
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
ShortestDigits shortest_digits(float magnitude, char (&buffer)[32], char (&digits)[16]) noexcept {
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

char* put(std::string_view text, char* out) noexcept {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* put_zeros(int count, char* out) noexcept {
  std::memset(out, '0', static_cast<std::size_t>(count));
  return out + count;
}

char* put_exponent(int exponent, char* out) noexcept {
  *out++ = 'e';
  return std::to_chars(out, out + 8, exponent).ptr;
}

char* lay_out(ShortestDigits shortest, char* out) noexcept {
  const auto [digits, point] = shortest;
  const int count = static_cast<int>(digits.size());
  if (point >= count && point <= kLargestPlainPoint) {
    out = put_zeros(point - count, put(digits, out));
    return put(".0", out);
  }
  if (point > 0 && point <= kLargestPlainPoint) {
    out = put(digits.substr(0, static_cast<std::size_t>(point)), out);
    *out++ = '.';
    return put(digits.substr(static_cast<std::size_t>(point)), out);
  }
  if (point > kSmallestPlainPoint && point <= 0) {
    return put(digits, put_zeros(-point, put("0.", out)));
  }
  *out++ = digits.front();
  if (count > 1) {
    *out++ = '.';
    out = put(digits.substr(1), out);
  }
  return put_exponent(point - 1, out);
}

constexpr std::array<double, 7> kPowersOfTen = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};

// Most sizes are a short decimal: the float nearest to 2.5 or 4.7. Such a
// value has at most six decimals d such that some integer m, and only one,
// has m / 10^d within the interval of reals that round to the value; the
// fewest such decimals, with that m, are the shortest digits. Every step is
// exact in double (24 bits of value times at most 20 bits of power of ten),
// so the test is exact; values it cannot settle (a tie on the interval's
// edge, two integers in reach, more than six decimals) go to the search.
// On success `scaled` is m and `decimals` is d.
bool near_short_decimal(float magnitude, std::uint64_t& scaled, int& decimals) noexcept {
  const auto bits = std::bit_cast<std::uint32_t>(magnitude);
  const double value = magnitude;
  // Half the gap to each neighbour: the interval's reach below and above
  // (they differ at a power of two). The largest float has infinity above.
  const double below = (value - static_cast<double>(std::bit_cast<float>(bits - 1))) / 2;
  const double above = (static_cast<double>(std::bit_cast<float>(bits + 1)) - value) / 2;
  for (int candidate = 0; candidate < static_cast<int>(kPowersOfTen.size()); ++candidate) {
    const double scale = kPowersOfTen[static_cast<std::size_t>(candidate)];
    if ((below + above) * scale >= 1.0) {
      return false;
    }
    const double exact = value * scale;
    const double nearest = std::floor(exact + 0.5);
    const double distance = nearest - exact;
    const double reach = distance >= 0 ? above * scale : below * scale;
    const double gap = std::fabs(distance);
    if (gap == reach) {
      return false;
    }
    if (gap < reach && nearest >= 1.0) {
      scaled = static_cast<std::uint64_t>(nearest);
      decimals = candidate;
      return true;
    }
  }
  return false;
}

// m / 10^d as a plain decimal: at least one digit before the point, and
// ".0" when there are no decimals.
char* put_scaled(std::uint64_t scaled, int decimals, char* out) noexcept {
  char digits[24];
  char* first = digits + sizeof digits;
  int written = 0;
  do {
    *--first = static_cast<char>('0' + scaled % 10);
    scaled /= 10;
    ++written;
  } while (scaled != 0 || written <= decimals);
  const auto whole = static_cast<std::size_t>(written - decimals);
  out = put(std::string_view(first, whole), out);
  *out++ = '.';
  if (decimals == 0) {
    *out++ = '0';
    return out;
  }
  return put(std::string_view(first + whole, static_cast<std::size_t>(decimals)), out);
}

}  // namespace

char* write_size_text_by_search(float value, char* out) noexcept {
  if (std::signbit(value)) {
    *out++ = '-';
    value = -value;
  }
  if (value == 0.0F) {
    return put("0.0", out);
  }
  char buffer[32];
  char digit_buffer[16];
  return lay_out(shortest_digits(value, buffer, digit_buffer), out);
}

char* write_size_text(float value, char* out) noexcept {
  const float magnitude = std::fabs(value);
  std::uint64_t scaled = 0;
  int decimals = 0;
  if (magnitude == 0.0F || !near_short_decimal(magnitude, scaled, decimals)) {
    return write_size_text_by_search(value, out);
  }
  if (std::signbit(value)) {
    *out++ = '-';
  }
  return put_scaled(scaled, decimals, out);
}

}  // namespace quorl::detail
