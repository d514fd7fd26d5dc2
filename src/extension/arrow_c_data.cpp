#include "arrow_c_data.hpp"

#include <array>
#include <charconv>
#include <limits>
#include <utility>

namespace quorl::arrow {

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kViewLength = 16;
constexpr std::int64_t kInlineLength = 12;

struct Named {
  std::string_view format;
  Layout layout;
  std::string_view name;
};

constexpr std::array<Named, 18> kFormats = {{
    {"z", Layout::binary, "binary"},
    {"Z", Layout::large_binary, "large_binary"},
    {"vz", Layout::binary_view, "binary_view"},
    {"u", Layout::utf8, "utf8"},
    {"U", Layout::large_utf8, "large_utf8"},
    {"vu", Layout::utf8_view, "utf8_view"},
    {"f", Layout::float32, "float32"},
    {"g", Layout::float64, "float64"},
    {"c", Layout::int8, "int8"},
    {"C", Layout::uint8, "uint8"},
    {"s", Layout::int16, "int16"},
    {"S", Layout::uint16, "uint16"},
    {"i", Layout::int32, "int32"},
    {"I", Layout::uint32, "uint32"},
    {"l", Layout::int64, "int64"},
    {"L", Layout::uint64, "uint64"},
    {"b", Layout::boolean, "bool"},
    {"+s", Layout::structure, "struct"},
}};

// Whether a + b stays within int64, for non-negative a and b.
constexpr bool sum_fits(std::int64_t a, std::int64_t b) noexcept { return a <= kMax - b; }

std::string text_of(std::int64_t number) { return std::to_string(number); }

// How many buffers an array of the layout has; a view layout has at least
// this many (its data buffers and their sizes follow).
std::int64_t buffer_count(Layout layout) noexcept {
  switch (layout) {
    case Layout::structure:
      return 1;
    case Layout::binary:
    case Layout::large_binary:
    case Layout::utf8:
    case Layout::large_utf8:
    case Layout::binary_view:
    case Layout::utf8_view:
      return 3;
    default:
      return 2;
  }
}

bool is_view(Layout layout) noexcept {
  return layout == Layout::binary_view || layout == Layout::utf8_view;
}

bool has_large_offsets(Layout layout) noexcept {
  return layout == Layout::large_binary || layout == Layout::large_utf8;
}

}  // namespace

ArrowType parse_format(const char* format) noexcept {
  if (format == nullptr) {
    return {};
  }
  const std::string_view text(format);
  for (const Named& named : kFormats) {
    if (text == named.format) {
      return {named.layout, 0};
    }
  }
  if (text.starts_with("w:")) {
    std::int64_t width = 0;
    const char* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data() + 2, end, width);
    if (error == std::errc() && next == end && width > 0) {
      return {Layout::fixed_binary, width};
    }
  }
  return {};
}

std::string describe_type(const ArrowSchema& schema) {
  if (schema.format == nullptr) {
    return "a schema without a format";
  }
  std::string name;
  if (schema.dictionary != nullptr) {
    name = "dictionary-encoded ";
  }
  const ArrowType type = parse_format(schema.format);
  if (type.layout == Layout::fixed_binary) {
    return name + "fixed_size_binary(" + text_of(type.width) + ")";
  }
  for (const Named& named : kFormats) {
    if (named.layout == type.layout) {
      return name.append(named.name);
    }
  }
  return name + "format '" + schema.format + "'";
}

std::int64_t ArrayView::item_width() const noexcept {
  switch (type_.layout) {
    case Layout::fixed_binary:
      return type_.width;
    case Layout::int8:
    case Layout::uint8:
      return 1;
    case Layout::int16:
    case Layout::uint16:
      return 2;
    case Layout::float32:
    case Layout::int32:
    case Layout::uint32:
      return 4;
    case Layout::float64:
    case Layout::int64:
    case Layout::uint64:
      return 8;
    default:
      return 0;
  }
}

std::string_view ArrayView::bytes_item(std::int64_t item) const noexcept {
  const std::int64_t slot = offset_ + item;
  if (is_view(type_.layout)) {
    const std::uint8_t* view = data_ + (slot * kViewLength);
    const auto size = load<std::int32_t>(view);
    if (size <= kInlineLength) {
      return {reinterpret_cast<const char*>(view + 4), static_cast<std::size_t>(size)};
    }
    const auto buffer = load<std::int32_t>(view + 8);
    const auto start = load<std::int32_t>(view + 12);
    const auto* bytes = static_cast<const char*>(array_->buffers[2 + buffer]);
    return {bytes + start, static_cast<std::size_t>(size)};
  }
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (has_large_offsets(type_.layout)) {
    start = load<std::int64_t>(data_ + (slot * 8));
    end = load<std::int64_t>(data_ + ((slot + 1) * 8));
  } else {
    start = load<std::int32_t>(data_ + (slot * 4));
    end = load<std::int32_t>(data_ + ((slot + 1) * 4));
  }
  if (start == end) {
    return std::string_view("");  // not a null pointer: copying zero bytes from one is undefined
  }
  return {reinterpret_cast<const char*>(values_) + start, static_cast<std::size_t>(end - start)};
}

