// merge against replaying the other diff through the single operations:
// the same contents in the same listing order (compared through the byte
// form), on random pairs of histories and on contents that break the
// editing invariants as a decoded diff may; and all or nothing when an
// allocation fails anywhere inside it.
#include <cstddef>
#include <new>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "byte_string.hpp"
#include "diff/graph_diff.hpp"
#include "heap_probe.hpp"
#include "id_map_access.hpp"
#include "merge_replay.hpp"
#include "node_fields.hpp"
#include "random_history.hpp"

namespace quorl {
namespace {

ByteString bytes_of(const Diff& diff) { return graph_diff_to_bytes(diff).value(); }

// A random history with records of several fields, so that merging
// records shows which fields win.
Diff history_with_records(std::mt19937& random, int pool, int steps) {
  Diff diff = random_history(random, pool, steps);
  for (int step = 0; step < steps / 4; ++step) {
    NodeUpdate update;
    update.set<Field::label>("label " + std::to_string(random() % 7));
    if (random() % 2 == 0) {
      update.set<Field::red>(static_cast<std::uint8_t>(random()));
    }
    diff.add_or_update_node(pool_id(random, pool), update);
  }
  return diff;
}

// Only additions: merging such a diff removes nothing but deletions.
Diff additions(std::mt19937& random, int pool, int steps) {
  Diff diff;
  for (int step = 0; step < steps; ++step) {
    if (random() % 4 == 0) {
      diff.add_or_update_node(pool_id(random, pool),
                              testing::make_update({.label = std::to_string(step % 3)}));
    } else {
      static_cast<void>(
          diff.add_edge(pool_id(random, pool), pool_id(random, pool), static_cast<float>(step)));
    }
  }
  return diff;
}

// Contents no sequence of edits makes: a node both updated and deleted, a
// pair both set and deleted, edges at deleted nodes, empty groups.
Diff contradicting(std::mt19937& random, int pool) {
  Diff::NodeMap nodes;
  Diff::NodeSet deleted;
  Diff::Edges edges;
  for (int item = 0; item < 12; ++item) {
    nodes.try_emplace(pool_id(random, pool), testing::make_update({.label = "x", .green = 4}));
    deleted.insert(pool_id(random, pool));
    const NodeId source = pool_id(random, pool);
    const NodeId target = pool_id(random, pool);
    testing_support::value_for(edges.new_or_updated, source)
        .insert_or_assign(target, static_cast<float>(item));
    if (item % 3 == 0) {
      testing_support::value_for(edges.deleted, source).insert(target);
    }
    static_cast<void>(testing_support::value_for(edges.new_or_updated, pool_id(random, pool)));
    static_cast<void>(testing_support::value_for(edges.deleted, pool_id(random, pool)));
  }
  return Diff(std::move(nodes), std::move(deleted), std::move(edges));
}

// Mostly deletions, of nodes and of edges, among edges and records: such a
// diff removes from the receiving one what earlier merges put there.
Diff deletions(std::mt19937& random, int pool, int steps) {
  Diff diff;
  for (int step = 0; step < steps; ++step) {
    const NodeId a = pool_id(random, pool);
    const NodeId b = pool_id(random, pool);
    switch (random() % 6) {
      case 0:
      case 1:
        diff.delete_node(a);
        break;
      case 2:
      case 3:
        diff.delete_edge(a, b);
        break;
      case 4:
        diff.add_or_update_node(a, testing::make_update({.label = std::to_string(step % 5)}));
        break;
      default:
        static_cast<void>(diff.add_edge(a, b, static_cast<float>(step)));
    }
  }
  return diff;
}

// The same random single operations on both diffs.
void edit_both(std::mt19937& random, int pool, int steps, Diff& left, Diff& right) {
  for (int step = 0; step < steps; ++step) {
    const NodeId a = pool_id(random, pool);
    const NodeId b = pool_id(random, pool);
    switch (random() % 4) {
      case 0:
        left.delete_node(a);
        right.delete_node(a);
        break;
      case 1:
        left.delete_edge(a, b);
        right.delete_edge(a, b);
        break;
      default:
        static_cast<void>(left.add_edge(a, b, 1.0F));
        static_cast<void>(right.add_edge(a, b, 1.0F));
    }
  }
}

// Deleting ids that were never seen builds the index of sources by target.
void build_index(Diff& diff) {
  for (int repeat = 0; repeat < 30; ++repeat) {
    diff.delete_node(NodeId{static_cast<std::uint8_t>(repeat), 1});
  }
}

TEST(Merge, ListsExactlyWhatTheReplayLists) {
  std::mt19937 random(20261210);
  for (int round = 0; round < 400; ++round) {
    const int pool = 2 + round % 30;
    const auto make = [&](int kind) {
      switch (kind) {
        case 0:
          return contradicting(random, pool);
        case 1:
          return additions(random, pool, round % 90);
        default:
          return history_with_records(random, pool, round % 90);
      }
    };
    const Diff start = make(round % 5 == 0 ? 0 : 2);
    const Diff other = make(round % 3);
    const ByteString other_bytes = bytes_of(other);
    Diff merged = start;
    Diff replayed = start;
    if (round % 4 == 1) {
      build_index(merged);
      build_index(replayed);
    }
    merged.merge(other);
    testing_support::replay_merge(replayed, other);
    ASSERT_EQ(bytes_of(merged), bytes_of(replayed)) << "round " << round;
    ASSERT_EQ(bytes_of(other), other_bytes);
    // Later edits still agree (the index, if any, kept up).
    for (const auto& entry : other.new_or_updated_nodes()) {
      merged.delete_node(entry.first);
      replayed.delete_node(entry.first);
    }
    ASSERT_EQ(bytes_of(merged), bytes_of(replayed)) << "round " << round;
  }
}

// The use merge is made for: a diff that takes in one small batch after
// another, each deleting some of what the earlier ones set, with or without
// the index of sources by target. Every fold lists what the replay lists,
// and edits after it (which ask the index, if any) still agree.
TEST(Merge, FoldsBatchesWithDeletionsAsTheReplayDoes) {
  std::mt19937 random(20261211);
  for (int round = 0; round < 150; ++round) {
    const int pool = 2 + round % 25;
    Diff merged = history_with_records(random, pool, round % 70);
    if (round % 3 != 0) {
      build_index(merged);
    }
    Diff replayed = merged;
    for (int batch = 0; batch < 6; ++batch) {
      const int kind = static_cast<int>(random() % 4);
      const Diff other = kind == 0   ? contradicting(random, pool)
                         : kind == 1 ? history_with_records(random, pool, 20)
                                     : deletions(random, pool, 1 + static_cast<int>(random() % 30));
      merged.merge(other);
      testing_support::replay_merge(replayed, other);
      ASSERT_EQ(bytes_of(merged), bytes_of(replayed)) << "round " << round << ", batch " << batch;
      edit_both(random, pool, 8, merged, replayed);
      ASSERT_EQ(bytes_of(merged), bytes_of(replayed)) << "round " << round << ", batch " << batch;
    }
  }
}

TEST(Merge, IntoItselfIsMergingACopy) {
  std::mt19937 random(5);
  for (int round = 0; round < 100; ++round) {
    Diff diff = round % 2 == 0 ? history_with_records(random, 12, 60) : contradicting(random, 12);
    Diff expected = diff;
    const Diff copy = diff;
    expected.merge(copy);
    diff.merge(diff);
    ASSERT_EQ(bytes_of(diff), bytes_of(expected)) << "round " << round;
  }
}

// Merges `other` into `diff` with the allocation after the first `failing`
// ones failing: whether the merge threw std::bad_alloc, and whether it
// reached that allocation at all.
struct FailedMerge {
  bool failed;
  bool reached;
};
FailedMerge merge_failing_after(long failing, Diff& diff, const Diff& other) {
  testing_support::fail_allocation_after(failing);
  bool failed = false;
  try {
    diff.merge(other);
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  return {failed, testing_support::stop_failing_allocations()};
}

TEST(Merge, LeavesTheDiffAsItWasWhenAnAllocationFails) {
  std::mt19937 random(8);
  for (int round = 0; round < 12; ++round) {
    const Diff start = round % 4 == 0 ? Diff() : history_with_records(random, 40, 40 * round);
    const Diff other = round % 3 == 2   ? contradicting(random, 40)
                       : round % 3 == 1 ? additions(random, 40, 200)
                                        : history_with_records(random, 40, 120);
    Diff expected = start;
    testing_support::replay_merge(expected, other);
    for (long failing = 0;; ++failing) {
      Diff diff = start;
      if (round % 2 == 1) {
        build_index(diff);
      }
      const ByteString before = bytes_of(diff);
      const auto [failed, reached] = merge_failing_after(failing, diff, other);
      if (failed) {
        ASSERT_EQ(bytes_of(diff), before) << "allocation " << failing;
        diff.merge(other);
      }
      if (round % 2 == 0) {
        ASSERT_EQ(bytes_of(diff), bytes_of(expected)) << "allocation " << failing;
      }
      if (!reached) {
        break;
      }
    }
  }
}

// Deletions removing from a diff with the index of sources by target, cut
// short at every allocation: the diff is as it was, and its index too, as
// the edits that follow show.
TEST(Merge, UndoesDeletionsInPlaceWhenAnAllocationFails) {
  std::mt19937 random(9);
  for (int round = 0; round < 8; ++round) {
    Diff start = history_with_records(random, 30, 150);
    if (round % 2 == 0) {
      build_index(start);
    }
    const Diff other = round % 4 == 3 ? contradicting(random, 30) : deletions(random, 30, 60);
    for (long failing = 0;; ++failing) {
      Diff diff = start;
      if (round % 2 == 0) {
        build_index(diff);  // a copy starts without the index
      }
      Diff reference = diff;
      const auto [failed, reached] = merge_failing_after(failing, diff, other);
      if (!failed) {
        testing_support::replay_merge(reference, other);
      } else {
        ASSERT_EQ(bytes_of(diff), bytes_of(reference)) << "allocation " << failing;
      }
      std::mt19937 edits(static_cast<unsigned>(failing));
      edit_both(edits, 30, 40, diff, reference);
      ASSERT_EQ(bytes_of(diff), bytes_of(reference)) << "allocation " << failing;
      if (!reached) {
        break;
      }
    }
  }
}

}  // namespace
}  // namespace quorl
