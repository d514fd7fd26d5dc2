// Applies a decoded graph diff to a graphology Graph (directed, not multi),
// as one step: deletions, then node updates, then edge settings, with every
// node it creates given a position. graphology is never imported: the
// caller passes its own graph, so this module has no dependency.

const HEX_PAIRS = Array.from({ length: 256 }, (_, value) => value.toString(16).padStart(2, "0"));

/**
 * What a node update becomes in the graph: the diff's own fields as they
 * are, plus what sigma reads, `color` once all three components are known
 * and `forceLabel` from `showLabel`.
 */
export function defaultNodeAttributes(update, current) {
  const attributes = { ...update };
  if (update.showLabel !== undefined) {
    attributes.forceLabel = update.showLabel;
  }
  if (update.red !== undefined || update.green !== undefined || update.blue !== undefined) {
    const red = update.red ?? current?.red;
    const green = update.green ?? current?.green;
    const blue = update.blue ?? current?.blue;
    if (red !== undefined && green !== undefined && blue !== undefined) {
      attributes.color = `#${HEX_PAIRS[red]}${HEX_PAIRS[green]}${HEX_PAIRS[blue]}`;
    }
  }
  return attributes;
}

function checkGraph(graph) {
  if (graph === null || typeof graph !== "object" || typeof graph.mergeDirectedEdge !== "function") {
    throw new TypeError("applyGraphDiff takes a graphology Graph");
  }
  if (graph.multi || graph.type === "undirected") {
    throw new TypeError(
      `applyGraphDiff needs a graph that is directed and not multi, not a ${graph.multi ? "multi " : ""}${graph.type} one`,
    );
  }
}

const hasPosition = (attributes) => Number.isFinite(attributes.x) && Number.isFinite(attributes.y);
const isPositioned = (graph, node) => graph.hasNode(node) && hasPosition(graph.getNodeAttributes(node));

// The default placement: near a positioned neighbour, else anywhere inside
// the bounding box of the positioned nodes. The box is measured once per
// diff, and only when a node is created, so updates cost nothing here.
function defaultPlacement(graph) {
  let box = null;
  const measure = () => {
    box = { minX: Infinity, minY: Infinity, maxX: -Infinity, maxY: -Infinity, count: 0 };
    graph.forEachNode((_, attributes) => {
      if (hasPosition(attributes)) widen(attributes.x, attributes.y);
    });
    if (box.count === 0) {
      box = { minX: 0, minY: 0, maxX: 1, maxY: 1, count: 0 };
    }
    // Nodes placed on one point would meet there, and a layout's repulsion
    // divides by their distance.
    if (!(box.maxX > box.minX)) [box.minX, box.maxX] = [box.minX - 0.5, box.maxX + 0.5];
    if (!(box.maxY > box.minY)) [box.minY, box.maxY] = [box.minY - 0.5, box.maxY + 0.5];
  };
  const widen = (x, y) => {
    box.minX = Math.min(box.minX, x);
    box.maxX = Math.max(box.maxX, x);
    box.minY = Math.min(box.minY, y);
    box.maxY = Math.max(box.maxY, y);
    box.count++;
  };
  return (node, neighbour) => {
    if (box === null) measure();
    let x;
    let y;
    if (neighbour === undefined) {
      x = box.minX + Math.random() * (box.maxX - box.minX);
      y = box.minY + Math.random() * (box.maxY - box.minY);
    } else {
      // About the spacing of nodes spread evenly over the box.
      const spread = Math.max(box.maxX - box.minX, box.maxY - box.minY, 1e-9) / Math.sqrt(box.count + 1);
      const angle = Math.random() * 2 * Math.PI;
      const distance = spread * (0.5 + Math.random() * 0.5);
      const at = graph.getNodeAttributes(neighbour);
      x = at.x + distance * Math.cos(angle);
      y = at.y + distance * Math.sin(angle);
    }
    widen(x, y);
    return { x, y };
  };
}

