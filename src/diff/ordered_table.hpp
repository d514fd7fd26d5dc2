// OrderedTable: the storage under IdMap and IdSet (id_containers.hpp).
//
// Entries live densely in one array, in an order fixed by the history of
// operations alone: an insertion appends, updating an existing key keeps its
// place, and a removal moves the last entry into the hole. Iteration walks
// the array and never looks at the hash, so the hash can be keyed per
// process while every process lists the same history alike.
//
// A table is one pointer: null until it first holds an entry, else a block
// [header | entries | tags or index]. Three forms, by capacity:
// - up to kScanCapacity entries, no more: a lookup compares keys in order.
//   Most edge groups are that small, and comparing a dozen ids costs less
//   than hashing one.
// - up to kLinearCapacity, a tag byte per entry, taken from the key's hash:
//   a lookup compares sixteen tags at a time and reads an entry only where
//   its tag matches, one in 256 of the others. A byte per entry keeps a
//   group of a hundred targets nearly as small as a bare array, while a
//   lookup no longer walks every id of it. A whole byte rather than half:
//   each false match costs a mispredicted branch and a read of another
//   entry, and half a byte would let one in sixteen through.
// - beyond, an index of positions (open addressing, linear probing, at
//   most half full, removal by backward shift, so no tombstones).
// Tags and positions are rebuilt from the keys when the block changes form.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  // The largest capacity found without an index of positions (by keys
  // alone, or by tags). A tag costs one byte per entry where an index of
  // one-byte positions, at most half full, costs two, and a tag is written
  // where its entry is, while an index is written at scattered slots as a
  // decoded group fills: groups of a hundred targets stay tagged.
  static constexpr std::uint32_t kLinearCapacity = 128;
  // The largest capacity searched by comparing keys alone, without tags:
  // hashing one id and comparing its tag costs about as much as scanning 8
  // to 16 ids for an absent one (what an insertion does), and a scan grows
  // with the group where a hash does not (bench_core's edge_group_lookup
  // compares the two).
  static constexpr std::uint32_t kScanCapacity = 16;

  OrderedTable() noexcept = default;
  // Delegating, so that a copy that throws midway is destroyed like any
  // table (see copy_from).
  OrderedTable(const OrderedTable& other) : OrderedTable() { copy_from(other); }
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
  // Out of line: a diff clears four tables of different entries at once,
  // and each loop of destructors is compiled best in a function of its own.
  [[gnu::noinline]] void clear() noexcept {
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
    erase_at(where.position, where.slot);
    return 1;
  }

  // Bytes of the one heap block the table holds (not what its entries
  // hold outside themselves).
  [[nodiscard]] std::size_t heap_bytes() const noexcept {
    return block_ ? block_bytes(block_->capacity) : 0;
  }

  // Removes the entries from position `size` on, newest first: undoes the
  // insertions that appended them (UndoJournal).
  void truncate(std::size_t size) noexcept {
    for (std::size_t held = this->size(); held > size; --held) {
      erase_at(static_cast<std::uint32_t>(held - 1));
    }
  }

  // Puts `entry` back at `position`, from where a removal took it, and the
  // entry that took its place back at the end: undoes that removal
  // (UndoJournal) once every later change is undone. The removal left the
  // room, so nothing allocates.
  void restore(std::size_t position, Entry&& entry) noexcept {
    assert(block_ != nullptr && block_->size < block_->capacity && position <= block_->size);
    Entry* const first = entries();
    const auto at = static_cast<std::uint32_t>(position);
    const std::uint32_t end = block_->size;
    const bool indexed = slot_count(block_->capacity) != 0;
    if (at != end) {
      if (indexed) {
        const Slots slots = index();
        const std::size_t moved = slot_holding(at);
        slots.set(moved, (slots.get(moved) & ~slots.position_mask) | (end + 1));
      } else if (tagged(block_->capacity)) {
        set_tag(end, tag_at(at));
      }
      std::construct_at(first + end, std::move(first[at]));
      std::destroy_at(first + at);
    }
    std::construct_at(first + at, std::move(entry));
    block_->size = end + 1;
    if (indexed || tagged(block_->capacity)) {
      const std::size_t hash = Hash{}(KeyOf{}(first[at]));
      if (indexed) {
        place(hash, at);
      } else {
        set_tag(at, tag_of(hash));
      }
    }
  }

  // Makes room for `count` entries in all, so that inserting up to that
  // many allocates nothing more (the primitive for an all-or-nothing batch).
  void reserve(std::size_t count) {
    if (count > capacity()) {
      reallocate(checked_capacity(count));
    }
  }

  // Gives back the room beyond what insertions alone would have left, after
  // a reservation that fewer new entries filled than it allowed for. Only
  // the allocation can throw, before anything moved.
  void release_unused() {
    if (block_ != nullptr && block_->size != 0 && block_->capacity > grown_capacity(block_->size)) {
      reallocate(block_->size);
    }
  }

  // Makes room for `extra` more entries, growing as insertions would: a
  // table that many small batches extend still grows geometrically.
  void reserve_more(std::size_t extra) {
    const std::size_t wanted = size() + extra;
    if (wanted > capacity()) {
      reallocate(checked_capacity(
          std::max<std::size_t>(wanted, grown_capacity(block_ ? block_->capacity : 0))));
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
    // The index slot holding a found entry, so that removing it need not
    // hash the key again.
    std::size_t slot = kNoSlot;
  };
  static constexpr std::size_t kNoSlot = std::numeric_limits<std::size_t>::max();

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
      if (!tagged(block_->capacity)) {
        return {scan(first, block_->size, key)};
      }
      const std::size_t hash = hash_of(probe);
      return {scan_tags(first, key, tag_of(hash)), true, hash};
    }
    const std::size_t hash = hash_of(probe);
    const Slots slots = index();
    const std::size_t mask = slot_count(block_->capacity) - 1;
    const std::uint32_t tag = slots.tag_of(hash);
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const std::uint32_t held = slots.get(slot);
      if (held == 0) {
        return {kAbsent, true, hash};
      }
      if ((held & ~slots.position_mask) == tag &&
          Equal{}(KeyOf{}(first[(held & slots.position_mask) - 1]), key)) {
        return {(held & slots.position_mask) - 1, true, hash, slot};
      }
    }
  }

  // The position of `key` among the first `size` entries, by comparison in
  // order. Where the equality offers a leading word that tells most keys
  // apart, four entries are passed per step on that word alone.
  static std::uint32_t scan(const Entry* first, std::uint32_t size, const Key& key) noexcept {
    std::uint32_t position = 0;
    if constexpr (requires { Equal::lead(key); }) {
      const auto lead = Equal::lead(key);
      const auto differs = [&](std::uint32_t at) {
        return Equal::lead(KeyOf{}(first[at])) != lead;
      };
      // Bitwise rather than short-circuit, so that the four comparisons
      // need one branch.
      while (position + 4 <= size && (static_cast<unsigned>(differs(position)) &
                                      static_cast<unsigned>(differs(position + 1)) &
                                      static_cast<unsigned>(differs(position + 2)) &
                                      static_cast<unsigned>(differs(position + 3))) != 0) {
        position += 4;
      }
    }
    for (; position < size; ++position) {
      if (Equal{}(KeyOf{}(first[position]), key)) {
        return position;
      }
    }
    return kAbsent;
  }

  // The position of `key` among the first `size` entries of a tagged block,
  // comparing keys only where the tag matches.
  std::uint32_t scan_tags(const Entry* first, const Key& key, std::uint8_t tag) const noexcept {
    const std::uint8_t* const tag_bytes = tags();
    const std::uint32_t size = block_->size;
    const std::uint32_t capacity = block_->capacity;
    for (std::uint32_t base = 0; base < size; base += kTagGroup) {
      // The last group is read as the sixteen tags that end the array (a
      // tagged block holds more than sixteen), so no read passes the block.
      std::uint32_t matches = 0;
      if (base + kTagGroup <= capacity) {
        matches = matching_tags(tag_bytes + base, tag);
      } else {
        const std::uint32_t start = capacity - kTagGroup;
        matches = matching_tags(tag_bytes + start, tag) >> (base - start);
      }
      if (size - base < kTagGroup) {
        matches &= (1U << (size - base)) - 1;
      }
      for (; matches != 0; matches &= matches - 1) {
        const std::uint32_t position = base + static_cast<std::uint32_t>(std::countr_zero(matches));
        if (Equal{}(KeyOf{}(first[position]), key)) {
          return position;
        }
      }
    }
    return kAbsent;
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
    const bool indexed = slot_count(block_->capacity) != 0;
    if (indexed || tagged(block_->capacity)) {
      if (!where.hashed) {
        where.hash = Hash{}(KeyOf{}(*entry));
      }
      if (indexed) {
        place(where.hash, position);
      } else {
        set_tag(position, tag_of(where.hash));
      }
    }
    return *entry;
  }

  // Removes the entry at `position`, held by index slot `slot` if known;
  // the last entry takes its place.
  void erase_at(std::uint32_t position, std::size_t slot = kNoSlot) noexcept {
    Entry* const first = entries();
    const std::uint32_t last = block_->size - 1;
    if (slot_count(block_->capacity) != 0) {
      vacate(slot != kNoSlot ? slot : slot_holding(position));
      if (position != last) {
        const Slots slots = index();
        const std::size_t moved = slot_holding(last);
        slots.set(moved, (slots.get(moved) & ~slots.position_mask) | (position + 1));
      }
    } else if (tagged(block_->capacity)) {
      set_tag(position, tag_at(last));
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

  static constexpr bool tagged(std::uint32_t capacity) noexcept {
    return capacity > kScanCapacity && capacity <= kLinearCapacity;
  }

  // Tags are compared sixteen at a time; those past the size are read, and
  // masked off.
  static constexpr std::uint32_t kTagGroup = 16;
  static_assert(kScanCapacity >= kTagGroup, "a tagged block holds a whole group of tags");

  static constexpr std::size_t tag_bytes(std::uint32_t capacity) noexcept {
    return tagged(capacity) ? capacity : 0;
  }

  static constexpr std::size_t block_bytes(std::uint32_t capacity) noexcept {
    return index_offset(capacity) + slot_count(capacity) * slot_width(capacity) +
           tag_bytes(capacity);
  }

  // The top byte of the hash: the index's slots take the low bits.
  static std::uint8_t tag_of(std::size_t hash) noexcept {
    return static_cast<std::uint8_t>(hash >> (8 * sizeof hash - 8));
  }

  [[nodiscard]] std::uint8_t* tags() const noexcept {
    return reinterpret_cast<std::uint8_t*>(raw() + index_offset(block_->capacity));
  }

  [[nodiscard]] std::uint8_t tag_at(std::uint32_t position) const noexcept {
    return tags()[position];
  }

  void set_tag(std::uint32_t position, std::uint8_t tag) const noexcept { tags()[position] = tag; }

  // Bit i is set where group[i] equals `tag`.
  static std::uint32_t matching_tags(const std::uint8_t* group, std::uint8_t tag) noexcept {
#if defined(__SSE2__)
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group));
    return static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(tag)))));
