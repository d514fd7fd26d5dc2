// The batch operations of GraphDiff: each has exactly the effect of calling
// its single operation for every item in order, down to the order in which
// every container lists its entries, and is all or nothing under
// std::bad_alloc.
//
// Every batch runs in two passes. The first pass makes every change that
// can allocate, in the items' order, through an UndoJournal that undoes
// them if memory runs out; it only inserts. The second pass, once the
// journal has committed, makes every change that cannot fail (merges,
// weight updates, erasures), again in the items' order. The split keeps the
// effect of the per-item loop because, within each batch, the containers
// that the first pass inserts into are never the ones the second pass
// erases from, and no decision of one pass reads what the other changes.
// The passes rely only on try_emplace, find, erase, contains and the
// listing order of the containers.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "diff/graph_diff.hpp"
#include "diff/id_filter.hpp"
#include "diff/places_after_removals.hpp"
#include "diff/source_groups.hpp"

namespace quorl {

namespace batch_detail {

// What the first pass did for one item.
enum Done : std::uint8_t {
  refused = 1,   // add_edges: an endpoint is marked deleted (as refused_edges marks it)
  inserted = 2,  // add_edges: a new target was inserted
  skipped = 4,   // delete_nodes: the id came earlier in the batch
};

// The end of the run of items from `first` on that share its id.
template <class Id>
std::size_t run_end(std::span<const Id> ids, std::size_t first) {
  const typename IdEqualFor<Id>::type equal;
  std::size_t end = first + 1;
  while (end < ids.size() && equal(ids[end], ids[first])) {
    ++end;
  }
  return end;
}

// Rows of values laid end to end: row r is values[ends[r - 1], ends[r]).
template <class Value>
struct Rows {
  std::vector<Value> values;
  std::vector<std::size_t> ends;

