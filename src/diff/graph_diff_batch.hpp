// The batch operations of GraphDiff: each has exactly the effect of calling
// its single operation for every item in order, down to the order in which
// every container lists its entries, and is all or nothing under
// std::bad_alloc.
//
// Every batch runs in two passes. The first pass makes every change that
// can allocate, in the items' order, and writes down what it did; it only
// inserts, so running out of memory is undone by erasing what it inserted,
// in reverse. The second pass makes every change that cannot fail (merges,
// weight updates, erasures), again in the items' order. The split keeps the
// effect of the per-item loop because, within each batch, the containers
// that the first pass inserts into are never the ones the second pass
// erases from, and no decision of one pass reads what the other changes.
// The passes rely only on try_emplace, find, erase, contains and the
// listing order of the containers.
#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "diff/graph_diff.hpp"

namespace quorl {

namespace batch_detail {

// What the first pass did for one item.
enum Done : std::uint8_t {
  refused = 1,        // add_edges: an endpoint is marked deleted
  created_group = 2,  // a new source entry (or node record) was inserted
  inserted = 4,       // a new target (or deleted node) was inserted
  overwrote = 8,      // add_edges: an existing weight was replaced
  skipped = 16,       // delete_nodes: the id came earlier in the batch
};

// Runs `insert(group)` on the inner container of `key` in `groups`, reusing
// `cached` (the group of the previous item) when the key is the same:
// consecutive items usually share their source. Marks a new group in `done`.
template <class Groups, class Id>
typename Groups::mapped_type& group_for(Groups& groups, const Id& key,
                                        typename Groups::mapped_type*& cached,
                                        const Id*& cached_key, std::uint8_t& done) {
  if (cached == nullptr || !typename IdEqualFor<Id>::type{}(*cached_key, key)) {
    auto [entry, created] = groups.try_emplace(key);
    if (created) {
      done |= created_group;
    }
    cached = &entry->second;
    cached_key = &key;
  }
  return *cached;
}

// Removes a group that the first pass created, once its members are undone.
template <class Groups, class Id>
void erase_created_group(Groups& groups, const Id& key, std::uint8_t done) {
  if ((done & created_group) != 0) {
    groups.erase(key);
  }
}

// The items of `sources` that `done` does not mark refused, grouped by
// source: each group in item order, the groups in the order of their first
// items; empty when the items already come in runs of one source.
// Processing the items in this order inserts the same new sources in the
// same order, and gives every source its targets in the same order, as
// processing them as they come: it only keeps the work on one source's
// targets together, where a diff of many sources would otherwise meet a
// cold group at every item.
//
// The items are sorted by the top 32 bits of their source's hash, stably,
// with three radix passes over the array: where a table of sources would
// take a random memory access per item, the passes stream. Sources that
// share those bits (rare: the hash is keyed) are told apart afterwards.
template <class Id, class Hash>
std::vector<std::size_t> order_by_source(std::span<const Id> sources,
                                         const std::vector<std::uint8_t>& done) {
  constexpr std::size_t kShortestRun = 4;
  std::size_t runs = sources.empty() ? 0 : 1;
  for (std::size_t item = 1; item < sources.size(); ++item) {
    runs += sources[item] == sources[item - 1] ? 0 : 1;
  }
  // Items are numbered in 31 bits below, beside 32 bits of a 64-bit hash; a
  // batch beyond that, or a narrower hash, is taken as it comes.
  if (runs * kShortestRun <= sources.size() || sources.size() >= (std::size_t{1} << 31) ||
      sizeof(std::size_t) < 8) {
    return {};
  }
  // Each accepted item as (top 32 bits of its source's hash, item).
  std::vector<std::uint64_t> keyed;
  keyed.reserve(sources.size());
  for (std::size_t item = 0; item < sources.size(); ++item) {
    if ((done[item] & refused) == 0) {
      const std::uint64_t hash = Hash{}(sources[item]);
      keyed.push_back((hash & 0xFFFF'FFFF'0000'0000ULL) | item);
    }
  }
  std::vector<std::uint64_t> sorted(keyed.size());
  constexpr unsigned kDigitBits = 11;
  constexpr std::uint64_t kDigitMask = (1U << kDigitBits) - 1;
  for (unsigned shift = 32; shift < 64; shift += kDigitBits) {
    std::array<std::size_t, kDigitMask + 1> next{};
    for (const std::uint64_t entry : keyed) {
      ++next[(entry >> shift) & kDigitMask];
    }
    std::size_t start = 0;
    for (auto& slot : next) {
      start += std::exchange(slot, start);
    }
    for (const std::uint64_t entry : keyed) {
      sorted[next[(entry >> shift) & kDigitMask]++] = entry;
    }
    keyed.swap(sorted);
  }
  const auto item_of = [](std::uint64_t entry) {
    return static_cast<std::size_t>(entry & 0xFFFF'FFFFU);
  };
  // Each run of one key is taken for a group of one source until the walk
  // below checks it. The walk goes through the items in order and takes
  // each group at its first item, so that it reads the sources in the order
  // of the items rather than of the hashes. run_at_first[item] is where the
  // run of the item's key starts in `keyed`, if the item is its first; a
  // group split off a run whose key several sources share is marked
  // kSplitGroup and listed in `split`.
  constexpr std::uint32_t kNoRun = std::numeric_limits<std::uint32_t>::max();
  constexpr std::uint32_t kSplitGroup = 1U << 31;
  std::vector<std::uint32_t> run_at_first(sources.size(), kNoRun);
  for (std::size_t run = 0; run < keyed.size(); ++run) {
    if (run == 0 || (keyed[run] >> 32) != (keyed[run - 1] >> 32)) {
      run_at_first[item_of(keyed[run])] = static_cast<std::uint32_t>(run);
    }
  }
  const auto run_end = [&](std::size_t start) {
    std::size_t end = start + 1;
    while (end < keyed.size() && (keyed[end] >> 32) == (keyed[start] >> 32)) {
      ++end;
    }
    return end;
  };
  std::vector<std::pair<std::size_t, std::size_t>> split;
  const typename IdEqualFor<Id>::type equal;
  std::vector<std::size_t> order;
  order.reserve(keyed.size());
  for (std::size_t item = 0; item < sources.size(); ++item) {
    const std::uint32_t marked = run_at_first[item];
    if (marked == kNoRun) {
      continue;
    }
    std::size_t start = 0;
    std::size_t end = 0;
    if ((marked & kSplitGroup) != 0) {
      std::tie(start, end) = split[marked & ~kSplitGroup];
    } else {
      start = marked;
      end = run_end(start);
      const Id& source = sources[item];
      const auto first = keyed.begin() + static_cast<std::ptrdiff_t>(start);
      const auto last = keyed.begin() + static_cast<std::ptrdiff_t>(end);
      const auto of_source = [&](std::uint64_t entry) {
        return equal(sources[item_of(entry)], source);
      };
      if (!std::all_of(first + 1, last, of_source)) {
        // Sources that share the key: this item's keeps the front of the
        // run, the others become groups taken at their own first items
        // (later ones, as this item is the run's first).
        const std::size_t kept =
            static_cast<std::size_t>(std::stable_partition(first, last, of_source) - keyed.begin());
        for (std::size_t rest = kept; rest < end;) {
          const Id& other = sources[item_of(keyed[rest])];
          const std::size_t next = static_cast<std::size_t>(
              std::stable_partition(
                  keyed.begin() + static_cast<std::ptrdiff_t>(rest), last,
                  [&](std::uint64_t entry) { return equal(sources[item_of(entry)], other); }) -
              keyed.begin());
          run_at_first[item_of(keyed[rest])] =
              kSplitGroup | static_cast<std::uint32_t>(split.size());
          split.emplace_back(rest, next);
          rest = next;
        }
        end = kept;
      }
    }
    for (std::size_t at = start; at < end; ++at) {
      order.push_back(item_of(keyed[at]));
    }
  }
  return order;
}

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

  std::size_t operator()(std::size_t original) const {
    const auto moved = place_of_.find(original);
    return moved == place_of_.end() ? original : moved->second;
  }

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

}  // namespace batch_detail

template <class Id, class T, class W, class Hash>
std::size_t GraphDiff<Id, T, W, Hash>::add_edges(std::span<const Id> from, std::span<const Id> to,
                                                 std::span<const W> weights) {
  using namespace batch_detail;
  assert(from.size() == to.size() && from.size() == weights.size());
  const std::size_t count = from.size();
  auto& groups = edges_.new_or_updated;
  std::vector<std::uint8_t> done(count, 0);
  std::vector<W> replaced;  // the weights that were overwritten, in processing order
  std::vector<std::size_t> order;
  // The first pass processes the items in `order` (or as they come, when it
  // is empty); `position` counts the items it has begun.
  const auto item_at = [&](std::size_t position) {
    return order.empty() ? position : order[position];
  };
  std::size_t positions = count;
  std::size_t position = 0;
  try {
    if (!deleted_nodes_.empty()) {
      for (std::size_t item = 0; item < count; ++item) {
        if (deleted_nodes_.contains(from[item]) || deleted_nodes_.contains(to[item])) {
          done[item] = refused;
        }
      }
    }
    order = order_by_source<Id, Hash>(from, done);
    positions = order.empty() ? count : order.size();
    typename Edges::TargetWeights* group = nullptr;
    const Id* group_key = nullptr;
    std::size_t run_left = 0;
    for (; position < positions; ++position) {
      const std::size_t item = item_at(position);
      // At the start of a run of one source, its group makes room for the
      // whole run at once, rather than growing step by step as it fills.
      std::size_t run = 0;
      if (run_left == 0) {
        run = 1;
        while (position + run < positions &&
               typename IdEqualFor<Id>::type{}(from[item_at(position + run)], from[item])) {
          ++run;
        }
        run_left = run;
      }
      --run_left;
      if ((done[item] & refused) != 0) {
        continue;
      }
      auto& targets = group_for(groups, from[item], group, group_key, done[item]);
      if (run != 0) {
        targets.reserve_more(run);
      }
      auto [target, new_pair] = targets.try_emplace(to[item], weights[item]);
      if (new_pair) {
        done[item] |= inserted;
      } else {
        replaced.push_back(target->second);
        target->second = weights[item];
        done[item] |= overwrote;
      }
    }
  } catch (...) {
    for (std::size_t undone = std::min(position + 1, positions); undone-- > 0;) {
      const std::size_t item = item_at(undone);
      if ((done[item] & refused) != 0) {
        continue;
      }
      if ((done[item] & (inserted | overwrote)) != 0) {
        auto& targets = groups.find(from[item])->second;
        if ((done[item] & inserted) != 0) {
          targets.erase(to[item]);
        } else {
          targets.find(to[item])->second = replaced.back();
          replaced.pop_back();
        }
      }
      erase_created_group(groups, from[item], done[item]);
    }
    throw;
  }
  // Nothing below allocates or throws.
  std::size_t recorded = 0;
  for (std::size_t item = 0; item < count; ++item) {
    if ((done[item] & refused) != 0) {
      continue;
    }
    ++recorded;
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
  return recorded;
}

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::delete_edges(std::span<const Id> from, std::span<const Id> to) {
  using namespace batch_detail;
  assert(from.size() == to.size());
  const std::size_t count = from.size();
  std::vector<std::uint8_t> done(count, 0);
  std::size_t item = 0;
  try {
    typename Edges::Targets* group = nullptr;
    const Id* group_key = nullptr;
    for (; item < count; ++item) {
      auto& targets = group_for(edges_.deleted, from[item], group, group_key, done[item]);
      if (targets.insert(to[item]).second) {
        done[item] |= inserted;
      }
    }
  } catch (...) {
    for (std::size_t index = std::min(item + 1, count); index-- > 0;) {
      if ((done[index] & inserted) != 0) {
        edges_.deleted.find(from[index])->second.erase(to[index]);
      }
      erase_created_group(edges_.deleted, from[index], done[index]);
    }
    throw;
  }
  // Nothing below allocates or throws.
  for (item = 0; item < count && !edges_.new_or_updated.empty(); ++item) {
    remove_pending_pair(Probe(from[item]), Probe(to[item]));
  }
}

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::add_or_update_nodes(std::span<const Id> ids, std::span<T> updates) {
  using namespace batch_detail;
  assert(ids.size() == updates.size());
  const std::size_t count = ids.size();
  std::vector<std::uint8_t> done(count, 0);
  std::size_t item = 0;
  try {
    for (; item < count; ++item) {
      // An update is moved in only when its node gets a new record; the
      // merges into existing records wait for the second pass.
      if (new_or_updated_nodes_.try_emplace(ids[item], std::move(updates[item])).second) {
        done[item] = created_group;
      }
    }
  } catch (...) {
    for (std::size_t index = item; index-- > 0;) {
      erase_created_group(new_or_updated_nodes_, ids[index], done[index]);
    }
    throw;
  }
  // Nothing below allocates or throws: the merge moves texts.
  for (item = 0; item < count; ++item) {
    if (done[item] == 0) {
      new_or_updated_nodes_.find(ids[item])->second += std::move(updates[item]);
    }
    if (!deleted_nodes_.empty()) {
      deleted_nodes_.erase(ids[item]);
    }
  }
}

// The first pass finds, for each id, the sources that point at it when its
// turn comes in the per-item loop: the pending edges as they are, minus the
// sources deleted earlier in the batch (whose entries the loop would have
// dropped by then). It lists them as delete_node does, in the order of the
// source entries once the node's own entry is gone; the entries of the ids
// before it are gone too by then, each having moved the last entry into its
// hole, and `places` follows those moves without making them. A repeated id
// changes nothing the second time.
template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::delete_nodes(std::span<const Id> ids) {
  using namespace batch_detail;
  const std::size_t count = ids.size();
  const SourceEntry* const first_source = edges_.new_or_updated.begin();
  const auto original_place = [&](const SourceEntry* entry) {
    return static_cast<std::size_t>(entry - first_source);
  };
  std::vector<std::uint8_t> done(count, 0);
  NodeSet earlier;  // the ids of the batch up to the current one
  earlier.reserve(count);
  // For each id, its sources (ids, so that erasures cannot invalidate them);
  // item i's run from pointing_end[i - 1] to pointing_end[i].
  std::vector<Id> pointing_sources;
  std::vector<std::size_t> pointing_end(count, 0);
  // What each insertion of (pointing_sources[k], its id) into edges.deleted
  // did, for k in order; item_of[k] is the item whose id it was.
  std::vector<std::uint8_t> recorded;
  std::vector<std::size_t> item_of;
  SourceList pointing;
  std::size_t longest_run = 0;
  // Without an index, when scanning every source for each id would cost
  // more than visiting every pending pair once, one pass finds the sources
  // of all the ids: item i's are bucketed[bucket_end[i - 1]..bucket_end[i]).
  std::vector<std::size_t> bucket_end;
  std::vector<SourceEntry*> bucketed;
  std::size_t item = 0;
  try {
    PlacesAfterRemovals places(edges_.new_or_updated.size(), count);
    if (!sources_by_target_ && count > 1) {
      sources_in_one_pass(ids, bucket_end, bucketed);
    }
    for (; item < count; ++item) {
      const Probe node(ids[item]);
      if (!earlier.insert(node).second) {
        done[item] = skipped;
        pointing_end[item] = pointing_sources.size();
        continue;
      }
      pointing.clear();
      if (!bucket_end.empty()) {
        pointing.assign(
            bucketed.begin() + static_cast<std::ptrdiff_t>(item == 0 ? 0 : bucket_end[item - 1]),
            bucketed.begin() + static_cast<std::ptrdiff_t>(bucket_end[item]));
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
      longest_run = std::max(longest_run, pointing.size());
      for (const SourceEntry* entry : pointing) {
        pointing_sources.push_back(entry->first);
      }
      pointing_end[item] = pointing_sources.size();
      if (deleted_nodes_.insert(node).second) {
        done[item] = inserted;
      }
      const std::size_t first = item == 0 ? 0 : pointing_end[item - 1];
      for (std::size_t source = first; source < pointing_end[item]; ++source) {
        item_of.push_back(item);
        recorded.push_back(0);
        auto [group, created] = edges_.deleted.try_emplace(pointing_sources[source]);
        recorded.back() = created ? created_group : 0;
        if (group->second.insert(node).second) {
          recorded.back() |= inserted;
        }
      }
    }
    pointing.reserve(longest_run);
  } catch (...) {
    for (std::size_t index = recorded.size(); index-- > 0;) {
      const Id& group_key = pointing_sources[index];
      if ((recorded[index] & inserted) != 0) {
        edges_.deleted.find(group_key)->second.erase(ids[item_of[index]]);
      }
      erase_created_group(edges_.deleted, group_key, recorded[index]);
    }
    for (std::size_t index = std::min(item + 1, count); index-- > 0;) {
      if ((done[index] & inserted) != 0) {
        deleted_nodes_.erase(ids[index]);
      }
    }
    throw;
  }
  // Nothing below allocates or throws: `pointing` has room for every
  // item's sources.
  for (item = 0; item < count; ++item) {
    if ((done[item] & skipped) != 0) {
      continue;
    }
    const Probe node(ids[item]);
    pointing.clear();
    const std::size_t first = item == 0 ? 0 : pointing_end[item - 1];
    for (std::size_t source = first; source < pointing_end[item]; ++source) {
      pointing.push_back(edges_.new_or_updated.find(pointing_sources[source]));
    }
    erase_deleted_node(node, pointing, edges_.new_or_updated.find(node));
  }
}

template <class Id, class T, class W, class Hash>
void GraphDiff<Id, T, W, Hash>::sources_in_one_pass(std::span<const Id> ids,
                                                    std::vector<std::size_t>& bucket_end,
                                                    std::vector<SourceEntry*>& bucketed) {
  std::size_t pairs = 0;
  for (const auto& entry : edges_.new_or_updated) {
    pairs += entry.second.size();
  }
  if (ids.size() * edges_.new_or_updated.size() < pairs) {
    return;  // scanning per id is cheaper
  }
  IdMap<Id, std::size_t, Hash> first_item;
  first_item.reserve(ids.size());
  for (std::size_t item = 0; item < ids.size(); ++item) {
    first_item.try_emplace(ids[item], item);
  }
  // (item, source entry) for every pending pair that points at an id of the
  // batch, in the order in which a scan meets the sources.
  std::vector<std::pair<std::size_t, SourceEntry*>> found;
  for (auto& entry : edges_.new_or_updated) {
    for (const auto& target : entry.second) {
      if (const auto position = first_item.find(target.first);
          position != first_item.end() && !(entry.first == target.first)) {
        found.emplace_back(position->second, &entry);
      }
    }
  }
  // A counting sort by item keeps each item's sources in scan order.
  bucket_end.assign(ids.size(), 0);
  for (const auto& [item, entry] : found) {
    ++bucket_end[item];
  }
  std::size_t end = 0;
  for (auto& bucket : bucket_end) {
    end += bucket;
    bucket = end;
  }
  bucketed.resize(found.size());
  for (auto position = found.rbegin(); position != found.rend(); ++position) {
    bucketed[--bucket_end[position->first]] = position->second;
  }
  for (std::size_t item = 0; item + 1 < ids.size(); ++item) {
    bucket_end[item] = bucket_end[item + 1];
  }
  bucket_end.back() = found.size();
  scan_work_ += edges_.new_or_updated.size();
  build_work_ = pairs;
}

}  // namespace quorl
