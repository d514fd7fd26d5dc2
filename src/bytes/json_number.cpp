#include "bytes/json_number.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

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
// small): its decimal point lies after its first significant digit. Only
// values beyond about 1e308 or below about 1e-308 get here, so the sign of
// that position decides. The exponent saturates so that any digit count is
// safe.
bool is_too_large_for_double(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '-') {
    text.remove_prefix(1);
  }
  const std::size_t integer_end = text.find_first_of(".eE");
  const std::string_view integer_part = text.substr(0, integer_end);
  std::string_view fraction_part;
  std::int64_t exponent = 0;
  if (integer_end != std::string_view::npos) {
    std::string_view rest = text.substr(integer_end);
    if (rest.front() == '.') {
      const std::size_t fraction_end = rest.find_first_of("eE");
      fraction_part =
          rest.substr(1, fraction_end == std::string_view::npos ? rest.npos : fraction_end - 1);
      rest =
          fraction_end == std::string_view::npos ? std::string_view{} : rest.substr(fraction_end);
    }
    if (!rest.empty()) {
      rest.remove_prefix(1);  // 'e' or 'E'
      const bool negative = rest.front() == '-';
      if (rest.front() == '-' || rest.front() == '+') {
        rest.remove_prefix(1);
      }
      constexpr std::int64_t kSaturated = 1'000'000'000;
      for (const char digit : rest) {
        exponent = std::min<std::int64_t>(exponent * 10 + (digit - '0'), kSaturated);
      }
      exponent = negative ? -exponent : exponent;
    }
  }
  if (integer_part != "0") {
    return exponent + static_cast<std::int64_t>(integer_part.size()) > 0;
  }
  const std::size_t first_significant = fraction_part.find_first_not_of('0');
  if (first_significant == std::string_view::npos) {
    return false;  // a zero, however large its exponent
  }
  const auto leading_zeros = static_cast<std::int64_t>(first_significant);
  return exponent - leading_zeros > 0;
}

// Rounds to nearest like a float conversion would, without leaving the
// defined range of static_cast: at or beyond halfway between the largest
// float and 2^128 the result is infinity.
float narrow_to_float(double value) noexcept {
  constexpr double kLargest = std::numeric_limits<float>::max();
  constexpr double kRoundsToInfinity = 0x1.ffffffp127;
  const float sign = std::signbit(value) ? -1.0F : 1.0F;
  const double magnitude = std::fabs(value);
  if (magnitude >= kRoundsToInfinity) {
    return sign * std::numeric_limits<float>::infinity();
  }
  if (magnitude > kLargest) {
    return sign * std::numeric_limits<float>::max();
  }
  return static_cast<float>(value);
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
