// Bytes of a text read as one machine word, for the node text reader and
// writer, which compare and scan texts eight or four bytes at a time.
#pragma once

#include <cstdint>
#include <cstring>

namespace quorl::detail {

[[nodiscard]] inline std::uint64_t load_word(const char* from) noexcept {
  std::uint64_t word = 0;
  std::memcpy(&word, from, sizeof word);
  return word;
}

[[nodiscard]] inline std::uint32_t load_half(const char* from) noexcept {
  std::uint32_t half = 0;
  std::memcpy(&half, from, sizeof half);
  return half;
}

}  // namespace quorl::detail
