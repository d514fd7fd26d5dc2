// The only way the encoder writes: a cursor over a buffer sized in advance
// to the exact length of the byte form. A write that would not fit is
// refused and remembered, so a miscount shows as an error instead of a
// write past the end.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "bytes/graph_diff_bytes.hpp"
#include "diff/little_endian.hpp"
#include "diff/node_id.hpp"

namespace quorl::detail {

class Writer {
 public:
  explicit Writer(std::span<std::uint8_t> buffer) noexcept
      : cursor_(buffer.data()), remaining_(buffer.size()) {}

  void write_count(std::uint64_t count) noexcept {
    std::uint8_t bytes[kCountBytes];
    store_little_endian(count, bytes);
    put(bytes, sizeof bytes);
  }

  // An id field: the length, then the id.
  void write_id(const NodeId& id) noexcept {
    write_count(kIdLength);
    write_id_bytes(id);
  }

  // The id's bytes alone, as a column of ids holds them.
  void write_id_bytes(const NodeId& id) noexcept { put(id.data(), kIdLength); }

  // The bytes of every id of `ids`, one after another, under one check for
  // the whole container (which yields exactly size() ids), so that the
  // loop is a plain copy.
  template <class Ids>
  void write_id_bytes_of(const Ids& ids) noexcept {
    const std::size_t count = ids.size();
    if (count > remaining_ / kIdLength) {
      overflowed_ = true;
      return;
    }
    std::uint8_t* cursor = cursor_;
    for (const NodeId& id : ids) {
      std::memcpy(cursor, id.data(), kIdLength);
      cursor += kIdLength;
    }
    cursor_ = cursor;
    remaining_ -= count * kIdLength;
  }

  void write_text(std::string_view text) noexcept {
    write_count(text.size());
    put(text.data(), text.size());
  }

  void write_weight(float weight) noexcept {
    std::uint8_t bytes[kWeightBytes];
    store_little_endian(std::bit_cast<std::uint32_t>(weight), bytes);
    put(bytes, sizeof bytes);
  }

  // True when every write fitted and the buffer is exactly full.
  [[nodiscard]] bool filled_exactly() const noexcept { return !overflowed_ && remaining_ == 0; }

 private:
  void put(const void* bytes, std::size_t length) noexcept {
    if (length > remaining_) {
      overflowed_ = true;
      return;
    }
    if (length != 0) {
      std::memcpy(cursor_, bytes, length);
    }
    cursor_ += length;
    remaining_ -= length;
  }

  std::uint8_t* cursor_;
  std::size_t remaining_;
  bool overflowed_ = false;
};

}  // namespace quorl::detail
