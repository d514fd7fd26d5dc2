// Where decoding stops: the offset a DecodeError reports, for a refused
// node text (its place in the whole input), a wrong id length and a cut.
#include <gtest/gtest.h>

#include <string>

#include "byte_form_support.hpp"
#include "byte_string.hpp"

namespace quorl {
namespace {

using namespace testing_support;

const NodeId kA = numbered_id(0x00);
const NodeId kB = numbered_id(0x10);

// A node's text starts after the node count, the id field and the text's
// length.
constexpr std::size_t kFirstText = kCountBytes + kIdFieldBytes + kCountBytes;

Bytes one_node_with_text(std::string_view text) {
  return ByteBuilder().count(1).id(kA).text(text).zero_counts(3).bytes();
}

Bytes cut_to(Bytes bytes, std::size_t length) {
  bytes.resize(length);
  return bytes;
}

struct OffsetCase {
  const char* name;
  Bytes bytes;
  DecodeFailure cause;
  std::size_t offset;
};

class DecodeOffset : public testing::TestWithParam<OffsetCase> {};

TEST_P(DecodeOffset, NamesWhereDecodingStopped) {
  const auto decoded = bytes_to_graph_diff(GetParam().bytes);
  ASSERT_FALSE(decoded.has_value());
  EXPECT_EQ(decoded.error().cause, GetParam().cause);
  EXPECT_EQ(decoded.error().offset, GetParam().offset);
}

const Bytes kTwoNodes = ByteBuilder().count(2).id(kA).text("{}").id(kB).text("{}").bytes();

INSTANTIATE_TEST_SUITE_P(
    Failures, DecodeOffset,
    testing::Values(
        // A text is refused at the byte where its reading stopped, counted
        // from the start of the input.
        OffsetCase{"text_with_a_trailing_byte", one_node_with_text("{}x"),
                   DecodeFailure::invalid_node_text, kFirstText + 2},
        OffsetCase{"label_not_a_string", one_node_with_text(R"({"label":1})"),
                   DecodeFailure::invalid_node_text, kFirstText + 9},
        OffsetCase{
            "second_text_refused",
            ByteBuilder().count(2).id(kA).text("{}").id(kB).text("{]").zero_counts(3).bytes(),
            DecodeFailure::invalid_node_text, kFirstText + 2 + kIdFieldBytes + kCountBytes + 1},
        // An id's length is refused once read: the offset is where the id
        // would start.
        OffsetCase{"first_id_length_15",
                   ByteBuilder().count(1).count(15).count(0).count(0).text("{}").bytes(),
                   DecodeFailure::wrong_id_length, 16},
        OffsetCase{"deleted_node_id_length_17",
                   ByteBuilder().count(0).count(1).count(17).id(kA).id(kB).bytes(),
                   DecodeFailure::wrong_id_length, 24},
        // A cut stops at the field that no longer fits: a count at its own
        // start, a text or id after the length that promised more.
        OffsetCase{"cut_inside_the_node_count", Bytes(5, 0), DecodeFailure::premature_end, 0},
        OffsetCase{"cut_inside_the_second_text", cut_to(kTwoNodes, kTwoNodes.size() - 1),
                   DecodeFailure::premature_end, kTwoNodes.size() - 2},
        OffsetCase{"cut_inside_the_second_id", cut_to(kTwoNodes, kFirstText + 2 + kCountBytes + 10),
                   DecodeFailure::premature_end, kFirstText + 2 + kCountBytes},
        OffsetCase{"cut_before_the_edge_sections", kTwoNodes, DecodeFailure::premature_end,
                   kTwoNodes.size()}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

}  // namespace
}  // namespace quorl
