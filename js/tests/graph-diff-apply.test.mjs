// applyGraphDiff on real graphology graphs: against a plain loop of single
// calls on random diffs, and the cases that the plain loop gets wrong.
import assert from "node:assert/strict";
import { test } from "node:test";

import Graph from "graphology";

import {
  applyGraphDiff,
  decodeGraphDiff,
  defaultNodeAttributes,
  encodeGraphDiff,
  mergeGraphDiffs,
} from "../graph-diff.mjs";
import { randomDiff, randomFloat32, randomId, seededRandom } from "./random-diff.mjs";

// The changes one call at a time, in the order the diff says, with every
// guard spelled out; placement is left out (it is checked on its own).
function applyOneByOne(graph, diff) {
  for (const node of diff.deletedNodes) {
    if (graph.hasNode(node)) graph.dropNode(node);
  }
  for (const [source, targets] of diff.deletedEdges) {
    for (const target of targets) {
      if (graph.hasDirectedEdge(source, target)) graph.dropDirectedEdge(source, target);
    }
  }
  for (const [node, update] of diff.nodes) {
    const current = graph.hasNode(node) ? graph.getNodeAttributes(node) : undefined;
    graph.mergeNode(node, defaultNodeAttributes(update, current));
  }
  for (const [source, targets] of diff.edges) {
    for (const [target, weight] of targets) {
      graph.mergeDirectedEdge(source, target, { weight });
    }
  }
}

// A graph's content without positions, in a form deepEqual compares: nodes
// and edges in the graph's own order.
function withoutPosition(attributes) {
  const rest = { ...attributes };
  delete rest.x;
  delete rest.y;
  return rest;
}

function content(graph) {
  return {
    nodes: graph.mapNodes((node, attributes) => [node, withoutPosition(attributes)]),
    edges: graph.mapEdges((_, attributes, source, target) => [source, target, attributes]),
  };
}

function assertPositioned(graph) {
  graph.forEachNode((node, { x, y }) => {
    assert.ok(Number.isFinite(x) && Number.isFinite(y), `node ${node} has no position: ${x}, ${y}`);
  });
}

// A graph over the same small id pool as the random diffs, so that drops
// and updates meet existing nodes and edges.
function randomGraph(random, everyId = false) {
  const graph = new Graph({ type: "directed" });
  const ids = everyId
    ? Array.from({ length: 12 }, (_, index) => randomId(() => (index + 0.5) / 12))
    : Array.from({ length: Math.floor(random() * 10) }, () => randomId(random));
  for (const node of ids) {
    graph.mergeNode(node, { x: random() * 100, y: random() * 100, red: 1, green: 2, label: "old" });
  }
  const nodes = graph.nodes();
  for (let index = nodes.length * 2; index > 0 && nodes.length > 0; index--) {
    const pick = () => nodes[Math.floor(random() * nodes.length)];
    graph.mergeDirectedEdge(pick(), pick(), { weight: randomFloat32(random) });
  }
  return graph;
}

test("a random diff applied to a random graph gives what single calls in order give", () => {
  const random = seededRandom(23);
  for (let round = 0; round < 1500; round++) {
    const start = randomGraph(random);
    // Decoded, so that repeated keys and contradictions come as the wire carries them.
    const diff = decodeGraphDiff(encodeGraphDiff(randomDiff(random, 6)));
    const expected = start.copy();
    applyOneByOne(expected, diff);
    const graph = start.copy();
    applyGraphDiff(graph, diff);
    assert.deepEqual(content(graph), content(expected));
    assertPositioned(graph);
  }
});

// A random diff as a history of single calls can leave it: no node both
// updated and deleted, no edge both set and deleted, none set at a deleted
// node; and none of `avoid` named anywhere.
function recordableDiff(random, avoid = new Set()) {
  const diff = randomDiff(random, 6);
  const deleted = new Set(diff.deletedNodes.filter((node) => !avoid.has(node)));
  const named = (node) => !avoid.has(node);
  const kept = (node) => named(node) && !deleted.has(node);
  const edges = new Map();
  for (const [source, targets] of diff.edges) {
    if (kept(source)) edges.set(source, new Map([...targets].filter(([target]) => kept(target))));
  }
  const deletedEdges = new Map();
  for (const [source, targets] of diff.deletedEdges) {
    if (!named(source)) continue;
    deletedEdges.set(
      source,
      targets.filter((target) => named(target) && !edges.get(source)?.has(target)),
    );
  }
  const nodes = new Map([...diff.nodes].filter(([node]) => kept(node)));
  return decodeGraphDiff(encodeGraphDiff({ nodes, deletedNodes: [...deleted], edges, deletedEdges }));
}

// Content regardless of the order in which nodes and edges were created.
function sortedContent(graph) {
  const { nodes, edges } = content(graph);
  const byKey = (a, b) => (a[0] + a[1] < b[0] + b[1] ? -1 : 1);
  return { nodes: nodes.sort(byKey), edges: edges.sort(byKey) };
}

