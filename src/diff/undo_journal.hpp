// UndoJournal: the rollback of an all-or-nothing operation, written once.
//
// An operation that must leave the diff as it was when memory runs out is
// written in three steps:
//   1. a first pass that makes every change that can allocate, each one
//      through the journal;
//   2. journal.commit();
//   3. a second pass of the changes that cannot fail (erasures, merges,
//      values updated in place).
// If the first pass throws, the journal's destructor undoes what it
// recorded, newest first, and the exception goes on: every container then
// lists the entries it listed before, in the same order. An edit whose one
// change that can fail is also its first change to the diff (add_edge and
// delete_edge fill a new group before it goes in) has nothing to undo and
// takes no journal.
//
//   UndoJournal journal;
//   const auto group = journal.insert(edges, source).first;
//   const auto [pair, added] = journal.open_group(edges, group).insert(target, weight);
//   journal.commit();
//   if (!added) pair->second = weight;
//
// The first pass may insert, through a group overwrite small values, and
// remove entries through the journal. The containers (IdMap and IdSet)
// append each new entry and move none but the last while removing, so the
// journal keeps no keys: insertions are undone by removing a container's
// newest entries, and a container held in an entry of another (an edge
// group) is named by the outer container and the entry's position, which
// growth does not change and which holds again once every later step is
// undone. A container is recorded once per operation, a group once each time
// it is opened, and a group the operation itself created not at all
// (removing its entry undoes it); recording never allocates for the first
// few steps. A removal is one step, which keeps the removed entry aside
// (one allocation, before anything changes) until the journal ends; putting
// it back takes the room it left, so a container the operation removes from
// must not give room back (release_unused) during the operation.
//
// Allocation failure can leave more capacity behind than before (a grown
// block is not shrunk back); contents and order are restored exactly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include <boost/container/small_vector.hpp>

namespace quorl {

class UndoJournal {
  struct Step;

 public:
  UndoJournal() noexcept = default;
  UndoJournal(const UndoJournal&) = delete;
  UndoJournal& operator=(const UndoJournal&) = delete;
  UndoJournal(UndoJournal&&) = delete;
  UndoJournal& operator=(UndoJournal&&) = delete;

  // Undoes every recorded change unless the operation committed, then frees
  // the entries kept aside.
  ~UndoJournal() {
    if (!committed_) {
      roll_back();
    }
    while (aside_ != nullptr) {
      Aside* const next = aside_->next;
      aside_->discard(aside_);
      aside_ = next;
    }
  }

  // Keeps every change: from here on the operation makes only changes that
  // cannot fail.
  void commit() noexcept { committed_ = true; }

  // Inserts `key` into `container` unless it is there, as the container's
  // try_emplace(key, arguments...) does for a map and insert(key) for a
  // set, and returns what that returns. `container` must stay where it is
  // for the whole operation (a member of the diff, not an entry of another
  // container: see open_group).
  template <class Container, class Key, class... Arguments>
  auto insert(Container& container, const Key& key, Arguments&&... arguments) {
    remember_size(container);
    return insert_member(container, key, std::forward<Arguments>(arguments)...);
  }

  // Removes `entry` from `container` (a member of the diff, as for insert),
  // its last entry taking the place, as the container's erase does.
  // Rollback puts the entry back where it was, and the moved one back at
  // the end; insertions after the removal are undone first.
  template <class Container>
  void erase(Container& container, typename Container::const_iterator entry) {
    remember_size(container);
    remove(&restore_entry<Container, EntryOf<Container>>, container, kWhole, container, entry);
  }

  // The container held in one entry of `groups` (an edge group), open for
  // insertions, overwrites and removals that the journal undoes. Like an
  // iterator of `groups`, it is valid until the next insertion into or
  // removal from `groups`.
  template <class Groups>
  class Group {
   public:
    using Inner = typename Groups::mapped_type;

    [[nodiscard]] Inner& container() const noexcept { return *inner_; }

    // As UndoJournal::insert, into the group.
    template <class Key, class... Arguments>
    auto insert(const Key& key, Arguments&&... arguments) const {
      return insert_member(container(), key, std::forward<Arguments>(arguments)...);
    }

