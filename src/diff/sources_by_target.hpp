// SourcesByTarget: for each target id, the source ids whose pending edges
// point at it. GraphDiff keeps one, once a node has been deleted, so that
// deleting a node visits only the sources that point at it.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>

#include "diff/id_containers.hpp"

namespace quorl {

template <class Id, class Hash>
class SourcesByTarget {
 public:
  // Indexes every (source, target) pair of `edges` (source -> target -> weight).
  template <class EdgeMap>
  explicit SourcesByTarget(const EdgeMap& edges) {
    for (const auto& [source, targets] : edges) {
      for (const auto& target : targets) {
        add(target.first, source);
      }
    }
  }

  // Records that `source` points at `target` (no effect if it is recorded).
  void add(const Id& target, const Id& source) {
    auto [entry, inserted] = sources_.try_emplace(target, Sources{source, nullptr});
    if (inserted || entry->second.first == source) {
      return;
    }
    auto& others = entry->second.others;
    if (!others) {
      others = std::make_unique<OtherSources>();
    }
    others->insert(source);
  }

  // Forgets that `source` points at `target` (no effect if it is not recorded).
  void remove(const Id& target, const Id& source) noexcept {
    const auto entry = sources_.find(target);
    if (entry == sources_.end()) {
      return;
    }
    auto& [first, others] = entry->second;
    if (first == source) {
      if (!others || others->empty()) {
        sources_.erase(entry);
        return;
      }
      first = *others->begin();
      others->erase(others->begin());
    } else if (others) {
      others->erase(source);
    }
    if (others && others->empty()) {
      others.reset();
    }
  }

  // Forgets every source of `target`.
  void remove_target(const Id& target) noexcept { sources_.erase(target); }

  // Calls `visit(source)` for every source that points at `target`.
  template <class Visit>
  void for_each_source(const Id& target, Visit&& visit) const {
    const auto entry = sources_.find(target);
    if (entry == sources_.end()) {
      return;
    }
    visit(entry->second.first);
    if (entry->second.others) {
      for (const auto& source : *entry->second.others) {
        visit(source);
      }
    }
  }

  [[nodiscard]] std::size_t count_sources(const Id& target) const noexcept {
    const auto entry = sources_.find(target);
    if (entry == sources_.end()) {
      return 0;
    }
    return 1 + (entry->second.others ? entry->second.others->size() : 0);
  }

 private:
  using OtherSources = IdSet<Id, Hash>;

  // Most targets have one source, so it is held in place; a set is allocated
  // only from the second one on (a flat set holding a single id already
  // allocates room for thirty, which would dwarf the edge it indexes).
  struct Sources {
    Id first;
    std::unique_ptr<OtherSources> others;  // never holds `first`; null when empty
  };

  IdMap<Id, Sources, Hash> sources_;
};

}  // namespace quorl
