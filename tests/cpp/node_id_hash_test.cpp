#include "diff/node_id.hpp"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diff/graph_diff.hpp"

namespace quorl {
namespace {

static_assert(sizeof(std::size_t) == 8, "the pinned hash values are 64-bit");

NodeId bytes_counting_up() {
  NodeId id{};
  for (std::size_t index = 0; index < id.size(); ++index) {
    id[index] = static_cast<std::uint8_t>(index);
  }
  return id;
}

NodeId filled(std::uint8_t byte) {
  NodeId id;
  id.fill(byte);
  return id;
}

NodeId with_last_byte(std::uint8_t byte) {
  NodeId id{};
  id[15] = byte;
  return id;
}

std::string hex(std::size_t value) {
  char buffer[17];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, 16).ptr;
  const std::string digits(buffer, end);
  return std::string(16 - digits.size(), '0') + digits;
}

// The hash decides the order in which every process lists a diff's entries
// and writes its bytes, so a change to it must be deliberate: these values
// are to be updated only together with the hash itself.
TEST(NodeIdHash, PinnedValues) {
  const struct {
    const char* name;
    NodeId id;
    const char* hash;
  } pinned[] = {
      {"all zero", NodeId{}, "a8595cfb6db6a609"},
      {"00 to 0f", bytes_counting_up(), "85c7ac8cb09ebd0d"},
      {"all ff", filled(0xff), "19786ed5351f1bba"},
      {"last byte 1", with_last_byte(1), "c728a003f3676ce0"},
      {"last byte 2", with_last_byte(2), "54db4af5b8e2381c"},
  };
  for (const auto& [name, id, expected] : pinned) {
    EXPECT_EQ(hex(NodeIdHash{}(id)), expected) << name;
  }
}

// Writes `value` big-endian into `size` bytes starting at `first`.
NodeId with_counter(std::uint64_t value, std::size_t first, std::size_t size, NodeId id = {}) {
  for (std::size_t index = 0; index < size; ++index) {
    id[first + size - 1 - index] = static_cast<std::uint8_t>(value >> (8 * index));
  }
  return id;
}

struct IdFamily {
  std::string name;
  std::vector<NodeId> ids;
};

std::vector<NodeId> counters(std::size_t first, std::size_t size, const NodeId& background = {}) {
  std::vector<NodeId> ids;
  for (std::uint32_t value = 0; value < (1U << 16); ++value) {
    ids.push_back(with_counter(value, first, size, background));
  }
  return ids;
}

// All ids with exactly one non-zero byte.
std::vector<NodeId> one_byte_set() {
  std::vector<NodeId> ids;
  for (std::size_t position = 0; position < 16; ++position) {
    for (unsigned byte = 1; byte < 256; ++byte) {
      NodeId id{};
      id[position] = static_cast<std::uint8_t>(byte);
      ids.push_back(id);
    }
  }
  return ids;
}

// Halves that once made the product zero, so that the other half was lost.
const NodeId kFirstHalfOfOldKey{0x2f, 0x64, 0xbd, 0x78, 0x64, 0x1d, 0x76, 0xa0};
const NodeId kSecondHalfOfOldKey{0,    0,    0,    0,    0,    0,    0,    0,
                                 0xdb, 0x28, 0xb4, 0xa0, 0xd1, 0x7e, 0x03, 0xe7};

std::vector<IdFamily> families() {
  return {{"counter in the last bytes", counters(12, 4)},
          {"counter in the first bytes", counters(0, 2)},
          {"counter across the middle", counters(7, 2)},
          {"counter at the start of the second half", counters(8, 2)},
          {"counter at the end of the first half", counters(4, 4)},
          {"one byte set", one_byte_set()},
          {"counter under a fixed first half", counters(14, 2, kFirstHalfOfOldKey)},
          {"counter under a fixed second half", counters(6, 2, kSecondHalfOfOldKey)}};
}

// Pearson's statistic of the ids' hashes over 1024 buckets taken from ten
// bits starting at `shift`.
double chi_square(const std::vector<NodeId>& ids, unsigned shift) {
  std::array<double, 1024> counts{};
  for (const NodeId& id : ids) {
    counts[(NodeIdHash{}(id) >> shift) & 1023U] += 1.0;
  }
  const double expected = static_cast<double>(ids.size()) / 1024.0;
  double statistic = 0.0;
  for (const double count : counts) {
    statistic += (count - expected) * (count - expected) / expected;
  }
  return statistic;
}

// Ids are rarely random: counters and mostly-zero ids must spread over the
// low bits (the containers' per-slot tag) and the high bits (their slot
// position) alike. With 1023 degrees of freedom the statistic has mean 1023
// and standard deviation 45; the bound lies eight deviations above.
TEST(NodeIdHash, StructuredIdsSpreadOverLowMiddleAndHighBits) {
  for (const IdFamily& family : families()) {
    for (const unsigned shift : {0U, 27U, 54U}) {
      EXPECT_LT(chi_square(family.ids, shift), 1400.0) << family.name << ", bits from " << shift;
    }
    std::set<std::size_t> distinct;
    for (const NodeId& id : family.ids) {
      distinct.insert(NodeIdHash{}(id));
    }
    EXPECT_EQ(distinct.size(), family.ids.size()) << family.name;
  }
}

// Two diffs given the same edits list every container in the same order:
// nothing about the container or the process enters the order.
TEST(NodeIdHash, SameHistoryListsSameOrder) {
  const auto build = [] {
    std::mt19937 engine(7);
    Diff diff;
    for (int step = 0; step < 3000; ++step) {
      const NodeId from = with_counter(engine() % 400, 12, 4);
      const NodeId to = with_counter(engine() % 400, 0, 2);
      switch (engine() % 4) {
        case 0:
          diff.add_or_update_node(from, {});
          break;
        case 1:
          diff.delete_node(to);
          break;
        case 2:
          (void)diff.add_edge(from, to, 1.0F);
          break;
        default:
          diff.delete_edge(to, from);
          break;
      }
    }
    return diff;
  };
  const auto listing = [](const Diff& diff) {
    std::vector<NodeId> ids;
    for (const auto& entry : diff.new_or_updated_nodes()) {
      ids.push_back(entry.first);
    }
    ids.insert(ids.end(), diff.deleted_nodes().begin(), diff.deleted_nodes().end());
    for (const auto& [source, targets] : diff.edges().new_or_updated) {
      ids.push_back(source);
      for (const auto& entry : targets) {
        ids.push_back(entry.first);
      }
    }
    for (const auto& [source, targets] : diff.edges().deleted) {
      ids.push_back(source);
      ids.insert(ids.end(), targets.begin(), targets.end());
    }
    return ids;
  };
  const Diff first = build();
  const Diff second = build();
  ASSERT_GT(first.num_nodes(), 100U);
  ASSERT_GT(first.num_edges(), 100U);
  EXPECT_EQ(listing(first), listing(second));
}

}  // namespace
}  // namespace quorl
