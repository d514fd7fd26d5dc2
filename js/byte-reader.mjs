// The cursor over the byte form that both decoders read through, and the
// refusal they throw.
//
// Layout (every number little-endian, no padding, no header):
//   count 8 bytes (u64) | id: count 16 + 16 bytes | text: count n + n UTF-8
//   bytes | weight: 4 bytes binary32
//   nodes: count, (id, text)*      deleted nodes: count, id*
//   edges: count, (source id, count, (target id, weight)*)*
//   deleted edges: count, (source id, count, target id*)*
// Bytes after the deleted edges are ignored.

import { COUNT_SIZE, ID_FIELD_SIZE, ID_LENGTH } from "./byte-layout.mjs";
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

// Type tests by tag rather than instanceof, so that values made in another
// realm (an iframe, a vm context) are recognised too.
const tagOf = (value) => Object.prototype.toString.call(value);

/** The input as a Uint8Array over its own bytes; `caller` names who refuses it. */
export function asBytes(input, caller) {
  if (ArrayBuffer.isView(input)) {
    return tagOf(input) === "[object Uint8Array]"
      ? input
      : new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
  }
  if (tagOf(input) === "[object ArrayBuffer]") {
    return new Uint8Array(input);
  }
  throw new TypeError(`${caller} takes a Uint8Array, an ArrayBuffer or a Buffer`);
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

/**
 * The attributes of the node text in bytes [start, end) by the general
 * reader, refused as the diff's fault; `id` names the node in the message.
 */
export function readNodeTextOf(bytes, start, end, id) {
  try {
    return readNodeText(bytes, start, end);
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

/** The one cursor over the input. Every read compares what it needs with what remains before it touches a byte. */
export class ByteReader {
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

  /** Whether an id field of the right length starts at `p`, whole. */
  idFieldAt(p) {
    const view = this.view;
    return this.end - p >= ID_FIELD_SIZE && view.getUint32(p, true) === ID_LENGTH && view.getUint32(p + 4, true) === 0;
  }

  /** Reads the id field at the cursor; returns where its 16 bytes start. */
  id(what) {
    const p = this.pos;
    if (this.idFieldAt(p)) {
      this.pos = p + ID_FIELD_SIZE;
      return p + COUNT_SIZE;
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

  /** Reads a text field's length and skips its bytes; returns where they start. */
  text(what) {
    const p = this.pos;
    const length = this.count(`the length of ${what}`);
    if (length > this.end - this.pos) {
      this.prematureEnd(this.exactCount(p), what);
    }
    const start = this.pos;
    this.pos = start + length;
    return start;
  }

  /** Refuses the bytes [start, end) unless they are strict UTF-8. */
  checkUtf8(start, end, what) {
    const invalid = invalidUtf8At(this.bytes, start, end);
    if (invalid >= 0) {
      throw new GraphDiffDecodeError("invalid-utf8", `${what} is not valid UTF-8`, invalid);
    }
  }
}