  [[nodiscard]] bool empty() const noexcept { return ends.empty(); }
  [[nodiscard]] std::span<const Value> operator[](std::size_t row) const noexcept {
    const std::size_t first = row == 0 ? 0 : ends[row - 1];
    return {values.data() + first, ends[row] - first};
  }
  void end_row() { ends.push_back(values.size()); }
};

}  // namespace batch_detail

template <class Id, class T, class W, class Hash>
std::size_t GraphDiff<Id, T, W, Hash>::add_edges(std::span<const Id> from, std::span<const Id> to,
                                                 std::span<const W> weights,
                                                 EdgeRefusals refusals) {
  using namespace batch_detail;
  assert(from.size() == to.size() && from.size() == weights.size());
  assert(refusals.refused.empty() || refusals.refused.size() == from.size());
  const std::size_t count = from.size();
  auto& groups = edges_.new_or_updated;
  // Each item's refusal, then what the first pass did with it.
  std::vector<std::uint8_t> done = std::move(refusals.refused);
  if (done.empty()) {
    done.assign(count, 0);
  }
  const std::size_t accepted = count - refusals.count;
  const SourceGroups grouped = group_by_source<Id, Hash>(from, done);
  UndoJournal journal;
  // Each run of one source looks its group up once, at its first accepted
  // item, and makes room for the whole run at once rather than growing step
  // by step as it fills. Repeated or known targets leave some of that room
  // unused, and close_group gives it back: a group keeps room for what it
  // holds, not for what the batch repeated.
  const auto open_group = [&](std::size_t item, std::size_t run) {
    const auto group = journal.open_group(groups, journal.insert(groups, from[item]).first);
    group.container().reserve_more(run);
    return group;
  };
  const auto close_group = [](const auto& group) { group.container().release_unused(); };
  const auto record = [&](const auto& group, std::size_t item) {
    const auto [target, new_pair] = group.insert(to[item], weights[item]);
    if (new_pair) {
      done[item] |= inserted;
    } else {
      group.assign(target, weights[item]);
    }
  };
  if (grouped.order.empty()) {
    for (std::size_t position = 0; position < count;) {
      const std::size_t end = run_end(from, position);
      while (position < end && (done[position] & refused) != 0) {
        ++position;
      }
      if (position == end) {
        continue;
      }
      const auto group = open_group(position, end - position);
      for (; position < end; ++position) {
        if ((done[position] & refused) == 0) {
          record(group, position);
        }
      }
      close_group(group);
    }
  } else {
    // Grouped items hold no refused ones, and are read out of order: their
    // targets and weights are asked for some items ahead, so that the reads
    // overlap.
    constexpr std::size_t kReadAhead = 16;
    const std::size_t positions = grouped.order.size();
    std::size_t position = 0;
    for (const std::uint32_t group_end : grouped.group_end) {
      const auto group = open_group(grouped.order[position], group_end - position);
      for (; position < group_end; ++position) {
        if (position + kReadAhead < positions) {
          const std::size_t ahead = grouped.order[position + kReadAhead];
          __builtin_prefetch(&to[ahead]);
          __builtin_prefetch(&weights[ahead]);
          __builtin_prefetch(&done[ahead]);
        }
        record(group, grouped.order[position]);
      }
      close_group(group);
    }
  }
  journal.commit();
  // Each recorded edge leaves the deleted edges, and enters the index of
  // sources by target if it is new.
  if (edges_.deleted.empty() && !sources_by_target_) {
    return accepted;
  }
  for (std::size_t item = 0; item < count; ++item) {
    if ((done[item] & refused) != 0) {
      continue;
    }
    if (!edges_.deleted.empty()) {
      if (const auto deleted = edges_.deleted.find(from[item]); deleted != edges_.deleted.end()) {
        deleted->second.erase(to[item]);
        if (deleted->second.empty()) {
          edges_.deleted.erase(deleted);
        }
      }
    }
    if ((done[item] & inserted) != 0 && sources_by_target_) {
      index_pair(Probe(from[item]), Probe(to[item]));
    }
  }
  return accepted;
}

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::delete_edges(std::span<const Id> from, std::span<const Id> to) {
  assert(from.size() == to.size());
  const std::size_t count = from.size();
  UndoJournal journal;
  // Consecutive items usually share their source: a run opens its group once.
  for (std::size_t item = 0; item < count;) {
    const std::size_t end = batch_detail::run_end(from, item);
    const auto group =
        journal.open_group(edges_.deleted, journal.insert(edges_.deleted, from[item]).first);
    for (; item < end; ++item) {
      group.insert(to[item]);
    }
  }
  journal.commit();
  for (std::size_t item = 0; item < count && !edges_.new_or_updated.empty(); ++item) {
    remove_pending_pair(Probe(from[item]), Probe(to[item]));
  }
}

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::add_or_update_nodes(std::span<const Id> ids, std::span<T> updates) {
  assert(ids.size() == updates.size());
  const std::size_t count = ids.size();
  std::vector<std::uint8_t> created(count, 0);
  // Room for every id at once, so that the inserts never regrow the table
  // midway. Repeated or known ids leave room unused, never more than the
  // batch's size, and a later batch that fits takes it.
  new_or_updated_nodes_.reserve_more(count);
  UndoJournal journal;
  for (std::size_t item = 0; item < count; ++item) {
    // An update is moved in only when its node gets a new record; the
    // merges into existing records wait for the second pass.
    created[item] =
        journal.insert(new_or_updated_nodes_, ids[item], std::move(updates[item])).second;
  }
  journal.commit();
  // The merge moves texts.
  for (std::size_t item = 0; item < count; ++item) {
    if (created[item] == 0) {
      new_or_updated_nodes_.find(ids[item])->second += std::move(updates[item]);
    }
    if (!deleted_nodes_.empty()) {
      deleted_nodes_.erase(ids[item]);
    }
  }
}

template <class Id, class T, class W, class Hash>
template <class Fill>
bool GraphDiff<Id, T, W, Hash>::add_or_update_nodes_with(std::span<const Id> ids, Fill&& fill) {
  const std::size_t count = ids.size();
  // The updates of nodes that had a record when their turn came, with that
  // record's place, which nothing in this operation moves.
  std::vector<std::pair<std::size_t, T>> merges;
  new_or_updated_nodes_.reserve_more(count);  // as add_or_update_nodes does
  {
    UndoJournal journal;
    for (std::size_t item = 0; item < count; ++item) {
      const auto [record, created] = journal.insert(new_or_updated_nodes_, ids[item]);
      if (created) {
        if (!fill(item, record->second)) {
          return false;
        }
        continue;
      }
      const auto place = static_cast<std::size_t>(record - new_or_updated_nodes_.begin());
      if (!fill(item, merges.emplace_back(place, T{}).second)) {
        return false;
      }
    }
    journal.commit();
  }
  // The merges move texts, in the order of the items.
  for (auto& [place, update] : merges) {
    new_or_updated_nodes_.begin()[place].second += std::move(update);
  }
  for (std::size_t item = 0; item < count && !deleted_nodes_.empty(); ++item) {
    deleted_nodes_.erase(ids[item]);
  }
  return true;
}

// Each id's sources as the per-item loop meets them at its turn (see
// deletion_turns), as ids, which erasures cannot invalidate; an id that
// came earlier in the batch has none and changes nothing.
template <class Id, class T, class W, class Hash>
struct GraphDiff<Id, T, W, Hash>::DeletionTurns {
  batch_detail::Rows<Id> sources;
  std::vector<std::uint8_t> repeated;
  std::size_t longest = 0;  // the most sources of one id
};

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::delete_nodes(std::span<const Id> ids) {
  const DeletionTurns turns = deletion_turns(ids);
  UndoJournal journal;
  for (std::size_t item = 0; item < ids.size(); ++item) {
    if (turns.repeated[item] == 0) {
      record_deletions(journal, Probe(ids[item]), turns.sources[item]);
    }
  }
  SourceList pointing;
  pointing.reserve(turns.longest);
  journal.commit();
  for (std::size_t item = 0; item < ids.size(); ++item) {
    if (turns.repeated[item] != 0) {
      continue;
    }
    pointing.clear();
    for (const Id& source : turns.sources[item]) {
      pointing.push_back(edges_.new_or_updated.find(source));
    }
    const Probe node(ids[item]);
    erase_deleted_node(node, pointing, edges_.new_or_updated.find(node));
  }
}

// The sources that point at each id when its turn comes in the per-item
// loop: the pending edges as they are, minus the sources deleted earlier in
// the batch (whose entries the loop would have dropped by then). They are
// listed as delete_node lists them, in the order of the source entries once
// the node's own entry is gone; the entries of the ids before it are gone
// too by then, each having moved the last entry into its hole, and `places`
// follows those moves without making them. Without an index, when scanning
// every source for each id would cost more than visiting every pending pair
// once, one pass finds the sources of all the ids.
template <class Id, class T, class W, class Hash>
auto GraphDiff<Id, T, W, Hash>::deletion_turns(std::span<const Id> ids) -> DeletionTurns {
  using namespace batch_detail;
  const std::size_t count = ids.size();
  const SourceEntry* const first_source = edges_.new_or_updated.begin();
  const auto original_place = [&](const SourceEntry* entry) {
    return static_cast<std::size_t>(entry - first_source);
  };
  Rows<SourceEntry*> found;
  if (!sources_by_target_ && count > 1) {
    sources_in_one_pass(ids, found);
  }
  DeletionTurns turns{{}, std::vector<std::uint8_t>(count, 0)};
  turns.sources.ends.reserve(count);
  NodeSet earlier;  // the ids of the batch up to the current one
  earlier.reserve(count);
  PlacesAfterRemovals places(edges_.new_or_updated.size(), count);
  SourceList pointing;
  for (std::size_t item = 0; item < count; ++item) {
    const Probe node(ids[item]);
    if (!earlier.insert(node).second) {
      turns.repeated[item] = 1;
      turns.sources.end_row();
      continue;
    }
    pointing.clear();
    if (!found.empty()) {
      pointing.assign(found[item].begin(), found[item].end());
    } else if (!find_sources_with_index(node, pointing)) {
      scan_for_sources(node, pointing);
      if (scan_work_ >= build_work_) {
        build_index();
      }
    }
    if (const auto own = edges_.new_or_updated.find(node); own != edges_.new_or_updated.end()) {
      places.remove(original_place(own));
    }
    pointing.erase(
        std::ranges::remove_if(
            pointing, [&](const SourceEntry* entry) { return earlier.contains(entry->first); })
            .begin(),
        pointing.end());
    std::ranges::sort(pointing, std::less<>{},
                      [&](const SourceEntry* entry) { return places(original_place(entry)); });
    turns.longest = std::max(turns.longest, pointing.size());
    for (const SourceEntry* entry : pointing) {
      turns.sources.values.push_back(entry->first);
    }
    turns.sources.end_row();
  }
  return turns;
}

// Fills `found` with the sources pointing at each of `ids`, row by item in
// the order in which a scan meets them, from one pass over the pending
// pairs. Scanning the sources once per id costs ids × sources; the pass
// costs the pairs, counted as it goes so that their groups are visited
// once. It gives up (returns false, `found` empty), having spent no more
// than the scans will, as soon as the pairs outnumber the scans.
template <class Id, class T, class W, class Hash>
bool GraphDiff<Id, T, W, Hash>::sources_in_one_pass(std::span<const Id> ids,
                                                    batch_detail::Rows<SourceEntry*>& found) {
  std::size_t scans = 0;
  if (__builtin_mul_overflow(ids.size(), edges_.new_or_updated.size(), &scans)) {
    scans = std::numeric_limits<std::size_t>::max();
  }
  IdMap<Id, std::size_t, Hash> first_item;
  first_item.reserve(ids.size());
  batch_detail::IdFilter filter(ids.size());
  for (std::size_t item = 0; item < ids.size(); ++item) {
    first_item.try_emplace(ids[item], item);
    filter.add(ids[item]);
  }
  // (item, source entry) for every pending pair that points at an id of the
  // batch, in the order in which a scan meets the sources.
  std::vector<std::pair<std::size_t, SourceEntry*>> pointing;
  std::size_t pairs = 0;
  for (auto& entry : edges_.new_or_updated) {
    pairs += entry.second.size();
    if (pairs > scans) {
      return false;
    }
    for (const auto& target : entry.second) {
      if (!filter.may_contain(target.first)) {
        continue;
      }
      if (const auto position = first_item.find(target.first);
          position != first_item.end() && !(entry.first == target.first)) {
        pointing.emplace_back(position->second, &entry);
      }
    }
  }
  // A counting sort by item keeps each item's sources in scan order.
  found.ends.assign(ids.size(), 0);
  for (const auto& [item, entry] : pointing) {
    ++found.ends[item];
  }
  std::size_t end = 0;
  for (auto& row_end : found.ends) {
    end += row_end;
    row_end = end;
  }
  found.values.resize(pointing.size());
  std::vector<std::size_t> next = found.ends;  // each row fills from its end down
  for (auto position = pointing.rbegin(); position != pointing.rend(); ++position) {
    found.values[--next[position->first]] = position->second;
  }
  scan_work_ += edges_.new_or_updated.size();
  build_work_ = pairs;
  return true;
}

}  // namespace quorl
