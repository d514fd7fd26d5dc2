// Speed of the decoders and the encoder, each beside JSON in the same run.
//
//   node js/bench.mjs [--rounds N] [--shape NAME]... [--cpu]
//
// Four diffs, each as its byte form (written by encodeGraphDiff, which writes
// the module's bytes) and as JSON in the shape of the module's readings
// ({"new_or_updated_nodes": {id: {"label": ..., "show_label": ...}}, ...},
// floats as Python writes the widened float32 values):
//   labelled    10^5 nodes with label, size and colours, show_label on about
//               30 % of them and a URL on about 20 %
//   sparse      5*10^5 edges, 10 per source
//   dense       5*10^5 edges, 250 per source
//   scale-free  preferential attachment: 10^5 nodes, each linked to 5
//               earlier ones chosen by degree
// decodeGraphDiff and decodeGraphDiffColumns are timed against JSON.parse of
// the JSON, encodeGraphDiff (of the decoded diff) against JSON.stringify (of
// the parsed JSON). Rounds alternate between the contenders so that neither
// gets a quieter machine; each keeps its best time. Prints each function's
// best time and how many times as fast as its JSON counterpart it is.
// --cpu times by the process's CPU time instead of the clock: steadier on a
// machine that other processes share.
import * as graphDiff from "./graph-diff.mjs";

const { decodeGraphDiff, encodeGraphDiff } = graphDiff;
// Absent before the columnar decoder existed; the bench still runs without it.
const decodeGraphDiffColumns = graphDiff.decodeGraphDiffColumns;

function option(name, fallback) {
  const index = process.argv.indexOf(`--${name}`);
  return index < 0 ? fallback : Number(process.argv[index + 1]);
}

const rounds = option("rounds", 7);
const chosenShapes = process.argv.flatMap((arg, index) => (process.argv[index - 1] === "--shape" ? [arg] : []));

// Deterministic ids, weights and texts: every run measures the same bytes.
let state = 1;
const next = () => (state = (Math.imul(state, 1664525) + 1013904223) >>> 0);
const below = (n) => Math.floor((next() / 4294967296) * n);

function makeId() {
  let hex = "";
  for (let word = 0; word < 4; word++) {
    hex += next().toString(16).padStart(8, "0");
  }
  return `${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}`;
}
const makeIds = (count) => Array.from({ length: count }, makeId);
const weight = () => Math.fround(below(100000) / 1000);

const WORDS = [
  "alpha",
  "beta",
  "gamma",
  "delta",
  "station",
  "server",
  "router",
  "Zürich",
  "node",
  "edge",
  "hub",
  "relay",
];

function labelledDiff(count) {
  const nodes = new Map();
  for (const id of makeIds(count)) {
    const attributes = {
      label: `${WORDS[below(WORDS.length)]} ${WORDS[below(WORDS.length)]} ${below(100000)}`,
      size: Math.fround(1 + below(20000) / 1000),
      red: below(256),
      green: below(256),
      blue: below(256),
    };
    if (below(10) < 2) attributes.url = `https://example.org/nodes/${below(1000000)}`;
    if (below(10) < 3) attributes.showLabel = below(2) === 1;
    nodes.set(id, attributes);
  }
  return { nodes };
}

function groupedDiff(sourceCount, perSource, poolSize) {
  const pool = makeIds(poolSize);
  const edges = new Map();
  for (const source of makeIds(sourceCount)) {
    const targets = new Map();
    while (targets.size < perSource) {
      targets.set(pool[below(poolSize)], weight());
    }
    edges.set(source, targets);
  }
  return { edges };
}

// Each new node links to `links` distinct earlier nodes, each drawn with a
// chance that grows with its degree (a uniform pick among edge ends).
function scaleFreeDiff(nodeCount, links) {
  const ids = makeIds(nodeCount);
  const ends = [];
  const edges = new Map();
  for (let node = 0; node <= links; node++) {
    ends.push(node);
  }
  for (let node = links + 1; node < nodeCount; node++) {
    const targets = new Map();
    while (targets.size < links) {
      const target = ends[below(ends.length)];
      if (!targets.has(ids[target])) {
        targets.set(ids[target], weight());
        ends.push(target);
      }
    }
    for (let link = 0; link < links; link++) ends.push(node);
    edges.set(ids[node], targets);
  }
  return { edges };
}

