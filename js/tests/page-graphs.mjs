// What the pages of the sigma check and of the apply benchmark share: ids
// by number, a random graph of a given size, and waiting for frames.
import Graph from "graphology";

export function idOf(index) {
  return `00000000-0000-4000-8000-${index.toString(16).padStart(12, "0")}`;
}

/** A directed graph with nodes idOf(0..nodes-1) at random places, and `edges` random edges of weight 1. */
export function randomGraph(random, { nodes, edges, labelEvery, forceLabelEvery = Infinity }) {
  const graph = new Graph({ type: "directed" });
  for (let index = 0; index < nodes; index++) {
    graph.addNode(idOf(index), {
      x: random(),
      y: random(),
      size: 2,
      label: index % labelEvery ? undefined : `n${index}`,
      forceLabel: index % forceLabelEvery === 0,
    });
  }
  while (graph.size < edges) {
    graph.mergeDirectedEdge(idOf(Math.floor(random() * nodes)), idOf(Math.floor(random() * nodes)), { weight: 1 });
  }
  return graph;
}

export function frames(count) {
  return new Promise((resolve) => {
    const next = (left) => (left === 0 ? resolve() : requestAnimationFrame(() => next(left - 1)));
    next(count);
  });
}
