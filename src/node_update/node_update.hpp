// NodeUpdate: the partial set of display attributes that a diff records for
// one new or updated node. Every field is optional on its own; "absent"
// means the update says nothing about that attribute.
//
// The seven fields are described once, in kFields; the merge, the equality,
// the JSON text's writer and reader and the Python conversions all walk that
// table, so a field's key, kind and place are written nowhere else.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "node_update/small_text.hpp"

namespace quorl {

// The fields in declared order, which is the order of the JSON text's keys
// and of its array form.
enum class Field : std::uint8_t { label, size, url, red, green, blue, show_label };

enum class FieldKind : std::uint8_t {
  text,    // UTF-8, any length, the empty text included
  size,    // a 32-bit float, kept bit for bit
  colour,  // 0..255
  flag,    // true or false
};

struct FieldDescription {
  Field field;
  std::string_view python_key;
  std::string_view json_key;
  FieldKind kind;
  // Where the dictionary form looks the field up and inserts it: the two
  // texts first, then the rest in declared order.
  std::size_t python_position;
};

inline constexpr std::array<FieldDescription, 7> kFields = {{
    {Field::label, "label", "label", FieldKind::text, 0},
    {Field::size, "size", "size", FieldKind::size, 2},
    {Field::url, "url", "url", FieldKind::text, 1},
    {Field::red, "red", "red", FieldKind::colour, 3},
    {Field::green, "green", "green", FieldKind::colour, 4},
    {Field::blue, "blue", "blue", FieldKind::colour, 5},
    {Field::show_label, "show_label", "showLabel", FieldKind::flag, 6},
}};

[[nodiscard]] constexpr std::size_t index_of(Field field) noexcept {
  return static_cast<std::size_t>(field);
}

[[nodiscard]] constexpr FieldKind kind_of(Field field) noexcept {
  return kFields[index_of(field)].kind;
}

// The fields in the dictionary form's order.
inline constexpr std::array<Field, kFields.size()> kPythonOrder = [] {
  std::array<Field, kFields.size()> order{};
  for (const FieldDescription& description : kFields) {
    order[description.python_position] = description.field;
  }
  return order;
}();

namespace detail {

// What a field of each kind holds, in the order of FieldKind.
using KindValues = std::tuple<std::string_view, float, std::uint8_t, bool>;

// Which of the record's texts (or colours) a field is: how many fields of
// its kind come before it.
constexpr std::size_t slot_of(Field field) noexcept {
  std::size_t slot = 0;
  for (std::size_t index = 0; index < index_of(field); ++index) {
    slot += kFields[index].kind == kind_of(field) ? 1 : 0;
  }
  return slot;
}

inline constexpr std::array<Field, kFields.size()> kDeclaredOrder = [] {
  std::array<Field, kFields.size()> order{};
  for (std::size_t index = 0; index < order.size(); ++index) {
    order[index] = kFields[index].field;
  }
  return order;
}();

template <const std::array<Field, kFields.size()>& order, class Visit, std::size_t... indices>
constexpr bool all_of_fields(Visit& visit, std::index_sequence<indices...> /*unused*/) {
  return (visit.template operator()<order[indices]>() && ...);
}

}  // namespace detail

// What a field holds when present.
template <Field field>
using FieldValue =
    std::tuple_element_t<static_cast<std::size_t>(kind_of(field)), detail::KindValues>;

// Calls visit.template operator()<field>() for every field in declared
// order, until one returns false; returns whether none did.
template <class Visit>
constexpr bool all_fields(Visit&& visit) {
  return detail::all_of_fields<detail::kDeclaredOrder>(visit,
                                                       std::make_index_sequence<kFields.size()>{});
}

// The same in the dictionary form's order.
template <class Visit>
constexpr bool all_fields_in_python_order(Visit&& visit) {
  return detail::all_of_fields<kPythonOrder>(visit, std::make_index_sequence<kFields.size()>{});
}

// Calls visit.template operator()<field>() for the field known only at run
// time, and returns what it returns.
template <class Visit>
bool visit_field(Field field, Visit&& visit) {
  bool result = false;
  all_fields([&]<Field candidate>() {
    if (candidate != field) {
      return true;
    }
    result = visit.template operator()<candidate>();
    return false;
  });
  return result;
}

class NodeUpdate {
 public:
  [[nodiscard]] bool has(Field field) const noexcept {
    return (present_ & presence_bit(field)) != 0;
  }

