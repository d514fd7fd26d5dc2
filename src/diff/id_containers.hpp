// The hash containers keyed by id that the diff and its index are made of.
#pragma once

#include <functional>

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "diff/node_id.hpp"

namespace quorl {

// How two ids of a type are compared in a hash container.
template <class Id>
struct IdEqualFor {
  using type = std::equal_to<Id>;
};

template <>
struct IdEqualFor<NodeId> {
  using type = NodeIdEqual;
};

template <class Id, class Hash>
using IdSet = boost::unordered_flat_set<Id, Hash, typename IdEqualFor<Id>::type>;

template <class Id, class Value, class Hash>
using IdMap = boost::unordered_flat_map<Id, Value, Hash, typename IdEqualFor<Id>::type>;

}  // namespace quorl
