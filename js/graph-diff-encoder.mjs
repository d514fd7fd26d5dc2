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
import { BLUE, FAST_LAYOUT_HOLDS, GREEN, LABEL, NODE_FIELDS, RED, SHOW_LABEL, SIZE, URL } from "./node-text-fields.mjs";
import { cachedSizeText, writeJsonStringBytes, writeNodeText } from "./node-text-writer.mjs";

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

// Where each byte's two hex digits stand in an id text, and where its
// dashes stand.
const ID_TEXT_POSITIONS = [0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34];
const DASH_POSITIONS = [8, 13, 18, 23];
const ID_TEXT_LENGTH = 36;
// Value of each char code below 128 as a lower-case hex digit, or -1.
const HEX_VALUE = new Int8Array(128).fill(-1);
for (let digit = 0; digit < 16; digit++) {
  HEX_VALUE["0123456789abcdef".charCodeAt(digit)] = digit;
}

function badId(where) {
  return new GraphDiffEncodeError(
    "an id must be a 36-character lower-case id text such as 00010203-0405-0607-0809-0a0b0c0d0e0f",
    where,
  );
}

// Writes the 16 bytes of the id text `id` at `p`; returns false, having
// written garbage, when `id` is not an id text.
function writeIdBytes(b, p, id) {
  if (typeof id !== "string" || id.length !== ID_TEXT_LENGTH) {
    return false;
  }
  let bad = 0;
  for (let index = 0; index < DASH_POSITIONS.length; index++) {
    bad |= id.charCodeAt(DASH_POSITIONS[index]) ^ 0x2d;
  }
  for (let index = 0; index < ID_LENGTH; index++) {
    const at = ID_TEXT_POSITIONS[index];
    const high = id.charCodeAt(at);
    const low = id.charCodeAt(at + 1);
    const digits = (HEX_VALUE[high & 127] << 4) | HEX_VALUE[low & 127];
    // A digit of -1 leaves bits above the byte, a char code of 128 or more
    // bits above the seventh.
    bad |= (digits & ~0xff) | ((high | low) & ~0x7f);
    b[p + index] = digits;
  }
  return bad === 0;
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

// A writer over a buffer that grows as needed; `result` gives exactly the
// bytes written.
class ByteWriter {
  constructor(capacity) {
    this.bytes = new Uint8Array(capacity);
    this.view = new DataView(this.bytes.buffer);
    this.pos = 0;
  }

  reserve(length) {
    if (this.bytes.length - this.pos >= length) return;
    const bytes = new Uint8Array(Math.max(2 * this.bytes.length, this.pos + length));
    bytes.set(this.bytes.subarray(0, this.pos));
    this.bytes = bytes;
    this.view = new DataView(bytes.buffer);
  }

  countAt(at, value) {
    this.view.setUint32(at, value % TWO_POW_32, true);
    this.view.setUint32(at + 4, Math.floor(value / TWO_POW_32), true);
  }

  count(value) {
    this.reserve(COUNT_SIZE);
    this.countAt(this.pos, value);
    this.pos += COUNT_SIZE;
  }

  // The id field of `id`, refused with `where()` when it is not an id text.
  id(id, where) {
    this.reserve(ID_FIELD_SIZE);
    const p = this.pos;
    this.view.setUint32(p, ID_LENGTH, true);
    this.view.setUint32(p + 4, 0, true);
    if (!writeIdBytes(this.bytes, p + COUNT_SIZE, id)) {
      throw badId(where());
    }
    this.pos = p + ID_FIELD_SIZE;
  }

  // A node text: its length, then its UTF-8 bytes.
  text(text) {
    // Three bytes per UTF-16 unit at most.
    this.reserve(COUNT_SIZE + 3 * text.length);
    const b = this.bytes;
    const start = this.pos + COUNT_SIZE;
    let p = start;
    for (let index = 0; index < text.length; index++) {
      const c = text.charCodeAt(index);
      if (c >= 0x80) {
        p = start + utf8Encoder.encodeInto(text, b.subarray(start)).written;
        break;
      }
      b[p++] = c;
    }
    this.countAt(this.pos, p - start);
    this.pos = p;
  }

  // The entry of node `id` straight into the buffer, when its attributes
  // are a plain set of valid fields and its id an id text; false, with
  // nothing kept, for anything else, which the checked path then writes or
  // refuses. The text comes out as writeNodeText writes it.
  node(id, attributes) {
    if (!FAST_LAYOUT_HOLDS || attributes === null || typeof attributes !== "object") return false;
    // Only own keys count, as in checkAttributes.
    const keys = Object.keys(attributes);
    let present = 0;
    for (let index = 0; index < keys.length; index++) {
      const bit = FIELD_BITS[keys[index]];
      if (bit === undefined) return false;
      present |= bit;
    }
    let label, size, url, red, green, blue, showLabel;
    let textLength = 0;
    if ((present & LABEL) !== 0) {
      label = attributes.label;
      if (label === undefined || label === null) present ^= LABEL;
      else if (typeof label !== "string") return false;
      else textLength += label.length;
    }
    if ((present & SIZE) !== 0) {
      size = attributes.size;
      if (size === undefined || size === null) present ^= SIZE;
      else if (typeof size !== "number") return false;
    }
    if ((present & URL) !== 0) {
      url = attributes.url;
      if (url === undefined || url === null) present ^= URL;
      else if (typeof url !== "string") return false;
      else textLength += url.length;
    }
    if ((present & RED) !== 0) {
      red = attributes.red;
      if (red === undefined || red === null) present ^= RED;
      else if (typeof red !== "number" || (red & 255) !== red) return false;
    }
    if ((present & GREEN) !== 0) {
      green = attributes.green;
      if (green === undefined || green === null) present ^= GREEN;
      else if (typeof green !== "number" || (green & 255) !== green) return false;
    }
    if ((present & BLUE) !== 0) {
      blue = attributes.blue;
      if (blue === undefined || blue === null) present ^= BLUE;
      else if (typeof blue !== "number" || (blue & 255) !== blue) return false;
    }
    if ((present & SHOW_LABEL) !== 0) {
      showLabel = attributes.showLabel;
      if (showLabel === undefined || showLabel === null) present ^= SHOW_LABEL;
      else if (typeof showLabel !== "boolean") return false;
    }
    // Six bytes per code unit at most (an escape), and room for the rest.
    this.reserve(GROUP_HEADER_SIZE + MOST_TEXT_BESIDES_STRINGS + 6 * textLength);
    const b = this.bytes;
    const start = this.pos;
    this.view.setUint32(start, ID_LENGTH, true);
    this.view.setUint32(start + 4, 0, true);
    if (!writeIdBytes(b, start + COUNT_SIZE, id)) return false;
    const textStart = start + GROUP_HEADER_SIZE;
    // Each member after a comma; the first comma becomes the opening brace.
    let p = textStart;
    if ((present & LABEL) !== 0) {
      p = writeJsonStringBytes(b, putBytes(b, p, MEMBER_OPENINGS[0]), label);
      if (p < 0) return false;
    }
    if ((present & SIZE) !== 0) {
      p = putText(b, putBytes(b, p, MEMBER_OPENINGS[1]), cachedSizeText(Math.fround(size)));
    }
    if ((present & URL) !== 0) {
      p = writeJsonStringBytes(b, putBytes(b, p, MEMBER_OPENINGS[2]), url);
      if (p < 0) return false;
    }
    if ((present & RED) !== 0) p = putColour(b, putBytes(b, p, MEMBER_OPENINGS[3]), red);
    if ((present & GREEN) !== 0) p = putColour(b, putBytes(b, p, MEMBER_OPENINGS[4]), green);
    if ((present & BLUE) !== 0) p = putColour(b, putBytes(b, p, MEMBER_OPENINGS[5]), blue);
    if ((present & SHOW_LABEL) !== 0) {
      p = putBytes(b, putBytes(b, p, MEMBER_OPENINGS[6]), showLabel ? TRUE : FALSE);
    }
    if (p === textStart) {
      b[p++] = 0x7b;
    } else {
      b[textStart] = 0x7b;
    }
    b[p++] = 0x7d;
    this.countAt(start + ID_FIELD_SIZE, p - textStart);
    this.pos = p;
    return true;
  }

  result() {
    return this.pos === this.bytes.length ? this.bytes : this.bytes.slice(0, this.pos);
  }
}

const utf8Encoder = new TextEncoder();

const asciiBytes = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
// Each field's bit by its key, on an object without a prototype so that
// only the seven keys are found.
const FIELD_BITS = Object.assign(
  Object.create(null),
  Object.fromEntries(NODE_FIELDS.map(({ key }, field) => [key, 1 << field])),
);
const MEMBER_OPENINGS = NODE_FIELDS.map(({ key }) => asciiBytes(`,"${key}":`));
const TRUE = asciiBytes("true");
const FALSE = asciiBytes("false");
// What a node text holds besides its strings' contents at most: braces,
// commas and keys, two strings' quotes, a size text (at most 17 bytes, as
// in -0.00000123456789), three colours, a flag; with room to spare, as a
// write past the buffer's end would be lost without a sound.
const MOST_TEXT_BESIDES_STRINGS =
  2 + MEMBER_OPENINGS.reduce((sum, opening) => sum + opening.length, 0) + 4 + 24 + 9 + 5;

function putBytes(b, p, bytes) {
  for (let index = 0; index < bytes.length; index++) b[p + index] = bytes[index];
  return p + bytes.length;
}

function putText(b, p, text) {
  for (let index = 0; index < text.length; index++) b[p + index] = text.charCodeAt(index);
  return p + text.length;
}

function putColour(b, p, value) {
  if (value >= 100) {
    b[p++] = 0x30 + ((value / 100) | 0);
    b[p++] = 0x30 + (((value / 10) | 0) % 10);
  } else if (value >= 10) {
    b[p++] = 0x30 + ((value / 10) | 0);
  }
  b[p++] = 0x30 + (value % 10);
  return p;
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
  const writer = new ByteWriter(estimatedLength(nodes, edges));

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
