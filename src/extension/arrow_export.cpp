#include "arrow_export.hpp"

#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "edge_pairs.hpp"

namespace quorl::arrow {

namespace {

constexpr std::size_t kIdLength = 16;

// What an empty buffer points at: a consumer may be handed no null pointer
// for a buffer of zero bytes.
alignas(64) constexpr std::uint8_t kNoBytes[64] = {};

const void* buffer_of(const std::vector<std::uint8_t>& buffer) noexcept {
  return buffer.empty() ? kNoBytes : buffer.data();
}

std::size_t bitmap_bytes(std::size_t rows) noexcept { return (rows + 7) / 8; }

void set_bit(std::vector<std::uint8_t>& bitmap, std::size_t row) noexcept {
  bitmap[row >> 3] = static_cast<std::uint8_t>(bitmap[row >> 3] | (1U << (row & 7)));
}

TableColumn id_column(const char* name, std::size_t rows) {
  TableColumn column(name, "w:16");
  column.data.resize(rows * kIdLength);
  return column;
}

TableColumn weight_column(std::size_t rows) {
  TableColumn column("weight", "f");
  column.data.resize(rows * sizeof(float));
  return column;
}

// An attribute column before it is filled: every item null, a text's
// offsets as int64 until its size is known.
TableColumn field_column(const FieldDescription& description, std::size_t rows) {
  TableColumn column(description.python_key.data(), "", true);
  column.validity.resize(bitmap_bytes(rows));
  switch (description.kind) {
    case FieldKind::text:
      column.format = "U";
      column.buffer_count = 3;
      column.data.resize((rows + 1) * sizeof(std::int64_t));
      break;
    case FieldKind::size:
      column.format = "f";
      column.data.resize(rows * sizeof(float));
      break;
    case FieldKind::colour:
      column.format = "C";
      column.data.resize(rows);
      break;
    case FieldKind::flag:
      column.format = "b";
      column.data.resize(bitmap_bytes(rows));
      break;
  }
  return column;
}

template <Field field>
void write_field(TableColumn& column, std::size_t row, const NodeUpdate& update) {
  const auto value = update.get<field>();
  if constexpr (kind_of(field) == FieldKind::text) {
    // Absent, the item is empty: its end is its start.
    if (value) {
      column.bytes.insert(column.bytes.end(), value->begin(), value->end());
    }
    const auto end = static_cast<std::int64_t>(column.bytes.size());
    std::memcpy(column.data.data() + ((row + 1) * sizeof end), &end, sizeof end);
  }
  if (!value) {
    return;
  }
  set_bit(column.validity, row);
  if constexpr (kind_of(field) == FieldKind::size) {
    std::memcpy(column.data.data() + (row * sizeof(float)), &*value, sizeof(float));
  } else if constexpr (kind_of(field) == FieldKind::colour) {
    column.data[row] = *value;
  } else if constexpr (kind_of(field) == FieldKind::flag) {
    if (*value) {
      set_bit(column.data, row);
    }
  }
}

// Counts the nulls (dropping a bitmap with none) and gives a text of at
// most 2 GiB its int32 offsets.
void finish_field(TableColumn& column, std::size_t rows) {
  std::int64_t present = 0;
  for (const std::uint8_t byte : column.validity) {
    present += std::popcount(byte);
  }
  column.null_count = static_cast<std::int64_t>(rows) - present;
  if (column.null_count == 0) {
    column.validity.clear();
  }
  if (column.buffer_count != 3 || column.bytes.size() > std::numeric_limits<std::int32_t>::max()) {
    return;
  }
  std::vector<std::uint8_t> offsets((rows + 1) * sizeof(std::int32_t));
  for (std::size_t item = 0; item <= rows; ++item) {
    std::int64_t wide = 0;
    std::memcpy(&wide, column.data.data() + (item * sizeof wide), sizeof wide);
    const auto narrow = static_cast<std::int32_t>(wide);
    std::memcpy(offsets.data() + (item * sizeof narrow), &narrow, sizeof narrow);
  }
  column.data = std::move(offsets);
  column.format = "u";
}

void write_id(TableColumn& column, std::size_t row, const NodeId& id) noexcept {
  std::memcpy(column.data.data() + (row * kIdLength), id.data(), kIdLength);
}

// --- Export ---------------------------------------------------------------

// A column's schema holds only literals.
void release_column_schema(ArrowSchema* schema) noexcept { schema->release = nullptr; }

struct SchemaPrivate {
  std::vector<ArrowSchema> children;
  std::vector<ArrowSchema*> pointers;
};

struct ArrayPrivate {
  std::shared_ptr<const TableData> table;
  std::array<const void*, 3> buffers{};
  std::vector<ArrowArray> children;
  std::vector<ArrowArray*> pointers;
};

// Releases a structure with its children that were not moved out: a
// schema, a record batch or one of its columns.
template <class Private, class Struct>
void release_owned(Struct* structure) noexcept {
  auto* owned = static_cast<Private*>(structure->private_data);
  for (Struct& child : owned->children) {
    if (child.release != nullptr) {
      child.release(&child);
    }
  }
  delete owned;
  structure->release = nullptr;
}

struct StreamPrivate {
  std::shared_ptr<const TableData> table;
  bool done = false;
  bool out_of_memory = false;
};

StreamPrivate& stream_state(ArrowArrayStream* stream) noexcept {
  return *static_cast<StreamPrivate*>(stream->private_data);
}

// The callbacks are C entry points: running out of memory is reported as
// ENOMEM, as the interface has it.
int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
  StreamPrivate& state = stream_state(stream);
  try {
    export_schema(*state.table, out);
  } catch (const std::bad_alloc&) {
    state.out_of_memory = true;
    return ENOMEM;
  }
  return 0;
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
  StreamPrivate& state = stream_state(stream);
  if (state.done) {
    *out = ArrowArray{};  // the end: a released array
    return 0;
  }
  try {
    export_batch(state.table, out);
  } catch (const std::bad_alloc&) {
    state.out_of_memory = true;
    return ENOMEM;
  }
  state.done = true;
  return 0;
}

const char* stream_get_last_error(ArrowArrayStream* stream) noexcept {
  return stream_state(stream).out_of_memory ? "out of memory" : nullptr;
}

void stream_release(ArrowArrayStream* stream) noexcept {
  delete &stream_state(stream);
  stream->release = nullptr;
}

}  // namespace

