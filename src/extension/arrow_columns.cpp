#include "arrow_columns.hpp"

#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bytes/utf8.hpp"
#include "diff/graph_diff_batch.hpp"
#include "field_conversion.hpp"
#include "float_conversion.hpp"
#include "id_conversion.hpp"
#include "py_ref.hpp"

namespace quorl::python {

namespace {

using arrow::ArrayView;
using arrow::ArrowSchema;
using arrow::ArrowType;
using arrow::Layout;

constexpr std::int64_t kIdLength = 16;

// One chunk's items; `rows` is the struct around them when a struct of
// one child is read as its child, whose own nulls count too.
struct ChunkView {
  ArrayView items;
  std::optional<ArrayView> rows;

  [[nodiscard]] bool is_null(std::int64_t item) const noexcept {
    return items.is_null(item) || (rows && rows->is_null(item));
  }
  [[nodiscard]] bool may_have_nulls() const noexcept {
    return items.may_have_nulls() || (rows && rows->may_have_nulls());
  }
};

struct ChunkViews {
  std::vector<ChunkView> chunks;
  std::size_t count = 0;
};

ArrowType type_of(const ArrowSchema& schema) noexcept {
  return schema.dictionary != nullptr ? ArrowType{} : arrow::parse_format(schema.format);
}

bool restore_failure(ImportedColumn& column) {
  if (!column.failed()) {
    return false;
  }
  std::move(column.failure).restore();
  column.failure = {};
  return true;
}

// The schema of the items: a struct of exactly one child stands for it.
const ArrowSchema& item_schema(const ArrowSchema& schema, bool unwrap) noexcept {
  if (unwrap && type_of(schema).layout == Layout::structure && schema.n_children == 1 &&
      schema.children != nullptr && schema.children[0] != nullptr) {
    return *schema.children[0];
  }
  return schema;
}

void raise_malformed(const ImportedColumn& column, std::size_t chunk, const std::string& what) {
  if (column.chunks.size() > 1) {
    PyErr_Format(PyExc_ValueError, "argument '%s': malformed Arrow array (chunk %zu): %s",
                 column.parameter.data(), chunk, what.c_str());
  } else {
    PyErr_Format(PyExc_ValueError, "argument '%s': malformed Arrow array: %s",
                 column.parameter.data(), what.c_str());
  }
}

void raise_type(const ImportedColumn& column, const ArrowSchema& schema, const char* wanted) {
  PyErr_Format(PyExc_TypeError, "argument '%s': an Arrow column of type %s holds no %s",
               column.parameter.data(), arrow::describe_type(schema).c_str(), wanted);
}

void raise_null(const ImportedColumn& column, std::size_t item) {
  PyErr_Format(PyExc_ValueError, "argument '%s': item %zu is null", column.parameter.data(), item);
}

// Validates every chunk, views its items, and checks the total against the
// first column. Returns nullopt with the exception set.
std::optional<ChunkViews> view_chunks(const ImportedColumn& column, bool unwrap,
                                      const FirstColumn* first) {
  const ArrowSchema& schema = *column.schema;
  const bool unwrapped = &item_schema(schema, unwrap) != &schema;
  ChunkViews views;
  views.chunks.reserve(column.chunks.size());
  std::int64_t total = 0;
  for (std::size_t index = 0; index < column.chunks.size(); ++index) {
    auto top = arrow::view_array(schema, *column.chunks[index]);
    if (!top) {
      raise_malformed(column, index, top.error());
      return std::nullopt;
    }
    if (unwrapped) {
      auto child = top->child(0);
      if (!child) {
        raise_malformed(column, index, child.error());
        return std::nullopt;
      }
      views.chunks.push_back({*child, *top});
    } else {
      views.chunks.push_back({*top, std::nullopt});
    }
    if (top->length() > std::numeric_limits<std::int64_t>::max() - total) {
      raise_malformed(column, index, "the chunks hold more items than an int64 counts");
      return std::nullopt;
    }
    total += top->length();
  }
  views.count = static_cast<std::size_t>(total);
  if (!check_count(views.count, column.parameter.data(), first)) {
    return std::nullopt;
  }
  return views;
}

// Raises the single call's refusal of an id of the wrong length.
void raise_id_length(const ImportedColumn& column, std::size_t item, std::string_view bytes) {
  const PyRef value =
      PyRef::steal(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
  if (value) {
    [[maybe_unused]] const auto refused = convert_node_id(value.get());
  }
  reword_failure(column.parameter.data(), item);
}

// The first null of a chunk, or -1.
std::int64_t first_null(const ChunkView& chunk) noexcept {
  if (!chunk.may_have_nulls()) {
    return -1;
  }
  for (std::int64_t item = 0; item < chunk.items.length(); ++item) {
    if (chunk.is_null(item)) {
      return item;
    }
  }
  return -1;
}

// The only chunk of a column, when it has no null; otherwise null (the
// reading loops then find the first bad item in order).
const ChunkView* only_chunk_without_nulls(const ChunkViews& views) noexcept {
  if (views.chunks.size() != 1 || first_null(views.chunks[0]) >= 0) {
    return nullptr;
  }
  return &views.chunks[0];
}

// Converts every item of the chunks in order with `convert(items, item,
// position, value)`, which returns false with the exception set; a null
// item is refused. Returns nullopt with the exception set.
template <class Value, class Convert>
std::optional<std::vector<Value>> copy_items(const ImportedColumn& column, const ChunkViews& views,
                                             Convert convert) {
  std::vector<Value> values(views.count);
  std::size_t position = 0;
  for (const ChunkView& chunk : views.chunks) {
    for (std::int64_t item = 0; item < chunk.items.length(); ++item, ++position) {
      if (chunk.is_null(item)) {
        raise_null(column, position);
        return std::nullopt;
      }
      if (!convert(chunk.items, item, position, values[position])) {
        return std::nullopt;
      }
    }
  }
  return values;
}

}  // namespace

bool read_arrow_ids(ImportedColumn& column, const FirstColumn* first, HeldBuffers& held,
                    IdColumn& out) {
  if (restore_failure(column)) {
    return false;
  }
  const ArrowSchema& schema = item_schema(*column.schema, true);
  const ArrowType type = type_of(schema);
  const bool fixed = type.layout == Layout::fixed_binary && type.width == kIdLength;
  if (!fixed && !arrow::is_binary(type.layout)) {
    raise_type(column, schema, "16-byte ids");
    return false;
  }
  const auto views = view_chunks(column, true, first);
  if (!views) {
    return false;
  }
  static_assert(sizeof(NodeId) == kIdLength && alignof(NodeId) == 1);
  if (const ChunkView* chunk = only_chunk_without_nulls(*views)) {
    // Binary items of 16 bytes back to back (as polars and Parquet readers
    // lay them out) are read in place like fixed-size ones.
    const std::uint8_t* items =
        fixed ? chunk->items.fixed_items() : chunk->items.packed_items(kIdLength);
    if (items != nullptr || views->count == 0) {
      out.view({reinterpret_cast<const NodeId*>(items), views->count});
      held.viewed_by(out);
      return true;
    }
  }
  auto ids = copy_items<NodeId>(
      column, *views,
      [&](const ArrayView& items, std::int64_t item, std::size_t position, NodeId& id) {
        if (fixed) {
          std::memcpy(id.data(), items.fixed_items() + (item * kIdLength), kIdLength);
          return true;
        }
        const std::string_view bytes = items.bytes_item(item);
        if (bytes.size() != static_cast<std::size_t>(kIdLength)) {
          raise_id_length(column, position, bytes);
          return false;
        }
        std::memcpy(id.data(), bytes.data(), kIdLength);
        return true;
      });
  if (!ids) {
    return false;
  }
  out.assign(std::move(*ids));
  return true;
}

bool read_arrow_weights(ImportedColumn& column, const FirstColumn& first, HeldBuffers& held,
                        WeightColumn& out) {
  if (restore_failure(column)) {
    return false;
  }
  const ArrowSchema& schema = item_schema(*column.schema, true);
  const Layout layout = type_of(schema).layout;
  if (layout != Layout::float32 && layout != Layout::float64) {
    raise_type(column, schema, "float32 or float64 weights");
    return false;
  }
  const auto views = view_chunks(column, true, &first);
  if (!views) {
    return false;
  }
  const ChunkView* chunk = only_chunk_without_nulls(*views);
  if (layout == Layout::float32 && chunk != nullptr) {
    const std::uint8_t* items = chunk->items.fixed_items();
    if (reinterpret_cast<std::uintptr_t>(items) % alignof(float) == 0) {
      out.view({reinterpret_cast<const float*>(items), views->count});
      held.viewed_by(out);
      return true;
    }
  }
  auto weights = copy_items<float>(
      column, *views,
      [](const ArrayView& items, std::int64_t item, std::size_t /*position*/, float& weight) {
        weight = narrow_to_float(items.float_item(item));
        return true;
      });
  if (!weights) {
    return false;
  }
  out.assign(std::move(*weights));
  return true;
}

namespace {

// The children of an updates struct that hold the fields, by field.
using FieldChildren = std::array<std::int64_t, kFields.size()>;

bool fits_kind(FieldKind kind, Layout layout) noexcept {
  switch (kind) {
    case FieldKind::text:
      return arrow::is_text(layout);
    case FieldKind::size:
      return layout == Layout::float32 || layout == Layout::float64;
    case FieldKind::colour:
      return arrow::is_integer(layout);
    case FieldKind::flag:
      return layout == Layout::boolean;
  }
  return false;
}

const char* wanted_for(FieldKind kind) noexcept {
  switch (kind) {
    case FieldKind::text:
      return "texts (utf8, large_utf8 or utf8_view)";
    case FieldKind::size:
      return "sizes (float32 or float64)";
    case FieldKind::colour:
      return "colours (an integer type)";
    case FieldKind::flag:
      return "flags (bool)";
  }
  return "";
}

// Finds each field's child by name (the first of a name counts) and checks
// its type. Returns nullopt with TypeError set.
std::optional<FieldChildren> field_children(const ImportedColumn& column,
                                            const ArrowSchema& schema) {
  FieldChildren children;
  children.fill(-1);
  for (std::int64_t child = 0; child < schema.n_children; ++child) {
    const ArrowSchema* child_schema = schema.children[child];
    if (child_schema == nullptr || child_schema->name == nullptr) {
      continue;
    }
    for (const FieldDescription& description : kFields) {
      std::int64_t& found = children[index_of(description.field)];
      if (found >= 0 || description.python_key != child_schema->name) {
        continue;
      }
      if (!fits_kind(description.kind, type_of(*child_schema).layout)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': the column '%s' of type %s holds no %s",
                     column.parameter.data(), child_schema->name,
                     arrow::describe_type(*child_schema).c_str(), wanted_for(description.kind));
        return std::nullopt;
      }
      found = child;
    }
  }
  return children;
}

// Raises ValueError for a text that is not UTF-8, with the interpreter's
// own decoding error, which names the bad bytes, as its __cause__.
void raise_invalid_text(const ImportedColumn& column, std::size_t item, std::string_view key,
                        std::string_view text) {
  const PyRef decoded = PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
  PendingException reason = PendingException::fetch();  // none: the validators never disagree
  const PyRef message =
      PyRef::steal(PyUnicode_FromFormat("argument '%s': item %zu: the %s is not valid UTF-8",
                                        column.parameter.data(), item, std::string(key).c_str()));
  PyRef cause = PyRef::borrow(reason.value.get());
  std::move(reason).replace(PyExc_ValueError, message, std::move(cause));
}

// A row that could not be read, kept until the diff is back as it was and
// raised then: nothing that makes a Python object (which may run a
// finaliser's code) happens while the diff is midway through a batch.
struct RowFailure {
  enum class Kind : std::uint8_t { none, null_row, invalid_text, colour_range };
  Kind kind = Kind::none;
  Field field = Field::label;
  std::size_t position = 0;
  std::string_view text;  // the invalid text, in the column's buffer
};

void raise_row_failure(const ImportedColumn& column, const RowFailure& failure) {
  switch (failure.kind) {
    case RowFailure::Kind::null_row:
      raise_null(column, failure.position);
      return;
    case RowFailure::Kind::invalid_text:
      raise_invalid_text(column, failure.position, kFields[index_of(failure.field)].python_key,
                         failure.text);
      return;
    case RowFailure::Kind::colour_range:
      raise_colour_out_of_range();
      reword_failure(column.parameter.data(), failure.position);
      return;
    case RowFailure::Kind::none:
      break;
  }
  assert(false);
}

// Reads the present field of row `item` into `update`. Returns false with
// `failure` filled in.
template <Field field>
bool read_field(const ArrayView& values, std::int64_t item, NodeUpdate& update,
                RowFailure& failure) {
  constexpr FieldKind kKind = kind_of(field);
  if constexpr (kKind == FieldKind::text) {
    const std::string_view text = values.bytes_item(item);
    if (!quorl::detail::is_valid_utf8(text)) {
      failure.kind = RowFailure::Kind::invalid_text;
      failure.field = field;
      failure.text = text;
      return false;
    }
    update.set<field>(text);
  } else if constexpr (kKind == FieldKind::size) {
    update.set<field>(narrow_to_float(values.float_item(item)));
  } else if constexpr (kKind == FieldKind::colour) {
    const std::int64_t colour = values.integer_item(item);
    if (colour < 0 || colour > 255) {
      failure.kind = RowFailure::Kind::colour_range;
      return false;
    }
    update.set<field>(static_cast<std::uint8_t>(colour));
  } else {
    update.set<field>(values.bool_item(item));
  }
  return true;
}

// One chunk of rows with the children that hold the fields.
struct RowChunk {
  ArrayView rows;
  std::array<std::optional<ArrayView>, kFields.size()> values;
};

}  // namespace

bool add_arrow_updates(ImportedColumn& column, std::span<const NodeId> ids, Diff& diff) {
  if (restore_failure(column)) {
    return false;
  }
  const ArrowSchema& schema = *column.schema;
  if (type_of(schema).layout != Layout::structure) {
    raise_type(column, schema, "node attributes (a struct of named columns)");
    return false;
  }
  const auto children = field_children(column, schema);
  if (!children) {
    return false;
  }
  const FirstColumn first{ids.size(), "ids"};
  const auto views = view_chunks(column, false, &first);
  if (!views) {
    return false;
  }
  // Every chunk's children are checked before any row is read.
  std::vector<RowChunk> chunks;
  chunks.reserve(views->chunks.size());
  for (std::size_t index = 0; index < views->chunks.size(); ++index) {
    RowChunk& chunk = chunks.emplace_back(RowChunk{views->chunks[index].items, {}});
    for (std::size_t field = 0; field < chunk.values.size(); ++field) {
      if ((*children)[field] < 0) {
        continue;
      }
      auto child = chunk.rows.child((*children)[field]);
      if (!child) {
        raise_malformed(column, index, child.error());
        return false;
      }
      chunk.values[field] = *child;
    }
  }
  // The rows are read in order, each straight into the record it makes
  // or into the update merged into one.
  const RowChunk* chunk = chunks.data();
  std::int64_t item = 0;
  RowFailure failure;
  const bool recorded =
      diff.add_or_update_nodes_with(ids, [&](std::size_t position, NodeUpdate& update) {
        while (item == chunk->rows.length()) {
          ++chunk;
          item = 0;
        }
        if (chunk->rows.is_null(item)) {
          failure.kind = RowFailure::Kind::null_row;
          failure.position = position;
          return false;
        }
        const bool complete = all_fields_in_python_order([&]<Field field>() {
          const std::optional<ArrayView>& values = chunk->values[index_of(field)];
          return !values || values->is_null(item) ||
                 read_field<field>(*values, item, update, failure);
        });
        if (!complete) {
          failure.position = position;
        }
        ++item;
        return complete;
      });
  if (!recorded) {
    raise_row_failure(column, failure);
  }
  return recorded;
}

}  // namespace quorl::python
