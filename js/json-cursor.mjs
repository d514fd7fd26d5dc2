// The cursor over the JSON text in which one node's attributes travel
// inside the byte form, and the strings of that text: the part of the
// scanner (json-scanner.mjs) that decodes.
//
// It works on the UTF-8 bytes (already validated) rather than on a decoded
// string, so that its offsets are byte offsets and a string costs one
// decode of its own bytes.

const QUOTE = 0x22;
const BACKSLASH = 0x5c;

const utf8 = new TextDecoder("utf-8", { ignoreBOM: true });

/** Thrown inside the reader; `offset` is relative to the text's first byte. */
export class NodeTextError extends Error {
  constructor(reason, offset) {
    super(reason);
    this.offset = offset;
  }
}

// The decoded text of bytes [start, end) that hold no quote, backslash or
// control byte. Short ASCII runs, the usual case, are built without a
// decoder (and only short ones: every byte becomes an argument).
function decodeRun(bytes, start, end, ascii) {
  if (ascii && end - start <= 64) {
    return String.fromCharCode.apply(null, bytes.subarray(start, end));
  }
  return utf8.decode(bytes.subarray(start, end));
}

// The code unit each simple escape letter stands for, or -1.
const SIMPLE_ESCAPES = new Int32Array(128).fill(-1);
for (const [letter, unit] of [
  ['"', 0x22],
  ["\\", 0x5c],
  ["/", 0x2f],
  ["b", 0x08],
  ["f", 0x0c],
  ["n", 0x0a],
  ["r", 0x0d],
  ["t", 0x09],
]) {
  SIMPLE_ESCAPES[letter.charCodeAt(0)] = unit;
}

// A string with escapes is decoded into code units here and turned into
// text a chunk at a time: a piece per escape would cost a string each, many
// times the input for a text of escapes. Shared by every read, which never
// overlap; UNITS_CHUNK leaves room for the four-byte sequence or surrogate
// pair that may follow the check.
const UNITS_CHUNK = 8192;
const units = new Uint16Array(UNITS_CHUNK + 2);

// Value of each byte as a hex digit, or -1.
const HEX_VALUE = new Int8Array(256).fill(-1);
for (let digit = 0; digit < 16; digit++) {
  HEX_VALUE["0123456789abcdef".charCodeAt(digit)] = digit;
  HEX_VALUE["0123456789ABCDEF".charCodeAt(digit)] = digit;
}

/** A cursor over the bytes [start, end) of one node text. */
export class JsonCursor {
  constructor(bytes, start, end) {
    this.bytes = bytes;
    this.start = start;
    this.pos = start;
    this.end = end;
  }

  fail(reason) {
    throw new NodeTextError(reason, this.pos - this.start);
  }

  consume(byte) {
    if (this.pos < this.end && this.bytes[this.pos] === byte) {
      this.pos++;
      return true;
    }
    return false;
  }

  expect(byte, what) {
    if (!this.consume(byte)) {
      this.fail(`expected ${what}`);
    }
  }

  // The text of the ASCII token that ends at the cursor and began at `start`.
  tokenText(start) {
    return decodeRun(this.bytes, start, this.pos, true);
  }

  readHexUnit() {
    const bytes = this.bytes;
    const pos = this.pos;
    if (this.end - pos < 4) {
      this.fail("\\u needs four hex digits");
    }
    const d0 = HEX_VALUE[bytes[pos]];
    const d1 = HEX_VALUE[bytes[pos + 1]];
    const d2 = HEX_VALUE[bytes[pos + 2]];
    const d3 = HEX_VALUE[bytes[pos + 3]];
    if ((d0 | d1 | d2 | d3) < 0) {
      this.fail("\\u needs four hex digits");
    }
    this.pos = pos + 4;
    return (d0 << 12) | (d1 << 8) | (d2 << 4) | d3;
  }

  // Scans a run of plain bytes; returns whether they were all ASCII.
  scanRun() {
    const bytes = this.bytes;
    const end = this.end;
    let pos = this.pos;
    let high = 0;
    while (pos < end) {
      const c = bytes[pos];
      if (c === QUOTE || c === BACKSLASH || c < 0x20) {
        break;
      }
      high |= c;
      pos++;
    }
    this.pos = pos;
    return high < 0x80;
  }

