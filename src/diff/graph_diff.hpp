// GraphDiff: a recorded set of changes to a directed, weighted graph — nodes
// new or updated (with a payload merged update by update), nodes deleted,
// edges set (with a weight) and edges deleted. It never holds the graph
// itself, and decides every rule from its own contents.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <expected>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "diff/id_containers.hpp"
#include "diff/node_id.hpp"
#include "diff/sources_by_target.hpp"
#include "diff/undo_journal.hpp"
#include "node_update/node_update.hpp"

namespace quorl {

namespace batch_detail {
template <class Value>
struct Rows;
}  // namespace batch_detail

// The record of edge changes, grouped by source node.
template <class Id, class W, class Hash = IdHash>
struct EdgeDiff {
  using TargetWeights = IdMap<Id, W, Hash>;
  using Targets = IdSet<Id, Hash>;

  IdMap<Id, TargetWeights, Hash> new_or_updated;  // source -> target -> weight
  IdMap<Id, Targets, Hash> deleted;               // source -> targets
};

// The refusal of add_edge when an endpoint is marked deleted.
struct EndpointDeleted {
  // NOLINTNEXTLINE(readability-identifier-naming): read as error().message
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
template <class Id, class T, class W, class Hash = IdHash>
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

  // A copy starts without the index of sources by target, like a decoded
  // diff (see `sources_by_target_`).
  GraphDiff(const GraphDiff& other)
      : new_or_updated_nodes_(other.new_or_updated_nodes_),
        deleted_nodes_(other.deleted_nodes_),
        edges_(other.edges_) {}
  GraphDiff(GraphDiff&&) noexcept = default;
  GraphDiff& operator=(const GraphDiff& other) {
    if (this != &other) {
      *this = GraphDiff(other);
    }
    return *this;
  }
  GraphDiff& operator=(GraphDiff&&) noexcept = default;
  ~GraphDiff() = default;

  // Merges `update` into the node's record (or inserts it) and takes the node
  // out of deleted_nodes. A node deleted earlier starts from `update` alone.
  void add_or_update_node(const Id& id, T update) {
    const Probe node(id);
    auto [entry, inserted] = new_or_updated_nodes_.try_emplace(node, std::move(update));
    if (!inserted) {
      entry->second += std::move(update);
    }
    if (!deleted_nodes_.empty()) {
      deleted_nodes_.erase(node);
    }
  }

  // Drops the node's record and its outgoing pending edges, turns pending
  // edges that point at it into edge deletions, and marks it deleted. A
  // source whose only pending edge pointed at the node keeps an empty entry.
  // The sources that point at the node are found by a scan or through the
  // index (see `sources_by_target_`); the result is the same either way.
  //
  // All or nothing: if memory runs out, the diff is left as it was.
  void delete_node(const Id& id) {
    const Probe node(id);
    auto& sources = edges_.new_or_updated;
    const auto own = sources.find(node);
    SourceList pointing;
    if (!find_sources_with_index(node, pointing)) {
      scan_for_sources(node, pointing);
    }
    put_in_order_after_removal(pointing, own);
    UndoJournal journal;
    record_deletions(journal, node, pointing);
    journal.commit();
    erase_deleted_node(node, pointing, own);
  }

  // Sets the weight of (from, to) and takes the pair out of the deleted
  // edges, unless either endpoint is marked deleted; then nothing changes.
  std::expected<void, EndpointDeleted> add_edge(const Id& from, const Id& to, W weight) {
    // The emptiness check spares hashing ids against a container that most
    // diffs leave empty.
    const Probe source(from);
    const Probe target(to);
    if (refuses_edge(source, target)) {
      return std::unexpected(EndpointDeleted{});
    }
    const bool new_pair = insert_into_group(edges_.new_or_updated, source, [&](auto& targets) {
      return targets.insert_or_assign(target, weight).second;
    });
    if (const auto deleted =
            edges_.deleted.empty() ? edges_.deleted.end() : edges_.deleted.find(source);
        deleted != edges_.deleted.end()) {
      deleted->second.erase(target);
      if (deleted->second.empty()) {
        edges_.deleted.erase(deleted);
      }
    }
    if (new_pair && sources_by_target_) {
      index_pair(source, target);
    }
    return {};
  }

