// The keyed id hash and the containers built on it: SipHash checked against
// a plain reference, ids crafted against one key spreading under another,
// the order rules pinned on a small history and checked against a model on
// long random ones, and a diff's listings independent of the key.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "diff/graph_diff.hpp"
#include "diff/id_containers.hpp"
#include "diff/id_hash.hpp"
#include "id_map_access.hpp"

namespace quorl {
namespace {

// A key a test chooses; each tag is a key source of its own.
template <int Tag>
struct ChosenKey {
  static inline HashKey key{};
  static const HashKey& get() { return key; }
};

template <int Tag>
using ChosenHash = SeededIdHash<ChosenKey<Tag>>;

std::uint64_t load(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t index = 0; index < count; ++index) {
    value |= std::uint64_t{bytes[index]} << (8 * index);
  }
  return value;
}

// SipHash-c-d of any message, written from the definition (padding, length
// byte, rounds as parameters).
std::uint64_t reference_sip_hash(int compression_rounds, int final_rounds, const HashKey& key,
                                 const std::vector<std::uint8_t>& message) {
  detail::SipState state{key.first ^ 0x736f6d6570736575ULL, key.second ^ 0x646f72616e646f6dULL,
                         key.first ^ 0x6c7967656e657261ULL, key.second ^ 0x7465646279746573ULL};
  const auto absorb = [&](std::uint64_t word) {
    state.v3 ^= word;
    for (int round = 0; round < compression_rounds; ++round) {
      state.round();
    }
    state.v0 ^= word;
  };
  const std::size_t whole = message.size() / 8 * 8;
  for (std::size_t offset = 0; offset < whole; offset += 8) {
    absorb(load(message.data() + offset, 8));
  }
  absorb((std::uint64_t{message.size()} << 56) |
         load(message.data() + whole, message.size() - whole));
  state.v2 ^= 0xff;
  for (int round = 0; round < final_rounds; ++round) {
    state.round();
  }
  return state.v0 ^ state.v1 ^ state.v2 ^ state.v3;
}

std::vector<std::uint8_t> counting_bytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t index = 0; index < count; ++index) {
    bytes[index] = static_cast<std::uint8_t>(index);
  }
  return bytes;
}

NodeId random_id(std::mt19937_64& random) {
  NodeId id;
  for (auto& byte : id) {
    byte = static_cast<std::uint8_t>(random());
  }
  return id;
}

TEST(SipHash, ReferenceMatchesPublishedVectorsAndTheIdHashMatchesIt) {
  const auto key_bytes = counting_bytes(16);
  const HashKey counting_key{load(key_bytes.data(), 8), load(key_bytes.data() + 8, 8)};
  // SipHash-2-4 under the key 00..0f, from its authors' test vectors.
  EXPECT_EQ(reference_sip_hash(2, 4, counting_key, {}), 0x726fdb47dd0e0e31ULL);
  EXPECT_EQ(reference_sip_hash(2, 4, counting_key, counting_bytes(15)), 0xa129ca6149be45e5ULL);

  std::mt19937_64 random(3);
  for (int round = 0; round < 1000; ++round) {
    const HashKey key{random(), random()};
    const NodeId id = random_id(random);
    ASSERT_EQ(sip_hash_1_3(key, id),
              reference_sip_hash(1, 3, key, std::vector<std::uint8_t>(id.begin(), id.end())));
  }
}

// Pearson's statistic of the ids' hashes over 1024 buckets taken from ten
// bits starting at `shift`. With 1023 degrees of freedom it has mean 1023
// and a standard deviation near 50 for these counts: 1400 is far out.
template <class Hash>
double chi_square(const std::vector<NodeId>& ids, unsigned shift) {
  std::array<double, 1024> counts{};
  for (const NodeId& id : ids) {
    counts[(Hash{}(id) >> shift) & 1023U] += 1.0;
  }
  const double expected = static_cast<double>(ids.size()) / 1024.0;
  double statistic = 0.0;
  for (const double count : counts) {
    statistic += (count - expected) * (count - expected) / expected;
  }
  return statistic;
}

// Ids that share the low twelve bits of their hash under `key`: they would
// all start their probe at one slot of any index of up to 4096 slots.
std::vector<NodeId> crafted_to_collide(const HashKey& key, std::size_t count) {
  std::mt19937_64 random(17);
  std::vector<NodeId> ids;
  while (ids.size() < count) {
    const NodeId id = random_id(random);
    if ((keyed_id_hash(key, id) & 0xfff) == 0x5a5) {
      ids.push_back(id);
    }
  }
  return ids;
}

