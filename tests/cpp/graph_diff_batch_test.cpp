// The batch operations against the single operations called item by item:
// the same contents in the same listing order (compared through the byte
// form, which lists every container), and all or nothing when an
// allocation fails anywhere inside a batch.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "byte_string.hpp"
#include "diff/graph_diff.hpp"
#include "diff_text.hpp"
#include "heap_probe.hpp"
#include "node_fields.hpp"
#include "random_history.hpp"

namespace quorl {
namespace {

enum class Batch { add_edges, delete_edges, delete_nodes, add_nodes };

// One batch of random items over a small pool of ids, so that items repeat,
// collide with earlier history and hit deleted nodes.
struct Items {
  std::vector<NodeId> first;
  std::vector<NodeId> second;
  std::vector<float> weights;
  std::vector<NodeUpdate> updates;
};

Items random_items(std::mt19937& random, int pool, std::size_t count) {
  Items items;
  for (std::size_t index = 0; index < count; ++index) {
    items.first.push_back(pool_id(random, pool));
    items.second.push_back(pool_id(random, pool));
    items.weights.push_back(static_cast<float>(random() % 1000) / 8.0F);
    NodeUpdate update;
    if (random() % 2 == 0) {
      update.set<Field::label>("label " + std::to_string(random() % 5));
    }
    if (random() % 2 == 0) {
      update.set<Field::red>(static_cast<std::uint8_t>(random()));
    }
    items.updates.push_back(update);
  }
  return items;
}

std::size_t run_batch(Batch batch, Diff& diff, Items items) {
  switch (batch) {
    case Batch::add_edges:
      return diff.add_edges(items.first, items.second, items.weights);
    case Batch::delete_edges:
      diff.delete_edges(items.first, items.second);
      break;
    case Batch::delete_nodes:
      diff.delete_nodes(items.first);
      break;
    case Batch::add_nodes:
      diff.add_or_update_nodes(items.first, items.updates);
      break;
  }
  return 0;
}

std::size_t run_loop(Batch batch, Diff& diff, const Items& items) {
  std::size_t recorded = 0;
  for (std::size_t index = 0; index < items.first.size(); ++index) {
    switch (batch) {
      case Batch::add_edges:
        recorded +=
            diff.add_edge(items.first[index], items.second[index], items.weights[index]) ? 1 : 0;
        break;
      case Batch::delete_edges:
        diff.delete_edge(items.first[index], items.second[index]);
        break;
      case Batch::delete_nodes:
        diff.delete_node(items.first[index]);
        break;
      case Batch::add_nodes:
        diff.add_or_update_node(items.first[index], items.updates[index]);
        break;
    }
  }
  return recorded;
}

ByteString bytes_of(const Diff& diff) { return graph_diff_to_bytes(diff).value(); }

class BatchTest : public ::testing::TestWithParam<Batch> {};

TEST_P(BatchTest, ListsExactlyWhatTheLoopLists) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 300; ++round) {
    const int pool = 2 + round % 40;
    // Built twice from one history, so that the two share nothing. Deleting ids that were never
    // seen makes the deletions of every third round run with the index of sources by target.
    std::mt19937 again = random;
    Diff batched = random_history(random, pool, round % 120);
    Diff looped = random_history(again, pool, round % 120);
    for (int repeat = 0; round % 3 == 0 && repeat < 20; ++repeat) {
      batched.delete_node(NodeId{static_cast<std::uint8_t>(repeat)});
      looped.delete_node(NodeId{static_cast<std::uint8_t>(repeat)});
    }
    const Items items = random_items(random, pool, static_cast<std::size_t>(random() % 200));
    EXPECT_EQ(run_batch(GetParam(), batched, items), run_loop(GetParam(), looped, items));
    ASSERT_EQ(bytes_of(batched), bytes_of(looped)) << "round " << round;
    // Later single operations still agree (the index, if any, kept up).
    for (std::size_t index = 0; index < items.first.size(); ++index) {
      batched.delete_node(items.second[index]);
      looped.delete_node(items.second[index]);
    }
    ASSERT_EQ(bytes_of(batched), bytes_of(looped)) << "round " << round;
  }
}