  [[nodiscard]] bool empty() const noexcept { return (present_ & kAllPresent) == 0; }

  // The field's value, or nullopt when it is absent. A text's view lives as
  // long as the record is not changed.
  template <Field field>
  [[nodiscard]] std::optional<FieldValue<field>> get() const noexcept {
    if (!has(field)) {
      return std::nullopt;
    }
    constexpr FieldKind kKind = kind_of(field);
    if constexpr (kKind == FieldKind::text) {
      return texts_[detail::slot_of(field)].view();
    } else if constexpr (kKind == FieldKind::size) {
      return std::bit_cast<float>(size_bits_);
    } else if constexpr (kKind == FieldKind::colour) {
      return colours_[detail::slot_of(field)];
    } else {
      return (present_ & kShowLabelValue) != 0;
    }
  }

  // Makes the field present with `value`; a text is copied (which may
  // throw std::bad_alloc).
  template <Field field>
  void set(FieldValue<field> value) {
    if constexpr (kind_of(field) == FieldKind::text) {
      texts_[detail::slot_of(field)].assign(value);
      present_ |= presence_bit(field);
    } else {
      constexpr FieldKind kKind = kind_of(field);
      if constexpr (kKind == FieldKind::size) {
        size_bits_ = std::bit_cast<std::uint32_t>(value);
      } else if constexpr (kKind == FieldKind::colour) {
        colours_[detail::slot_of(field)] = value;
      } else {
        present_ = static_cast<std::uint8_t>(value ? present_ | kShowLabelValue
                                                   : present_ & ~kShowLabelValue);
      }
      present_ |= presence_bit(field);
    }
  }

  // Makes the text field present with `text`, taken over.
  void set_text(Field field, SmallText text) noexcept;

  // Makes the text field present with a copy of the `size` bytes at
  // `data`, of which `readable` may be read (see SmallText::assign).
  template <Field field>
  void set_text(const char* data, std::size_t size, std::size_t readable) {
    static_assert(kind_of(field) == FieldKind::text);
    texts_[detail::slot_of(field)].assign(data, size, readable);
    present_ |= presence_bit(field);
  }

  // Merges `incoming` into this record field by field: a field present in
  // `incoming` replaces ours (texts are moved, sizes copied bit for bit), an
  // absent one leaves ours alone. A merge never makes a field absent again.
  NodeUpdate& operator+=(NodeUpdate incoming) noexcept;

  // Bytes this record holds outside itself (its texts' heap blocks).
  [[nodiscard]] std::size_t heap_bytes() const noexcept {
    return texts_[0].heap_bytes() + texts_[1].heap_bytes();
  }

 private:
  static constexpr std::uint8_t presence_bit(Field field) noexcept {
    return static_cast<std::uint8_t>(1U << index_of(field));
  }
  static constexpr std::uint8_t kAllPresent = (1U << kFields.size()) - 1;
  static constexpr std::uint8_t kShowLabelValue = 1U << kFields.size();

  std::array<SmallText, 2> texts_;
  std::uint32_t size_bits_ = 0;
  std::array<std::uint8_t, 3> colours_{};
  // Bit i: field i is present. The bit above them: the value of show_label.
  std::uint8_t present_ = 0;
};

// Field-by-field equality that compares `size` by its bits, so that a NaN
// equals the same NaN and 0.0 differs from -0.0.
[[nodiscard]] bool same_fields(const NodeUpdate& a, const NodeUpdate& b) noexcept;

}  // namespace quorl
