// Decoder and encoder of the byte form of a graph diff, for JavaScript
// programs that receive diffs written by the Python module (or send them).
// No dependencies; runs in Node 18+ and in browsers. Types: graph-diff.d.mts.
//
//   decodeGraphDiff(bytes) -> { nodes, deletedNodes, edges, deletedEdges }
//   decodeGraphDiffColumns(bytes) -> { ids, idText, nodes, deletedNodes, edges, deletedEdges }
//                                    as typed-array columns over node indices
//   encodeGraphDiff(diff)  -> Uint8Array
//   mergeGraphDiffs(a, b)  -> a new decoded diff: b's changes after a's
//   applyGraphDiff(graph, diff, options) applies a decoded diff to a
//     graphology Graph that the caller passes in

export { GraphDiffDecodeError } from "./byte-reader.mjs";
export { decodeGraphDiff } from "./graph-diff-decoder.mjs";
export { decodeGraphDiffColumns } from "./graph-diff-columns.mjs";
export { encodeGraphDiff, GraphDiffEncodeError } from "./graph-diff-encoder.mjs";
export { mergeGraphDiffs } from "./graph-diff-merge.mjs";
export { applyGraphDiff, defaultNodeAttributes } from "./graph-diff-apply.mjs";
