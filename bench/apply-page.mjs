// The page half of bench_apply.mjs (bundled by it): one large graph drawn
// by sigma, and diffs of the benchmark's shape applied to it three ways.
import Sigma from "sigma";

import { applyGraphDiff, decodeGraphDiff, encodeGraphDiff } from "../js/graph-diff.mjs";
import { frames, randomGraph } from "../js/tests/page-graphs.mjs";
import { seededRandom } from "../js/tests/random-diff.mjs";

// Distinct node drops, edge drops of edges that stay otherwise, and updates
// of nodes that stay: every change of the diff does something.
function benchmarkDiff(graph, random, { nodeDrops, edgeDrops, updates }) {
  const nodes = graph.nodes();
  if (nodeDrops + updates > nodes.length / 2) {
    throw new RangeError(`a graph of ${nodes.length} nodes is too small for ${nodeDrops} drops and ${updates} updates`);
  }
  const chosen = new Set();
  const pickFresh = () => {
    for (;;) {
      const node = nodes[Math.floor(random() * nodes.length)];
      if (!chosen.has(node)) {
        chosen.add(node);
        return node;
      }
    }
  };
  const deletedNodes = Array.from({ length: nodeDrops }, pickFresh);
  const deletedEdges = new Map();
  const edges = graph.edges();
  for (let count = 0; count < edgeDrops;) {
    const edge = edges[Math.floor(random() * edges.length)];
    const [source, target] = [graph.source(edge), graph.target(edge)];
    if (chosen.has(source) || chosen.has(target) || deletedEdges.get(source)?.includes(target)) continue;
    deletedEdges.set(source, [...(deletedEdges.get(source) ?? []), target]);
    count++;
  }
  const nodeUpdates = new Map();
  for (let index = 0; index < updates; index++) {
    const red = Math.floor(random() * 256);
    nodeUpdates.set(pickFresh(), { size: 1 + (index % 5), red, green: 255 - red, blue: 80, label: `u${index}` });
  }
  return decodeGraphDiff(encodeGraphDiff({ nodes: nodeUpdates, deletedNodes, deletedEdges }));
}

// The loop a user writes by hand, with the guards that keep it from
// throwing; run on the first `limit` drops of each kind only, as each drop
// costs sigma a full re-index.
function naiveLoop(graph, diff, limit) {
  const started = performance.now();
  let nodeDrops = 0;
  for (const node of diff.deletedNodes.slice(0, limit)) {
    if (graph.hasNode(node)) graph.dropNode(node);
    nodeDrops++;
  }
  const afterNodes = performance.now();
  let edgeDrops = 0;
  for (const [source, targets] of diff.deletedEdges) {
    for (const target of targets) {
      if (edgeDrops === limit) break;
      if (graph.hasDirectedEdge(source, target)) graph.dropDirectedEdge(source, target);
      edgeDrops++;
    }
  }
  const afterEdges = performance.now();
  for (const [node, update] of diff.nodes) {
    graph.mergeNodeAttributes(node, update);
  }
  const afterUpdates = performance.now();
  const perNodeDrop = (afterNodes - started) / nodeDrops;
  const perEdgeDrop = (afterEdges - afterNodes) / edgeDrops;
  return {
    measuredDrops: nodeDrops + edgeDrops,
    extrapolated:
      perNodeDrop * diff.deletedNodes.length +
      perEdgeDrop * [...diff.deletedEdges.values()].flat().length +
      (afterUpdates - afterEdges),
  };
}

window.runApplyBench = async ({ nodes, edges, rounds, shape, naiveLimit }) => {
  const random = seededRandom(11);
  const shapeOfGraph = { nodes, edges, labelEvery: 100 };
  const graph = randomGraph(seededRandom(3), shapeOfGraph);
  // The same graph again, with no renderer; the same diffs keep it the same.
  const plain = randomGraph(seededRandom(3), shapeOfGraph);
  let started = performance.now();
  const renderer = new Sigma(graph, document.getElementById("graph"));
  await frames(1);
  const setup = { sigmaFirstDraw: performance.now() - started };
  started = performance.now();
  renderer.refresh();
  setup.fullReindexAndDraw = performance.now() - started;
  const results = [];
  // Round 0 warms the code up and is left out.
  for (let round = 0; round <= rounds; round++) {
    const diff = benchmarkDiff(graph, random, shape);
    let noRenderer = 0;
    let withSigma = 0;
    // In turn first and second, so that neither always meets the other's garbage.
    for (const side of round % 2 ? ["plain", "sigma"] : ["sigma", "plain"]) {
      started = performance.now();
      if (side === "plain") applyGraphDiff(plain, diff);
      else applyGraphDiff(graph, diff, { renderer });
      if (side === "plain") noRenderer = performance.now() - started;
      else withSigma = performance.now() - started;
    }
    if (round > 0) results.push({ noRenderer, withSigma, ratio: withSigma / noRenderer });
  }
  // Frames are held back while the rounds run; the next one processes the
  // graph once for all of them, as it would for one.
  started = performance.now();
  await frames(1);
  setup.nextFrame = performance.now() - started;
  const naive = naiveLoop(graph, benchmarkDiff(graph, random, shape), naiveLimit);
  renderer.kill();
  return { setup, results, naive };
};
