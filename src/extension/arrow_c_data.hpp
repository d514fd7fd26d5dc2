// The Arrow C data interface: the three structures of its stable ABI,
// written out here so that no Arrow library is needed, and one view that
// validates an imported array against its schema before anything is read
// and then reads items through its offset and validity bitmap.
//
// Nothing here includes Python.h: a structure is only ever read as far as
// its own fields declare (its length, offset, buffer and child counts, its
// offsets and view entries), never past them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <string>
#include <string_view>

namespace quorl::arrow {

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  std::int64_t flags;
  std::int64_t n_children;
  ArrowSchema** children;
  ArrowSchema* dictionary;
  void (*release)(ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  std::int64_t length;
  std::int64_t null_count;
  std::int64_t offset;
  std::int64_t n_buffers;
  std::int64_t n_children;
  const void** buffers;
  ArrowArray** children;
  ArrowArray* dictionary;
  void (*release)(ArrowArray*);
  void* private_data;
};

struct ArrowArrayStream {
  int (*get_schema)(ArrowArrayStream*, ArrowSchema* out);
  int (*get_next)(ArrowArrayStream*, ArrowArray* out);
  const char* (*get_last_error)(ArrowArrayStream*);
  void (*release)(ArrowArrayStream*);
  void* private_data;
};

inline constexpr std::int64_t kFlagNullable = 2;

// The capsule names of the PyCapsule interface.
inline constexpr const char* kSchemaCapsule = "arrow_schema";
inline constexpr const char* kArrayCapsule = "arrow_array";
inline constexpr const char* kStreamCapsule = "arrow_array_stream";

// The layouts this module reads; every other format is `other`.
enum class Layout : std::uint8_t {
  fixed_binary,
  binary,
  large_binary,
  binary_view,
  utf8,
  large_utf8,
  utf8_view,
  float32,
  float64,
  int8,
  uint8,
  int16,
  uint16,
  int32,
  uint32,
  int64,
  uint64,
  boolean,
  structure,
  other,
};

struct ArrowType {
  Layout layout = Layout::other;
  std::int64_t width = 0;  // bytes per item of a fixed_binary
};

// The type a format string names (a null format is `other`).
[[nodiscard]] ArrowType parse_format(const char* format) noexcept;

// The type's name for messages: "fixed_size_binary(16)", "int64", or, for a
// format this module does not read, "format '<format>'"; a dictionary-encoded
// column is named as such.
[[nodiscard]] std::string describe_type(const ArrowSchema& schema);

[[nodiscard]] constexpr bool is_integer(Layout layout) noexcept {
  return layout >= Layout::int8 && layout <= Layout::uint64;
}
[[nodiscard]] constexpr bool is_text(Layout layout) noexcept {
  return layout == Layout::utf8 || layout == Layout::large_utf8 || layout == Layout::utf8_view;
}
[[nodiscard]] constexpr bool is_binary(Layout layout) noexcept {
  return layout == Layout::binary || layout == Layout::large_binary ||
         layout == Layout::binary_view;
}

// A validated array of a layout other than `other`: its items are the
// physical slots [offset, offset + length) of its buffers. Built only by
// view_array, which has checked every buffer, offset and view entry that an
// item read below touches, so the reads cannot fail.
class ArrayView {
 public:
  [[nodiscard]] Layout layout() const noexcept { return type_.layout; }
  [[nodiscard]] std::int64_t length() const noexcept { return length_; }
  // Whether any item may be null; false lets a reader skip the bitmap.
  [[nodiscard]] bool may_have_nulls() const noexcept { return validity_ != nullptr; }
  [[nodiscard]] bool is_null(std::int64_t item) const noexcept {
    const std::int64_t slot = offset_ + item;
    return validity_ != nullptr && ((validity_[slot >> 3] >> (slot & 7)) & 1U) == 0;
  }

  // The first item's bytes of a fixed_binary, float or integer array:
  // items follow back to back, type_.width (or the number's size) apart.
  [[nodiscard]] const std::uint8_t* fixed_items() const noexcept {
    return data_ + (offset_ * item_width());
  }
  [[nodiscard]] std::int64_t item_width() const noexcept;

  // The first item of a binary or view layout whose items all have `width`
  // bytes and lie back to back in one buffer, as a fixed_binary's do; null
  // when they do not.
  [[nodiscard]] const std::uint8_t* packed_items(std::int64_t width) const noexcept {
    return length_ > 0 && packed_width_ == width ? packed_ : nullptr;
  }

  // The bytes of an item of a binary or text layout.
  [[nodiscard]] std::string_view bytes_item(std::int64_t item) const noexcept;
  [[nodiscard]] double float_item(std::int64_t item) const noexcept;
  // An integer item; a uint64 above the int64 range reads as INT64_MAX.
  [[nodiscard]] std::int64_t integer_item(std::int64_t item) const noexcept;
  [[nodiscard]] bool bool_item(std::int64_t item) const noexcept {
    const std::int64_t slot = offset_ + item;
    return ((data_[slot >> 3] >> (slot & 7)) & 1U) != 0;
  }

  // The struct's children, each viewed over this struct's items.
  [[nodiscard]] std::int64_t child_count() const noexcept { return schema_->n_children; }
  [[nodiscard]] const ArrowSchema& child_schema(std::int64_t child) const noexcept {
    return *schema_->children[child];
  }
  [[nodiscard]] std::expected<ArrayView, std::string> child(std::int64_t child) const;

 private:
  friend std::expected<ArrayView, std::string> view_array(const ArrowSchema& schema,
                                                          const ArrowArray& array);
  static std::expected<ArrayView, std::string> make(const ArrowSchema& schema,
                                                    const ArrowArray& array, std::int64_t offset,
                                                    std::int64_t length);
  std::expected<void, std::string> check_offsets();
  std::expected<void, std::string> check_views();

  template <class Number>
  [[nodiscard]] Number load(const std::uint8_t* at) const noexcept {
    Number value;
    std::memcpy(&value, at, sizeof value);
    return value;
  }

  const ArrowSchema* schema_ = nullptr;
  const ArrowArray* array_ = nullptr;
  ArrowType type_;
  std::int64_t offset_ = 0;
  std::int64_t length_ = 0;
  const std::uint8_t* validity_ = nullptr;
  const std::uint8_t* data_ = nullptr;    // items, or the offsets or views
  const std::uint8_t* values_ = nullptr;  // the bytes behind the offsets
  std::int64_t variadic_count_ = 0;       // the data buffers behind the views
  // Set by the checks when every item has packed_width_ bytes and they
  // follow one another from packed_.
  std::int64_t packed_width_ = -1;
  const std::uint8_t* packed_ = nullptr;
};

// Validates `array` against `schema` (structure, not the item values) and
// returns the view of its items, or what is malformed, in words.
[[nodiscard]] std::expected<ArrayView, std::string> view_array(const ArrowSchema& schema,
                                                               const ArrowArray& array);

}  // namespace quorl::arrow