  // Whether add_edge refuses (from, to): an endpoint is marked deleted. The
  // emptiness check spares hashing ids against a set that most diffs leave
  // empty.
  template <class Source, class Target>
  [[nodiscard]] bool refuses_edge(const Source& from, const Target& to) const noexcept {
    return !deleted_nodes_.empty() &&
           (deleted_nodes_.contains(from) || deleted_nodes_.contains(to));
  }

  // Which edges of a batch add_edges refuses, judged once: a caller that
  // must know how many a batch records before the diff changes asks for
  // them and passes them on to add_edges. Refusals depend on deleted_nodes
  // alone, which add_edges does not change.
  struct EdgeRefusals {
    std::vector<std::uint8_t> refused;  // non-zero where refused; empty when none is
    std::size_t count = 0;
  };
  [[nodiscard]] EdgeRefusals refused_edges(std::span<const Id> from, std::span<const Id> to) const {
    EdgeRefusals refusals;
    if (deleted_nodes_.empty()) {
      return refusals;
    }
    refusals.refused.resize(from.size());
    for (std::size_t item = 0; item < from.size(); ++item) {
      if (refuses_edge(from[item], to[item])) {
        refusals.refused[item] = 1;
        ++refusals.count;
      }
    }
    return refusals;
  }

  // Records (from, to) as deleted, whether or not it was ever set.
  void delete_edge(const Id& from, const Id& to) {
    const Probe source(from);
    const Probe target(to);
    insert_into_group(edges_.deleted, source,
                      [&](auto& targets) { return targets.insert(target).second; });
    remove_pending_pair(source, target);
  }

  // Batches: each has exactly the effect of the single operation called for
  // every item in order (down to the order in which every container lists
  // its entries), and is all or nothing: if memory runs out, the diff is
  // left as it was. The spans of one call have equal lengths. Defined in
  // diff/graph_diff_batch.hpp.

  // Returns the number of edges recorded, not counting the refused ones.
  std::size_t add_edges(std::span<const Id> from, std::span<const Id> to,
                        std::span<const W> weights) {
    return add_edges(from, to, weights, refused_edges(from, to));
  }
  // The same with the refusals judged beforehand (see refused_edges).
  std::size_t add_edges(std::span<const Id> from, std::span<const Id> to,
                        std::span<const W> weights, EdgeRefusals refusals);
  void delete_edges(std::span<const Id> from, std::span<const Id> to);
  void delete_nodes(std::span<const Id> ids);
  // Moves from `updates`, which the caller gives up whether or not it fails.
  void add_or_update_nodes(std::span<const Id> ids, std::span<T> updates);
  // The same with each update made where it is kept: `fill(item, update)`
  // is called once per item, in order, with a default T to fill, and
  // returns whether it could. The update is the node's new record itself,
  // or, for a node with a record already, one merged into it afterwards. If
  // `fill` returns false or throws, the diff is left as it was (and false
  // returned or the exception let through). `fill` must not touch the diff.
  // For updates built field by field; a finished one moves in faster by the
  // overload above, which constructs the record from it.
  template <class Fill>
  bool add_or_update_nodes_with(std::span<const Id> ids, Fill&& fill);

  // Records `other`'s content as replaying it through the single operations
  // would: each of its deleted nodes (delete_node), each of its deleted
  // edges (delete_edge), each node record as it holds it
  // (add_or_update_node), each edge (add_edge), in its listing order. It
  // lists every entry as that replay does; `other` may be this diff. In
  // place: it costs what `other` holds and what it touches here, not what
  // this diff holds (but for finding the sources that point at its deleted
  // nodes, as delete_nodes finds them). All or nothing: if memory runs out,
  // the diff is left as it was. Defined in diff/graph_diff_merge.hpp.
  void merge(const GraphDiff& other);

  // The heap the diff holds: its containers' blocks, what their entries
  // hold outside themselves, and the index of sources by target.
  [[nodiscard]] std::size_t heap_bytes() const noexcept {
    std::size_t bytes = new_or_updated_nodes_.heap_bytes() + deleted_nodes_.heap_bytes() +
                        edges_.new_or_updated.heap_bytes() + edges_.deleted.heap_bytes();
    if constexpr (requires(const T& record) { record.heap_bytes(); }) {
      for (const auto& entry : new_or_updated_nodes_) {
        bytes += entry.second.heap_bytes();
      }
    }
    for (const auto& entry : edges_.new_or_updated) {
      bytes += entry.second.heap_bytes();
    }
    for (const auto& entry : edges_.deleted) {
      bytes += entry.second.heap_bytes();
    }
    if (sources_by_target_) {
      bytes += sizeof(Index) + sources_by_target_->heap_bytes();
    }
    return bytes;
  }

