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
#include <array>
#include <bit>
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
  refused = 1,   // add_edges: an endpoint is marked deleted
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

// The hashes of `ids` into `out`: all at once where the hash can, else one
// by one.
template <class Hash, class Id>
void hash_many(std::span<const Id> ids, std::uint64_t* out) {
  if constexpr (requires { Hash::hash_many(ids, out); }) {
    Hash::hash_many(ids, out);
  } else {
    for (const Id& id : ids) {
      *out++ = static_cast<std::uint64_t>(Hash{}(id));
    }
  }
}

// Whether the items already come in runs of one source, kShortestRun long
// on average, so that grouping them would gain nothing. A large batch is
// judged by windows spread over it rather than read whole for this: either
// way gives the same result, and the wrong choice costs no more than the
// per-item loop.
template <class Id>
bool comes_in_runs(std::span<const Id> sources) {
  constexpr std::size_t kShortestRun = 4;
  constexpr std::size_t kWindows = 16;
  constexpr std::size_t kWindowLength = 256;
  const typename IdEqualFor<Id>::type equal;
  std::size_t compared = 0;
  std::size_t changes = 0;
  const auto scan = [&](std::size_t first, std::size_t last) {
    for (std::size_t item = first + 1; item < last; ++item) {
      changes += equal(sources[item], sources[item - 1]) ? 0 : 1;
    }
    compared += last - first - 1;
  };
  if (sources.size() <= 1) {
    return true;
  }
  if (sources.size() <= kWindows * kWindowLength) {
    scan(0, sources.size());
  } else {
    for (std::size_t window = 0; window < kWindows; ++window) {
      const std::size_t first = (sources.size() - kWindowLength) * window / (kWindows - 1);
      scan(first, first + kWindowLength);
    }
  }
  // Runs are one more than the changes between neighbours.
  return (changes + 1) * kShortestRun <= compared + 1;
}

// The items of `sources` that `done` does not mark refused, grouped by
// source: `order` lists each group's items in item order, the groups in the
// order of their first items, and group_end[g] is where group g ends in
// `order`. Both are empty when the items already come in runs of one
// source. Processing the items in this order inserts the same new sources
// in the same order, and gives every source its targets in the same order,
// as processing them as they come: it only keeps the work on one source's
// targets together, where a diff of many sources would otherwise meet a
// cold group at every item.
struct SourceGroups {
  std::vector<std::uint32_t> order;
  std::vector<std::uint32_t> group_end;
};

