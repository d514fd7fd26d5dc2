// A fast reader for node texts as the writer lays them out: no whitespace,
// members in field order, no null, strings without escapes, sizes as plain
// decimals of at most 15 digits, colours without leading zeros. It reads
// nothing else: for any other text it answers false, and the caller reads
// the text with the general reader, which gives the same attributes for
// every text this one accepts (the tests compare the two on texts written
// and mutated).
//
// The fields are read into one record of fixed shape, `scanned`, so that a
// decoder takes them without an array or a keyed store between; each
// field's member opening is compared as whole 32-bit words.

import { asciiText, SHORT_ASCII } from "./ascii-text.mjs";
import { BLUE, FAST_LAYOUT_HOLDS, GREEN, LABEL, RED, SHOW_LABEL, SIZE, URL } from "./node-text-fields.mjs";

const COMMON = LABEL | SIZE | RED | GREEN | BLUE;

/** The fields of the text last taken by scanCompactNodeText, each valid where its bit is set in `present`. */
export const scanned = {
  present: 0,
  label: "",
  size: 0.5,
  url: "",
  red: 0,
  green: 0,
  blue: 0,
  showLabel: false,
};

const QUOTE = 0x22;
const COMMA = 0x2c;
const OPEN = 0x7b;
const CLOSE = 0x7d;

// `"key":` of a field as little-endian 32-bit words: the whole words, and
// the tail (1 to 3 bytes, in the low bits) with its mask.
function openingOf(key) {
  const bytes = Uint8Array.from(`"${key}":`, (c) => c.charCodeAt(0));
  const words = [];
  for (let at = 0; at < bytes.length; at += 4) {
    let word = 0;
    for (let index = at; index < Math.min(at + 4, bytes.length); index++) {
      word |= bytes[index] << (8 * (index - at));
    }
    words.push(word);
  }
  const tail = bytes.length % 4;
  const mask = tail === 0 ? -1 : (1 << (8 * tail)) - 1;
  return { length: bytes.length, words, mask };
}

// `"label":` and `"green":` are 8 bytes, `"showLabel":` 12, the others 6 or 7.
const L = openingOf("label");
const S = openingOf("size");
const U = openingOf("url");
const R = openingOf("red");
const G = openingOf("green");
const B = openingOf("blue");
const F = openingOf("showLabel");

// Exact powers of ten: a decimal of at most 15 digits divided by one of
// these rounds once, to the double that the decimal's text stands for.
const POWERS_OF_TEN = Array.from({ length: 16 }, (_, exponent) => 10 ** exponent);

// Up to this many bytes, a string is made from its code units at once:
// ASCII straight from the bytes, other texts decoded here first; longer
// ones go to the decoder.
const SHORT_TEXT = SHORT_ASCII;
const codeUnits = Array.from({ length: SHORT_TEXT + 1 }, (_, length) => new Array(length).fill(0));
const utf8 = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });

// Whether the opening of 5 to 8 bytes is at `p` with a value byte after it
// before `close`; the words read then end before `close`, inside the text.
function opens(view, p, close, opening) {
  return (
    close - p > opening.length &&
    view.getInt32(p, true) === opening.words[0] &&
    (view.getInt32(p + 4, true) & opening.mask) === opening.words[1]
  );
}

// The end of the string at `p` (its opening quote) once read into
// `stringValue`, or -1.
let stringValue = "";
function readString(bytes, p, end) {
  if (bytes[p] !== QUOTE) return -1;
  const start = p + 1;
  let high = 0;
  for (p = start; ; p++) {
    if (p === end) return -1;
    const c = bytes[p];
    if (c === QUOTE) break;
    if (c === 0x5c || c < 0x20) return -1;
    high |= c;
  }
  const length = p - start;
  if (high < 0x80 && length <= SHORT_ASCII) {
    stringValue = asciiText(bytes, start, length);
  } else if (length <= SHORT_TEXT) {
    const units = decodeShortUtf8(bytes, start, p);
    if (units === null) return -1;
    stringValue = String.fromCharCode.apply(null, units);
  } else {
    try {
      stringValue = utf8.decode(bytes.subarray(start, p));
    } catch {
      return -1;
    }
  }
  return p + 1;
}