    // Sets the value of `member`, an entry of the group, to `value`; rollback
    // restores the former value. For values of at most eight bytes that
    // copy as bytes (weights).
    template <class Value>
    void assign(typename Inner::iterator member, const Value& value) const {
      using Stored = typename Inner::mapped_type;
      static_assert(std::is_trivially_copyable_v<Stored> &&
                    sizeof(Stored) <= sizeof(std::uint64_t));
      if (recorded_) {
        std::uint64_t saved = 0;
        std::memcpy(&saved, &member->second, sizeof(Stored));
        journal_->steps_.emplace_back(&restore_value<Groups>, groups_, position_,
                                      static_cast<std::uint32_t>(member - inner_->begin()), saved);
      }
      member->second = value;
    }

    // As UndoJournal::erase, from the group. A group this operation created
    // goes whole on rollback, so nothing is kept.
    void erase(typename Inner::const_iterator member) const {
      if (!recorded_) {
        inner_->erase(member);
        return;
      }
      journal_->remove(&restore_member<Groups, EntryOf<Inner>>, *groups_, position_, container(),
                       member);
    }

   private:
    friend class UndoJournal;
    Group(UndoJournal& journal, Groups& groups, Inner& inner, std::uint32_t position,
          bool recorded) noexcept
        : journal_(&journal),
          groups_(&groups),
          inner_(&inner),
          position_(position),
          recorded_(recorded) {}

    UndoJournal* journal_;
    Groups* groups_;
    Inner* inner_;
    std::uint32_t position_;
    bool recorded_;  // false for a group that this operation created
  };

  // Opens the group held in `group`, an entry of `groups`.
  template <class Groups>
  [[gnu::always_inline]] Group<Groups> open_group(Groups& groups, typename Groups::iterator group) {
    const auto position = static_cast<std::uint32_t>(group - groups.begin());
    const bool created_here = position >= remembered_size(&groups);
    if (!created_here) {
      steps_.emplace_back(&shrink_group<Groups>, &groups, position,
                          static_cast<std::uint32_t>(group->second.size()));
    }
    return Group<Groups>(*this, groups, group->second, position, !created_here);
  }

 private:
  static constexpr std::uint32_t kWhole = std::numeric_limits<std::uint32_t>::max();

  struct Aside;

  // One recorded change and how to undo it. Built in place (emplace_back),
  // so that recording costs a few stores.
  struct Step {
    Step(void (*undo_step)(const Step&) noexcept, void* held, std::uint32_t group_position,
         std::uint32_t place_or_size, std::uint64_t saved_bytes = 0) noexcept
        : undo(undo_step),
          container(held),
          group(group_position),
          place(place_or_size),
          saved(saved_bytes) {}

    void (*undo)(const Step&) noexcept;
    void* container;
    std::uint32_t group;  // position of the group's entry, or kWhole
    std::uint32_t place;  // the size to shrink back to, or the position of a value or entry
    union {
      std::uint64_t saved;  // the former value's bytes
      Aside* kept;          // the removed entry
    };
  };

  // An entry removed through the journal, kept until the journal ends, with
  // the size its container had right after the removal.
  struct Aside {
    Aside* next;
    void (*discard)(Aside*) noexcept;
    std::uint32_t size_after;
  };
  template <class Entry>
  struct Kept : Aside {
    template <class Source>
    Kept(Aside* next_aside, std::uint32_t size, Source&& source) noexcept
        : Aside{next_aside, &discard_kept<Entry>, size}, entry(std::forward<Source>(source)) {}
    Entry entry;
  };
  template <class Container>
  using EntryOf = std::remove_cvref_t<decltype(*std::declval<Container&>().begin())>;

  template <class Entry>
  static void discard_kept(Aside* aside) noexcept {
    delete static_cast<Kept<Entry>*>(aside);
  }

