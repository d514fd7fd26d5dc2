// Edits on a decoded diff follow the reference model. The input is a
// two-byte length L, L bytes of byte form, and a list of edits. Whatever
// the byte form holds (sections that contradict each other included), each
// edit is applied to the decoded diff and to the reference model started
// from its contents; after every step the two hold the same contents, the
// counts agree, no container lists a key twice, and the step's own effect
// is there. At the end the edited diff survives a trip through the bytes.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "byte_string.hpp"
#include "bytes/node_text.hpp"
#include "fuzz_support.hpp"
#include "merge_replay.hpp"
#include "reference_diff.hpp"

namespace {

using namespace quorl;
using testing_support::SortedReferenceDiff;

// Records the edits merge in, written as node texts so that the target
// does not depend on how a record is laid out.
constexpr std::array<std::string_view, 8> kUpdateTexts = {
    R"({})",
    R"({"label":"a"})",
    R"({"label":"\u00e9t\u00e9","url":"u"})",
    R"({"size":1.5})",
    R"({"size":-0.0,"show_label":false})",
    R"({"red":1,"green":2,"blue":255})",
    R"({"show_label":true,"label":""})",
    R"({"label":"b","size":3e38,"url":"","red":0,"green":0,"blue":0,"show_label":true})",
};

class EditReader {
 public:
  explicit EditReader(std::span<const std::uint8_t> input) : input_(input) {}

  [[nodiscard]] bool empty() const { return input_.empty(); }

  std::uint8_t byte() {
    if (input_.empty()) {
      return 0;
    }
    const std::uint8_t value = input_.front();
    input_ = input_.subspan(1);
    return value;
  }

  float weight() {
    std::uint32_t bits = 0;
    for (int index = 0; index < 4; ++index) {
      bits |= static_cast<std::uint32_t>(byte()) << (8 * index);
    }
    return std::bit_cast<float>(bits);
  }

