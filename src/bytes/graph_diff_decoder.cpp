#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "bytes/byte_reader.hpp"
#include "bytes/graph_diff_bytes.hpp"
#include "bytes/node_text.hpp"

namespace quorl {

namespace {

// Whatever a count field claims, the decoder reserves room for at most this
// many entries per container; beyond that a container grows only as entries
// actually arrive, so a huge count in a short input costs no large allocation.
constexpr std::size_t kMaxReservedEntries = 4096;

std::size_t reservation_for(std::size_t count) noexcept {
  return std::min(count, kMaxReservedEntries);
}

// An edge group of up to this many targets is filled without a lookup per
// target (a scan of half the group, or a probe of its index) and checked
// for repeated targets once it is full, through a scratch table of one-byte
// positions.
constexpr std::size_t kFilledUnchecked = 128;

bool filled_unchecked(std::size_t count) noexcept { return count <= kFilledUnchecked; }

const NodeId& key_of(const NodeId& id) noexcept { return id; }
template <class Value>
const NodeId& key_of(const std::pair<const NodeId, Value>& entry) noexcept {
  return entry.first;
}

// Whether two entries of a group share a key. A scratch table over a cheap,
// unkeyed hash suffices: a group holds at most kFilledUnchecked (128) keys
// here, so even keys crafted to collide cost no more than the scans the
// check replaces.
template <class Group>
bool has_repeated_key(const Group& group) noexcept {
  static_assert(kFilledUnchecked < 256, "positions fit one byte");
  const auto* const first = group.begin();
  const std::size_t size = group.size();
  if (size <= 8) {  // cheaper than clearing the scratch table
    for (std::size_t later = 1; later < size; ++later) {
      for (std::size_t earlier = 0; earlier < later; ++earlier) {
        if (NodeIdEqual{}(key_of(first[earlier]), key_of(first[later]))) {
          return true;
        }
      }
    }
    return false;
  }
  std::array<std::uint8_t, 256> slots{};
  for (std::size_t position = 0; position < size; ++position) {
    const NodeId& key = key_of(first[position]);
    std::size_t slot = unkeyed_mix(key) >> 56;
    for (; slots[slot] != 0; slot = (slot + 1) & 255U) {
      if (NodeIdEqual{}(key_of(first[slots[slot] - 1]), key)) {
        return true;
      }
    }
    slots[slot] = static_cast<std::uint8_t>(position + 1);
  }
  return false;
}

// Resolves repeated keys as insertion one by one would have: a key keeps the
// place of its first occurrence, and the value of its last.
template <class Group>
void resolve_repeated_keys(Group& group) {
  if (!has_repeated_key(group)) {
    return;
  }
  const std::vector<typename Group::value_type> entries(group.begin(), group.end());
  group.clear();
  for (const auto& entry : entries) {
    if constexpr (std::is_same_v<typename Group::value_type, NodeId>) {
      group.insert(entry);
    } else {
      group.insert_or_assign(entry.first, entry.second);
    }
  }
}

// Reads the four sections in order, then parses the node texts. Each step
// returns false at the first failure, which `failure_` then describes.
class DiffDecoder {
 public:
  explicit DiffDecoder(std::span<const std::uint8_t> input) noexcept
      : input_(input), reader_(input) {}

  std::expected<Diff, DecodeError> decode() {
    if (!read_node_texts() || !read_deleted_nodes() || !read_updated_edges() ||
        !read_deleted_edges() || !parse_node_texts()) {
      return std::unexpected(failure_);
    }
    return Diff(std::move(nodes_), std::move(deleted_nodes_), std::move(edges_));
  }

 private:
  template <class Value>
  bool take(std::expected<Value, DecodeFailure> result, Value& out) noexcept {
    if (!result) {
      failure_ = DecodeError{result.error(), reader_.offset()};
      return false;
    }
    out = *result;
    return true;
  }

  bool read_id(NodeId& id) noexcept {
    return reader_.read_whole_id(id) || take(reader_.read_id(), id);
  }

  bool read_id_and_weight(NodeId& id, float& weight) noexcept {
    return reader_.read_whole_id_and_weight(id, weight) ||
           (take(reader_.read_id(), id) && take(reader_.read_weight(), weight));
  }

