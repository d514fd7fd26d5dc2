// Unsigned integers as little-endian bytes, the order of the byte form and
// of the hash input whatever the host's. Copied with memcpy, never through a
// cast pointer, so no access depends on alignment; each is one load or
// store, and a byte swap on a big-endian host.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>

namespace quorl {

template <std::unsigned_integral Word>
[[nodiscard]] inline Word load_little_endian(const std::uint8_t* bytes) noexcept {
  Word value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) {
    value = std::byteswap(value);
  }
  return value;
}

template <std::unsigned_integral Word>
inline void store_little_endian(Word value, std::uint8_t* bytes) noexcept {
  if constexpr (std::endian::native == std::endian::big) {
    value = std::byteswap(value);
  }
  std::memcpy(bytes, &value, sizeof value);
}

}  // namespace quorl
