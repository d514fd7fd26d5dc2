// Random ids from a small pool and random histories of single operations
// over them, so that operations repeat and collide with earlier history.
#pragma once

#include <cstdint>
#include <random>

#include "diff/graph_diff.hpp"
#include "node_fields.hpp"

namespace quorl {

inline NodeId pool_id(std::mt19937& random, int pool) {
  NodeId id{};
  id[0] = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, pool - 1)(random));
  id[15] = 0x5a;
  return id;
}

// A diff with a random history of single operations, every kind included.
inline Diff random_history(std::mt19937& random, int pool, int steps) {
  Diff diff;
  for (int step = 0; step < steps; ++step) {
    const NodeId a = pool_id(random, pool);
    const NodeId b = pool_id(random, pool);
    switch (random() % 8) {
      case 0:
        diff.delete_node(a);
        break;
      case 1:
        diff.add_or_update_node(a, testing::make_update({.size = 1.0F}));
        break;
      case 2:
        diff.delete_edge(a, b);
        break;
      default:
        static_cast<void>(diff.add_edge(a, b, static_cast<float>(step)));
    }
  }
  return diff;
}

}  // namespace quorl
