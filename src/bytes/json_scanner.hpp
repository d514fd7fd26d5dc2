// The token level of the node text reader: whitespace, literals, strings,
// numbers, and skipping a whole value of any depth. Every method either
// consumes what it reads and returns success, or returns failure with the
// cursor at (or near) the offending byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace quorl::detail {

// The text of a number that follows the JSON grammar, and its shape.
struct NumberToken {
  std::string_view text;
  bool negative = false;
  bool integral = false;  // no fraction and no exponent
};

constexpr bool is_json_whitespace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

constexpr bool is_json_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// The one-byte steps are defined here, in the header, so that the reader's
// loops inline them; only the rare, longer paths (escapes, skipping a whole
// value) live in json_scanner.cpp.
class JsonScanner {
 public:
  explicit JsonScanner(std::string_view text) noexcept
      : cursor_(text.data()), begin_(text.data()), end_(text.data() + text.size()) {}

  // Space, tab, line feed and carriage return; nothing else is whitespace.
  void skip_whitespace() noexcept {
    while (cursor_ != end_ && is_json_whitespace(*cursor_)) {
      ++cursor_;
    }
  }

  [[nodiscard]] bool at_end() const noexcept { return cursor_ == end_; }
  [[nodiscard]] std::size_t offset() const noexcept {
    return static_cast<std::size_t>(cursor_ - begin_);
  }

  // True (and consumed) when the next byte is `expected`.
  [[nodiscard]] bool consume(char expected) noexcept {
    if (!next_is(expected)) {
      return false;
    }
    ++cursor_;
    return true;
  }
  [[nodiscard]] bool next_is(char expected) const noexcept {
    return cursor_ != end_ && *cursor_ == expected;
  }

  // True (and consumed) when the text continues with the whole `spelling`
  // ("true", "false" or "null"); a prefix such as "nul" is no match.
  [[nodiscard]] bool consume_literal(std::string_view spelling) noexcept {
    if (static_cast<std::size_t>(end_ - cursor_) < spelling.size() ||
        std::memcmp(cursor_, spelling.data(), spelling.size()) != 0) {
      return false;
    }
    cursor_ += spelling.size();
    return true;
  }

  // Reads a string starting at its opening quote and appends its decoded
  // characters to `out`. A surrogate escape must be a high one directly
  // followed by a low one.
  [[nodiscard]] bool read_string(std::string& out) {
    // Most strings hold no escape: one run up to the closing quote.
    if (!next_is('"')) {
      return false;
    }
    const char* const run = cursor_ + 1;
    const char* last = run;
    while (last != end_ && !ends_plain_run(*last)) {
      ++last;
    }
    if (last == end_ || *last != '"') {
      return read_escaped_string(out);
    }
    out.append(run, last);
    cursor_ = last + 1;
    return true;
  }

  // Reads a number; fails unless it follows the JSON grammar.
  [[nodiscard]] std::optional<NumberToken> read_number() noexcept {
    const char* start = cursor_;
    NumberToken token;
    token.negative = consume('-');
    if (consume('0')) {
      // A leading zero stands alone: "01" is "0" followed by a stray digit,
      // which the caller then refuses.
    } else if (cursor_ != end_ && *cursor_ >= '1' && *cursor_ <= '9') {
      skip_digits();
    } else {
      return std::nullopt;
    }
    token.integral = true;
    if (consume('.')) {
      token.integral = false;
      if (!skip_digits()) {
        return std::nullopt;
      }
    }
    if (consume('e') || consume('E')) {
      token.integral = false;
      if (!consume('+')) {
        (void)consume('-');
      }
      if (!skip_digits()) {
        return std::nullopt;
      }
    }
    token.text = std::string_view(start, static_cast<std::size_t>(cursor_ - start));
    return token;
  }

  // Skips one well-formed value of any kind and depth. Nesting is tracked on
  // the heap, one bit per open array or object, so that no input can exhaust
  // the C stack. Skipped strings only need their \u escapes to have four
  // hex digits; skipped numbers are checked for grammar, never for range.
  [[nodiscard]] bool skip_value();

 private:
  // Bytes that end a run of characters copied as they are.
  static constexpr bool ends_plain_run(char c) noexcept {
    return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20U;
  }

  // Skips a run of digits; true when there was at least one.
  bool skip_digits() noexcept {
    const char* first = cursor_;
    while (cursor_ != end_ && is_json_digit(*cursor_)) {
      ++cursor_;
    }
    return cursor_ != first;
  }

  // read_string for a string with escapes (or a fault) in it.
  [[nodiscard]] bool read_escaped_string(std::string& out);
  template <class Sink>
  [[nodiscard]] bool scan_string(Sink& sink);
  [[nodiscard]] bool skip_string() noexcept;
  [[nodiscard]] bool skip_scalar() noexcept;
  [[nodiscard]] std::optional<std::uint32_t> read_hex_unit() noexcept;
  [[nodiscard]] bool skip_member_name() noexcept;

  const char* cursor_;
  const char* begin_;
  const char* end_;
};

}  // namespace quorl::detail
