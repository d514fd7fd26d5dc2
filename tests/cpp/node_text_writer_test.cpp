// The writer's exact output, and the number form of sizes as a property:
// every finite float is written with the shortest digits that read back to
// the same bits.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/node_text.hpp"
#include "node_fields.hpp"

namespace quorl {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

struct WrittenCase {
  const char* name;
  testing::NodeFields update;
  std::string text;
};

class WrittenText : public ::testing::TestWithParam<WrittenCase> {};

TEST_P(WrittenText, IsExact) {
  EXPECT_EQ(write_node_text(testing::make_update(GetParam().update)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Records, WrittenText,
    ::testing::Values(
        WrittenCase{"empty", {}, "{}"},
        WrittenCase{"every_field", testing::every_field(), testing::kEveryFieldText},
        WrittenCase{"show_label_false_only", {.show_label = false}, R"({"showLabel":false})"},
        WrittenCase{"empty_strings", {.label = "", .url = ""}, R"({"label":"","url":""})"},
        WrittenCase{"colour_digits",
                    {.red = 0, .green = 10, .blue = 255},
                    R"({"red":0,"green":10,"blue":255})"},
        WrittenCase{"colour_two_and_three_digits",
                    {.red = 99, .green = 100, .blue = 9},
                    R"({"red":99,"green":100,"blue":9})"},
        WrittenCase{"escapes",
                    {.label = "\"\\\n\x1f\b\t\f\r\x0b\x7f/"},
                    R"({"label":"\"\\\n\u001f\b\t\f\r\u000b)"
                    "\x7f"
                    R"(/"})"},
        WrittenCase{"nul_character", {.url = std::string("a\0b", 3)}, R"({"url":"a\u0000b"})"},
        WrittenCase{"non_ascii_unchanged",
                    {.label = "caf\xc3\xa9 \xf0\x9f\x98\x80"},
                    "{\"label\":\"caf\xc3\xa9 \xf0\x9f\x98\x80\"}"},
        WrittenCase{"infinite_size", {.size = kInfinity}, R"({"size":null})"},
        WrittenCase{"negative_infinite_size", {.size = -kInfinity}, R"({"size":null})"},
        WrittenCase{"nan_size",
                    {.size = std::numeric_limits<float>::quiet_NaN(), .red = 5},
                    R"({"size":null,"red":5})"}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

struct SizeCase {
  float value;
  const char* text;
};

class SizeText : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeText, IsExact) {
  const std::string expected = std::string(R"({"size":)") + GetParam().text + "}";
  EXPECT_EQ(write_node_text(testing::make_update({.size = GetParam().value})), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, SizeText,
    ::testing::Values(SizeCase{1.0F, "1.0"}, SizeCase{123456789.0F, "123456790.0"},
                      SizeCase{1.5F, "1.5"}, SizeCase{1234.5678F, "1234.5677"},
                      SizeCase{0.1F, "0.1"}, SizeCase{0.000001F, "0.000001"},
                      SizeCase{1e13F, "1e13"}, SizeCase{1e-7F, "1e-7"}, SizeCase{1e27F, "1e27"},
                      SizeCase{1.5e-7F, "1.5e-7"},
                      SizeCase{std::numeric_limits<float>::max(), "3.4028235e38"},
                      SizeCase{1e10F, "10000000000.0"}, SizeCase{1e12F, "1000000000000.0"},
                      SizeCase{2.0F / 3.0F, "0.6666667"}, SizeCase{0.00001F, "0.00001"},
                      SizeCase{std::numeric_limits<float>::denorm_min(), "1e-45"},
                      SizeCase{0.0F, "0.0"}, SizeCase{-0.0F, "-0.0"}, SizeCase{-1.5F, "-1.5"},
                      SizeCase{-1e13F, "-1e13"}, SizeCase{100.0F, "100.0"},
                      SizeCase{1.25e13F, "1.25e13"}, SizeCase{9999999000000.0F, "9999999000000.0"},
                      SizeCase{0.0000015F, "0.0000015"}, SizeCase{1.17549435e-38F, "1.1754944e-38"},
                      SizeCase{16777216.0F, "16777216.0"}, SizeCase{16777217.0F, "16777216.0"}));

// The significant digits of a size text: no sign, point, exponent, or
// leading and trailing zeros.
std::string significant_digits(std::string_view text) {
  std::string digits;
  for (const char c : text.substr(0, text.find('e'))) {
    if (c >= '0' && c <= '9' && !(digits.empty() && c == '0')) {
      digits.push_back(c);
    }
  }
  while (!digits.empty() && digits.back() == '0') {
    digits.pop_back();
  }
  return digits;
}

std::size_t shortest_digit_count(float value) {
  char buffer[64];
  const auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
  return significant_digits(std::string_view(buffer, end)).size();
}

void expect_shortest_round_trip(float value) {
  const std::string text = write_node_text(testing::make_update({.size = value}));
  const std::string_view number =
      std::string_view(text).substr(8, text.size() - 9);  // between {"size": and }
  float parsed = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
  ASSERT_TRUE(error == std::errc{} && end == number.data() + number.size()) << text;
  ASSERT_EQ(std::bit_cast<std::uint32_t>(parsed), std::bit_cast<std::uint32_t>(value)) << text;
  const auto read = read_node_text(text);
  ASSERT_TRUE(read.has_value()) << text;
  ASSERT_EQ(std::bit_cast<std::uint32_t>(*read->get<Field::size>()),
            std::bit_cast<std::uint32_t>(value))
      << text;
  if (value != 0.0F) {
    ASSERT_EQ(significant_digits(number).size(), shortest_digit_count(value)) << text;
  }
}

TEST(SizeText, RandomFloatsReadBackWithTheShortestDigits) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 300000; ++round) {
    auto bits = static_cast<std::uint32_t>(random());
    switch (round % 4) {
      case 1:
        bits &= 0x807FFFFFU;  // subnormals (and zeros)
        break;
      case 2:
        bits = (bits & 0x80FFFFFFU) | (static_cast<std::uint32_t>(round % 254 + 1) << 23);
        break;  // every normal exponent
      default:
        break;
    }
    const auto value = std::bit_cast<float>(bits);
    if (!std::isfinite(value)) {
      continue;
    }
    expect_shortest_round_trip(value);
    if (HasFatalFailure()) {
      return;
    }
  }
}

// The escapes of a string, one byte at a time, as the text form describes
// them: the reference for the writer's word-at-a-time copy.
std::string escaped_by_bytes(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char* const named[] = {"\\b", "\\t", "\\n", nullptr, "\\f", "\\r"};
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x08U && byte <= 0x0DU && named[byte - 0x08U] != nullptr) {
      out += named[byte - 0x08U];
    } else if (byte < 0x20U) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Strings of every length up to several words, plain or with one byte that
// is special (or only looks it, to a word-wide test) at every position, as
// a label and as a url; and many records written back to back into one
// buffer of the length longest_node_text gives, which nothing writes past.
TEST(WrittenText, StringsMatchTheByteByByteEscapes) {
  const char kBytes[] = {'"', '\\', '\0', '\x1f', '\n', ' ', '!', '\x7f', '\x80', '\xff', '#'};
  std::vector<NodeUpdate> records;
  std::string expected_texts;
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t position = 0; position <= length; ++position) {
      for (const char special : kBytes) {
        std::string text;
        for (std::size_t index = 0; index < length; ++index) {
          text += static_cast<char>("a1\xc3\xa9~ Z"[index % 7]);
        }
        if (position < length) {
          text[position] = special;
        }
        const bool as_label = (length + position) % 2 == 0;
        const NodeUpdate update = as_label
                                      ? testing::make_update({.label = text, .red = 7})
                                      : testing::make_update({.url = text, .show_label = false});
        const std::string expected =
            as_label ? R"({"label":)" + escaped_by_bytes(text) + R"(,"red":7})"
                     : R"({"url":)" + escaped_by_bytes(text) + R"(,"showLabel":false})";
        ASSERT_EQ(write_node_text(update), expected);
        records.push_back(update);
        expected_texts += expected;
      }
    }
  }
  std::size_t longest = 0;
  for (const NodeUpdate& record : records) {
    longest += longest_node_text(record);
  }
  constexpr std::size_t kGuard = 64;
  std::string buffer(longest + kGuard, '\xAA');
  char* end = buffer.data();
  for (const NodeUpdate& record : records) {
    end = write_node_text_at(record, end);
  }
  EXPECT_EQ(std::string_view(buffer.data(), static_cast<std::size_t>(end - buffer.data())),
            expected_texts);
  EXPECT_EQ(buffer.substr(longest), std::string(kGuard, '\xAA'));
}

TEST(SizeText, BoundaryFloatsReadBack) {
  for (const std::uint32_t bits :
       {0x00000000U, 0x80000000U, 0x00000001U, 0x007FFFFFU, 0x00800000U, 0x7F7FFFFFU, 0xFF7FFFFFU,
        0x3F800000U, 0x3F800001U, 0x3F7FFFFFU, 0x4B800000U, 0x5368D4A5U}) {
    expect_shortest_round_trip(std::bit_cast<float>(bits));
  }
}

}  // namespace
}  // namespace quorl
