// The number of (source, target) pairs of an edge container: what a
// columnar reading or a table of edges has one row per.
#pragma once

#include <cstddef>

namespace quorl::python {

template <class Groups>
[[nodiscard]] std::size_t count_pairs(const Groups& groups) noexcept {
  std::size_t pairs = 0;
  for (const auto& [source, targets] : groups) {
    pairs += targets.size();
  }
  return pairs;
}

}  // namespace quorl::python
