// GraphDiff: a recorded set of changes to a directed, weighted graph — nodes
// new or updated (with a payload merged update by update), nodes deleted,
// edges set (with a weight) and edges deleted. It never holds the graph
// itself, and decides every rule from its own contents.
#pragma once

#include <cstddef>
#include <expected>
#include <string_view>
#include <utility>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "diff/node_id.hpp"
#include "node_update/node_update.hpp"

namespace quorl {

template <class Id, class Hash>
using IdSet = boost::unordered_flat_set<Id, Hash>;

template <class Id, class Value, class Hash>
using IdMap = boost::unordered_flat_map<Id, Value, Hash>;

// The record of edge changes, grouped by source node.
template <class Id, class W, class Hash = NodeIdHash>
struct EdgeDiff {
  using TargetWeights = IdMap<Id, W, Hash>;
  using Targets = IdSet<Id, Hash>;

  IdMap<Id, TargetWeights, Hash> new_or_updated;  // source -> target -> weight
  IdMap<Id, Targets, Hash> deleted;               // source -> targets
};

// The refusal of add_edge when an endpoint is marked deleted.
struct EndpointDeleted {
  static constexpr std::string_view message = "Either from or to nodes are marked to be deleted";
};

// Invariants kept by the editing operations (a decoded diff is taken as it
// comes and may break them; every operation is defined on any contents):
//  - no id is both a key of new_or_updated_nodes and in deleted_nodes;
//  - no pair is both in edges.new_or_updated and in edges.deleted;
//  - no pair in edges.new_or_updated has an endpoint in deleted_nodes;
//  - every inner set of edges.deleted is non-empty;
//  - an inner map of edges.new_or_updated is empty only when delete_node
//    emptied it (the source entry is kept, and num_edges counts it).
template <class Id, class T, class W, class Hash = NodeIdHash>
class GraphDiff {
 public:
  using NodeMap = IdMap<Id, T, Hash>;
  using NodeSet = IdSet<Id, Hash>;
  using Edges = EdgeDiff<Id, W, Hash>;

  GraphDiff() = default;

  // Takes decoded containers as they are; nothing is checked.
  GraphDiff(NodeMap new_or_updated_nodes, NodeSet deleted_nodes, Edges edges) noexcept
      : new_or_updated_nodes_(std::move(new_or_updated_nodes)),
        deleted_nodes_(std::move(deleted_nodes)),
        edges_(std::move(edges)) {}

  // Merges `update` into the node's record (or inserts it) and takes the node
  // out of deleted_nodes. A node deleted earlier starts from `update` alone.
  void add_or_update_node(const Id& id, T update) {
    auto [entry, inserted] = new_or_updated_nodes_.try_emplace(id, std::move(update));
    if (!inserted) {
      entry->second += std::move(update);
    }
    deleted_nodes_.erase(id);
  }

  // Drops the node's record and its outgoing pending edges, turns pending
  // edges that point at it into edge deletions, and marks it deleted. A
  // source whose only pending edge pointed at the node keeps an empty entry.
  void delete_node(const Id& id) {
    new_or_updated_nodes_.erase(id);
    edges_.new_or_updated.erase(id);
    for (auto& [source, targets] : edges_.new_or_updated) {
      const auto found = targets.find(id);
      if (found == targets.end()) {
        continue;
      }
      insert_into_group(edges_.deleted, source, [&](auto& deleted) { deleted.insert(id); });
      targets.erase(found);
    }
    deleted_nodes_.insert(id);
  }

  // Sets the weight of (from, to) and takes the pair out of the deleted
  // edges, unless either endpoint is marked deleted; then nothing changes.
  std::expected<void, EndpointDeleted> add_edge(const Id& from, const Id& to, W weight) {
    if (deleted_nodes_.contains(from) || deleted_nodes_.contains(to)) {
      return std::unexpected(EndpointDeleted{});
    }
    insert_into_group(edges_.new_or_updated, from,
                      [&](auto& targets) { targets.insert_or_assign(to, weight); });
    if (const auto deleted = edges_.deleted.find(from); deleted != edges_.deleted.end()) {
      deleted->second.erase(to);
      if (deleted->second.empty()) {
        edges_.deleted.erase(deleted);
      }
    }
    return {};
  }

  // Records (from, to) as deleted, whether or not it was ever set.
  void delete_edge(const Id& from, const Id& to) {
    insert_into_group(edges_.deleted, from, [&](auto& targets) { targets.insert(to); });
    if (const auto set = edges_.new_or_updated.find(from); set != edges_.new_or_updated.end()) {
      set->second.erase(to);
      if (set->second.empty()) {
        edges_.new_or_updated.erase(set);
      }
    }
  }

  // Empties the four containers; they keep their capacity for reuse.
  void clear() noexcept {
    new_or_updated_nodes_.clear();
    deleted_nodes_.clear();
    edges_.new_or_updated.clear();
    edges_.deleted.clear();
  }

  [[nodiscard]] std::size_t num_nodes() const noexcept {
    return new_or_updated_nodes_.size() + deleted_nodes_.size();
  }

  // Counts source entries, not (source, target) pairs.
  [[nodiscard]] std::size_t num_edges() const noexcept {
    return edges_.new_or_updated.size() + edges_.deleted.size();
  }

  [[nodiscard]] const NodeMap& new_or_updated_nodes() const noexcept {
    return new_or_updated_nodes_;
  }
  [[nodiscard]] const NodeSet& deleted_nodes() const noexcept { return deleted_nodes_; }
  [[nodiscard]] const Edges& edges() const noexcept { return edges_; }

 private:
  // Runs `insert` on the inner container of `key`, creating the entry first
  // when there is none. If the insertion throws (out of memory), a freshly
  // created entry is removed again, so no empty group is left behind.
  template <class Groups, class Insert>
  static void insert_into_group(Groups& groups, const Id& key, Insert&& insert) {
    auto [group, created] = groups.try_emplace(key);
    try {
      insert(group->second);
    } catch (...) {
      if (created) {
        groups.erase(key);
      }
      throw;
    }
  }

  NodeMap new_or_updated_nodes_;
  NodeSet deleted_nodes_;
  Edges edges_;
};

// The one instance the system uses.
using Diff = GraphDiff<NodeId, NodeUpdate, float>;

}  // namespace quorl
