// Checked with tsc (never run): the declarations in graph-diff.d.mts fit the
// way the module is used, and refuse what it refuses.
import { DirectedGraph } from "graphology";

import {
  applyGraphDiff,
  decodeGraphDiff,
  decodeGraphDiffColumns,
  defaultNodeAttributes,
  encodeGraphDiff,
  GraphDiffDecodeError,
  GraphDiffEncodeError,
  mergeGraphDiffs,
  type GraphDiff,
  type GraphDiffColumns,
  type GraphDiffDecodeErrorKind,
  type NodeAttributes,
} from "../graph-diff.mjs";

const diff = decodeGraphDiff(new Uint8Array(32));
decodeGraphDiff(new ArrayBuffer(32));
const attributes: NodeAttributes | undefined = diff.nodes.get("id");
const size: number | undefined = attributes?.size;
const showLabel: boolean | undefined = attributes?.showLabel;
const weight: number | undefined = diff.edges.get("source")?.get("target");
const deleted: string[] = diff.deletedNodes;
const deletedTargets: string[] | undefined = diff.deletedEdges.get("source");

const columns: GraphDiffColumns = decodeGraphDiffColumns(new Uint8Array(32));
const positions = new Float32Array(columns.idCount * 2);
const sizes: Float32Array = columns.nodes.size;
const label: string | undefined = columns.nodes.label[0];
const visible: number = columns.nodes.showLabel[0];
const firstTarget: number = columns.edges.target[columns.edges.groupEnds[0] - 1];
const weights: Float32Array = columns.edges.weight;
const sourceText: string = columns.idText(columns.deletedEdges.source[0]);
const deletedIndices: Uint32Array = columns.deletedNodes;
// @ts-expect-error: deleted edges have no weight
columns.deletedEdges.weight;

const bytes: Uint8Array = encodeGraphDiff(diff);
const pending: GraphDiff = mergeGraphDiffs(diff, decodeGraphDiff(bytes));
encodeGraphDiff(mergeGraphDiffs(pending, diff));
encodeGraphDiff({});
encodeGraphDiff({ nodes: { id: { label: "a", red: 1 } }, edges: { source: { target: 0.5 } } });
encodeGraphDiff({ deletedNodes: new Set(["id"]), deletedEdges: new Map([["source", ["target"]]]) });

try {
  decodeGraphDiff(bytes);
} catch (error) {
  if (error instanceof GraphDiffDecodeError) {
    const offset: number = error.offset;
    const kind: GraphDiffDecodeErrorKind = error.kind;
    const reason: string = error.reason;
    console.log(offset, kind, reason);
  } else if (error instanceof GraphDiffEncodeError) {
    const where: string = error.where;
    console.log(where);
  }
}

// @ts-expect-error: a colour is a number
encodeGraphDiff({ nodes: { id: { red: "1" } } });
// @ts-expect-error: the key is showLabel
encodeGraphDiff({ nodes: { id: { show_label: true } } });
// @ts-expect-error: a weight is a number
encodeGraphDiff({ edges: { source: { target: "1" } } });
// @ts-expect-error: bytes, not text
decodeGraphDiff("00");

const graph = new DirectedGraph();
applyGraphDiff(graph, diff);
applyGraphDiff(graph, diff, {
  nodeAttributes: (update, current) => ({ ...defaultNodeAttributes(update, current), seen: current !== undefined }),
  place: (node, neighbour, target) => (neighbour ? { x: 0, y: target.hasNode(node) ? 1 : 0 } : { x: 1, y: 1 }),
  renderer: { refresh: () => undefined },
});
const colour: string | undefined = defaultNodeAttributes({ red: 1 }, undefined).color;
// @ts-expect-error: a position has x and y
applyGraphDiff(graph, diff, { place: () => ({ x: 1 }) });
// @ts-expect-error: the diff as decodeGraphDiff returns it, not its bytes
applyGraphDiff(graph, bytes);

console.log(size, showLabel, weight, deleted, deletedTargets, colour);
console.log(positions, sizes, label, visible, firstTarget, weights, sourceText, deletedIndices);
