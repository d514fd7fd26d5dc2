// NodeUpdate: the partial set of display attributes that a diff records for
// one new or updated node. Every field is optional on its own; "absent" means
// the update says nothing about that attribute.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorl {

struct NodeUpdate {
  // Declared order matters: the JSON text writes its keys in this order and
  // reads the array form in this order.
  std::optional<std::string> label;
  std::optional<float> size;
  std::optional<std::string> url;
  std::optional<std::uint8_t> red;
  std::optional<std::uint8_t> green;
  std::optional<std::uint8_t> blue;
  std::optional<bool> show_label;

  // Merges `incoming` into this record field by field: a field present in
  // `incoming` replaces ours (texts are moved, sizes copied bit for bit), an
  // absent one leaves ours alone. A merge never makes a field absent again.
  NodeUpdate& operator+=(NodeUpdate incoming) noexcept;

  [[nodiscard]] bool empty() const noexcept;
};

// Field-by-field equality that compares `size` by its bits, so that a NaN
// equals the same NaN and 0.0 differs from -0.0.
[[nodiscard]] bool same_fields(const NodeUpdate& a, const NodeUpdate& b) noexcept;

}  // namespace quorl
