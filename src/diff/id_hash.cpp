#include "diff/id_hash.hpp"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

namespace quorl::detail {

HashKey random_hash_key() {
  std::uint8_t bytes[16];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (got > 0) {
      filled += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      break;
    }
  }
  if (filled < sizeof bytes) {
    try {
      std::random_device device;
      for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(device());
      }
    } catch (...) {
      // No random source at all: the time and the address space layout
      // still keep the key from being known in advance.
      const auto time =
          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
      const auto place = reinterpret_cast<std::uintptr_t>(&filled);
      return {time ^ 0x9e3779b97f4a7c15ULL,
              static_cast<std::uint64_t>(place) * 0xbf58476d1ce4e5b9ULL};
    }
  }
  return {load_little_endian(bytes), load_little_endian(bytes + 8)};
}

}  // namespace quorl::detail
