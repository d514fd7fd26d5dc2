// The undo journal on its own: random first passes over containers of every
// kind it serves (a map, a set, groups of weights, groups of ids, and more
// containers than it remembers), inserting and, in some, removing too, each
// cut short by a failed allocation at every step in turn. A cut-short pass
// leaves every container listing what it listed before, in order; a
// committed one leaves what the same changes made without a journal.
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <random>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "diff/id_containers.hpp"
#include "diff/undo_journal.hpp"
#include "heap_probe.hpp"

namespace quorl {
namespace {

using Weights = IdMap<NodeId, IdMap<NodeId, float>>;
using Targets = IdMap<NodeId, IdSet<NodeId>>;

// More sets than the journal remembers, so that some are recorded at every
// insertion.
constexpr std::size_t kSets = 6;

struct Containers {
  IdMap<NodeId, int> values;
  std::vector<IdSet<NodeId>> sets = std::vector<IdSet<NodeId>>(kSets);
  Weights weights;
  Targets targets;
};

// Every entry in listing order.
using Listing = std::vector<std::tuple<int, NodeId, NodeId, float>>;

Listing listing(const Containers& containers) {
  Listing entries;
  for (const auto& [key, value] : containers.values) {
    entries.emplace_back(0, key, NodeId{}, static_cast<float>(value));
  }
  for (std::size_t set = 0; set < kSets; ++set) {
    for (const NodeId& key : containers.sets[set]) {
      entries.emplace_back(1 + static_cast<int>(set), key, NodeId{}, 0.0F);
    }
  }
  for (const auto& [key, group] : containers.weights) {
    entries.emplace_back(10, key, NodeId{}, -1.0F);
    for (const auto& [member, weight] : group) {
      entries.emplace_back(11, key, member, weight);
    }
  }
  for (const auto& [key, group] : containers.targets) {
    entries.emplace_back(12, key, NodeId{}, -1.0F);
    for (const NodeId& member : group) {
      entries.emplace_back(13, key, member, 0.0F);
    }
  }
  return entries;
}

// A small pool of ids, so that keys repeat; groups reach the sizes at which
// the containers change form (16, 128 entries).
NodeId pool_id(std::mt19937& random, int pool) {
  NodeId id{};
  const int number = std::uniform_int_distribution<int>(0, pool - 1)(random);
  id[0] = static_cast<std::uint8_t>(number);
  id[1] = static_cast<std::uint8_t>(number >> 8);
  id[15] = 0x3c;
  return id;
}

struct Change {
  int kind;
  NodeId key;
  NodeId member;
  int run;  // members given to one opened group
  float weight;
};

// Kinds 0 to 3 insert; 4 to 6 remove (see make).
constexpr int kInsertionKinds = 4;
constexpr int kAllKinds = 7;

std::vector<Change> random_changes(std::mt19937& random, std::size_t count,
                                   int kinds = kInsertionKinds) {
  std::vector<Change> changes;
  for (std::size_t index = 0; index < count; ++index) {
    const int kind = static_cast<int>(random() % static_cast<unsigned>(kinds));
    changes.push_back({kind, pool_id(random, kind == 2 || kind == 3 || kind >= 5 ? 12 : 300),
                       pool_id(random, 300), static_cast<int>(1 + random() % 40),
                       static_cast<float>(random() % 97)});
  }
  return changes;
}

// Makes `changes` through `journal`, or directly when it is null.
void make(Containers& containers, const std::vector<Change>& changes, UndoJournal* journal) {
  std::mt19937 members(5);
  for (const Change& change : changes) {
    switch (change.kind) {
      case 0:
        if (journal != nullptr) {
          journal->insert(containers.values, change.key, change.run);
        } else {
          containers.values.try_emplace(change.key, change.run);
        }
        break;
      case 1: {
        auto& set = containers.sets[change.member[0] % kSets];
        if (journal != nullptr) {
          journal->insert(set, change.key);
        } else {
          set.insert(change.key);
        }
        break;
      }
      case 2: {
        auto& groups = containers.weights;
        const auto entry = journal != nullptr ? journal->insert(groups, change.key).first
                                              : groups.try_emplace(change.key).first;
        for (int member = 0; member < change.run; ++member) {
          const NodeId target = pool_id(members, 300);
          const float weight = change.weight + static_cast<float>(member);
          if (journal != nullptr) {
            const auto group = journal->open_group(groups, entry);
            const auto [found, inserted] = group.insert(target, weight);
            if (!inserted) {
              group.assign(found, -weight);
            }
          } else if (!entry->second.try_emplace(target, weight).second) {
            entry->second.find(target)->second = -weight;
          }
        }
        break;
      }
      case 3: {
        auto& groups = containers.targets;
        const auto entry = journal != nullptr ? journal->insert(groups, change.key).first
                                              : groups.try_emplace(change.key).first;
        // One opening serves the whole run, as the diff's batches use it.
        for (int member = 0; member < change.run; ++member) {
          const NodeId target = pool_id(members, 300);
          if (journal != nullptr) {
            journal->open_group(groups, entry).insert(target);
          } else {
            entry->second.insert(target);
          }
        }
        break;
      }
      case 4: {
        // A removal from a whole container: the map, or a set.
        const auto erase = [&](auto& container) {
          if (const auto found = container.find(change.key); found != container.end()) {
            if (journal != nullptr) {
              journal->erase(container, found);
            } else {
              container.erase(found);
            }
          }
        };
        if (change.run % 2 == 0) {
          erase(containers.values);
        } else {
          erase(containers.sets[change.member[0] % kSets]);
        }
        break;
      }
      case 5: {
        // Removals from a group of weights, then insertions into it through
        // the same opening, as a merge mixes them.
        auto& groups = containers.weights;
        const auto entry = groups.find(change.key);
        if (entry == groups.end()) {
          break;
        }
        auto& group = entry->second;
        std::optional<UndoJournal::Group<Weights>> opened;
        if (journal != nullptr) {
          opened.emplace(journal->open_group(groups, entry));
        }
        for (int member = 0; member < change.run; ++member) {
          const NodeId target = pool_id(members, 300);
          const auto found = group.find(target);
          if (found != group.end()) {
            if (opened) {
              opened->erase(found);
            } else {
              group.erase(found);
            }
          } else if (member % 3 == 0) {
            if (opened) {
              opened->insert(target, change.weight);
            } else {
              group.try_emplace(target, change.weight);
            }
          }
        }
        break;
      }
      default: {
        // A whole group removed, from either kind of groups.
        const auto erase = [&](auto& groups) {
          if (const auto found = groups.find(change.key); found != groups.end()) {
            if (journal != nullptr) {
              journal->erase(groups, found);
            } else {
              groups.erase(found);
            }
          }
        };
        if (change.run % 2 == 0) {
          erase(containers.weights);
        } else {
          erase(containers.targets);
        }
      }
    }
  }
}

// Insertions alone, and insertions mixed with removals.
class CutShortPass : public testing::TestWithParam<int> {};

TEST_P(CutShortPass, IsUndoneAtEveryAllocation) {
  const int kinds = GetParam();
  std::mt19937 random(kinds == kInsertionKinds ? 20261209 : 77);
  for (int round = 0; round < 8; ++round) {
    Containers start;
    make(start, random_changes(random, 40 * static_cast<std::size_t>(round)), nullptr);
    const std::vector<Change> changes = random_changes(random, 60, kinds);
    Containers expected = start;
    make(expected, changes, nullptr);
    for (long failing = 0;; ++failing) {
      Containers containers = start;
      bool failed = false;
      testing_support::fail_allocation_after(failing);
      try {
        UndoJournal journal;
        make(containers, changes, &journal);
        journal.commit();
      } catch (const std::bad_alloc&) {
        failed = true;
      }
      const bool reached = testing_support::stop_failing_allocations();
      ASSERT_EQ(listing(containers), listing(failed ? start : expected))
          << "round " << round << ", allocation " << failing;
      if (!reached) {
        break;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, CutShortPass, testing::Values(kInsertionKinds, kAllKinds),
                         [](const auto& param_info) {
                           return param_info.param == kInsertionKinds ? "insertions"
                                                                      : "insertions_and_removals";
                         });

TEST(UndoJournal, UndoesWhatAnUncommittedPassMadeWithoutAFailure) {
  std::mt19937 random(3);
  Containers containers;
  make(containers, random_changes(random, 200), nullptr);
  const Listing before = listing(containers);
  {
    UndoJournal journal;
    make(containers, random_changes(random, 200, kAllKinds), &journal);
    ASSERT_NE(listing(containers), before);
  }
  EXPECT_EQ(listing(containers), before);
}

}  // namespace
}  // namespace quorl