  // Empties the four containers; they keep their capacity for reuse. The
  // index of sources by target is freed and its count of scan work starts
  // again (see `sources_by_target_`).
  void clear() noexcept {
    new_or_updated_nodes_.clear();
    deleted_nodes_.clear();
    edges_.new_or_updated.clear();
    edges_.deleted.clear();
    sources_by_target_.reset();
    scan_work_ = 0;
    build_work_ = 0;
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
  using SourceEntry = typename IdMap<Id, typename Edges::TargetWeights, Hash>::value_type;
  using Index = SourcesByTarget<Id, Hash>;
  // An id whose hash is kept across the containers one operation visits.
  using Probe = HashedKey<Id, Hash>;
  // The sources pointing at one deleted node: most nodes have few, so they
  // are listed without a heap block.
  using SourceList = boost::container::small_vector<SourceEntry*, 8>;

  // Fills `pointing` with the source entries of edges.new_or_updated (other
  // than the node's own) whose targets include `id`, in any order. Returns
  // false when there is no index to ask.
  bool find_sources_with_index(const Probe& node, SourceList& pointing) {
    if (!sources_by_target_) {
      return false;
    }
    pointing.reserve(sources_by_target_->count_sources(node));
    sources_by_target_->for_each_source(node, [&](const Id& source) {
      if (source != node.key()) {
        const auto entry = edges_.new_or_updated.find(source);
        assert(entry != edges_.new_or_updated.end() && "the index lists a pending pair");
        pointing.push_back(entry);
      }
    });
    return true;
  }

  // The same by visiting every source entry, counting the work for the
  // index's cost model (see `sources_by_target_`).
  void scan_for_sources(const Probe& node, SourceList& pointing) {
    std::size_t pairs = 0;
    for (auto& entry : edges_.new_or_updated) {
      pairs += entry.second.size();
      if (entry.first != node.key() && entry.second.contains(node)) {
        pointing.push_back(&entry);
      }
    }
    scan_work_ += edges_.new_or_updated.size();
    build_work_ = pairs;
  }

  // Sorts `pointing` into the order in which edges.new_or_updated lists its
  // entries once the node's own entry (`own`, or end) is gone, that is with
  // the last entry moved into its place. edges.deleted gets its new entries
  // in this order, so a diff lists the same history alike whether or not it
  // had an index.
  void put_in_order_after_removal(SourceList& pointing, const SourceEntry* own) const {
    const auto& sources = edges_.new_or_updated;
    const SourceEntry* const last = sources.empty() ? nullptr : sources.end() - 1;
    const auto place = [&](const SourceEntry* entry) {
      return own != sources.end() && entry == last ? own : entry;
    };
    std::ranges::sort(pointing, std::less<>{}, place);
  }

  // Adds `id` to deleted_nodes and to the deleted targets of every source in
  // `pointing` (source entries or their ids): the steps of a deletion that
  // allocate, through `journal`.
  template <class Sources>
  void record_deletions(UndoJournal& journal, const Probe& id, const Sources& pointing) {
    journal.insert(deleted_nodes_, id);
    for (const auto& source : pointing) {
      const auto group = journal.insert(edges_.deleted, source_id(source)).first;
      journal.open_group(edges_.deleted, group).insert(id);
    }
  }
  static const Id& source_id(const SourceEntry* entry) noexcept { return entry->first; }
  static const Id& source_id(const Id& id) noexcept { return id; }

  // The steps of delete_nodes, in diff/graph_diff_batch.hpp.
  struct DeletionTurns;
  DeletionTurns deletion_turns(std::span<const Id> ids);
  bool sources_in_one_pass(std::span<const Id> ids, batch_detail::Rows<SourceEntry*>& found);

  // A step of merge, in diff/graph_diff_merge.hpp.
  void merge_deletions(UndoJournal& journal, const GraphDiff& other, const DeletionTurns& turns,
                       std::vector<std::pair<Id, Id>>& removed_pairs);

  // The steps of a node's deletion that cannot fail, once its deletions are
  // recorded: drops its record, the pending edges of `pointing` that point
  // at it and its own source entry `own` (or end). The own entry goes last:
  // removing it moves another source entry, which `pointing` may hold.
  void erase_deleted_node(const Probe& node, const SourceList& pointing,
                          SourceEntry* own) noexcept {
    new_or_updated_nodes_.erase(node);
    for (SourceEntry* entry : pointing) {
      entry->second.erase(node);
    }
    drop_outgoing_edges(node, own);
    if (sources_by_target_) {
      sources_by_target_->remove_target(node);
    } else if (scan_work_ >= build_work_) {
      build_index();
    }
  }

  // Inserts into the group of `source` in `groups` through `insert`, which
  // inserts one key into the group it is given and returns whether the key
  // is new. A group that does not exist yet is filled before it goes in, so
  // the one insertion into the diff is the last step that can fail: a single
  // edit that runs out of memory leaves nothing to undo, and needs no
  // journal.
  template <class Groups, class Insert>
  static bool insert_into_group(Groups& groups, const Probe& source, Insert&& insert) {
    if (const auto group = groups.find(source); group != groups.end()) {
      return insert(group->second);
    }
    typename Groups::mapped_type group;
    static_cast<void>(insert(group));
    groups.try_emplace(source, std::move(group));
    return true;
  }

  // Takes (from, to) out of the pending edges, and a source entry that it
  // leaves empty with it.
  void remove_pending_pair(const Probe& from, const Probe& to) noexcept {
    if (const auto set = edges_.new_or_updated.find(from); set != edges_.new_or_updated.end()) {
      if (set->second.erase(to) != 0 && sources_by_target_) {
        sources_by_target_->remove(to, from);
      }
      if (set->second.empty()) {
        edges_.new_or_updated.erase(set);
      }
    }
  }

  // Removes the node's own source entry `own` (or end), with its targets
  // and weights, from edges.new_or_updated and from the index.
  void drop_outgoing_edges(const Probe& id, SourceEntry* own) noexcept {
    if (own == edges_.new_or_updated.end()) {
      return;
    }
    if (sources_by_target_) {
      for (const auto& target : own->second) {
        sources_by_target_->remove(target.first, id);
      }
    }
    edges_.new_or_updated.erase(own);
  }

  // Builds the index of sources by target from the pending edges.
  void build_index() noexcept {
    change_index([&] { sources_by_target_ = std::make_unique<Index>(edges_.new_or_updated); });
  }

  // Adds a new pending pair to the index.
  void index_pair(const Probe& from, const Probe& to) noexcept {
    change_index([&] { sources_by_target_->add(to, from); });
  }

  // Runs `change` on the index, which is only an accelerator: if memory
  // runs out it is dropped, deletions scan meanwhile, and a later one builds
  // it again. This is the one place where the diff catches running out of
  // memory; everywhere else the operation's journal undoes it.
  template <class Change>
  void change_index(Change&& change) noexcept {
    try {
      change();
    } catch (const std::bad_alloc&) {
      sources_by_target_.reset();
    }
  }

  NodeMap new_or_updated_nodes_;
  NodeSet deleted_nodes_;
  Edges edges_;
  // The index of sources by target, and what it costs. A deletion must
  // find the sources whose pending edges point at the node. Without the
  // index it scans every source entry; the scans add up in `scan_work_`
  // (source entries visited), and each records in `build_work_` what
  // building the index would cost (one insertion per pending pair). Once the
  // scans together have cost as much as a build, the index is built and
  // kept up to date by every edit, and a deletion visits only the sources
  // that point at the node. So a diff that deletes one node pays one scan,
  // one that deletes many pays for the index once, and one that never
  // deletes pays nothing: the index is null until then, and again after
  // clear, in a copy and in a decoded diff. Whether or not a diff has the
  // index, every container lists its entries in the same order. The index
  // is only an accelerator: without memory for it, deletions go on scanning.
  std::unique_ptr<Index> sources_by_target_;
  std::size_t scan_work_ = 0;
  std::size_t build_work_ = 0;
};

// The one instance the system uses.
using Diff = GraphDiff<NodeId, NodeUpdate, float>;

}  // namespace quorl

#include "diff/graph_diff_batch.hpp"
#include "diff/graph_diff_merge.hpp"
