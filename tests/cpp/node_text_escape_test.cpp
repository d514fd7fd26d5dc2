// \u escapes in a node text decode to the exact UTF-8 bytes of their code
// point, at every boundary between UTF-8 lengths, and no escape sequence the
// reader accepts yields a label that is not valid UTF-8.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "bytes/node_text.hpp"
#include "bytes/utf8.hpp"

namespace quorl {
namespace {

// The escape text of a code point: one \u unit, or a surrogate pair.
std::string escape_of(std::uint32_t code_point) {
  char buffer[16];
  if (code_point < 0x10000U) {
    std::snprintf(buffer, sizeof buffer, "\\u%04X", code_point);
  } else {
    const std::uint32_t offset = code_point - 0x10000U;
    std::snprintf(buffer, sizeof buffer, "\\u%04X\\u%04x", 0xD800U + (offset >> 10),
                  0xDC00U + (offset & 0x3FFU));
  }
  return buffer;
}

// UTF-8 written out independently of the reader's encoder: continuation
// bytes filled from the end, then the lead byte.
std::string utf8_of(std::uint32_t code_point) {
  if (code_point < 0x80U) {
    return std::string(1, static_cast<char>(code_point));
  }
  const std::size_t length = code_point < 0x800U ? 2 : code_point < 0x10000U ? 3 : 4;
  std::string bytes(length, '\0');
  for (std::size_t index = length - 1; index > 0; --index) {
    bytes[index] = static_cast<char>(0x80U | (code_point & 0x3FU));
    code_point >>= 6;
  }
  const unsigned lead_marks[] = {0, 0, 0xC0U, 0xE0U, 0xF0U};
  bytes[0] = static_cast<char>(lead_marks[length] | code_point);
  return bytes;
}

std::string label_of(const std::string& escapes) {
  const auto update = read_node_text(R"({"label":")" + escapes + R"("})");
  if (!update) {
    return "<refused>";
  }
  const auto label = update->get<Field::label>();
  return label ? std::string(*label) : "<absent>";
}

struct EscapeCase {
  std::uint32_t code_point;
  std::string utf8;
};

class BoundaryEscape : public testing::TestWithParam<EscapeCase> {};

TEST_P(BoundaryEscape, DecodesToTheExactBytes) {
  EXPECT_EQ(label_of(escape_of(GetParam().code_point)), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Utf8Lengths, BoundaryEscape,
    testing::Values(EscapeCase{0x7F, "\x7F"}, EscapeCase{0x80, "\xC2\x80"},
                    EscapeCase{0x7FF, "\xDF\xBF"}, EscapeCase{0x800, "\xE0\xA0\x80"},
                    EscapeCase{0xD7FF, "\xED\x9F\xBF"}, EscapeCase{0xE000, "\xEE\x80\x80"},
                    EscapeCase{0xFFFF, "\xEF\xBF\xBF"}, EscapeCase{0x10000, "\xF0\x90\x80\x80"},
                    EscapeCase{0x10FFFF, "\xF4\x8F\xBF\xBF"}),
    [](const auto& test_case) {
      char name[16];
      std::snprintf(name, sizeof name, "U%04X", test_case.param.code_point);
      return std::string(name);
    });

// Runs of random \u units (lone and paired surrogates, any case of hex
// digit, plain text between them): whatever the reader accepts is valid
// UTF-8 and, escape for escape, the UTF-8 of the units it was given.
TEST(NodeTextEscapes, AcceptedLabelsAreValidUtf8) {
  std::mt19937 random(20261209);
  const std::uint32_t kinds[] = {0x7F, 0x800, 0xD800, 0xDC00, 0x10000, 0x110000};
  for (int round = 0; round < 20000; ++round) {
    std::string escapes;
    std::string expected;
    bool well_formed = true;
    const int units = 1 + static_cast<int>(random() % 4);
    for (int unit = 0; unit < units; ++unit) {
      const std::uint32_t below = kinds[random() % std::size(kinds)];
      const auto code_point = static_cast<std::uint32_t>(random() % below);
      if (code_point >= 0xD800U && code_point < 0xE000U) {
        // A lone surrogate unit: the reader must refuse the text.
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", code_point);
        escapes += buffer;
        well_formed = false;
        continue;
      }
      escapes += escape_of(code_point);
      expected += utf8_of(code_point);
      if (random() % 2 == 0) {
        escapes += "a";
        expected += "a";
      }
    }
    const std::string label = label_of(escapes);
    if (!well_formed) {
      EXPECT_EQ(label, "<refused>") << escapes;
      continue;
    }
    ASSERT_TRUE(detail::is_valid_utf8(label)) << escapes;
    ASSERT_EQ(label, expected) << escapes;
  }
}

}  // namespace
}  // namespace quorl
