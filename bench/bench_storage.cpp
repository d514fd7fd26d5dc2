// Figures of the diff's storage that only mean something side by side with
// another build of the same program: bench/compare_storage.py builds this
// file against the current tree and against an older one, runs each figure
// in both alternately and prints the ratios. It uses only what both builds
// offer (the editing operations, the readings, the codec).
//
//   bench_storage FIGURE    prints "name value" lines for one figure
//
// Figures: flooding, memory, decode_peak, in_star, codec, operations.
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/graph_diff_bytes.hpp"
// Where the tree keeps the vector encoder: beside the codec's API, inside it
// (compare_storage.py says so for such a tree), or with the test support.
#if __has_include("bytes/graph_diff_bytes_detail.hpp")
#include "bytes/graph_diff_bytes_detail.hpp"
#elif !defined(QUORL_VECTOR_ENCODER_IN_CODEC)
#include "byte_string.hpp"
#endif
#include "diff/graph_diff.hpp"
#include "heap_probe.hpp"

#if __has_include("diff/id_hash.hpp")
#include "diff/id_hash.hpp"
#define QUORL_HAS_KEYED_HASH 1
#endif
// The compact node record came with the float narrowing header; an older
// tree spells its label as a std::optional<std::string> member.
#if __has_include("node_update/float_narrowing.hpp")
#define QUORL_HAS_COMPACT_RECORD 1
#endif