TableData node_table(const Diff& diff) {
  const auto& nodes = diff.new_or_updated_nodes();
  const std::size_t rows = nodes.size();
  TableData table{.rows = static_cast<std::int64_t>(rows), .columns = {}};
  table.columns.reserve(1 + kFields.size());
  table.columns.push_back(id_column("id", rows));
  for (const FieldDescription& description : kFields) {
    table.columns.push_back(field_column(description, rows));
  }
  std::size_t row = 0;
  for (const auto& [id, update] : nodes) {
    write_id(table.columns[0], row, id);
    all_fields([&]<Field field>() {
      write_field<field>(table.columns[1 + index_of(field)], row, update);
      return true;
    });
    ++row;
  }
  for (std::size_t column = 1; column < table.columns.size(); ++column) {
    finish_field(table.columns[column], rows);
  }
  return table;
}

TableData deleted_node_table(const Diff& diff) {
  const auto& ids = diff.deleted_nodes();
  TableData table{.rows = static_cast<std::int64_t>(ids.size()), .columns = {}};
  table.columns.push_back(id_column("id", ids.size()));
  std::size_t row = 0;
  for (const NodeId& id : ids) {
    write_id(table.columns[0], row++, id);
  }
  return table;
}

TableData edge_table(const Diff& diff) {
  const auto& groups = diff.edges().new_or_updated;
  const std::size_t rows = python::count_pairs(groups);
  TableData table{.rows = static_cast<std::int64_t>(rows), .columns = {}};
  table.columns.reserve(3);
  table.columns.push_back(id_column("source", rows));
  table.columns.push_back(id_column("target", rows));
  table.columns.push_back(weight_column(rows));
  std::size_t row = 0;
  for (const auto& [source, targets] : groups) {
    for (const auto& [target, weight] : targets) {
      write_id(table.columns[0], row, source);
      write_id(table.columns[1], row, target);
      std::memcpy(table.columns[2].data.data() + (row * sizeof weight), &weight, sizeof weight);
      ++row;
    }
  }
  return table;
}

