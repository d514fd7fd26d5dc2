// Node ids across the Python boundary: they come in as 16-byte `bytes` and
// go out as 36-character lower-case text in the 8-4-4-4-12 pattern.
#pragma once

#include <Python.h>

#include <array>
#include <cstring>
#include <optional>

#include "ascii_text.hpp"
#include "diff/node_id.hpp"
#include "py_ref.hpp"

namespace quorl::python {

// Reads the argument `parameter` as a node id: a `bytes` (or subclass) of
// exactly 16 bytes. Every refusal raises the same TypeError
// "argument '<parameter>': failed to extract field PyUuid.0"; its __cause__
// says why (a TypeError for a value that is no `bytes`, an Exception
// "Expected 16 bytes." for a wrong length). Runs no Python code.
[[nodiscard]] std::optional<NodeId> read_node_id(PyObject* value, const char* parameter);

// The same before the argument rule: the refusal is the TypeError
// "failed to extract field PyUuid.0" with its reason as __cause__, for a
// caller that words it itself (an item of a column of ids).
[[nodiscard]] std::optional<NodeId> convert_node_id(PyObject* value);

namespace detail {

// Two hex digits per byte value, so a byte costs one table read.
inline constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  constexpr char kDigits[] = "0123456789abcdef";
  std::array<std::array<char, 2>, 256> pairs{};
  for (std::size_t value = 0; value < pairs.size(); ++value) {
    pairs[value] = {kDigits[value >> 4], kDigits[value & 0xF]};
  }
  return pairs;
}();

inline void format_id_text(const NodeId& id, char* text) noexcept {
  std::size_t position = 0;
  for (std::size_t index = 0; index < id.size(); ++index) {
    if (index == 4 || index == 6 || index == 8 || index == 10) {
      text[position++] = '-';
    }
    std::memcpy(text + position, kHexPairs[id[index]].data(), 2);
    position += 2;
  }
}

}  // namespace detail

// The id text as a new `str`, the same text as str(uuid.UUID(bytes=...)).
// Empty, with an exception set, when the string cannot be allocated.
[[nodiscard]] inline PyRef write_id_text(const NodeId& id) {
  constexpr std::size_t kTextLength = 36;
  return new_ascii_text(kTextLength,
                        [&](char* characters) { detail::format_id_text(id, characters); });
}

}  // namespace quorl::python