 private:
  std::span<const std::uint8_t> input_;
};

// The ids an edit picks from: every id the decoded diff mentions, and a few
// it does not.
std::vector<NodeId> id_pool(const SortedReferenceDiff& contents) {
  std::set<NodeId> ids(contents.deleted_nodes.begin(), contents.deleted_nodes.end());
  for (const auto& [id, update] : contents.nodes) {
    ids.insert(id);
  }
  for (const auto& [source, targets] : contents.edges.new_or_updated) {
    ids.insert(source);
    for (const auto& [target, weight] : targets) {
      ids.insert(target);
    }
  }
  for (const auto& [source, targets] : contents.edges.deleted) {
    ids.insert(source);
    ids.insert(targets.begin(), targets.end());
  }
  for (std::uint8_t fresh = 0; fresh < 3; ++fresh) {
    NodeId id{};
    id.fill(static_cast<std::uint8_t>(0xF0U + fresh));
    ids.insert(id);
  }
  return {ids.begin(), ids.end()};
}

SortedReferenceDiff checked_contents(const Diff& diff) {
  bool listed_twice = false;
  SortedReferenceDiff contents = testing_support::sorted_contents(diff, listed_twice);
  fuzz::require(!listed_twice, "no container lists a key twice");
  fuzz::require(diff.num_nodes() == contents.num_nodes(), "num_nodes counts the node entries");
  fuzz::require(diff.num_edges() == contents.num_edges(), "num_edges counts the source entries");
  return contents;
}

bool pending(const SortedReferenceDiff& contents, const NodeId& from, const NodeId& to) {
  const auto group = contents.edges.new_or_updated.find(from);
  return group != contents.edges.new_or_updated.end() && group->second.contains(to);
}

bool deleted(const SortedReferenceDiff& contents, const NodeId& from, const NodeId& to) {
  const auto group = contents.edges.deleted.find(from);
  return group != contents.edges.deleted.end() && group->second.contains(to);
}

// What each edit guarantees on any contents, checked on the diff's own.
void check_effect(std::uint8_t kind, const SortedReferenceDiff& contents, const NodeId& from,
                  const NodeId& to, bool edge_added) {
  switch (kind) {
    case 0:
      fuzz::require(contents.nodes.contains(from) && !contents.deleted_nodes.contains(from),
                    "an updated node is recorded and not deleted");
      break;
    case 1: {
      fuzz::require(!contents.nodes.contains(from) && contents.deleted_nodes.contains(from) &&
                        !contents.edges.new_or_updated.contains(from),
                    "a deleted node has no record and no outgoing pending edge");
      for (const auto& [source, targets] : contents.edges.new_or_updated) {
        fuzz::require(!targets.contains(from), "no pending edge points at a deleted node");
      }
      break;
    }
    case 2:
      if (edge_added) {
        fuzz::require(pending(contents, from, to) && !deleted(contents, from, to),
                      "an added edge is pending and not deleted");
      }
      break;
    case 3:
      fuzz::require(deleted(contents, from, to) && !pending(contents, from, to),
                    "a deleted edge is deleted and not pending");
      break;
    default:
      fuzz::require(contents.num_nodes() == 0 && contents.num_edges() == 0,
                    "a cleared diff is empty");
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::size_t length = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
  auto decoded = bytes_to_graph_diff(std::span(data + 2, length));
  if (!decoded) {
    return 0;
  }
  Diff diff = std::move(*decoded);
  SortedReferenceDiff reference = checked_contents(diff);
  const std::vector<NodeId> ids = id_pool(reference);
  EditReader edits(std::span(data + 2 + length, size - 2 - length));
  while (!edits.empty()) {
    const std::uint8_t command = edits.byte();
    // Clearing is rare, so that edits build on what came before.
    const std::uint8_t kind = command % 32 == 31 ? 4 : command % 4;
    const NodeId& from = ids[edits.byte() % ids.size()];
    const NodeId& to = ids[edits.byte() % ids.size()];
    bool edge_added = false;
    switch (kind) {
      case 0: {
        const auto update = read_node_text(kUpdateTexts[edits.byte() % kUpdateTexts.size()]);
        fuzz::require(update.has_value(), "the edit texts are node texts");
        diff.add_or_update_node(from, *update);
        reference.add_or_update_node(from, *update);
        break;
      }
      case 1:
        diff.delete_node(from);
        reference.delete_node(from);
        break;
      case 2: {
        const float weight = edits.weight();
        edge_added = diff.add_edge(from, to, weight).has_value();
        fuzz::require(edge_added == reference.add_edge(from, to, weight),
                      "add_edge refuses exactly when an endpoint is deleted");
        break;
      }
      case 3:
        diff.delete_edge(from, to);
        reference.delete_edge(from, to);
        break;
      default:
        diff.clear();
        reference.clear();
        break;
    }
    const SortedReferenceDiff contents = checked_contents(diff);
    fuzz::require(testing_support::same_contents(contents, reference),
                  "the diff holds the reference model's contents");
    check_effect(kind, contents, from, to, edge_added);
  }
  const auto encoded = graph_diff_to_bytes(diff);
  fuzz::require(encoded.has_value(), "an edited diff encodes");
  const auto again = bytes_to_graph_diff(*encoded);
  fuzz::require(again.has_value(), "its bytes decode");
  for (auto& [id, update] : reference.nodes) {
    update = fuzz::as_read_back(update);
  }
  fuzz::require(testing_support::same_contents(checked_contents(*again), reference),
                "its contents survive the bytes");
  // Merging the edited diff into the decoded one, and into itself, lists
  // exactly what replaying it lists.
  Diff merged = std::move(*bytes_to_graph_diff(std::span(data + 2, length)));
  Diff replayed = merged;
  merged.merge(diff);
  testing_support::replay_merge(replayed, diff);
  fuzz::require(graph_diff_to_bytes(merged).value() == graph_diff_to_bytes(replayed).value(),
                "merge lists what the replay lists");
  replayed = diff;
  testing_support::replay_merge(replayed, diff);
  diff.merge(diff);
  fuzz::require(graph_diff_to_bytes(diff).value() == graph_diff_to_bytes(replayed).value(),
                "merging a diff into itself merges a copy");
  return 0;
}
