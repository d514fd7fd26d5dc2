// The decoder of the byte form of a graph diff.
//
// Layout (every number little-endian, no padding, no header):
//   count 8 bytes (u64) | id: count 16 + 16 bytes | text: count n + n UTF-8
//   bytes | weight: 4 bytes binary32
//   nodes: count, (id, text)*      deleted nodes: count, id*
//   edges: count, (source id, count, (target id, weight)*)*
//   deleted edges: count, (source id, count, target id*)*
// Bytes after the deleted edges are ignored. Node texts are parsed only
// after all four sections have been read, so a cut-off input always fails
// as cut off, whatever its texts hold.

import { COUNT_SIZE, ID_FIELD_SIZE, ID_LENGTH, TARGET_ENTRY_SIZE, WEIGHT_SIZE } from "./byte-layout.mjs";
import { NodeTextError } from "./json-cursor.mjs";
import { readNodeText } from "./node-text-reader.mjs";

/** A byte string that is not the byte form of a diff. */
export class GraphDiffDecodeError extends Error {
  /**
   * @param {string} kind "premature-end", "wrong-id-length", "invalid-utf8"
   *   or "invalid-node-text"
   * @param {string} reason what is wrong, for a person
   * @param {number} offset byte offset in the input where it is wrong
   */
  constructor(kind, reason, offset) {
    super(`${reason} (at byte ${offset})`);
    this.name = "GraphDiffDecodeError";
    this.kind = kind;
    this.reason = reason;
    this.offset = offset;
  }
}

const TWO_POW_32 = 4294967296;

// Lower-case hex digits as char codes, for building id texts in one call.
const HEX = new Uint8Array(16);
for (let digit = 0; digit < 16; digit++) {
  HEX[digit] = "0123456789abcdef".charCodeAt(digit);
}

function idText(b, p) {
  const h = HEX;
  // prettier-ignore
  return String.fromCharCode(
    h[b[p] >> 4], h[b[p] & 15], h[b[p + 1] >> 4], h[b[p + 1] & 15],
    h[b[p + 2] >> 4], h[b[p + 2] & 15], h[b[p + 3] >> 4], h[b[p + 3] & 15], 45,
    h[b[p + 4] >> 4], h[b[p + 4] & 15], h[b[p + 5] >> 4], h[b[p + 5] & 15], 45,
    h[b[p + 6] >> 4], h[b[p + 6] & 15], h[b[p + 7] >> 4], h[b[p + 7] & 15], 45,
    h[b[p + 8] >> 4], h[b[p + 8] & 15], h[b[p + 9] >> 4], h[b[p + 9] & 15], 45,
    h[b[p + 10] >> 4], h[b[p + 10] & 15], h[b[p + 11] >> 4], h[b[p + 11] & 15],
    h[b[p + 12] >> 4], h[b[p + 12] & 15], h[b[p + 13] >> 4], h[b[p + 13] & 15],
    h[b[p + 14] >> 4], h[b[p + 14] & 15], h[b[p + 15] >> 4], h[b[p + 15] & 15],
  );
}

// Type tests by tag rather than instanceof, so that values made in another
// realm (an iframe, a vm context) are recognised too.
const tagOf = (value) => Object.prototype.toString.call(value);

function asBytes(input) {
  if (ArrayBuffer.isView(input)) {
    return tagOf(input) === "[object Uint8Array]"
      ? input
      : new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
  }
  if (tagOf(input) === "[object ArrayBuffer]") {
    return new Uint8Array(input);
  }
  throw new TypeError("decodeGraphDiff takes a Uint8Array, an ArrayBuffer or a Buffer");
}

// Offset of the first byte in [start, end) that breaks strict UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF, no cut sequence),
// or -1.
function invalidUtf8At(b, start, end) {
  let p = start;
  while (p < end) {
    const lead = b[p];
    if (lead < 0x80) {
      p++;
      continue;
    }
    let length;
    let low = 0x80;
    let high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
      length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      length = 3;
      if (lead === 0xe0) low = 0xa0;
      else if (lead === 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      length = 4;
      if (lead === 0xf0) low = 0x90;
      else if (lead === 0xf4) high = 0x8f;
    } else {
      return p;
    }
    if (end - p < length || b[p + 1] < low || b[p + 1] > high) {
      return p;
    }
    if (length > 2 && (b[p + 2] & 0xc0) !== 0x80) return p;
    if (length > 3 && (b[p + 3] & 0xc0) !== 0x80) return p;
    p += length;
  }
  return -1;
}

// The one cursor over the input. Every read compares what it needs with
// what remains before it touches a byte.
class ByteReader {
  constructor(bytes) {
    this.bytes = bytes;
    this.view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    this.pos = 0;
    this.end = bytes.length;
  }

  prematureEnd(needed, what) {
    const remaining = this.end - this.pos;
    throw new GraphDiffDecodeError("premature-end", `${what} needs ${needed} bytes but ${remaining} remain`, this.pos);
  }

