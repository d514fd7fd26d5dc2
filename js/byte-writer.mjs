// The writer of the byte form's fields into one growing buffer: counts, id
// fields, texts, and a node's whole entry straight from plain attributes,
// for the encoder (graph-diff-encoder.mjs).

import { COUNT_SIZE, GROUP_HEADER_SIZE, ID_FIELD_SIZE, ID_LENGTH } from "./byte-layout.mjs";
import { BLUE, FAST_LAYOUT_HOLDS, GREEN, LABEL, NODE_FIELDS, RED, SHOW_LABEL, SIZE, URL } from "./node-text-fields.mjs";
import { cachedSizeText, writeJsonStringBytes } from "./node-text-writer.mjs";

const TWO_POW_32 = 4294967296;

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

// A writer over a buffer that grows as needed; `result` gives exactly the
// bytes written.
export class ByteWriter {
  // `refuseId(where)` is the error thrown for a value that is not an id text.
  constructor(capacity, refuseId) {
    this.refuseId = refuseId;
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
      throw this.refuseId(where());
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