  // Reads the escape after a backslash: the code unit it stands for, or for
  // a surrogate pair the code point. `strict` refuses unpaired surrogate
  // escapes (a skipped string only needs hex digits, and gets 0).
  readEscape(strict) {
    if (this.pos >= this.end) {
      this.fail("the string is not closed");
    }
    const letter = this.bytes[this.pos++];
    if (letter !== 0x75) {
      const unit = letter < 0x80 ? SIMPLE_ESCAPES[letter] : -1;
      if (unit < 0) {
        this.pos--;
        this.fail("unknown escape");
      }
      return unit;
    }
    const unit = this.readHexUnit();
    if (!strict) {
      return 0;
    }
    if (unit >= 0xdc00 && unit <= 0xdfff) {
      this.pos -= 6;
      this.fail("a low surrogate escape without a high one before it");
    }
    if (unit < 0xd800 || unit > 0xdbff) {
      return unit;
    }
    if (!this.consume(BACKSLASH) || !this.consume(0x75)) {
      this.fail("a high surrogate escape must be followed by a low one");
    }
    const low = this.readHexUnit();
    if (low < 0xdc00 || low > 0xdfff) {
      this.pos -= 6;
      this.fail("a high surrogate escape must be followed by a low one");
    }
    return 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
  }

  readString() {
    if (!this.consume(QUOTE)) {
      this.fail("expected a string");
    }
    const start = this.pos;
    const ascii = this.scanRun();
    if (this.consume(QUOTE)) {
      return decodeRun(this.bytes, start, this.pos - 1, ascii);
    }
    this.pos = start;
    return this.readEscapedString();
  }

  // The rest of a string that holds an escape (or is not closed), decoded
  // a byte at a time: the bytes are valid UTF-8, so only their lengths
  // need checking.
  readEscapedString() {
    const bytes = this.bytes;
    const end = this.end;
    let text = "";
    let count = 0;
    let pos = this.pos;
    for (;;) {
      if (count >= UNITS_CHUNK) {
        text += String.fromCharCode.apply(null, units.subarray(0, count));
        count = 0;
      }
      const c = pos < end ? bytes[pos] : -1;
      if (c === QUOTE) {
        this.pos = pos + 1;
        return count === 0 ? text : text + String.fromCharCode.apply(null, units.subarray(0, count));
      }
      if (c === BACKSLASH) {
        this.pos = pos + 1;
        const decoded = this.readEscape(true);
        pos = this.pos;
        if (decoded < 0x10000) {
          units[count++] = decoded;
        } else {
          units[count++] = 0xd7c0 + (decoded >> 10);
          units[count++] = 0xdc00 + (decoded & 0x3ff);
        }
      } else if (c < 0x20) {
        this.pos = pos;
        this.fail(pos === end ? "the string is not closed" : "a raw control character in a string");
      } else if (c < 0x80) {
        units[count++] = c;
        pos++;
      } else if (c < 0xe0) {
        units[count++] = ((c & 0x1f) << 6) | (bytes[pos + 1] & 0x3f);
        pos += 2;
      } else if (c < 0xf0) {
        units[count++] = ((c & 0x0f) << 12) | ((bytes[pos + 1] & 0x3f) << 6) | (bytes[pos + 2] & 0x3f);
        pos += 3;
      } else {
        const point =
          ((c & 0x07) << 18) |
          ((bytes[pos + 1] & 0x3f) << 12) |
          ((bytes[pos + 2] & 0x3f) << 6) |
          (bytes[pos + 3] & 0x3f);
        units[count++] = 0xd7c0 + (point >> 10);
        units[count++] = 0xdc00 + (point & 0x3ff);
        pos += 4;
      }
    }
  }

  skipString() {
    if (!this.consume(QUOTE)) {
      this.fail("expected a string");
    }
    for (;;) {
      this.scanRun();
      if (this.consume(QUOTE)) {
        return;
      }
      if (!this.consume(BACKSLASH)) {
        this.fail(this.pos === this.end ? "the string is not closed" : "a raw control character in a string");
      }
      this.readEscape(false);
    }
  }
}
