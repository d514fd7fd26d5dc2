// IdFilter: scratch for GraphDiff::delete_nodes, which asks of every pending
// pair whether its target is among the batch's ids.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "diff/id_hash.hpp"
#include "diff/node_id.hpp"

namespace quorl::batch_detail {

// A bit per id, at a place taken from its bytes, about 64 bits per id
// added: an id whose bit is clear was never added. Most ids asked about
// were not added, and the filter tells most of those apart at the cost of
// two multiplications, where the keyed hash costs several rounds; an id
// that passes is then looked up. The place is keyed (words drawn from the
// process's key), so that ids crafted to pass, each then costing a
// lookup, cannot be found without it: the 16 bytes are folded by products
// of key-offset 32-bit halves, which two ids share for a random key with a
// chance of about 2^-32, and the fold is spread by a keyed odd multiplier.
class IdFilter {
 public:
  explicit IdFilter(std::size_t ids)
      : bits_(std::bit_ceil(
            std::clamp(ids * std::size_t{64}, std::size_t{1} << 12, std::size_t{1} << 23))),
        shift_(64 - std::countr_zero(bits_)),
        words_(bits_ / 64) {}

  void add(const NodeId& id) noexcept {
    const std::size_t bit = bit_of(id);
    words_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }

  [[nodiscard]] bool may_contain(const NodeId& id) const noexcept {
    const std::size_t bit = bit_of(id);
    return (words_[bit / 64] & (std::uint64_t{1} << (bit % 64))) != 0;
  }

 private:
  struct Key {
    std::array<std::uint64_t, 4> offsets;  // each added to a 32-bit half, modulo 2^32
    std::uint64_t multiplier;              // odd
  };

  // Drawn once from the process's key, apart from the words the hash uses.
  static const Key& key() {
    static const Key drawn = [] {
      const HashKey& process = process_hash_key();
      Key key{};
      for (std::uint64_t word = 0; word < key.offsets.size(); ++word) {
        key.offsets[word] = sip_hash_1_3(process, 0x66696c746572ULL, word);
      }
      key.multiplier = sip_hash_1_3(process, 0x66696c746572ULL, 4) | 1U;
      return key;
    }();
    return drawn;
  }

  [[nodiscard]] std::size_t bit_of(const NodeId& id) const noexcept {
    std::uint64_t words[2];
    std::memcpy(words, id.data(), sizeof words);
    const auto half = [&](std::size_t index) -> std::uint64_t {
      return static_cast<std::uint32_t>((words[index / 2] >> (32 * (index % 2))) +
                                        key_.offsets[index]);
    };
    const std::uint64_t folded = half(0) * half(1) + half(2) * half(3);
    return static_cast<std::size_t>(((folded ^ (folded >> 32)) * key_.multiplier) >> shift_);
  }

  const Key& key_ = key();

  std::size_t bits_;
  int shift_;
  std::vector<std::uint64_t> words_;
};

}  // namespace quorl::batch_detail
