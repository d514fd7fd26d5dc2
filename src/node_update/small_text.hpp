// SmallText: an immutable UTF-8 text that keeps up to 15 bytes in place and
// a longer one in a single heap block of exactly its size. A node record
// holds two of them; most labels and urls are short, so most records need
// no heap block at all.
#pragma once

#include <array>
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
    SmallText(std::move(other)).swap(*this);
    return *this;
  }
  ~SmallText() { delete[] heap_data(); }

  void swap(SmallText& other) noexcept { std::swap(raw_, other.raw_); }

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
