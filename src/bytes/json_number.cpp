#include "bytes/json_number.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

#include "node_update/float_narrowing.hpp"

namespace quorl::detail {

namespace {

template <class Integer>
std::optional<Integer> whole_integer(std::string_view text) noexcept {
  Integer value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// Whether a number that a double cannot hold is too large (rather than too
// small). Only magnitudes beyond about 1e308 or below about 1e-308 get here,
// so it is enough to know whether the magnitude is at least 1: whether the
// decimal point, moved by the exponent, lies after the first significant
// digit. The exponent saturates, so any number of digits is safe.
bool is_too_large_for_double(std::string_view text) noexcept {
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t index = !text.empty() && text.front() == '-' ? 1 : 0;
  std::int64_t point = 0;  // decimal point position after the first significant digit
  bool significant = false;
  for (; index < text.size() && is_digit(text[index]); ++index) {
    significant = significant || text[index] != '0';
    point += significant ? 1 : 0;
  }
  if (index < text.size() && text[index] == '.') {
    for (++index; index < text.size() && is_digit(text[index]); ++index) {
      if (!significant && text[index] == '0') {
        --point;
      }
      significant = significant || text[index] != '0';
    }
  }
  if (!significant) {
    return false;  // a zero, however large its exponent
  }
  std::int64_t exponent = 0;
  bool negative_exponent = false;
  if (index < text.size()) {  // 'e' or 'E', then an optional sign and digits
    ++index;
    negative_exponent = text[index] == '-';
    index += text[index] == '-' || text[index] == '+' ? 1 : 0;
    constexpr std::int64_t kSaturated = 1'000'000'000;
    for (; index < text.size(); ++index) {
      exponent = std::min<std::int64_t>(exponent * 10 + (text[index] - '0'), kSaturated);
    }
  }
  return point + (negative_exponent ? -exponent : exponent) > 0;
}

}  // namespace

std::optional<float> size_from_number(const NumberToken& token) noexcept {
  if (token.integral && token.text != "-0") {
    if (token.negative) {
      if (const auto value = whole_integer<std::int64_t>(token.text)) {
        return static_cast<float>(*value);
      }
    } else if (const auto value = whole_integer<std::uint64_t>(token.text)) {
      return static_cast<float>(*value);
    }
  }
  double value = 0.0;
  const char* last = token.text.data() + token.text.size();
  const auto [end, error] = std::from_chars(token.text.data(), last, value);
  if (error == std::errc::result_out_of_range) {
    if (is_too_large_for_double(token.text)) {
      return std::nullopt;
    }
    value = token.negative ? -0.0 : 0.0;
  } else if (error != std::errc{} || end != last) {
    return std::nullopt;
  }
  return narrow_to_float(value);
}

std::optional<std::uint8_t> colour_from_number(const NumberToken& token) noexcept {
  // The grammar already rules out leading zeros, so more than three digits
  // is always above 255.
  if (token.negative || !token.integral || token.text.size() > 3) {
    return std::nullopt;
  }
  unsigned value = 0;
  for (const char digit : token.text) {
    value = value * 10 + static_cast<unsigned>(digit - '0');
  }
  if (value > 255) {
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}

}  // namespace quorl::detail
