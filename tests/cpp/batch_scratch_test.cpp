// The scratch algorithms of the batch operations, each against a plain
// model: the numbering of sources and the grouping built on it, the places
// of entries after removals, and the filter of ids.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "diff/id_filter.hpp"
#include "diff/id_hash.hpp"
#include "diff/places_after_removals.hpp"
#include "diff/source_groups.hpp"

namespace quorl {
namespace {

NodeId numbered_id(std::uint32_t number) {
  NodeId id{};
  for (std::size_t byte = 0; byte < 4; ++byte) {
    id[byte] = static_cast<std::uint8_t>(number >> (8 * byte));
  }
  id[15] = 0x77;
  return id;
}

NodeId random_id(std::mt19937_64& random) {
  NodeId id;
  for (auto& byte : id) {
    byte = static_cast<std::uint8_t>(random());
  }
  return id;
}

// Numbers ids whose tags the test chooses, so that they collide, through
// several growths of the table. A fault in growth usually makes a search
// loop for ever, so the check runs in a child process that an alarm ends
// within seconds (it needs milliseconds).
void number_with_tags(std::uint32_t (*tag_of)(std::uint32_t), std::uint32_t ids) {
  batch_detail::GroupNumbers<NodeId> numbers;
  for (std::uint32_t round = 0; round < 2; ++round) {
    for (std::uint32_t number = 0; number < ids; ++number) {
      if (numbers.number(numbered_id(number), tag_of(number)) != number) {
        std::fprintf(stderr, "id %u numbered wrongly in round %u\n", number, round);
        std::exit(1);
      }
    }
  }
  std::exit(numbers.size() == ids ? 0 : 1);
}

TEST(GroupNumbers, NumbersIdsAsTheyFirstComeThroughEveryGrowth) {
  constexpr std::uint32_t kIds = 5000;  // the table grows four times
  const auto spread = +[](std::uint32_t number) { return number * 2654435761U; };
  const auto few_tags = +[](std::uint32_t number) { return number % 5; };
  const auto low_bits_alike = +[](std::uint32_t number) { return number << 16; };
  for (const auto tag_of : {spread, few_tags, low_bits_alike}) {
    ASSERT_EXIT((alarm(10), number_with_tags(tag_of, kIds)), ::testing::ExitedWithCode(0), "");
  }
}

TEST(GroupBySource, GroupsTheItemsLeftInAsTheyFirstCome) {
  std::mt19937_64 random(17);
  for (int round = 0; round < 40; ++round) {
    const std::size_t count = 1 + random() % 6000;
    const std::size_t sources = 1 + random() % (round % 2 == 0 ? 50 : 5000);
    std::vector<NodeId> from;
    std::vector<std::uint8_t> left_out;
    for (std::size_t item = 0; item < count; ++item) {
      from.push_back(numbered_id(static_cast<std::uint32_t>(random() % sources)));
      left_out.push_back(random() % 7 == 0 ? 1 : 0);
    }
    const auto groups = batch_detail::group_by_source<NodeId, IdHash>(from, left_out);
    if (groups.order.empty()) {
      // Only items that already come in runs are taken as they come.
      ASSERT_TRUE(batch_detail::comes_in_runs<NodeId>(from)) << "round " << round;
      continue;
    }
    // The model: groups numbered by first item, items in order within each.
    std::map<NodeId, std::size_t> number_of;
    std::vector<std::vector<std::uint32_t>> model;
    for (std::size_t item = 0; item < count; ++item) {
      if (left_out[item] != 0) {
        continue;
      }
      const auto [entry, added] = number_of.try_emplace(from[item], model.size());
      if (added) {
        model.emplace_back();
      }
      model[entry->second].push_back(static_cast<std::uint32_t>(item));
    }
    ASSERT_EQ(groups.group_end.size(), model.size()) << "round " << round;
    std::vector<std::uint32_t> expected_order;
    for (std::size_t group = 0; group < model.size(); ++group) {
      expected_order.insert(expected_order.end(), model[group].begin(), model[group].end());
      ASSERT_EQ(groups.group_end[group], expected_order.size()) << "round " << round;
    }
    ASSERT_EQ(groups.order, expected_order) << "round " << round;
  }
}

TEST(PlacesAfterRemovals, FollowsTheLastEntryMovingIntoEachHole) {
  std::mt19937_64 random(23);
  for (int round = 0; round < 200; ++round) {
    const std::size_t size = 1 + random() % 300;
    std::vector<std::size_t> container(size);  // original places, as the container holds them
    for (std::size_t place = 0; place < size; ++place) {
      container[place] = place;
    }
    std::vector<std::size_t> removals(size);
    std::ranges::copy(container, removals.begin());
    std::ranges::shuffle(removals, random);
    removals.resize(random() % size);
    batch_detail::PlacesAfterRemovals places(size, removals.size());
    for (const std::size_t removed : removals) {
      places.remove(removed);
      const auto hole = std::ranges::find(container, removed) - container.begin();
      container[static_cast<std::size_t>(hole)] = container.back();
      container.pop_back();
      for (std::size_t place = 0; place < container.size(); ++place) {
        ASSERT_EQ(places(container[place]), place) << "round " << round;
      }
    }
  }
}

TEST(IdFilter, PassesEveryIdAddedAndFewOthers) {
  std::mt19937_64 random(29);
  for (const std::size_t count : {1, 100, 10'000, 200'000}) {
    batch_detail::IdFilter filter(count);
    std::vector<NodeId> added;
    for (std::size_t index = 0; index < count; ++index) {
      added.push_back(random_id(random));
      filter.add(added.back());
    }
    for (const NodeId& id : added) {
      ASSERT_TRUE(filter.may_contain(id));
    }
    std::size_t passed = 0;
    constexpr std::size_t kOthers = 100'000;
    for (std::size_t index = 0; index < kOthers; ++index) {
      passed += filter.may_contain(random_id(random)) ? 1 : 0;
    }
    // About one bit in 64 is set (fewer where the filter is at its largest).
    EXPECT_LT(passed, kOthers / 16) << count << " ids";
  }
}

// Ids made to pass an unkeyed filter: the same 8 bytes xored into both
// halves of an added id keep any mix of the xor of the halves. Under the
// key they pass no more often than random ids.
TEST(IdFilter, IdsCraftedWithoutTheKeyPassAsRarelyAsRandomOnes) {
  std::mt19937_64 random(37);
  constexpr std::size_t kAdded = 10'000;
  batch_detail::IdFilter filter(kAdded);
  std::vector<NodeId> added;
  for (std::size_t index = 0; index < kAdded; ++index) {
    added.push_back(random_id(random));
    filter.add(added.back());
  }
  std::size_t passed = 0;
  constexpr std::size_t kCrafted = 100'000;
  for (std::size_t index = 0; index < kCrafted; ++index) {
    NodeId crafted = added[index % kAdded];
    const std::uint64_t mask = random() | 1U;
    for (std::size_t byte = 0; byte < 8; ++byte) {
      crafted[byte] ^= static_cast<std::uint8_t>(mask >> (8 * byte));
      crafted[byte + 8] ^= static_cast<std::uint8_t>(mask >> (8 * byte));
    }
    passed += filter.may_contain(crafted) ? 1 : 0;
  }
  EXPECT_LT(passed, kCrafted / 16);
}

}  // namespace
}  // namespace quorl
