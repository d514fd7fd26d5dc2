// delete_node with its index of sources by target must give exactly what the
// plain scan of every source entry gives: the same contents, and the same
// listing order in every container, nested ones included. A reference diff
// that scans runs the same random history side by side with the real one.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diff/graph_diff.hpp"
#include "heap_probe.hpp"
#include "id_map_access.hpp"
#include "node_fields.hpp"
#include "reference_diff.hpp"

namespace {

using quorl::Diff;
using quorl::NodeId;
using quorl::NodeUpdate;

// The straightforward algorithm over the diff's own containers, so that
// their listing orders can be compared too.
using ReferenceDiff =
    quorl::testing_support::ReferenceDiff<Diff::NodeMap, Diff::NodeSet, Diff::Edges>;

std::string id_text(const NodeId& id) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text(2 * id.size(), '0');
  for (std::size_t index = 0; index < id.size(); ++index) {
    text[2 * index] = digits[id[index] >> 4];
    text[2 * index + 1] = digits[id[index] & 15];
  }
  return text;
}

std::string update_text(const NodeUpdate& record) {
  const quorl::testing::NodeFields update = quorl::testing::fields_of(record);
  return update.label.value_or("-") + "|" + update.url.value_or("-") + "|" +
         std::to_string(update.size ? std::bit_cast<std::uint32_t>(*update.size) : 0) + "|" +
         std::to_string(update.red.value_or(0)) + std::to_string(update.show_label.value_or(0));
}

// Lists a container level as "{a,b,...}", in listing order or sorted.
std::string joined(std::vector<std::string> items, bool sorted) {
  if (sorted) {
    std::ranges::sort(items);
  }
  std::string text = "{";
  for (const auto& item : items) {
    text += item + ",";
  }
  return text + "}";
}

// The four containers as text, every level in listing order (or sorted, to
// compare contents alone).
std::string listing(const Diff::NodeMap& nodes, const Diff::NodeSet& deleted_nodes,
                    const Diff::Edges& edges, bool sorted = false) {
  std::vector<std::string> node_items, deleted_items, set_items, deleted_edge_items;
  for (const auto& [id, update] : nodes) {
    node_items.push_back(id_text(id) + ":" + update_text(update));
  }
  for (const auto& id : deleted_nodes) {
    deleted_items.push_back(id_text(id));
  }
  for (const auto& [source, targets] : edges.new_or_updated) {
    std::vector<std::string> inner;
    for (const auto& [target, weight] : targets) {
      inner.push_back(id_text(target) + "=" + std::to_string(std::bit_cast<std::uint32_t>(weight)));
    }
    set_items.push_back(id_text(source) + ":" + joined(inner, sorted));
  }
  for (const auto& [source, targets] : edges.deleted) {
    std::vector<std::string> inner;
    for (const auto& target : targets) {
      inner.push_back(id_text(target));
    }
    deleted_edge_items.push_back(id_text(source) + ":" + joined(inner, sorted));
  }
  return joined(node_items, sorted) + "\n" + joined(deleted_items, sorted) + "\n" +
         joined(set_items, sorted) + "\n" + joined(deleted_edge_items, sorted);
}

std::string listing(const Diff& diff, bool sorted = false) {
  return listing(diff.new_or_updated_nodes(), diff.deleted_nodes(), diff.edges(), sorted);
}
std::string listing(const ReferenceDiff& diff, bool sorted = false) {
  return listing(diff.nodes, diff.deleted_nodes, diff.edges, sorted);
}

// Drives the real diff and the reference through one random history.
class History {
 public:
  History(std::uint64_t seed, std::size_t pool_size) : random_(seed), pool_(pool_size) {
    for (auto& id : pool_) {
      for (auto& byte : id) {
        byte = static_cast<std::uint8_t>(random_());
      }
    }
  }