  // A count as a number; one beyond 2^53 becomes Infinity, which compares
  // as larger than any input and ends any loop at the input's end.
  count(what) {
    if (this.end - this.pos < COUNT_SIZE) {
      this.prematureEnd(COUNT_SIZE, what);
    }
    const low = this.view.getUint32(this.pos, true);
    const high = this.view.getUint32(this.pos + 4, true);
    this.pos += COUNT_SIZE;
    return high === 0 ? low : high < 0x200000 ? high * TWO_POW_32 + low : Infinity;
  }

  // The id field at the cursor as its text.
  id(what) {
    const p = this.pos;
    const view = this.view;
    if (this.end - p >= ID_FIELD_SIZE && view.getUint32(p, true) === ID_LENGTH && view.getUint32(p + 4, true) === 0) {
      this.pos = p + ID_FIELD_SIZE;
      return idText(this.bytes, p + COUNT_SIZE);
    }
    const length = this.count(`the length of ${what}`);
    if (length > this.end - this.pos) {
      this.prematureEnd(this.exactCount(p), what);
    }
    throw new GraphDiffDecodeError("wrong-id-length", `${what} has length ${length}, not ${ID_LENGTH}`, p);
  }

  // The count at `p` in full, for messages.
  exactCount(p) {
    return this.view.getBigUint64(p, true).toString();
  }

  // A text field: checks its UTF-8 and returns where its bytes start.
  text(what) {
    const p = this.pos;
    const length = this.count(`the length of ${what}`);
    if (length > this.end - this.pos) {
      this.prematureEnd(this.exactCount(p), what);
    }
    const start = this.pos;
    const invalid = invalidUtf8At(this.bytes, start, start + length);
    if (invalid >= 0) {
      throw new GraphDiffDecodeError("invalid-utf8", `${what} is not valid UTF-8`, invalid);
    }
    this.pos = start + length;
    return start;
  }
}

/**
 * Decodes the byte form of a graph diff. Every container lists its entries
 * in the order of the bytes; a repeated key keeps its first place and takes
 * the later value. Throws GraphDiffDecodeError.
 */
export function decodeGraphDiff(input) {
  const bytes = asBytes(input);
  const reader = new ByteReader(bytes);
  const view = reader.view;
  const end = reader.end;

  // Node ids to the [start, end) of their texts, parsed at the end.
  const texts = new Map();
  const nodeCount = reader.count("the node count");
  for (let entry = 0; entry < nodeCount; entry++) {
    const id = reader.id("a node id");
    const start = reader.text("a node text");
    texts.set(id, [start, reader.pos]);
  }

  const deletedIds = new Set();
  const deletedCount = reader.count("the deleted-node count");
  for (let entry = 0; entry < deletedCount; entry++) {
    deletedIds.add(reader.id("a deleted node id"));
  }

  const edges = new Map();
  const sourceCount = reader.count("the edge source count");
  for (let entry = 0; entry < sourceCount; entry++) {
    const source = reader.id("an edge source id");
    const targetCount = reader.count("an edge target count");
    const targets = new Map();
    // The bulk of a large diff: a whole target entry under one bounds
    // check, read straight from the bytes.
    let p = reader.pos;
    for (let index = 0; index < targetCount; index++) {
      if (end - p >= TARGET_ENTRY_SIZE && view.getUint32(p, true) === ID_LENGTH && view.getUint32(p + 4, true) === 0) {
        targets.set(idText(bytes, p + COUNT_SIZE), view.getFloat32(p + ID_FIELD_SIZE, true));
        p += TARGET_ENTRY_SIZE;
        continue;
      }
      reader.pos = p;
      const target = reader.id("an edge target id");
      if (end - reader.pos < WEIGHT_SIZE) {
        reader.prematureEnd(WEIGHT_SIZE, "an edge weight");
      }
      targets.set(target, view.getFloat32(reader.pos, true));
      p = reader.pos + WEIGHT_SIZE;
    }
    reader.pos = p;
    edges.set(source, targets);
  }

  const deletedEdges = new Map();
  const deletedSourceCount = reader.count("the deleted-edge source count");
  for (let entry = 0; entry < deletedSourceCount; entry++) {
    const source = reader.id("a deleted-edge source id");
    const targetCount = reader.count("a deleted-edge target count");
    const targets = new Set();
    for (let index = 0; index < targetCount; index++) {
      targets.add(reader.id("a deleted-edge target id"));
    }
    deletedEdges.set(source, Array.from(targets));
  }

  const nodes = new Map();
  for (const [id, [start, stop]] of texts) {
    try {
      nodes.set(id, readNodeText(bytes, start, stop));
    } catch (error) {
      if (!(error instanceof NodeTextError)) {
        throw error;
      }
      throw new GraphDiffDecodeError(
        "invalid-node-text",
        `the text of node ${id} is not a node text: ${error.message}`,
        start + error.offset,
      );
    }
  }
  return { nodes, deletedNodes: Array.from(deletedIds), edges, deletedEdges };
}