test("applying d1 then d2 gives what applying mergeGraphDiffs(d1, d2) gives", () => {
  const random = seededRandom(29);
  for (let round = 0; round < 1000; round++) {
    const first = recordableDiff(random);
    // Merging cannot say that a node deleted in d1 comes back in d2 (a diff
    // holds a node as updated or deleted, never both), nor that an edge
    // created a node that a later deletion of its other end leaves behind:
    // so d2 names no node that d1 deletes, and the graph has every node.
    const second = recordableDiff(random, new Set(first.deletedNodes));
    const start = randomGraph(random, true);
    const stepwise = start.copy();
    applyGraphDiff(stepwise, first);
    applyGraphDiff(stepwise, second);
    const merged = start.copy();
    applyGraphDiff(merged, mergeGraphDiffs(first, second));
    assert.deepEqual(sortedContent(merged), sortedContent(stepwise));
  }
});

const A = "00000000-0000-4000-8000-00000000000a";
const B = "00000000-0000-4000-8000-00000000000b";
const C = "00000000-0000-4000-8000-00000000000c";

function diffOf({ nodes = [], deletedNodes = [], edges = [], deletedEdges = [] }) {
  return decodeGraphDiff(
    encodeGraphDiff({
      nodes: new Map(nodes),
      deletedNodes,
      edges: new Map(edges.map(([source, targets]) => [source, new Map(targets)])),
      deletedEdges: new Map(deletedEdges),
    }),
  );
}

test("deletions of missing nodes and edges are skipped, the rest still applied", () => {
  const graph = new Graph({ type: "directed" });
  graph.addNode(A, { x: 0, y: 0 });
  graph.addNode(B, { x: 1, y: 1 });
  graph.addDirectedEdge(A, B, { weight: 1 });
  applyGraphDiff(
    graph,
    diffOf({
      deletedNodes: [C],
      deletedEdges: [
        [B, [A, C]],
        [C, [A]],
        [A, [B]],
      ],
      nodes: [[C, { label: "c" }]],
    }),
  );
  assert.deepEqual(graph.nodes(), [A, B, C]);
  assert.equal(graph.size, 0);
});

test("edges create their missing endpoints, positioned beside the other end", () => {
  const graph = new Graph({ type: "directed" });
  graph.addNode(A, { x: 10, y: -5, size: 3 });
  applyGraphDiff(
    graph,
    diffOf({
      edges: [
        [A, [[B, 0.1]]],
        [C, [[C, 2]]],
      ],
    }),
  );
  assert.equal(graph.getDirectedEdgeAttribute(A, B, "weight"), Math.fround(0.1));
  assert.equal(graph.getDirectedEdgeAttribute(C, C, "weight"), 2);
  assertPositioned(graph);
  const { x, y } = graph.getNodeAttributes(B);
  assert.ok(Math.hypot(x - 10, y + 5) > 0, "B stands apart from A");
  assert.ok(Math.hypot(x - 10, y + 5) <= 2, `B is near A: (${x}, ${y})`);
});

test("colour and label attributes as sigma reads them, merged with what the node has", () => {
  const cases = [
    // [attributes before, update, attributes after]
    [undefined, { red: 255, green: 0, blue: 16 }, { red: 255, green: 0, blue: 16, color: "#ff0010" }],
    [undefined, { red: 1, green: 2 }, { red: 1, green: 2 }],
    [{ red: 1, green: 2, label: "a" }, { blue: 171 }, { red: 1, green: 2, blue: 171, label: "a", color: "#0102ab" }],
    [
      { red: 1, green: 2, blue: 3, color: "#010203" },
      { green: 255 },
      { red: 1, green: 255, blue: 3, color: "#01ff03" },
    ],
    [{ color: "#123456" }, { label: "b", size: 2.5 }, { color: "#123456", label: "b", size: 2.5 }],
    [undefined, { showLabel: true, url: "u" }, { showLabel: true, forceLabel: true, url: "u" }],
    [{ showLabel: true, forceLabel: true }, { showLabel: false }, { showLabel: false, forceLabel: false }],
  ];
  for (const [before, update, after] of cases) {
    const graph = new Graph({ type: "directed" });
    if (before) graph.addNode(A, { ...before, x: 0, y: 0 });
    applyGraphDiff(graph, diffOf({ nodes: [[A, update]] }));
    assert.deepEqual(withoutPosition(graph.getNodeAttributes(A)), after, JSON.stringify({ before, update }));
  }
});