TableData deleted_edge_table(const Diff& diff) {
  const auto& groups = diff.edges().deleted;
  const std::size_t rows = python::count_pairs(groups);
  TableData table{.rows = static_cast<std::int64_t>(rows), .columns = {}};
  table.columns.reserve(2);
  table.columns.push_back(id_column("source", rows));
  table.columns.push_back(id_column("target", rows));
  std::size_t row = 0;
  for (const auto& [source, targets] : groups) {
    for (const NodeId& target : targets) {
      write_id(table.columns[0], row, source);
      write_id(table.columns[1], row, target);
      ++row;
    }
  }
  return table;
}

void export_schema(const TableData& table, ArrowSchema* out) {
  const std::size_t count = table.columns.size();
  auto owned = std::make_unique<SchemaPrivate>();
  owned->children.resize(count);
  owned->pointers.resize(count);
  for (std::size_t index = 0; index < count; ++index) {
    const TableColumn& column = table.columns[index];
    owned->children[index] = ArrowSchema{
        .format = column.format,
        .name = column.name,
        .metadata = nullptr,
        .flags = column.nullable ? kFlagNullable : 0,
        .n_children = 0,
        .children = nullptr,
        .dictionary = nullptr,
        .release = release_column_schema,
        .private_data = nullptr,
    };
    owned->pointers[index] = &owned->children[index];
  }
  ArrowSchema** children = owned->pointers.data();
  *out = ArrowSchema{
      .format = "+s",
      .name = "",
      .metadata = nullptr,
      .flags = 0,
      .n_children = static_cast<std::int64_t>(count),
      .children = children,
      .dictionary = nullptr,
      .release = release_owned<SchemaPrivate, ArrowSchema>,
      .private_data = owned.release(),
  };
}

void export_batch(const std::shared_ptr<const TableData>& table, ArrowArray* out) {
  const std::size_t count = table->columns.size();
  auto batch = std::make_unique<ArrayPrivate>();
  batch->table = table;
  batch->children.resize(count);
  batch->pointers.resize(count);
  std::vector<std::unique_ptr<ArrayPrivate>> columns(count);
  for (auto& column : columns) {
    column = std::make_unique<ArrayPrivate>();
    column->table = table;
  }
  // Nothing below allocates.
  for (std::size_t index = 0; index < count; ++index) {
    const TableColumn& column = table->columns[index];
    ArrayPrivate& owned = *columns[index];
    owned.buffers = {column.null_count > 0 ? column.validity.data() : nullptr,
                     buffer_of(column.data), buffer_of(column.bytes)};
    batch->children[index] = ArrowArray{
        .length = table->rows,
        .null_count = column.null_count,
        .offset = 0,
        .n_buffers = column.buffer_count,
        .n_children = 0,
        .buffers = owned.buffers.data(),
        .children = nullptr,
        .dictionary = nullptr,
        .release = release_owned<ArrayPrivate, ArrowArray>,
        .private_data = columns[index].release(),
    };
    batch->pointers[index] = &batch->children[index];
  }
  const void** buffers = batch->buffers.data();  // the struct's validity: none
  ArrowArray** children = batch->pointers.data();
  *out = ArrowArray{
      .length = table->rows,
      .null_count = 0,
      .offset = 0,
      .n_buffers = 1,
      .n_children = static_cast<std::int64_t>(count),
      .buffers = buffers,
      .children = children,
      .dictionary = nullptr,
      .release = release_owned<ArrayPrivate, ArrowArray>,
      .private_data = batch.release(),
  };
}

void export_stream(std::shared_ptr<const TableData> table, ArrowArrayStream* out) {
  auto owned = std::make_unique<StreamPrivate>();
  owned->table = std::move(table);
  *out = ArrowArrayStream{
      .get_schema = stream_get_schema,
      .get_next = stream_get_next,
      .get_last_error = stream_get_last_error,
      .release = stream_release,
      .private_data = owned.release(),
  };
}

}  // namespace quorl::arrow
