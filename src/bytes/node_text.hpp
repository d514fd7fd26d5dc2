// The JSON text in which a node's attributes (a NodeUpdate) travel inside
// the byte form of a diff.
//
// Writing gives one exact text per record, since it becomes part of the
// bytes other programs read:
//   - one object, no whitespace, members in the order label, size, url,
//     red, green, blue, showLabel; absent fields are left out, so the empty
//     record is "{}";
//   - strings escape only '"', '\\' and U+0000..U+001F (\b \t \n \f \r, the
//     rest as \u00xx with lowercase hex); everything else is copied as is;
//   - colours are decimal 0..255, showLabel is true or false;
//   - size is the shortest decimal that reads back to the same 32-bit value
//     (see bytes/size_text.hpp), or null for a NaN or an infinity, which
//     therefore read back as absent.
//   Example: {"label":"a","size":1.5,"url":"b","red":1,"green":2,"blue":3,"showLabel":true}
//
// Reading accepts more than writing produces:
//   - an object, or an array of exactly seven elements in the field order;
//   - whitespace (space, tab, LF, CR only) between any two tokens;
//   - null for any field (absent); a known key twice fails, even after null;
//   - unknown keys, repeated or not, whose values may be any well-formed
//     JSON nested to any depth (skipped without recursion; \u escapes in
//     skipped strings need only four hex digits, skipped numbers are never
//     range-checked);
//   - all JSON escapes; a surrogate escape must be part of a pair;
//   - colours as digits only, at most 255; size as any JSON number (an
//     integer that fits 64 bits converts directly, anything else through
//     double, where an overflow such as 1e400 fails and an underflow gives 0);
//   - nothing but whitespace after the closing bracket.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "node_update/node_update.hpp"

namespace quorl {

// Why a text was refused: only for diagnostics, callers test success.
struct NodeTextError {
  std::size_t offset = 0;  // byte offset at which reading stopped
};

// The exact text of `update`. Cannot fail (other than out of memory).
[[nodiscard]] std::string write_node_text(const NodeUpdate& update);

// Appends the text of `update` to `out`; write_node_text in a caller's buffer.
void append_node_text(const NodeUpdate& update, std::string& out);

// A bound of the length of the text of `update`, cheap to compute.
[[nodiscard]] std::size_t longest_node_text(const NodeUpdate& update) noexcept;

// longest_node_text, and the same bound for when the label and url need no
// escape, as nearly all do (up to five bytes a string byte less): for a
// caller that sizes a buffer from many records and makes room as it goes
// for any that need more.
struct NodeTextBounds {
  std::size_t plain = 0;
  std::size_t longest = 0;
};
[[nodiscard]] NodeTextBounds node_text_bounds(const NodeUpdate& update) noexcept;

// Writes the text of `update` at `out`, which has room for
// longest_node_text(update) bytes, and returns the end of what it wrote:
// for a caller that writes many texts into one buffer sized once.
char* write_node_text_at(const NodeUpdate& update, char* out) noexcept;

// The record that `text` describes, or the offset at which it was refused.
[[nodiscard]] std::expected<NodeUpdate, NodeTextError> read_node_text(std::string_view text);

namespace detail {

// The two readers behind read_node_text, apart for the differential fuzz
// target. The compact reader takes only texts in the writer's own form
// (no whitespace, no escapes, known keys in declared order) and gives
// nullopt for anything else, whether the general reader accepts it or not;
// where it gives a record, the general reader gives the same one.
[[nodiscard]] std::optional<NodeUpdate> read_compact_node_text(std::string_view text);
// The same into a fresh record `update`, which on failure holds whatever was
// read before the compact reader gave up.
[[nodiscard]] bool read_compact_node_text_into(std::string_view text, NodeUpdate& update);
[[nodiscard]] std::expected<NodeUpdate, NodeTextError> read_any_node_text(std::string_view text);

}  // namespace detail

}  // namespace quorl
