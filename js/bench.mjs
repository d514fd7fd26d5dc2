// Decoding speed, measured beside JSON.parse in the same run.
//
//   node js/bench.mjs [--edges N] [--sources N] [--rounds N]
//
// Builds a diff of 10^6 edges over 10^5 sources (targets drawn from as many
// node ids as there are sources), and times decodeGraphDiff on its byte form
// against JSON.parse of the same diff written as JSON in the shape of the
// module's readings ({"new_or_updated_edges": {source: {target: weight}},
// ...}, weights written as Python writes the widened float32 values). Both
// build Maps or objects keyed by id texts. Prints the best of several rounds
// of each, in MB/s of its own input, and the ratio of the two times.
import { decodeGraphDiff, encodeGraphDiff } from "./graph-diff.mjs";

function option(name, fallback) {
  const index = process.argv.indexOf(`--${name}`);
  return index < 0 ? fallback : Number(process.argv[index + 1]);
}

const edgeCount = option("edges", 1_000_000);
const sourceCount = option("sources", 100_000);
const rounds = option("rounds", 5);

// Deterministic ids and weights: the run is the same every time.
let state = 1;
const next = () => (state = (Math.imul(state, 1664525) + 1013904223) >>> 0);
function makeId() {
  let hex = "";
  for (let word = 0; word < 4; word++) {
    hex += next().toString(16).padStart(8, "0");
  }
  return `${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}`;
}

const ids = Array.from({ length: sourceCount }, makeId);
const edges = new Map();
const perSource = Math.floor(edgeCount / sourceCount);
for (let source = 0; source < sourceCount; source++) {
  const targets = new Map();
  while (targets.size < perSource) {
    targets.set(ids[next() % sourceCount], Math.fround((next() % 100000) / 1000));
  }
  edges.set(ids[source], targets);
}
const diff = { nodes: new Map(), deletedNodes: [], edges, deletedEdges: new Map() };
const bytes = encodeGraphDiff(diff);
const json = JSON.stringify({
  new_or_updated_nodes: {},
  deleted_nodes: [],
  new_or_updated_edges: Object.fromEntries([...edges].map(([s, ts]) => [s, Object.fromEntries(ts)])),
  deleted_edges: {},
});
const jsonBytes = Buffer.byteLength(json);

function seconds(run) {
  const started = process.hrtime.bigint();
  if (run() === undefined) throw new Error("no result");
  return Number(process.hrtime.bigint() - started) / 1e9;
}

// The best of each, alternating so that neither gets a quieter machine.
let decodeTime = Infinity;
let parseTime = Infinity;
for (let round = 0; round < rounds; round++) {
  decodeTime = Math.min(
    decodeTime,
    seconds(() => decodeGraphDiff(bytes)),
  );
  parseTime = Math.min(
    parseTime,
    seconds(() => JSON.parse(json)),
  );
}

const megabytes = (size, time) => (size / 1e6 / time).toFixed(0);
console.log(`diff: ${edgeCount} edges over ${sourceCount} sources; node ${process.version}`);
const line = (name, time, size) =>
  `${name} ${(time * 1e3).toFixed(0)} ms for ${size} bytes, ${megabytes(size, time)} MB/s`;
console.log(line("decodeGraphDiff:", decodeTime, bytes.length));
console.log(line("JSON.parse:     ", parseTime, jsonBytes));
console.log(`decodeGraphDiff is ${(parseTime / decodeTime).toFixed(2)}x as fast as JSON.parse`);
