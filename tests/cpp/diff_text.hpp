// Test helpers: short ids, and a sorted text form of node updates and diffs,
// so that expectations read as one line and a failure shows the difference.
#pragma once

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "diff/graph_diff.hpp"
#include "node_fields.hpp"
#include "node_update/node_update.hpp"

namespace quorl::testing {

// An id whose last byte is `tag` and whose other bytes are zero; a letter tag
// renders as that letter.
inline NodeId make_id(std::uint8_t tag) {
  NodeId id{};
  id[15] = tag;
  return id;
}

inline std::string render_id(const NodeId& id) {
  bool tag_only = id[15] >= 'A' && id[15] <= 'Z';
  for (int index = 0; index < 15; ++index) {
    tag_only = tag_only && id[index] == 0;
  }
  if (tag_only) {
    return std::string(1, static_cast<char>(id[15]));
  }
  std::string text;
  for (const std::uint8_t byte : id) {
    text += "0123456789abcdef"[byte >> 4];
    text += "0123456789abcdef"[byte & 15];
  }
  return text;
}

// Shortest round-trip text: distinct floats (0 and -0 included) give distinct
// texts. A NaN also shows its bits, which tell one payload from another.
inline std::string render_float(float value) {
  char buffer[32];
  std::string text(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
  if (std::isnan(value)) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    char* end = std::to_chars(buffer, buffer + sizeof buffer, bits, 16).ptr;
    text.append("(0x").append(buffer, end).append(")");
  }
  return text;
}

// Appends `item` to a space-separated list.
inline void append_item(std::string& list, const std::string& item) {
  if (!list.empty()) {
    list += ' ';
  }
  list += item;
}

// Present fields only, in declared order; the empty update renders as "{}".
inline std::string render(const NodeUpdate& record) {
  const NodeFields update = fields_of(record);
  std::string fields;
  const auto add = [&](const std::string& name, const auto& field, const auto& value_text) {
    if (field.has_value()) {
      append_item(fields, name + '=' + value_text(*field));
    }
  };
  const auto quoted = [](const std::string& text) { return '"' + text + '"'; };
  const auto number = [](std::uint8_t value) { return std::to_string(value); };
  add("label", update.label, quoted);
  add("size", update.size, render_float);
  add("url", update.url, quoted);
  add("red", update.red, number);
  add("green", update.green, number);
  add("blue", update.blue, number);
  add("show_label", update.show_label,
      [](bool value) { return std::string(value ? "true" : "false"); });
  return '{' + fields + '}';
}

// The contents of a diff in sorted containers: what a diff lists, without
// the order in which it lists it. The random test's model keeps this form.
struct SortedDiff {
  std::map<NodeId, NodeUpdate> nodes;
  std::set<NodeId> deleted_nodes;
  std::map<NodeId, std::map<NodeId, float>> edges;
  std::map<NodeId, std::set<NodeId>> deleted_edges;
};

inline SortedDiff sorted(const Diff& diff) {
  SortedDiff result;
  for (const auto& [id, update] : diff.new_or_updated_nodes()) {
    result.nodes.emplace(id, update);
  }
  result.deleted_nodes.insert(diff.deleted_nodes().begin(), diff.deleted_nodes().end());
  for (const auto& [source, targets] : diff.edges().new_or_updated) {
    result.edges[source].insert(targets.begin(), targets.end());
  }
  for (const auto& [source, targets] : diff.edges().deleted) {
    result.deleted_edges[source].insert(targets.begin(), targets.end());
  }
  return result;
}

// Non-empty sections only, e.g. `nodes{A{label="x"}} edges{A{B=1}} deleted_edges{A{C}}`;
// the empty diff renders as "".
inline std::string render(const SortedDiff& diff) {
  std::string text;
  const auto section = [&](const std::string& name, const auto& container,
                           const auto& render_entry) {
    if (container.empty()) {
      return;
    }
    std::string entries;
    for (const auto& entry : container) {
      append_item(entries, render_entry(entry));
    }
    append_item(text, name + '{' + entries + '}');
  };
  const auto inner_list = [](const auto& entry, const auto& render_inner) {
    std::string inner;
    for (const auto& item : entry.second) {
      append_item(inner, render_inner(item));
    }
    return render_id(entry.first) + '{' + inner + '}';
  };
  section("nodes", diff.nodes,
          [](const auto& entry) { return render_id(entry.first) + render(entry.second); });
  section("deleted_nodes", diff.deleted_nodes, render_id);
  section("edges", diff.edges, [&](const auto& entry) {
    return inner_list(entry, [](const auto& pair) {
      return render_id(pair.first) + '=' + render_float(pair.second);
    });
  });
  section("deleted_edges", diff.deleted_edges,
          [&](const auto& entry) { return inner_list(entry, render_id); });
  return text;
}

inline std::string render(const Diff& diff) { return render(sorted(diff)); }

}  // namespace quorl::testing