// An attacker who knew one key gains nothing under another: the crafted ids
// spread like random ones. Under the key they were made for, they all
// collide, and the containers still hold them correctly.
// Both kinds of the hash are checked; on a processor without AES rounds
// the second pass checks the fallback again.
class Flooding : public testing::TestWithParam<HashKind> {};

TEST_P(Flooding, IdsCraftedUnderOneKeySpreadUnderAnother) {
  ChosenKey<0>::key = HashKey(0x0123456789abcdefULL, 0xfedcba9876543210ULL, GetParam());
  ChosenKey<1>::key = HashKey(0x1111111111111111ULL, 0x2222222222222222ULL, GetParam());
  // A key differing in one bit is another key.
  ChosenKey<2>::key = HashKey(0x0123456789abcdeeULL, 0xfedcba9876543210ULL, GetParam());
  const auto ids = crafted_to_collide(ChosenKey<0>::key, 2048);

  EXPECT_GT(chi_square<ChosenHash<0>>(ids, 0), 100'000.0) << "the ids do collide under their key";
  for (const unsigned shift : {0U, 27U, 54U}) {
    EXPECT_LT(chi_square<ChosenHash<1>>(ids, shift), 1400.0) << "bits from " << shift;
    EXPECT_LT(chi_square<ChosenHash<2>>(ids, shift), 1400.0) << "one bit off, from " << shift;
    EXPECT_LT(chi_square<IdHash>(ids, shift), 1400.0) << "process key, bits from " << shift;
  }

  IdSet<NodeId, ChosenHash<0>> flooded;
  for (const NodeId& id : ids) {
    flooded.insert(id);
  }
  for (std::size_t index = 0; index < ids.size(); index += 2) {
    flooded.erase(ids[index]);
  }
  ASSERT_EQ(flooded.size(), ids.size() / 2);
  for (std::size_t index = 0; index < ids.size(); ++index) {
    EXPECT_EQ(flooded.contains(ids[index]), index % 2 == 1) << index;
  }
}

TEST_P(Flooding, HashingManyAtOnceGivesWhatOneAtATimeGives) {
  const HashKey key(0x0123456789abcdefULL, 0xfedcba9876543210ULL, GetParam());
  const auto ids = crafted_to_collide(key, 37);
  std::vector<std::uint64_t> hashes(ids.size());
  keyed_id_hashes(key, ids, hashes.data());
  for (std::size_t index = 0; index < ids.size(); ++index) {
    EXPECT_EQ(hashes[index], keyed_id_hash(key, ids[index])) << index;
  }
}

std::string kind_name(const testing::TestParamInfo<HashKind>& param) {
  return param.param == HashKind::aes_4 ? "aes" : "sip";
}

INSTANTIATE_TEST_SUITE_P(HashKinds, Flooding, testing::Values(HashKind::sip_1_3, HashKind::aes_4),
                         kind_name);

TEST(Flooding, TheProcessKeyTakesTheAesRoundsWhereTheProcessorHasThem) {
  EXPECT_EQ(process_hash_key().kind, processor_has_aes() ? HashKind::aes_4 : HashKind::sip_1_3);
  EXPECT_EQ(HashKey(1, 2, HashKind::sip_1_3).kind, HashKind::sip_1_3);
}

// Counters and mostly-zero ids spread over the low bits (where the index
// takes its slot) and the high bits (where it takes its tag) alike, under
// either kind of the hash.
TEST_P(Flooding, StructuredIdsSpread) {
  ChosenKey<3>::key = HashKey(0x5555aaaa5555aaaaULL, 0x0f0f0f0ff0f0f0f0ULL, GetParam());
  std::vector<std::vector<NodeId>> families(3);
  for (std::uint32_t value = 0; value < (1U << 16); ++value) {
    NodeId last_bytes{};
    NodeId first_bytes{};
    NodeId middle_bytes{};
    for (std::size_t index = 0; index < 2; ++index) {
      const auto byte = static_cast<std::uint8_t>(value >> (8 * index));
      last_bytes[15 - index] = byte;
      first_bytes[1 - index] = byte;
      middle_bytes[8 - index] = byte;
    }
    families[0].push_back(last_bytes);
    families[1].push_back(first_bytes);
    families[2].push_back(middle_bytes);
  }
  for (std::size_t family = 0; family < families.size(); ++family) {
    for (const unsigned shift : {0U, 27U, 54U}) {
      EXPECT_LT(chi_square<IdHash>(families[family], shift), 1400.0)
          << "family " << family << ", bits from " << shift;
      EXPECT_LT(chi_square<ChosenHash<3>>(families[family], shift), 1400.0)
          << "chosen key, family " << family << ", bits from " << shift;
    }
  }
}

NodeId tagged(char tag) {
  NodeId id{};
  id[15] = static_cast<std::uint8_t>(tag);
  return id;
}

std::string keys(const auto& container) {
  std::string text;
  for (const auto& entry : container) {
    if constexpr (requires { entry.first; }) {
      text += static_cast<char>(entry.first[15]);
    } else {
      text += static_cast<char>(entry[15]);
    }
  }
  return text;
}

// The order rules on one small history: insertion appends, an update keeps
// its place, a removal moves the last entry into the hole. In a diff,
// delete_node's cascade then creates deleted-edge entries in the order the
// sources are listed once the node's own entry is gone.
TEST(Order, FollowsTheHistory) {
  IdMap<NodeId, int> map;
  for (const char tag : {'A', 'B', 'C', 'D'}) {
    testing_support::value_for(map, tagged(tag)) = tag - 'A';
  }
  map.insert_or_assign(tagged('B'), 20);
  map.erase(tagged('A'));
  testing_support::value_for(map, tagged('E')) = 5;
  EXPECT_EQ(keys(map), "DBCE");
  EXPECT_EQ(testing_support::value_at(map, tagged('B')), 20);

  for (const bool indexed : {false, true}) {
    Diff diff;
    if (indexed) {
      for (int repeat = 0; repeat < 4; ++repeat) {
        diff.delete_node(tagged('Z'));  // cheap scans: the index is built
      }
    }
    for (const char source : {'A', 'X', 'B', 'C'}) {
      ASSERT_TRUE(diff.add_edge(tagged(source), tagged(source == 'X' ? 'Y' : 'X'), 1.0F));
    }
    diff.delete_node(tagged('X'));
    EXPECT_EQ(keys(diff.edges().new_or_updated), "ACB") << indexed;
    EXPECT_EQ(keys(diff.edges().deleted), "ACB") << indexed;
    EXPECT_EQ(keys(diff.deleted_nodes()), indexed ? "ZX" : "X");
  }
}

// The containers against a plain vector that applies the order rules, over
// random histories small enough to stay unindexed and large enough to grow,
// shrink and rebuild their index many times.
class ContainerModel : public testing::TestWithParam<std::size_t> {};

TEST_P(ContainerModel, ListsWhatTheRulesGive) {
  const std::size_t pool_size = GetParam();
  std::mt19937_64 random(pool_size);
  std::vector<NodeId> pool(pool_size);
  for (auto& id : pool) {
    id = random_id(random);
  }
  IdMap<NodeId, std::uint64_t> map;
  IdSet<NodeId> set;
  std::vector<std::pair<NodeId, std::uint64_t>> model;
  const auto model_find = [&](const NodeId& id) {
    return std::ranges::find(model, id, &std::pair<NodeId, std::uint64_t>::first);
  };
  for (int step = 0; step < 20'000; ++step) {
    const NodeId& id = pool[random() % pool.size()];
    const std::uint64_t value = random();
    const auto roll = random() % 1000;
    const auto found = model_find(id);
    if (roll < 550) {
      map.insert_or_assign(id, value);
      set.insert(id);
      if (found == model.end()) {
        model.emplace_back(id, value);
      } else {
        found->second = value;
      }
    } else if (roll < 997) {
      ASSERT_EQ(map.erase(id), found == model.end() ? 0U : 1U);
      set.erase(id);
      if (found != model.end()) {
        *found = model.back();
        model.pop_back();
      }
    } else if (roll < 998) {
      map.clear();
      set.clear();
      model.clear();
    } else if (roll < 999) {
      map = IdMap<NodeId, std::uint64_t>(map);
      set = IdSet<NodeId>(set);
    } else {
      map.reserve(map.size() + random() % 100);
    }
    ASSERT_EQ(map.size(), model.size());
    ASSERT_EQ(set.size(), model.size());
    ASSERT_EQ(map.contains(id), model_find(id) != model.end());
    if (step % 50 == 0 || pool_size < 20) {
      for (std::size_t index = 0; index < model.size(); ++index) {
        const auto& [key, stored] = map.begin()[index];
        ASSERT_EQ(key, model[index].first) << "step " << step << ", entry " << index;
        ASSERT_EQ(stored, model[index].second);
        ASSERT_EQ(set.begin()[index], model[index].first);
        ASSERT_EQ(map.find(key), map.begin() + index);
        ASSERT_EQ(set.find(key), set.begin() + index);
      }
    }
  }
}

// Up to 5 entries: one small block searched by comparing keys; 60: tags
// per entry, across the threshold from plain comparison; 300: across the
// index's threshold; 3000: positions of two bytes.
INSTANTIATE_TEST_SUITE_P(PoolSizes, ContainerModel, testing::Values(5, 60, 300, 3000));

// Every capacity at which the block changes form (keys alone, tags, an
// index of one-, two- and four-byte positions), reached by reserving a
// table that already holds entries, which normal growth never lands on:
// the keys it held are found, and so are those added up to the capacity.
TEST(ContainerModel, FindsEveryKeyWhenReservedToWhereTheFormChanges) {
  std::mt19937_64 random(31);
  for (const std::size_t capacity : {16, 17, 128, 129, 254, 255, 256, 65534, 65535, 65536}) {
    for (const std::size_t held : {std::size_t{1}, capacity * 3 / 4}) {
      std::vector<NodeId> ids(capacity);
      for (auto& id : ids) {
        id = random_id(random);
      }
      IdMap<NodeId, std::size_t> map;
      for (std::size_t index = 0; index < held; ++index) {
        map.try_emplace(ids[index], index);
      }
      const bool lands = map.capacity() < capacity;
      map.reserve(capacity);
      ASSERT_TRUE(!lands || map.capacity() == capacity);
      const auto all_found = [&](std::size_t count) {
        for (std::size_t index = 0; index < count; ++index) {
          const auto found = map.find(ids[index]);
          if (found == map.end() || found->second != index) {
            return false;
          }
        }
        return true;
      };
      ASSERT_TRUE(all_found(held)) << capacity << " reserved over " << held;
      for (std::size_t index = held; index < capacity; ++index) {
        map.try_emplace(ids[index], index);
      }
      ASSERT_TRUE(all_found(capacity)) << capacity << " filled from " << held;
    }
  }
}

// Positions of four bytes, from 65535 entries on.
TEST(ContainerModel, HoldsMoreEntriesThanTwoBytesCount) {
  std::mt19937_64 random(9);
  std::vector<NodeId> ids(70'000);
  IdSet<NodeId> set;
  for (auto& id : ids) {
    set.insert(id = random_id(random));
  }
  for (std::size_t index = 0; index < ids.size(); index += 3) {
    set.erase(ids[index]);
  }
  for (std::size_t index = 0; index < ids.size(); ++index) {
    ASSERT_EQ(set.contains(ids[index]), index % 3 != 0) << index;
  }
  // Every entry moved into a hole is still found at its new place.
  for (auto entry = set.begin(); entry != set.end(); ++entry) {
    ASSERT_EQ(set.find(*entry), entry);
  }
}

// The same history lists every container in the same order whatever the key:
// processes with different keys list and encode a diff alike.
template <class Hash>
std::vector<NodeId> listing_after_history() {
  using AnyDiff = GraphDiff<NodeId, NodeUpdate, float, Hash>;
  std::mt19937 engine(7);
  AnyDiff diff;
  const auto id = [&](std::uint64_t value) {
    NodeId result{};
    result[15] = static_cast<std::uint8_t>(value);
    result[14] = static_cast<std::uint8_t>(value >> 8);
    return result;
  };
  for (int step = 0; step < 5000; ++step) {
    const NodeId from = id(engine() % 400);
    const NodeId to = id(engine() % 400);
    switch (engine() % 4) {
      case 0:
        diff.add_or_update_node(from, {});
        break;
      case 1:
        diff.delete_node(to);
        break;
      case 2:
        (void)diff.add_edge(from, to, 1.0F);
        break;
      default:
        diff.delete_edge(to, from);
        break;
    }
  }
  std::vector<NodeId> ids;
  for (const auto& entry : diff.new_or_updated_nodes()) {
    ids.push_back(entry.first);
  }
  ids.insert(ids.end(), diff.deleted_nodes().begin(), diff.deleted_nodes().end());
  for (const auto& [source, targets] : diff.edges().new_or_updated) {
    ids.push_back(source);
    for (const auto& entry : targets) {
      ids.push_back(entry.first);
    }
  }
  for (const auto& [source, targets] : diff.edges().deleted) {
    ids.push_back(source);
    ids.insert(ids.end(), targets.begin(), targets.end());
  }
  return ids;
}

TEST(Order, SameHistoryListsAlikeUnderEveryKey) {
  ChosenKey<2>::key = {1, 2};
  ChosenKey<3>::key = {0x9e3779b97f4a7c15ULL, 0xbf58476d1ce4e5b9ULL};
  const auto listed = listing_after_history<IdHash>();
  ASSERT_GT(listed.size(), 500U);
  EXPECT_EQ(listing_after_history<ChosenHash<2>>(), listed);
  EXPECT_EQ(listing_after_history<ChosenHash<3>>(), listed);
}

}  // namespace
}  // namespace quorl
