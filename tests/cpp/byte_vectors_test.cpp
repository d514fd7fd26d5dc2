// Decodes every byte string of tests/vectors/byte_vectors.json, checks the
// containers against the file's description of them, and re-encodes; the
// file's refused byte strings fail with the cause it gives.
#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <boost/json/src.hpp>
#include <fstream>
#include <sstream>

#include "byte_form_support.hpp"
#include "byte_string.hpp"
#include "bytes/node_text.hpp"
#include "id_map_access.hpp"
#include "node_fields.hpp"

namespace quorl {
namespace {

using namespace testing_support;
namespace json = boost::json;

json::array load_vectors(std::string_view list = "vectors") {
  std::ifstream file(QUORL_BYTE_VECTORS);
  std::stringstream contents;
  contents << file.rdbuf();
  return json::parse(contents.str()).as_object().at(list).as_array();
}

std::string string_of(const json::value& value) { return std::string(value.as_string()); }

NodeUpdate update_from(const json::object& fields) {
  testing::NodeFields update;
  for (const auto& [key, value] : fields) {
    if (key == "label") update.label = string_of(value);
    if (key == "url") update.url = string_of(value);
    if (key == "size") update.size = static_cast<float>(value.to_number<double>());
    if (key == "red") update.red = value.to_number<std::uint8_t>();
    if (key == "green") update.green = value.to_number<std::uint8_t>();
    if (key == "blue") update.blue = value.to_number<std::uint8_t>();
    if (key == "show_label") update.show_label = value.as_bool();
  }
  return testing::make_update(update);
}

Diff diff_from(const json::object& vector) {
  Diff::NodeMap nodes;
  for (const auto& node : vector.at("new_or_updated_nodes").as_array()) {
    nodes.emplace(id_from_hex(string_of(node.at("id"))),
                  update_from(node.at("update").as_object()));
  }
  Diff::NodeSet deleted;
  for (const auto& id : vector.at("deleted_nodes").as_array()) {
    deleted.insert(id_from_hex(string_of(id)));
  }
  Diff::Edges edges;
  for (const auto& source : vector.at("new_or_updated_edges").as_array()) {
    auto& targets = testing_support::value_for(edges.new_or_updated,
                                               id_from_hex(string_of(source.at("source"))));
    for (const auto& target : source.at("targets").as_array()) {
      const auto bits =
          static_cast<std::uint32_t>(std::stoul(string_of(target.at("weight_bits")), nullptr, 16));
      targets.emplace(id_from_hex(string_of(target.at("target"))), std::bit_cast<float>(bits));
    }
  }
  for (const auto& source : vector.at("deleted_edges").as_array()) {
    auto& targets =
        testing_support::value_for(edges.deleted, id_from_hex(string_of(source.at("source"))));
    for (const auto& target : source.at("targets").as_array()) {
      targets.insert(id_from_hex(string_of(target)));
    }
  }
  return Diff(std::move(nodes), std::move(deleted), std::move(edges));
}

TEST(ByteVectors, DecodeToTheDescribedContainersAndReEncode) {
  const json::array vectors = load_vectors();
  ASSERT_GE(vectors.size(), 10U);
  for (const auto& entry : vectors) {
    const json::object& vector = entry.as_object();
    SCOPED_TRACE(string_of(vector.at("name")));
    const Bytes bytes = bytes_from_hex(string_of(vector.at("hex")));
    ASSERT_EQ(bytes.size(), vector.at("length").to_number<std::size_t>());
    const auto decoded = bytes_to_graph_diff(bytes);
    ASSERT_TRUE(decoded.has_value());
    const Diff expected = diff_from(vector);
    expect_same_containers(*decoded, expected);

    const auto encoded = graph_diff_to_bytes(*decoded);
    ASSERT_TRUE(encoded.has_value());
    EXPECT_EQ(*encoded, graph_diff_to_bytes(expected).value());
    if (vector.at("canonical").as_bool()) {
      EXPECT_EQ(*encoded, bytes);
    }
    for (const auto& node : vector.at("new_or_updated_nodes").as_array()) {
      const auto id = id_from_hex(string_of(node.at("id")));
      EXPECT_EQ(read_node_text(string_of(node.at("text"))).has_value(), true);
      if (vector.at("canonical").as_bool()) {
        EXPECT_EQ(write_node_text(testing_support::value_at(decoded->new_or_updated_nodes(), id)),
                  string_of(node.at("text")));
      }
    }
  }
}

TEST(ByteVectors, RefusedOnesFailWithTheirCause) {
  const json::array refused = load_vectors("refused");
  ASSERT_GE(refused.size(), 10U);
  for (const auto& entry : refused) {
    const json::object& vector = entry.as_object();
    SCOPED_TRACE(string_of(vector.at("name")));
    const auto decoded = bytes_to_graph_diff(bytes_from_hex(string_of(vector.at("hex"))));
    ASSERT_FALSE(decoded.has_value());
    const std::string cause = string_of(vector.at("cause"));
    const DecodeFailure expected = cause == "premature_end"     ? DecodeFailure::premature_end
                                   : cause == "wrong_id_length" ? DecodeFailure::wrong_id_length
                                   : cause == "invalid_utf8"    ? DecodeFailure::invalid_utf8
                                                                : DecodeFailure::invalid_node_text;
    EXPECT_EQ(decoded.error().cause, expected);
  }
}

}  // namespace
}  // namespace quorl
