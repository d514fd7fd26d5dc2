// The writer of the JSON text in which one node's attributes travel inside
// the byte form. It writes the text byte for byte as the Python module
// does: members in field order, no whitespace, only quotes, backslashes and
// control characters escaped, and size as the shortest digits that read back
// to the same float32.

import { NODE_FIELDS } from "./node-text-fields.mjs";

const QUOTE = 0x22;
const BACKSLASH = 0x5c;

const CONTROL_ESCAPES = [];
for (let code = 0; code < 0x20; code++) {
  CONTROL_ESCAPES.push(`\\u00${code.toString(16).padStart(2, "0")}`);
}
Object.assign(CONTROL_ESCAPES, { 8: "\\b", 9: "\\t", 10: "\\n", 12: "\\f", 13: "\\r" });
CONTROL_ESCAPES[0x22] = '\\"';
CONTROL_ESCAPES[0x5c] = "\\\\";

// eslint-disable-next-line no-control-regex -- control characters are what must be escaped
const NEEDS_ESCAPE = /["\\\u0000-\u001f]/g;

function jsonString(text) {
  // Most texts need no escape, and a scan costs less than a replace.
  for (let index = 0; index < text.length; index++) {
    const c = text.charCodeAt(index);
    if (c < 0x20 || c === 0x22 || c === 0x5c) {
      return `"${text.replace(NEEDS_ESCAPE, (match) => CONTROL_ESCAPES[match.charCodeAt(0)])}"`;
    }
  }
  return `"${text}"`;
}

// The largest decimal point position written without an exponent, and the
// smallest: the limits of the single-precision form, narrower than those of
// a double's.
const LARGEST_PLAIN_POINT = 13;
const SMALLEST_PLAIN_POINT = -6;

const scratch = new DataView(new ArrayBuffer(4));

function pow10(exponent) {
  return 10n ** BigInt(exponent);
}

// The shortest digits D and exponent k such that D x 10^k rounds to the
// float32 `magnitude` (positive, finite), the nearest such on a tie of
// length and then the one with an even last digit. Exact: the rounding
// interval of the float32 is compared with each candidate in BigInt.
export function exactShortestDigits(magnitude) {
  scratch.setFloat32(0, magnitude);
  const bits = scratch.getUint32(0);
  const biased = bits >>> 23;
  const fraction = bits & 0x7fffff;
  const mantissa = BigInt(biased === 0 ? fraction : fraction | 0x800000);
  const binaryExponent = (biased === 0 ? 1 : biased) - 150;
  // value, lower and upper bound of the interval, in units of 2^(e - 2); the
  // gap below a power of two is half the gap above it.
  const value = 4n * mantissa;
  const lower = value - (fraction === 0 && biased > 1 ? 1n : 2n);
  const upper = value + 2n;
  const inclusive = (mantissa & 1n) === 0n;
  const binaryScale = 2n ** BigInt(Math.abs(binaryExponent - 2));
  const binaryUp = binaryExponent >= 2;
  let decimalPoint = Math.floor(Math.log10(magnitude));
  // Make 10^point <= magnitude < 10^(point + 1) hold exactly.
  const compareToPower = (point) => {
    const [left, right] = scaled(value, point);
    return left < right ? -1 : left > right ? 1 : 0;
  };
  // x * 2^(e - 2) and 10^point as two integers with a common denominator.
  function scaled(x, point) {
    let left = binaryUp ? x * binaryScale : x;
    let right = binaryUp ? 1n : binaryScale;
    if (point >= 0) {
      right *= pow10(point);
    } else {
      left *= pow10(-point);
    }
    return [left, right];
  }
  while (compareToPower(decimalPoint) < 0) {
    decimalPoint--;
  }
  while (compareToPower(decimalPoint + 1) >= 0) {
    decimalPoint++;
  }
  for (let count = 1; ; count++) {
    const exponent = decimalPoint - count + 1;
    // Each bound over 10^exponent is numerator / denominator.
    const [lowNumerator, denominator] = scaled(lower, exponent);
    const [highNumerator] = scaled(upper, exponent);
    const [valueNumerator] = scaled(value, exponent);
    let smallest = (lowNumerator + denominator - 1n) / denominator;
    if (!inclusive && smallest * denominator === lowNumerator) {
      smallest += 1n;
    }
    let largest = highNumerator / denominator;
    if (!inclusive && largest * denominator === highNumerator) {
      largest -= 1n;
    }
    if (smallest > largest) {
      continue;
    }
    // The candidate nearest to the value, ties to an even last digit.
    let nearest = valueNumerator / denominator;
    const twiceRest = 2n * (valueNumerator - nearest * denominator);
    if (twiceRest > denominator || (twiceRest === denominator && (nearest & 1n) === 1n)) {
      nearest += 1n;
    }
    if (nearest < smallest) {
      nearest = smallest;
    } else if (nearest > largest) {
      nearest = largest;
    }
    let digits = nearest.toString();
    const point = exponent + digits.length;
    digits = digits.replace(/0+$/, "");
    return { digits, point };
  }
}

// Exact powers of ten, and the largest scale by which a float32's rounding
// bounds (26 significant bits) multiply exactly in a double: 5^11 < 2^27.
const POWERS_OF_TEN = Array.from({ length: 23 }, (_, exponent) => 10 ** exponent);
const LARGEST_EXACT_SCALE = 11;
// Below this, every candidate and its neighbours stay integers under 2^53.
const LARGEST_FAST_MAGNITUDE = 2 ** 50;

/**
 * exactShortestDigits in double arithmetic, for magnitudes where every
 * step is exact: below 2^50, and no candidate finer than 10^-11. Returns
 * undefined elsewhere.
 */
export function fastShortestDigits(magnitude) {
  if (!(magnitude < LARGEST_FAST_MAGNITUDE)) return undefined;
  scratch.setFloat32(0, magnitude);
  const bits = scratch.getUint32(0);
  const biased = bits >>> 23;
  if (biased === 0) return undefined;
  const fraction = bits & 0x7fffff;
  const unit = 2 ** (biased - 152); // a quarter of the float32's gap above it
  const lower = magnitude - (fraction === 0 && biased > 1 ? 1 : 2) * unit;
  const upper = magnitude + 2 * unit;
  const inclusive = (fraction & 1) === 0;
  let point = Math.floor(Math.log10(magnitude));
  // Make 10^point <= magnitude < 10^(point + 1) hold exactly.
  const atLeast = (exponent) =>
    exponent >= 0 ? magnitude >= POWERS_OF_TEN[exponent] : magnitude * POWERS_OF_TEN[-exponent] >= 1;
  if (point < -LARGEST_EXACT_SCALE) return undefined;
  while (!atLeast(point)) point--;
  while (point + 1 < POWERS_OF_TEN.length && atLeast(point + 1)) point++;
  for (let count = 1; count <= 9; count++) {
    const exponent = point - count + 1;
    let smallest;
    let largest;
    let nearest;
    if (exponent <= 0) {
      if (-exponent > LARGEST_EXACT_SCALE) return undefined;
      const scale = POWERS_OF_TEN[-exponent];
      const low = lower * scale;
      const high = upper * scale;
      const value = magnitude * scale;
      smallest = Math.ceil(low);
      if (!inclusive && smallest === low) smallest++;
      largest = Math.floor(high);
      if (!inclusive && largest === high) largest--;
      nearest = Math.floor(value);
      const twiceRest = 2 * (value - nearest);
      if (twiceRest > 1 || (twiceRest === 1 && nearest % 2 === 1)) nearest++;
    } else {
      // Candidates are multiples of 10^exponent.
      const step = POWERS_OF_TEN[exponent];
      smallest = Math.ceil(lower / step);
      while ((smallest - 1) * step >= lower) smallest--;
      while (smallest * step < lower) smallest++;
      if (!inclusive && smallest * step === lower) smallest++;
      largest = Math.floor(upper / step);
      while ((largest + 1) * step <= upper) largest++;
      while (largest * step > upper) largest--;
      if (!inclusive && largest * step === upper) largest--;
      nearest = Math.floor(magnitude / step);
      while (nearest * step > magnitude) nearest--;
      while ((nearest + 1) * step <= magnitude) nearest++;
      const twiceRest = 2 * (magnitude - nearest * step);
      if (twiceRest > step || (twiceRest === step && nearest % 2 === 1)) nearest++;
    }
    if (smallest > largest) continue;
    nearest = Math.min(Math.max(nearest, smallest), largest);
    const digits = String(nearest);
    let kept = digits.length;
    while (kept > 1 && digits.charCodeAt(kept - 1) === 0x30) kept--;
    return { digits: kept === digits.length ? digits : digits.slice(0, kept), point: exponent + digits.length };
  }
  return undefined;
}

// Size texts by float32 bits in a small direct-mapped cache: diffs repeat
// sizes, and a text found costs less than a digit search.
const SIZE_CACHE_SLOTS = 4096;
const cachedBits = new Int32Array(SIZE_CACHE_SLOTS);
const cachedTexts = new Array(SIZE_CACHE_SLOTS).fill(undefined);

/** sizeText of a value already rounded to float32, through the cache. */
export function cachedSizeText(value) {
  scratch.setFloat32(0, value);
  const bits = scratch.getInt32(0);
  const slot = (bits ^ (bits >>> 12) ^ (bits >>> 24)) & (SIZE_CACHE_SLOTS - 1);
  const cached = cachedTexts[slot];
  if (cached !== undefined && cachedBits[slot] === bits) return cached;
  const text = sizeText(value);
  cachedBits[slot] = bits;
  cachedTexts[slot] = text;
  return text;
}

/** The text of a float32 size as the module writes it (finite or not). */
export function sizeText(value) {
  if (!Number.isFinite(value)) {
    return "null";
  }
  const sign = value < 0 || Object.is(value, -0) ? "-" : "";
  const magnitude = Math.abs(value);
  if (magnitude === 0) {
    return `${sign}0.0`;
  }
  const { digits, point } = fastShortestDigits(magnitude) ?? exactShortestDigits(magnitude);
  const count = digits.length;
  let text;
  if (point >= count && point <= LARGEST_PLAIN_POINT) {
    text = `${digits}${"0".repeat(point - count)}.0`;
  } else if (point > 0 && point <= LARGEST_PLAIN_POINT) {
    text = `${digits.slice(0, point)}.${digits.slice(point)}`;
  } else if (point > SMALLEST_PLAIN_POINT && point <= 0) {
    text = `0.${"0".repeat(-point)}${digits}`;
  } else if (count === 1) {
    text = `${digits}e${point - 1}`;
  } else {
    text = `${digits[0]}.${digits.slice(1)}e${point - 1}`;
  }
  return sign + text;
}

// Each kind's value as the text that follows its member's key.
const VALUE_TEXT = {
  text: jsonString,
  size: (value) => sizeText(Math.fround(value)),
  colour: String,
  flag: String,
};
const KEYS = NODE_FIELDS.map((field) => field.key);
const PREFIXES = NODE_FIELDS.map((field) => `"${field.key}":`);
const VALUE_TEXTS = NODE_FIELDS.map((field) => VALUE_TEXT[field.kind]);

/**
 * The node text of checked attributes (only present keys, valid values),
 * as a string; the caller encodes it as UTF-8.
 */
export function writeNodeText(attributes) {
  let text = "";
  for (let position = 0; position < KEYS.length; position++) {
    const value = attributes[KEYS[position]];
    if (value !== undefined) {
      text += (text === "" ? "{" : ",") + PREFIXES[position] + VALUE_TEXTS[position](value);
    }
  }
  return text === "" ? "{}" : `${text}}`;
}

// The escape of each ASCII byte that needs one, as bytes.
const ESCAPE_BYTES = [];
for (let code = 0; code < 0x80; code++) {
  const escape = CONTROL_ESCAPES[code];
  ESCAPE_BYTES.push(escape === undefined ? null : Uint8Array.from(escape, (c) => c.charCodeAt(0)));
}

/**
 * Writes `text` as a JSON string, quotes included, as writeNodeText writes
 * it, in UTF-8 at `p` of `b`, which has room for 6 bytes per code unit and
 * 2 more; returns where it ends, or -1 for a text with a lone surrogate.
 */
export function writeJsonStringBytes(b, p, text) {
  b[p++] = QUOTE;
  const length = text.length;
  for (let index = 0; index < length; index++) {
    const c = text.charCodeAt(index);
    if (c < 0x80) {
      if (c >= 0x20 && c !== QUOTE && c !== BACKSLASH) {
        b[p++] = c;
      } else {
        const escape = ESCAPE_BYTES[c];
        for (let at = 0; at < escape.length; at++) b[p++] = escape[at];
      }
    } else if (c < 0x800) {
      b[p++] = 0xc0 | (c >> 6);
      b[p++] = 0x80 | (c & 0x3f);
    } else if ((c & 0xf800) !== 0xd800) {
      b[p++] = 0xe0 | (c >> 12);
      b[p++] = 0x80 | ((c >> 6) & 0x3f);
      b[p++] = 0x80 | (c & 0x3f);
    } else {
      const low = index + 1 < length ? text.charCodeAt(index + 1) : 0;
      if (c >= 0xdc00 || (low & 0xfc00) !== 0xdc00) return -1;
      index++;
      const point = 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
      b[p++] = 0xf0 | (point >> 18);
      b[p++] = 0x80 | ((point >> 12) & 0x3f);
      b[p++] = 0x80 | ((point >> 6) & 0x3f);
      b[p++] = 0x80 | (point & 0x3f);
    }
  }
  b[p++] = QUOTE;
  return p;
}
