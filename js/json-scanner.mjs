// The token scanner of the JSON text in which one node's attributes travel
// inside the byte form: whitespace, punctuation, literals, numbers, strings,
// and skipping a whole value of any depth.
//
// It works on the UTF-8 bytes (already validated) rather than on a decoded
// string, so that its offsets are byte offsets and a string costs one
// decode of its own bytes. Whitespace is only space, tab, LF and CR.

// The literals, as the bytes that spell them.
const TRUE = [0x74, 0x72, 0x75, 0x65];
const FALSE = [0x66, 0x61, 0x6c, 0x73, 0x65];
const NULL = [0x6e, 0x75, 0x6c, 0x6c];

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

const SIMPLE_ESCAPES = new Map([
  [0x22, '"'],
  [0x5c, "\\"],
  [0x2f, "/"],
  [0x62, "\b"],
  [0x66, "\f"],
  [0x6e, "\n"],
  [0x72, "\r"],
  [0x74, "\t"],
]);

// Value of each byte as a hex digit, or -1.
const HEX_VALUE = new Int8Array(256).fill(-1);
for (let digit = 0; digit < 16; digit++) {
  HEX_VALUE["0123456789abcdef".charCodeAt(digit)] = digit;
  HEX_VALUE["0123456789ABCDEF".charCodeAt(digit)] = digit;
}

/** A cursor over the bytes [start, end) of one node text. */
export class JsonScanner {
  constructor(bytes, start, end) {
    this.bytes = bytes;
    this.start = start;
    this.pos = start;
    this.end = end;
    // Shape of the last number read.
    this.numberNegative = false;
    this.numberIntegral = false;
  }

  fail(reason) {
    throw new NodeTextError(reason, this.pos - this.start);
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

  // The text of the ASCII token that ends at the cursor and began at `start`.
  tokenText(start) {
    return decodeRun(this.bytes, start, this.pos, true);
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

  // Reads the escape after a backslash into its text; `strict` refuses
  // unpaired surrogate escapes (a skipped string only needs hex digits).
  readEscape(strict) {
    if (this.pos >= this.end) {
      this.fail("the string is not closed");
    }
    const letter = this.bytes[this.pos++];
    if (letter !== 0x75) {
      const decoded = SIMPLE_ESCAPES.get(letter);
      if (decoded === undefined) {
        this.pos--;
        this.fail("unknown escape");
      }
      return decoded;
    }
    const unit = this.readHexUnit();
    if (!strict) {
      return "";
    }
    if (unit >= 0xdc00 && unit <= 0xdfff) {
      this.pos -= 6;
      this.fail("a low surrogate escape without a high one before it");
    }
    if (unit < 0xd800 || unit > 0xdbff) {
      return String.fromCharCode(unit);
    }
    if (!this.consume(BACKSLASH) || !this.consume(0x75)) {
      this.fail("a high surrogate escape must be followed by a low one");
    }
    const low = this.readHexUnit();
    if (low < 0xdc00 || low > 0xdfff) {
      this.pos -= 6;
      this.fail("a high surrogate escape must be followed by a low one");
    }
    return String.fromCharCode(unit, low);
  }

  readString() {
    if (!this.consume(QUOTE)) {
      this.fail("expected a string");
    }
    let text = "";
    for (;;) {
      const start = this.pos;
      const ascii = this.scanRun();
      if (this.pos > start) {
        text += decodeRun(this.bytes, start, this.pos, ascii);
      }
      if (this.consume(QUOTE)) {
        return text;
      }
      if (!this.consume(BACKSLASH)) {
        this.fail(this.pos === this.end ? "the string is not closed" : "a raw control character in a string");
      }
      text += this.readEscape(true);
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

  // Skips one well-formed value of any depth; open containers are kept as
  // bits of an array (1 for an object), so depth costs no call stack.
  skipValue() {
    const open = [];
    for (;;) {
      this.skipWhitespace();
      const c = this.pos < this.end ? this.bytes[this.pos] : -1;
      if (c === 0x5b || c === 0x7b) {
        this.pos++;
        const isObject = c === 0x7b;
        this.skipWhitespace();
        if (!this.consume(isObject ? 0x7d : 0x5d)) {
          open.push(isObject);
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
        if (open.length === 0) {
          return;
        }
        this.skipWhitespace();
        const inObject = open[open.length - 1];
        if (this.consume(0x2c)) {
          if (inObject) {
            this.skipMemberName();
          }
          break;
        }
        this.expect(inObject ? 0x7d : 0x5d, inObject ? "',' or '}'" : "',' or ']'");
        open.pop();
      }
    }
  }
}
