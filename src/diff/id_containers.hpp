// IdMap and IdSet: the containers keyed by id that the diff and its index
// are made of. Both list their entries in the order of their history
// (ordered_table.hpp): an insertion appends, updating an existing key keeps
// its place, a removal moves the last entry into the hole. Pointers and
// iterators stay valid until the next insertion or removal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <tuple>
#include <utility>

#include "diff/id_hash.hpp"
#include "diff/node_id.hpp"
#include "diff/ordered_table.hpp"

namespace quorl {

// How two ids of a type are compared in a container.
template <class Id>
struct IdEqualFor {
  using type = std::equal_to<Id>;
};

template <>
struct IdEqualFor<NodeId> {
  using type = NodeIdEqual;
};

namespace detail {

struct KeyOfEntry {
  template <class Key>
  const Key& operator()(const Key& key) const noexcept {
    return key;
  }
};

struct KeyOfPair {
  template <class Pair>
  const auto& operator()(const Pair& entry) const noexcept {
    return entry.first;
  }
};

}  // namespace detail

template <class Id, class Value, class Hash = IdHash>
class IdMap : public detail::OrderedTable<Id, std::pair<const Id, Value>, detail::KeyOfPair, Hash,
                                          typename IdEqualFor<Id>::type> {
  using Table = detail::OrderedTable<Id, std::pair<const Id, Value>, detail::KeyOfPair, Hash,
                                     typename IdEqualFor<Id>::type>;

 public:
  using key_type = Id;
  using mapped_type = Value;
  using value_type = std::pair<const Id, Value>;
  using iterator = value_type*;
  using const_iterator = const value_type*;

  IdMap() noexcept = default;
  // A repeated key keeps its first value, as with try_emplace.
  IdMap(std::initializer_list<value_type> entries) {
    this->reserve(entries.size());
    for (const auto& entry : entries) {
      try_emplace(entry.first, entry.second);
    }
  }

  [[nodiscard]] iterator begin() noexcept { return this->entries(); }
  [[nodiscard]] iterator end() noexcept { return this->entries() + this->size(); }
  [[nodiscard]] const_iterator begin() const noexcept { return this->entries(); }
  [[nodiscard]] const_iterator end() const noexcept { return this->entries() + this->size(); }

  template <detail::KeyProbe<Id, Hash> Probe>
  [[nodiscard]] iterator find(const Probe& key) noexcept {
    return at_position(this->locate(key));
  }
  template <detail::KeyProbe<Id, Hash> Probe>
  [[nodiscard]] const_iterator find(const Probe& key) const noexcept {
    return const_cast<IdMap*>(this)->find(key);
  }

  // Inserts (key, Value(arguments...)) at the end unless the key is there;
  // the arguments are left untouched when it is.
  template <detail::KeyProbe<Id, Hash> Probe, class... Arguments>
  std::pair<iterator, bool> try_emplace(const Probe& key, Arguments&&... arguments) {
    const auto where = this->locate(key);
    if (where.position != Table::kAbsent) {
      return {this->entries() + where.position, false};
    }
    const Id copy = Table::plain(key);  // the key may live in an entry that growing moves
    return {&this->append(where, std::piecewise_construct, std::forward_as_tuple(copy),
                          std::forward_as_tuple(std::forward<Arguments>(arguments)...)),
            true};
  }

  template <class Argument>
  std::pair<iterator, bool> emplace(const Id& key, Argument&& value) {
    return try_emplace(key, std::forward<Argument>(value));
  }

  // A present key keeps its place and takes the new value.
  template <detail::KeyProbe<Id, Hash> Probe, class Argument>
  std::pair<iterator, bool> insert_or_assign(const Probe& key, Argument&& value) {
    auto result = try_emplace(key, std::forward<Argument>(value));
    if (!result.second) {
      result.first->second = std::forward<Argument>(value);
    }
    return result;
  }

  // Appends (key, value) without looking for the key: for a reader that
  // checks the whole container for repeated keys once it is filled.
  template <class Argument>
  void append_unchecked(const Id& key, Argument&& value) {
    const Id copy = key;
    this->append({}, std::piecewise_construct, std::forward_as_tuple(copy),
                 std::forward_as_tuple(std::forward<Argument>(value)));
  }

  using Table::erase;
  void erase(const_iterator entry) noexcept {
    this->erase_at(static_cast<std::uint32_t>(entry - begin()));
  }

  // Equal contents, whatever the order.
  friend bool operator==(const IdMap& left, const IdMap& right) {
    if (left.size() != right.size()) {
      return false;
    }
    for (const auto& [key, value] : left) {
      const auto found = right.find(key);
      if (found == right.end() || !(found->second == value)) {
        return false;
      }
    }
    return true;
  }

 private:
  iterator at_position(typename Table::Location where) const noexcept {
    return where.position == Table::kAbsent ? const_cast<IdMap*>(this)->end()
                                            : this->entries() + where.position;
  }
};

template <class Id, class Hash = IdHash>
class IdSet
    : public detail::OrderedTable<Id, Id, detail::KeyOfEntry, Hash, typename IdEqualFor<Id>::type> {
  using Table =
      detail::OrderedTable<Id, Id, detail::KeyOfEntry, Hash, typename IdEqualFor<Id>::type>;

 public:
  using key_type = Id;
  using value_type = Id;
  using iterator = const Id*;
  using const_iterator = const Id*;

  IdSet() noexcept = default;
  IdSet(std::initializer_list<Id> ids) {
    this->reserve(ids.size());
    for (const auto& id : ids) {
      insert(id);
    }
  }

  [[nodiscard]] const_iterator begin() const noexcept { return this->entries(); }
  [[nodiscard]] const_iterator end() const noexcept { return this->entries() + this->size(); }

  template <detail::KeyProbe<Id, Hash> Probe>
  [[nodiscard]] const_iterator find(const Probe& key) const noexcept {
    const auto where = this->locate(key);
    return where.position == Table::kAbsent ? end() : begin() + where.position;
  }

  template <detail::KeyProbe<Id, Hash> Probe>
  std::pair<const_iterator, bool> insert(const Probe& key) {
    const auto where = this->locate(key);
    if (where.position != Table::kAbsent) {
      return {begin() + where.position, false};
    }
    const Id copy = Table::plain(key);
    return {&this->append(where, copy), true};
  }

  // Appends `key` without looking for it (see IdMap::append_unchecked).
  void append_unchecked(const Id& key) {
    const Id copy = key;
    this->append({}, copy);
  }

  using Table::erase;
  void erase(const_iterator entry) noexcept {
    this->erase_at(static_cast<std::uint32_t>(entry - begin()));
  }

  friend bool operator==(const IdSet& left, const IdSet& right) noexcept {
    if (left.size() != right.size()) {
      return false;
    }
    for (const auto& id : left) {
      if (!right.contains(id)) {
        return false;
      }
    }
    return true;
  }
};

}  // namespace quorl
