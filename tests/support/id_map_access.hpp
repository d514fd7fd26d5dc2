// Lookups that only tests use on IdMap: the diff itself finds entries with
// find and try_emplace.
#pragma once

#include <stdexcept>

namespace quorl::testing_support {

// The value of `key`, which must be there.
template <class Map, class Key>
auto& value_at(Map& map, const Key& key) {
  const auto found = map.find(key);
  if (found == map.end()) {
    throw std::out_of_range("no such key");
  }
  return found->second;
}

// The value of `key`, inserted with a default value when absent.
template <class Map, class Key>
auto& value_for(Map& map, const Key& key) {
  return map.try_emplace(key).first->second;
}

}  // namespace quorl::testing_support