// The readings of the module for the same diff, as JSON.
function readingsJson(diff) {
  const nodes = {};
  for (const [id, { label, size, url, red, green, blue, showLabel }] of diff.nodes) {
    nodes[id] = { label, size, url, red, green, blue, show_label: showLabel };
  }
  const edges = {};
  for (const [source, targets] of diff.edges) {
    edges[source] = Object.fromEntries(targets);
  }
  const deletedEdges = Object.fromEntries(diff.deletedEdges);
  return JSON.stringify({
    new_or_updated_nodes: nodes,
    deleted_nodes: diff.deletedNodes,
    new_or_updated_edges: edges,
    deleted_edges: deletedEdges,
  });
}

const SHAPES = {
  labelled: () => labelledDiff(100_000),
  sparse: () => groupedDiff(50_000, 10, 100_000),
  dense: () => groupedDiff(2_000, 250, 100_000),
  "scale-free": () => scaleFreeDiff(100_000, 5),
};

const byCpu = process.argv.includes("--cpu");

function seconds(run) {
  if (byCpu) {
    const started = process.cpuUsage();
    if (run() === undefined) throw new Error("no result");
    const { user, system } = process.cpuUsage(started);
    return (user + system) / 1e6;
  }
  const started = process.hrtime.bigint();
  if (run() === undefined) throw new Error("no result");
  return Number(process.hrtime.bigint() - started) / 1e9;
}

// The best time of each contender over alternating rounds.
function race(contenders) {
  const best = contenders.map(() => Infinity);
  for (let round = 0; round < rounds; round++) {
    contenders.forEach((run, index) => {
      best[index] = Math.min(best[index], seconds(run));
    });
  }
  return best;
}

const ms = (time) => `${(time * 1e3).toFixed(1)} ms`;
const ratio = (theirs, ours) => `${(theirs / ours).toFixed(2)}x`;

const clock = byCpu ? "CPU time" : "clock time";
console.log(`node ${process.version}, best ${clock} of ${rounds} rounds; "x" is how many times as fast as JSON`);
const rows = [["shape", "bytes / JSON", "decodeGraphDiff", "decodeGraphDiffColumns", "encodeGraphDiff"]];
for (const [name, make] of Object.entries(SHAPES)) {
  if (chosenShapes.length > 0 && !chosenShapes.includes(name)) continue;
  const bytes = encodeGraphDiff(make());
  const diff = decodeGraphDiff(bytes);
  const json = readingsJson(diff);
  const parsed = JSON.parse(json);
  const decoders = [() => decodeGraphDiff(bytes), () => JSON.parse(json)];
  if (decodeGraphDiffColumns) decoders.push(() => decodeGraphDiffColumns(bytes));
  const [decodeTime, parseTime, columnsTime] = race(decoders);
  const [encodeTime, stringifyTime] = race([() => encodeGraphDiff(diff), () => JSON.stringify(parsed)]);
  rows.push([
    name,
    `${(bytes.length / 1e6).toFixed(1)} / ${(Buffer.byteLength(json) / 1e6).toFixed(1)} MB`,
    `${ms(decodeTime)} ${ratio(parseTime, decodeTime)}`,
    columnsTime === undefined ? "-" : `${ms(columnsTime)} ${ratio(parseTime, columnsTime)}`,
    `${ms(encodeTime)} ${ratio(stringifyTime, encodeTime)}`,
  ]);
  rows.push(["", "JSON", `parse ${ms(parseTime)}`, "", `stringify ${ms(stringifyTime)}`]);
}
const widths = rows[0].map((_, column) => Math.max(...rows.map((row) => row[column].length)));
for (const row of rows) {
  console.log(
    row
      .map((cell, column) => cell.padEnd(widths[column]))
      .join("  ")
      .trimEnd(),
  );
}
