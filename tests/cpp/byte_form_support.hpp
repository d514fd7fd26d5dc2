// Helpers for the byte form tests: building byte strings field by field and
// comparing decoded diffs container by container (the byte form is not
// canonical, so diffs are compared, not bytes).
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "byte_string.hpp"
#include "diff/graph_diff.hpp"

namespace quorl::testing_support {

// The encoder's own buffer type, so that encoded and hand-built bytes compare.
using Bytes = ByteString;

inline NodeId numbered_id(std::uint8_t first) {
  NodeId id{};
  for (std::size_t index = 0; index < id.size(); ++index) {
    id[index] = static_cast<std::uint8_t>(first + index);
  }
  return id;
}

inline Bytes bytes_from_hex(std::string_view hex) {
  Bytes bytes;
  for (std::size_t index = 0; index + 1 < hex.size(); index += 2) {
    bytes.push_back(
        static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(index, 2)), nullptr, 16)));
  }
  return bytes;
}

inline NodeId id_from_hex(std::string_view hex) {
  const Bytes bytes = bytes_from_hex(hex);
  NodeId id{};
  std::copy(bytes.begin(), bytes.end(), id.begin());
  return id;
}

// Lays out fields exactly as given, valid or not.
class ByteBuilder {
 public:
  ByteBuilder& count(std::uint64_t value) {
    for (std::size_t index = 0; index < kCountBytes; ++index) {
      bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
    }
    return *this;
  }
  ByteBuilder& id(const NodeId& id) { return count(kIdLength).raw(id.data(), id.size()); }
  ByteBuilder& text(std::string_view text) {
    return count(text.size()).raw(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  ByteBuilder& weight_bits(std::uint32_t bits) {
    for (std::size_t index = 0; index < kWeightBytes; ++index) {
      bytes_.push_back(static_cast<std::uint8_t>(bits >> (8 * index)));
    }
    return *this;
  }
  ByteBuilder& raw(const std::uint8_t* data, std::size_t length) {
    bytes_.insert(bytes_.end(), data, data + length);
    return *this;
  }
  ByteBuilder& zero_counts(int how_many) {
    for (int index = 0; index < how_many; ++index) {
      count(0);
    }
    return *this;
  }
  [[nodiscard]] const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// Same ids in every container, the same weights bit for bit, and node
// updates with the same fields (sizes by their bits).
inline void expect_same_containers(const Diff& actual, const Diff& expected) {
  ASSERT_EQ(actual.new_or_updated_nodes().size(), expected.new_or_updated_nodes().size());
  for (const auto& [id, update] : expected.new_or_updated_nodes()) {
    const auto found = actual.new_or_updated_nodes().find(id);
    ASSERT_NE(found, actual.new_or_updated_nodes().end());
    EXPECT_TRUE(same_fields(found->second, update));
  }
  EXPECT_EQ(actual.deleted_nodes(), expected.deleted_nodes());
  const auto& actual_edges = actual.edges().new_or_updated;
  ASSERT_EQ(actual_edges.size(), expected.edges().new_or_updated.size());
  for (const auto& [source, targets] : expected.edges().new_or_updated) {
    const auto found = actual_edges.find(source);
    ASSERT_NE(found, actual_edges.end());
    ASSERT_EQ(found->second.size(), targets.size());
    for (const auto& [target, weight] : targets) {
      const auto target_found = found->second.find(target);
      ASSERT_NE(target_found, found->second.end());
      EXPECT_EQ(std::bit_cast<std::uint32_t>(target_found->second),
                std::bit_cast<std::uint32_t>(weight));
    }
  }
  EXPECT_EQ(actual.edges().deleted, expected.edges().deleted);
}

}  // namespace quorl::testing_support
