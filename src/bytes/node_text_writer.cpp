#include <cmath>
#include <cstdint>

#include "bytes/node_text.hpp"
#include "bytes/size_text.hpp"

namespace quorl {

namespace {

// Most records are a short label and a few numbers; a node's text rarely
// needs more than this, so the buffer rarely grows.
constexpr std::size_t kInitialTextCapacity = 128;

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

void append_string(std::string_view text, std::string& out) {
  out.push_back('"');
  std::size_t run_start = 0;
  for (std::size_t index = 0; index < text.size(); ++index) {
    const std::string_view escape = escape_of(static_cast<unsigned char>(text[index]));
    if (escape.empty()) {
      continue;
    }
    out.append(text.substr(run_start, index - run_start));
    out.append(escape);
    run_start = index + 1;
  }
  out.append(text.substr(run_start));
  out.push_back('"');
}

void append_colour(std::uint8_t value, std::string& out) {
  if (value >= 100) {
    out.push_back(static_cast<char>('0' + value / 100));
  }
  if (value >= 10) {
    out.push_back(static_cast<char>('0' + value / 10 % 10));
  }
  out.push_back(static_cast<char>('0' + value % 10));
}

void append_size(float value, std::string& out) {
  if (!std::isfinite(value)) {
    out.append("null");
  } else {
    detail::append_size_text(value, out);
  }
}

// The value of a present field, by its kind.
template <Field field>
void append_value(FieldValue<field> value, std::string& out) {
  constexpr FieldKind kKind = kind_of(field);
  if constexpr (kKind == FieldKind::text) {
    append_string(value, out);
  } else if constexpr (kKind == FieldKind::size) {
    append_size(value, out);
  } else if constexpr (kKind == FieldKind::colour) {
    append_colour(value, out);
  } else {
    out.append(value ? "true" : "false");
  }
}

}  // namespace

void append_node_text(const NodeUpdate& update, std::string& out) {
  bool first = true;
  all_fields([&]<Field field>() {
    if (const auto value = update.get<field>()) {
      out.push_back(first ? '{' : ',');
      first = false;
      // Every key is plain ASCII needing no escape.
      out.push_back('"');
      out.append(kFields[index_of(field)].json_key);
      out.append("\":");
      append_value<field>(*value, out);
    }
    return true;
  });
  out.append(first ? "{}" : "}");
}

std::string write_node_text(const NodeUpdate& update) {
  std::string text;
  text.reserve(kInitialTextCapacity);
  append_node_text(update, text);
  return text;
}

}  // namespace quorl