// The UTF-16 code units of the strict UTF-8 in bytes [start, end), at most
// SHORT_TEXT of them, in one of `codeUnits`; null where the decoder would
// refuse the bytes (an overlong form, a surrogate, a point past U+10FFFF,
// a cut or stray sequence).
const decoded = new Array(SHORT_TEXT).fill(0);
function decodeShortUtf8(bytes, start, end) {
  let count = 0;
  for (let p = start; p < end;) {
    const lead = bytes[p];
    if (lead < 0x80) {
      decoded[count++] = lead;
      p++;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
      if (end - p < 2 || (bytes[p + 1] & 0xc0) !== 0x80) return null;
      decoded[count++] = ((lead & 0x1f) << 6) | (bytes[p + 1] & 0x3f);
      p += 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
      if (end - p < 3) return null;
      const second = bytes[p + 1];
      if (second < (lead === 0xe0 ? 0xa0 : 0x80) || second > (lead === 0xed ? 0x9f : 0xbf)) return null;
      if ((bytes[p + 2] & 0xc0) !== 0x80) return null;
      decoded[count++] = ((lead & 0x0f) << 12) | ((second & 0x3f) << 6) | (bytes[p + 2] & 0x3f);
      p += 3;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
      if (end - p < 4) return null;
      const second = bytes[p + 1];
      if (second < (lead === 0xf0 ? 0x90 : 0x80) || second > (lead === 0xf4 ? 0x8f : 0xbf)) return null;
      if ((bytes[p + 2] & 0xc0) !== 0x80 || (bytes[p + 3] & 0xc0) !== 0x80) return null;
      const point =
        (((lead & 0x07) << 18) | ((second & 0x3f) << 12) | ((bytes[p + 2] & 0x3f) << 6) | (bytes[p + 3] & 0x3f)) -
        0x10000;
      decoded[count++] = 0xd800 | (point >> 10);
      decoded[count++] = 0xdc00 | (point & 0x3ff);
      p += 4;
    } else {
      return null;
    }
  }
  const units = codeUnits[count];
  for (let index = 0; index < count; index++) {
    units[index] = decoded[index];
  }
  return units;
}

// Numbers need no bound of their own: the text's closing brace, which the
// caller has checked, ends every run of digits inside the text.
const digitAt = (bytes, p) => {
  const digit = bytes[p] - 0x30;
  return digit >= 0 && digit <= 9 ? digit : -1;
};

// The end of the size at `p` once read into `scanned.size`, or -1: a
// decimal of at most 15 digits, read exactly, and nothing else (no
// exponent, no longer digits, no leading zero before a digit).
function readSize(bytes, p) {
  const negative = bytes[p] === 0x2d;
  if (negative) p++;
  const first = p;
  let mantissa = 0;
  let digit;
  while ((digit = digitAt(bytes, p)) >= 0) {
    mantissa = mantissa * 10 + digit;
    p++;
  }
  const integerDigits = p - first;
  if (integerDigits === 0 || (integerDigits > 1 && bytes[first] === 0x30)) return -1;
  let fractionDigits = 0;
  if (bytes[p] === 0x2e) {
    const fraction = ++p;
    while ((digit = digitAt(bytes, p)) >= 0) {
      mantissa = mantissa * 10 + digit;
      p++;
    }
    fractionDigits = p - fraction;
    if (fractionDigits === 0) return -1;
  }
  if (integerDigits + fractionDigits > 15 || (bytes[p] | 0x20) === 0x65) return -1;
  const value = mantissa / POWERS_OF_TEN[fractionDigits];
  scanned.size = Math.fround(negative ? -value : value);
  return p;
}

// The end of the colour at `p` once read into `colourValue`, or -1: one to
// three digits, no leading zero, at most 255.
let colourValue = 0;
function readColour(bytes, p) {
  const first = digitAt(bytes, p);
  if (first < 0) return -1;
  const second = digitAt(bytes, p + 1);
  if (second < 0) {
    colourValue = first;
    return p + 1;
  }
  if (first === 0) return -1;
  const third = digitAt(bytes, p + 2);
  if (third < 0) {
    colourValue = first * 10 + second;
    return p + 2;
  }
  const value = first * 100 + second * 10 + third;
  if (value > 255 || digitAt(bytes, p + 3) >= 0) return -1;
  colourValue = value;
  return p + 3;
}

const TRUE = 0x65757274; // "true"
const ALSE = 0x65736c61; // "alse", after the "f"

/**
 * Reads the node text in bytes [start, end) into `scanned` when it has the
 * writer's layout; returns whether it did. Nothing else is read, and
 * nothing is refused. `view` is a DataView over the same bytes as `bytes`
 * (the caller's, so that nothing here holds on to the input).
 */
