// What a node record reads back as after a trip through its text.
#pragma once

#include <cmath>

#include "node_update/node_update.hpp"

namespace quorl::testing_support {

// The record itself, except that a size that is not finite is written as
// null and so comes back absent.
inline NodeUpdate as_read_back(const NodeUpdate& update) {
  NodeUpdate read_back;
  all_fields([&]<Field field>() {
    if (const auto value = update.get<field>()) {
      if constexpr (field == Field::size) {
        if (!std::isfinite(*value)) {
          return true;
        }
      }
      read_back.template set<field>(*value);
    }
    return true;
  });
  return read_back;
}

}  // namespace quorl::testing_support
