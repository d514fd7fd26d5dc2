// The token scanner of the JSON text in which one node's attributes travel
// inside the byte form: on top of the cursor and its strings
// (json-cursor.mjs), whitespace, literals, numbers, and skipping a whole
// value of any depth. Whitespace is only space, tab, LF and CR.

import { JsonCursor } from "./json-cursor.mjs";

const QUOTE = 0x22;

// The literals, as the bytes that spell them.
const TRUE = [0x74, 0x72, 0x75, 0x65];
const FALSE = [0x66, 0x61, 0x6c, 0x73, 0x65];
const NULL = [0x6e, 0x75, 0x6c, 0x6c];

// The open containers of a skipped value up to 32,768 levels deep, one bit
// each (1 for an object); shared by every skip, which never overlap.
const SHALLOW_NESTING = new Int32Array(1024);

/** The cursor with the scanner's tokens. */
export class JsonScanner extends JsonCursor {
  constructor(bytes, start, end) {
    super(bytes, start, end);
    // Shape of the last number read.
    this.numberNegative = false;
    this.numberIntegral = false;
  }

  skipWhitespace() {
    const bytes = this.bytes;
    let pos = this.pos;
    while (pos < this.end) {
      const c = bytes[pos];
      if (c !== 0x20 && c !== 0x0a && c !== 0x0d && c !== 0x09) {
        break;
      }
      pos++;
    }
    this.pos = pos;
  }

  // Whether the text continues with the whole literal (given as char codes).
  consumeLiteral(spelling) {
    const bytes = this.bytes;
    const pos = this.pos;
    if (this.end - pos < spelling.length) {
      return false;
    }
    for (let index = 0; index < spelling.length; index++) {
      if (bytes[pos + index] !== spelling[index]) {
        return false;
      }
    }
    this.pos = pos + spelling.length;
    return true;
  }

  consumeNull() {
    return this.consumeLiteral(NULL);
  }

  // true or false, or fails with `reason`.
  readBoolean(reason) {
    if (this.consumeLiteral(TRUE)) {
      return true;
    }
    if (!this.consumeLiteral(FALSE)) {
      this.fail(reason);
    }
    return false;
  }

  // A number by the JSON grammar; sets numberNegative and numberIntegral.
  readNumber(reason) {
    const bytes = this.bytes;
    const end = this.end;
    let pos = this.pos;
    const negative = pos < end && bytes[pos] === 0x2d;
    if (negative) {
      pos++;
    }
    if (pos < end && bytes[pos] === 0x30) {
      // A leading zero stands alone: "01" is "0" and a stray digit, which
      // whatever reads next refuses.
      pos++;
    } else if (pos < end && bytes[pos] >= 0x31 && bytes[pos] <= 0x39) {
      while (pos < end && bytes[pos] >= 0x30 && bytes[pos] <= 0x39) {
        pos++;
      }
    } else {
      this.pos = pos;
      this.fail(reason);
    }
    let integral = true;
    if (pos < end && bytes[pos] === 0x2e) {
      integral = false;
      const first = ++pos;
      while (pos < end && bytes[pos] >= 0x30 && bytes[pos] <= 0x39) {
        pos++;
      }
      if (pos === first) {
        this.pos = pos;
        this.fail("a digit must follow the decimal point");
      }
    }
    if (pos < end && (bytes[pos] === 0x65 || bytes[pos] === 0x45)) {
      integral = false;
      pos++;
      if (pos < end && (bytes[pos] === 0x2b || bytes[pos] === 0x2d)) {
        pos++;
      }
      const first = pos;
      while (pos < end && bytes[pos] >= 0x30 && bytes[pos] <= 0x39) {
        pos++;
      }
      if (pos === first) {
        this.pos = pos;
        this.fail("a digit must follow the exponent mark");
      }
    }
    this.pos = pos;
    this.numberNegative = negative;
    this.numberIntegral = integral;
  }

  skipScalar() {
    const c = this.pos < this.end ? this.bytes[this.pos] : -1;
    if (c === QUOTE) {
      this.skipString();
    } else if (c === 0x74 || c === 0x66 || c === 0x6e) {
      if (!this.consumeLiteral(c === 0x74 ? TRUE : c === 0x66 ? FALSE : NULL)) {
        this.fail("a misspelt literal");
      }
    } else {
      this.readNumber("expected a value");
    }
  }

  skipMemberName() {
    this.skipWhitespace();
    this.skipString();
    this.skipWhitespace();
    this.expect(0x3a, "':' after a key");
  }

  // Skips one well-formed value of any depth. Which open containers are
  // objects is kept one bit per level: a text's depth is bounded only by its
  // length, and a frame or an array slot per level would let a text of a few
  // hundred megabytes exhaust the heap (a depth counter alone cannot tell
  // "[}" from "[]").
  skipValue() {
    let objects = SHALLOW_NESTING;
    let depth = 0;
    for (;;) {
      this.skipWhitespace();
      const c = this.pos < this.end ? this.bytes[this.pos] : -1;
      if (c === 0x5b || c === 0x7b) {
        this.pos++;
        const isObject = c === 0x7b;
        this.skipWhitespace();
        if (!this.consume(isObject ? 0x7d : 0x5d)) {
          const word = depth >>> 5;
          if (word === objects.length) {
            // Only this skip holds the grown copy, so it is let go after.
            const grown = new Int32Array(2 * objects.length);
            grown.set(objects);
            objects = grown;
          }
          objects[word] = isObject ? objects[word] | (1 << (depth & 31)) : objects[word] & ~(1 << (depth & 31));
          depth++;
          if (isObject) {
            this.skipMemberName();
          }
          continue;
        }
      } else {
        this.skipScalar();
      }
      // A value has ended: close containers until one continues with ','.
      for (;;) {
        if (depth === 0) {
          return;
        }
        this.skipWhitespace();
        const inObject = (objects[(depth - 1) >>> 5] & (1 << ((depth - 1) & 31))) !== 0;
        if (this.consume(0x2c)) {
          if (inObject) {
            this.skipMemberName();
          }
          break;
        }
        this.expect(inObject ? 0x7d : 0x5d, inObject ? "',' or '}'" : "',' or ']'");
        depth--;
      }
    }
  }
}
