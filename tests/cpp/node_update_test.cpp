#include "node_update/node_update.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "diff_text.hpp"
#include "node_fields.hpp"

namespace quorl {
namespace {

using testing::fields_of;
using testing::make_update;
using testing::NodeFields;
using testing::render;

float from_bits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

const float kQuietNanWithPayload = from_bits(0x7fc01234U);
const float kSignallingNan = from_bits(0x7f800001U);
const float kNegativeNan = from_bits(0xffc00000U);

const NodeFields kFull{
    .label = "x", .size = 2.5F, .url = "u", .red = 1, .green = 2, .blue = 3, .show_label = true};
const NodeFields kOtherFull{.label = "y",
                            .size = -1.0F,
                            .url = "v",
                            .red = 255,
                            .green = 0,
                            .blue = 128,
                            .show_label = false};

struct MergeCase {
  std::string name;
  NodeFields stored;
  NodeFields incoming;
  NodeFields expected;
};

class NodeUpdateMerge : public ::testing::TestWithParam<MergeCase> {};

// Expectations are compared through their text form, which tells present
// from absent and every float bit pattern apart (-0.0, NaN payloads).
TEST_P(NodeUpdateMerge, IncomingPresentFieldsWin) {
  const MergeCase& test = GetParam();
  NodeUpdate stored = make_update(test.stored);
  stored += make_update(test.incoming);
  EXPECT_EQ(render(stored), render(make_update(test.expected)));
  EXPECT_TRUE(same_fields(stored, make_update(test.expected)));
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
  NodeUpdate stored = make_update({.label = "first", .red = 1});
  stored += make_update({.label = "second", .size = 4.0F});
  stored += make_update({.red = 0, .show_label = false});
  EXPECT_EQ(render(stored), R"({label="second" size=4 red=0 show_label=false})");
}

TEST(NodeUpdate, EmptyOnlyWhenEveryFieldIsAbsent) {
  EXPECT_TRUE(NodeUpdate{}.empty());
  // Values that read as "nothing" are still present fields.
  for (const NodeFields& fields : std::vector<NodeFields>{{.label = ""},
                                                          {.size = 0.0F},
                                                          {.url = ""},
                                                          {.red = 0},
                                                          {.green = 0},
                                                          {.blue = 0},
                                                          {.show_label = false}}) {
    EXPECT_FALSE(make_update(fields).empty()) << render(make_update(fields));
  }
}

TEST(NodeUpdate, SameFieldsComparesSizeBits) {
  const auto same = [](const NodeFields& a, const NodeFields& b) {
    return same_fields(make_update(a), make_update(b));
  };
  EXPECT_TRUE(same({.size = kQuietNanWithPayload}, {.size = kQuietNanWithPayload}));
  EXPECT_FALSE(same({.size = kQuietNanWithPayload}, {.size = kNegativeNan}));
  EXPECT_FALSE(same({.size = 0.0F}, {.size = -0.0F}));
  EXPECT_FALSE(same({.size = 0.0F}, {}));
  EXPECT_FALSE(same({.label = ""}, {}));
  EXPECT_FALSE(same({.show_label = false}, {}));
  EXPECT_FALSE(same({.label = "x"}, {.url = "x"}));
  EXPECT_FALSE(same(kFull, kOtherFull));
  EXPECT_TRUE(same(kFull, kFull));
}

// The compact record against the plain one of node_fields.hpp: random
// records merged in random order give the same fields as merging the
// optionals one by one, copies and moves keep them, and equality agrees
// with the plain comparison (size by bits).
class RecordModel {
 public:
  explicit RecordModel(std::uint32_t seed) : random_(seed) {}

  NodeFields random_fields() {
    NodeFields fields;
    if (pick(2) == 0) fields.label = random_text();
    if (pick(2) == 0) fields.size = std::bit_cast<float>(static_cast<std::uint32_t>(random_()));
    if (pick(2) == 0) fields.url = random_text();
    if (pick(3) == 0) fields.red = static_cast<std::uint8_t>(pick(256));
    if (pick(3) == 0) fields.green = static_cast<std::uint8_t>(pick(256));
    if (pick(3) == 0) fields.blue = static_cast<std::uint8_t>(pick(256));
    if (pick(3) == 0) fields.show_label = pick(2) == 0;
    return fields;
  }