double ArrayView::float_item(std::int64_t item) const noexcept {
  const std::uint8_t* at = data_ + ((offset_ + item) * item_width());
  return type_.layout == Layout::float32 ? static_cast<double>(load<float>(at)) : load<double>(at);
}

std::int64_t ArrayView::integer_item(std::int64_t item) const noexcept {
  const std::uint8_t* at = data_ + ((offset_ + item) * item_width());
  switch (type_.layout) {
    case Layout::int8:
      return load<std::int8_t>(at);
    case Layout::uint8:
      return load<std::uint8_t>(at);
    case Layout::int16:
      return load<std::int16_t>(at);
    case Layout::uint16:
      return load<std::uint16_t>(at);
    case Layout::int32:
      return load<std::int32_t>(at);
    case Layout::uint32:
      return load<std::uint32_t>(at);
    case Layout::int64:
      return load<std::int64_t>(at);
    default: {
      const auto value = load<std::uint64_t>(at);
      return value > static_cast<std::uint64_t>(kMax) ? kMax : static_cast<std::int64_t>(value);
    }
  }
}

std::expected<ArrayView, std::string> ArrayView::child(std::int64_t child) const {
  const ArrowArray& array = *array_->children[child];
  if (array.length < offset_ + length_) {
    return std::unexpected(
        "the child '" +
        std::string(child_schema(child).name != nullptr ? child_schema(child).name : "") +
        "' has " + text_of(array.length) + " items where its struct needs " +
        text_of(offset_ + length_));
  }
  if (array.offset < 0 || !sum_fits(array.offset, offset_)) {
    return std::unexpected("a child has the offset " + text_of(array.offset));
  }
  return make(child_schema(child), array, array.offset + offset_, length_);
}

std::expected<void, std::string> ArrayView::check_offsets() {
  if (length_ == 0) {
    return {};
  }
  const bool large = has_large_offsets(type_.layout);
  auto offset_at = [&](std::int64_t slot) {
    return large ? load<std::int64_t>(data_ + (slot * 8))
                 : static_cast<std::int64_t>(load<std::int32_t>(data_ + (slot * 4)));
  };
  std::int64_t previous = offset_at(offset_);
  if (previous < 0) {
    return std::unexpected("the offsets start at " + text_of(previous));
  }
  const std::int64_t first = previous;
  const std::int64_t width = offset_at(offset_ + 1) - first;
  bool uniform = true;
  for (std::int64_t slot = offset_ + 1; slot <= offset_ + length_; ++slot) {
    const std::int64_t next = offset_at(slot);
    if (next < previous) {
      return std::unexpected("the offsets fall at item " + text_of(slot - offset_ - 1));
    }
    uniform = uniform && next - previous == width;
    previous = next;
  }
  if (previous > first && values_ == nullptr) {
    return std::unexpected("the data buffer is missing");
  }
  if (uniform) {
    packed_width_ = width;
    packed_ = values_ + first;
  }
  return {};
}

std::expected<void, std::string> ArrayView::check_views() {
  const std::uint8_t* sizes =
      static_cast<const std::uint8_t*>(array_->buffers[array_->n_buffers - 1]);
  if (variadic_count_ > 0 && sizes == nullptr) {
    return std::unexpected("the buffer of data buffer sizes is missing");
  }
  // Whether the items have one size above the inline limit and follow one
  // another in one buffer: a binary of fixed-size items.
  const std::uint8_t* first = data_ + (offset_ * kViewLength);
  const auto width = length_ > 0 ? load<std::int32_t>(first) : 0;
  const auto first_buffer = length_ > 0 ? load<std::int32_t>(first + 8) : 0;
  const auto first_start = length_ > 0 ? load<std::int32_t>(first + 12) : 0;
  bool uniform = width > kInlineLength;
  for (std::int64_t item = 0; item < length_; ++item) {
    const std::uint8_t* view = first + (item * kViewLength);
    const auto size = load<std::int32_t>(view);
    if (size < 0) {
      return std::unexpected("item " + text_of(item) + " has the length " + text_of(size));
    }
    if (size <= kInlineLength) {
      uniform = false;
      continue;
    }
    const auto buffer = load<std::int32_t>(view + 8);
    const auto start = load<std::int32_t>(view + 12);
    uniform =
        uniform && size == width && buffer == first_buffer && start == first_start + (item * width);
    if (buffer < 0 || buffer >= variadic_count_) {
      return std::unexpected("item " + text_of(item) + " refers to data buffer " + text_of(buffer) +
                             " of " + text_of(variadic_count_));
    }
    const auto declared = load<std::int64_t>(sizes + (static_cast<std::int64_t>(buffer) * 8));
    if (start < 0 || start > declared - size || array_->buffers[2 + buffer] == nullptr) {
      return std::unexpected("item " + text_of(item) + " lies outside data buffer " +
                             text_of(buffer));
    }
  }
  if (uniform) {
    packed_width_ = width;
    packed_ = static_cast<const std::uint8_t*>(array_->buffers[2 + first_buffer]) + first_start;
  }
  return {};
}

