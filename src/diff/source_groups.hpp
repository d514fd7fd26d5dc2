// Grouping a batch of edges by source, for GraphDiff::add_edges: scratch
// work on the batch alone, which never touches the diff.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "diff/id_containers.hpp"
#include "diff/id_hash.hpp"

namespace quorl {

namespace batch_detail {

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
// judged by windows of it rather than read whole: either way gives the same
// result. The windows are placed afresh for every batch from the process's
// key, so that whoever chooses the items cannot know which of them are
// judged: runs placed where the windows fall, and items that each meet a
// cold group elsewhere, would take the per-item path at several times the
// cost of grouping.
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
    static std::atomic<std::uint64_t> batches{0};
    const HashKey& key = process_hash_key();
    const std::uint64_t batch = batches.fetch_add(1, std::memory_order_relaxed);
    const std::size_t places = sources.size() - kWindowLength + 1;
    for (std::size_t window = 0; window < kWindows; ++window) {
      const std::size_t first = sip_hash_1_3(key, batch, window) % places;
      scan(first, first + kWindowLength);
    }
  }
  // Runs are one more than the changes between neighbours.
  return (changes + 1) * kShortestRun <= compared + 1;
}

// Numbers the distinct ids it is given in the order they first come. A
// slot holds 32 bits of the id's hash (its tag, which the caller supplies)
// and the id's number, 8 bytes, and the ids are kept beside, in the order
// of their numbers. For 10^5 sources that is 2 MB of slots, which stays in
// cache where the diff's own table of sources (with a group of targets
// behind each entry) would take a random memory access per item.
template <class Id>
class GroupNumbers {
 public:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  GroupNumbers() : slots_(kInitialSlots, Slot{0, kNone}) {}

  // Asks for the slot where `tag` starts its search, ahead of number().
  void prefetch(std::uint32_t tag) const noexcept { __builtin_prefetch(&slots_[tag & mask_]); }

  // The number of `id`, whose tag is `tag`: a new id takes the next one.
  std::uint32_t number(const Id& id, std::uint32_t tag) {
    std::size_t at = tag & mask_;
    while (slots_[at].group != kNone &&
           (slots_[at].tag != tag || !equal_(ids_[slots_[at].group], id))) {
      at = (at + 1) & mask_;
    }
    if (slots_[at].group != kNone) {
      return slots_[at].group;
    }
    const auto group = static_cast<std::uint32_t>(ids_.size());
    ids_.push_back(id);
    slots_[at] = Slot{tag, group};
    // At most half full, so that a search rarely passes more than a slot.
    if (2 * ids_.size() > slots_.size()) {
      grow();
    }
    return group;
  }

  // The ids numbered so far.
  [[nodiscard]] std::size_t size() const noexcept { return ids_.size(); }

 private:
  static constexpr std::size_t kInitialSlots = std::size_t{1} << 10;

  struct Slot {
    std::uint32_t tag;
    std::uint32_t group;  // kNone: empty
  };

  void grow() {
    std::vector<Slot> grown(2 * slots_.size(), Slot{0, kNone});
    const std::size_t grown_mask = grown.size() - 1;
    for (const Slot slot : slots_) {
      if (slot.group != kNone) {
        std::size_t at = slot.tag & grown_mask;
        while (grown[at].group != kNone) {
          at = (at + 1) & grown_mask;
        }
        grown[at] = slot;
      }
    }
    slots_.swap(grown);
    mask_ = grown_mask;
  }

  std::vector<Slot> slots_;
  std::size_t mask_ = kInitialSlots - 1;
  std::vector<Id> ids_;
  [[no_unique_address]] typename IdEqualFor<Id>::type equal_;
};

// The items of `sources` whose mark in `left_out` is zero, grouped by
// source: `order` lists each group's items in item order, the groups in
// the order of their first items, and group_end[g] is where group g ends in
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

template <class Id, class Hash>
SourceGroups group_by_source(std::span<const Id> sources, std::span<const std::uint8_t> left_out) {
  constexpr std::uint32_t kNone = GroupNumbers<Id>::kNone;
  const std::size_t count = sources.size();
  // Items are numbered in 32 bits below; a batch beyond that is taken as it
  // comes.
  if (comes_in_runs(sources) || count >= kNone) {
    return {};
  }
  GroupNumbers<Id> numbers;
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
        numbers.prefetch(next_tags[item - block]);
      }
      if (left_out[item] != 0) {
        group_of[item] = kNone;
        continue;
      }
      const std::uint32_t group = numbers.number(sources[item], block_tags[item - block]);
      if (group == group_size.size()) {
        group_size.push_back(0);
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

}  // namespace batch_detail
}  // namespace quorl