  static bool same(const NodeFields& a, const NodeFields& b) {
    const auto bits = [](std::optional<float> size) {
      return size.transform([](float value) { return std::bit_cast<std::uint32_t>(value); });
    };
    return a.label == b.label && bits(a.size) == bits(b.size) && a.url == b.url && a.red == b.red &&
           a.green == b.green && a.blue == b.blue && a.show_label == b.show_label;
  }

 private:
  std::size_t pick(std::size_t bound) { return random_() % bound; }

  // Lengths around the in-place limit of 15 bytes, and a few long ones.
  std::string random_text() {
    static constexpr std::size_t kLengths[] = {0, 1, 10, 14, 15, 16, 17, 40, 300};
    return std::string(kLengths[pick(std::size(kLengths))], static_cast<char>('a' + pick(26)));
  }

  std::mt19937 random_;
};

TEST(NodeUpdate, MatchesThePlainRecordUnderRandomMerges) {
  RecordModel model(20261209);
  for (int round = 0; round < 2000; ++round) {
    NodeFields expected;
    NodeUpdate record;
    for (int step = 0; step < 4; ++step) {
      const NodeFields incoming = model.random_fields();
      testing::merge_fields(expected, incoming);
      NodeUpdate copy = make_update(incoming);
      record += step % 2 == 0 ? NodeUpdate(copy) : std::move(copy);
      ASSERT_TRUE(RecordModel::same(fields_of(record), expected)) << render(record);
      ASSERT_EQ(record.empty(), render(record) == "{}");
    }
    const NodeFields other = model.random_fields();
    EXPECT_EQ(same_fields(record, make_update(other)), RecordModel::same(expected, other));
    NodeUpdate assigned;
    assigned = record;
    EXPECT_TRUE(same_fields(assigned, record));
  }
}

TEST(NodeUpdate, IsCompactAndKeepsShortTextsInPlace) {
  EXPECT_EQ(sizeof(NodeUpdate), 40U);
  EXPECT_EQ(make_update({.label = "node-label", .url = std::string(15, 'u')}).heap_bytes(), 0U);
  EXPECT_EQ(make_update({.label = std::string(16, 'x')}).heap_bytes(), 16U);
}

// Setting a text over another, in place or on the heap either way, leaves
// exactly what a record given only the new text holds.
TEST(NodeUpdate, TextSetOverAnotherIsTheNewTextAlone) {
  const std::vector<std::string> texts = {"", "a", std::string(15, 'p'), std::string(16, 'h'),
                                          std::string(40, 'l')};
  for (const std::string& before : texts) {
    for (const std::string& after : texts) {
      NodeUpdate update;
      update.set<Field::label>(before);
      update.set<Field::label>(after);
      EXPECT_EQ(update.get<Field::label>(), after) << before.size() << " -> " << after.size();
      EXPECT_EQ(update.heap_bytes(), after.size() > 15 ? after.size() : 0U);
      EXPECT_TRUE(same_fields(update, make_update({.label = after})));
    }
  }
}

// Assigning from a larger buffer gives the same text, byte for byte of the
// record, as the constructor: whatever follows the text in the buffer, and
// whatever the text held before (in place or on the heap).
TEST(SmallText, AssignFromABufferMatchesTheConstructor) {
  const std::string buffer = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (std::size_t size = 0; size <= 20; ++size) {
    for (const std::size_t readable : {size, std::size_t{16}, buffer.size()}) {
      if (readable < size) {
        continue;
      }
      for (const std::string_view before : {"", "short", "a text kept on the heap"}) {
        SmallText assigned(before);
        assigned.assign(buffer.data(), size, readable);
        const SmallText constructed(std::string_view(buffer.data(), size));
        ASSERT_EQ(assigned.view(), constructed.view()) << size << " " << readable;
        ASSERT_EQ(assigned.heap_bytes(), constructed.heap_bytes());
        if (size <= SmallText::kInlineCapacity) {
          ASSERT_EQ(std::memcmp(&assigned, &constructed, sizeof assigned), 0) << size;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quorl
