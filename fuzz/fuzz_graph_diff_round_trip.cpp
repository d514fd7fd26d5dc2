// Whatever decodes re-encodes, and the re-encoded bytes decode to the same
// containers (weights bit for bit); encoding is deterministic.
#include <cstddef>
#include <cstdint>
#include <span>

#include "byte_string.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorl;
  const auto decoded = bytes_to_graph_diff(std::span(data, size));
  if (!decoded) {
    return 0;
  }
  const auto encoded = graph_diff_to_bytes(*decoded);
  fuzz::require(encoded.has_value(), "a decoded diff encodes");
  fuzz::require(graph_diff_to_bytes(*decoded).value() == *encoded, "encoding is deterministic");
  const auto again = bytes_to_graph_diff(*encoded);
  fuzz::require(again.has_value(), "encoded bytes decode");
  fuzz::require(fuzz::same_after_round_trip(*decoded, *again), "the containers survive");
  const auto encoded_again = graph_diff_to_bytes(*again);
  fuzz::require(encoded_again.has_value() && encoded_again->size() <= encoded->size(),
                "re-encoding never grows");
  return 0;
}
