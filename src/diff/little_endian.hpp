// Unsigned integers as little-endian bytes, the order of the byte form and
// of the hash input whatever the host's. Assembled byte by byte, so nothing
// depends on the host's byte order or on alignment; compilers turn each into
// one load or store.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>

namespace quorl {

template <std::unsigned_integral Word>
[[nodiscard]] constexpr Word load_little_endian(const std::uint8_t* bytes) noexcept {
  Word value = 0;
  for (std::size_t index = sizeof(Word); index-- > 0;) {
    value = static_cast<Word>((value << 8) | bytes[index]);
  }
  return value;
}

template <std::unsigned_integral Word>
constexpr void store_little_endian(Word value, std::uint8_t* bytes) noexcept {
  for (std::size_t index = 0; index < sizeof(Word); ++index) {
    bytes[index] = static_cast<std::uint8_t>(value >> (8 * index));
  }
}

}  // namespace quorl
