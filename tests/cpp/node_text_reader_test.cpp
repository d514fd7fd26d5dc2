// What the node text reader accepts, and what record it gives back, as one
// table; then the properties that a table cannot show.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>

#include "bytes/node_text.hpp"
#include "node_fields.hpp"

namespace quorl {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

struct ReadCase {
  std::string text;
  std::optional<testing::NodeFields> expected;  // nullopt: the text is refused
};

std::ostream& operator<<(std::ostream& out, const ReadCase& read_case) {
  return out << ::testing::PrintToString(read_case.text);
}

ReadCase accepts(std::string text, testing::NodeFields expected) {
  return {std::move(text), std::move(expected)};
}
ReadCase refuses(std::string text) { return {std::move(text), std::nullopt}; }

class ReadText : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadText, GivesTheExpectedRecord) {
  const auto read = read_node_text(GetParam().text);
  if (!GetParam().expected) {
    EXPECT_FALSE(read.has_value());
    return;
  }
  ASSERT_TRUE(read.has_value()) << "refused at offset " << read.error().offset;
  EXPECT_TRUE(same_fields(*read, testing::make_update(*GetParam().expected)))
      << "read back as " << write_node_text(*read);
}

const testing::NodeFields kNothing{};

INSTANTIATE_TEST_SUITE_P(
    Forms, ReadText,
    ::testing::Values(
        // The empty record in every spelling.
        accepts("{}", kNothing), accepts("{ }", kNothing), accepts(" \t\r\n{}\n", kNothing),
        accepts("[null,null,null,null,null,null,null]", kNothing),
        accepts("[ null , null,null,null ,null,null,null ]", kNothing),
        accepts(R"({"label":null})", kNothing),
        // Whitespace between any two tokens, and only those four characters.
        accepts(" {\t\"label\"\n:\r\"a\" , \"red\" : 1 } ", {.label = "a", .red = 1}),
        refuses("{\f}"), refuses("{\v}"), refuses("\xc2\xa0{}"),
        // The full record, object and array forms.
        accepts(testing::kEveryFieldText, testing::every_field()),
        accepts(R"({"showLabel":false,"blue":3,"label":"a"})",
                {.label = "a", .blue = 3, .show_label = false}),
        accepts(R"(["a",1.5,"b",1,2,3,false])", testing::every_field(false)),
        accepts(R"([null,null,null,null,null,7,null])", {.blue = 7}), refuses("[]"),
        refuses("[null,null,null,null,null,null]"),
        refuses("[null,null,null,null,null,null,null,null]"),
        refuses("[null,null,null,null,null,null,null,]"),
        refuses("[,null,null,null,null,null,null]"),
        refuses(R"([1,null,null,null,null,null,null])"),
        // Keys: exact, case-sensitive, compared after decoding escapes.
        accepts(R"({"show_label":false})", kNothing), accepts(R"({"Label":"a"})", kNothing),
        accepts(R"({"\u0073ize":2})", {.size = 2.0F}),
        accepts(R"({"\u0073iz\u0065":2})", {.size = 2.0F}), refuses(R"({"\ud800":1})"),
        refuses(R"({label:"a"})"), refuses(R"({'label':"a"})"), refuses(R"({1:2})"),
        // Repeats: known keys never, unknown keys freely.
        refuses(R"({"label":"a","label":"b"})"), refuses(R"({"label":null,"label":"b"})"),
        refuses(R"({"label":"a","label":null})"), refuses(R"({"size":null,"\u0073ize":1})"),
        accepts(R"({"x":1,"x":2})", kNothing),
        // Object punctuation.
        refuses(R"({"size":1,})"), refuses(R"({,})"), refuses(R"({"size" 1})"),
        refuses(R"({"size":1 "red":2})"), refuses(R"({"size":1;"red":2})"), refuses("{"),
        refuses(R"({"size":1)"), refuses(R"({"size":)"), refuses(R"({"size")"),
        // Only whitespace may follow the value.
        accepts("{\"label\":\"a\"} \t\r\n", {.label = "a"}), refuses(R"({"label":"a"}x)"),
        refuses("{}{}"), refuses("{}]"), refuses(std::string("{}\0", 3)),
        // The text must be an object or an array.
        refuses(""), refuses("   "), refuses("null"), refuses("5"), refuses(R"("a")"),
        refuses("true"),
        // Strings: escapes, surrogate pairs, control characters, closing quote.
        accepts(R"({"label":"\"\\\/\b\f\n\r\t"})", {.label = "\"\\/\b\f\n\r\t"}),
        accepts(R"({"label":"\u00e9\u00E9\u0000"})",
                {.label = std::string("\xc3\xa9\xc3\xa9\0", 5)}),
        accepts(R"({"label":"\u20ac\uffff"})", {.label = "\xe2\x82\xac\xef\xbf\xbf"}),
        accepts(R"({"label":"\ud83d\ude00"})", {.label = "\xf0\x9f\x98\x80"}),
        accepts(R"({"label":"\uDBFF\uDFFF"})", {.label = "\xf4\x8f\xbf\xbf"}),
        accepts("{\"url\":\"caf\xc3\xa9 \x7f\"}", {.url = "caf\xc3\xa9 \x7f"}),
        refuses(R"({"label":"\ud83d"})"), refuses(R"({"label":"\ude00"})"),
        refuses(R"({"label":"\ud83d\u0041"})"), refuses(R"({"label":"\ud83dx\ude00"})"),
        refuses(R"({"label":"\ud83d\ud83d"})"), refuses(R"({"label":"\u00e"})"),
        refuses(R"({"label":"\u00eg"})"), refuses(R"({"label":"\x41"})"),
        refuses(R"({"label":"\a"})"), refuses(R"({"label":"\U0041"})"),
        refuses("{\"label\":\"a\nb\"}"), refuses("{\"label\":\"a\tb\"}"),
        refuses(std::string("{\"label\":\"a\0b\"}", 12)), refuses("{\"label\":\"\x1f\"}"),
        refuses(R"({"label":"abc)"), refuses(R"({"label":"abc\)"), refuses(R"({"label":"abc\"})"),
        refuses(R"({"label":1})"), refuses(R"({"label":true})"), refuses(R"({"url":["a"]})"),
        // Colours: digits only, at most 255.
        accepts(R"({"red":0,"green":9,"blue":255})", {.red = 0, .green = 9, .blue = 255}),
        refuses(R"({"red":256})"), refuses(R"({"red":-1})"), refuses(R"({"red":-0})"),
        refuses(R"({"red":1.0})"), refuses(R"({"red":1e2})"), refuses(R"({"red":"1"})"),
        refuses(R"({"red":007})"), refuses(R"({"green":1000})"), refuses(R"({"blue":true})"),
        refuses(R"({"red":+1})"),
        // Sizes: every JSON number.
        accepts(R"({"size":1})", {.size = 1.0F}), accepts(R"({"size":1.0})", {.size = 1.0F}),
        accepts(R"({"size":1e0})", {.size = 1.0F}), accepts(R"({"size":10E-1})", {.size = 1.0F}),
        accepts(R"({"size":1E+0})", {.size = 1.0F}), accepts(R"({"size":0})", {.size = 0.0F}),
        accepts(R"({"size":-0})", {.size = -0.0F}), accepts(R"({"size":-0.0})", {.size = -0.0F}),
        accepts(R"({"size":0.1})", {.size = 0.1F}),
        accepts(R"({"size":-2.5e-3})", {.size = -2.5e-3F}),
        accepts(R"({"size":16777217})", {.size = 16777216.0F}),
        accepts(R"({"size":18446744073709551615})", {.size = 18446744073709551616.0F}),
        accepts(R"({"size":-9223372036854775808})", {.size = -9223372036854775808.0F}),
        accepts(R"({"size":184467440737095516160})", {.size = 184467440737095516160.0F}),
        // Integers that fit 64 bits round once, straight to float: through a
        // double, 2^53 + 2^29 + 1 would first round to the halfway point
        // 2^53 + 2^29 and then to 2^53.
        accepts(R"({"size":9007199791611905})",
                {.size = std::bit_cast<float>(std::uint32_t{0x5A000001})}),
        accepts(R"({"size":3.4028235e38})", {.size = std::numeric_limits<float>::max()}),
        accepts(R"({"size":3.40282356e38})", {.size = std::numeric_limits<float>::max()}),
        accepts(R"({"size":3.4028236e38})", {.size = kInfinity}),
        accepts(R"({"size":3.5e38})", {.size = kInfinity}),
        accepts(R"({"size":-1e300})", {.size = -kInfinity}),
        accepts(R"({"size":1e-46})", {.size = 0.0F}), accepts(R"({"size":1e-400})", {.size = 0.0F}),
        accepts(R"({"size":-1e-400})", {.size = -0.0F}),
        accepts(R"({"size":-0.001e-400})", {.size = -0.0F}), refuses(R"({"size":0.001e312})"),
        accepts(R"({"size":0.0000000000e99999999999999999999})", {.size = 0.0F}),
        accepts(R"({"size":1e-45})", {.size = std::numeric_limits<float>::denorm_min()}),
        refuses(R"({"size":1e400})"), refuses(R"({"size":-1e400})"),
        refuses(R"({"size":100000000000000000000e300})"),
        refuses(R"({"size":1e99999999999999999999})"), refuses(R"({"size":01})"),
        refuses(R"({"size":-01})"), refuses(R"({"size":+1})"), refuses(R"({"size":.5})"),
        refuses(R"({"size":1.})"), refuses(R"({"size":1.e2})"), refuses(R"({"size":1e})"),
        refuses(R"({"size":1e+})"), refuses(R"({"size":-})"), refuses(R"({"size":NaN})"),
        refuses(R"({"size":Infinity})"), refuses(R"({"size":-Infinity})"),
        refuses(R"({"size":0x10})"), refuses(R"({"size":"1"})"), refuses(R"({"size":true})"),
        refuses(R"({"size":[1]})"),
        // Show label and literals.
        accepts(R"({"showLabel":true})", {.show_label = true}),
        accepts(R"({"showLabel":false})", {.show_label = false}), refuses(R"({"showLabel":1})"),
        refuses(R"({"showLabel":"true"})"), refuses(R"({"showLabel":True})"),
        refuses(R"({"showLabel":tru})"), refuses(R"({"showLabel":truex})"),
        refuses(R"({"label":nul})"), refuses(R"({"label":NULL})"), refuses(R"({"label":nullnull})"),
        // Unknown keys: any well-formed value is skipped, however nested.
        accepts(R"({"x":{"a":[1,-2.5e-3,"s",true,false,null,{},[]],"b":{"c":{}}},"red":4})",
                {.red = 4}),
        accepts(R"({"x":[[[[[]]]]],"y":{"z":{"w":{}}}})", kNothing),
        accepts(R"({"x" : [ 1 , { "k" : "v" } ] , "y" : { } })", kNothing),
        accepts(R"({"x":"\ud800","y":"\udc00\u0041"})", kNothing),
        accepts(R"({"x":1e99999,"y":-123456789012345678901234567890})", kNothing),
        accepts(R"({"x":"\u00e9\/"})", kNothing), refuses(R"({"x":01})"), refuses(R"({"x":1.})"),
        refuses(R"({"x":"\u12"})"), refuses(R"({"x":"\q"})"), refuses(R"({"x":[1,]})"),
        refuses(R"({"x":{"a":1,}})"), refuses(R"({"x":[1})"), refuses(R"({"x":{"a":1]})"),
        refuses(R"({"x":{"a"}})"), refuses(R"({"x":{1:2}})"), refuses(R"({"x":[1 2]})"),
        refuses(R"({"x":tru})"), refuses(R"({"x":})"), refuses(R"({"x":[)"), refuses(R"({"x":{)"),
        refuses(R"({"x":"a)"), refuses("{\"x\":\"a\x01\"}"), refuses(R"({"x":undefined})"),
        refuses(R"({"x":'a'})")));

