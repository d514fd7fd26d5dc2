// Conversion of a number token of the node text to the size it stands for,
// rounded to float32 as the Python module rounds it.

const TWO_POW_53 = 2n ** 53n;
const TWO_POW_63 = 2n ** 63n;
const TWO_POW_64 = 2n ** 64n;

// An integer of up to 64 bits rounded to float32 once, to nearest even, as
// a direct integer-to-float conversion does (going through double could
// round twice).
function bigIntToFloat32(value) {
  const negative = value < 0n;
  const magnitude = negative ? -value : value;
  if (magnitude < TWO_POW_53) {
    return Math.fround(Number(value));
  }
  const shift = BigInt(magnitude.toString(2).length - 24);
  let top = magnitude >> shift;
  const rest = magnitude - (top << shift);
  const half = 1n << (shift - 1n);
  if (rest > half || (rest === half && (top & 1n) === 1n)) {
    top += 1n;
  }
  const rounded = Number(top) * 2 ** Number(shift);
  return negative ? -rounded : rounded;
}

/**
 * The float32 size that the number `text` stands for, or undefined when its
 * magnitude is too large for a double. An integer without fraction or
 * exponent (`integral`) that fits 64 bits, signed when `negative`, rounds
 * once; everything else, "-0" included, goes through double first.
 */
export function sizeFromNumber(text, negative, integral) {
  if (integral) {
    // Up to 15 digits a double holds the integer exactly, so rounding it
    // to float32 rounds once; "-0" stays a negative zero, as it does
    // through a double. Beyond 20 digits no integer fits 64 bits, and a
    // BigInt of a million digits would take long to make.
    if (text.length <= 15) {
      return Math.fround(Number(text));
    }
    const value = text.length <= 21 ? BigInt(text) : undefined;
    if (value !== undefined && (negative ? value >= -TWO_POW_63 : value < TWO_POW_64)) {
      return bigIntToFloat32(value);
    }
  }
  const value = Number(text);
  return Number.isFinite(value) ? Math.fround(value) : undefined;
}
