// The compact reader (the fast path for the writer's own texts) against the
// general reader: where the compact reader gives a record, the general one
// gives the same; read_node_text, which takes the first and falls back to
// the second, accepts and refuses exactly what the general reader does. Each
// input is tried as it is and, when it reads, as the writer writes its record.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "bytes/node_text.hpp"
#include "fuzz_support.hpp"

namespace {

void compare_readers(std::string_view text) {
  using namespace quorl;
  const auto general = detail::read_any_node_text(text);
  if (const auto compact = detail::read_compact_node_text(text)) {
    fuzz::require(general.has_value(), "the general reader accepts what the compact one does");
    fuzz::require(same_fields(*compact, *general), "both readers give the same record");
  }
  const auto combined = read_node_text(text);
  fuzz::require(combined.has_value() == general.has_value(), "the same texts are refused");
  if (combined) {
    fuzz::require(same_fields(*combined, *general), "read_node_text gives the general record");
  } else {
    fuzz::require(combined.error().offset == general.error().offset,
                  "a refusal stops at the same offset");
  }
}

// Whether the writer's text of `update` is one the compact reader must
// take: no text that needs an escape, and a size written without exponent.
bool plainly_written(const quorl::NodeUpdate& update) {
  using quorl::Field;
  for (const auto text : {update.get<Field::label>(), update.get<Field::url>()}) {
    for (const char c : text.value_or("")) {
      if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20U) {
        return false;
      }
    }
  }
  quorl::NodeUpdate size_only;
  if (const auto size = update.get<Field::size>()) {
    size_only.set<Field::size>(*size);
  }
  const std::string size_text = quorl::write_node_text(size_only);
  return size_text.find('e', std::string_view(R"({"size":)").size()) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  compare_readers(text);
  if (const auto read = quorl::detail::read_any_node_text(text)) {
    const std::string written = quorl::write_node_text(*read);
    compare_readers(written);
    quorl::fuzz::require(
        quorl::detail::read_compact_node_text(written).has_value() || !plainly_written(*read),
        "the compact reader takes the writer's plain texts");
  }
  return 0;
}
