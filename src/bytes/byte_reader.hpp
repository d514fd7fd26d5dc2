// The only way the decoder reads its input: a cursor and the number of bytes
// remaining. Every read first compares the length it needs with what
// remains (never forming a pointer from an untrusted length), then copies.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <limits>
#include <span>
#include <string_view>

#include "bytes/graph_diff_bytes.hpp"
#include "bytes/utf8.hpp"
#include "diff/little_endian.hpp"
#include "diff/node_id.hpp"

namespace quorl::detail {

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> input) noexcept
      : begin_(input.data()), cursor_(input.data()), remaining_(input.size()) {}

  [[nodiscard]] std::size_t offset() const noexcept {
    return static_cast<std::size_t>(cursor_ - begin_);
  }

  // A count of entries or a length in bytes.
  [[nodiscard]] std::expected<std::size_t, DecodeFailure> read_count() noexcept {
    if (remaining_ < kCountBytes) {
      return std::unexpected(DecodeFailure::premature_end);
    }
    const std::uint64_t value = load_count(cursor_);
    advance(kCountBytes);
    if constexpr (std::numeric_limits<std::size_t>::max() <
                  std::numeric_limits<std::uint64_t>::max()) {
      if (value > std::numeric_limits<std::size_t>::max()) {
        return std::unexpected(DecodeFailure::size_not_representable);
      }
    }
    return static_cast<std::size_t>(value);
  }

  [[nodiscard]] std::expected<NodeId, DecodeFailure> read_id() noexcept {
    const auto length = read_count();
    if (!length) {
      return std::unexpected(length.error());
    }
    if (*length > remaining_) {
      return std::unexpected(DecodeFailure::premature_end);
    }
    if (*length != kIdLength) {
      return std::unexpected(DecodeFailure::wrong_id_length);
    }
    NodeId id;
    std::memcpy(id.data(), cursor_, kIdLength);
    advance(kIdLength);
    return id;
  }

  // A view into the input; valid as long as the input is.
  [[nodiscard]] std::expected<std::string_view, DecodeFailure> read_text() noexcept {
    const auto length = read_count();
    if (!length) {
      return std::unexpected(length.error());
    }
    if (*length > remaining_) {
      return std::unexpected(DecodeFailure::premature_end);
    }
    const std::string_view text(reinterpret_cast<const char*>(cursor_), *length);
    if (!is_valid_utf8(text)) {
      return std::unexpected(DecodeFailure::invalid_utf8);
    }
    advance(*length);
    return text;
  }

  // Every bit pattern is a weight, NaN payloads and -0.0 included.
  [[nodiscard]] std::expected<float, DecodeFailure> read_weight() noexcept {
    if (remaining_ < kWeightBytes) {
      return std::unexpected(DecodeFailure::premature_end);
    }
    const float weight = load_weight(cursor_);
    advance(kWeightBytes);
    return weight;
  }

  // The fast path for the entries that make up the bulk of an input: an id
  // alone, or an id and a weight, under one bounds check and straight into
  // the caller's variables. Reads nothing and returns false unless the whole
  // entry is present and the id's length is 16; the field-by-field reads
  // above then tell what is wrong and where.
  [[nodiscard]] bool read_whole_id(NodeId& id) noexcept {
    if (kIdFieldBytes > remaining_ || load_count(cursor_) != kIdLength) {
      return false;
    }
    std::memcpy(id.data(), cursor_ + kCountBytes, kIdLength);
    advance(kIdFieldBytes);
    return true;
  }

  [[nodiscard]] bool read_whole_id_and_weight(NodeId& id, float& weight) noexcept {
    if (kIdFieldBytes + kWeightBytes > remaining_ || load_count(cursor_) != kIdLength) {
      return false;
    }
    std::memcpy(id.data(), cursor_ + kCountBytes, kIdLength);
    weight = load_weight(cursor_ + kIdFieldBytes);
    advance(kIdFieldBytes + kWeightBytes);
    return true;
  }

 private:
  static std::uint64_t load_count(const std::uint8_t* bytes) noexcept {
    return load_little_endian<std::uint64_t>(bytes);
  }

  static float load_weight(const std::uint8_t* bytes) noexcept {
    return std::bit_cast<float>(load_little_endian<std::uint32_t>(bytes));
  }

  void advance(std::size_t length) noexcept {
    cursor_ += length;
    remaining_ -= length;
  }

  const std::uint8_t* begin_;
  const std::uint8_t* cursor_;
  std::size_t remaining_;
};

}  // namespace quorl::detail
