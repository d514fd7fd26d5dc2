#include "node_update/node_update.hpp"

#include <bit>
#include <utility>

namespace quorl {

namespace {

template <class Field>
void take_if_present(std::optional<Field>& stored, std::optional<Field>& incoming) noexcept {
  if (incoming.has_value()) {
    stored = std::move(incoming);
  }
}

}  // namespace

NodeUpdate& NodeUpdate::operator+=(NodeUpdate incoming) noexcept {
  take_if_present(label, incoming.label);
  take_if_present(size, incoming.size);
  take_if_present(url, incoming.url);
  take_if_present(red, incoming.red);
  take_if_present(green, incoming.green);
  take_if_present(blue, incoming.blue);
  take_if_present(show_label, incoming.show_label);
  return *this;
}

bool NodeUpdate::empty() const noexcept {
  return !label && !size && !url && !red && !green && !blue && !show_label;
}

bool same_fields(const NodeUpdate& a, const NodeUpdate& b) noexcept {
  const auto size_bits = [](const std::optional<float>& size) {
    return size.transform([](float value) { return std::bit_cast<std::uint32_t>(value); });
  };
  return a.label == b.label && size_bits(a.size) == size_bits(b.size) && a.url == b.url &&
         a.red == b.red && a.green == b.green && a.blue == b.blue && a.show_label == b.show_label;
}

}  // namespace quorl
