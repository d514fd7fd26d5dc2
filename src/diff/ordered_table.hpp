// OrderedTable: the storage under IdMap and IdSet (id_containers.hpp).
//
// Entries live densely in one array, in an order fixed by the history of
// operations alone: an insertion appends, updating an existing key keeps its
// place, and a removal moves the last entry into the hole. Iteration walks
// the array and never looks at the hash, so the hash can be keyed per
// process while every process lists the same history alike.
//
// A table is one pointer: null until it first holds an entry, else a block
// [header | entries | index]. Up to kLinearCapacity entries the block has no
// index and a lookup compares keys in order: most edge groups are that
// small, and comparing a few dozen ids costs less than hashing one. Larger
// blocks carry an index of positions (open addressing, linear probing, at
// most half full, removal by backward shift, so no tombstones).
// Positions are rebuilt from the keys when the block grows.
#pragma once

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace quorl {

// A key with its hash, computed on first need and then kept: an operation
// that looks one id up in several containers (they all share one hash)
// hashes it once, and not at all while every container is small enough to
// be scanned.
template <class Key, class Hash>
class HashedKey {
 public:
  explicit HashedKey(const Key& key) noexcept : key_(&key) {}

  [[nodiscard]] const Key& key() const noexcept { return *key_; }
  [[nodiscard]] std::size_t hash() const noexcept {
    if (!known_) {
      hash_ = Hash{}(*key_);
      known_ = true;
    }
    return hash_;
  }

 private:
  const Key* key_;
  mutable std::size_t hash_ = 0;
  mutable bool known_ = false;
};

namespace detail {

// What a container finds entries by: a key, or a key with its hash.
template <class Probe, class Key, class Hash>
concept KeyProbe = std::same_as<Probe, Key> || std::same_as<Probe, HashedKey<Key, Hash>>;

template <class Key, class Entry, class KeyOf, class Hash, class Equal>
class OrderedTable {
  static_assert(std::is_nothrow_move_constructible_v<Entry>,
                "entries are moved when the block grows or an entry is removed");
  static_assert(alignof(Entry) <= alignof(std::max_align_t));

 public:
  // The largest capacity searched without an index. Measured with bench_core's
  // edge_group_lookup: hashing one id and probing costs about as much as
  // scanning 64 ids for an absent one (what an insertion does) or 96 for a
  // present one. Filling a group up to 128 ids therefore scans 64 on
  // average, as cheap as indexing, and a lookup in a full one costs at most
  // about twice a probe, while the index would add a tenth to its memory.
  static constexpr std::uint32_t kLinearCapacity = 128;

  OrderedTable() noexcept = default;
  OrderedTable(const OrderedTable& other) { copy_from(other); }
  OrderedTable(OrderedTable&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
  OrderedTable& operator=(const OrderedTable& other) {
    if (this != &other) {
      OrderedTable copy(other);
      std::swap(block_, copy.block_);
    }
    return *this;
  }
  OrderedTable& operator=(OrderedTable&& other) noexcept {
    if (this != &other) {
      release();
      block_ = std::exchange(other.block_, nullptr);
    }
    return *this;
  }
  ~OrderedTable() { release(); }

  [[nodiscard]] std::size_t size() const noexcept { return block_ ? block_->size : 0; }
  [[nodiscard]] bool empty() const noexcept { return size() == 0; }
  // Entries the block holds before it must grow.
  [[nodiscard]] std::size_t capacity() const noexcept { return block_ ? block_->capacity : 0; }

  // Removes every entry and keeps the block for reuse.
  void clear() noexcept {
    if (block_ == nullptr) {
      return;
    }
    std::destroy_n(entries(), block_->size);
    block_->size = 0;
    if (const std::size_t slots = slot_count(block_->capacity); slots != 0) {
      std::memset(index().bytes, 0, slots * slot_width(block_->capacity));
    }
  }

  template <KeyProbe<Key, Hash> Probe>
  [[nodiscard]] bool contains(const Probe& key) const noexcept {
    return locate(key).position != kAbsent;
  }
  template <KeyProbe<Key, Hash> Probe>
  [[nodiscard]] std::size_t count(const Probe& key) const noexcept {
    return contains(key) ? 1 : 0;
  }

  // Removes the entry of `key`, if any; the last entry takes its place.
  template <KeyProbe<Key, Hash> Probe>
  std::size_t erase(const Probe& key) noexcept {
    const auto where = locate(key);
    if (where.position == kAbsent) {
      return 0;
    }
    erase_at(where.position);
    return 1;
  }

  // Makes room for `count` entries in all, so that inserting up to that
  // many allocates nothing more (the primitive for an all-or-nothing batch).
  void reserve(std::size_t count) {
    if (count > capacity()) {
      reallocate(checked_capacity(count));
    }
  }

 protected:
  static constexpr std::uint32_t kAbsent = std::numeric_limits<std::uint32_t>::max();

  // Where a key is, or where it would go: the hash is kept so that an
  // insertion after a failed lookup does not hash the key again.
  struct Location {
    std::uint32_t position = kAbsent;
    bool hashed = false;
    std::size_t hash = 0;
  };

  [[nodiscard]] Entry* entries() const noexcept {
    return block_ ? std::launder(reinterpret_cast<Entry*>(raw() + kEntriesOffset)) : nullptr;
  }

  static const Key& plain(const Key& key) noexcept { return key; }
  static const Key& plain(const HashedKey<Key, Hash>& key) noexcept { return key.key(); }
  static std::size_t hash_of(const Key& key) noexcept { return Hash{}(key); }
  static std::size_t hash_of(const HashedKey<Key, Hash>& key) noexcept { return key.hash(); }

  template <KeyProbe<Key, Hash> Probe>
  [[nodiscard]] Location locate(const Probe& probe) const noexcept {
    const Key& key = plain(probe);
    if (block_ == nullptr || block_->size == 0) {
      return {};
    }
    const Entry* const first = entries();
    if (slot_count(block_->capacity) == 0) {
      for (std::uint32_t position = 0; position < block_->size; ++position) {
        if (Equal{}(KeyOf{}(first[position]), key)) {
          return {position};
        }
      }
      return {};
    }
    const std::size_t hash = hash_of(probe);
    const Slots slots = index();
    const std::size_t mask = slot_count(block_->capacity) - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const std::uint32_t held = slots.get(slot);
      if (held == 0) {
        return {kAbsent, true, hash};
      }
      if (Equal{}(KeyOf{}(first[held - 1]), key)) {
        return {held - 1, true, hash};
      }
    }
  }

  // Appends a new entry built from `arguments`, whose key `where` located
  // as absent. If building the entry throws, the contents are unchanged.
  template <class... Arguments>
  Entry& append(Location where, Arguments&&... arguments) {
    const std::uint32_t position = static_cast<std::uint32_t>(size());
    if (position == capacity()) {
      reallocate(grown_capacity(position));
    }
    Entry* const entry = entries() + position;
    std::construct_at(entry, std::forward<Arguments>(arguments)...);
    block_->size = position + 1;
    if (slot_count(block_->capacity) != 0) {
      if (!where.hashed) {
        where.hash = Hash{}(KeyOf{}(*entry));
      }
      place(where.hash, position);
    }
    return *entry;
  }

  // Removes the entry at `position`; the last entry takes its place.
  void erase_at(std::uint32_t position) noexcept {
    Entry* const first = entries();
    const std::uint32_t last = block_->size - 1;
    if (slot_count(block_->capacity) != 0) {
      vacate(slot_holding(position));
      if (position != last) {
        index().set(slot_holding(last), position + 1);
      }
    }
    if (position != last) {
      std::destroy_at(first + position);
      std::construct_at(first + position, std::move(first[last]));
    }
    std::destroy_at(first + last);
    block_->size = last;
  }

 private:
  struct Header {
    std::uint32_t size;
    std::uint32_t capacity;
  };

  static constexpr std::size_t round_up(std::size_t value, std::size_t alignment) noexcept {
    return (value + alignment - 1) / alignment * alignment;
  }

  static constexpr std::size_t kEntriesOffset = round_up(sizeof(Header), alignof(Entry));

  static constexpr std::size_t index_offset(std::uint32_t capacity) noexcept {
    return round_up(kEntriesOffset + std::size_t{capacity} * sizeof(Entry), alignof(std::uint32_t));
  }

  // Twice the capacity, rounded up to a power of two: the index is at most
  // half full, so a probe rarely looks past its first slot.
  static constexpr std::size_t slot_count(std::uint32_t capacity) noexcept {
    return capacity > kLinearCapacity ? std::bit_ceil(std::size_t{capacity}) * 2 : 0;
  }

  static constexpr std::size_t block_bytes(std::uint32_t capacity) noexcept {
    return index_offset(capacity) + slot_count(capacity) * slot_width(capacity);
  }

  // Small tables grow by doubling, larger ones by half, and tables of small
  // entries (edge groups) by a quarter: the slack is most of what a group
  // costs beyond its entries, while its few ids rehash cheaply.
  static std::uint32_t grown_capacity(std::uint32_t capacity) {
    const std::size_t step = sizeof(Entry) <= 20 ? capacity / 4 : capacity / 2;
    const std::size_t grown = capacity < 8 ? std::max<std::size_t>(1, 2 * std::size_t{capacity})
                                           : std::size_t{capacity} + step;
    return checked_capacity(grown);
  }

  // Positions are 32-bit and 0 marks a free slot, so a table holds fewer
  // than 2^32 - 1 entries; beyond that it is out of memory like any other.
  static std::uint32_t checked_capacity(std::size_t capacity) {
    if (capacity >= kAbsent) {
      throw std::bad_alloc();
    }
    return static_cast<std::uint32_t>(capacity);
  }

  [[nodiscard]] std::byte* raw() const noexcept { return reinterpret_cast<std::byte*>(block_); }

  // The index's slots hold a position plus one (0 marks a free slot) in as
  // few bytes as the capacity allows: an edge group of a hundred targets
  // spends one byte per slot.
  static constexpr std::size_t slot_width(std::uint32_t capacity) noexcept {
    return capacity < 0xff ? 1 : capacity < 0xffff ? 2 : 4;
  }

  struct Slots {
    std::byte* bytes;
    std::size_t width;

    [[nodiscard]] std::uint32_t get(std::size_t slot) const noexcept {
      switch (width) {
        case 1:
          return std::to_integer<std::uint32_t>(bytes[slot]);
        case 2: {
          std::uint16_t value;
          std::memcpy(&value, bytes + 2 * slot, sizeof value);
          return value;
        }
        default: {
          std::uint32_t value;
          std::memcpy(&value, bytes + 4 * slot, sizeof value);
          return value;
        }
      }
    }

    void set(std::size_t slot, std::uint32_t value) const noexcept {
      switch (width) {
        case 1:
          bytes[slot] = static_cast<std::byte>(value);
          break;
        case 2: {
          const auto narrow = static_cast<std::uint16_t>(value);
          std::memcpy(bytes + 2 * slot, &narrow, sizeof narrow);
          break;
        }
        default:
          std::memcpy(bytes + 4 * slot, &value, sizeof value);
          break;
      }
    }
  };

  [[nodiscard]] Slots index() const noexcept {
    return {raw() + index_offset(block_->capacity), slot_width(block_->capacity)};
  }

  static Header* allocate(std::uint32_t capacity) {
    auto* block = static_cast<Header*>(::operator new(block_bytes(capacity)));
    block->size = 0;
    block->capacity = capacity;
    if (const std::size_t slots = slot_count(capacity); slots != 0) {
      std::memset(reinterpret_cast<std::byte*>(block) + index_offset(capacity), 0,
                  slots * slot_width(capacity));
    }
    return block;
  }

  void release() noexcept {
    if (block_ != nullptr) {
      std::destroy_n(entries(), block_->size);
      ::operator delete(block_);
      block_ = nullptr;
    }
  }

  // Moves the entries into a block of `capacity` (at least the size) and
  // indexes them there. Only the allocation can throw, before anything moved.
  void reallocate(std::uint32_t capacity) {
    Header* const fresh = allocate(capacity);
    if (block_ != nullptr) {
      Entry* const from = entries();
      auto* const to =
          reinterpret_cast<Entry*>(reinterpret_cast<std::byte*>(fresh) + kEntriesOffset);
      for (std::uint32_t position = 0; position < block_->size; ++position) {
        std::construct_at(to + position, std::move(from[position]));
        std::destroy_at(from + position);
      }
      fresh->size = block_->size;
      ::operator delete(block_);
    }
    block_ = fresh;
    index_all();
  }

  void index_all() noexcept {
    if (slot_count(block_->capacity) == 0) {
      return;
    }
    const Entry* const first = entries();
    for (std::uint32_t position = 0; position < block_->size; ++position) {
      place(Hash{}(KeyOf{}(first[position])), position);
    }
  }

  void copy_from(const OrderedTable& other) {
    if (other.empty()) {
      return;
    }
    // The copy holds just the entries: no room kept for growth.
    Header* const fresh = allocate(other.block_->size);
    auto* const to = reinterpret_cast<Entry*>(reinterpret_cast<std::byte*>(fresh) + kEntriesOffset);
    const Entry* const from = other.entries();
    try {
      for (; fresh->size < other.block_->size; ++fresh->size) {
        std::construct_at(to + fresh->size, from[fresh->size]);
      }
    } catch (...) {
      std::destroy_n(to, fresh->size);
      ::operator delete(fresh);
      throw;
    }
    block_ = fresh;
    index_all();
  }

  void place(std::size_t hash, std::uint32_t position) noexcept {
    const Slots slots = index();
    const std::size_t mask = slot_count(block_->capacity) - 1;
    std::size_t slot = hash & mask;
    while (slots.get(slot) != 0) {
      slot = (slot + 1) & mask;
    }
    slots.set(slot, position + 1);
  }

  [[nodiscard]] std::size_t slot_holding(std::uint32_t position) const noexcept {
    const Slots slots = index();
    const std::size_t mask = slot_count(block_->capacity) - 1;
    std::size_t slot = Hash{}(KeyOf{}(entries()[position])) & mask;
    while (slots.get(slot) != position + 1) {
      slot = (slot + 1) & mask;
    }
    return slot;
  }

  // Frees `slot` and moves later slots of its run back over the gap where
  // their own probe would otherwise stop short of them.
  void vacate(std::size_t slot) noexcept {
    const Slots slots = index();
    const Entry* const first = entries();
    const std::size_t mask = slot_count(block_->capacity) - 1;
    std::size_t gap = slot;
    for (std::size_t next = (gap + 1) & mask; slots.get(next) != 0; next = (next + 1) & mask) {
      const std::size_t home = Hash{}(KeyOf{}(first[slots.get(next) - 1])) & mask;
      if (((next - home) & mask) >= ((next - gap) & mask)) {
        slots.set(gap, slots.get(next));
        gap = next;
      }
    }
    slots.set(gap, 0);
  }

  Header* block_ = nullptr;
};

}  // namespace detail
}  // namespace quorl
