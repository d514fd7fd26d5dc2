// The encoder of the byte form of a graph diff: writes what the Python
// module writes for the same containers, and refuses, before writing
// anything, what the module could not hold.

import { EMPTY_DIFF_SIZE, GROUP_HEADER_SIZE, TARGET_ENTRY_SIZE, WEIGHT_SIZE } from "./byte-layout.mjs";
import { ByteWriter } from "./byte-writer.mjs";
import { NODE_FIELDS } from "./node-text-fields.mjs";
import { writeNodeText } from "./node-text-writer.mjs";

/** A diff holding a value that the byte form (or the module) cannot hold. */
export class GraphDiffEncodeError extends TypeError {
  constructor(reason, where) {
    super(`${where}: ${reason}`);
    this.name = "GraphDiffEncodeError";
    this.reason = reason;
    this.where = where;
  }
}

const isMap = (value) => Object.prototype.toString.call(value) === "[object Map]";

function badId(where) {
  return new GraphDiffEncodeError(
    "an id must be a 36-character lower-case id text such as 00010203-0405-0607-0809-0a0b0c0d0e0f",
    where,
  );
}

const isWellFormed =
  typeof String.prototype.isWellFormed === "function"
    ? (text) => text.isWellFormed()
    : (text) => !/[\ud800-\udbff](?![\udc00-\udfff])|(?<![\ud800-\udbff])[\udc00-\udfff]/.test(text);

// For each kind of field, what a present value must be, or undefined when
// the value is one.
const VALUE_FAULT = {
  text: (value) =>
    typeof value !== "string" ? "a string" : isWellFormed(value) ? undefined : "a string without lone surrogates",
  size: (value) => (typeof value === "number" ? undefined : "a number"),
  colour: (value) => (Number.isInteger(value) && value >= 0 && value <= 255 ? undefined : "an integer 0..255"),
  flag: (value) => (typeof value === "boolean" ? undefined : "true or false"),
};
const FIELD_FAULT = new Map(NODE_FIELDS.map(({ key, kind }) => [key, VALUE_FAULT[kind]]));

/**
 * The attributes with only their present keys, each checked; `where()`
 * names them in a refusal. What the encoder writes a node text from when
 * its fast path declines.
 */
export function checkAttributes(attributes, where) {
  if (attributes === null || typeof attributes !== "object") {
    throw new GraphDiffEncodeError("the attributes must be an object", where());
  }
  const checked = {};
  for (const key of Object.keys(attributes)) {
    const value = attributes[key];
    const fault = FIELD_FAULT.get(key);
    if (fault === undefined) {
      throw new GraphDiffEncodeError(`unknown attribute "${key}"`, where());
    }
    if (value === undefined || value === null) {
      continue;
    }
    const wrong = fault(value);
    if (wrong !== undefined) {
      throw new GraphDiffEncodeError(`${key} must be ${wrong}`, where());
    }
    checked[key] = value;
  }
  return checked;
}

// Entries of a Map, or of a plain object used as one; `where()` names the
// container in a refusal, here and below.
function entriesOf(container, where) {
  if (isMap(container)) {
    return container;
  }
  if (container !== null && typeof container === "object" && !Array.isArray(container)) {
    return Object.entries(container);
  }
  throw new GraphDiffEncodeError("must be a Map (or a plain object)", where());
}

function valuesOf(container, where) {
  if (container === undefined) {
    return [];
  }
  if (container === null || typeof container[Symbol.iterator] !== "function" || typeof container === "string") {
    throw new GraphDiffEncodeError("must be an array (or another iterable) of ids", where());
  }
  return container;
}

const quoted = (key) => JSON.stringify(key);

/**
 * The byte form of `diff` ({ nodes, deletedNodes, edges, deletedEdges }, any
 * of them may be left out), written as the Python module writes it, entries
 * in the order the containers list them. Ids repeated in deletedNodes or in
 * a deletedEdges target list are written once. Throws GraphDiffEncodeError
 * for anything the module could not hold, and then returns nothing.
 */
export function encodeGraphDiff(diff) {
  if (diff === null || typeof diff !== "object") {
    throw new GraphDiffEncodeError("must be an object", "diff");
  }
  const nodes = entriesOf(diff.nodes ?? new Map(), () => "nodes");
  const edges = entriesOf(diff.edges ?? new Map(), () => "edges");
  const writer = new ByteWriter(estimatedLength(nodes, edges), badId);

  const nodeCountAt = writer.pos;
  writer.count(0);
  let nodeCount = 0;
  for (const [id, attributes] of nodes) {
    if (!writer.node(id, attributes)) {
      const where = () => `nodes[${quoted(id)}]`;
      const text = writeNodeText(checkAttributes(attributes, where));
      writer.id(id, where);
      writer.text(text);
    }
    nodeCount++;
  }
  writer.countAt(nodeCountAt, nodeCount);

  const deletedNodes = new Set(valuesOf(diff.deletedNodes, () => "deletedNodes"));
  writer.count(deletedNodes.size);
  for (const id of deletedNodes) {
    writer.id(id, () => "deletedNodes");
  }

  const sourceCountAt = writer.pos;
  writer.count(0);
  let sourceCount = 0;
  for (const [source, targets] of edges) {
    const where = () => `edges[${quoted(source)}]`;
    writer.id(source, where);
    const targetCountAt = writer.pos;
    writer.count(0);
    let targetCount = 0;
    for (const [target, weight] of entriesOf(targets, where)) {
      writer.id(target, where);
      if (typeof weight !== "number") {
        throw new GraphDiffEncodeError("a weight must be a number", `${where()}[${quoted(target)}]`);
      }
      writer.reserve(WEIGHT_SIZE);
      writer.view.setFloat32(writer.pos, weight, true);
      writer.pos += WEIGHT_SIZE;
      targetCount++;
    }
    writer.countAt(targetCountAt, targetCount);
    sourceCount++;
  }
  writer.countAt(sourceCountAt, sourceCount);

  const deletedSourceCountAt = writer.pos;
  writer.count(0);
  let deletedSourceCount = 0;
  for (const [source, targets] of entriesOf(diff.deletedEdges ?? new Map(), () => "deletedEdges")) {
    const where = () => `deletedEdges[${quoted(source)}]`;
    writer.id(source, where);
    const unique = new Set(valuesOf(targets, where));
    writer.count(unique.size);
    for (const target of unique) {
      writer.id(target, where);
    }
    deletedSourceCount++;
  }
  writer.countAt(deletedSourceCountAt, deletedSourceCount);
  return writer.result();
}

// The length of the byte form when the nodes' texts are short and nothing
// repeats: exact for most edge-heavy diffs, so that their bytes need no
// second copy.
function estimatedLength(nodes, edges) {
  let length = EMPTY_DIFF_SIZE;
  if (isMap(nodes)) length += nodes.size * (GROUP_HEADER_SIZE + 64);
  if (isMap(edges)) {
    for (const targets of edges.values()) {
      length += GROUP_HEADER_SIZE + (isMap(targets) ? TARGET_ENTRY_SIZE * targets.size : 0);
    }
  }
  return length;
}
