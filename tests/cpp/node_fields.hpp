// The node record spelled out with one std::optional per field: how tests
// write records down, and the plain model the compact record is checked
// against.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "node_update/node_update.hpp"

namespace quorl::testing {

struct NodeFields {
  std::optional<std::string> label;
  std::optional<float> size;
  std::optional<std::string> url;
  std::optional<std::uint8_t> red;
  std::optional<std::uint8_t> green;
  std::optional<std::uint8_t> blue;
  std::optional<bool> show_label;
};

// A record with every field present, and its text as the writer gives it.
inline NodeFields every_field(bool show_label = true) {
  return {.label = "a",
          .size = 1.5F,
          .url = "b",
          .red = 1,
          .green = 2,
          .blue = 3,
          .show_label = show_label};
}
inline constexpr const char* kEveryFieldText =
    R"({"label":"a","size":1.5,"url":"b","red":1,"green":2,"blue":3,"showLabel":true})";

inline NodeUpdate make_update(const NodeFields& fields) {
  NodeUpdate update;
  if (fields.label) update.set<Field::label>(*fields.label);
  if (fields.size) update.set<Field::size>(*fields.size);
  if (fields.url) update.set<Field::url>(*fields.url);
  if (fields.red) update.set<Field::red>(*fields.red);
  if (fields.green) update.set<Field::green>(*fields.green);
  if (fields.blue) update.set<Field::blue>(*fields.blue);
  if (fields.show_label) update.set<Field::show_label>(*fields.show_label);
  return update;
}

inline NodeFields fields_of(const NodeUpdate& update) {
  const auto text = [](std::optional<std::string_view> view) {
    return view.transform([](std::string_view value) { return std::string(value); });
  };
  return {text(update.get<Field::label>()), update.get<Field::size>(),
          text(update.get<Field::url>()),   update.get<Field::red>(),
          update.get<Field::green>(),       update.get<Field::blue>(),
          update.get<Field::show_label>()};
}

// The merge written out field by field: a present incoming value replaces
// the stored one.
inline void merge_fields(NodeFields& stored, const NodeFields& incoming) {
  const auto take = [](auto& stored_field, const auto& incoming_field) {
    if (incoming_field.has_value()) {
      stored_field = incoming_field;
    }
  };
  take(stored.label, incoming.label);
  take(stored.size, incoming.size);
  take(stored.url, incoming.url);
  take(stored.red, incoming.red);
  take(stored.green, incoming.green);
  take(stored.blue, incoming.blue);
  take(stored.show_label, incoming.show_label);
}

}  // namespace quorl::testing
