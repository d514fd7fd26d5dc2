// Types of graph-diff.mjs: the byte form of a graph diff, decoded and
// encoded. Named .d.mts, as TypeScript looks for it beside an .mjs file.

/** A node id as a 36-character lower-case text, 8-4-4-4-12 hex digits. */
export type NodeId = string;

/** A node's display attributes; only the present ones are keys. */
export interface NodeAttributes {
  label?: string;
  /** A float32 value, widened exactly. */
  size?: number;
  url?: string;
  /** 0..255 */
  red?: number;
  /** 0..255 */
  green?: number;
  /** 0..255 */
  blue?: number;
  showLabel?: boolean;
}

/** A decoded diff; every container lists its entries in the order of the bytes. */
export interface GraphDiff {
  nodes: Map<NodeId, NodeAttributes>;
  deletedNodes: NodeId[];
  /** source -> target -> weight (a float32 value, widened exactly) */
  edges: Map<NodeId, Map<NodeId, number>>;
  /** source -> targets */
  deletedEdges: Map<NodeId, NodeId[]>;
}

/**
 * Node updates as columns, one row per node; the node of row r has index r
 * (node ids are interned first). A row without an attribute holds NaN
 * (size), -1 (colours, showLabel) or undefined (texts).
 */
export interface NodeColumns {
  /** The id index of each row: 0, 1, 2, ... */
  nodeIndex: Uint32Array;
  label: (string | undefined)[];
  /** float32 values */
  size: Float32Array;
  url: (string | undefined)[];
  red: Int16Array;
  green: Int16Array;
  blue: Int16Array;
  /** 1 true, 0 false, -1 absent */
  showLabel: Int8Array;
}

/**
 * Edges as columns over id indices, one row per edge, grouped by source in
 * the order of the bytes: group g is source groupSources[g] with the rows
 * from groupEnds[g - 1] (0 for the first) to groupEnds[g]. A group may be
 * empty; a source is listed once.
 */
export interface EdgeColumns {
  source: Uint32Array;
  target: Uint32Array;
  groupSources: Uint32Array;
  groupEnds: Uint32Array;
}

export interface WeightedEdgeColumns extends EdgeColumns {
  /** The stored float32 weights, bit for bit. */
  weight: Float32Array;
}

/** A decoded diff as typed-array columns over id indices. */
export interface GraphDiffColumns {
  /** Every id the diff mentions, 16 bytes per index, in the order first met. */
  ids: Uint8Array;
  idCount: number;
  /** The 36-character text of the id of `index`; throws RangeError for no such index. */
  idText(index: number): NodeId;
  nodes: NodeColumns;
  /** Indices of the deleted nodes, each once. */
  deletedNodes: Uint32Array;
  edges: WeightedEdgeColumns;
  deletedEdges: EdgeColumns;
}

/** What encodeGraphDiff takes: any container may be left out, and plain objects may stand for Maps. */
export interface GraphDiffInput {
  nodes?: Map<NodeId, NodeAttributes> | Record<NodeId, NodeAttributes>;
  deletedNodes?: Iterable<NodeId>;
  edges?:
    | Map<NodeId, Map<NodeId, number> | Record<NodeId, number>>
    | Record<NodeId, Map<NodeId, number> | Record<NodeId, number>>;
  deletedEdges?: Map<NodeId, Iterable<NodeId>> | Record<NodeId, Iterable<NodeId>>;
}

export type GraphDiffDecodeErrorKind = "premature-end" | "wrong-id-length" | "invalid-utf8" | "invalid-node-text";

/** Thrown by decodeGraphDiff and decodeGraphDiffColumns for bytes that are not the byte form of a diff. */
export class GraphDiffDecodeError extends Error {
  readonly name: "GraphDiffDecodeError";
  readonly kind: GraphDiffDecodeErrorKind;
  /** What is wrong, for a person. */
  readonly reason: string;
  /** Byte offset in the input where it is wrong. */
  readonly offset: number;
}

/** Thrown by encodeGraphDiff for a value the byte form cannot hold. */
export class GraphDiffEncodeError extends TypeError {
  readonly name: "GraphDiffEncodeError";
  readonly reason: string;
  /** Which part of the input, such as `nodes["..."]`. */
  readonly where: string;
}