test("options replace the attribute mapping and the placement", () => {
  const graph = new Graph({ type: "directed" });
  graph.addNode(A, { x: 0, y: 0 });
  const placed = [];
  applyGraphDiff(
    graph,
    diffOf({
      nodes: [[B, { size: 4 }]],
      edges: [
        [B, [[A, 1]]],
        [C, [[B, 1]]],
      ],
    }),
    {
      nodeAttributes: (update, current) => ({ radius: update.size, seen: current !== undefined }),
      place: (node, neighbour) => {
        placed.push([node, neighbour]);
        return { x: 7, y: 8 };
      },
    },
  );
  assert.deepEqual(graph.getNodeAttributes(B), { radius: 4, seen: false, x: 7, y: 8 });
  assert.deepEqual(placed, [
    [B, A],
    [C, B],
  ]);
});

test("default placement: near a neighbour in the diff, else inside the bounding box", () => {
  const graph = new Graph({ type: "directed" });
  for (let index = 0; index < 100; index++) {
    graph.addNode(`n${index}`, { x: (index % 10) * 10, y: Math.floor(index / 10) * 10 });
  }
  const lonely = Array.from({ length: 50 }, (_, index) => randomId(seededRandom(index), 1e9));
  applyGraphDiff(
    graph,
    diffOf({
      nodes: [[A, {}], [B, {}], ...lonely.map((node) => [node, {}])],
      edges: [
        [B, [[C, 1]]],
        [C, [[A, 1]]],
      ],
    }),
  );
  // A and B link only to C, which is new and only an endpoint: both land in
  // the box; C is created by the edge from B, so beside B.
  for (const node of [A, B, ...lonely]) {
    const { x, y } = graph.getNodeAttributes(node);
    assert.ok(x >= 0 && x <= 90 && y >= 0 && y <= 90, `${node} inside the box: (${x}, ${y})`);
  }
  const distance = (p, q) => Math.hypot(p.x - q.x, p.y - q.y);
  assert.ok(distance(graph.getNodeAttributes(C), graph.getNodeAttributes(B)) < 10);
  // An empty graph, and one whose nodes stand on one point, still spread
  // new nodes apart.
  for (const start of [[], [[A, { x: 5, y: 5 }]]]) {
    const small = new Graph({ type: "directed" });
    for (const [node, attributes] of start) small.addNode(node, attributes);
    applyGraphDiff(small, diffOf({ nodes: lonely.slice(0, 20).map((node) => [node, {}]) }));
    assertPositioned(small);
    const places = new Set(small.mapNodes((_, { x, y }) => `${x} ${y}`));
    assert.equal(places.size, small.order);
  }
});

test("a graph that is undirected or multi is refused before anything changes", () => {
  for (const graph of [new Graph({ type: "undirected" }), new Graph({ multi: true })]) {
    assert.throws(() => applyGraphDiff(graph, diffOf({ nodes: [[A, {}]] })), TypeError);
    assert.equal(graph.order, 0);
  }
  assert.throws(() => applyGraphDiff({}, diffOf({})), /takes a graphology Graph/);
});

test("with a renderer, its refreshes during the diff become one at the end", () => {
  const calls = [];
  const renderer = {
    refresh(options) {
      calls.push(options);
    },
  };
  const own = renderer.refresh;
  const graph = new Graph({ type: "directed" });
  graph.addNode(A, { x: 0, y: 0 });
  graph.addNode(B, { x: 0, y: 0 });
  graph.addDirectedEdge(A, B);
  // As sigma's handlers ask: a full refresh per drop, one of the element otherwise.
  graph.on("edgeDropped", () => renderer.refresh({ schedule: true }));
  graph.on("nodeDropped", () => renderer.refresh());
  graph.on("nodeAdded", ({ key }) => renderer.refresh({ partialGraph: { nodes: [key] }, schedule: true }));
  graph.on("nodeAttributesUpdated", ({ key }) => renderer.refresh({ partialGraph: { nodes: [key] }, schedule: true }));
  graph.on("edgeAdded", ({ key }) => renderer.refresh({ partialGraph: { edges: [key] }, schedule: true }));
  // One that is not a handler's (no schedule) goes through as it is.
  graph.on("edgeAdded", ({ key }) => renderer.refresh({ partialGraph: { edges: [key] } }));
  const diff = diffOf({
    deletedNodes: [A],
    nodes: [
      [C, {}],
      [B, { size: 1 }],
    ],
    edges: [[C, [[B, 1]]]],
  });
  applyGraphDiff(graph, diff, { renderer });
  const edge = graph.directedEdge(C, B);
  assert.deepEqual(calls, [
    { partialGraph: { edges: [edge] } },
    { partialGraph: { nodes: [C, B], edges: [edge] }, schedule: true },
  ]);
  assert.equal(renderer.refresh, own);
  assert.ok(Object.prototype.hasOwnProperty.call(renderer, "refresh"));
  calls.length = 0;
  applyGraphDiff(graph, diffOf({ deletedNodes: [C] }), { renderer });
  assert.deepEqual(
    calls,
    [{ partialGraph: { nodes: [], edges: [] }, schedule: true }],
    "a drop alone still schedules a pass",
  );
});
