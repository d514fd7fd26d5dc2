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

constexpr std::array<std::uint64_t, 7> kPowersOfTen = {1,      10,      100,      1'000,
                                                       10'000, 100'000, 1'000'000};

// Most sizes are a short decimal: the float nearest to 2.5 or 4.7. Such a
// value has at most six decimals d such that some integer m, and only one,
// has m / 10^d within the interval of reals that round to the value; the
// fewest such decimals, with that m, are the shortest digits. The test is
// done in integers, in units of a quarter of the value's last place, where
// every quantity is exact; values it cannot settle (a tie on the interval's
// edge, two integers in reach, more than six decimals, a value too large or
// too small for a short decimal) go to the search. On success `scaled` is m
// and `decimals` is d.
bool near_short_decimal(float magnitude, std::uint64_t& scaled, int& decimals) noexcept {
  const auto bits = std::bit_cast<std::uint32_t>(magnitude);
  const auto biased = static_cast<int>(bits >> 23);
  const std::uint32_t fraction = bits & 0x7FFFFFU;
  // The value is significand x 2^-shift. From 2^24 on two integers are in
  // reach; below 2^-37 no six decimals reach it (nor does a subnormal).
  constexpr int kExponentBias = 150;  // 127 plus the 23 bits of the fraction
  const int shift = kExponentBias - biased;
  if (shift < 0 || shift > 60) {
    return false;
  }
  const std::uint64_t significand = fraction | 0x800000U;
  const int quarter_shift = shift + 2;
  const std::uint64_t one = std::uint64_t{1} << quarter_shift;  // 1 in quarter places
  for (int candidate = 0; candidate < static_cast<int>(kPowersOfTen.size()); ++candidate) {
    const std::uint64_t scale = kPowersOfTen[static_cast<std::size_t>(candidate)];
    // The value times 10^d, and the reach of its interval above and below
    // (half the gap to each neighbour; the gap below is half as wide at a
    // power of two), all in quarter places.
    const std::uint64_t exact = (significand * scale) << 2;
    const std::uint64_t above = 2 * scale;
    const std::uint64_t below = fraction == 0 ? scale : 2 * scale;
    if (above + below >= one) {
      return false;
    }
    const std::uint64_t nearest = (exact + one / 2) >> quarter_shift;
    const std::uint64_t at = nearest << quarter_shift;
    const std::uint64_t gap = at >= exact ? at - exact : exact - at;
    const std::uint64_t reach = at >= exact ? above : below;
    if (gap == reach) {
      return false;
    }
    if (gap < reach && nearest >= 1) {
      scaled = nearest;
      decimals = candidate;
      return true;
    }
  }
  return false;
}

// m / 10^d as a plain decimal: at least one digit before the point, and
// ".0" when there are no decimals. m is below 2^24 times 10^6.
char* put_scaled(std::uint64_t scaled, int decimals, char* out) noexcept {
  int count = 1;
  for (std::uint64_t rest = scaled / 10; rest != 0; rest /= 10) {
    ++count;
  }
  const int whole = count > decimals ? count - decimals : 1;
  char* const point = out + whole;
  char* digit = point + decimals;
  for (; digit != point; --digit) {
    *digit = static_cast<char>('0' + scaled % 10);
    scaled /= 10;
  }
  *point = '.';
  for (digit = point; digit != out;) {
    *--digit = static_cast<char>('0' + scaled % 10);
    scaled /= 10;
  }
  if (decimals == 0) {
    point[1] = '0';
    return point + 2;
  }
  return point + decimals + 1;
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
  std::uint64_t scaled = 0;
  int decimals = 0;
  if (!near_short_decimal(std::fabs(value), scaled, decimals)) {
    return write_size_text_by_search(value, out);
  }
  if (std::signbit(value)) {
    *out++ = '-';
  }
  return put_scaled(scaled, decimals, out);
}

}  // namespace quorl::detail
