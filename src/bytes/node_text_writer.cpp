#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "bytes/json_text.hpp"
#include "bytes/node_text.hpp"
#include "bytes/size_text.hpp"
#include "bytes/text_words.hpp"

namespace quorl {

namespace {

// Most records are a short label and a few numbers; a node's text rarely
// needs more than this, so the buffer rarely grows.
constexpr std::size_t kInitialTextCapacity = 128;

// The longest escape of one byte ("\u001f"), and so the most one byte of a
// label or url can take in the text.
constexpr std::size_t kLongestEscape = 6;

// The escape of each byte below 0x20, '"' and '\\'; an empty entry means the
// byte is copied as is.
std::string_view escape_of(unsigned char byte) noexcept {
  static constexpr std::string_view kControlEscapes[0x20] = {
      "\\u0000", "\\u0001", "\\u0002", "\\u0003", "\\u0004", "\\u0005", "\\u0006", "\\u0007",
      "\\b",     "\\t",     "\\n",     "\\u000b", "\\f",     "\\r",     "\\u000e", "\\u000f",
      "\\u0010", "\\u0011", "\\u0012", "\\u0013", "\\u0014", "\\u0015", "\\u0016", "\\u0017",
      "\\u0018", "\\u0019", "\\u001a", "\\u001b", "\\u001c", "\\u001d", "\\u001e", "\\u001f",
  };
  if (byte < 0x20U) {
    return kControlEscapes[byte];
  }
  if (byte == '"') {
    return "\\\"";
  }
  if (byte == '\\') {
    return "\\\\";
  }
  return {};
}

char* put(std::string_view text, char* out) noexcept {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

using detail::load_half;
using detail::load_word;

// The bytes of `text` from `cursor` on that come before the next byte that
// needs an escape, looked at eight at a time (the last few through a padded
// copy).
const char* plain_run_end(const char* cursor, const char* end) noexcept {
  for (;;) {
    std::uint64_t word = 0x4141414141414141ULL;  // 'A', which needs no escape
    const auto length = std::min<std::size_t>(8, static_cast<std::size_t>(end - cursor));
    std::memcpy(&word, cursor, length);
    if (const std::uint64_t stops = detail::string_stops(word); stops != 0) {
      return cursor + std::countr_zero(stops) / 8;
    }
    if (length < 8) {
      return end;
    }
    cursor += 8;
  }
}

// The string's bytes with the escapes they need, between the quotes.
char* put_escaped(std::string_view text, char* out) noexcept {
  const char* cursor = text.data();
  const char* const end = cursor + text.size();
  while (cursor != end) {
    const char* const run = cursor;
    cursor = plain_run_end(cursor, end);
    out = put(std::string_view(run, static_cast<std::size_t>(cursor - run)), out);
    if (cursor != end) {
      out = put(escape_of(static_cast<unsigned char>(*cursor++)), out);
    }
  }
  return out;
}

// Copies a string that needs no escape, as most do, in whole words: a long
// one eight bytes at a time and its tail as the last eight (overlapping
// what went before), a short one as two overlapping halves or single bytes.
// Every byte is looked at before it counts as written; at the first that
// may need an escape the caller starts again with put_escaped. Writes only
// within the string's own bytes.
bool put_plain(std::string_view text, char* out) noexcept {
  const char* const from = text.data();
  const std::size_t size = text.size();
  if (size >= 8) {
    std::size_t done = 0;
    for (; done + 8 <= size; done += 8) {
      const std::uint64_t word = load_word(from + done);
      if (detail::string_stops(word) != 0) {
        return false;
      }
      std::memcpy(out + done, &word, sizeof word);
    }
    if (done != size) {
      const std::uint64_t last = load_word(from + size - 8);
      if (detail::string_stops(last) != 0) {
        return false;
      }
      std::memcpy(out + size - 8, &last, sizeof last);
    }
    return true;
  }
  if (size >= 4) {
    const std::uint32_t first = load_half(from);
    const std::uint32_t last = load_half(from + size - 4);
    if (detail::string_stops(first | std::uint64_t{last} << 32) != 0) {
      return false;
    }
    std::memcpy(out, &first, sizeof first);
    std::memcpy(out + size - 4, &last, sizeof last);
    return true;
  }
  if (size != 0) {
    // The first, middle and last byte cover every byte of 1..3; the other
    // five bytes of the word are 'A', which needs no escape.
    const auto first = static_cast<unsigned char>(from[0]);
    const auto middle = static_cast<unsigned char>(from[size / 2]);
    const auto last = static_cast<unsigned char>(from[size - 1]);
    const std::uint64_t word =
        0x4141414141000000ULL | first | std::uint64_t{middle} << 8 | std::uint64_t{last} << 16;
    if (detail::string_stops(word) != 0) {
      return false;
    }
    out[0] = from[0];
    out[size / 2] = from[size / 2];
    out[size - 1] = from[size - 1];
  }
  return true;
}

char* put_string(std::string_view text, char* out) noexcept {
  *out++ = '"';
  out = put_plain(text, out) ? out + text.size() : put_escaped(text, out);
  *out++ = '"';
  return out;
}

// The decimal digits of 0..255, left-aligned, and how many there are.
struct ColourDigits {
  std::array<char, 3> digits;
  std::uint8_t count;
};

constexpr std::array<ColourDigits, 256> kColourDigits = [] {
  std::array<ColourDigits, 256> table{};
  for (unsigned value = 0; value < table.size(); ++value) {
    ColourDigits& entry = table[value];
    const auto digit = [](unsigned d) { return static_cast<char>('0' + d); };
    if (value >= 100) {
      entry = {{digit(value / 100), digit(value / 10 % 10), digit(value % 10)}, 3};
    } else if (value >= 10) {
      entry = {{digit(value / 10), digit(value % 10), '0'}, 2};
    } else {
      entry = {{digit(value), '0', '0'}, 1};
    }
  }
  return table;
}();

// All three places are written, as the value's room is three bytes; only
// the digits count.
char* put_colour(std::uint8_t value, char* out) noexcept {
  const ColourDigits& entry = kColourDigits[value];
  std::memcpy(out, entry.digits.data(), entry.digits.size());
  return out + entry.count;
}

// The most the value of a present field can take in the text, a label or
// url taken as needing no escape; `escapable` counts the bytes of those.
template <Field field>
std::size_t longest_plain_value(FieldValue<field> value, std::size_t& escapable) noexcept {
  constexpr FieldKind kKind = kind_of(field);
  if constexpr (kKind == FieldKind::text) {
    escapable += value.size();
    return 2 + value.size();
  } else if constexpr (kKind == FieldKind::size) {
    return detail::kLongestSizeText;
  } else if constexpr (kKind == FieldKind::colour) {
    return 3;
  } else {
    return 5;
  }
}

// The value of a present field, by its kind.
template <Field field>
char* put_value(FieldValue<field> value, char* out) noexcept {
  constexpr FieldKind kKind = kind_of(field);
  if constexpr (kKind == FieldKind::text) {
    return put_string(value, out);
  } else if constexpr (kKind == FieldKind::size) {
    return std::isfinite(value) ? detail::write_size_text(value, out) : put("null", out);
  } else if constexpr (kKind == FieldKind::colour) {
    return put_colour(value, out);
  } else if (value) {
    return put("true", out);
  } else {
    return put("false", out);
  }
}

}  // namespace

NodeTextBounds node_text_bounds(const NodeUpdate& update) noexcept {
  std::size_t plain = 2;
  std::size_t escapable = 0;
  all_fields([&]<Field field>() {
    if (const auto value = update.get<field>()) {
      plain +=
          1 + detail::kMemberName<field>.size() + longest_plain_value<field>(*value, escapable);
    }
    return true;
  });
  return {plain, plain + (kLongestEscape - 1) * escapable};
}

std::size_t longest_node_text(const NodeUpdate& update) noexcept {
  return node_text_bounds(update).longest;
}

char* write_node_text_at(const NodeUpdate& update, char* out) noexcept {
  // Every member goes in after a comma, and the first comma then becomes
  // the opening bracket: one constant store per key, and no state carried
  // from field to field.
  char* const first = out;
  all_fields([&]<Field field>() {
    if (const auto value = update.get<field>()) {
      // Every key is plain ASCII needing no escape.
      constexpr auto kMember = [] {
        constexpr auto& kName = detail::kMemberName<field>;
        std::array<char, kName.size() + 1> member{','};
        std::copy(kName.begin(), kName.end(), member.begin() + 1);
        return member;
      }();
      out = put(std::string_view(kMember.data(), kMember.size()), out);
      out = put_value<field>(*value, out);
    }
    return true;
  });
  if (out == first) {
    return put("{}", out);
  }
  *first = '{';
  *out++ = '}';
  return out;
}

void append_node_text(const NodeUpdate& update, std::string& out) {
  const std::size_t start = out.size();
  out.resize_and_overwrite(
      start + longest_node_text(update), [&](char* data, std::size_t /*room*/) {
        return static_cast<std::size_t>(write_node_text_at(update, data + start) - data);
      });
}

std::string write_node_text(const NodeUpdate& update) {
  std::string text;
  text.reserve(kInitialTextCapacity);
  append_node_text(update, text);
  return text;
}

}  // namespace quorl