// An unknown key's value nested a million levels deep is skipped without
// recursion: this would exhaust the C stack of a recursive reader.
TEST(ReadText, SkipsValuesNestedAMillionLevelsDeep) {
  constexpr std::size_t kDepth = 1'000'000;
  for (const bool objects : {false, true}) {
    std::string text = R"({"x":)";
    for (std::size_t level = 0; level < kDepth; ++level) {
      text.append(objects ? R"({"k":)" : "[");
    }
    text.append("1");
    text.append(kDepth, objects ? '}' : ']');
    text.append(R"(,"label":"deep"})");
    const auto read = read_node_text(text);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->get<Field::label>(), "deep");

    text.erase(text.size() - 20, 1);  // one closing bracket short
    EXPECT_FALSE(read_node_text(text).has_value());
  }
}

// Whatever the writer produces, the reader gives back: every field, with a
// size read back bit for bit unless it was written as null.
TEST(ReadText, ReadsBackWhatTheWriterWrites) {
  std::mt19937 random(7);
  const auto random_text = [&random]() {
    static constexpr std::string_view kPieces[] = {
        "a", "\"", "\\", "/", "\n", "\x01", "\x1f", "\x7f", "\xc3\xa9", "\xf0\x9f\x98\x80",
        " ", "{"};
    std::string text;
    for (auto count = random() % 6; count > 0; --count) {
      text.append(kPieces[random() % std::size(kPieces)]);
    }
    return text;
  };
  for (int round = 0; round < 20000; ++round) {
    const auto present = static_cast<std::uint32_t>(random());
    testing::NodeFields fields;
    if (present & 1U) fields.label = random_text();
    if (present & 2U) fields.size = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (present & 4U) fields.url = random_text();
    if (present & 8U) fields.red = static_cast<std::uint8_t>(random());
    if (present & 16U) fields.green = static_cast<std::uint8_t>(random());
    if (present & 32U) fields.blue = static_cast<std::uint8_t>(random());
    if (present & 64U) fields.show_label = (random() & 1U) != 0;
    const std::string text = write_node_text(testing::make_update(fields));
    const auto read = read_node_text(text);
    ASSERT_TRUE(read.has_value()) << text;
    if (fields.size && !std::isfinite(*fields.size)) {
      fields.size.reset();
    }
    ASSERT_TRUE(same_fields(*read, testing::make_update(fields))) << text;
  }
}

}  // namespace
}  // namespace quorl
