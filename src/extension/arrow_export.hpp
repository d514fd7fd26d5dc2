// Tables of the diff's readings as Arrow data: columns built once, owned by
// an immutable TableData, and exported through the C data interface.
//
// Every exported structure shares the table's data and owns the small
// arrays of pointers it hands out, so it outlives the object that exported
// it, and each child can be moved out and released on its own. Release
// callbacks set `release` to NULL, touch no Python object and may run on
// any thread. Nothing here includes Python.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "arrow_c_data.hpp"
#include "diff/graph_diff.hpp"

namespace quorl::arrow {

struct TableColumn {
  TableColumn(const char* column_name, const char* column_format, bool may_be_null = false) noexcept
      : name(column_name), format(column_format), nullable(may_be_null) {}

  const char* name;
  const char* format;
  bool nullable;
  std::int64_t null_count = 0;
  std::vector<std::uint8_t> validity;  // empty where no item is null
  std::vector<std::uint8_t> data;      // the items, or a text's offsets
  std::vector<std::uint8_t> bytes;     // a text's bytes
  std::int64_t buffer_count = 2;
};

struct TableData {
  std::int64_t rows = 0;
  std::vector<TableColumn> columns;
};

// The four tables, rows in the order of the corresponding readings:
//   new or updated nodes: id, label, size, url, red, green, blue, show_label
//     (ids fixed_size_binary(16); label and url utf8, or large_utf8 past
//     2 GiB of text; size float32; colours uint8; show_label bool; nulls
//     where absent);
//   deleted nodes: id;
//   new or updated edges: source, target, weight (float32, the stored bits);
//   deleted edges: source, target.
[[nodiscard]] TableData node_table(const Diff& diff);
[[nodiscard]] TableData deleted_node_table(const Diff& diff);
[[nodiscard]] TableData edge_table(const Diff& diff);
[[nodiscard]] TableData deleted_edge_table(const Diff& diff);

// Fill `out` (a structure the caller provides) with the table's schema, a
// struct of its columns, or with one record batch of all its rows. Throw
// std::bad_alloc, with `out` untouched, when they cannot.
void export_schema(const TableData& table, ArrowSchema* out);
void export_batch(const std::shared_ptr<const TableData>& table, ArrowArray* out);
// Fills `out` with a stream that yields the one record batch (throws as
// above).
void export_stream(std::shared_ptr<const TableData> table, ArrowArrayStream* out);

}  // namespace quorl::arrow
