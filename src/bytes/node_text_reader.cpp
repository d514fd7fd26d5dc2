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

std::optional<Field> field_of_key(std::string_view key) noexcept {
  for (const FieldDescription& description : kFields) {
    if (description.json_key == key) {
      return description.field;
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
      if (const auto field = field_of_key(key_)) {
        // A known key counts as seen even when its value is null, so a
        // second occurrence fails either way.
        const std::uint32_t bit = 1U << index_of(*field);
        if ((seen & bit) != 0 || !read_field(*field)) {
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
    for (const FieldDescription& description : kFields) {
      scanner_.skip_whitespace();
      if (description.field != kFields.front().field) {
        if (!scanner_.consume(',')) {
          return false;
        }
        scanner_.skip_whitespace();
      }
      if (!read_field(description.field)) {
        return false;
      }
    }
    scanner_.skip_whitespace();
    return scanner_.consume(']');
  }

  // Reads the value of `field`; null leaves it absent.
  bool read_field(Field field) {
    if (scanner_.consume_literal("null")) {
      return true;
    }
    return visit_field(field, [this]<Field known>() { return read_value<known>(); });
  }

  template <Field field>
  bool read_value() {
    constexpr FieldKind kKind = kind_of(field);
    if constexpr (kKind == FieldKind::text) {
      text_.clear();
      if (!scanner_.read_string(text_)) {
        return false;
      }
      update_.set<field>(text_);
      return true;
    } else if constexpr (kKind == FieldKind::flag) {
      const bool is_true = scanner_.consume_literal("true");
      if (!is_true && !scanner_.consume_literal("false")) {
        return false;
      }
      update_.set<field>(is_true);
      return true;
    } else {
      const auto token = scanner_.read_number();
      if (!token) {
        return false;
      }
      const auto value = [&] {
        if constexpr (kKind == FieldKind::size) {
          return detail::size_from_number(*token);
        } else {
          return detail::colour_from_number(*token);
        }
      }();
      if (!value) {
        return false;
      }
      update_.set<field>(*value);
      return true;
    }
  }

  detail::JsonScanner scanner_;
  NodeUpdate update_;
  std::string key_;
  std::string text_;  // a text value, unescaped, before it goes into the record
};

}  // namespace

namespace detail {

std::expected<NodeUpdate, NodeTextError> read_any_node_text(std::string_view text) {
  return NodeTextReader(text).read();
}

}  // namespace detail

std::expected<NodeUpdate, NodeTextError> read_node_text(std::string_view text) {
  // The record is read where the caller receives it, not moved there.
  std::expected<NodeUpdate, NodeTextError> result;
  if (!detail::read_compact_node_text_into(text, *result)) {
    result = detail::read_any_node_text(text);
  }
  return result;
}

}  // namespace quorl
