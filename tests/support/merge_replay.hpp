// What merge must do: another diff's content replayed through the single
// operations, in the order merge promises.
#pragma once

#include "diff/graph_diff.hpp"

namespace quorl::testing_support {

inline void replay_merge(Diff& diff, const Diff& other) {
  const Diff copy = other;  // `other` may be `diff`
  for (const NodeId& id : copy.deleted_nodes()) {
    diff.delete_node(id);
  }
  for (const auto& [source, targets] : copy.edges().deleted) {
    for (const NodeId& target : targets) {
      diff.delete_edge(source, target);
    }
  }
  for (const auto& [id, record] : copy.new_or_updated_nodes()) {
    diff.add_or_update_node(id, record);
  }
  for (const auto& [source, targets] : copy.edges().new_or_updated) {
    for (const auto& [target, weight] : targets) {
      static_cast<void>(diff.add_edge(source, target, weight));
    }
  }
}

}  // namespace quorl::testing_support
