// Reading imported Arrow columns into the bulk methods' columns. Each
// validates every chunk against the column's schema before it reads an
// item, then reads through the chunk's offset and validity bitmap.
//
//   ids: fixed_size_binary(16) (the arrow.uuid extension included), or
//     binary, large_binary or binary_view whose every item has 16 bytes;
//   weights: float32 or float64;
//   updates: a struct whose children are named like the dictionary keys
//     (utf8, large_utf8 or utf8_view texts; float32 or float64 sizes; any
//     integer colours; bool flags); a null is an absent attribute and
//     children with other names are ignored.
// A struct of one child is read as that child's column of ids or weights.
//
// Failures, each naming the parameter: TypeError for a type that does not
// fit ("argument 'ids': an Arrow column of type int64 holds no 16-byte
// ids"), ValueError for a null item ("argument 'targets': item 17 is null")
// and for a malformed structure ("argument 'ids': malformed Arrow array:
// ..."); a bad item otherwise raises what the single call would raise.
// Single-chunk fixed-size ids and aligned float32 weights are viewed where
// they lie; everything else is copied.
#pragma once

#include <span>

#include "arrow_imports.hpp"
#include "column_conversion.hpp"
#include "diff/graph_diff.hpp"
#include "node_update/node_update.hpp"

namespace quorl::python {

// A column read in place is recorded with `held`, as a viewed buffer is.
[[nodiscard]] bool read_arrow_ids(ImportedColumn& column, const FirstColumn* first,
                                  HeldBuffers& held, IdColumn& out);
[[nodiscard]] bool read_arrow_weights(ImportedColumn& column, const FirstColumn& first,
                                      HeldBuffers& held, WeightColumn& out);
// Records the rows of `column` as the updates of `ids` (add_nodes with a
// struct column): as add_or_update_nodes would record the same rows read as
// dictionaries, each read straight into the diff's records. Returns false
// with the exception set and the diff as it was.
[[nodiscard]] bool add_arrow_updates(ImportedColumn& column, std::span<const NodeId> ids,
                                     Diff& diff);

}  // namespace quorl::python
