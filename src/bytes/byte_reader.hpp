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
    if (remaining_ < 8) {
      return std::unexpected(DecodeFailure::premature_end);
    }
    std::uint64_t value = 0;
    for (int index = 7; index >= 0; --index) {
      value = (value << 8) | cursor_[index];
    }
    advance(8);
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
    NodeId id;
    if (*length != id.size()) {
      return std::unexpected(DecodeFailure::wrong_id_length);
    }
    std::memcpy(id.data(), cursor_, id.size());
    advance(id.size());
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
    if (remaining_ < 4) {
      return std::unexpected(DecodeFailure::premature_end);
    }
    std::uint32_t bits = 0;
    for (int index = 3; index >= 0; --index) {
      bits = (bits << 8) | cursor_[index];
    }
    advance(4);
    return std::bit_cast<float>(bits);
  }

 private:
  void advance(std::size_t length) noexcept {
    cursor_ += length;
    remaining_ -= length;
  }

  const std::uint8_t* begin_;
  const std::uint8_t* cursor_;
  std::size_t remaining_;
};

}  // namespace quorl::detail
