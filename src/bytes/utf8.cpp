#include "bytes/utf8.hpp"

#include <cstddef>
#include <cstring>

namespace quorl::detail {

namespace {

constexpr bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0U) == 0x80U; }

// Length of the run of ASCII bytes at the start of `text`, checked 32 and
// then eight bytes at a time; node texts are mostly ASCII.
std::size_t ascii_prefix(const unsigned char* text, std::size_t length) noexcept {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  std::size_t index = 0;
  while (length - index >= 32) {
    std::uint64_t blocks[4];
    std::memcpy(blocks, text + index, sizeof blocks);
    if (((blocks[0] | blocks[1] | blocks[2] | blocks[3]) & kHighBits) != 0) {
      break;
    }
    index += 32;
  }
  while (length - index >= 8) {
    std::uint64_t block = 0;
    std::memcpy(&block, text + index, sizeof block);
    if ((block & kHighBits) != 0) {
      break;
    }
    index += 8;
  }
  while (index < length && text[index] < 0x80U) {
    ++index;
  }
  return index;
}

}  // namespace

bool is_valid_utf8(std::string_view text) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t length = text.size();
  std::size_t index = 0;
  while (index < length) {
    index += ascii_prefix(bytes + index, length - index);
    if (index == length) {
      return true;
    }
    const unsigned char lead = bytes[index];
    const std::size_t remaining = length - index;
    // The allowed range of the second byte depends on the lead byte: it is
    // what rules out overlong forms (E0, F0), surrogates (ED) and values
    // above U+10FFFF (F4). Later continuation bytes are always 80..BF.
    std::size_t sequence_length = 0;
    unsigned char second_low = 0x80U;
    unsigned char second_high = 0xBFU;
    if (lead >= 0xC2U && lead <= 0xDFU) {
      sequence_length = 2;
    } else if (lead >= 0xE0U && lead <= 0xEFU) {
      sequence_length = 3;
      if (lead == 0xE0U) {
        second_low = 0xA0U;
      } else if (lead == 0xEDU) {
        second_high = 0x9FU;
      }
    } else if (lead >= 0xF0U && lead <= 0xF4U) {
      sequence_length = 4;
      if (lead == 0xF0U) {
        second_low = 0x90U;
      } else if (lead == 0xF4U) {
        second_high = 0x8FU;
      }
    } else {
      return false;  // a continuation byte, C0, C1 or F5..FF as lead byte
    }
    if (remaining < sequence_length) {
      return false;
    }
    if (bytes[index + 1] < second_low || bytes[index + 1] > second_high) {
      return false;
    }
    for (std::size_t offset = 2; offset < sequence_length; ++offset) {
      if (!is_continuation(bytes[index + offset])) {
        return false;
      }
    }
    index += sequence_length;
  }
  return true;
}

void append_code_point(std::uint32_t code_point, std::string& out) {
  if (code_point < 0x80U) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800U) {
    const char bytes[] = {static_cast<char>(0xC0U | (code_point >> 6)),
                          static_cast<char>(0x80U | (code_point & 0x3FU))};
    out.append(bytes, sizeof bytes);
  } else if (code_point < 0x10000U) {
    const char bytes[] = {static_cast<char>(0xE0U | (code_point >> 12)),
                          static_cast<char>(0x80U | ((code_point >> 6) & 0x3FU)),
                          static_cast<char>(0x80U | (code_point & 0x3FU))};
    out.append(bytes, sizeof bytes);
  } else {
    const char bytes[] = {static_cast<char>(0xF0U | (code_point >> 18)),
                          static_cast<char>(0x80U | ((code_point >> 12) & 0x3FU)),
                          static_cast<char>(0x80U | ((code_point >> 6) & 0x3FU)),
                          static_cast<char>(0x80U | (code_point & 0x3FU))};
    out.append(bytes, sizeof bytes);
  }
}

}  // namespace quorl::detail
