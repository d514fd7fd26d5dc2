// Random operation sequences over a small pool of ids, checked after every
// step against the invariants and against a model written with sorted
// standard containers that follows the editing rules step by step.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diff/graph_diff.hpp"
#include "diff_text.hpp"
#include "reference_diff.hpp"

namespace quorl {
namespace {

using testing::render;
using testing::render_id;
using testing::SortedDiff;

// The shared reference over sorted containers, seen as a SortedDiff.
class Model : public testing_support::SortedReferenceDiff {
 public:
  SortedDiff state() const { return {nodes, deleted_nodes, edges.new_or_updated, edges.deleted}; }
};

// Sources whose pending-edge map is empty.
std::set<NodeId> empty_sources(const Diff& diff) {
  std::set<NodeId> sources;
  for (const auto& [source, targets] : diff.edges().new_or_updated) {
    if (targets.empty()) {
      sources.insert(source);
    }
  }
  return sources;
}

// Every failure message names the first broken invariant.
std::string broken_invariant(const Diff& diff, const std::set<NodeId>& emptied_by_delete_node) {
  const auto& deleted_nodes = diff.deleted_nodes();
  for (const auto& [id, update] : diff.new_or_updated_nodes()) {
    if (deleted_nodes.contains(id)) {
      return "N1: updated and deleted " + render_id(id);
    }
  }
  for (const auto& [source, targets] : diff.edges().new_or_updated) {
    const auto deleted = diff.edges().deleted.find(source);
    for (const auto& [target, weight] : targets) {
      const std::string pair = render_id(source) + "->" + render_id(target);
      if (deleted != diff.edges().deleted.end() && deleted->second.contains(target)) {
        return "E1: set and deleted " + pair;
      }
      if (deleted_nodes.contains(source) || deleted_nodes.contains(target)) {
        return "E2: set at a deleted node " + pair;
      }
    }
  }
  for (const auto& [source, targets] : diff.edges().deleted) {
    if (targets.empty()) {
      return "E3: empty deleted set at " + render_id(source);
    }
  }
  for (const NodeId& source : empty_sources(diff)) {
    if (!emptied_by_delete_node.contains(source)) {
      return "E4: empty map not left by delete_node at " + render_id(source);
    }
  }
  return "";
}

// Six ids: all-zero, two sequential ones, all-FF, a high byte only, and a
// random-looking one.
std::vector<NodeId> id_pool() {
  NodeId zero{};
  NodeId all_ff;
  all_ff.fill(0xff);
  NodeId high_byte{};
  high_byte[0] = 0x80;
  const NodeId random_looking{0x3f, 0x2c, 0x91, 0x07, 0xe4, 0x5b, 0x4a, 0x1d,
                              0x8c, 0x66, 0x02, 0xb9, 0x7e, 0xd0, 0x13, 0xa5};
  return {zero, testing::make_id(1), testing::make_id(2), all_ff, high_byte, random_looking};
}

class RandomOperations {
 public:
  explicit RandomOperations(std::uint32_t seed) : engine_(seed) {}

  std::size_t below(std::size_t bound) { return engine_() % bound; }
  bool coin() { return below(2) == 0; }

  template <class T, std::size_t N>
  T pick(const T (&choices)[N]) {
    return choices[below(N)];
  }

  // Leaves the field absent half of the time.
  template <class T, std::size_t N>
  void maybe_set(std::optional<T>& field, const T (&choices)[N]) {
    if (coin()) {
      field = pick(choices);
    }
  }

  NodeUpdate update() {
    static const std::string kTexts[] = {"", "a", "bb"};
    static const float kSizes[] = {0.0F, -0.0F, 1.5F, std::bit_cast<float>(0x7fc0beefU)};
    static const std::uint8_t kComponents[] = {0, 1, 255};
    static const bool kFlags[] = {false, true};
    testing::NodeFields result;
    maybe_set(result.label, kTexts);
    maybe_set(result.size, kSizes);
    maybe_set(result.url, kTexts);
    maybe_set(result.red, kComponents);
    maybe_set(result.green, kComponents);
    maybe_set(result.blue, kComponents);
    maybe_set(result.show_label, kFlags);
    return testing::make_update(result);
  }

  float weight() {
    static const float kWeights[] = {0.0F, -0.0F, 1.0F,
                                     2.5F, -3.0F, std::bit_cast<float>(0xffc00001U)};
    return pick(kWeights);
  }

 private:
  std::mt19937 engine_;
};

class GraphDiffRandom : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(GraphDiffRandom, MatchesModelAndKeepsInvariants) {
  const std::vector<NodeId> ids = id_pool();
  RandomOperations random(GetParam());
  Diff diff;
  Model model;
  // Sources whose map a delete_node emptied and no later edit of that
  // source refilled or removed: the only ones allowed to be empty.
  std::set<NodeId> emptied_by_delete_node;

  for (int step = 0; step < 4000; ++step) {
    const NodeId& from = ids[random.below(ids.size())];
    const NodeId& to = ids[random.below(ids.size())];
    const std::size_t choice = random.below(100);
    std::string operation;
    if (choice < 25) {
      const NodeUpdate update = random.update();
      operation = "add_or_update_node " + render_id(from) + render(update);
      diff.add_or_update_node(from, update);
      model.add_or_update_node(from, update);
    } else if (choice < 40) {
      operation = "delete_node " + render_id(from);
      for (const auto& [source, targets] : model.state().edges) {
        if (source != from && targets.size() == 1 && targets.contains(from)) {
          emptied_by_delete_node.insert(source);
        }
      }
      emptied_by_delete_node.erase(from);
      diff.delete_node(from);
      model.delete_node(from);
    } else if (choice < 75) {
      const float weight = random.weight();
      operation = "add_edge " + render_id(from) + "->" + render_id(to);
      const bool accepted = diff.add_edge(from, to, weight).has_value();
      ASSERT_EQ(accepted, model.add_edge(from, to, weight)) << operation;
      if (accepted) {
        emptied_by_delete_node.erase(from);
      }
    } else if (choice < 99) {
      operation = "delete_edge " + render_id(from) + "->" + render_id(to);
      diff.delete_edge(from, to);
      model.delete_edge(from, to);
      emptied_by_delete_node.erase(from);
    } else {
      operation = "clear";
      diff.clear();
      model.clear();
      emptied_by_delete_node.clear();
    }
    SCOPED_TRACE("step " + std::to_string(step) + ": " + operation);
    ASSERT_EQ(broken_invariant(diff, emptied_by_delete_node), "");
    ASSERT_EQ(render(diff), render(model.state()));
    ASSERT_EQ(diff.num_nodes(), model.num_nodes());
    ASSERT_EQ(diff.num_edges(), model.num_edges());
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, GraphDiffRandom,
                         ::testing::Values(1U, 2U, 42U, 2024U, 0xdeadbeefU));

}  // namespace
}  // namespace quorl
