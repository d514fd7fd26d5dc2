#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "bytes/json_number.hpp"
#include "bytes/json_scanner.hpp"
#include "bytes/node_text.hpp"

namespace quorl {

namespace {

// The keys in field order; the position is also the element index of the
// array form.
constexpr std::array<std::string_view, 7> kKeys = {
    "label", "size", "url", "red", "green", "blue", "showLabel",
};

enum Position : std::size_t { kLabel, kSize, kUrl, kRed, kGreen, kBlue, kShowLabel };

std::optional<std::size_t> position_of_key(std::string_view key) noexcept {
  for (std::size_t position = 0; position < kKeys.size(); ++position) {
    if (kKeys[position] == key) {
      return position;
    }
  }
  return std::nullopt;
}

class NodeTextReader {
 public:
  explicit NodeTextReader(std::string_view text) noexcept : scanner_(text) {}

  std::expected<NodeUpdate, NodeTextError> read() {
    scanner_.skip_whitespace();
    bool read = false;
    if (scanner_.next_is('{')) {
      read = read_object();
    } else if (scanner_.next_is('[')) {
      read = read_array();
    }
    if (read) {
      scanner_.skip_whitespace();
    }
    if (!read || !scanner_.at_end()) {
      return std::unexpected(NodeTextError{scanner_.offset()});
    }
    return std::move(update_);
  }

 private:
  bool read_object() {
    (void)scanner_.consume('{');
    scanner_.skip_whitespace();
    if (scanner_.consume('}')) {
      return true;
    }
    std::uint32_t seen = 0;
    for (;;) {
      key_.clear();
      if (!scanner_.read_string(key_)) {
        return false;
      }
      scanner_.skip_whitespace();
      if (!scanner_.consume(':')) {
        return false;
      }
      scanner_.skip_whitespace();
      if (const auto position = position_of_key(key_)) {
        // A known key counts as seen even when its value is null, so a
        // second occurrence fails either way.
        const std::uint32_t bit = 1U << *position;
        if ((seen & bit) != 0 || !read_field(*position)) {
          return false;
        }
        seen |= bit;
      } else if (!scanner_.skip_value()) {
        return false;
      }
      scanner_.skip_whitespace();
      if (!scanner_.consume(',')) {
        return scanner_.consume('}');
      }
      scanner_.skip_whitespace();
    }
  }

  bool read_array() {
    (void)scanner_.consume('[');
    for (std::size_t position = 0; position < kKeys.size(); ++position) {
      scanner_.skip_whitespace();
      if (position > 0) {
        if (!scanner_.consume(',')) {
          return false;
        }
        scanner_.skip_whitespace();
      }
      if (!read_field(position)) {
        return false;
      }
    }
    scanner_.skip_whitespace();
    return scanner_.consume(']');
  }

  // Reads the value of the field at `position`; null leaves it absent.
  bool read_field(std::size_t position) {
    if (scanner_.consume_literal("null")) {
      return true;
    }
    switch (position) {
      case kLabel:
        return read_text(update_.label);
      case kSize:
        return read_size();
      case kUrl:
        return read_text(update_.url);
      case kRed:
        return read_colour(update_.red);
      case kGreen:
        return read_colour(update_.green);
      case kBlue:
        return read_colour(update_.blue);
      default:
        return read_show_label();
    }
  }

  bool read_text(std::optional<std::string>& field) {
    return scanner_.read_string(field.emplace());
  }

  bool read_size() {
    const auto token = scanner_.read_number();
    if (!token) {
      return false;
    }
    update_.size = detail::size_from_number(*token);
    return update_.size.has_value();
  }

  bool read_colour(std::optional<std::uint8_t>& field) {
    const auto token = scanner_.read_number();
    if (!token) {
      return false;
    }
    field = detail::colour_from_number(*token);
    return field.has_value();
  }

  bool read_show_label() {
    if (scanner_.consume_literal("true")) {
      update_.show_label = true;
    } else if (scanner_.consume_literal("false")) {
      update_.show_label = false;
    }
    return update_.show_label.has_value();
  }

  detail::JsonScanner scanner_;
  NodeUpdate update_;
  std::string key_;
};

}  // namespace

std::expected<NodeUpdate, NodeTextError> read_node_text(std::string_view text) {
  return NodeTextReader(text).read();
}

}  // namespace quorl
