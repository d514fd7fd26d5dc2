// Benchmarks of the graph diff core: the cost of each editing operation on
// diffs of 10^3 to 10^6 entries, how delete_node scales with the number of
// edge sources that have nothing to do with the deleted nodes, and the speed
// of the byte form's encoder and decoder against a plain copy.
//
// Every benchmark reports items_per_second (one item = one operation) and
// per_op, the time of one operation. Building the diff an operation needs is
// done with the timer paused, so only the operations themselves are measured.
//
//   build-perf/bench/bench_core --benchmark_filter=delete_node
#include <malloc.h>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "byte_string.hpp"
#include "bytes/node_text.hpp"
#include "diff/graph_diff.hpp"

namespace {

using quorl::Diff;
using quorl::NodeId;
using quorl::NodeUpdate;

constexpr std::size_t kEdgesPerSource = 100;
constexpr std::size_t kDeletedNodes = 1000;

// Random (version-less) UUIDs from a fixed seed: every run sees the same ids.
std::vector<NodeId> random_ids(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::vector<NodeId> ids(count);
  for (auto& id : ids) {
    const std::uint64_t low = generator();
    const std::uint64_t high = generator();
    for (std::size_t index = 0; index < 8; ++index) {
      id[index] = static_cast<std::uint8_t>(low >> (8 * index));
      id[index + 8] = static_cast<std::uint8_t>(high >> (8 * index));
    }
  }
  return ids;
}

NodeUpdate labelled_update() {
  NodeUpdate update;
  update.set<quorl::Field::label>("node-label");  // ten characters, like a typical short label
  update.set<quorl::Field::size>(1.5F);
  return update;
}

// Reports `operations` per iteration as items per second and time per operation.
void report_operations(benchmark::State& state, std::size_t operations) {
  const auto total = static_cast<std::int64_t>(operations) * state.iterations();
  state.SetItemsProcessed(total);
  // An inverted rate is printed as seconds per item with an SI prefix: "85n" = 85 ns.
  state.counters["per_op"] = benchmark::Counter(
      static_cast<double>(total), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// `sources` ids with `kEdgesPerSource` edges each, to targets of their own:
// the shape of a large diff (10^6 edges over 10^4 sources at the top size).
struct FannedEdges {
  std::vector<NodeId> sources;
  std::vector<NodeId> targets;  // kEdgesPerSource consecutive targets per source

  explicit FannedEdges(std::size_t edges, std::uint64_t seed)
      : sources(random_ids((edges + kEdgesPerSource - 1) / kEdgesPerSource, seed)),
        targets(random_ids(edges, seed + 1)) {}

  void add_to(Diff& diff) const {
    for (std::size_t index = 0; index < targets.size(); ++index) {
      (void)diff.add_edge(sources[index / kEdgesPerSource], targets[index], 1.0F);
    }
  }
};

void add_or_update_node_new(benchmark::State& state) {
  const auto ids = random_ids(static_cast<std::size_t>(state.range(0)), 1);
  for (auto _ : state) {
    state.PauseTiming();
    {
      Diff diff;
      state.ResumeTiming();
      for (const auto& id : ids) {
        diff.add_or_update_node(id, labelled_update());
      }
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  report_operations(state, ids.size());
}

void add_or_update_node_existing(benchmark::State& state) {
  const auto ids = random_ids(static_cast<std::size_t>(state.range(0)), 2);
  Diff diff;
  for (const auto& id : ids) {
    diff.add_or_update_node(id, labelled_update());
  }
  for (auto _ : state) {
    for (const auto& id : ids) {
      diff.add_or_update_node(id, labelled_update());
    }
  }
  report_operations(state, ids.size());
}

// The edge benchmarks take a second argument: whether the diff has seen a
// delete_node (1), and so keeps the index of sources by target up to date
// along with the edges, or not (0).
void add_edge(benchmark::State& state) {
  const FannedEdges edges(static_cast<std::size_t>(state.range(0)), 3);
  const bool seen_delete = state.range(1) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    {
      Diff diff;
      if (seen_delete) {
        diff.delete_node(random_ids(1, 6).front());
      }
      state.ResumeTiming();
      edges.add_to(diff);
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  report_operations(state, edges.targets.size());
}

void delete_edge(benchmark::State& state) {
  const FannedEdges edges(static_cast<std::size_t>(state.range(0)), 4);
  const bool seen_delete = state.range(1) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    {
      Diff diff;
      edges.add_to(diff);
      if (seen_delete) {
        diff.delete_node(random_ids(1, 6).front());
      }
      state.ResumeTiming();
      for (std::size_t index = 0; index < edges.targets.size(); ++index) {
        diff.delete_edge(edges.sources[index / kEdgesPerSource], edges.targets[index]);
      }
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  report_operations(state, edges.targets.size());
}

// Deletes kDeletedNodes targets (in-degree 1 each) of a diff of range(0)
// edges; range(1) as for the edge benchmarks. Without an earlier deletion the
// first measured one builds the index.
void delete_node(benchmark::State& state) {
  const FannedEdges edges(static_cast<std::size_t>(state.range(0)), 5);
  const bool seen_delete = state.range(1) != 0;
  const auto unrelated = random_ids(1, 6).front();
  const std::size_t stride = edges.targets.size() / kDeletedNodes;
  for (auto _ : state) {
    state.PauseTiming();
    {
      Diff diff;
      edges.add_to(diff);
      if (seen_delete) {
        diff.delete_node(unrelated);
      }
      state.ResumeTiming();
      for (std::size_t index = 0; index < kDeletedNodes; ++index) {
        diff.delete_node(edges.targets[index * stride]);
      }
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  report_operations(state, kDeletedNodes);
}

void clear(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const FannedEdges edges(size, 7);
  const auto nodes = random_ids(size, 8);
  for (auto _ : state) {
    state.PauseTiming();
    Diff diff;
    edges.add_to(diff);
    for (const auto& id : nodes) {
      diff.add_or_update_node(id, labelled_update());
    }
    state.ResumeTiming();
    diff.clear();
    state.PauseTiming();
    diff = Diff();
    state.ResumeTiming();
  }
  // One item = one node plus one edge released.
  report_operations(state, size);
}

// delete_node next to S unrelated sources: kDeletedNodes nodes, each the
// target of kInDegree edges from a pool of neighbour sources, share the diff
// with S sources of kUnrelatedFanOut edges each that never point at them. The
// cost per deletion should follow the in-degree, not S.
constexpr std::size_t kInDegree = 3;
constexpr std::size_t kUnrelatedFanOut = 4;

struct ScalingDiff {
  std::vector<NodeId> victims = random_ids(kDeletedNodes, 10);
  std::vector<NodeId> neighbours = random_ids(kDeletedNodes, 11);
  Diff diff;

  explicit ScalingDiff(std::size_t unrelated_sources) {
    const auto sources = random_ids(unrelated_sources, 12);
    const auto targets = random_ids(unrelated_sources * kUnrelatedFanOut, 13);
    for (std::size_t index = 0; index < targets.size(); ++index) {
      (void)diff.add_edge(sources[index / kUnrelatedFanOut], targets[index], 1.0F);
    }
    restore_victims();
  }

  // Gives every victim its record and its incoming edges back.
  void restore_victims() {
    for (std::size_t victim = 0; victim < victims.size(); ++victim) {
      diff.add_or_update_node(victims[victim], labelled_update());
      for (std::size_t edge = 0; edge < kInDegree; ++edge) {
        const auto& source = neighbours[(victim * 7 + edge * 331) % neighbours.size()];
        (void)diff.add_edge(source, victims[victim], 2.0F);
      }
    }
  }

  void delete_victims() {
    for (const auto& victim : victims) {
      diff.delete_node(victim);
    }
  }
};

// The diff has already seen a delete_node: the steady state of an editing
// session. The victims are restored (untimed) after each round.
void delete_node_scaling(benchmark::State& state) {
  ScalingDiff scaling(static_cast<std::size_t>(state.range(0)));
  scaling.diff.delete_node(random_ids(1, 14).front());
  for (auto _ : state) {
    scaling.delete_victims();
    state.PauseTiming();
    scaling.restore_victims();
    state.ResumeTiming();
  }
  report_operations(state, kDeletedNodes);
}

// The first delete_node calls a diff ever sees, on a fresh copy each round.
void delete_node_scaling_first(benchmark::State& state) {
  const ScalingDiff scaling(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    {
      ScalingDiff fresh = scaling;
      state.ResumeTiming();
      fresh.delete_victims();
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  report_operations(state, kDeletedNodes);
}

// Heap bytes in use, from the allocator's own accounting (large blocks are
// mapped on their own and counted apart).
std::size_t heap_in_use() {
  const auto info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Memory per edge of 10^6 edges over 10^4 sources: of the diff itself, and of
// the index of sources by target that the first delete_node adds. range(0)
// is the number of distinct targets: 10^6 gives every edge its own target
// (the index's worst case), 10^4 gives each target 100 sources.
void memory_per_edge(benchmark::State& state) {
  constexpr std::size_t kEdges = 1'000'000;
  const auto sources = random_ids(kEdges / kEdgesPerSource, 20);
  const auto targets = random_ids(static_cast<std::size_t>(state.range(0)), 21);
  for (auto _ : state) {
    const std::size_t before = heap_in_use();
    Diff diff;
    for (std::size_t index = 0; index < kEdges; ++index) {
      (void)diff.add_edge(sources[index / kEdgesPerSource], targets[index % targets.size()], 1.0F);
    }
    const std::size_t with_edges = heap_in_use();
    diff.delete_node(random_ids(1, 22).front());
    const std::size_t with_index = heap_in_use();
    state.counters["diff_bytes_per_edge"] = static_cast<double>(with_edges - before) / kEdges;
    state.counters["index_bytes_per_edge"] = static_cast<double>(with_index - with_edges) / kEdges;
  }
}

// The batch operations beside the per-item loop they stand for: 10^6 edges
// over 10^5 sources, ten targets each from the same 10^5 nodes. range(0):
// whether the items come grouped by source (0) or interleaving the sources
// (1); range(1): the per-item loop (0) or the batch (1).
struct BulkEdges {
  std::vector<NodeId> nodes = random_ids(100'000, 40);
  std::vector<NodeId> sources;
  std::vector<NodeId> targets;
  std::vector<float> weights;

  explicit BulkEdges(bool interleaved) {
    const std::size_t count = nodes.size();
    for (std::size_t index = 0; index < 10 * count; ++index) {
      const std::size_t source = interleaved ? index % count : index / 10;
      const std::size_t round = interleaved ? index / count : index % 10;
      sources.push_back(nodes[source]);
      targets.push_back(nodes[(round * 7919 + source * 31 + 7) % count]);
      weights.push_back(static_cast<float>(index % 1000) / 8.0F);
    }
  }

  void add_to(Diff& diff, bool batch) const {
    if (batch) {
      diff.add_edges(sources, targets, weights);
      return;
    }
    for (std::size_t index = 0; index < sources.size(); ++index) {
      (void)diff.add_edge(sources[index], targets[index], weights[index]);
    }
  }
};

void add_edges_batch(benchmark::State& state) {
  const BulkEdges edges(state.range(0) != 0);
  for (auto _ : state) {
    state.PauseTiming();
    {
      Diff diff;
      state.ResumeTiming();
      edges.add_to(diff, state.range(1) != 0);
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  report_operations(state, edges.sources.size());
}

// Deletes 10^4 of the nodes (ten incoming edges each) from the diff as the
// edges left it, without an index of sources by target: the loop scans and
// then builds the index, the batch finds every deleted node's sources in one
// pass over the edges.
void delete_nodes_batch(benchmark::State& state) {
  const BulkEdges edges(state.range(0) != 0);
  const std::span<const NodeId> victims(edges.nodes.data(), 10'000);
  Diff filled;
  edges.add_to(filled, true);
  for (auto _ : state) {
    state.PauseTiming();
    {
      Diff diff = filled;
      state.ResumeTiming();
      if (state.range(1) != 0) {
        diff.delete_nodes(victims);
      } else {
        for (const auto& victim : victims) {
          diff.delete_node(victim);
        }
      }
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  report_operations(state, victims.size());
}

void batch_modes(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgNames({"interleaved", "batch"})->Unit(benchmark::kMillisecond)->Iterations(3);
  for (const std::int64_t interleaved : {0, 1}) {
    benchmark->Args({interleaved, 0})->Args({interleaved, 1});
  }
}

void sizes(benchmark::internal::Benchmark* benchmark) {
  for (const std::int64_t size : {1'000, 10'000, 100'000, 1'000'000}) {
    benchmark->Arg(size);
  }
}

void sizes_with_prior_delete(benchmark::internal::Benchmark* benchmark) {
  for (const std::int64_t size : {1'000, 10'000, 100'000, 1'000'000}) {
    benchmark->Args({size, 0})->Args({size, 1});
  }
}

BENCHMARK(add_or_update_node_new)->Apply(sizes);
BENCHMARK(add_or_update_node_existing)->Apply(sizes);
BENCHMARK(add_edge)->Apply(sizes_with_prior_delete)->ArgNames({"edges", "seen_delete"});
BENCHMARK(delete_edge)->Apply(sizes_with_prior_delete)->ArgNames({"edges", "seen_delete"});
BENCHMARK(delete_node)->Apply(sizes_with_prior_delete)->ArgNames({"edges", "seen_delete"});
BENCHMARK(clear)->Apply(sizes);
BENCHMARK(delete_node_scaling)->Arg(1'000)->Arg(10'000)->Arg(100'000)->ArgName("unrelated");
BENCHMARK(delete_node_scaling_first)
    ->Arg(1'000)
    ->Arg(10'000)
    ->Arg(100'000)
    ->ArgName("unrelated")
    ->Iterations(20);
BENCHMARK(add_edges_batch)->Apply(batch_modes);
BENCHMARK(delete_nodes_batch)->Apply(batch_modes);
BENCHMARK(memory_per_edge)
    ->Arg(1'000'000)
    ->Arg(10'000)
    ->ArgName("targets")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Lookups of present targets in one edge group of range(0) targets: up to
// the linear capacity a group is searched in order, above it through its
// index. The two sides of that capacity should cost about the same; the
// capacity is where scanning stops paying.
//
//   build-perf/bench/bench_core --benchmark_filter=edge_group_lookup
void edge_group_lookup(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto targets = random_ids(size, 40);
  // range(1) = 1 looks for targets the groups do not hold, as an insertion does.
  const auto sought = state.range(1) != 0 ? random_ids(size, 41) : targets;
  std::vector<Diff::Edges::TargetWeights> groups(1024);
  for (auto& group : groups) {
    for (const auto& target : targets) {
      group.insert_or_assign(target, 1.0F);
    }
  }
  std::size_t found = 0;
  for (auto _ : state) {
    for (std::size_t index = 0; index < groups.size(); ++index) {
      found += groups[index].contains(sought[(index * 7) % size]) ? 1 : 0;
    }
  }
  benchmark::DoNotOptimize(found);
  report_operations(state, groups.size());
}

BENCHMARK(edge_group_lookup)
    ->ArgsProduct({{8, 16, 32, 64, 96, 128, 160, 256}, {0, 1}})
    ->ArgNames({"targets", "absent"});

// The codec: graph_diff_to_bytes and bytes_to_graph_diff in bytes of the
// byte form per second, next to the floor they are measured against, the
// cost of copying as many bytes into a freshly allocated buffer (what making
// a Python bytes object of that length costs). The ratio codec/copy at equal
// byte counts is the figure that matters; absolute rates vary with the host.
//
//   build-codecperf/bench/bench_core --benchmark_filter='bytes|copy'

Diff edge_diff(std::size_t edges) {
  Diff diff;
  FannedEdges(edges, 30).add_to(diff);
  return diff;
}

// range(0) nodes with a ten-character label and a size, no edges.
Diff node_diff(std::size_t nodes) {
  Diff diff;
  for (const auto& id : random_ids(nodes, 31)) {
    diff.add_or_update_node(id, labelled_update());
  }
  return diff;
}

auto encode(const Diff& diff) {
  auto bytes = quorl::graph_diff_to_bytes(diff);
  if (!bytes) {
    std::abort();
  }
  return std::move(*bytes);
}

void report_bytes(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  state.counters["bytes"] = static_cast<double>(bytes);
}

void encode_diff(benchmark::State& state, const Diff& diff) {
  std::size_t length = 0;
  for (auto _ : state) {
    auto bytes = quorl::graph_diff_to_bytes(diff);
    benchmark::DoNotOptimize(bytes);
    length = bytes ? bytes->size() : 0;
  }
  report_bytes(state, length);
}

void decode_diff(benchmark::State& state, const Diff& diff) {
  const auto bytes = encode(diff);
  for (auto _ : state) {
    auto decoded = quorl::bytes_to_graph_diff(bytes);
    benchmark::DoNotOptimize(decoded);
  }
  report_bytes(state, bytes.size());
}

void edges_to_bytes(benchmark::State& state) {
  encode_diff(state, edge_diff(static_cast<std::size_t>(state.range(0))));
}

void bytes_to_edges(benchmark::State& state) {
  decode_diff(state, edge_diff(static_cast<std::size_t>(state.range(0))));
}

void nodes_to_bytes(benchmark::State& state) {
  encode_diff(state, node_diff(static_cast<std::size_t>(state.range(0))));
}

void bytes_to_nodes(benchmark::State& state) {
  decode_diff(state, node_diff(static_cast<std::size_t>(state.range(0))));
}

// The floor: malloc of the byte form's length and one memcpy into it. The
// source is the encoded diff itself, so both sides touch the same amount of
// memory.
void copy_bytes(benchmark::State& state, const Diff& diff) {
  const auto bytes = encode(diff);
  for (auto _ : state) {
    auto* copy = static_cast<std::uint8_t*>(std::malloc(bytes.size()));
    if (copy == nullptr) {
      std::abort();
    }
    std::memcpy(copy, bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy);
    benchmark::ClobberMemory();
    std::free(copy);
  }
  report_bytes(state, bytes.size());
}

void copy_edge_bytes(benchmark::State& state) {
  copy_bytes(state, edge_diff(static_cast<std::size_t>(state.range(0))));
}

void copy_node_bytes(benchmark::State& state) {
  copy_bytes(state, node_diff(static_cast<std::size_t>(state.range(0))));
}

void node_counts(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(10'000)->Arg(100'000)->ArgName("nodes");
}

// Labelled nodes, the shape of a renderer's graph: a label such as
// "gamma 4711", a size, the three colours, show_label on 30 % and a url on
// 20 % of them; about 111 bytes a node in the byte form.
constexpr std::array<std::string_view, 8> kWords = {"alpha",   "beta", "gamma", "delta",
                                                    "epsilon", "zeta", "theta", "kappa"};

NodeUpdate labelled_node(std::size_t index) {
  using quorl::Field;
  NodeUpdate update;
  update.set<Field::label>(std::string(kWords[index % kWords.size()]) + " " +
                           std::to_string(index));
  update.set<Field::size>(static_cast<float>(1.0 + static_cast<double>(index % 90) / 10.0));
  update.set<Field::red>(static_cast<std::uint8_t>(index * 7 % 256));
  update.set<Field::green>(static_cast<std::uint8_t>(index * 13 % 256));
  update.set<Field::blue>(static_cast<std::uint8_t>(index * 29 % 256));
  if (index % 10 < 3) {
    update.set<Field::show_label>(index % 2 == 0);
  }
  if (index % 5 == 0) {
    update.set<Field::url>("https://example.org/node/" + std::to_string(index));
  }
  return update;
}

Diff labelled_node_diff(std::size_t nodes) {
  Diff diff;
  const auto ids = random_ids(nodes, 32);
  for (std::size_t index = 0; index < ids.size(); ++index) {
    diff.add_or_update_node(ids[index], labelled_node(index));
  }
  return diff;
}

// The same records as another writer might put them: whitespace, keys in
// another order, \u escapes and an unknown key with a nested value.
std::string loose_node_text(const NodeUpdate& update) {
  using quorl::Field;
  std::string text = R"({ "extra" : { "tags" : [ 1, "two", null, { "x" : -0.5e1 } ] })";
  const auto member = [&](std::string_view key, const std::string& value) {
    text += " ,\r\n\t\"";
    text += key;
    text += "\" :  ";
    text += value;
  };
  const auto escaped = [](std::string_view value) {
    std::string out = "\"";
    for (std::size_t position = 0; position < value.size(); ++position) {
      if (position == 0 || value[position] == ' ') {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(value[position]));
        out += escape;
      } else {
        out += value[position];
      }
    }
    return out + "\"";
  };
  if (const auto flag = update.get<Field::show_label>()) {
    member("showLabel", *flag ? "true" : "false");
  }
  member("blue", std::to_string(*update.get<Field::blue>()));
  member("green", std::to_string(*update.get<Field::green>()));
  member("red", std::to_string(*update.get<Field::red>()));
  if (const auto url = update.get<Field::url>()) {
    member("url", escaped(*url));
  }
  char size[32];
  std::snprintf(size, sizeof size, "%.9g", static_cast<double>(*update.get<Field::size>()));
  member("size", size);
  member("label", escaped(*update.get<Field::label>()));
  return text + " }\n";
}

quorl::ByteString loose_node_bytes(const Diff& diff) {
  quorl::ByteString bytes;
  const auto count = [&](std::uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) {
      bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
  };
  count(diff.new_or_updated_nodes().size());
  for (const auto& [id, update] : diff.new_or_updated_nodes()) {
    count(id.size());
    bytes.insert(bytes.end(), id.begin(), id.end());
    const std::string text = loose_node_text(update);
    count(text.size());
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  bytes.resize(bytes.size() + 24, 0);
  return bytes;
}

void labelled_nodes_to_bytes(benchmark::State& state) {
  encode_diff(state, labelled_node_diff(static_cast<std::size_t>(state.range(0))));
}

void bytes_to_labelled_nodes(benchmark::State& state) {
  decode_diff(state, labelled_node_diff(static_cast<std::size_t>(state.range(0))));
}

void loose_bytes_to_labelled_nodes(benchmark::State& state) {
  const auto bytes = loose_node_bytes(labelled_node_diff(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    auto decoded = quorl::bytes_to_graph_diff(bytes);
    if (!decoded) {
      std::abort();
    }
    benchmark::DoNotOptimize(decoded);
  }
  report_bytes(state, bytes.size());
}

void copy_labelled_node_bytes(benchmark::State& state) {
  copy_bytes(state, labelled_node_diff(static_cast<std::size_t>(state.range(0))));
}

// The node text writer and reader alone, in bytes of text per second; the
// writer as the encoder uses it, into one buffer sized once.
std::vector<NodeUpdate> labelled_records(std::size_t count) {
  std::vector<NodeUpdate> records;
  for (std::size_t index = 0; index < count; ++index) {
    records.push_back(labelled_node(index));
  }
  return records;
}

void write_labelled_node_texts(benchmark::State& state) {
  const auto records = labelled_records(static_cast<std::size_t>(state.range(0)));
  std::size_t longest = 0;
  for (const auto& record : records) {
    longest += quorl::longest_node_text(record);
  }
  std::string texts(longest, '\0');
  std::size_t written = 0;
  for (auto _ : state) {
    char* end = texts.data();
    for (const auto& record : records) {
      end = quorl::write_node_text_at(record, end);
    }
    written = static_cast<std::size_t>(end - texts.data());
    benchmark::DoNotOptimize(texts.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(written) * state.iterations());
}

void read_labelled_node_texts(benchmark::State& state) {
  std::vector<std::string> texts;
  std::size_t bytes = 0;
  for (const auto& record : labelled_records(static_cast<std::size_t>(state.range(0)))) {
    texts.push_back(quorl::write_node_text(record));
    bytes += texts.back().size();
  }
  for (auto _ : state) {
    for (const auto& text : texts) {
      auto read = quorl::read_node_text(text);
      benchmark::DoNotOptimize(read);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

BENCHMARK(copy_edge_bytes)->Apply(sizes)->ArgName("edges");
BENCHMARK(edges_to_bytes)->Apply(sizes)->ArgName("edges");
BENCHMARK(bytes_to_edges)->Apply(sizes)->ArgName("edges");
BENCHMARK(copy_node_bytes)->Apply(node_counts);
BENCHMARK(nodes_to_bytes)->Apply(node_counts);
BENCHMARK(bytes_to_nodes)->Apply(node_counts);
BENCHMARK(copy_labelled_node_bytes)->Arg(100'000)->ArgName("nodes");
BENCHMARK(labelled_nodes_to_bytes)->Arg(100'000)->ArgName("nodes");
BENCHMARK(bytes_to_labelled_nodes)->Arg(100'000)->ArgName("nodes");
BENCHMARK(loose_bytes_to_labelled_nodes)->Arg(100'000)->ArgName("nodes");
BENCHMARK(write_labelled_node_texts)->Arg(100'000)->ArgName("nodes");
BENCHMARK(read_labelled_node_texts)->Arg(100'000)->ArgName("nodes");

// merge beside decoding the other diff's bytes: 5*10^5 edges over 5*10^4
// sources and 2*10^4 labelled nodes, merged into an empty diff (range 0)
// or into one of equal size about other ids (range 1).
//
//   bench_core --benchmark_filter='merge|decode_merge_input'

Diff merge_input(std::uint64_t seed) {
  constexpr std::size_t kSources = 50'000;
  constexpr std::size_t kTargetsPerSource = 10;
  const auto sources = random_ids(kSources, seed);
  const auto targets = random_ids(kSources, seed + 1);
  Diff diff;
  for (std::size_t source = 0; source < kSources; ++source) {
    for (std::size_t step = 0; step < kTargetsPerSource; ++step) {
      static_cast<void>(
          diff.add_edge(sources[source], targets[(source * 7 + step) % kSources], 0.5F));
    }
  }
  for (std::size_t node = 0; node < 20'000; ++node) {
    diff.add_or_update_node(node % 2 == 0 ? sources[node] : targets[node], labelled_update());
  }
  return diff;
}

void merge(benchmark::State& state) {
  const Diff other = merge_input(41);
  const Diff start = state.range(0) == 0 ? Diff() : merge_input(43);
  for (auto _ : state) {
    state.PauseTiming();
    Diff diff = start;
    state.ResumeTiming();
    diff.merge(other);
    benchmark::DoNotOptimize(diff);
  }
}

void decode_merge_input(benchmark::State& state) { decode_diff(state, merge_input(41)); }

BENCHMARK(decode_merge_input)->Unit(benchmark::kMillisecond);
BENCHMARK(merge)->Arg(0)->Arg(1)->ArgName("equal_size")->Unit(benchmark::kMillisecond);

// merge of small batches with deletions into a large diff that keeps taking
// them, as a server folds each batch into the diff pending for a slow
// client: range(0) edges over sources of kEdgesPerSource targets. Two
// batches take turns, each deleting 100 nodes and 100 pending edges that the
// other set, and setting 1000 edges: 900 at the 100 nodes it brings back
// with their records, and the 100 the other deleted. So every merge does the
// same work on a diff of the same size, which it should not depend on. The
// diff keeps the index of sources by target, as one that has taken
// deletions does. One item = one merge.
//
//   bench_core --benchmark_filter=merge_batch_with_deletions

struct TurnTaking {
  Diff first;
  Diff second;
};

TurnTaking batches_with_deletions(const FannedEdges& edges) {
  constexpr std::size_t kNodes = 100;
  constexpr std::size_t kEdgesPerNode = 9;
  const std::size_t spacing = edges.targets.size() / (4 * kNodes);
  const auto target = [&](std::size_t node, std::size_t role) {
    return (4 * node + role) * spacing;  // roles: 0, 1 the nodes; 2, 3 the deleted edges
  };
  const auto pair = [&](std::size_t index) {
    return std::pair(edges.sources[index / kEdgesPerSource], edges.targets[index]);
  };
  const auto batch = [&](std::size_t deletes, std::size_t brings_back) {
    Diff diff;
    for (std::size_t node = 0; node < kNodes; ++node) {
      diff.delete_node(edges.targets[target(node, deletes)]);
    }
    for (std::size_t node = 0; node < kNodes; ++node) {
      const auto [source, deleted] = pair(target(node, 2 + deletes));
      diff.delete_edge(source, deleted);
    }
    for (std::size_t node = 0; node < kNodes; ++node) {
      const NodeId& back = edges.targets[target(node, brings_back)];
      diff.add_or_update_node(back, labelled_update());
      for (std::size_t edge = 0; edge < kEdgesPerNode; ++edge) {
        const NodeId& source = edges.sources[(node * 31 + edge * 7) % edges.sources.size()];
        static_cast<void>(diff.add_edge(source, back, 0.5F));
      }
      const auto [source, set] = pair(target(node, 2 + brings_back));
      static_cast<void>(diff.add_edge(source, set, 0.5F));
    }
    return diff;
  };
  return {batch(0, 1), batch(1, 0)};
}

void merge_batch_with_deletions(benchmark::State& state) {
  const FannedEdges edges(static_cast<std::size_t>(state.range(0)), 51);
  const TurnTaking batches = batches_with_deletions(edges);
  Diff pending;
  pending.delete_node(random_ids(1, 53).front());  // builds the index while it costs nothing
  edges.add_to(pending);
  pending.merge(batches.first);
  pending.merge(batches.second);
  for (auto _ : state) {
    pending.merge(batches.first);
    pending.merge(batches.second);
  }
  benchmark::DoNotOptimize(pending);
  report_operations(state, 2);
}

BENCHMARK(merge_batch_with_deletions)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->ArgName("edges")
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
