// UTF-8 helpers shared by the byte form (which validates every text it
// reads) and the node text reader (which turns \u escapes into UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorl::detail {

// True when `text` is well-formed UTF-8 in the strict sense: no overlong
// forms, no encoded surrogates (U+D800..U+DFFF), nothing above U+10FFFF and
// no sequence cut short by the end of the text.
[[nodiscard]] bool is_valid_utf8(std::string_view text) noexcept;

// Appends the UTF-8 form of a Unicode scalar value (never a surrogate, at
// most U+10FFFF; the caller guarantees both).
void append_code_point(std::uint32_t code_point, std::string& out);

}  // namespace quorl::detail
