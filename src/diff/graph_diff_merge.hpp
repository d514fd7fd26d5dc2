// GraphDiff::merge: one diff's content recorded into another, with exactly
// the effect of replaying it through the single operations in the order
// the declaration gives, in place and under one journal, so that it costs
// what the other diff holds and what it touches here, however large this
// diff is.
//
// The replay's four steps, per container: the node records and the pending
// edges (and their groups) lose entries in the first two steps (deletions)
// and gain entries in the last two; the deleted nodes and edges gain entries
// in the first two and lose entries in the last two. So the first pass makes
// the removals of the first kind through the journal, which puts them back
// on rollback, and every insertion, in the replay's order; the second pass,
// once committed, makes the removals of the second kind, merges the records
// already held and keeps the index of sources by target up to date. An edge
// is refused at a node that stays deleted once the records are in. The
// edges come group by group: a group whose source this diff does not hold,
// at no node that stays deleted, is copied whole, which is what makes
// merging into an empty diff (or one about other ids) cost about a copy.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "diff/graph_diff.hpp"

namespace quorl {

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::merge(const GraphDiff& other) {
  if (&other == this) {
    // The merge changes what `other` refers to, so it reads a copy.
    // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
    const GraphDiff copy(other);
    merge(copy);
    return;
  }
  const auto& records = other.new_or_updated_nodes_;
  const std::span<const Id> deleted(other.deleted_nodes_.begin(), other.deleted_nodes_.size());
  // The sources pointing at each deleted node when its turn comes, found
  // before anything changes (as delete_nodes finds them).
  const DeletionTurns turns = deleted.empty() ? DeletionTurns{} : deletion_turns(deleted);
  const auto stays_deleted = [&](const Id& id) {
    return !deleted_nodes_.empty() && deleted_nodes_.contains(id) && !records.contains(id);
  };
  // The pending pairs the deletions remove and the merge adds, for the
  // index of sources by target, if there is one.
  std::vector<std::pair<Id, Id>> removed_pairs;
  std::vector<std::pair<const Id*, const Id*>> new_pairs;
  std::vector<std::uint8_t> held(records.size(), 0);  // 1: merged into a record held before
  std::vector<T> incoming;                            // the records to merge, in that order
  UndoJournal journal;
  merge_deletions(journal, other, turns, removed_pairs);
  // The records, and the edges as add_edge sets them.
  auto& sources = edges_.new_or_updated;
  std::size_t node = 0;
  for (const auto& [id, record] : records) {
    if (!journal.insert(new_or_updated_nodes_, id, record).second) {
      held[node] = 1;
      incoming.push_back(record);
    }
    ++node;
  }
  sources.reserve_more(other.edges_.new_or_updated.size());
  for (const auto& [source, targets] : other.edges_.new_or_updated) {
    const Probe from(source);
    if (targets.empty() || stays_deleted(source)) {
      continue;
    }
    if (!sources.contains(from) && std::ranges::none_of(targets, [&](const auto& target) {
          return stays_deleted(target.first);
        })) {
      journal.insert(sources, from, targets);
      for (const auto* target = targets.begin(); sources_by_target_ && target != targets.end();
           ++target) {
        new_pairs.emplace_back(&source, &target->first);
      }
      continue;
    }
    std::optional<UndoJournal::Group<decltype(edges_.new_or_updated)>> group;
    for (const auto& [target, weight] : targets) {
      if (stays_deleted(target)) {
        continue;
      }
      if (!group) {
        group.emplace(journal.open_group(sources, journal.insert(sources, from).first));
      }
      const auto [pair, added] = group->insert(target, weight);
      if (!added) {
        group->assign(pair, weight);
      } else if (sources_by_target_) {
        new_pairs.emplace_back(&source, &target);
      }
    }
  }
  journal.commit();
  // Nothing below allocates or throws: the merges move texts, and
  // index_pair and build_index drop the index when memory runs out. The
  // index loses the deletions' pairs before it gains the new ones, which
  // come after them in the replay.
  node = 0;
  std::size_t merged = 0;
  for (const auto& [id, record] : records) {
    if (held[node++] != 0) {
      new_or_updated_nodes_.find(id)->second += std::move(incoming[merged++]);
    }
    if (!deleted_nodes_.empty()) {
      deleted_nodes_.erase(id);
    }
  }
  if (sources_by_target_) {
    for (std::size_t item = 0; item < deleted.size(); ++item) {
      if (turns.repeated[item] == 0) {
        sources_by_target_->remove_target(deleted[item]);
      }
    }
    for (const auto& [source, target] : removed_pairs) {
      sources_by_target_->remove(target, source);
    }
    for (const auto& [source, target] : new_pairs) {
      if (sources_by_target_) {
        index_pair(Probe(*source), Probe(*target));
      }
    }
  } else if (!deleted.empty() && scan_work_ >= build_work_) {
    build_index();
  }
  if (edges_.deleted.empty()) {
    return;
  }
  for (const auto& [source, targets] : other.edges_.new_or_updated) {
    const auto deleted_targets = edges_.deleted.find(source);
    if (deleted_targets == edges_.deleted.end() || stays_deleted(source)) {
      continue;
    }
    bool recorded = false;
    for (const auto& target : targets) {
      if (!stays_deleted(target.first)) {
        deleted_targets->second.erase(target.first);
        recorded = true;
      }
    }
    if (recorded && deleted_targets->second.empty()) {
      edges_.deleted.erase(deleted_targets);
    }
  }
}

// The first pass of merge for other's deleted nodes and edges, as
// delete_nodes and delete_edges make them, except what merge leaves to its
// second pass: the index of sources by target, whose pending pairs to
// remove are added to `removed_pairs` if there is one.
template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::merge_deletions(UndoJournal& journal, const GraphDiff& other,
                                                const DeletionTurns& turns,
                                                std::vector<std::pair<Id, Id>>& removed_pairs) {
  const std::span<const Id> deleted(other.deleted_nodes_.begin(), other.deleted_nodes_.size());
  auto& sources = edges_.new_or_updated;
  for (std::size_t item = 0; item < deleted.size(); ++item) {
    if (turns.repeated[item] != 0) {
      continue;
    }
    const Probe node(deleted[item]);
    record_deletions(journal, node, turns.sources[item]);
    if (const auto record = new_or_updated_nodes_.find(node);
        record != new_or_updated_nodes_.end()) {
      journal.erase(new_or_updated_nodes_, record);
    }
    for (const Id& source : turns.sources[item]) {
      const auto group = journal.open_group(sources, sources.find(source));
      const auto pair = group.container().find(node);
      assert(pair != group.container().end() && "the source points at the node");
      group.erase(pair);
    }
    // The own entry goes last, as in delete_node.
    if (const auto own = sources.find(node); own != sources.end()) {
      for (const auto* target = own->second.begin();
           sources_by_target_ && target != own->second.end(); ++target) {
        removed_pairs.emplace_back(node.key(), target->first);
      }
      journal.erase(sources, own);
    }
  }
  for (const auto& [source, targets] : other.edges_.deleted) {
    if (targets.empty()) {
      continue;
    }
    const Probe from(source);
    const auto group =
        journal.open_group(edges_.deleted, journal.insert(edges_.deleted, from).first);
    for (const Id& target : targets) {
      group.insert(target);
    }
    const auto pending = sources.find(from);
    if (pending == sources.end()) {
      continue;
    }
    const auto pairs = journal.open_group(sources, pending);
    for (const Id& target : targets) {
      if (const auto pair = pairs.container().find(target); pair != pairs.container().end()) {
        if (sources_by_target_) {
          removed_pairs.emplace_back(source, target);
        }
        pairs.erase(pair);
      }
    }
    // delete_edge drops a source entry that it finds empty, even one that
    // was empty before.
    if (pending->second.empty()) {
      journal.erase(sources, pending);
    }
  }
}

}  // namespace quorl