namespace {

using quorl::Diff;
using quorl::NodeId;
using quorl::NodeUpdate;
using Clock = std::chrono::steady_clock;

void print(std::string_view name, double value) {
  std::printf("%.*s %.6g\n", static_cast<int>(name.size()), name.data(), value);
}

NodeId id_from(std::uint64_t low, std::uint64_t high) {
  NodeId id;
  for (std::size_t index = 0; index < 8; ++index) {
    id[index] = static_cast<std::uint8_t>(low >> (8 * index));
    id[index + 8] = static_cast<std::uint8_t>(high >> (8 * index));
  }
  return id;
}

std::vector<NodeId> random_ids(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::vector<NodeId> ids(count);
  for (auto& id : ids) {
    const std::uint64_t low = generator();
    id = id_from(low, generator());
  }
  return ids;
}

// Best wall time of `run` over `repeats`, in seconds.
template <class Run>
double best_of(int repeats, Run&& run) {
  double best = 1e300;
  for (int repeat = 0; repeat < repeats; ++repeat) {
    const auto start = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

quorl::ByteString encode(const Diff& diff) {
  auto bytes = quorl::graph_diff_to_bytes(diff);
  if (!bytes) {
    std::abort();
  }
  return std::move(*bytes);
}

Diff decode(const quorl::ByteString& bytes) {
  auto diff = quorl::bytes_to_graph_diff(bytes);
  if (!diff) {
    std::abort();
  }
  return std::move(*diff);
}

// --- flooding --------------------------------------------------------------

// The fixed, unseeded id hash that containers used before: public, so
// anyone can search for ids that share its top bits offline.
std::uint64_t public_fixed_hash(const NodeId& id) {
  __extension__ typedef unsigned __int128 Wide;
  const auto load = [&](std::size_t offset) {
    std::uint64_t value = 0;
    for (int index = 7; index >= 0; --index) {
      value = (value << 8) | id[offset + static_cast<std::size_t>(index)];
    }
    return value;
  };
  const auto fold = [](Wide product) {
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
  };
  const auto odd = [](std::uint64_t half) { return (Wide{half} << 1) | 1U; };
  const std::uint64_t folded =
      fold(odd(load(0) ^ 0xa0761d6478bd642fULL) * odd(load(8) ^ 0xe7037ed1a0b428dbULL));
  return fold(Wide{folded ^ 0x8ebc6af09c88c6e3ULL} * 0x589965cc75374cc3ULL);
}

constexpr std::size_t kFloodIds = 262'144;
constexpr int kCollidingBits = 12;

// Ids whose hash shares its top bits (where the old containers took a
// slot's position), searched by brute force once and kept in a file.
template <class Hash>
std::vector<NodeId> crafted_ids(const char* cache, Hash&& hash) {
  std::vector<NodeId> ids(kFloodIds);
  if (std::ifstream in(cache, std::ios::binary);
      in.read(reinterpret_cast<char*>(ids.data()),
              static_cast<std::streamsize>(ids.size() * sizeof(NodeId)))) {
    return ids;
  }
  std::size_t found = 0;
  for (std::uint64_t counter = 0; found < ids.size(); ++counter) {
    const NodeId id = id_from(counter * 0x9e3779b97f4a7c15ULL, counter);
    if ((hash(id) >> (64 - kCollidingBits)) == 0x5a5) {
      ids[found++] = id;
    }
  }
  std::ofstream(cache, std::ios::binary)
      .write(reinterpret_cast<const char*>(ids.data()),
             static_cast<std::streamsize>(ids.size() * sizeof(NodeId)));
  return ids;
}

quorl::ByteString deleted_nodes_bytes(const std::vector<NodeId>& ids) {
  quorl::ByteString bytes;
  const auto count = [&](std::uint64_t value) {
    for (int index = 0; index < 8; ++index) {
      bytes.push_back(static_cast<std::uint8_t>(value >> (8 * index)));
    }
  };
  count(0);
  count(ids.size());
  for (const NodeId& id : ids) {
    count(16);
    bytes.insert(bytes.end(), id.begin(), id.end());
  }
  count(0);
  count(0);
  return bytes;
}

double decode_seconds(const std::vector<NodeId>& ids) {
  const auto bytes = deleted_nodes_bytes(ids);
  return best_of(3, [&] { decode(bytes); });
}

void flooding() {
  const auto random = random_ids(kFloodIds, 40);
  const double random_time = decode_seconds(random);
  const auto crafted = crafted_ids("crafted-ids-fixed-hash.bin", public_fixed_hash);
  print("from_bytes_crafted_for_fixed_hash_vs_random", decode_seconds(crafted) / random_time);
#ifdef QUORL_HAS_KEYED_HASH
  // The new hash under a key other than this process's: what an attacker
  // who guessed or learnt some key could craft.
  const quorl::HashKey other{0x0123456789abcdefULL, 0x0fedcba987654321ULL};
  const auto keyed =
      crafted_ids(other.kind == quorl::HashKind::aes_4 ? "crafted-ids-other-key-aes.bin"
                                                       : "crafted-ids-other-key.bin",
                  [&](const NodeId& id) { return quorl::keyed_id_hash(other, id); });
  print("from_bytes_crafted_for_other_key_vs_random", decode_seconds(keyed) / random_time);
#endif
}

// --- memory ------------------------------------------------------------------

std::size_t heap_in_use() {
  const auto info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

NodeUpdate labelled_update() {
  NodeUpdate update;
#ifdef QUORL_HAS_COMPACT_RECORD
  update.set<quorl::Field::label>("node-label");  // ten characters
#else
  update.label = "node-label";
#endif
  return update;
}

template <class Build>
double bytes_per_item(std::size_t items, Build&& build) {
  const std::size_t before = heap_in_use();
  Diff diff;
  build(diff);
  const double per_item = static_cast<double>(heap_in_use() - before) / static_cast<double>(items);
  return per_item;
}

// 10^6 edges, each source `edges / sources` consecutive ones.
void fanned_edges(Diff& diff, std::size_t edges, std::size_t sources, std::uint64_t seed) {
  const auto source_ids = random_ids(sources, seed);
  const auto targets = random_ids(edges, seed + 1);
  for (std::size_t index = 0; index < edges; ++index) {
    (void)diff.add_edge(source_ids[index * sources / edges], targets[index], 1.0F);
  }
}

// Preferential attachment: each new node links to 5 earlier nodes picked
// in proportion to their degree, each edge in a random direction.
void scale_free_edges(Diff& diff, std::size_t nodes, std::size_t links) {
  const auto ids = random_ids(nodes, 50);
  std::mt19937_64 random(51);
  std::vector<std::uint32_t> endpoints;  // one entry per edge end
  endpoints.reserve(2 * nodes * links);
  for (std::uint32_t node = 0; node < nodes; ++node) {
    for (std::size_t link = 0; link < links && node > 0; ++link) {
      const std::uint32_t other = endpoints.empty() ? 0 : endpoints[random() % endpoints.size()];
      const bool forward = (random() & 1) != 0;
      (void)diff.add_edge(ids[forward ? node : other], ids[forward ? other : node], 1.0F);
      endpoints.push_back(other);
      endpoints.push_back(node);
    }
  }
}

void memory() {
  print("bytes_per_edge_1M_over_100k_sources",
        bytes_per_item(1'000'000, [](Diff& diff) { fanned_edges(diff, 1'000'000, 100'000, 60); }));
  print("bytes_per_edge_1M_over_10k_sources",
        bytes_per_item(1'000'000, [](Diff& diff) { fanned_edges(diff, 1'000'000, 10'000, 61); }));
  {
    // Counted from the edges actually recorded (a pick may repeat a pair).
    const std::size_t before = heap_in_use();
    Diff diff;
    scale_free_edges(diff, 200'000, 5);
    std::size_t pairs = 0;
    for (const auto& [source, targets] : diff.edges().new_or_updated) {
      pairs += targets.size();
    }
    print("bytes_per_edge_scale_free",
          static_cast<double>(heap_in_use() - before) / static_cast<double>(pairs));
  }
  const auto ids = random_ids(1'000'000, 62);
  print("bytes_per_node_10_char_label", bytes_per_item(ids.size(), [&](Diff& diff) {
          for (const NodeId& id : ids) {
            diff.add_or_update_node(id, labelled_update());
          }
        }));
  print("record_bytes_inline", static_cast<double>(sizeof(NodeUpdate)));
}

// --- decode peak ---------------------------------------------------------

template <class Build>
void decode_peak(const char* name, Build&& build) {
  quorl::ByteString bytes;
  {
    Diff diff;
    build(diff);
    bytes = encode(diff);
  }
  using namespace quorl::testing_support;
  reset_heap_counts();
  const std::size_t base = live_heap_bytes();
  { const Diff decoded = decode(bytes); }
  print(name, static_cast<double>(peak_heap_bytes() - base) / static_cast<double>(bytes.size()));
}

void decode_peak() {
  const auto sources = random_ids(300'000, 70);
  const auto targets = random_ids(300'000, 71);
  decode_peak("from_bytes_peak_vs_input_one_edge_per_source", [&](Diff& diff) {
    for (std::size_t index = 0; index < sources.size(); ++index) {
      (void)diff.add_edge(sources[index], targets[index], 1.0F);
    }
  });
  decode_peak("from_bytes_peak_vs_input_one_deleted_target_per_source", [&](Diff& diff) {
    for (std::size_t index = 0; index < sources.size(); ++index) {
      diff.delete_edge(sources[index], targets[index]);
    }
  });
  decode_peak("from_bytes_peak_vs_input_empty_node_texts", [&](Diff& diff) {
    for (const NodeId& id : sources) {
      diff.add_or_update_node(id, {});
    }
  });
}

// --- in-star -------------------------------------------------------------

// Removes every edge of an in-star of 400k sources in the order the diff
// lists them, with and without the index of sources by target.
void in_star() {
  const auto sources = random_ids(400'000, 80);
  const NodeId hub = random_ids(1, 81).front();
  const NodeId unrelated = random_ids(1, 82).front();
  double seconds[2] = {1e300, 1e300};
  for (int repeat = 0; repeat < 2; ++repeat) {
    for (const bool indexed : {false, true}) {
      Diff diff;
      for (const NodeId& source : sources) {
        (void)diff.add_edge(source, hub, 1.0F);
      }
      if (indexed) {
        diff.delete_node(unrelated);  // one scan costs as much as a build
        diff.delete_node(unrelated);
      }
      std::vector<NodeId> listed;
      for (const auto& entry : diff.edges().new_or_updated) {
        listed.push_back(entry.first);
      }
      const auto start = Clock::now();
      for (const NodeId& source : listed) {
        diff.delete_edge(source, hub);
      }
      seconds[indexed] =
          std::min(seconds[indexed], std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  print("in_star_removal_indexed_vs_not", seconds[1] / seconds[0]);
}

// --- codec ---------------------------------------------------------------

void codec(const char* shape, std::size_t sources) {
  Diff diff;
  fanned_edges(diff, 1'000'000, sources, 90);
  const auto bytes = encode(diff);
  const double copy = best_of(15, [&] {
    auto* copy_of = static_cast<std::uint8_t*>(std::malloc(bytes.size()));
    std::memcpy(copy_of, bytes.data(), bytes.size());
    asm volatile("" : : "r"(copy_of) : "memory");
    std::free(copy_of);
  });
  const double to_bytes = best_of(9, [&] { encode(diff); });
  const double from_bytes = best_of(9, [&] { decode(bytes); });
  print(std::string("to_bytes_vs_copy_") + shape, to_bytes / copy);
  print(std::string("from_bytes_vs_copy_") + shape, from_bytes / copy);
}

void codec() {
  codec("1M_over_100k_sources", 100'000);
  codec("1M_over_10k_sources", 10'000);
}

// --- operations ----------------------------------------------------------

template <class Run>
void per_operation(const char* name, std::size_t operations, Run&& run) {
  print(name, best_of(3, run) / static_cast<double>(operations) * 1e9);
}

void operations() {
  constexpr std::size_t kCount = 200'000;
  const auto ids = random_ids(kCount, 100);
  const auto targets = random_ids(kCount, 101);
  const auto source_of = [&](std::size_t index) { return ids[index / 10]; };
  per_operation("ns_add_or_update_node_new", kCount, [&] {
    Diff diff;
    for (const NodeId& id : ids) {
      diff.add_or_update_node(id, labelled_update());
    }
  });
  Diff nodes;
  for (const NodeId& id : ids) {
    nodes.add_or_update_node(id, labelled_update());
  }
  per_operation("ns_add_or_update_node_existing", kCount, [&] {
    for (const NodeId& id : ids) {
      nodes.add_or_update_node(id, labelled_update());
    }
  });
  per_operation("ns_add_edge_10_per_source", kCount, [&] {
    Diff diff;
    for (std::size_t index = 0; index < kCount; ++index) {
      (void)diff.add_edge(source_of(index), targets[index], 1.0F);
    }
  });
  Diff edges;
  for (std::size_t index = 0; index < kCount; ++index) {
    (void)edges.add_edge(source_of(index), targets[index], 1.0F);
  }
  per_operation("ns_add_edge_existing", kCount, [&] {
    for (std::size_t index = 0; index < kCount; ++index) {
      (void)edges.add_edge(source_of(index), targets[index], 2.0F);
    }
  });
  per_operation("ns_delete_edge", kCount, [&] {
    Diff diff = edges;
    for (std::size_t index = 0; index < kCount; ++index) {
      diff.delete_edge(source_of(index), targets[index]);
    }
  });
  per_operation("ns_delete_node_target", 20'000, [&] {
    Diff diff = edges;
    for (std::size_t index = 0; index < kCount; index += 10) {
      diff.delete_node(targets[index]);
    }
  });
  per_operation("ns_reading_per_edge", kCount, [&] {
    std::uint64_t sum = 0;
    for (const auto& [source, group] : edges.edges().new_or_updated) {
      for (const auto& [target, weight] : group) {
        sum += target[0] + static_cast<std::uint64_t>(weight);
      }
    }
    asm volatile("" : : "r"(sum));
  });
  per_operation("ns_reading_per_node", kCount, [&] {
    std::uint64_t sum = 0;
    for (const auto& [id, update] : nodes.new_or_updated_nodes()) {
#ifdef QUORL_HAS_COMPACT_RECORD
      sum += id[0] + update.get<quorl::Field::label>()->size();
#else
      sum += id[0] + update.label->size();
#endif
    }
    asm volatile("" : : "r"(sum));
  });
}

}  // namespace

int main(int argc, char** argv) {
  const std::string_view figure = argc > 1 ? argv[1] : "";
  if (figure == "flooding") {
    flooding();
  } else if (figure == "memory") {
    memory();
  } else if (figure == "decode_peak") {
    decode_peak();
  } else if (figure == "in_star") {
    in_star();
  } else if (figure == "codec") {
    codec();
  } else if (figure == "operations") {
    operations();
  } else {
    std::fprintf(stderr,
                 "usage: bench_storage flooding|memory|decode_peak|in_star|codec|operations\n");
    return 2;
  }
  return 0;
}
