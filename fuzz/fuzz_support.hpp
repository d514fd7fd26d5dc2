// Checks shared by the fuzz targets. A broken property aborts, which
// libFuzzer reports as a crash with the input that caused it.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "diff/graph_diff.hpp"
#include "node_update/node_update.hpp"
#include "read_back.hpp"

namespace quorl::fuzz {

[[noreturn]] inline void fail(const char* property) {
  std::fprintf(stderr, "property broken: %s\n", property);
  std::abort();
}

inline void require(bool holds, const char* property) {
  if (!holds) {
    fail(property);
  }
}

using testing_support::as_read_back;

// Same ids everywhere, weights bit for bit, node records as read back.
inline bool same_after_round_trip(const Diff& original, const Diff& decoded) {
  if (original.new_or_updated_nodes().size() != decoded.new_or_updated_nodes().size() ||
      original.deleted_nodes() != decoded.deleted_nodes() ||
      original.edges().deleted != decoded.edges().deleted ||
      original.edges().new_or_updated.size() != decoded.edges().new_or_updated.size()) {
    return false;
  }
  for (const auto& [id, update] : original.new_or_updated_nodes()) {
    const auto found = decoded.new_or_updated_nodes().find(id);
    if (found == decoded.new_or_updated_nodes().end() ||
        !same_fields(found->second, as_read_back(update))) {
      return false;
    }
  }
  for (const auto& [source, targets] : original.edges().new_or_updated) {
    const auto found = decoded.edges().new_or_updated.find(source);
    if (found == decoded.edges().new_or_updated.end() || found->second.size() != targets.size()) {
      return false;
    }
    for (const auto& [target, weight] : targets) {
      const auto weight_found = found->second.find(target);
      if (weight_found == found->second.end() ||
          std::bit_cast<std::uint32_t>(weight_found->second) !=
              std::bit_cast<std::uint32_t>(weight)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace quorl::fuzz
