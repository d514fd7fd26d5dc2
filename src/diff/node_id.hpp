// NodeId: a UUID held as its 16 bytes, and how containers compare two ids
// (id_hash.hpp has the hash that finds them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorl {

using NodeId = std::array<std::uint8_t, 16>;

// Equality of ids as two 8-byte comparisons: std::array's own == calls
// memcmp, a call with a loop where every probe of a container needs two
// loads and a compare.
struct NodeIdEqual {
  [[nodiscard]] bool operator()(const NodeId& left, const NodeId& right) const noexcept {
    std::uint64_t left_words[2];
    std::uint64_t right_words[2];
    std::memcpy(left_words, left.data(), sizeof left_words);
    std::memcpy(right_words, right.data(), sizeof right_words);
    return ((left_words[0] ^ right_words[0]) | (left_words[1] ^ right_words[1])) == 0;
  }

  // The first eight bytes: ids that differ there differ. A scan of a small
  // container compares this word alone and checks the rest only on a match,
  // so that passing a random id costs one load and one comparison.
  [[nodiscard]] static std::uint64_t lead(const NodeId& id) noexcept {
    std::uint64_t word = 0;
    std::memcpy(&word, id.data(), sizeof word);
    return word;
  }
};

// The 16 bytes of `id` folded into 64 bits, mixed so that the top bits
// depend on every byte, without a key: for filters and scratch tables whose
// worst case, ids crafted to collide, costs no more than the work they save.
[[nodiscard]] inline std::uint64_t unkeyed_mix(const NodeId& id) noexcept {
  std::uint64_t words[2];
  std::memcpy(words, id.data(), sizeof words);
  return (words[0] ^ words[1]) * 0x9e3779b97f4a7c15ULL;
}

}  // namespace quorl
