// The token level of the node text reader: whitespace, literals, strings,
// numbers, and skipping a whole value of any depth. Every method either
// consumes what it reads and returns success, or returns failure with the
// cursor at (or near) the offending byte.
#pragma once

#include <cstddef>
#include <cstdint>
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

class JsonScanner {
 public:
  explicit JsonScanner(std::string_view text) noexcept
      : cursor_(text.data()), begin_(text.data()), end_(text.data() + text.size()) {}

  // Space, tab, line feed and carriage return; nothing else is whitespace.
  void skip_whitespace() noexcept;

  [[nodiscard]] bool at_end() const noexcept { return cursor_ == end_; }
  [[nodiscard]] std::size_t offset() const noexcept {
    return static_cast<std::size_t>(cursor_ - begin_);
  }

  // True (and consumed) when the next byte is `expected`.
  [[nodiscard]] bool consume(char expected) noexcept;
  [[nodiscard]] bool next_is(char expected) const noexcept {
    return cursor_ != end_ && *cursor_ == expected;
  }

  // True (and consumed) when the text continues with the whole `spelling`
  // ("true", "false" or "null"); a prefix such as "nul" is no match.
  [[nodiscard]] bool consume_literal(std::string_view spelling) noexcept;

  // Reads a string starting at its opening quote and appends its decoded
  // characters to `out`. A surrogate escape must be a high one directly
  // followed by a low one.
  [[nodiscard]] bool read_string(std::string& out);

  // Reads a number; fails unless it follows the JSON grammar.
  [[nodiscard]] std::optional<NumberToken> read_number() noexcept;

  // Skips one well-formed value of any kind and depth. Nesting is tracked on
  // the heap, one bit per open array or object, so that no input can exhaust
  // the C stack. Skipped strings only need their \u escapes to have four
  // hex digits; skipped numbers are checked for grammar, never for range.
  [[nodiscard]] bool skip_value();

 private:
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
