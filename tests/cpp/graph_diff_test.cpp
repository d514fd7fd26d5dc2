#include "diff/graph_diff.hpp"

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diff_text.hpp"

namespace quorl {
namespace {

using testing::make_id;
using testing::render;

const NodeId A = make_id('A');
const NodeId B = make_id('B');
const NodeId C = make_id('C');
const NodeId D = make_id('D');
const NodeId E = make_id('E');
const NodeId X = make_id('X');
const NodeId Z = make_id('Z');

using Step = std::function<void(Diff&)>;

void set_edge(Diff& diff, const NodeId& from, const NodeId& to, float weight) {
  EXPECT_TRUE(diff.add_edge(from, to, weight).has_value()) << "add_edge was refused";
}

// The diff after `steps`, with both counts, as one comparable line.
struct Outcome {
  std::string contents;
  std::size_t num_nodes;
  std::size_t num_edges;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
  *out << '"' << outcome.contents << "\" nodes=" << outcome.num_nodes
       << " edges=" << outcome.num_edges;
}

Outcome outcome_of(const Diff& diff) { return {render(diff), diff.num_nodes(), diff.num_edges()}; }

Outcome run(const std::vector<Step>& steps) {
  Diff diff;
  for (const Step& step : steps) {
    step(diff);
  }
  return outcome_of(diff);
}

Step add_node(const NodeId& id, NodeUpdate update) {
  return [=](Diff& diff) { diff.add_or_update_node(id, update); };
}
Step delete_node(const NodeId& id) {
  return [=](Diff& diff) { diff.delete_node(id); };
}
Step add_edge(const NodeId& from, const NodeId& to, float weight) {
  return [=](Diff& diff) { set_edge(diff, from, to, weight); };
}
Step delete_edge(const NodeId& from, const NodeId& to) {
  return [=](Diff& diff) { diff.delete_edge(from, to); };
}
Step clear() {
  return [](Diff& diff) { diff.clear(); };
}

// A named run of steps: a starting state, or one operation.
struct Named {
  std::string name;
  std::vector<Step> steps;
};

struct Transition {
  Named from;
  Named operation;
  Outcome expected;
};

void check_transitions(const std::vector<Transition>& table) {
  for (const auto& [from, operation, expected] : table) {
    SCOPED_TRACE(from.name + " + " + operation.name);
    std::vector<Step> steps = from.steps;
    steps.insert(steps.end(), operation.steps.begin(), operation.steps.end());
    EXPECT_EQ(run(steps), expected);
  }
}

// States of node A: Absent, Updated (with a record to merge into), Deleted
// (after having had a record, which must not come back).
TEST(GraphDiffNodeStates, EveryTransition) {
  const Named absent{"Absent", {}};
  const Named updated{"Updated", {add_node(A, {.label = "x", .red = 1})}};
  const Named deleted{"Deleted", {add_node(A, {.label = "x", .red = 1}), delete_node(A)}};
  const Named update{"add_or_update_node", {add_node(A, {.size = 2.0F, .url = "u", .red = 7})}};
  const Named remove{"delete_node", {delete_node(A)}};
  const Named clear_all{"clear", {clear()}};
  check_transitions({
      {absent, update, {R"(nodes{A{size=2 url="u" red=7}})", 1, 0}},
      {updated, update, {R"(nodes{A{label="x" size=2 url="u" red=7}})", 1, 0}},
      {deleted, update, {R"(nodes{A{size=2 url="u" red=7}})", 1, 0}},
      {absent, remove, {"deleted_nodes{A}", 1, 0}},
      {updated, remove, {"deleted_nodes{A}", 1, 0}},
      {deleted, remove, {"deleted_nodes{A}", 1, 0}},
      {absent, clear_all, {"", 0, 0}},
      {updated, clear_all, {"", 0, 0}},
      {deleted, clear_all, {"", 0, 0}},
  });
}

// States of the pair (A, B): Absent, Set, Deleted.
TEST(GraphDiffPairStates, EveryTransition) {
  const Named absent{"Absent", {}};
  const Named set{"Set", {add_edge(A, B, 1.0F)}};
  const Named deleted{"Deleted", {delete_edge(A, B)}};
  const Named add{"add_edge", {add_edge(A, B, 2.0F)}};
  const Named remove{"delete_edge", {delete_edge(A, B)}};
  const Named delete_source{"delete_node(A)", {delete_node(A)}};
  const Named delete_target{"delete_node(B)", {delete_node(B)}};
  const Named clear_all{"clear", {clear()}};
  check_transitions({
      {absent, add, {"edges{A{B=2}}", 0, 1}},
      {set, add, {"edges{A{B=2}}", 0, 1}},
      {deleted, add, {"edges{A{B=2}}", 0, 1}},
      {absent, remove, {"deleted_edges{A{B}}", 0, 1}},
      {set, remove, {"deleted_edges{A{B}}", 0, 1}},
      {deleted, remove, {"deleted_edges{A{B}}", 0, 1}},
      {set, delete_target, {"deleted_nodes{B} edges{A{}} deleted_edges{A{B}}", 1, 2}},
      {set, delete_source, {"deleted_nodes{A}", 1, 0}},
      {deleted, delete_target, {"deleted_nodes{B} deleted_edges{A{B}}", 1, 1}},
      {deleted, delete_source, {"deleted_nodes{A} deleted_edges{A{B}}", 1, 1}},
      {absent, delete_target, {"deleted_nodes{B}", 1, 0}},
      {absent, clear_all, {"", 0, 0}},
      {set, clear_all, {"", 0, 0}},
      {deleted, clear_all, {"", 0, 0}},
  });
}

struct Scenario {
  std::string name;
  std::vector<Step> steps;
  Outcome expected;
};

class GraphDiffScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(GraphDiffScenario, EndsInExpectedContents) {
  EXPECT_EQ(run(GetParam().steps), GetParam().expected);
}

// Histories beyond a single id or pair, which the state tables cover.
INSTANTIATE_TEST_SUITE_P(
    EditingRules, GraphDiffScenario,
    ::testing::Values(
        Scenario{"Empty", {}, {"", 0, 0}},
        Scenario{
            "ReAddedNodeWithEmptyUpdate", {delete_node(A), add_node(A, {})}, {"nodes{A{}}", 1, 0}},
        Scenario{"EdgesCountSources",
                 {add_edge(A, B, 1.0F), add_edge(A, C, 1.0F)},
                 {"edges{A{B=1 C=1}}", 0, 1}},
        Scenario{"EdgeEndpointsNeedNoNodeRecord",
                 {add_node(C, {.label = "c"}), add_edge(A, B, -0.0F)},
                 {R"(nodes{C{label="c"}} edges{A{B=-0}})", 1, 1}},
        Scenario{"LoopAccepted", {add_edge(A, A, 1.0F)}, {"edges{A{A=1}}", 0, 1}},
        Scenario{"AddEdgeKeepsOtherDeletedTargets",
                 {delete_edge(A, B), delete_edge(A, C), add_edge(A, B, 1.0F)},
                 {"edges{A{B=1}} deleted_edges{A{C}}", 0, 2}},
        Scenario{"DeleteEdgeKeepsOtherSetTargets",
                 {add_edge(A, B, 1.0F), add_edge(A, C, 2.0F), delete_edge(A, B)},
                 {"edges{A{C=2}} deleted_edges{A{B}}", 0, 2}},
        Scenario{"DeleteEdgeOfReversedPair",
                 {add_edge(A, B, 1.0F), delete_edge(B, A)},
                 {"edges{A{B=1}} deleted_edges{B{A}}", 0, 2}},
        Scenario{"DeleteEdgeAtDeletedNode",
                 {delete_node(A), delete_edge(A, B), delete_edge(C, A)},
                 {"deleted_nodes{A} deleted_edges{A{B} C{A}}", 1, 2}},
        Scenario{"DeleteNodeKeepsEmptiedSource",
                 {add_edge(A, X, 1.0F), add_edge(X, B, 2.0F), delete_node(X)},
                 {"deleted_nodes{X} edges{A{}} deleted_edges{A{X}}", 1, 2}},
        Scenario{"DeleteEdgeDropsEmptiedSource",
                 {add_edge(A, X, 1.0F), add_edge(X, B, 2.0F), delete_node(X), delete_edge(A, Z)},
                 {"deleted_nodes{X} deleted_edges{A{X Z}}", 1, 1}},
        Scenario{"AddEdgeRefillsEmptiedSource",
                 {add_edge(A, X, 1.0F), delete_node(X), add_edge(A, B, 2.0F)},
                 {"deleted_nodes{X} edges{A{B=2}} deleted_edges{A{X}}", 1, 2}},
        Scenario{"DeletedLoopLeavesNoEdge",
                 {add_edge(A, A, 1.0F), delete_node(A)},
                 {"deleted_nodes{A}", 1, 0}},
        Scenario{"DeleteNodeLeavesOtherRecords",
                 {add_node(A, {.label = "a"}), add_edge(A, B, 1.0F), delete_node(B)},
                 {R"(nodes{A{label="a"}} deleted_nodes{B} edges{A{}} deleted_edges{A{B}})", 2, 2}},
        Scenario{"AddNodeLeavesEdgesAlone",
                 {delete_edge(A, B), delete_node(B), add_node(B, {})},
                 {"nodes{B{}} deleted_edges{A{B}}", 1, 1}},
        Scenario{"ReAddedNodeTakesEdgesAgain",
                 {delete_node(B), add_node(B, {}), add_edge(A, B, 1.0F)},
                 {"nodes{B{}} edges{A{B=1}}", 1, 1}},
        Scenario{"ClearEmptiesEverything",
                 {add_node(A, {.label = "a"}), delete_node(B), add_edge(A, C, 1.0F),
                  delete_edge(C, D), clear()},
                 {"", 0, 0}},
        Scenario{"UsableAfterClear",
                 {add_edge(A, B, 1.0F), delete_node(C), clear(), add_edge(A, C, 2.0F)},
                 {"edges{A{C=2}}", 0, 1}}),
    [](const auto& case_info) { return case_info.param.name; });

// Deleting X turns the pending edges into X into deletions (into a new entry
// for A, into C's existing one), drops X's own pending edges with the loop,
// keeps A's emptied map, and leaves deletions recorded earlier alone.
TEST(GraphDiffDeleteNode, CascadeOverPendingEdges) {
  Diff diff;
  diff.add_or_update_node(X, {.label = "x"});
  diff.delete_edge(C, E);
  diff.delete_edge(D, X);
  diff.delete_edge(X, E);
  set_edge(diff, A, X, 1.0F);
  set_edge(diff, X, B, 2.0F);
  set_edge(diff, X, X, 3.0F);
  set_edge(diff, C, X, 4.0F);
  set_edge(diff, C, B, 5.0F);

  diff.delete_node(X);
  const Outcome after_delete{
      "deleted_nodes{X} edges{A{} C{B=5}} deleted_edges{A{X} C{E X} D{X} X{E}}", 1, 6};
  EXPECT_EQ(outcome_of(diff), after_delete);

  diff.delete_node(X);
  EXPECT_EQ(outcome_of(diff), after_delete);
}

TEST(GraphDiffAddEdge, RefusedAtDeletedEndpointLeavesDiffUnchanged) {
  Diff diff;
  diff.add_or_update_node(B, {.label = "b"});
  set_edge(diff, C, A, 1.0F);
  set_edge(diff, C, B, 2.0F);
  diff.delete_edge(A, B);
  diff.delete_edge(B, A);
  diff.delete_node(A);
  diff.delete_node(D);
  const Outcome before = outcome_of(diff);
  ASSERT_EQ(before, (Outcome{R"(nodes{B{label="b"}} deleted_nodes{A D} edges{C{B=2}} )"
                             "deleted_edges{A{B} B{A} C{A}}",
                             3, 4}));

  const std::array<std::array<NodeId, 2>, 6> refused{
      {{A, B}, {B, A}, {A, A}, {A, Z}, {Z, D}, {A, D}}};
  for (const auto& [from, to] : refused) {
    SCOPED_TRACE(testing::render_id(from) + "->" + testing::render_id(to));
    const auto result = diff.add_edge(from, to, 9.0F);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().message, "Either from or to nodes are marked to be deleted");
    EXPECT_EQ(result.error().message.size(), 48U);
    EXPECT_EQ(outcome_of(diff), before);
  }
}

TEST(GraphDiffClear, KeepsOuterCapacity) {
  Diff diff;
  const auto capacities = [&] {
    return std::array<std::size_t, 4>{
        diff.new_or_updated_nodes().capacity(), diff.deleted_nodes().capacity(),
        diff.edges().new_or_updated.capacity(), diff.edges().deleted.capacity()};
  };
  // A new diff reserves nothing.
  EXPECT_EQ(capacities(), (std::array<std::size_t, 4>{}));

  for (std::uint8_t tag = 0; tag < 200; ++tag) {
    NodeId id = make_id(tag);
    diff.add_or_update_node(id, {.red = tag});
    set_edge(diff, id, make_id('B'), 1.0F);
    id[0] = 1;
    diff.delete_node(id);
    diff.delete_edge(id, make_id('B'));
  }
  ASSERT_EQ(diff.num_nodes(), 400U);
  ASSERT_EQ(diff.num_edges(), 400U);
  const auto before = capacities();

  diff.clear();
  EXPECT_EQ(capacities(), before);
  EXPECT_EQ(outcome_of(diff), (Outcome{"", 0, 0}));
}

}  // namespace
}  // namespace quorl
