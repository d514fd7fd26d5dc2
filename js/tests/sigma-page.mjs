// The page half of sigma-refresh.browser.mjs: a graph drawn by sigma,
// changed by random diffs, with sigma's full re-indexes counted.
import Sigma from "sigma";

import { applyGraphDiff, decodeGraphDiff, encodeGraphDiff } from "../graph-diff.mjs";
import { frames, idOf, randomGraph } from "./page-graphs.mjs";
import { seededRandom } from "./random-diff.mjs";

// A diff that drops, updates and creates: drawn from the graph as it is, so
// that most of its drops meet something.
function randomChanges(graph, random, size) {
  const nodes = graph.nodes();
  const pick = () => nodes[Math.floor(random() * nodes.length)];
  const edges = graph.edges();
  const deletedEdges = new Map();
  for (let index = 0; index < size; index++) {
    const edge = edges[Math.floor(random() * edges.length)];
    const source = graph.source(edge);
    deletedEdges.set(source, [...(deletedEdges.get(source) ?? []), graph.target(edge)]);
  }
  const updates = new Map();
  for (let index = 0; index < size * 2; index++) {
    const node = random() < 0.8 ? pick() : idOf(1e6 + Math.floor(random() * 1e6));
    updates.set(node, {
      size: 1 + random() * 5,
      red: 200,
      green: 10,
      blue: 10,
      showLabel: random() < 0.2,
      label: `n${index}`,
    });
  }
  const newEdges = new Map();
  for (let index = 0; index < size; index++) {
    newEdges.set(pick(), new Map([[idOf(2e6 + index), random()]]));
  }
  const deletedNodes = Array.from({ length: size }, pick);
  return decodeGraphDiff(encodeGraphDiff({ nodes: updates, deletedNodes, edges: newEdges, deletedEdges }));
}

function sigmaState(renderer, graph) {
  const cached = Object.keys(renderer.nodeDataCache);
  const stale = cached.filter((node) => !graph.hasNode(node)).length;
  const staleEdges = Object.keys(renderer.edgeDataCache).filter((edge) => !graph.hasEdge(edge)).length;
  const staleLabels = [...renderer.nodesWithForcedLabels].filter((node) => !graph.hasNode(node)).length;
  // What sigma draws each node with, against the node's attributes.
  const outdated = graph.filterNodes((node, { color, size, forceLabel }) => {
    const data = renderer.getNodeDisplayData(node);
    const drawn = [data.color, data.size, renderer.nodesWithForcedLabels.has(node)];
    return (
      JSON.stringify(drawn) !==
      JSON.stringify([color ?? renderer.getSetting("defaultNodeColor"), size || 2, Boolean(forceLabel)])
    );
  }).length;
  return { cached: cached.length, nodes: graph.order, stale, staleEdges, staleLabels, outdated };
}

/** Applies `rounds` random diffs and reports sigma's re-indexes for each. */
window.runSigmaCheck = async ({ nodes, edges, rounds, size, batched }) => {
  const random = seededRandom(5);
  const graph = randomGraph(random, { nodes, edges, labelEvery: 20, forceLabelEvery: 40 });
  const renderer = new Sigma(graph, document.getElementById("graph"));
  let reindexes = 0;
  const clearNodeIndices = renderer.clearNodeIndices;
  renderer.clearNodeIndices = function countedClearNodeIndices() {
    reindexes++;
    return clearNodeIndices.call(this);
  };
  await frames(2);
  const report = [];
  for (let round = 0; round < rounds; round++) {
    const diff = randomChanges(graph, random, size);
    // A hovered node that the diff drops must not outlive it in sigma.
    renderer.hoveredNode = diff.deletedNodes[0];
    reindexes = 0;
    applyGraphDiff(graph, diff, batched ? { renderer } : {});
    const during = reindexes;
    await frames(2);
    report.push({
      reindexes: during,
      hovered: renderer.hoveredNode,
      drops: diff.deletedNodes.length,
      ...sigmaState(renderer, graph),
    });
  }
  renderer.kill();
  return report;
};
