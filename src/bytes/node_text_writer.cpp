#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "bytes/json_text.hpp"
#include "bytes/node_text.hpp"
#include "bytes/size_text.hpp"

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

char* put_string(std::string_view text, char* out) noexcept {
  *out++ = '"';
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
  *out++ = '"';
  return out;
}

char* put_colour(std::uint8_t value, char* out) noexcept {
  if (value >= 100) {
    *out++ = static_cast<char>('0' + value / 100);
  }
  if (value >= 10) {
    *out++ = static_cast<char>('0' + value / 10 % 10);
  }
  *out++ = static_cast<char>('0' + value % 10);
  return out;
}

// The most the value of a present field can take in the text.
template <Field field>
std::size_t longest_value(FieldValue<field> value) noexcept {
  constexpr FieldKind kKind = kind_of(field);
  if constexpr (kKind == FieldKind::text) {
    return 2 + kLongestEscape * value.size();
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
  } else {
    return put(value ? "true" : "false", out);
  }
}

}  // namespace

std::size_t longest_node_text(const NodeUpdate& update) noexcept {
  std::size_t longest = 2;
  all_fields([&]<Field field>() {
    if (const auto value = update.get<field>()) {
      longest += 1 + detail::kMemberName<field>.size() + longest_value<field>(*value);
    }
    return true;
  });
  return longest;
}

char* write_node_text_at(const NodeUpdate& update, char* out) noexcept {
  char separator = '{';
  all_fields([&]<Field field>() {
    if (const auto value = update.get<field>()) {
      *out++ = separator;
      separator = ',';
      // Every key is plain ASCII needing no escape.
      constexpr auto& kName = detail::kMemberName<field>;
      out = put(std::string_view(kName.data(), kName.size()), out);
      out = put_value<field>(*value, out);
    }
    return true;
  });
  return put(separator == '{' ? "{}" : "}", out);
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
