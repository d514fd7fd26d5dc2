// The quick way to a size's digits (for values near a short decimal)
// against the general search, on every value it might take: the floats
// nearest to short decimals of every magnitude it handles, their
// neighbours, and a sweep of the whole range.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "bytes/size_text.hpp"

namespace quorl {
namespace {

void expect_same_text(float value) {
  char quick[detail::kLongestSizeText];
  char searched[detail::kLongestSizeText];
  const std::string_view quick_text(quick, detail::write_size_text(value, quick) - quick);
  const std::string_view searched_text(
      searched, detail::write_size_text_by_search(value, searched) - searched);
  ASSERT_EQ(quick_text, searched_text) << "bits " << std::bit_cast<std::uint32_t>(value);
}

TEST(SizeText, QuickDigitsMatchTheSearchNearShortDecimals) {
  for (int decimals = 0; decimals <= 8; ++decimals) {
    const double scale = std::pow(10.0, decimals);
    for (std::uint32_t digits = 0; digits < 20'000; ++digits) {
      const auto value = static_cast<float>(digits / scale);
      const auto bits = std::bit_cast<std::uint32_t>(value);
      for (const std::uint32_t neighbour : {bits - 1, bits, bits + 1}) {
        // Below zero's bits lies NaN, which the writers leave to their caller.
        const auto near = std::bit_cast<float>(neighbour);
        if (std::isfinite(near)) {
          expect_same_text(near);
          expect_same_text(-near);
        }
      }
    }
  }
}

TEST(SizeText, QuickDigitsMatchTheSearchAcrossTheRange) {
  // Every 1031st bit pattern of the finite positive floats, and powers of
  // two (where the gap below is half the gap above).
  for (std::uint64_t bits = 1; bits < 0x7F800000U; bits += 1031) {
    expect_same_text(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
  }
  for (int exponent = -149; exponent <= 127; ++exponent) {
    const float power = std::ldexp(1.0F, exponent);
    expect_same_text(power);
    expect_same_text(std::nextafter(power, 0.0F));
    expect_same_text(std::nextafter(power, 1e30F));
  }
}

// Every finite float of either sign, about 2^32 conversions: minutes, so it
// runs only when asked for (--gtest_also_run_disabled_tests).
TEST(SizeText, DISABLED_QuickDigitsMatchTheSearchForEveryFloat) {
  for (std::uint64_t bits = 0; bits < 0x7F800000U; ++bits) {
    const float value = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
    expect_same_text(value);
    expect_same_text(-value);
  }
}

}  // namespace
}  // namespace quorl