  // One random operation on both diffs; returns its name for failure messages.
  std::string step(Diff& diff, ReferenceDiff& reference) {
    const auto roll = pick(100);
    if (roll < 15) {
      const auto& id = any_id();
      const NodeUpdate update = random_update();
      diff.add_or_update_node(id, update);
      reference.add_or_update_node(id, update);
      return "add_or_update_node";
    }
    if (roll < 32) {
      const auto& id = pick(2) == 0 ? last_fan_in_target_ : any_id();
      diff.delete_node(id);
      reference.delete_node(id);
      return "delete_node";
    }
    if (roll < 67) {
      add_edge(diff, reference, any_id(), any_id());
      return "add_edge";
    }
    if (roll < 72) {
      // A node with many incoming edges, so that deleting it creates many
      // entries of edges.deleted at once, across rehashes of that map.
      const auto& target = last_fan_in_target_ = any_id();
      for (std::size_t count = pick(80); count > 0; --count) {
        add_edge(diff, reference, any_id(), target);
      }
      return "fan_in";
    }
    if (roll < 96) {
      const auto& from = any_id();
      const auto& to = any_id();
      diff.delete_edge(from, to);
      reference.delete_edge(from, to);
      return "delete_edge";
    }
    if (roll < 97) {
      diff.clear();
      reference.clear();
      return "clear";
    }
    if (roll < 98) {
      diff = Diff(diff);
      reference = ReferenceDiff(reference);
      return "copy";
    }
    // Moved, not copied, into both: a copied flat map may be laid out anew.
    const auto contents_seed = random_();
    auto contents = decoded(contents_seed);
    diff = Diff(std::move(contents.nodes), std::move(contents.deleted_nodes),
                std::move(contents.edges));
    reference = decoded(contents_seed);
    return "decoded";
  }

  std::size_t pick(std::size_t bound) { return random_() % bound; }

 private:
  const NodeId& any_id() { return pool_[pick(pool_.size())]; }

  NodeUpdate random_update() {
    quorl::testing::NodeFields update;
    if (pick(2) == 0) update.label = std::string(pick(20), 'x');
    if (pick(2) == 0) update.size = static_cast<float>(pick(1000)) / 8.0F;
    if (pick(3) == 0) update.red = static_cast<std::uint8_t>(pick(256));
    if (pick(3) == 0) update.show_label = pick(2) == 0;
    return quorl::testing::make_update(update);
  }

  void add_edge(Diff& diff, ReferenceDiff& reference, const NodeId& from, const NodeId& to) {
    const auto weight = static_cast<float>(pick(64)) - 8.5F;
    EXPECT_EQ(diff.add_edge(from, to, weight).has_value(), reference.add_edge(from, to, weight));
  }

  // Contents as a decoder may hand them over, breaking the editing rules on
  // purpose: a node both updated and deleted, pending edges at deleted
  // nodes, empty inner containers. Built from its own seed, so that two
  // calls with one seed give containers with the same history.
  ReferenceDiff decoded(std::uint64_t contents_seed) const {
    std::mt19937_64 random(contents_seed);
    const auto id = [&] { return pool_[random() % pool_.size()]; };
    Diff::NodeMap nodes;
    Diff::NodeSet deleted_nodes;
    Diff::Edges edges;
    for (auto count = random() % 30; count > 0; --count) {
      quorl::testing_support::value_for(nodes, id()).set<quorl::Field::label>("decoded");
      deleted_nodes.insert(id());
    }
    for (auto count = random() % 60; count > 0; --count) {
      auto& targets = quorl::testing_support::value_for(edges.new_or_updated, id());
      for (auto edge = random() % 6; edge > 0; --edge) {
        quorl::testing_support::value_for(targets, id()) = 0.5F;
      }
      auto& deleted = quorl::testing_support::value_for(edges.deleted, id());
      for (auto edge = random() % 3; edge > 0; --edge) {
        deleted.insert(id());
      }
    }
    return {std::move(nodes), std::move(deleted_nodes), std::move(edges)};
  }

  std::mt19937_64 random_;
  std::vector<NodeId> pool_;
  NodeId last_fan_in_target_{};
};

struct HistoryCase {
  std::uint64_t seed;
  std::size_t pool_size;  // few ids: dense interplay; many: large containers
  int steps;
};

class GraphDiffIndexTest : public testing::TestWithParam<HistoryCase> {};

TEST_P(GraphDiffIndexTest, ListsWhatTheScanLists) {
  const auto& param = GetParam();
  History history(param.seed, param.pool_size);
  Diff diff;
  ReferenceDiff reference;
  for (int step = 0; step < param.steps; ++step) {
    const auto operation = history.step(diff, reference);
    ASSERT_EQ(listing(diff), listing(reference)) << "step " << step << ": " << operation;
    ASSERT_EQ(diff.num_nodes(), reference.num_nodes()) << "step " << step;
    ASSERT_EQ(diff.num_edges(), reference.num_edges()) << "step " << step;
  }
}

