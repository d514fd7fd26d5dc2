#include "node_update/node_update.hpp"

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diff_text.hpp"

namespace quorl {
namespace {

using testing::render;

float from_bits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

const float kQuietNanWithPayload = from_bits(0x7fc01234U);
const float kSignallingNan = from_bits(0x7f800001U);
const float kNegativeNan = from_bits(0xffc00000U);

const NodeUpdate kFull{
    .label = "x", .size = 2.5F, .url = "u", .red = 1, .green = 2, .blue = 3, .show_label = true};
const NodeUpdate kOtherFull{.label = "y",
                            .size = -1.0F,
                            .url = "v",
                            .red = 255,
                            .green = 0,
                            .blue = 128,
                            .show_label = false};

struct MergeCase {
  std::string name;
  NodeUpdate stored;
  NodeUpdate incoming;
  NodeUpdate expected;
};

class NodeUpdateMerge : public ::testing::TestWithParam<MergeCase> {};

// Expectations are compared through their text form, which tells present
// from absent and every float bit pattern apart (-0.0, NaN payloads).
TEST_P(NodeUpdateMerge, IncomingPresentFieldsWin) {
  const MergeCase& test = GetParam();
  NodeUpdate stored = test.stored;
  stored += test.incoming;
  EXPECT_EQ(render(stored), render(test.expected));
  EXPECT_TRUE(same_fields(stored, test.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NodeUpdateMerge,
    ::testing::Values(
        MergeCase{"EmptyLabelIsPresent", {.label = "x"}, {.label = ""}, {.label = ""}},
        MergeCase{"EmptyUrlIsPresent", {.url = "x"}, {.url = ""}, {.url = ""}},
        MergeCase{"EmptyTextKeptWhenIncomingAbsent",
                  {.label = "", .url = ""},
                  {},
                  {.label = "", .url = ""}},
        MergeCase{"FalseReplacesTrue",
                  {.show_label = true},
                  {.show_label = false},
                  {.show_label = false}},
        MergeCase{
            "AbsentKeepsTrue", {.show_label = true}, {.red = 4}, {.red = 4, .show_label = true}},
        MergeCase{"AbsentKeepsFalse", {.show_label = false}, {}, {.show_label = false}},
        MergeCase{"ZeroReplacesNotAdds", {.red = 255}, {.red = 0}, {.red = 0}},
        MergeCase{"ColourComponentsIndependent",
                  {.red = 10, .green = 20},
                  {.green = 0, .blue = 255},
                  {.red = 10, .green = 0, .blue = 255}},
        MergeCase{"SizeReplaced", {.size = 2.5F}, {.size = 1.0F}, {.size = 1.0F}},
        MergeCase{"NegativeZeroSize", {.size = 0.0F}, {.size = -0.0F}, {.size = -0.0F}},
        MergeCase{"NegativeZeroKept", {.size = -0.0F}, {}, {.size = -0.0F}},
        MergeCase{"NanPayloadCopied",
                  {.size = 1.0F},
                  {.size = kQuietNanWithPayload},
                  {.size = kQuietNanWithPayload}},
        MergeCase{"SignallingNanCopied", {}, {.size = kSignallingNan}, {.size = kSignallingNan}},
        MergeCase{"NegativeNanCopied",
                  {.size = kQuietNanWithPayload},
                  {.size = kNegativeNan},
                  {.size = kNegativeNan}},
        MergeCase{
            "NanReplacedByNumber", {.size = kQuietNanWithPayload}, {.size = 3.0F}, {.size = 3.0F}},
        MergeCase{"DisjointFieldsCombine", {.url = "u"}, {.green = 7}, {.url = "u", .green = 7}},
        MergeCase{"ShowLabelWithoutLabel",
                  {.label = "x"},
                  {.show_label = false},
                  {.label = "x", .show_label = false}},
        MergeCase{"IntoEmptyCopiesIncoming", {}, kFull, kFull},
        MergeCase{"EmptyIncomingChangesNothing", kFull, {}, kFull},
        MergeCase{"EmptyIntoEmpty", {}, {}, {}},
        MergeCase{"FullReplacesFull", kFull, kOtherFull, kOtherFull},
        MergeCase{"LongTextReplacesShort",
                  {.label = "a"},
                  {.label = std::string(1000, 'z')},
                  {.label = std::string(1000, 'z')}}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(NodeUpdateMerge, LaterUpdatesWinFieldByField) {
  NodeUpdate stored{.label = "first", .red = 1};
  stored += NodeUpdate{.label = "second", .size = 4.0F};
  stored += NodeUpdate{.red = 0, .show_label = false};
  EXPECT_EQ(render(stored), R"({label="second" size=4 red=0 show_label=false})");
}

TEST(NodeUpdate, EmptyOnlyWhenEveryFieldIsAbsent) {
  EXPECT_TRUE(NodeUpdate{}.empty());
  // Values that read as "nothing" are still present fields.
  for (const NodeUpdate& update : std::vector<NodeUpdate>{{.label = ""},
                                                          {.size = 0.0F},
                                                          {.url = ""},
                                                          {.red = 0},
                                                          {.green = 0},
                                                          {.blue = 0},
                                                          {.show_label = false}}) {
    EXPECT_FALSE(update.empty()) << render(update);
  }
}

TEST(NodeUpdate, SameFieldsComparesSizeBits) {
  EXPECT_TRUE(same_fields({.size = kQuietNanWithPayload}, {.size = kQuietNanWithPayload}));
  EXPECT_FALSE(same_fields({.size = kQuietNanWithPayload}, {.size = kNegativeNan}));
  EXPECT_FALSE(same_fields({.size = 0.0F}, {.size = -0.0F}));
  EXPECT_FALSE(same_fields({.size = 0.0F}, {}));
  EXPECT_FALSE(same_fields({.label = ""}, {}));
  EXPECT_FALSE(same_fields({.show_label = false}, {}));
  EXPECT_FALSE(same_fields(kFull, kOtherFull));
  EXPECT_TRUE(same_fields(kFull, kFull));
}

}  // namespace
}  // namespace quorl
