// A fast reader for node texts as the writer lays them out: no whitespace,
// members in field order, no null, strings without escapes, sizes as plain
// decimals of at most 15 digits, colours without leading zeros. It reads
// nothing else: for any other text it answers false, and the caller reads
// the text with the general reader, which gives the same attributes for
// every text this one accepts (the tests compare the two on texts written
// and mutated).

import { NODE_FIELDS } from "./node-text-fields.mjs";

const QUOTE = 0x22;
const COMMA = 0x2c;
const CLOSE = 0x7d;

// Each field's member opening, `"key":`, as bytes.
const OPENINGS = NODE_FIELDS.map(({ key }) => Uint8Array.from(`"${key}":`, (c) => c.charCodeAt(0)));
const KINDS = NODE_FIELDS.map(({ kind }) => kind);
const TRUE = [0x74, 0x72, 0x75, 0x65];
const FALSE = [0x66, 0x61, 0x6c, 0x73, 0x65];

// Exact powers of ten: a decimal of at most 15 digits divided by one of
// these rounds once, to the double that the decimal's text stands for.
const POWERS_OF_TEN = Array.from({ length: 16 }, (_, exponent) => 10 ** exponent);

// Below this many bytes, building a string from its code units costs less
// than a call to the decoder.
const SHORT_TEXT = 32;
const codeUnits = Array.from({ length: SHORT_TEXT + 1 }, (_, length) => new Array(length).fill(0));
const utf8 = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });

let pos = 0;

// Each opening as its whole little-endian 32-bit words, then its last bytes,
// so that a member's key is compared in two or three steps.
const OPENING_WORDS = OPENINGS.map((opening) => {
  const words = [];
  for (let at = 0; at + 4 <= opening.length; at += 4) {
    words.push(opening[at] | (opening[at + 1] << 8) | (opening[at + 2] << 16) | (opening[at + 3] << 24));
  }
  return Int32Array.from(words);
});
let view = new DataView(new ArrayBuffer(0));
let viewBytes = null;

function opens(bytes, p, end, field) {
  const opening = OPENINGS[field];
  if (end - p < opening.length) return false;
  const words = OPENING_WORDS[field];
  for (let word = 0; word < words.length; word++) {
    if (view.getInt32(p + 4 * word, true) !== words[word]) return false;
  }
  for (let index = 4 * words.length; index < opening.length; index++) {
    if (bytes[p + index] !== opening[index]) return false;
  }
  return true;
}

function matches(bytes, p, end, literal) {
  if (end - p < literal.length) return false;
  for (let index = 0; index < literal.length; index++) {
    if (bytes[p + index] !== literal[index]) return false;
  }
  return true;
}

// The string at `pos` (its opening quote), or undefined.
function readString(bytes, end) {
  if (bytes[pos] !== QUOTE) return undefined;
  const start = pos + 1;
  let p = start;
  let high = 0;
  for (;;) {
    if (p === end) return undefined;
    const c = bytes[p];
    if (c === QUOTE) break;
    if (c === 0x5c || c < 0x20) return undefined;
    high |= c;
    p++;
  }
  pos = p + 1;
  const length = p - start;
  if (high < 0x80 && length <= SHORT_TEXT) {
    const units = codeUnits[length];
    for (let index = 0; index < length; index++) {
      units[index] = bytes[start + index];
    }
    return String.fromCharCode.apply(null, units);
  }
  try {
    return utf8.decode(bytes.subarray(start, p));
  } catch {
    return undefined;
  }
}

// A decimal of at most 15 digits, read exactly; undefined for anything
// else (exponents, longer digits, a leading zero before a digit).
function readSize(bytes, end) {
  let p = pos;
  const negative = bytes[p] === 0x2d;
  if (negative) p++;
  const first = p;
  let mantissa = 0;
  while (p < end && bytes[p] >= 0x30 && bytes[p] <= 0x39) {
    mantissa = mantissa * 10 + (bytes[p++] - 0x30);
  }
  const integerDigits = p - first;
  if (integerDigits === 0 || (integerDigits > 1 && bytes[first] === 0x30)) return undefined;
  let fractionDigits = 0;
  if (p < end && bytes[p] === 0x2e) {
    const fraction = ++p;
    while (p < end && bytes[p] >= 0x30 && bytes[p] <= 0x39) {
      mantissa = mantissa * 10 + (bytes[p++] - 0x30);
    }
    fractionDigits = p - fraction;
    if (fractionDigits === 0) return undefined;
  }
  if (integerDigits + fractionDigits > 15 || (p < end && (bytes[p] | 0x20) === 0x65)) return undefined;
  pos = p;
  const value = mantissa / POWERS_OF_TEN[fractionDigits];
  return Math.fround(negative ? -value : value);
}

function readColour(bytes, end) {
  let p = pos;
  let value = 0;
  while (p < end && bytes[p] >= 0x30 && bytes[p] <= 0x39 && p - pos < 4) {
    value = value * 10 + (bytes[p++] - 0x30);
  }
  const digits = p - pos;
  if (digits === 0 || digits > 3 || value > 255 || (digits > 1 && bytes[pos] === 0x30)) return undefined;
  pos = p;
  return value;
}

function readFlag(bytes, end) {
  if (matches(bytes, pos, end, TRUE)) {
    pos += 4;
    return true;
  }
  if (matches(bytes, pos, end, FALSE)) {
    pos += 5;
    return false;
  }
  return undefined;
}

/**
 * Reads the node text in bytes [start, end) into `values` (one per field,
 * in field order, undefined where absent) when it has the writer's layout;
 * returns whether it did. Nothing else is read, and nothing is refused.
 */
export function readCompactNodeText(bytes, start, end, values) {
  values.fill(undefined);
  if (end - start < 2 || bytes[start] !== 0x7b || bytes[end - 1] !== CLOSE) return false;
  const close = end - 1;
  if (bytes !== viewBytes) {
    viewBytes = bytes;
    view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  }
  pos = start + 1;
  for (let field = 0; field < OPENINGS.length && pos < close; field++) {
    let p = pos;
    if (p > start + 1) {
      if (bytes[p] !== COMMA) return false;
      p++;
    }
    if (!opens(bytes, p, close, field)) continue;
    pos = p + OPENINGS[field].length;
    const kind = KINDS[field];
    const value =
      kind === "text"
        ? readString(bytes, close)
        : kind === "size"
          ? readSize(bytes, close)
          : kind === "colour"
            ? readColour(bytes, close)
            : readFlag(bytes, close);
    if (value === undefined) return false;
    values[field] = value;
  }
  return pos === close;
}
