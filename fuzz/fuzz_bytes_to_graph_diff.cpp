// Any byte string either decodes or fails cleanly: no crash, no read past
// the input, no leak, no allocation out of proportion to the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "bytes/graph_diff_bytes.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto decoded = quorl::bytes_to_graph_diff(std::span(data, size));
  if (decoded) {
    // Four count fields are the least a diff can be.
    quorl::fuzz::require(size >= 32, "a decoded input holds at least 32 bytes");
    quorl::fuzz::require(decoded->num_nodes() <= size / 24 && decoded->num_edges() <= size / 32,
                         "every decoded entry is backed by input bytes");
  }
  return 0;
}