export function scanCompactNodeText(bytes, view, start, end) {
  scanned.present = 0;
  if (!FAST_LAYOUT_HOLDS || end - start < 2 || bytes[start] !== OPEN || bytes[end - 1] !== CLOSE) return false;
  const close = end - 1;
  let p = start + 1;
  if (p === close) return true;
  let present = 0;
  // Each member in field order: a field whose opening is not next is
  // absent; past the last field, anything left makes no compact text.
  if (opens(view, p, close, L)) {
    p = readString(bytes, p + L.length, close);
    if (p < 0) return false;
    scanned.label = stringValue;
    present |= LABEL;
    if (p === close) return finish(present);
    if (bytes[p++] !== COMMA) return false;
  }
  if (opens(view, p, close, S)) {
    p = readSize(bytes, p + S.length);
    if (p < 0) return false;
    present |= SIZE;
    if (p === close) return finish(present);
    if (bytes[p++] !== COMMA) return false;
  }
  if (opens(view, p, close, U)) {
    p = readString(bytes, p + U.length, close);
    if (p < 0) return false;
    scanned.url = stringValue;
    present |= URL;
    if (p === close) return finish(present);
    if (bytes[p++] !== COMMA) return false;
  }
  if (opens(view, p, close, R)) {
    p = readColour(bytes, p + R.length);
    if (p < 0) return false;
    scanned.red = colourValue;
    present |= RED;
    if (p === close) return finish(present);
    if (bytes[p++] !== COMMA) return false;
  }
  if (opens(view, p, close, G)) {
    p = readColour(bytes, p + G.length);
    if (p < 0) return false;
    scanned.green = colourValue;
    present |= GREEN;
    if (p === close) return finish(present);
    if (bytes[p++] !== COMMA) return false;
  }
  if (opens(view, p, close, B)) {
    p = readColour(bytes, p + B.length);
    if (p < 0) return false;
    scanned.blue = colourValue;
    present |= BLUE;
    if (p === close) return finish(present);
    if (bytes[p++] !== COMMA) return false;
  }
  if (
    close - p > F.length &&
    view.getInt32(p, true) === F.words[0] &&
    view.getInt32(p + 4, true) === F.words[1] &&
    view.getInt32(p + 8, true) === F.words[2]
  ) {
    p += F.length;
    if (close - p === 4 && view.getInt32(p, true) === TRUE) {
      scanned.showLabel = true;
    } else if (close - p === 5 && bytes[p] === 0x66 && view.getInt32(p + 1, true) === ALSE) {
      scanned.showLabel = false;
    } else {
      return false;
    }
    return finish(present | SHOW_LABEL);
  }
  return false;
}

function finish(present) {
  scanned.present = present;
  return true;
}

/**
 * The attributes of the text last taken by scanCompactNodeText: a new
 * object with the present keys in field order. The usual sets of fields
 * come as literals, so that such objects share one shape each and hold
 * their fields in place.
 */
export function scannedAttributes() {
  const { present, label, size, red, green, blue } = scanned;
  if ((present & COMMON) === COMMON) {
    switch (present) {
      case COMMON:
        return { label, size, red, green, blue };
      case COMMON | URL:
        return { label, size, url: scanned.url, red, green, blue };
      case COMMON | SHOW_LABEL:
        return { label, size, red, green, blue, showLabel: scanned.showLabel };
      default:
        return { label, size, url: scanned.url, red, green, blue, showLabel: scanned.showLabel };
    }
  }
  const attributes = {};
  if ((present & LABEL) !== 0) attributes.label = label;
  if ((present & SIZE) !== 0) attributes.size = size;
  if ((present & URL) !== 0) attributes.url = scanned.url;
  if ((present & RED) !== 0) attributes.red = red;
  if ((present & GREEN) !== 0) attributes.green = green;
  if ((present & BLUE) !== 0) attributes.blue = blue;
  if ((present & SHOW_LABEL) !== 0) attributes.showLabel = scanned.showLabel;
  return attributes;
}

/**
 * Reads the node text in bytes [start, end) into `values` (one per field,
 * in field order, undefined where absent) when it has the writer's layout;
 * returns whether it did. Nothing else is read, and nothing is refused.
 */
export function readCompactNodeText(bytes, start, end, values) {
  values.fill(undefined);
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (!scanCompactNodeText(bytes, view, start, end)) return false;
  const { present } = scanned;
  if ((present & LABEL) !== 0) values[0] = scanned.label;
  if ((present & SIZE) !== 0) values[1] = scanned.size;
  if ((present & URL) !== 0) values[2] = scanned.url;
  if ((present & RED) !== 0) values[3] = scanned.red;
  if ((present & GREEN) !== 0) values[4] = scanned.green;
  if ((present & BLUE) !== 0) values[5] = scanned.blue;
  if ((present & SHOW_LABEL) !== 0) values[6] = scanned.showLabel;
  return true;
}