/**
 * Decodes the byte form of a graph diff. Accepts exactly what the Python
 * module's `PyGraphDiff.from_bytes` accepts.
 * @throws GraphDiffDecodeError
 */
export function decodeGraphDiff(bytes: Uint8Array | ArrayBuffer | ArrayBufferView): GraphDiff;

/**
 * Decodes the byte form of a graph diff into columns. Accepts and refuses
 * exactly what decodeGraphDiff does, and holds the same content.
 * @throws GraphDiffDecodeError
 */
export function decodeGraphDiffColumns(bytes: Uint8Array | ArrayBuffer | ArrayBufferView): GraphDiffColumns;

/**
 * The byte form of a diff, written as the Python module writes it. Weights
 * and sizes are rounded to float32.
 * @throws GraphDiffEncodeError
 */
export function encodeGraphDiff(diff: GraphDiffInput): Uint8Array;

/**
 * A new diff holding `b`'s changes recorded after `a`'s, as the Python
 * module's `PyGraphDiff.merge` records them: `b`'s deleted nodes, deleted
 * edges, node records and edges, each in listing order. Encoding it gives
 * the bytes that `merge` gives for the same two diffs. Neither argument
 * changes.
 */
export function mergeGraphDiffs(a: GraphDiff, b: GraphDiff): GraphDiff;

/**
 * The part of a graphology `Graph` (directed or mixed, not multi) that
 * applyGraphDiff uses; pass the graph itself.
 */
export interface ApplyTargetGraph {
  readonly multi: boolean;
  readonly type: string;
  hasNode(node: string): boolean;
  addNode(node: string, attributes?: Record<string, unknown>): unknown;
  dropNode(node: string): unknown;
  getNodeAttributes(node: string): Record<string, unknown>;
  mergeNodeAttributes(node: string, attributes: Record<string, unknown>): unknown;
  forEachNode(callback: (node: string, attributes: Record<string, unknown>) => void): void;
  hasEdge(edge: string): boolean;
  hasDirectedEdge(source: string, target: string): boolean;
  dropDirectedEdge(source: string, target: string): unknown;
  mergeDirectedEdge(source: string, target: string, attributes?: Record<string, unknown>): unknown;
}

/** A node's position, as sigma and most layouts read it. */
export interface Position {
  x: number;
  y: number;
}

export interface ApplyGraphDiffOptions {
  /**
   * What a node update is merged into the node's attributes as; `current`
   * is the node's attributes before, undefined for a node that is created.
   * Default: defaultNodeAttributes.
   */
  nodeAttributes?: (update: NodeAttributes, current: Record<string, unknown> | undefined) => Record<string, unknown>;
  /**
   * The position of a node that the diff creates; `neighbour` is a node
   * with a position that it links to in the diff, if there is one. Not
   * called when nodeAttributes already gives `x` and `y`. Default: near
   * the neighbour, else anywhere inside the bounding box of the nodes.
   */
  place?: (node: NodeId, neighbour: NodeId | undefined, graph: ApplyTargetGraph) => Position;
  /**
   * A sigma renderer bound to the graph: the diff then costs it one
   * processing pass instead of a full re-index per dropped node or edge.
   */
  renderer?: { refresh(options?: object): unknown };
}

/**
 * The default mapping of a node update to graph attributes: the update's own
 * fields, `forceLabel` from `showLabel`, and `color` as "#rrggbb" once red,
 * green and blue are all known (from the update, else from `current`).
 */
export function defaultNodeAttributes(
  update: NodeAttributes,
  current: Record<string, unknown> | undefined,
): NodeAttributes & { color?: string; forceLabel?: boolean };

/**
 * Applies a decoded diff to a graphology graph: deleted nodes and edges
 * dropped where present, node updates merged (nodes created if missing),
 * edge weights set as `weight` (endpoints created if missing), and every
 * created node given `x` and `y`. Nothing missing throws.
 * @throws TypeError for a graph that is undirected or multi
 */
export function applyGraphDiff(graph: ApplyTargetGraph, diff: GraphDiff, options?: ApplyGraphDiffOptions): void;
