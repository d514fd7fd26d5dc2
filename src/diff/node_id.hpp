// NodeId: a UUID held as its 16 bytes, and the one hash every container of
// the project uses for it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorl {

using NodeId = std::array<std::uint8_t, 16>;

// A fixed, unseeded hash of the 16 id bytes. Nothing about the process, the
// run or the container enters it, so the same history of operations lists
// the same entries in the same order in every process, and the byte form of
// a diff is reproducible. The two 128-bit multiply-folds mix every input bit
// into every output bit, which keeps sequential or mostly-zero ids (not only
// random UUIDs) spread over the table.
struct NodeIdHash {
  // The result is already well mixed: the containers need not mix it again.
  using is_avalanching = void;

  [[nodiscard]] std::size_t operator()(const NodeId& id) const noexcept {
    const std::uint64_t low = load_little_endian(id.data());
    const std::uint64_t high = load_little_endian(id.data() + 8);
    // Each half enters the product as an odd factor (its 64 bits over a low
    // one bit), never as zero: a plain half equal to its key would zero the
    // product, and all ids sharing that half would hash alike whatever their
    // other half, a family anyone can produce. An odd factor keeps the
    // product one-to-one in the other half.
    const std::uint64_t folded = fold(odd_factor(low ^ kFirst) * odd_factor(high ^ kSecond));
    return static_cast<std::size_t>(fold(Wide{folded ^ kThird} * kFourth));
  }

 private:
  __extension__ typedef unsigned __int128 Wide;

  static constexpr std::uint64_t kFirst = 0xa0761d6478bd642fULL;
  static constexpr std::uint64_t kSecond = 0xe7037ed1a0b428dbULL;
  static constexpr std::uint64_t kThird = 0x8ebc6af09c88c6e3ULL;
  static constexpr std::uint64_t kFourth = 0x589965cc75374cc3ULL;

  // Assembled byte by byte so that the hash, and with it every listing order,
  // is the same on hosts of either byte order; compilers turn it into one load.
  static std::uint64_t load_little_endian(const std::uint8_t* bytes) noexcept {
    std::uint64_t value = 0;
    for (int index = 7; index >= 0; --index) {
      value = (value << 8) | bytes[index];
    }
    return value;
  }

  static Wide odd_factor(std::uint64_t half) noexcept { return (Wide{half} << 1) | 1U; }

  static std::uint64_t fold(Wide product) noexcept {
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
  }
};

// Equality of ids as two 8-byte comparisons: std::array's own == calls
// memcmp, which showed up on every probe of the hash containers.
struct NodeIdEqual {
  [[nodiscard]] bool operator()(const NodeId& left, const NodeId& right) const noexcept {
    std::uint64_t left_words[2];
    std::uint64_t right_words[2];
    std::memcpy(left_words, left.data(), sizeof left_words);
    std::memcpy(right_words, right.data(), sizeof right_words);
    return ((left_words[0] ^ right_words[0]) | (left_words[1] ^ right_words[1])) == 0;
  }
};

}  // namespace quorl