std::expected<ArrayView, std::string> ArrayView::make(const ArrowSchema& schema,
                                                      const ArrowArray& array, std::int64_t offset,
                                                      std::int64_t length) {
  ArrayView view;
  view.schema_ = &schema;
  view.array_ = &array;
  view.type_ = schema.dictionary != nullptr ? ArrowType{} : parse_format(schema.format);
  view.offset_ = offset;
  view.length_ = length;
  const Layout layout = view.type_.layout;
  if (layout == Layout::other) {
    return std::unexpected("the type " + describe_type(schema) + " is not read here");
  }
  if (array.release == nullptr) {
    return std::unexpected("it was released");
  }
  if (array.length < 0 || array.offset < 0 || !sum_fits(array.offset, array.length)) {
    return std::unexpected("its length is " + text_of(array.length) + " and its offset " +
                           text_of(array.offset));
  }
  if (!sum_fits(offset, length)) {
    return std::unexpected("its items end past the int64 range");
  }
  const std::int64_t width = view.item_width();
  if (width > 0 && offset + length > kMax / width) {
    return std::unexpected("its items end past the int64 range");
  }
  if (array.null_count < -1 || array.null_count > array.length) {
    return std::unexpected("its null count is " + text_of(array.null_count));
  }
  const std::int64_t buffers = buffer_count(layout);
  if (is_view(layout) ? array.n_buffers < buffers : array.n_buffers != buffers) {
    return std::unexpected("it has " + text_of(array.n_buffers) + " buffers where " +
                           describe_type(schema) + " has " + (is_view(layout) ? "at least " : "") +
                           text_of(buffers));
  }
  if (array.buffers == nullptr) {
    return std::unexpected("its buffer list is missing");
  }
  if (array.n_children != schema.n_children) {
    return std::unexpected("it has " + text_of(array.n_children) +
                           " children where its schema has " + text_of(schema.n_children));
  }
  if (schema.n_children < 0 || (schema.n_children > 0 && layout != Layout::structure)) {
    return std::unexpected("its schema has " + text_of(schema.n_children) + " children");
  }
  if (schema.n_children > 0) {
    if (schema.children == nullptr || array.children == nullptr) {
      return std::unexpected("its child list is missing");
    }
    for (std::int64_t child = 0; child < schema.n_children; ++child) {
      if (schema.children[child] == nullptr || array.children[child] == nullptr) {
        return std::unexpected("child " + text_of(child) + " is missing");
      }
    }
  }
  if (array.dictionary != nullptr) {
    return std::unexpected("it has a dictionary where its schema has none");
  }
  if (array.null_count != 0) {
    view.validity_ = static_cast<const std::uint8_t*>(array.buffers[0]);
    if (view.validity_ == nullptr && array.null_count > 0 && length > 0) {
      return std::unexpected("it declares " + text_of(array.null_count) +
                             " nulls but has no validity bitmap");
    }
  }
  if (layout == Layout::structure) {
    return view;
  }
  view.data_ = static_cast<const std::uint8_t*>(array.buffers[1]);
  if (view.data_ == nullptr && length > 0) {
    return std::unexpected(is_view(layout)                        ? "its views are missing"
                           : is_binary(layout) || is_text(layout) ? "its offsets are missing"
                                                                  : "its data buffer is missing");
  }
  if (is_view(layout)) {
    view.variadic_count_ = array.n_buffers - 3;
    if (auto checked = view.check_views(); !checked) {
      return std::unexpected(std::move(checked).error());
    }
  } else if (is_binary(layout) || is_text(layout)) {
    view.values_ = static_cast<const std::uint8_t*>(array.buffers[2]);
    if (auto checked = view.check_offsets(); !checked) {
      return std::unexpected(std::move(checked).error());
    }
  }
  return view;
}

std::expected<ArrayView, std::string> view_array(const ArrowSchema& schema,
                                                 const ArrowArray& array) {
  return ArrayView::make(schema, array, array.offset, array.length);
}

}  // namespace quorl::arrow
