// SmallText: an immutable UTF-8 text that keeps up to 15 bytes in place and
// a longer one in a single heap block of exactly its size. A node record
// holds two of them; most labels and urls are short, so most records need
// no heap block at all.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace quorl {

class SmallText {
 public:
  static constexpr std::size_t kInlineCapacity = 15;

  SmallText() noexcept = default;

  // Copies `text`; throws std::bad_alloc when a heap block cannot be had.
  explicit SmallText(std::string_view text) {
    if (text.size() <= kInlineCapacity) {
      std::memcpy(raw_.data(), text.data(), text.size());
      raw_[kTag] = static_cast<char>(text.size());
      return;
    }
    char* block = new char[text.size()];
    std::memcpy(block, text.data(), text.size());
    set_heap(block, text.size());
  }

  SmallText(const SmallText& other) : SmallText(other.view()) {}
  SmallText(SmallText&& other) noexcept : raw_(std::exchange(other.raw_, {})) {}
  SmallText& operator=(const SmallText& other) {
    if (this != &other) {
      *this = SmallText(other);
    }
    return *this;
  }
  SmallText& operator=(SmallText&& other) noexcept {
    if (this != &other) {
      delete[] heap_data();
      raw_ = std::exchange(other.raw_, {});
    }
    return *this;
  }
  // Inline wherever records are destroyed in bulk (a diff's clear): as a
  // call per text it costs more than the check it makes.
  [[gnu::always_inline]] ~SmallText() { delete[] heap_data(); }

  // The bytes as one block: std::swap of an array swaps it byte by byte.
  void swap(SmallText& other) noexcept {
    const auto held = raw_;
    raw_ = other.raw_;
    other.raw_ = held;
  }

  // Replaces the text with a copy of `text`, written where this one is kept
  // rather than built apart and moved in: a text just written byte by byte
  // and at once read back whole, as a move does, waits on the stores.
  // Throws std::bad_alloc, leaving the text as it was, when a heap block
  // cannot be had.
  void assign(std::string_view text) {
    if (text.size() > kInlineCapacity) {
      SmallText(text).swap(*this);
      return;
    }
    delete[] heap_data();
    raw_ = {};
    std::memcpy(raw_.data(), text.data(), text.size());
    raw_[kTag] = static_cast<char>(text.size());
  }

  // Replaces the text with a copy of the `size` bytes at `data`, where
  // `readable` bytes from `data` on may be read. With 16 of them a text
  // kept in place is copied as two whole words rather than byte by byte,
  // for a reader that takes texts out of a larger buffer. Throws
  // std::bad_alloc as the constructor does, leaving the text as it was.
  void assign(const char* data, std::size_t size, std::size_t readable) {
    if (size > kInlineCapacity || readable < sizeof raw_) {
      *this = SmallText(std::string_view(data, size));
      return;
    }
    static_assert(std::endian::native == std::endian::little,
                  "the first byte of a text is the low byte of its first word");
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::memcpy(&low, data, sizeof low);
    std::memcpy(&high, data + sizeof low, sizeof high);
    // Only the text's own bytes are kept; the rest of the in-place form is
    // zero, as the constructor leaves it, and the last byte is the count.
    const auto first_bytes = [](std::size_t count) {
      return count >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * count)) - 1;
    };
    low &= first_bytes(size);
    high &= size > 8 ? first_bytes(size - 8) : 0;
    high |= static_cast<std::uint64_t>(size) << (8 * (kTag - 8));
    delete[] heap_data();
    std::memcpy(raw_.data(), &low, sizeof low);
    std::memcpy(raw_.data() + sizeof low, &high, sizeof high);
  }

  [[nodiscard]] std::string_view view() const noexcept {
    if (!on_heap()) {
      return {raw_.data(), static_cast<std::size_t>(raw_[kTag])};
    }
    return {heap_data(), heap_size()};
  }

  // Bytes of the heap block, 0 for a text kept in place.
  [[nodiscard]] std::size_t heap_bytes() const noexcept { return on_heap() ? heap_size() : 0; }

  friend bool operator==(const SmallText& a, const SmallText& b) noexcept {
    return a.view() == b.view();
  }

 private:
  // In place: the bytes from raw_[0], their count in raw_[kTag]. On the
  // heap: the block's address in raw_[0..8), its size in raw_[8..15) (seven
  // bytes, low byte first), and kHeapTag in raw_[kTag].
  static constexpr std::size_t kTag = 15;
  static constexpr char kHeapTag = static_cast<char>(0xFF);

  [[nodiscard]] bool on_heap() const noexcept { return raw_[kTag] == kHeapTag; }

  [[nodiscard]] char* heap_data() const noexcept {
    if (!on_heap()) {
      return nullptr;
    }
    char* block = nullptr;
    std::memcpy(&block, raw_.data(), sizeof block);
    return block;
  }

  [[nodiscard]] std::size_t heap_size() const noexcept {
    std::size_t size = 0;
    for (std::size_t index = 0; index < 7; ++index) {
      size |= static_cast<std::size_t>(static_cast<unsigned char>(raw_[8 + index])) << (8 * index);
    }
    return size;
  }

  void set_heap(char* block, std::size_t size) noexcept {
    std::memcpy(raw_.data(), &block, sizeof block);
    for (std::size_t index = 0; index < 7; ++index) {
      raw_[8 + index] = static_cast<char>((size >> (8 * index)) & 0xFFU);
    }
    raw_[kTag] = kHeapTag;
  }

  alignas(8) std::array<char, 16> raw_{};
};

}  // namespace quorl
