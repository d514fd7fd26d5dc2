// The decoder's acceptance rules and the encode/decode round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "byte_form_support.hpp"
#include "byte_string.hpp"
#include "bytes/node_text.hpp"
#include "id_map_access.hpp"
#include "node_fields.hpp"
#include "read_back.hpp"

namespace quorl {
namespace {

using namespace testing_support;

const NodeId kA = numbered_id(0x00);
const NodeId kB = numbered_id(0x10);
const NodeId kC = numbered_id(0x20);

std::optional<DecodeFailure> failure_of(const Bytes& bytes) {
  const auto decoded = bytes_to_graph_diff(bytes);
  return decoded ? std::nullopt : std::optional(decoded.error().cause);
}

Bytes one_node_with_text(std::string_view text) {
  return ByteBuilder().count(1).id(kA).text(text).zero_counts(3).bytes();
}

Diff diff_with_every_container() {
  Diff diff;
  diff.add_or_update_node(
      kA, testing::make_update(
              {.label = "a\"\\\n\xc3\xa9", .size = 0.1F, .red = 7, .show_label = false}));
  diff.add_or_update_node(kB, {});
  diff.delete_node(kC);
  (void)diff.add_edge(kA, kB, -0.0F);
  (void)diff.add_edge(kA, kA, std::bit_cast<float>(0x7FC00123U));
  (void)diff.add_edge(kB, kA, 2.5F);
  diff.delete_edge(kB, kC);
  diff.delete_edge(kC, kA);
  return diff;
}

TEST(BytesToGraphDiff, EveryShortInputFails) {
  for (const std::uint8_t fill : std::initializer_list<std::uint8_t>{0x00, 0x01, 0xFF}) {
    for (std::size_t length = 0; length < kEmptyDiffBytes; ++length) {
      EXPECT_EQ(failure_of(Bytes(length, fill)), DecodeFailure::premature_end) << length;
    }
  }
}

TEST(BytesToGraphDiff, EveryTruncationFails) {
  const Bytes bytes = graph_diff_to_bytes(diff_with_every_container()).value();
  ASSERT_TRUE(bytes_to_graph_diff(bytes).has_value());
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(failure_of(prefix), DecodeFailure::premature_end) << length;
  }
}

TEST(BytesToGraphDiff, BytesAfterTheLastSectionAreIgnored) {
  std::mt19937 random(3);
  for (int round = 0; round < 200; ++round) {
    Bytes bytes = graph_diff_to_bytes(diff_with_every_container()).value();
    if (round % 2 == 0) {
      bytes = Bytes(kEmptyDiffBytes, 0);
    }
    const Bytes original = bytes;
    for (auto extra = random() % 64; extra > 0; --extra) {
      bytes.push_back(static_cast<std::uint8_t>(random()));
    }
    const auto decoded = bytes_to_graph_diff(bytes);
    ASSERT_TRUE(decoded.has_value());
    expect_same_containers(*decoded, bytes_to_graph_diff(original).value());
  }
}

struct without_last {
  std::size_t count;
  friend Bytes operator|(Bytes bytes, without_last cut) {
    bytes.resize(bytes.size() - cut.count);
    return bytes;
  }
};

struct MalformedCase {
  const char* name;
  Bytes bytes;
  DecodeFailure failure;
};

class MalformedBytes : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedBytes, FailWithTheirCause) {
  EXPECT_EQ(failure_of(GetParam().bytes), GetParam().failure);
}

Bytes node_id_of_length(std::uint64_t length, std::size_t bytes_following) {
  ByteBuilder builder;
  builder.count(1).count(length);
  const Bytes filler(bytes_following, 0);
  return builder.raw(filler.data(), filler.size()).text("{}").zero_counts(3).bytes();
}