  // Reads a section's count of entries, reserves room for them in
  // `container` (no more than the cap: the count is untrusted), then reads
  // each entry with `read_entry()`.
  template <class Container, class ReadEntry>
  bool read_section(Container& container, ReadEntry read_entry) {
    std::size_t count = 0;
    if (!take(reader_.read_count(), count)) {
      return false;
    }
    container.reserve(reservation_for(count));
    for (std::size_t entry = 0; entry < count; ++entry) {
      if (!read_entry()) {
        return false;
      }
    }
    return true;
  }

  // The texts stay views into the input until every section has been read;
  // a later entry for the same id replaces the earlier one unparsed.
  bool read_node_texts() {
    return read_section(texts_, [this] {
      NodeId id;
      std::string_view text;
      if (!read_id(id) || !take(reader_.read_text(), text)) {
        return false;
      }
      texts_.insert_or_assign(id, text);
      return true;
    });
  }

  bool read_deleted_nodes() {
    return read_section(deleted_nodes_, [this] {
      NodeId id;
      if (!read_id(id)) {
        return false;
      }
      deleted_nodes_.insert(id);
      return true;
    });
  }

  // A source that comes again keeps its place and replaces the whole inner
  // container it had: the container is emptied and read anew.
  // `read_target(targets, unchecked)` reads one entry of a source's group
  // into `targets`; `unchecked` (std::true_type or std::false_type) says
  // whether it is appended without a lookup, decided once per group. The
  // loop over the sources is its own, not read_section's, so that the
  // decoder's hottest loop is not nested inside a callback.
  template <class Groups, class ReadTarget>
  bool read_edge_groups(Groups& groups, ReadTarget read_target) {
    std::size_t sources = 0;
    if (!take(reader_.read_count(), sources)) {
      return false;
    }
    groups.reserve(reservation_for(sources));
    for (std::size_t entry = 0; entry < sources; ++entry) {
      NodeId source;
      std::size_t count = 0;
      if (!read_id(source) || !take(reader_.read_count(), count)) {
        return false;
      }
      auto& targets = groups.try_emplace(source).first->second;
      targets.clear();
      targets.reserve(reservation_for(count));
      const auto read_targets = [&](auto unchecked) {
        for (std::size_t index = 0; index < count; ++index) {
          if (!read_target(targets, unchecked)) {
            return false;
          }
        }
        return true;
      };
      if (!filled_unchecked(count)) {
        if (!read_targets(std::false_type{})) {
          return false;
        }
      } else {
        if (!read_targets(std::true_type{})) {
          return false;
        }
        resolve_repeated_keys(targets);
      }
    }
    return true;
  }

  bool read_updated_edges() {
    return read_edge_groups(edges_.new_or_updated, [this](auto& targets, auto unchecked) {
      NodeId target;
      float weight = 0;
      if (!read_id_and_weight(target, weight)) {
        return false;
      }
      if constexpr (unchecked) {
        targets.append_unchecked(target, weight);
      } else {
        targets.insert_or_assign(target, weight);
      }
      return true;
    });
  }

  bool read_deleted_edges() {
    return read_edge_groups(edges_.deleted, [this](auto& targets, auto unchecked) {
      NodeId target;
      if (!read_id(target)) {
        return false;
      }
      if constexpr (unchecked) {
        targets.append_unchecked(target);
      } else {
        targets.insert(target);
      }
      return true;
    });
  }

  bool parse_node_texts() {
    nodes_.reserve(texts_.size());
    for (const auto& [id, text] : texts_) {
      auto update = read_node_text(text);
      if (!update) {
        const auto text_offset = static_cast<std::size_t>(
            reinterpret_cast<const std::uint8_t*>(text.data()) - input_.data());
        failure_ =
            DecodeError{DecodeFailure::invalid_node_text, text_offset + update.error().offset};
        return false;
      }
      nodes_.emplace(id, std::move(*update));
    }
    return true;
  }

  std::span<const std::uint8_t> input_;
  detail::Reader reader_;
  DecodeError failure_{DecodeFailure::premature_end};
  IdMap<NodeId, std::string_view, IdHash> texts_;
  Diff::NodeMap nodes_;
  Diff::NodeSet deleted_nodes_;
  Diff::Edges edges_;
};

}  // namespace

std::expected<Diff, DecodeError> bytes_to_graph_diff(std::span<const std::uint8_t> bytes) {
  return DiffDecoder(bytes).decode();
}

}  // namespace quorl
