// GraphDiff::merge: one diff's content recorded into another, with exactly
// the effect of replaying it through the single operations in the order
// the declaration gives.
//
// The steps are the batch operations over the other diff's containers, so
// each lists its entries as the per-item loop would. The edges come group by
// group: a group whose source this diff has never met, at no node marked
// deleted, is copied whole, which is what makes merging into an empty diff
// (or one about other ids) cost about a copy.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "diff/graph_diff.hpp"

namespace quorl {

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::merge(const GraphDiff& other) {
  if (&other == this) {
    const GraphDiff copy(other);
    merge(copy);
    return;
  }
  // The steps are each all or nothing, but not together, and one journal
  // cannot hold them: a later step appends to the containers that an
  // earlier one removes from, and the order must be the replay's. So they
  // run on a copy (of nothing, for an empty diff), which replaces the diff
  // once they all succeeded.
  GraphDiff merged = num_nodes() == 0 && num_edges() == 0 ? GraphDiff() : GraphDiff(*this);
  merged.merge_steps(other);
  *this = std::move(merged);
}

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::merge_steps(const GraphDiff& other) {
  if (!other.deleted_nodes_.empty()) {
    delete_nodes(std::span<const Id>(other.deleted_nodes_.begin(), other.deleted_nodes_.size()));
  }
  if (!other.edges_.deleted.empty()) {
    std::vector<Id> from;
    std::vector<Id> to;
    std::size_t pairs = 0;
    for (const auto& [source, targets] : other.edges_.deleted) {
      pairs += targets.size();
    }
    from.reserve(pairs);
    to.reserve(pairs);
    for (const auto& [source, targets] : other.edges_.deleted) {
      for (const Id& target : targets) {
        from.push_back(source);
        to.push_back(target);
      }
    }
    delete_edges(from, to);
  }
  if (!other.new_or_updated_nodes_.empty()) {
    std::vector<Id> ids;
    std::vector<T> updates;
    ids.reserve(other.new_or_updated_nodes_.size());
    updates.reserve(other.new_or_updated_nodes_.size());
    for (const auto& [id, record] : other.new_or_updated_nodes_) {
      ids.push_back(id);
      updates.push_back(record);
    }
    add_or_update_nodes(ids, updates);
  }
  // Room for every group at once, as for a new source each: growing step
  // by step would rehash the sources at every growth.
  edges_.new_or_updated.reserve_more(other.edges_.new_or_updated.size());
  for (const auto& [source, targets] : other.edges_.new_or_updated) {
    if (targets.empty()) {
      continue;
    }
    const Probe from(source);
    if (takes_whole_group(from, targets)) {
      edges_.new_or_updated.try_emplace(from, targets);
      // index_pair drops the index when memory runs out.
      for (const auto* target = targets.begin(); target != targets.end() && sources_by_target_;
           ++target) {
        index_pair(from, Probe(target->first));
      }
      continue;
    }
    for (const auto& [target, weight] : targets) {
      static_cast<void>(add_edge(source, target, weight));
    }
  }
}

template <class Id, class T, class W, class Hash>
bool GraphDiff<Id, T, W, Hash>::takes_whole_group(
    const Probe& source, const typename Edges::TargetWeights& targets) const {
  if (edges_.new_or_updated.contains(source) ||
      (!edges_.deleted.empty() && edges_.deleted.contains(source))) {
    return false;
  }
  if (deleted_nodes_.empty()) {
    return true;
  }
  if (deleted_nodes_.contains(source)) {
    return false;
  }
  for (const auto& target : targets) {
    if (deleted_nodes_.contains(target.first)) {
      return false;
    }
  }
  return true;
}

}  // namespace quorl
