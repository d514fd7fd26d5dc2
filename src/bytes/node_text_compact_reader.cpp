// The reader's fast path: the texts the writer itself produces. It accepts
// only a subset of what the general reader accepts, and for that subset
// builds the same record; everything else it leaves to the general reader.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "bytes/json_scanner.hpp"
#include "bytes/json_text.hpp"
#include "bytes/node_text.hpp"
#include "bytes/text_words.hpp"
#include "node_update/float_narrowing.hpp"

namespace quorl::detail {

namespace {

// Powers of ten that a double holds exactly.
constexpr std::array<double, 23> kExactPowersOfTen = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Whether the bytes at `at`, of which the caller made sure there are
// enough, are `expected`: two word compares (overlapping for a length
// between the word sizes) against constants.
template <std::size_t size>
bool same_bytes(const char* at, const std::array<char, size>& expected) noexcept {
  static_assert(size >= 4 && size <= 16);
  if constexpr (size >= 8) {
    return load_word(at) == load_word(expected.data()) &&
           load_word(at + size - 8) == load_word(expected.data() + size - 8);
  } else {
    return load_half(at) == load_half(expected.data()) &&
           load_half(at + size - 4) == load_half(expected.data() + size - 4);
  }
}

template <std::size_t length>
constexpr std::array<char, length - 1> spelling(const char (&literal)[length]) noexcept {
  std::array<char, length - 1> bytes{};
  for (std::size_t index = 0; index + 1 < length; ++index) {
    bytes[index] = literal[index];
  }
  return bytes;
}

constexpr auto kNull = spelling("null");
constexpr auto kTrue = spelling("true");
constexpr auto kFalse = spelling("false");

class CompactReader {
 public:
  CompactReader(std::string_view text, NodeUpdate& update) noexcept
      : cursor_(text.data()), end_(text.data() + text.size()), update_(update) {}

  bool read() {
    if (remaining() == 2 && cursor_[0] == '{' && cursor_[1] == '}') {
      return true;
    }
    char separator = '{';
    const bool read_all = all_fields([&]<Field field>() {
      constexpr auto& kName = kMemberName<field>;
      if (remaining() <= kName.size() || cursor_[0] != separator ||
          !same_bytes(cursor_ + 1, kName)) {
        return true;  // absent, or not in this form: the end decides
      }
      cursor_ += 1 + kName.size();
      separator = ',';
      return read_value<field>();
    });
    return read_all && separator != '{' && remaining() == 1 && *cursor_ == '}';
  }

 private:
  [[nodiscard]] std::size_t remaining() const noexcept {
    return static_cast<std::size_t>(end_ - cursor_);
  }

  bool next_is(char c) const noexcept { return cursor_ != end_ && *cursor_ == c; }

  template <std::size_t size>
  bool consume_literal(const std::array<char, size>& literal) noexcept {
    if (remaining() < size || !same_bytes(cursor_, literal)) {
      return false;
    }
    cursor_ += size;
    return true;
  }

  template <Field field>
  bool read_value() {
    if (next_is('n')) {
      return consume_literal(kNull);
    }
    constexpr FieldKind kKind = kind_of(field);
    if constexpr (kKind == FieldKind::text) {
      return read_text<field>();
    } else if constexpr (kKind == FieldKind::size) {
      const auto size = read_size();
      if (size) {
        update_.set<field>(*size);
      }
      return size.has_value();
    } else if constexpr (kKind == FieldKind::colour) {
      const auto colour = read_colour();
      if (colour) {
        update_.set<field>(*colour);
      }
      return colour.has_value();
    } else {
      const bool is_true = consume_literal(kTrue);
      if (!is_true && !consume_literal(kFalse)) {
        return false;
      }
      update_.set<field>(is_true);
      return true;
    }
  }

  // A string without escapes or control characters, taken as it is.
  template <Field field>
  bool read_text() {
    if (!next_is('"')) {
      return false;
    }
    const char* const first = ++cursor_;
    while (remaining() >= 8) {
      if (const std::uint64_t stops = string_stops(load_word(cursor_)); stops != 0) {
        cursor_ += std::countr_zero(stops) / 8;
        return end_text<field>(first);
      }
      cursor_ += 8;
    }
    while (cursor_ != end_ && *cursor_ != '"' && *cursor_ != '\\' &&
           static_cast<unsigned char>(*cursor_) >= 0x20U) {
      ++cursor_;
    }
    return end_text<field>(first);
  }

