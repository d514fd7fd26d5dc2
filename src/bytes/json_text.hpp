// Pieces shared by the node text writer and its compact reader: the member
// names of the seven keys, and a word-at-a-time test for the bytes that end
// a plain run of a JSON string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "node_update/node_update.hpp"

namespace quorl::detail {

// `"key":` for each field, as the writer writes it.
template <Field field>
inline constexpr auto kMemberName = [] {
  constexpr std::string_view kKey = kFields[index_of(field)].json_key;
  std::array<char, kKey.size() + 3> name{};
  name[0] = '"';
  for (std::size_t index = 0; index < kKey.size(); ++index) {
    name[index + 1] = kKey[index];
  }
  name[kKey.size() + 1] = '"';
  name[kKey.size() + 2] = ':';
  return name;
}();

// The bytes of `word` (eight bytes loaded little-endian) that end a plain
// run of a string: '"', '\\' and those below 0x20, each as its high bit.
// The lowest bit set is exact; higher ones may be false alarms.
constexpr std::uint64_t string_stops(std::uint64_t word) noexcept {
  constexpr std::uint64_t kEveryByte = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  const auto equal_to = [word](unsigned char c) {
    const std::uint64_t difference = word ^ (kEveryByte * c);
    return (difference - kEveryByte) & ~difference;
  };
  const std::uint64_t below_space = (word - kEveryByte * 0x20U) & ~word;
  return (equal_to('"') | equal_to('\\') | below_space) & kHighBits;
}

}  // namespace quorl::detail
