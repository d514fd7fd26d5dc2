// IdFilter: scratch for GraphDiff::delete_nodes, which asks of every pending
// pair whether its target is among the batch's ids.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "diff/node_id.hpp"

namespace quorl::batch_detail {

// A bit per id, at a place taken from its bytes, about 64 bits per id
// added: an id whose bit is clear was never added. Most ids asked about
// were not added, and the filter tells most of those apart without hashing
// them; an id that passes is then looked up.
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
  [[nodiscard]] std::size_t bit_of(const NodeId& id) const noexcept {
    return static_cast<std::size_t>(unkeyed_mix(id) >> shift_);
  }

  std::size_t bits_;
  int shift_;
  std::vector<std::uint64_t> words_;
};

}  // namespace quorl::batch_detail
