// PlacesAfterRemovals: scratch bookkeeping for GraphDiff::delete_nodes.
#pragma once

#include <cstddef>
#include <unordered_map>

namespace quorl::batch_detail {

// Where the entries of a container stand after some of them are removed,
// each removal moving the last entry into its hole as the container does,
// by their places before the first removal. Only the entries that moved are
// remembered, so a small batch on a large diff costs little.
class PlacesAfterRemovals {
 public:
  PlacesAfterRemovals(std::size_t size, std::size_t removals) : size_(size) {
    place_of_.reserve(removals);
    held_at_.reserve(removals);
  }

  // The place now of the entry first at `original` (which is not removed).
  std::size_t operator()(std::size_t original) const {
    const auto moved = place_of_.find(original);
    return moved == place_of_.end() ? original : moved->second;
  }

  // Removes the entry first at `original`.
  void remove(std::size_t original) {
    const std::size_t hole = (*this)(original);
    const std::size_t last = --size_;
    if (hole != last) {
      const auto held = held_at_.find(last);
      const std::size_t moved = held == held_at_.end() ? last : held->second;
      place_of_[moved] = hole;
      held_at_[hole] = moved;
    }
  }

 private:
  std::size_t size_;
  std::unordered_map<std::size_t, std::size_t> place_of_;  // original -> now
  std::unordered_map<std::size_t, std::size_t> held_at_;   // now -> original
};

}  // namespace quorl::batch_detail
