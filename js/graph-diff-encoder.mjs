// The encoder of the byte form of a graph diff: writes what the Python
// module writes for the same containers, and refuses, before writing
// anything, what the module could not hold.

import {
  COUNT_SIZE,
  EMPTY_DIFF_SIZE,
  GROUP_HEADER_SIZE,
  ID_FIELD_SIZE,
  ID_LENGTH,
  TARGET_ENTRY_SIZE,
  WEIGHT_SIZE,
} from "./byte-layout.mjs";
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

const TWO_POW_32 = 4294967296;

const isMap = (value) => Object.prototype.toString.call(value) === "[object Map]";

const ID_PATTERN = /^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$/;
// Where each byte's two hex digits stand in an id text.
const ID_TEXT_POSITIONS = [0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34];
const HEX_VALUE = new Uint8Array(128);
for (let digit = 0; digit < 16; digit++) {
  HEX_VALUE["0123456789abcdef".charCodeAt(digit)] = digit;
}

function checkId(id, where) {
  if (typeof id !== "string" || id.length !== 36 || !ID_PATTERN.test(id)) {
    throw new GraphDiffEncodeError(
      "an id must be a 36-character lower-case id text such as 00010203-0405-0607-0809-0a0b0c0d0e0f",
      where,
    );
  }
  return id;
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

// The attributes with only their present keys, each checked.
function checkAttributes(attributes, where) {
  if (attributes === null || typeof attributes !== "object") {
    throw new GraphDiffEncodeError("the attributes must be an object", where);
  }
  const checked = {};
  for (const key of Object.keys(attributes)) {
    const value = attributes[key];
    const fault = FIELD_FAULT.get(key);
    if (fault === undefined) {
      throw new GraphDiffEncodeError(`unknown attribute "${key}"`, where);
    }
    if (value === undefined || value === null) {
      continue;
    }
    const wrong = fault(value);
    if (wrong !== undefined) {
      throw new GraphDiffEncodeError(`${key} must be ${wrong}`, where);
    }
    checked[key] = value;
  }
  return checked;
}

function checkWeight(weight, where) {
  if (typeof weight !== "number") {
    throw new GraphDiffEncodeError("a weight must be a number", where);
  }
  return weight;
}

// Entries of a Map, or of a plain object used as one.
function entriesOf(container, where) {
  if (isMap(container)) {
    return container;
  }
  if (container !== null && typeof container === "object" && !Array.isArray(container)) {
    return Object.entries(container);
  }
  throw new GraphDiffEncodeError("must be a Map (or a plain object)", where);
}

function valuesOf(container, where) {
  if (container === undefined) {
    return [];
  }
  if (container === null || typeof container[Symbol.iterator] !== "function" || typeof container === "string") {
    throw new GraphDiffEncodeError("must be an array (or another iterable) of ids", where);
  }
  return container;
}

class ByteWriter {
  constructor(length) {
    this.bytes = new Uint8Array(length);
    this.view = new DataView(this.bytes.buffer);
    this.pos = 0;
  }

  count(value) {
    this.view.setUint32(this.pos, value % TWO_POW_32, true);
    this.view.setUint32(this.pos + 4, Math.floor(value / TWO_POW_32), true);
    this.pos += COUNT_SIZE;
  }

  id(text) {
    const b = this.bytes;
    this.count(ID_LENGTH);
    const p = this.pos;
    for (let index = 0; index < ID_LENGTH; index++) {
      const at = ID_TEXT_POSITIONS[index];
      b[p + index] = (HEX_VALUE[text.charCodeAt(at)] << 4) | HEX_VALUE[text.charCodeAt(at + 1)];
    }
    this.pos = p + ID_LENGTH;
  }

  weight(value) {
    this.view.setFloat32(this.pos, value, true);
    this.pos += WEIGHT_SIZE;
  }
}

const utf8Encoder = new TextEncoder();

/**
 * The byte form of `diff` ({ nodes, deletedNodes, edges, deletedEdges }, any
 * of them may be left out), written as the Python module writes it, entries
 * in the order the containers list them. Ids repeated in deletedNodes or in
 * a deletedEdges target list are written once. Throws GraphDiffEncodeError
 * for anything the module could not hold, before writing anything.
 */
export function encodeGraphDiff(diff) {
  if (diff === null || typeof diff !== "object") {
    throw new GraphDiffEncodeError("must be an object", "diff");
  }
  let length = EMPTY_DIFF_SIZE;
  const nodes = [];
  for (const [id, attributes] of entriesOf(diff.nodes ?? new Map(), "nodes")) {
    const where = `nodes[${JSON.stringify(id)}]`;
    const text = utf8Encoder.encode(writeNodeText(checkAttributes(attributes, where)));
    nodes.push([checkId(id, where), text]);
    length += GROUP_HEADER_SIZE + text.length;
  }
  const deletedNodes = new Set();
  for (const id of valuesOf(diff.deletedNodes, "deletedNodes")) {
    deletedNodes.add(checkId(id, "deletedNodes"));
  }
  length += ID_FIELD_SIZE * deletedNodes.size;
  const edges = [];
  for (const [source, targets] of entriesOf(diff.edges ?? new Map(), "edges")) {
    const where = `edges[${JSON.stringify(source)}]`;
    checkId(source, where);
    const checked = [];
    for (const [target, weight] of entriesOf(targets, where)) {
      checked.push(checkId(target, where), checkWeight(weight, `${where}[${JSON.stringify(target)}]`));
    }
    edges.push([source, checked]);
    length += GROUP_HEADER_SIZE + TARGET_ENTRY_SIZE * (checked.length / 2);
  }
  const deletedEdges = [];
  for (const [source, targets] of entriesOf(diff.deletedEdges ?? new Map(), "deletedEdges")) {
    const where = `deletedEdges[${JSON.stringify(source)}]`;
    checkId(source, where);
    const checked = new Set();
    for (const target of valuesOf(targets, where)) {
      checked.add(checkId(target, where));
    }
    deletedEdges.push([source, checked]);
    length += GROUP_HEADER_SIZE + ID_FIELD_SIZE * checked.size;
  }

  const writer = new ByteWriter(length);
  writer.count(nodes.length);
  for (const [id, text] of nodes) {
    writer.id(id);
    writer.count(text.length);
    writer.bytes.set(text, writer.pos);
    writer.pos += text.length;
  }
  writer.count(deletedNodes.size);
  for (const id of deletedNodes) {
    writer.id(id);
  }
  writer.count(edges.length);
  for (const [source, targets] of edges) {
    writer.id(source);
    writer.count(targets.length / 2);
    for (let index = 0; index < targets.length; index += 2) {
      writer.id(targets[index]);
      writer.weight(targets[index + 1]);
    }
  }
  writer.count(deletedEdges.length);
  for (const [source, targets] of deletedEdges) {
    writer.id(source);
    writer.count(targets.size);
    for (const target of targets) {
      writer.id(target);
    }
  }
  return writer.bytes;
}
