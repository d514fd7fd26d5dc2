// The byte form of a whole diff: one self-contained byte string, used to
// store a diff or send it to another process.
//
// Layout (every number little-endian, no alignment, no padding, no header):
//
//   count      8 bytes   unsigned 64-bit: a number of entries or a length
//   id         24 bytes  count 16, then the 16 id bytes
//   text       8 + n     count n, then n bytes of UTF-8, no terminator
//   weight     4 bytes   IEEE-754 binary32, bit for bit
//
//   node section          count N, then N x (id, text)   text = node JSON
//   deleted-node section  count D, then D x id
//   updated-edge block    count S, then S x (source id, count K,
//                                             K x (target id, weight))
//   deleted-edge block    count S, then S x (source id, count K, K x id)
//
// An empty diff is 32 zero bytes. The entries of every container follow its
// order, which the history of edits alone decides, so the same history gives
// the same bytes in every process; equal diffs with other histories may
// encode to different bytes: compare diffs after decoding, never as bytes.
// A decoded diff lists its entries in the order of the bytes, so that
// re-encoding what the encoder wrote gives the same bytes back.
//
// Decoding takes the bytes as they are, with no cross-checks between the
// sections. A key repeated in the input keeps the place of its first
// occurrence and is resolved as follows: a later node entry replaces an
// earlier one (only its text is parsed), ids and deleted targets are held
// once, a later weight for the same target wins, and a later source entry
// replaces the whole inner container of an earlier one. Bytes after the
// deleted-edge block are ignored. Node texts are parsed only once all four
// sections have been read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <tuple>

#include "diff/graph_diff.hpp"

namespace quorl {

// The sizes of the fields in bytes, named once for the encoder, the decoder
// and the columnar readings (which lay ids and weights out as here, without
// the lengths).
inline constexpr std::size_t kCountBytes = 8;
inline constexpr std::size_t kIdLength = std::tuple_size_v<NodeId>;
inline constexpr std::size_t kIdFieldBytes = kCountBytes + kIdLength;
inline constexpr std::size_t kWeightBytes = 4;
// A source entry before its targets: the source's id field and the count K.
inline constexpr std::size_t kGroupHeaderBytes = kIdFieldBytes + kCountBytes;
// The four counts of the sections, all zero for an empty diff.
inline constexpr std::size_t kEmptyDiffBytes = 4 * kCountBytes;

enum class EncodeFailure {
  invalid_utf8,     // a label or url is not UTF-8, so no decoder would accept it
  too_large,        // the byte form would not fit in memory's address range
  length_mismatch,  // the written bytes did not fill the computed length
};

struct EncodeError {
  EncodeFailure cause;
};

enum class DecodeFailure {
  premature_end,           // a field needs more bytes than remain
  size_not_representable,  // a count does not fit std::size_t
  wrong_id_length,         // an id field's length is not 16
  invalid_utf8,            // a node text is not well-formed UTF-8
  invalid_node_text,       // a node text is not a node update's JSON text
};

// Callers only need success or failure; the cause and the input offset at
// which decoding stopped are kept for diagnostics.
struct DecodeError {
  DecodeFailure cause;
  std::size_t offset = 0;
};

// Where an encoding goes: asked once, after the exact length is known, for
// a buffer of that many bytes (or to throw std::bad_alloc). The buffer is
// either filled exactly or the encoding fails; a caller drops the buffer on
// failure.
class ByteSink {
 public:
  virtual std::span<std::uint8_t> allocate(std::size_t length) = 0;

 protected:
  ~ByteSink() = default;
};

// The byte form of `diff`, written into the sink's buffer, so that the bytes
// need no further copy (the Python layer writes straight into a bytes
// object). Fails, rather than write bytes that no decoder would accept, when
// a label or url is not valid UTF-8. No partial output is ever kept.
[[nodiscard]] std::expected<void, EncodeError> graph_diff_to_bytes(const Diff& diff,
                                                                   ByteSink& sink);

// The diff that `bytes` holds. The input is read in place and not retained.
[[nodiscard]] std::expected<Diff, DecodeError> bytes_to_graph_diff(
    std::span<const std::uint8_t> bytes);

}  // namespace quorl