// sigma answers every nodeDropped and edgeDropped with a full re-index of
// the graph after taking that one element out of its indices, and every
// other change with a refresh of that one element. While a diff is
// applied, the full refreshes are left out (the element is already out of
// the indices) and the refreshes of single elements are gathered into one
// at the end, which schedules the one processing pass of the next frame.
function batchRefreshes(renderer, graph) {
  if (renderer === undefined) {
    return () => {};
  }
  if (typeof renderer?.refresh !== "function") {
    throw new TypeError("applyGraphDiff: options.renderer must have a refresh method");
  }
  const hadOwn = Object.prototype.hasOwnProperty.call(renderer, "refresh");
  const refresh = renderer.refresh;
  const nodes = new Set();
  const edges = new Set();
  renderer.refresh = function batchedRefresh(options) {
    const partial = options?.partialGraph;
    if (partial === undefined) return this;
    if (options.skipIndexation || !options.schedule) return refresh.call(this, options);
    for (const node of partial.nodes ?? []) nodes.add(node);
    for (const edge of partial.edges ?? []) edges.add(edge);
    return this;
  };
  return () => {
    if (hadOwn) renderer.refresh = refresh;
    else delete renderer.refresh;
    const partialGraph = {
      nodes: [...nodes].filter((node) => graph.hasNode(node)),
      edges: [...edges].filter((edge) => graph.hasEdge(edge)),
    };
    renderer.refresh({ partialGraph, schedule: true });
  };
}

/**
 * Applies `diff` (as decodeGraphDiff returns it) to `graph`:
 * 1. each deleted node dropped with its edges, each deleted edge dropped,
 *    where present;
 * 2. each node update merged into the node's attributes through
 *    `options.nodeAttributes` (default: defaultNodeAttributes), the node
 *    created if missing;
 * 3. each edge's `weight` set, missing endpoints created;
 * 4. every node created given `x` and `y` by `options.place(node,
 *    neighbour, graph)`, `neighbour` a positioned node it links to in the
 *    diff or undefined (default: near that neighbour, else inside the
 *    bounding box).
 * With `options.renderer` (a sigma instance bound to the graph), the diff
 * costs the renderer one processing pass instead of a re-index per drop.
 */
export function applyGraphDiff(graph, diff, options = {}) {
  checkGraph(graph);
  const nodeAttributes = options.nodeAttributes ?? defaultNodeAttributes;
  const placeDefault = options.place === undefined ? defaultPlacement(graph) : null;
  const place = (node, neighbour) =>
    placeDefault ? placeDefault(node, neighbour) : options.place(node, neighbour, graph);
  const restore = batchRefreshes(options.renderer, graph);
  try {
    dropDeleted(graph, diff);
    updateNodes(graph, diff, nodeAttributes, place);
    setEdges(graph, diff, place);
  } finally {
    restore();
  }
}

function dropDeleted(graph, diff) {
  for (const node of diff.deletedNodes) {
    if (graph.hasNode(node)) graph.dropNode(node);
  }
  for (const [source, targets] of diff.deletedEdges) {
    for (const target of targets) {
      if (graph.hasDirectedEdge(source, target)) graph.dropDirectedEdge(source, target);
    }
  }
}

function updateNodes(graph, diff, nodeAttributes, place) {
  let sourcesOf = null;
  const neighbourInDiff = (node) => {
    const targets = diff.edges.get(node);
    if (targets !== undefined) {
      for (const target of targets.keys()) {
        if (isPositioned(graph, target)) return target;
      }
    }
    // The sources that point at a node, found in one pass over the diff's
    // edges the first time a new node has no target to stand by.
    if (sourcesOf === null) {
      sourcesOf = new Map();
      for (const [source, edges] of diff.edges) {
        for (const target of edges.keys()) {
          const list = sourcesOf.get(target);
          if (list === undefined) sourcesOf.set(target, [source]);
          else list.push(source);
        }
      }
    }
    for (const source of sourcesOf.get(node) ?? []) {
      if (isPositioned(graph, source)) return source;
    }
    return undefined;
  };
  for (const [node, update] of diff.nodes) {
    if (graph.hasNode(node)) {
      graph.mergeNodeAttributes(node, nodeAttributes(update, graph.getNodeAttributes(node)));
      continue;
    }
    const attributes = nodeAttributes(update, undefined);
    if (!hasPosition(attributes)) {
      Object.assign(attributes, place(node, neighbourInDiff(node)));
    }
    graph.addNode(node, attributes);
  }
}

function setEdges(graph, diff, place) {
  for (const [source, targets] of diff.edges) {
    for (const [target, weight] of targets) {
      if (!graph.hasNode(source)) {
        graph.addNode(source, place(source, isPositioned(graph, target) ? target : undefined));
      }
      if (!graph.hasNode(target)) {
        graph.addNode(target, place(target, isPositioned(graph, source) ? source : undefined));
      }
      graph.mergeDirectedEdge(source, target, { weight });
    }
  }
}