TEST_P(BatchTest, LeavesTheDiffAsItWasWhenAnAllocationFails) {
  std::mt19937 random(7);
  for (int round = 0; round < 6; ++round) {
    const int pool = 60;
    const Diff start = random_history(random, pool, 150 * round);
    const Items items = random_items(random, pool, 300);
    Diff expected = start;
    run_loop(GetParam(), expected, items);
    for (long failing = 0;; ++failing) {
      Diff diff = start;
      if (round % 2 == 1) {
        for (int repeat = 0; repeat < 30; ++repeat) {
          diff.delete_node(NodeId{});  // builds the index of sources by target
        }
      }
      const Diff before = diff;
      testing_support::fail_allocation_after(failing);
      bool failed = false;
      try {
        run_batch(GetParam(), diff, items);
      } catch (const std::bad_alloc&) {
        failed = true;
      }
      const bool reached = testing_support::stop_failing_allocations();
      if (failed) {
        // Undoing erases the newest entries first, so every container lists
        // what it listed before, and a retry of the batch gives the loop's.
        ASSERT_EQ(bytes_of(diff), bytes_of(before)) << "allocation " << failing;
        Diff looped = diff;
        run_loop(GetParam(), looped, items);
        run_batch(GetParam(), diff, items);
        ASSERT_EQ(bytes_of(diff), bytes_of(looped)) << "allocation " << failing;
      } else if (round % 2 == 0) {
        ASSERT_EQ(bytes_of(diff), bytes_of(expected)) << "allocation " << failing;
      }
      if (!reached) {
        break;
      }
    }
  }
}

// add_or_update_nodes_with, whose fill refuses at each item in turn: every
// new record, merge and repeat before it is undone, and the diff then takes
// the same batch as the loop does.
TEST(AddNodesWith, LeavesTheDiffAsItWasWhenAFillRefuses) {
  std::mt19937 random(31);
  for (int round = 0; round < 40; ++round) {
    const int pool = 3 + round % 20;
    const Diff start = random_history(random, pool, round * 5);
    const Items items = random_items(random, pool, 1 + random() % 40);
    const auto fill_up_to = [&](std::size_t refused) {
      return [&items, refused](std::size_t item, NodeUpdate& update) {
        EXPECT_TRUE(update.empty());
        if (item == refused) {
          return false;
        }
        update = items.updates[item];
        return true;
      };
    };
    for (std::size_t refused = 0; refused < items.first.size(); ++refused) {
      Diff diff = start;
      ASSERT_FALSE(diff.add_or_update_nodes_with(items.first, fill_up_to(refused)));
      ASSERT_EQ(bytes_of(diff), bytes_of(start)) << "round " << round << ", item " << refused;
      ASSERT_TRUE(diff.add_or_update_nodes_with(items.first, fill_up_to(items.first.size())));
      Diff looped = start;
      run_loop(Batch::add_nodes, looped, items);
      ASSERT_EQ(bytes_of(diff), bytes_of(looped)) << "round " << round << ", item " << refused;
    }
  }
}