#else
    std::uint32_t matches = 0;
    for (std::uint32_t at = 0; at < kTagGroup; ++at) {
      matches |= static_cast<std::uint32_t>(group[at] == tag) << at;
    }
    return matches;
#endif
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

  // Positions below 2^24 leave the top byte of a 4-byte slot free: it
  // holds the top byte of the entry's hash, so that a probe of a large
  // table, whose entries are far apart in memory, reads an entry only when
  // its tag matches rather than at every occupied slot it passes.
  static constexpr std::uint32_t kTaggedLimit = (1U << 24) - 1;

  struct Slots {
    std::byte* bytes;
    std::size_t width;
    std::uint32_t position_mask;

    [[nodiscard]] std::uint32_t tag_of(std::size_t hash) const noexcept {
      return position_mask == kAbsent
                 ? 0
                 : static_cast<std::uint32_t>(hash >> (8 * sizeof hash - 8)) << 24;
    }

    [[nodiscard]] std::uint32_t get(std::size_t slot) const noexcept {
      switch (width) {
        case 1:
          return std::to_integer<std::uint32_t>(bytes[slot]);
        case 2: {
          std::uint16_t value = 0;
          std::memcpy(&value, bytes + 2 * slot, sizeof value);
          return value;
        }
        default: {
          std::uint32_t value = 0;
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
    const std::uint32_t capacity = block_->capacity;
    const std::size_t width = slot_width(capacity);
    return {raw() + index_offset(capacity), width,
            width == 4 && capacity < kTaggedLimit ? kTaggedLimit : kAbsent};
  }

  static Header* allocate(std::uint32_t capacity) {
    auto* block = static_cast<Header*>(::operator new(block_bytes(capacity)));
    block->size = 0;
    block->capacity = capacity;
    // Tags past the size are read (and masked off) a group at a time, so
    // they too start defined.
    if (const std::size_t bytes = block_bytes(capacity) - index_offset(capacity); bytes != 0) {
      std::memset(reinterpret_cast<std::byte*>(block) + index_offset(capacity), 0, bytes);
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
      if (tagged(block_->capacity) && tagged(capacity)) {
        std::memcpy(reinterpret_cast<std::byte*>(fresh) + index_offset(capacity), tags(),
                    block_->size);
        ::operator delete(std::exchange(block_, fresh));
        return;
      }
      // Positions do not move, so an index of the same layout is copied
      // rather than rebuilt by hashing every key again: with growth by
      // half, every other growth keeps the slot count.
      const Slots old_slots = index();
      const std::size_t slots = slot_count(block_->capacity);
      Header* const old = std::exchange(block_, fresh);
      const Slots new_slots = index();
      const bool same_layout = slots != 0 && slots == slot_count(capacity) &&
                               old_slots.width == new_slots.width &&
                               old_slots.position_mask == new_slots.position_mask;
      if (same_layout) {
        std::memcpy(new_slots.bytes, old_slots.bytes, slots * new_slots.width);
      }
      ::operator delete(old);
      if (same_layout) {
        return;
      }
    }
    block_ = fresh;
    index_all();
  }

  void index_all() noexcept {
    const Entry* const first = entries();
    if (tagged(block_->capacity)) {
      for (std::uint32_t position = 0; position < block_->size; ++position) {
        set_tag(position, tag_of(Hash{}(KeyOf{}(first[position]))));
      }
      return;
    }
    if (slot_count(block_->capacity) == 0) {
      return;
    }
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
    // The block is the table's from the start, so that a copy that throws
    // midway is destroyed with the entries it holds.
    block_ = fresh;
    for (; fresh->size < other.block_->size; ++fresh->size) {
      std::construct_at(to + fresh->size, from[fresh->size]);
    }
    index_all();
  }

  void place(std::size_t hash, std::uint32_t position) noexcept {
    const Slots slots = index();
    const std::size_t mask = slot_count(block_->capacity) - 1;
    std::size_t slot = hash & mask;
    while (slots.get(slot) != 0) {
      slot = (slot + 1) & mask;
    }
    slots.set(slot, slots.tag_of(hash) | (position + 1));
  }

  [[nodiscard]] std::size_t slot_holding(std::uint32_t position) const noexcept {
    const Slots slots = index();
    const std::size_t mask = slot_count(block_->capacity) - 1;
    std::size_t slot = Hash{}(KeyOf{}(entries()[position])) & mask;
    while ((slots.get(slot) & slots.position_mask) != position + 1) {
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
      const std::size_t home =
          Hash{}(KeyOf{}(first[(slots.get(next) & slots.position_mask) - 1])) & mask;
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