  template <Field field>
  bool end_text(const char* first) {
    if (!next_is('"')) {
      return false;  // an escape, a control character or the end of the text
    }
    update_.set_text<field>(first, static_cast<std::size_t>(cursor_ - first),
                            static_cast<std::size_t>(end_ - first));
    ++cursor_;
    return true;
  }

  // A number with a fraction or an exponent (the writer's form of a size),
  // converted as the general reader converts it: to the nearest double,
  // then narrowed. Here the conversion is one exact operation, so only
  // numbers of at most 19 significant digits that a double holds exactly
  // and small exponents are taken.
  std::optional<float> read_size() noexcept {
    const bool negative = next_is('-');
    cursor_ += negative ? 1 : 0;
    std::uint64_t digits = 0;
    int significant = 0;
    int exponent = 0;
    const auto take_digit = [&] {
      digits = digits * 10 + static_cast<std::uint64_t>(*cursor_++ - '0');
      significant += digits != 0 ? 1 : 0;
    };
    if (next_is('0')) {
      ++cursor_;
    } else if (cursor_ != end_ && *cursor_ >= '1' && *cursor_ <= '9') {
      while (cursor_ != end_ && is_json_digit(*cursor_) && significant < 19) {
        take_digit();
      }
    } else {
      return std::nullopt;
    }
    bool integral = true;
    if (next_is('.')) {
      ++cursor_;
      integral = false;
      const char* const first = cursor_;
      while (cursor_ != end_ && is_json_digit(*cursor_) && significant < 19) {
        take_digit();
        --exponent;
      }
      if (cursor_ == first) {
        return std::nullopt;
      }
    }
    if (next_is('e')) {
      ++cursor_;
      integral = false;
      const bool negative_exponent = next_is('-');
      cursor_ += negative_exponent ? 1 : 0;
      int written = 0;
      const char* const first = cursor_;
      while (cursor_ != end_ && is_json_digit(*cursor_) && written < 1000) {
        written = written * 10 + (*cursor_++ - '0');
      }
      if (cursor_ == first) {
        return std::nullopt;
      }
      exponent += negative_exponent ? -written : written;
    }
    // More digits than taken, an integer (converted otherwise by the
    // general reader), or a conversion that would round twice.
    if ((cursor_ != end_ && is_json_digit(*cursor_)) || integral || digits > (1ULL << 53) ||
        exponent < -22 || exponent > 22) {
      return std::nullopt;
    }
    double value = static_cast<double>(digits);
    const std::size_t power = static_cast<std::size_t>(exponent < 0 ? -exponent : exponent);
    value = exponent < 0 ? value / kExactPowersOfTen[power] : value * kExactPowersOfTen[power];
    return narrow_to_float(negative ? -value : value);
  }

  // 0..255 in digits, without a leading zero.
  std::optional<std::uint8_t> read_colour() noexcept {
    if (cursor_ == end_ || !is_json_digit(*cursor_)) {
      return std::nullopt;
    }
    unsigned value = static_cast<unsigned>(*cursor_++ - '0');
    for (int more = 0; value != 0 && more < 2 && cursor_ != end_ && is_json_digit(*cursor_);
         ++more) {
      value = value * 10 + static_cast<unsigned>(*cursor_++ - '0');
    }
    if ((cursor_ != end_ && is_json_digit(*cursor_)) || value > 255) {
      return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
  }

  const char* cursor_;
  const char* end_;
  NodeUpdate& update_;
};

}  // namespace

bool read_compact_node_text_into(std::string_view text, NodeUpdate& update) {
  return CompactReader(text, update).read();
}

std::optional<NodeUpdate> read_compact_node_text(std::string_view text) {
  NodeUpdate update;
  if (!read_compact_node_text_into(text, update)) {
    return std::nullopt;
  }
  return update;
}

}  // namespace quorl::detail
