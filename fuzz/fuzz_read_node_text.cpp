// Any text either reads as a node record or is refused cleanly; what it
// reads as is written and read back to the same record (a size that is not
// finite comes back absent), whose text is the same again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bytes/node_text.hpp"
#include "fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorl;
  const auto read = read_node_text(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!read) {
    return 0;
  }
  const std::string text = write_node_text(*read);
  const auto again = read_node_text(text);
  fuzz::require(again.has_value(), "the writer's text reads back");
  fuzz::require(same_fields(*again, fuzz::as_read_back(*read)), "the record survives its text");
  fuzz::require(write_node_text(*again) == write_node_text(fuzz::as_read_back(*read)),
                "a record's text reads back to a record with the same text");
  return 0;
}