  // Records the removal of `entry` from `inner` (`outer` itself, or its
  // group at `group`), keeps the entry aside and removes it. Everything that
  // allocates comes before the removal.
  template <class Outer, class Inner>
  void remove(void (*undo_step)(const Step&) noexcept, Outer& outer, std::uint32_t group,
              Inner& inner, typename Inner::const_iterator entry) {
    using Entry = EntryOf<Inner>;
    const auto position = static_cast<std::uint32_t>(entry - inner.begin());
    struct Memory {
      void* block;
      ~Memory() { ::operator delete(block); }
    } memory{::operator new(sizeof(Kept<Entry>))};
    steps_.emplace_back(undo_step, &outer, group, position);
    // Only the entries' own moves remain, and they cannot throw. The begin()
    // of a map is mutable, so its value moves; a set's ids are copied.
    auto* const kept = ::new (std::exchange(memory.block, nullptr)) Kept<Entry>(
        aside_, static_cast<std::uint32_t>(inner.size() - 1), std::move(inner.begin()[position]));
    aside_ = kept;
    steps_.back().kept = kept;
    inner.erase(entry);
  }

  // Undoes a removal: first the insertions made since into the container
  // (which no step records when the operation remembers its size), then
  // the removal itself.
  template <class Entry, class Container>
  static void put_back(const Step& step, Container& container) noexcept {
    auto* const kept = static_cast<Kept<Entry>*>(step.kept);
    container.truncate(kept->size_after);
    container.restore(step.place, std::move(kept->entry));
  }

  template <class Container, class Entry>
  static void restore_entry(const Step& step) noexcept {
    put_back<Entry>(step, *static_cast<Container*>(step.container));
  }

  template <class Groups, class Entry>
  static void restore_member(const Step& step) noexcept {
    put_back<Entry>(step, static_cast<Groups*>(step.container)->begin()[step.group].second);
  }

  template <class Container, class Key, class... Arguments>
  static auto insert_member(Container& container, const Key& key, Arguments&&... arguments) {
    if constexpr (requires { typename Container::mapped_type; }) {
      return container.try_emplace(key, std::forward<Arguments>(arguments)...);
    } else {
      static_assert(sizeof...(Arguments) == 0, "a set takes its key alone");
      return container.insert(key);
    }
  }

  template <class Container>
  static void shrink_whole(const Step& step) noexcept {
    static_cast<Container*>(step.container)->truncate(step.place);
  }

  template <class Groups>
  static void shrink_group(const Step& step) noexcept {
    static_cast<Groups*>(step.container)->begin()[step.group].second.truncate(step.place);
  }

  template <class Groups>
  static void restore_value(const Step& step) noexcept {
    auto& group = static_cast<Groups*>(step.container)->begin()[step.group].second;
    std::memcpy(&group.begin()[step.place].second, &step.saved,
                sizeof(typename Groups::mapped_type::mapped_type));
  }

  // Records the size of `container` before its first insertion of this
  // operation. The few containers an operation touches are remembered
  // apart from the steps (they are shrunk after every step is undone, which
  // only touches entries older than the operation); beyond those, every
  // insertion is a step.
  template <class Container>
  [[gnu::always_inline]] void remember_size(Container& container) {
    for (std::size_t index = 0; index < remembered_count_; ++index) {
      if (remembered_[index].container == &container) {
        return;
      }
    }
    const auto size = static_cast<std::uint32_t>(container.size());
    if (remembered_count_ < remembered_.size()) {
      remembered_[remembered_count_++] = {&shrink_whole<Container>, &container, size};
    } else {
      steps_.emplace_back(&shrink_whole<Container>, &container, kWhole, size);
    }
  }

  // The size `groups` had before this operation inserted into it; entries
  // from there on are the operation's own. Without a record, every entry
  // counts as older.
  [[nodiscard, gnu::always_inline]] std::uint32_t remembered_size(
      const void* groups) const noexcept {
    for (std::size_t index = 0; index < remembered_count_; ++index) {
      if (remembered_[index].container == groups) {
        return remembered_[index].size;
      }
    }
    return kWhole;
  }

  void roll_back() noexcept {
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
      step->undo(*step);
    }
    for (std::size_t index = remembered_count_; index-- > 0;) {
      const Remembered& container = remembered_[index];
      container.undo(Step(nullptr, container.container, kWhole, container.size));
    }
  }

  struct Remembered {
    void (*undo)(const Step&) noexcept;
    void* container;
    std::uint32_t size;
  };

  boost::container::small_vector<Step, 4> steps_;
  std::array<Remembered, 4> remembered_;
  std::size_t remembered_count_ = 0;
  Aside* aside_ = nullptr;  // the entries removed, newest first
  bool committed_ = false;
};

}  // namespace quorl
