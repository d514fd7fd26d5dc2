#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bytes/byte_writer.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "bytes/node_text.hpp"
#include "bytes/utf8.hpp"

namespace quorl {

namespace {

// Sums field sizes, remembering whether the total ever left std::size_t
// (only conceivable where size_t is 32 bits, but then a wrapped length would
// under-allocate).
class LengthSum {
 public:
  void add(std::size_t bytes) noexcept {
    if (bytes > std::numeric_limits<std::size_t>::max() - total_) {
      overflowed_ = true;
    } else {
      total_ += bytes;
    }
  }

  void add_entries(std::size_t count, std::size_t entry_bytes) noexcept {
    if (entry_bytes != 0 && count > std::numeric_limits<std::size_t>::max() / entry_bytes) {
      overflowed_ = true;
    } else {
      add(count * entry_bytes);
    }
  }

  [[nodiscard]] std::optional<std::size_t> total() const noexcept {
    return overflowed_ ? std::nullopt : std::optional(total_);
  }

 private:
  std::size_t total_ = 0;
  bool overflowed_ = false;
};

// The node texts of a diff, produced before anything is written. They share
// one buffer, with each node's end offset alongside, instead of one string
// per node: a diff of millions of nodes then costs a few large allocations
// rather than millions of small ones.
struct NodeTexts {
  std::string bytes;
  std::vector<std::size_t> ends;

  [[nodiscard]] std::string_view text(std::size_t index) const noexcept {
    const std::size_t start = index == 0 ? 0 : ends[index - 1];
    return std::string_view(bytes).substr(start, ends[index] - start);
  }
};

// Labels and urls are copied into the text byte for byte. Python only ever
// hands over valid UTF-8, but a record that held anything else would yield
// bytes that every decoder refuses, so the encoder checks what it wrote.
//
// The buffer is sized for strings that need no escape, plus the room the
// escapes of any one record could need; a record that does not fit what is
// left (which takes escapes in earlier records) is written once the buffer
// has grown. Sizing for every string byte escaped would reserve up to six
// times the strings' length, for long labels far more than is written.
std::optional<NodeTexts> write_node_texts(const Diff::NodeMap& nodes) {
  NodeTexts texts;
  std::size_t plain = 0;
  std::size_t spare = 0;
  std::size_t longest = 0;
  for (const auto& [id, update] : nodes) {
    const NodeTextBounds bounds = node_text_bounds(update);
    plain += bounds.plain;
    spare = std::max(spare, bounds.longest - bounds.plain);
    longest = std::max(longest, bounds.longest);
  }
  texts.ends.reserve(nodes.size());
  std::size_t capacity = plain + spare;
  std::size_t written = 0;
  auto next = nodes.begin();
  for (;;) {
    texts.bytes.resize_and_overwrite(capacity, [&](char* start, std::size_t room) {
      // Locals, which the text's bytes cannot alias, for the loop.
      char* end = start + written;
      char* const last = start + room;
      auto record = next;
      for (; record != nodes.end(); ++record) {
        // Any record fits while the room left holds the longest of all;
        // only near the end is a record's own bound needed.
        const auto& [id, update] = *record;
        const auto left = static_cast<std::size_t>(last - end);
        if (left < longest && left < longest_node_text(update)) {
          break;
        }
        end = write_node_text_at(update, end);
        texts.ends.push_back(static_cast<std::size_t>(end - start));
      }
      next = record;
      written = static_cast<std::size_t>(end - start);
      return written;
    });
    if (next == nodes.end()) {
      break;
    }
    const auto& [id, update] = *next;
    capacity += std::max(capacity / 2, longest_node_text(update));
  }
  // Every text ends in an ASCII '}', so checking them together checks each.
  if (!detail::is_valid_utf8(texts.bytes)) {
    return std::nullopt;
  }
  return texts;
}

std::optional<std::size_t> encoded_length(const Diff& diff, const NodeTexts& texts) {
  LengthSum length;
  length.add(kEmptyDiffBytes);
  length.add_entries(diff.new_or_updated_nodes().size(), kIdFieldBytes + kCountBytes);
  length.add(texts.bytes.size());
  length.add_entries(diff.deleted_nodes().size(), kIdFieldBytes);
  for (const auto& [source, targets] : diff.edges().new_or_updated) {
    length.add(kGroupHeaderBytes);
    length.add_entries(targets.size(), kIdFieldBytes + kWeightBytes);
  }
  for (const auto& [source, targets] : diff.edges().deleted) {
    length.add(kGroupHeaderBytes);
    length.add_entries(targets.size(), kIdFieldBytes);
  }
  return length.total();
}

void write_sections(const Diff& diff, const NodeTexts& texts, detail::Writer& writer) {
  const auto& nodes = diff.new_or_updated_nodes();
  writer.write_count(nodes.size());
  std::size_t index = 0;
  for (const auto& [id, update] : nodes) {
    writer.write_id(id);
    writer.write_text(texts.text(index++));
  }

  writer.write_count(diff.deleted_nodes().size());
  for (const auto& id : diff.deleted_nodes()) {
    writer.write_id(id);
  }

  writer.write_count(diff.edges().new_or_updated.size());
  for (const auto& [source, targets] : diff.edges().new_or_updated) {
    writer.write_id(source);
    writer.write_count(targets.size());
    for (const auto& [target, weight] : targets) {
      writer.write_id(target);
      writer.write_weight(weight);
    }
  }

  writer.write_count(diff.edges().deleted.size());
  for (const auto& [source, targets] : diff.edges().deleted) {
    writer.write_id(source);
    writer.write_count(targets.size());
    for (const auto& target : targets) {
      writer.write_id(target);
    }
  }
}

}  // namespace

std::expected<void, EncodeError> graph_diff_to_bytes(const Diff& diff, ByteSink& sink) {
  const auto texts = write_node_texts(diff.new_or_updated_nodes());
  if (!texts) {
    return std::unexpected(EncodeError{EncodeFailure::invalid_utf8});
  }
  const auto length = encoded_length(diff, *texts);
  if (!length) {
    return std::unexpected(EncodeError{EncodeFailure::too_large});
  }
  const std::span<std::uint8_t> buffer = sink.allocate(*length);
  detail::Writer writer(buffer);
  write_sections(diff, *texts, writer);
  if (buffer.size() != *length || !writer.filled_exactly()) {
    return std::unexpected(EncodeError{EncodeFailure::length_mismatch});
  }
  return {};
}

}  // namespace quorl