// Groups are numbered as their first items come, in a table of their own:
// a slot holds 32 bits of the source's keyed hash and the group's number,
// 8 bytes, and the group's source is kept beside, in the order of the
// groups. For 10^5 sources that is 2 MB of slots, which stays in cache
// where the diff's own table of sources (with a group of targets behind
// each entry) would take a random memory access per item. Counting the
// items of each group then places every item in `order` at once.
template <class Id, class Hash>
SourceGroups group_by_source(std::span<const Id> sources, const std::vector<std::uint8_t>& done) {
  constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
  const std::size_t count = sources.size();
  const typename IdEqualFor<Id>::type equal;
  // Items are numbered in 32 bits below; a batch beyond that is taken as it
  // comes.
  if (comes_in_runs(sources) || count >= kNone) {
    return {};
  }
  struct Slot {
    std::uint32_t tag;
    std::uint32_t group;  // kNone: empty
  };
  std::vector<Slot> slots(std::size_t{1} << 10, Slot{0, kNone});
  std::size_t mask = slots.size() - 1;
  const auto grow = [&] {
    std::vector<Slot> grown(2 * slots.size(), Slot{0, kNone});
    const std::size_t grown_mask = grown.size() - 1;
    for (const Slot slot : slots) {
      if (slot.group != kNone) {
        std::size_t at = slot.tag & grown_mask;
        while (grown[at].group != kNone) {
          at = (at + 1) & grown_mask;
        }
        grown[at] = slot;
      }
    }
    slots.swap(grown);
    mask = grown_mask;
  };
  std::vector<Id> group_source;
  std::vector<std::uint32_t> group_size;
  std::vector<std::uint32_t> group_of(count);
  // The sources are hashed a block at a time, a block ahead of their turn,
  // and each item asks for the slot of the item a block after it, so that
  // the slots' lines are on their way, a few at a time, before they are
  // read. `tags` holds the current block's tags and the next one's.
  constexpr std::size_t kBlock = 32;
  std::array<std::uint64_t, kBlock> hashes{};
  std::array<std::uint32_t, 2 * kBlock> tags{};
  const auto hash_block = [&](std::size_t first) {
    const std::size_t size = std::min(kBlock, count - first);
    hash_many<Hash>(sources.subspan(first, size), hashes.data());
    for (std::size_t index = 0; index < size; ++index) {
      const auto tag = static_cast<std::uint32_t>(hashes[index] ^ (hashes[index] >> 32));
      tags[(first + index) % tags.size()] = tag;
    }
  };
  hash_block(0);
  for (std::size_t block = 0; block < count; block += kBlock) {
    if (block + kBlock < count) {
      hash_block(block + kBlock);
    }
    const std::uint32_t* const block_tags = &tags[block % tags.size()];
    const std::uint32_t* const next_tags = &tags[(block + kBlock) % tags.size()];
    const std::size_t block_end = std::min(block + kBlock, count);
    for (std::size_t item = block; item < block_end; ++item) {
      if (item + kBlock < count) {
        __builtin_prefetch(&slots[next_tags[item - block] & mask]);
      }
      if ((done[item] & refused) != 0) {
        group_of[item] = kNone;
        continue;
      }
      const Id& source = sources[item];
      const std::uint32_t tag = block_tags[item - block];
      std::size_t at = tag & mask;
      while (slots[at].group != kNone &&
             (slots[at].tag != tag || !equal(group_source[slots[at].group], source))) {
        at = (at + 1) & mask;
      }
      std::uint32_t group = slots[at].group;
      if (group == kNone) {
        group = static_cast<std::uint32_t>(group_size.size());
        slots[at] = Slot{tag, group};
        group_source.push_back(source);
        group_size.push_back(0);
        if (2 * group_size.size() > slots.size()) {
          grow();
        }
      }
      group_of[item] = group;
      ++group_size[group];
    }
  }
  // Each group's size becomes its start in `order`, and that start its end
  // as the group is filled.
  std::uint32_t start = 0;
  for (std::uint32_t& size : group_size) {
    start += std::exchange(size, start);
  }
  SourceGroups groups{std::vector<std::uint32_t>(start), std::move(group_size)};
  for (std::size_t item = 0; item < count; ++item) {
    if (const std::uint32_t group = group_of[item]; group != kNone) {
      groups.order[groups.group_end[group]++] = static_cast<std::uint32_t>(item);
    }
  }
  return groups;
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
  std::size_t accepted = count;
  if (!deleted_nodes_.empty()) {
    for (std::size_t item = 0; item < count; ++item) {
      if (deleted_nodes_.contains(from[item]) || deleted_nodes_.contains(to[item])) {
        done[item] = refused;
        --accepted;
      }
    }
  }
  const SourceGroups grouped = group_by_source<Id, Hash>(from, done);
  UndoJournal journal;
  // Each run of one source looks its group up once, at its first accepted
  // item, and makes room for the whole run at once rather than growing step
  // by step as it fills.
  const auto open_group = [&](std::size_t item, std::size_t run) {
    const auto group = journal.open_group(groups, journal.insert(groups, from[item]).first);
    group.container().reserve_more(run);
    return group;
  };
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
  SourceList pointing;
  std::size_t longest_run = 0;
  // Without an index, when scanning every source for each id would cost
  // more than visiting every pending pair once, one pass finds the sources
  // of all the ids: item i's are bucketed[bucket_end[i - 1]..bucket_end[i]).
  std::vector<std::size_t> bucket_end;
  std::vector<SourceEntry*> bucketed;
  UndoJournal journal;
  {
    PlacesAfterRemovals places(edges_.new_or_updated.size(), count);
    if (!sources_by_target_ && count > 1) {
      sources_in_one_pass(ids, bucket_end, bucketed);
    }
    for (std::size_t item = 0; item < count; ++item) {
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
      journal.insert(deleted_nodes_, node);
      const std::size_t first = item == 0 ? 0 : pointing_end[item - 1];
      for (std::size_t source = first; source < pointing_end[item]; ++source) {
        const auto group = journal.insert(edges_.deleted, pointing_sources[source]).first;
        journal.open_group(edges_.deleted, group).insert(node);
      }
    }
    pointing.reserve(longest_run);
  }
  journal.commit();
  // `pointing` has room for every item's sources.
  for (std::size_t item = 0; item < count; ++item) {
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
  // Scanning the sources once per id costs ids × sources; one pass over
  // every pending pair costs the pairs, counted as the pass goes so that
  // their groups are visited once. The pass gives up, having spent no more
  // than the scans will, as soon as the pairs outnumber the scans.
  std::size_t scans = 0;
  if (__builtin_mul_overflow(ids.size(), edges_.new_or_updated.size(), &scans)) {
    scans = std::numeric_limits<std::size_t>::max();
  }
  IdMap<Id, std::size_t, Hash> first_item;
  first_item.reserve(ids.size());
  // Most targets are not among the ids, and a filter over the ids' own bits
  // tells most of those apart without hashing them; a target that passes
  // is looked up as every target would be otherwise.
  const std::size_t filter_bits = std::bit_ceil(
      std::clamp(ids.size() * std::size_t{64}, std::size_t{1} << 12, std::size_t{1} << 23));
  const int filter_shift = 64 - std::countr_zero(filter_bits);
  std::vector<std::uint64_t> filter(filter_bits / 64);
  const auto filter_bit = [&](const Id& id) {
    return static_cast<std::size_t>(unkeyed_mix(id) >> filter_shift);
  };
  for (std::size_t item = 0; item < ids.size(); ++item) {
    first_item.try_emplace(ids[item], item);
    const std::size_t bit = filter_bit(ids[item]);
    filter[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
  // (item, source entry) for every pending pair that points at an id of the
  // batch, in the order in which a scan meets the sources.
  std::vector<std::pair<std::size_t, SourceEntry*>> found;
  std::size_t pairs = 0;
  for (auto& entry : edges_.new_or_updated) {
    pairs += entry.second.size();
    if (pairs > scans) {
      return;  // scanning per id is cheaper
    }
    for (const auto& target : entry.second) {
      const std::size_t bit = filter_bit(target.first);
      if ((filter[bit / 64] & (std::uint64_t{1} << (bit % 64))) == 0) {
        continue;
      }
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
