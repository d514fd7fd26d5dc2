// The encoder sizes its buffer of node texts for strings that need no
// escape and makes room as it goes for those that do: every mix of plain
// and escaped records, in any order, comes back as it went in, and long
// plain labels cost about their own length, not six times it.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "byte_form_support.hpp"
#include "byte_string.hpp"
#include "heap_probe.hpp"

namespace quorl {
namespace {

using namespace testing_support;

NodeId id_of(std::size_t index) {
  NodeId id{};
  for (std::size_t byte = 0; byte < 8; ++byte) {
    id[byte] = static_cast<std::uint8_t>(index >> (8 * byte));
  }
  return id;
}

TEST(NodeTexts, EscapedAndPlainRecordsInAnyMixComeBack) {
  std::mt19937 random(20261209);
  const char kBytes[] = {'a', '"', '\x01', '\\', '\n', '~'};
  for (int round = 0; round < 200; ++round) {
    Diff diff;
    // From a diff that is all plain to one that is all escapes.
    const auto escaped_share = static_cast<unsigned>(round % 5);
    const std::size_t nodes = 1 + random() % 60;
    for (std::size_t index = 0; index < nodes; ++index) {
      std::string label(random() % 300, 'p');
      if (random() % 4 < escaped_share) {
        for (char& c : label) {
          c = kBytes[random() % std::size(kBytes)];
        }
      }
      NodeUpdate update;
      update.set<Field::label>(label);
      if (random() % 2 == 0) {
        update.set<Field::url>(std::string(random() % 40, '\x1f'));
      }
      diff.add_or_update_node(id_of(index), std::move(update));
    }
    const auto bytes = graph_diff_to_bytes(diff);
    ASSERT_TRUE(bytes.has_value());
    const auto decoded = bytes_to_graph_diff(*bytes);
    ASSERT_TRUE(decoded.has_value());
    expect_same_containers(*decoded, diff);
    if (HasFatalFailure()) {
      return;
    }
  }
}

TEST(NodeTexts, LongPlainLabelsCostAboutTheirLength) {
  constexpr std::size_t kNodes = 64;
  constexpr std::size_t kLabel = 1 << 16;
  Diff diff;
  for (std::size_t index = 0; index < kNodes; ++index) {
    NodeUpdate update;
    update.set<Field::label>(std::string(kLabel, 'x'));
    diff.add_or_update_node(id_of(index), std::move(update));
  }
  reset_heap_counts();
  const std::size_t before = live_heap_bytes();
  const auto bytes = graph_diff_to_bytes(diff);
  ASSERT_TRUE(bytes.has_value());
  // The output and the texts buffer, each a little over the labels' length,
  // and nowhere near the six times of sizing for every byte escaped.
  EXPECT_LT(peak_heap_bytes() - before, 3 * kNodes * kLabel);
}

}  // namespace
}  // namespace quorl