INSTANTIATE_TEST_SUITE_P(
    Fields, MalformedBytes,
    ::testing::Values(
        MalformedCase{"id_length_15", node_id_of_length(15, 15), DecodeFailure::wrong_id_length},
        MalformedCase{"id_length_17", node_id_of_length(17, 17), DecodeFailure::wrong_id_length},
        MalformedCase{"id_length_0", node_id_of_length(0, 0), DecodeFailure::wrong_id_length},
        MalformedCase{"id_length_beyond_input", node_id_of_length(1ULL << 40, 16),
                      DecodeFailure::premature_end},
        MalformedCase{"id_length_max", node_id_of_length(~0ULL, 16), DecodeFailure::premature_end},
        MalformedCase{
            "deleted_target_length_17",
            ByteBuilder().zero_counts(3).count(1).id(kA).count(1).count(17).id(kB).bytes(),
            DecodeFailure::wrong_id_length},
        MalformedCase{"text_length_beyond_input",
                      ByteBuilder().count(1).id(kA).count(100).zero_counts(3).bytes(),
                      DecodeFailure::premature_end},
        MalformedCase{"text_length_max",
                      ByteBuilder().count(1).id(kA).count(~0ULL).zero_counts(3).bytes(),
                      DecodeFailure::premature_end},
        MalformedCase{
            "weight_cut_short",
            ByteBuilder().zero_counts(2).count(1).id(kA).count(1).id(kB).count(0).bytes() |
                without_last(6),
            DecodeFailure::premature_end},
        MalformedCase{"node_count_beyond_entries", ByteBuilder().count(2).id(kA).text("{}").bytes(),
                      DecodeFailure::premature_end},
        MalformedCase{"empty_text", one_node_with_text(""), DecodeFailure::invalid_node_text},
        MalformedCase{"text_not_json", one_node_with_text("label=a"),
                      DecodeFailure::invalid_node_text},
        MalformedCase{"text_json_but_not_a_record", one_node_with_text("[1,2]"),
                      DecodeFailure::invalid_node_text},
        // Texts are parsed only once every section has been read, so a bad
        // text before a truncated section reports the truncation.
        MalformedCase{"bad_text_then_truncation",
                      ByteBuilder().count(1).id(kA).text("not json").zero_counts(2).bytes(),
                      DecodeFailure::premature_end},
        MalformedCase{
            "bad_utf8_then_bad_text",
            ByteBuilder().count(2).id(kA).text("nope").id(kB).text("\xff").zero_counts(3).bytes(),
            DecodeFailure::invalid_utf8}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

struct Utf8Case {
  const char* name;
  std::string label_bytes;
  bool valid;
};

class Utf8Text : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Text, IsCheckedStrictly) {
  const std::string text = "{\"label\":\"" + GetParam().label_bytes + "\"}";
  const auto decoded = bytes_to_graph_diff(one_node_with_text(text));
  if (!GetParam().valid) {
    ASSERT_FALSE(decoded.has_value());
    EXPECT_EQ(decoded.error().cause, DecodeFailure::invalid_utf8);
    return;
  }
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(testing_support::value_at(decoded->new_or_updated_nodes(), kA).get<Field::label>(),
            GetParam().label_bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Text,
    ::testing::Values(
        Utf8Case{"u007f", "\x7f", true}, Utf8Case{"u0080", "\xc2\x80", true},
        Utf8Case{"u07ff", "\xdf\xbf", true}, Utf8Case{"u0800", "\xe0\xa0\x80", true},
        Utf8Case{"ud7ff", "\xed\x9f\xbf", true}, Utf8Case{"ue000", "\xee\x80\x80", true},
        Utf8Case{"uffff", "\xef\xbf\xbf", true}, Utf8Case{"u10000", "\xf0\x90\x80\x80", true},
        Utf8Case{"u10ffff", "\xf4\x8f\xbf\xbf", true},
        Utf8Case{"long_ascii_then_two_bytes", "abcdefghijklmnop\xc3\xa9", true},
        Utf8Case{"overlong_two", "\xc0\x80", false}, Utf8Case{"overlong_two_c1", "\xc1\xbf", false},
        Utf8Case{"overlong_three", "\xe0\x80\x80", false},
        Utf8Case{"overlong_three_high", "\xe0\x9f\xbf", false},
        Utf8Case{"overlong_four", "\xf0\x8f\xbf\xbf", false},
        Utf8Case{"surrogate_low_end", "\xed\xa0\x80", false},
        Utf8Case{"surrogate_high_end", "\xed\xbf\xbf", false},
        Utf8Case{"above_10ffff", "\xf4\x90\x80\x80", false},
        Utf8Case{"lead_f5", "\xf5\x80\x80\x80", false}, Utf8Case{"lead_ff", "\xff", false},
        Utf8Case{"lead_fe", "\xfe", false}, Utf8Case{"lone_continuation", "\x80", false},
        Utf8Case{"continuation_after_ascii_run", "abcdefgh\xbf", false},
        Utf8Case{"truncated_two", "\xc3", false}, Utf8Case{"truncated_three", "\xe2\x82", false},
        Utf8Case{"truncated_four", "\xf0\x9f\x98", false},
        Utf8Case{"two_missing_continuation",
                 "\xc3"
                 "a",
                 false},
        Utf8Case{"four_bad_last", "\xf0\x9f\x98\x41", false}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST(BytesToGraphDiff, TruncatedSequenceAtTheEndOfTheTextFails) {
  // The text's own last byte starts a sequence that the next field completes.
  const Bytes bytes =
      ByteBuilder().count(1).id(kA).text("{}\xc3").count(0x80).zero_counts(3).bytes();
  EXPECT_EQ(failure_of(bytes), DecodeFailure::invalid_utf8);
}

// Repeated keys, which the encoder never writes.
TEST(BytesToGraphDiff, ResolvesRepeatedKeys) {
  const auto decode = [](const ByteBuilder& builder) {
    auto decoded = bytes_to_graph_diff(builder.bytes());
    EXPECT_TRUE(decoded.has_value());
    return decoded.value_or(Diff{});
  };

  const Diff nodes = decode(ByteBuilder()
                                .count(3)
                                .id(kA)
                                .text("{\"label\":\"first\"}")
                                .id(kB)
                                .text("{}")
                                .id(kA)
                                .text("{\"size\":2}")
                                .zero_counts(3));
  ASSERT_EQ(nodes.new_or_updated_nodes().size(), 2U);
  EXPECT_TRUE(same_fields(testing_support::value_at(nodes.new_or_updated_nodes(), kA),
                          testing::make_update({.size = 2.0F})));  // not merged

  const Diff deleted = decode(ByteBuilder().count(0).count(3).id(kA).id(kB).id(kA).zero_counts(2));
  EXPECT_EQ(deleted.deleted_nodes(), (Diff::NodeSet{kA, kB}));
  EXPECT_EQ(deleted.num_nodes(), 2U);

  const Diff weights = decode(ByteBuilder()
                                  .zero_counts(2)
                                  .count(1)
                                  .id(kA)
                                  .count(3)
                                  .id(kB)
                                  .weight_bits(0x3F800000)
                                  .id(kC)
                                  .weight_bits(0x40000000)
                                  .id(kB)
                                  .weight_bits(0x40400000)
                                  .count(0));
  EXPECT_EQ(testing_support::value_at(weights.edges().new_or_updated, kA),
            (Diff::Edges::TargetWeights{{kB, 3.0F}, {kC, 2.0F}}));

  const Diff updated_sources = decode(ByteBuilder()
                                          .zero_counts(2)
                                          .count(3)
                                          .id(kA)
                                          .count(2)
                                          .id(kB)
                                          .weight_bits(0x3F800000)
                                          .id(kC)
                                          .weight_bits(0x3F800000)
                                          .id(kB)
                                          .count(0)
                                          .id(kA)
                                          .count(1)
                                          .id(kA)
                                          .weight_bits(0x40000000)
                                          .count(0));
  EXPECT_EQ(updated_sources.edges().new_or_updated,
            (IdMap<NodeId, Diff::Edges::TargetWeights, IdHash>{{kA, {{kA, 2.0F}}}, {kB, {}}}));

  const Diff deleted_sources = decode(
      ByteBuilder().zero_counts(3).count(2).id(kA).count(3).id(kB).id(kC).id(kB).id(kA).count(1).id(
          kC));
  EXPECT_EQ(testing_support::value_at(deleted_sources.edges().deleted, kA),
            (Diff::Edges::Targets{kC}));

  const Diff repeated_deleted_targets =
      decode(ByteBuilder().zero_counts(3).count(1).id(kA).count(3).id(kB).id(kC).id(kB));
  EXPECT_EQ(testing_support::value_at(repeated_deleted_targets.edges().deleted, kA),
            (Diff::Edges::Targets{kB, kC}));
}

// Groups of every size the decoder fills differently (scanned or indexed),
// with repeated targets: each decodes to what inserting its targets one by
// one gives, in the same order (a target keeps its first place, the last
// weight wins).
TEST(BytesToGraphDiff, RepeatedTargetsResolveAsOneByOneInsertion) {
  std::mt19937 random(5);
  for (const std::size_t count : {2U, 8U, 9U, 32U, 33U, 60U, 128U, 129U, 400U}) {
    std::vector<NodeId> pool(count);
    for (std::size_t index = 0; index < count; ++index) {
      pool[index] = numbered_id(static_cast<std::uint8_t>(index));
      pool[index][0] = static_cast<std::uint8_t>(index >> 8);
    }
    ByteBuilder weights;
    ByteBuilder deleted;
    weights.zero_counts(2).count(1).id(kA).count(count);
    deleted.zero_counts(3).count(1).id(kA).count(count);
    Diff::Edges::TargetWeights expected_weights;
    Diff::Edges::Targets expected_targets;
    for (std::size_t index = 0; index < count; ++index) {
      const NodeId& target = pool[random() % (count / 2 + 1)];
      const auto bits = static_cast<std::uint32_t>(index) + 0x3F800000U;
      weights.id(target).weight_bits(bits);
      deleted.id(target);
      expected_weights.insert_or_assign(target, std::bit_cast<float>(bits));
      expected_targets.insert(target);
    }
    weights.count(0);
    const auto decoded_weights = bytes_to_graph_diff(weights.bytes()).value();
    const auto decoded_targets = bytes_to_graph_diff(deleted.bytes()).value();
    const auto& group = testing_support::value_at(decoded_weights.edges().new_or_updated, kA);
    ASSERT_TRUE(std::ranges::equal(group, expected_weights)) << count;
    // The index built while filling finds every target where it is listed.
    for (auto entry = group.begin(); entry != group.end(); ++entry) {
      ASSERT_EQ(group.find(entry->first), entry) << count;
    }
    ASSERT_TRUE(std::ranges::equal(testing_support::value_at(decoded_targets.edges().deleted, kA),
                                   expected_targets))
        << count;
  }
}

TEST(BytesToGraphDiff, TakesSectionsAsTheyAreWithoutCrossChecks) {
  const Bytes bytes = ByteBuilder()
                          .count(1)
                          .id(kA)
                          .text("{}")
                          .count(1)
                          .id(kA)
                          .count(1)
                          .id(kA)
                          .count(1)
                          .id(kA)
                          .weight_bits(0x3F800000)
                          .count(1)
                          .id(kA)
                          .count(1)
                          .id(kA)
                          .bytes();
  const auto decoded = bytes_to_graph_diff(bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_TRUE(decoded->new_or_updated_nodes().contains(kA));
  EXPECT_TRUE(decoded->deleted_nodes().contains(kA));
  EXPECT_TRUE(testing_support::value_at(decoded->edges().new_or_updated, kA).contains(kA));
  EXPECT_TRUE(testing_support::value_at(decoded->edges().deleted, kA).contains(kA));
  EXPECT_EQ(decoded->num_nodes(), 2U);
  EXPECT_EQ(decoded->num_edges(), 2U);
}

using testing_support::as_read_back;

Diff random_diff(std::mt19937& random) {
  std::vector<NodeId> pool;
  for (std::uint8_t index = 0; index < 24; ++index) {
    NodeId id{};
    id[static_cast<std::size_t>(random() % 16)] = index;
    id[15] ^= static_cast<std::uint8_t>(index * 37);
    pool.push_back(id);
  }
  const auto any_id = [&]() { return pool[random() % pool.size()]; };
  const auto weight = [&]() {
    return random() % 4 == 0 ? std::bit_cast<float>(static_cast<std::uint32_t>(random()))
                             : static_cast<float>(random() % 1000) / 8.0F;
  };
  const auto text = [&]() {
    static constexpr std::string_view kPieces[] = {"x",    "\"",       "\\", "\n",
                                                   "\x1f", "\xc3\xa9", " ",  "\xf0\x9f\x98\x80"};
    std::string result;
    for (auto count = random() % 4; count > 0; --count) {
      result.append(kPieces[random() % std::size(kPieces)]);
    }
    return result;
  };
  Diff diff;
  for (auto operation = random() % 120; operation > 0; --operation) {
    switch (random() % 6) {
      case 0:
      case 1: {
        testing::NodeFields update;
        const auto present = static_cast<std::uint32_t>(random());
        if (present & 1U) update.label = text();
        if (present & 2U) update.size = weight();
        if (present & 4U) update.url = text();
        if (present & 8U) update.red = static_cast<std::uint8_t>(random());
        if (present & 16U) update.green = static_cast<std::uint8_t>(random());
        if (present & 32U) update.blue = static_cast<std::uint8_t>(random());
        if (present & 64U) update.show_label = (random() & 1U) != 0;
        diff.add_or_update_node(any_id(), testing::make_update(update));
        break;
      }
      case 2:
        diff.delete_node(any_id());
        break;
      case 3:
      case 4:
        (void)diff.add_edge(any_id(), any_id(), weight());
        break;
      default:
        diff.delete_edge(any_id(), any_id());
        break;
    }
  }
  return diff;
}

// Bytes that no decoder accepts are not a success.
TEST(GraphDiffToBytes, RefusesTextsThatAreNotUtf8) {
  for (const testing::NodeFields& update :
       {testing::NodeFields{.label = "ok \xff"}, testing::NodeFields{.url = "\xed\xa0\x80"},
        testing::NodeFields{.label = "\xc3"}}) {
    Diff diff;
    diff.add_or_update_node(kB, testing::make_update({.label = "fine"}));
    diff.add_or_update_node(kA, testing::make_update(update));
    const auto encoded = graph_diff_to_bytes(diff);
    ASSERT_FALSE(encoded.has_value());
    EXPECT_EQ(encoded.error().cause, EncodeFailure::invalid_utf8);
  }
}

TEST(GraphDiffBytes, RandomDiffsRoundTrip) {
  std::mt19937 random(11);
  for (int round = 0; round < 500; ++round) {
    const Diff diff = random_diff(random);
    const Bytes bytes = graph_diff_to_bytes(diff).value();
    EXPECT_EQ(graph_diff_to_bytes(diff).value(), bytes);  // no randomness of its own

    const auto decoded = bytes_to_graph_diff(bytes);
    ASSERT_TRUE(decoded.has_value());
    Diff::NodeMap read_back;
    for (const auto& [id, update] : diff.new_or_updated_nodes()) {
      read_back.emplace(id, as_read_back(update));
    }
    const Diff expected(std::move(read_back), diff.deleted_nodes(), diff.edges());
    expect_same_containers(*decoded, expected);
    EXPECT_EQ(decoded->num_nodes(), diff.num_nodes());
    EXPECT_EQ(decoded->num_edges(), diff.num_edges());

    // A decoded diff lists its entries in the order of the bytes, so it
    // encodes as the original does (once sizes that are not finite are
    // read back as absent).
    const Bytes again = graph_diff_to_bytes(*decoded).value();
    EXPECT_EQ(again, graph_diff_to_bytes(expected).value());
    expect_same_containers(bytes_to_graph_diff(again).value(), *decoded);
    if (HasFailure()) {
      return;
    }
  }
}

}  // namespace
}  // namespace quorl
