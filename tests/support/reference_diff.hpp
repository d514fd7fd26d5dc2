// The editing rules of a diff written the plain way, as the reference that
// tests and fuzzers hold the real diff to: every operation is a few lines
// over ordinary containers, and delete_node visits every source. Like the
// diff, each operation is defined on any contents, including decoded ones
// whose sections contradict each other.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>

#include "diff/graph_diff.hpp"
#include "id_map_access.hpp"
#include "node_update/node_update.hpp"

namespace quorl::testing_support {

// Pending and deleted edges, grouped by source as the diff groups them.
template <class WeightsBySource, class TargetsBySource>
struct ReferenceEdges {
  WeightsBySource new_or_updated;  // source -> target -> weight
  TargetsBySource deleted;         // source -> targets
};

// The containers are parameters: sorted standard ones to compare contents,
// or the diff's own to compare listing orders as well.
template <class NodeMap, class NodeSet, class Edges>
struct ReferenceDiff {
  NodeMap nodes;
  NodeSet deleted_nodes;
  Edges edges;

  void add_or_update_node(const NodeId& id, const NodeUpdate& update) {
    auto [entry, inserted] = nodes.try_emplace(id, update);
    if (!inserted) {
      entry->second += update;
    }
    deleted_nodes.erase(id);
  }

  void delete_node(const NodeId& id) {
    nodes.erase(id);
    edges.new_or_updated.erase(id);
    for (auto& [source, targets] : edges.new_or_updated) {
      if (targets.erase(id) != 0) {
        value_for(edges.deleted, source).insert(id);
      }
    }
    deleted_nodes.insert(id);
  }

  // False, and nothing changes, when an endpoint is marked deleted.
  bool add_edge(const NodeId& from, const NodeId& to, float weight) {
    if (deleted_nodes.contains(from) || deleted_nodes.contains(to)) {
      return false;
    }
    value_for(edges.new_or_updated, from).insert_or_assign(to, weight);
    if (const auto deleted = edges.deleted.find(from); deleted != edges.deleted.end()) {
      deleted->second.erase(to);
      if (deleted->second.empty()) {
        edges.deleted.erase(deleted);
      }
    }
    return true;
  }

  void delete_edge(const NodeId& from, const NodeId& to) {
    value_for(edges.deleted, from).insert(to);
    if (const auto set = edges.new_or_updated.find(from); set != edges.new_or_updated.end()) {
      set->second.erase(to);
      if (set->second.empty()) {
        edges.new_or_updated.erase(set);
      }
    }
  }

  // Keeps the containers' capacity, as the diff does: with the diff's own
  // containers that shapes the order of later entries.
  void clear() {
    nodes.clear();
    deleted_nodes.clear();
    edges.new_or_updated.clear();
    edges.deleted.clear();
  }

  [[nodiscard]] std::size_t num_nodes() const { return nodes.size() + deleted_nodes.size(); }
  [[nodiscard]] std::size_t num_edges() const {
    return edges.new_or_updated.size() + edges.deleted.size();
  }
};

using SortedEdges =
    ReferenceEdges<std::map<NodeId, std::map<NodeId, float>>, std::map<NodeId, std::set<NodeId>>>;
using SortedReferenceDiff =
    ReferenceDiff<std::map<NodeId, NodeUpdate>, std::set<NodeId>, SortedEdges>;

// The contents of `diff`, read through its four containers alone. Sets
// `listed_twice` when a container lists a key more than once.
inline SortedReferenceDiff sorted_contents(const Diff& diff, bool& listed_twice) {
  SortedReferenceDiff contents;
  listed_twice = false;
  for (const auto& [id, update] : diff.new_or_updated_nodes()) {
    listed_twice |= !contents.nodes.try_emplace(id, update).second;
  }
  for (const auto& id : diff.deleted_nodes()) {
    listed_twice |= !contents.deleted_nodes.insert(id).second;
  }
  for (const auto& [source, targets] : diff.edges().new_or_updated) {
    auto [group, inserted] = contents.edges.new_or_updated.try_emplace(source);
    listed_twice |= !inserted;
    for (const auto& [target, weight] : targets) {
      listed_twice |= !group->second.try_emplace(target, weight).second;
    }
  }
  for (const auto& [source, targets] : diff.edges().deleted) {
    auto [group, inserted] = contents.edges.deleted.try_emplace(source);
    listed_twice |= !inserted;
    for (const auto& target : targets) {
      listed_twice |= !group->second.insert(target).second;
    }
  }
  return contents;
}

// Equal contents: records field by field and weights bit for bit, so that
// a NaN equals the same NaN and 0.0 differs from -0.0.
inline bool same_contents(const SortedReferenceDiff& a, const SortedReferenceDiff& b) {
  const auto same_weights = [](const auto& x, const auto& y) {
    return x.first == y.first &&
           std::bit_cast<std::uint32_t>(x.second) == std::bit_cast<std::uint32_t>(y.second);
  };
  const auto same_groups = [&](const auto& x, const auto& y) {
    return x.first == y.first && std::equal(x.second.begin(), x.second.end(), y.second.begin(),
                                            y.second.end(), same_weights);
  };
  const auto same_records = [](const auto& x, const auto& y) {
    return x.first == y.first && same_fields(x.second, y.second);
  };
  return std::equal(a.nodes.begin(), a.nodes.end(), b.nodes.begin(), b.nodes.end(), same_records) &&
         a.deleted_nodes == b.deleted_nodes && a.edges.deleted == b.edges.deleted &&
         std::equal(a.edges.new_or_updated.begin(), a.edges.new_or_updated.end(),
                    b.edges.new_or_updated.begin(), b.edges.new_or_updated.end(), same_groups);
}

}  // namespace quorl::testing_support
