#include "node_update/node_update.hpp"

#include <utility>

namespace quorl {

static_assert(sizeof(NodeUpdate) == 40,
              "two 16-byte texts, a 4-byte size, 3 colours, 1 byte of bits");

namespace {

// The value of `field` in a form that compares the size by its bits.
template <Field field>
auto comparable(const NodeUpdate& update) noexcept {
  if constexpr (kind_of(field) == FieldKind::size) {
    return update.get<field>().transform(
        [](float size) { return std::bit_cast<std::uint32_t>(size); });
  } else {
    return update.get<field>();
  }
}

}  // namespace

void NodeUpdate::set_text(Field field, SmallText text) noexcept {
  texts_[detail::slot_of(field)] = std::move(text);
  present_ |= presence_bit(field);
}

NodeUpdate& NodeUpdate::operator+=(NodeUpdate incoming) noexcept {
  all_fields([&]<Field field>() {
    if (incoming.has(field)) {
      if constexpr (kind_of(field) == FieldKind::text) {
        set_text(field, std::move(incoming.texts_[detail::slot_of(field)]));
      } else {
        set<field>(*incoming.get<field>());
      }
    }
    return true;
  });
  return *this;
}

bool same_fields(const NodeUpdate& a, const NodeUpdate& b) noexcept {
  return all_fields([&]<Field field>() { return comparable<field>(a) == comparable<field>(b); });
}

}  // namespace quorl
