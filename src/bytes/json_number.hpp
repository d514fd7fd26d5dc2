// Conversion of a number token of the node text to the field it fills.
#pragma once

#include <cstdint>
#include <optional>

#include "bytes/json_scanner.hpp"

namespace quorl::detail {

// The size a number stands for. An integer without fraction or exponent
// that fits 64 bits (signed when negative) converts straight to float, so
// that large integers round once; everything else, "-0" included, goes
// through double and is then narrowed. Fails only when the magnitude is too
// large for a double; a magnitude too small for one gives a zero.
[[nodiscard]] std::optional<float> size_from_number(const NumberToken& token) noexcept;

// A colour component: digits only, at most 255.
[[nodiscard]] std::optional<std::uint8_t> colour_from_number(const NumberToken& token) noexcept;

}  // namespace quorl::detail