TEST(AddNodesWith, LeavesTheDiffAsItWasWhenAnAllocationFails) {
  std::mt19937 random(37);
  const Diff start = random_history(random, 30, 200);
  Items items = random_items(random, 30, 200);
  for (std::size_t item = 0; item < items.updates.size(); item += 2) {
    items.updates[item].set<Field::url>(std::string(40, 'u') +
                                        std::to_string(item));  // on the heap
  }
  Diff expected = start;
  run_loop(Batch::add_nodes, expected, items);
  for (long failing = 0;; ++failing) {
    Diff diff = start;
    testing_support::fail_allocation_after(failing);
    bool failed = false;
    try {
      EXPECT_TRUE(
          diff.add_or_update_nodes_with(items.first, [&](std::size_t item, NodeUpdate& update) {
            update = items.updates[item];  // copies the URL's heap block
            return true;
          }));
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    const bool reached = testing_support::stop_failing_allocations();
    ASSERT_EQ(bytes_of(diff), bytes_of(failed ? start : expected)) << "allocation " << failing;
    if (!reached) {
      break;
    }
  }
}

// A hash of three values: add_edges groups the items' sources in a table
// of its own by their hashes, and must still tell apart the many sources
// that share a slot there.
struct CoarseHash {
  std::size_t operator()(const NodeId& id) const noexcept { return id[0] % 3U; }
};

TEST(AddEdges, GroupsSourcesWhoseHashesCollide) {
  using CoarseDiff = GraphDiff<NodeId, NodeUpdate, float, CoarseHash>;
  const auto listing = [](const CoarseDiff& diff) {
    std::vector<std::tuple<NodeId, NodeId, float>> pairs;
    for (const auto& [source, targets] : diff.edges().new_or_updated) {
      for (const auto& [target, weight] : targets) {
        pairs.emplace_back(source, target, weight);
      }
    }
    return pairs;
  };
  std::mt19937 random(11);
  for (int round = 0; round < 20; ++round) {
    const Items items = random_items(random, 40, 300);
    CoarseDiff batched;
    CoarseDiff looped;
    batched.add_edge(items.second[0], items.first[0], 1.0F);
    looped.add_edge(items.second[0], items.first[0], 1.0F);
    batched.add_edges(items.first, items.second, items.weights);
    for (std::size_t index = 0; index < items.first.size(); ++index) {
      looped.add_edge(items.first[index], items.second[index], items.weights[index]);
    }
    ASSERT_EQ(listing(batched), listing(looped)) << "round " << round;
  }
}

// Thousands of sources, interleaved and then shuffled, so that the table
// that groups the items by source grows several times within one batch.
TEST(AddEdges, GroupsThousandsOfSourcesAsTheLoopTakesThem) {
  constexpr std::size_t kSources = 3000;
  const auto id_of = [](std::size_t number) {
    NodeId id{};
    id[0] = static_cast<std::uint8_t>(number);
    id[1] = static_cast<std::uint8_t>(number >> 8U);
    id[15] = 0xa5;
    return id;
  };
  std::mt19937 random(13);
  Items items;
  for (std::size_t index = 0; index < 4 * kSources; ++index) {
    items.first.push_back(id_of(index % kSources));
    items.second.push_back(id_of(random() % kSources));
    items.weights.push_back(static_cast<float>(index));
  }
  for (int round = 0; round < 2; ++round) {
    Diff looped;
    looped.delete_node(id_of(7));
    static_cast<void>(looped.add_edge(id_of(11), id_of(12), 0.5F));
    Diff batched = looped;
    for (std::size_t index = 0; index < items.first.size(); ++index) {
      static_cast<void>(
          looped.add_edge(items.first[index], items.second[index], items.weights[index]));
    }
    batched.add_edges(items.first, items.second, items.weights);
    ASSERT_EQ(bytes_of(batched), bytes_of(looped)) << "round " << round;
    std::vector<std::size_t> permutation(items.first.size());
    std::iota(permutation.begin(), permutation.end(), std::size_t{0});
    std::shuffle(permutation.begin(), permutation.end(), random);
    Items shuffled;
    for (const std::size_t index : permutation) {
      shuffled.first.push_back(items.first[index]);
      shuffled.second.push_back(items.second[index]);
      shuffled.weights.push_back(items.weights[index]);
    }
    items = std::move(shuffled);
  }
}

// A batch that repeats its edges leaves the diff holding what one of each
// holds, whether the repeats come in runs of one source or interleaved.
TEST(AddEdges, RepeatedEdgesKeepNoMoreMemoryThanOneOfEach) {
  constexpr std::size_t kSources = 100;
  constexpr std::size_t kTargetsEach = 10;
  constexpr std::size_t kRepeats = 200;
  const auto id_of = [](std::size_t number, std::uint8_t kind) {
    NodeId id{};
    id[0] = static_cast<std::uint8_t>(number);
    id[1] = static_cast<std::uint8_t>(number >> 8U);
    id[15] = kind;
    return id;
  };
  std::mt19937 random(47);
  for (const bool in_runs : {true, false}) {
    Items once;
    for (std::size_t source = 0; source < kSources; ++source) {
      for (std::size_t target = 0; target < kTargetsEach; ++target) {
        once.first.push_back(id_of(source, 1));
        once.second.push_back(id_of(target, 2));
        once.weights.push_back(1.0F);
      }
    }
    Items repeated;
    for (std::size_t edge = 0; edge < once.first.size(); ++edge) {
      for (std::size_t repeat = 0; repeat < kRepeats; ++repeat) {
        const std::size_t item = in_runs ? edge : random() % once.first.size();
        repeated.first.push_back(once.first[item]);
        repeated.second.push_back(once.second[item]);
        repeated.weights.push_back(static_cast<float>(repeat));
      }
    }
    const auto held_after = [](const Items& items) {
      const std::size_t before = testing_support::live_heap_bytes();
      auto diff = std::make_unique<Diff>();
      diff->add_edges(items.first, items.second, items.weights);
      return testing_support::live_heap_bytes() - before;
    };
    const std::size_t once_bytes = held_after(once);
    const std::size_t repeated_bytes = held_after(repeated);
    EXPECT_LT(repeated_bytes, once_bytes * 3 / 2) << (in_runs ? "in runs" : "interleaved");
  }
}

std::string batch_name(const ::testing::TestParamInfo<Batch>& param_info) {
  constexpr const char* kNames[] = {"add_edges", "delete_edges", "delete_nodes", "add_nodes"};
  return kNames[static_cast<int>(param_info.param)];
}

INSTANTIATE_TEST_SUITE_P(Batches, BatchTest,
                         ::testing::Values(Batch::add_edges, Batch::delete_edges,
                                           Batch::delete_nodes, Batch::add_nodes),
                         batch_name);

}  // namespace
}  // namespace quorl
