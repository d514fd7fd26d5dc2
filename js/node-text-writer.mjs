// The writer of the JSON text in which one node's attributes travel inside
// the byte form. It writes the text byte for byte as the Python module
// does: members in field order, no whitespace, only quotes, backslashes and
// control characters escaped, and size as the shortest digits that read back
// to the same float32.

import { NODE_FIELDS } from "./node-text-fields.mjs";

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
  return `"${text.replace(NEEDS_ESCAPE, (c) => CONTROL_ESCAPES[c.charCodeAt(0)])}"`;
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
function shortestDigits(magnitude) {
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
  const { digits, point } = shortestDigits(magnitude);
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
