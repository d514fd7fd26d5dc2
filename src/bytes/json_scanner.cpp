#include "bytes/json_scanner.hpp"

#include <vector>

#include "bytes/utf8.hpp"

namespace quorl::detail {

namespace {

constexpr bool is_high_surrogate(std::uint32_t unit) noexcept {
  return unit >= 0xD800U && unit <= 0xDBFFU;
}

constexpr bool is_low_surrogate(std::uint32_t unit) noexcept {
  return unit >= 0xDC00U && unit <= 0xDFFFU;
}

std::optional<char> simple_escape(char letter) noexcept {
  switch (letter) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return std::nullopt;
  }
}

// Where scan_string puts what it decodes: appended to a string, or dropped.
struct AppendingSink {
  static constexpr bool kKeepsCharacters = true;
  std::string& out;

  void append(const char* first, const char* last) { out.append(first, last); }
  void push_back(char c) { out.push_back(c); }
  void append_code_point(std::uint32_t code_point) {
    quorl::detail::append_code_point(code_point, out);
  }
};

struct DiscardingSink {
  static constexpr bool kKeepsCharacters = false;

  void append(const char* /*first*/, const char* /*last*/) noexcept {}
  void push_back(char /*c*/) noexcept {}
};

// One bit per open container: whether it is an object. A std::vector<bool>
// holds a million levels in 125 KiB.
class NestingStack {
 public:
  void push(bool is_object) { levels_.push_back(is_object); }
  void pop() noexcept { levels_.pop_back(); }
  [[nodiscard]] bool empty() const noexcept { return levels_.empty(); }
  [[nodiscard]] bool innermost_is_object() const noexcept { return levels_.back(); }

 private:
  std::vector<bool> levels_;
};

}  // namespace

std::optional<std::uint32_t> JsonScanner::read_hex_unit() noexcept {
  if (end_ - cursor_ < 4) {
    return std::nullopt;
  }
  std::uint32_t unit = 0;
  for (int index = 0; index < 4; ++index) {
    const char c = *cursor_;
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    unit = (unit << 4) | digit;
    ++cursor_;
  }
  return unit;
}

// The one loop over a string's characters, writing the decoded characters
// to `sink`. A sink that keeps nothing has no use for code points, so for it
// a \u escape only needs four hex digits, as skip_value promises.
template <class Sink>
bool JsonScanner::scan_string(Sink& sink) {
  if (!consume('"')) {
    return false;
  }
  for (;;) {
    const char* run = cursor_;
    while (cursor_ != end_ && !ends_plain_run(*cursor_)) {
      ++cursor_;
    }
    sink.append(run, cursor_);
    if (cursor_ == end_ || *cursor_ != '\\') {
      // The closing quote, a raw control character or the end of the text.
      return consume('"');
    }
    ++cursor_;
    if (cursor_ == end_) {
      return false;
    }
    const char letter = *cursor_++;
    if (letter != 'u') {
      const auto decoded = simple_escape(letter);
      if (!decoded) {
        return false;
      }
      sink.push_back(*decoded);
      continue;
    }
    const auto unit = read_hex_unit();
    if (!unit) {
      return false;
    }
    if constexpr (Sink::kKeepsCharacters) {
      if (is_low_surrogate(*unit)) {
        return false;
      }
      std::uint32_t code_point = *unit;
      if (is_high_surrogate(*unit)) {
        if (!consume('\\') || !consume('u')) {
          return false;
        }
        const auto low = read_hex_unit();
        if (!low || !is_low_surrogate(*low)) {
          return false;
        }
        code_point = 0x10000U + ((*unit - 0xD800U) << 10) + (*low - 0xDC00U);
      }
      sink.append_code_point(code_point);
    }
  }
}

bool JsonScanner::read_escaped_string(std::string& out) {
  AppendingSink sink{out};
  return scan_string(sink);
}

bool JsonScanner::skip_string() noexcept {
  DiscardingSink sink;
  return scan_string(sink);
}

bool JsonScanner::skip_scalar() noexcept {
  if (cursor_ == end_) {
    return false;
  }
  switch (*cursor_) {
    case '"':
      return skip_string();
    case 't':
      return consume_literal("true");
    case 'f':
      return consume_literal("false");
    case 'n':
      return consume_literal("null");
    default:
      return read_number().has_value();
  }
}

bool JsonScanner::skip_member_name() noexcept {
  skip_whitespace();
  if (!skip_string()) {
    return false;
  }
  skip_whitespace();
  return consume(':');
}

bool JsonScanner::skip_value() {
  NestingStack open;
  for (;;) {
    // Here a value is due: open a container or skip a scalar.
    skip_whitespace();
    if (consume('[') || consume('{')) {
      const bool is_object = cursor_[-1] == '{';
      skip_whitespace();
      if (!consume(is_object ? '}' : ']')) {
        open.push(is_object);
        if (is_object && !skip_member_name()) {
          return false;
        }
        continue;
      }
    } else if (!skip_scalar()) {
      return false;
    }
    // A value has ended: close containers until one continues with ','.
    for (;;) {
      if (open.empty()) {
        return true;
      }
      skip_whitespace();
      const bool in_object = open.innermost_is_object();
      if (consume(',')) {
        if (in_object && !skip_member_name()) {
          return false;
        }
        break;
      }
      if (!consume(in_object ? '}' : ']')) {
        return false;
      }
      open.pop();
    }
  }
}

}  // namespace quorl::detail
