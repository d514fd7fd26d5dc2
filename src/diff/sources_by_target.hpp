// SourcesByTarget: for each target id, the source ids whose pending edges
// point at it. GraphDiff keeps one, once a node has been deleted, so that
// deleting a node visits only the sources that point at it.
#pragma once

#include <cstddef>
#include <utility>

#include "diff/id_containers.hpp"

namespace quorl {

template <class Id, class Hash>
class SourcesByTarget {
 public:
  // Indexes every (source, target) pair of `edges` (source -> target -> weight).
  // The sources are taken from the last listed to the first, so that the
  // sources of a target lie in reverse listing order: removing edges in the
  // order the diff lists them (a caller walking its own reading) then takes
  // each source from the end of its set, where removal moves no other entry.
  // Nothing reads the order of a target's sources: deletions put them in
  // listing order themselves.
  template <class EdgeMap>
  explicit SourcesByTarget(const EdgeMap& edges) {
    for (auto entry = edges.end(); entry != edges.begin();) {
      --entry;
      for (const auto& target : entry->second) {
        add(target.first, entry->first);
      }
    }
  }

  // Records that `source` points at `target` (no effect if it is recorded).
  template <class Target, class Source>
  void add(const Target& target, const Source& source) {
    auto [entry, inserted] = sources_.try_emplace(target, source);
    if (!inserted && entry->second.first != plain(source)) {
      entry->second.others.insert(source);
    }
  }

  // Forgets that `source` points at `target` (no effect if it is not recorded).
  // Constant time however many sources the target has: the last of the
  // others takes the place of a removed first one.
  template <class Target, class Source>
  void remove(const Target& target, const Source& source) noexcept {
    const auto entry = sources_.find(target);
    if (entry == sources_.end()) {
      return;
    }
    auto& [first, others] = entry->second;
    if (first != plain(source)) {
      others.erase(source);
    } else if (others.empty()) {
      sources_.erase(entry);
    } else {
      const auto last = others.end() - 1;
      first = *last;
      others.erase(last);
    }
  }

  // Forgets every source of `target`.
  template <class Target>
  void remove_target(const Target& target) noexcept {
    sources_.erase(target);
  }

  // Calls `visit(source)` for every source that points at `target`.
  template <class Target, class Visit>
  void for_each_source(const Target& target, Visit&& visit) const {
    const auto entry = sources_.find(target);
    if (entry == sources_.end()) {
      return;
    }
    visit(entry->second.first);
    for (const auto& source : entry->second.others) {
      visit(source);
    }
  }

  [[nodiscard]] std::size_t heap_bytes() const noexcept {
    std::size_t bytes = sources_.heap_bytes();
    for (const auto& entry : sources_) {
      bytes += entry.second.others.heap_bytes();
    }
    return bytes;
  }

  template <class Target>
  [[nodiscard]] std::size_t count_sources(const Target& target) const noexcept {
    const auto entry = sources_.find(target);
    if (entry == sources_.end()) {
      return 0;
    }
    return 1 + entry->second.others.size();
  }

 private:
  // Most targets have one source, so it is held in place; the set of the
  // others allocates nothing while it is empty.
  static const Id& plain(const Id& id) noexcept { return id; }
  static const Id& plain(const HashedKey<Id, Hash>& id) noexcept { return id.key(); }

  struct Sources {
    template <class Source>
    explicit Sources(const Source& source) noexcept : first(plain(source)) {}
    Id first;
    IdSet<Id, Hash> others;  // never holds `first`
  };

  IdMap<Id, Sources, Hash> sources_;
};

}  // namespace quorl