INSTANTIATE_TEST_SUITE_P(Histories, GraphDiffIndexTest,
                         testing::Values(HistoryCase{1, 6, 3000}, HistoryCase{2, 40, 3000},
                                         HistoryCase{3, 300, 2000}, HistoryCase{4, 3000, 1500},
                                         HistoryCase{5, 3000, 1500}),
                         [](const auto& param_info) {
                           return "pool" + std::to_string(param_info.param.pool_size) + "_seed" +
                                  std::to_string(param_info.param.seed);
                         });

// An out-of-memory failure inside an operation either leaves exactly the
// scan's result (the index was dropped, or never built, and the operation
// went on without it) or comes out as the failure of the operation itself,
// which then leaves the diff's contents as they were; either way every later
// operation still agrees with the scan.
enum class Operation { delete_hub, add_second_source };

// Outside the random pool of History.
const NodeId hub{1};          // the target of 50 sources
const NodeId lone_target{2};  // the target of one source: a second one grows its entry
const NodeId never_seen{3};   // deleting it only builds the index

template <class AnyDiff>
void apply(Operation operation, AnyDiff& diff) {
  if (operation == Operation::delete_hub) {
    diff.delete_node(hub);
  } else {
    (void)diff.add_edge(NodeId{4}, lone_target, 2.0F);
  }
}

struct FailureCase {
  Operation operation;
  bool index_built;  // whether the diff has seen a delete_node before
};

class AllocationFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(AllocationFailureTest, KeepsTheDiffAgreeingWithTheScan) {
  const auto& param = GetParam();
  for (long failing = 0;; ++failing) {
    History history(11, 40);
    Diff diff;
    ReferenceDiff reference;
    const auto both = [&](auto&& operation) {
      operation(diff);
      operation(reference);
    };
    for (int step = 0; step < 200; ++step) {
      history.step(diff, reference);
    }
    for (std::uint8_t source = 10; source < 60; ++source) {
      both([&](auto& any) { (void)any.add_edge(NodeId{source}, hub, 1.0F); });
    }
    both([](auto& any) { (void)any.add_edge(NodeId{5}, lone_target, 1.0F); });
    if (param.index_built) {
      // Deletions scan until they have cost about as much as a build.
      for (int repeat = 0; repeat < 16; ++repeat) {
        both([](auto& any) { any.delete_node(never_seen); });
      }
    }
    const std::string before = listing(diff, true);

    quorl::testing_support::fail_allocation_after(failing);
    bool failed = false;
    try {
      apply(param.operation, diff);
    } catch (const std::bad_alloc&) {
      failed = true;
    }
    const bool reached = quorl::testing_support::stop_failing_allocations();

    if (failed) {
      // Nothing done: the contents are as before (a rehash undone by erasing
      // may leave another layout), and a scan starts from them.
      ASSERT_EQ(listing(diff, true), before) << "allocation " << failing;
      reference = {diff.new_or_updated_nodes(), diff.deleted_nodes(), diff.edges()};
    } else {
      apply(param.operation, reference);
      ASSERT_EQ(listing(diff), listing(reference)) << "allocation " << failing;
    }
    // Deleting the nodes whose index entries the failure touched, sources
    // first, shows a stale or incomplete index; the random steps show one
    // that lasts.
    for (std::uint8_t source = 4; source < 60; ++source) {
      both([&](auto& any) { any.delete_node(NodeId{source}); });
    }
    both([](auto& any) { any.delete_node(hub); });
    both([](auto& any) { any.delete_node(lone_target); });
    ASSERT_EQ(listing(diff, failed), listing(reference, failed)) << "allocation " << failing;
    for (int step = 1; step <= 100; ++step) {
      history.step(diff, reference);
      if (step % 20 == 0) {
        ASSERT_EQ(listing(diff, failed), listing(reference, failed))
            << "allocation " << failing << ", step " << step;
      }
    }
    if (!reached) {
      break;  // the operation no longer reaches the failing allocation
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, AllocationFailureTest,
                         testing::Values(FailureCase{Operation::delete_hub, false},
                                         FailureCase{Operation::delete_hub, true},
                                         FailureCase{Operation::add_second_source, true}),
                         [](const auto& param_info) {
                           return std::string(param_info.param.operation == Operation::delete_hub
                                                  ? "delete_node"
                                                  : "add_edge") +
                                  (param_info.param.index_built ? "_indexed" : "_first");
                         });

}  // namespace
