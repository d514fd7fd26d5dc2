// The reader of the JSON text in which one node's attributes travel inside
// the byte form: the field schema over the token scanner.
//
// It accepts exactly what the Python module's reader accepts: an object or
// an array of seven elements in field order; a known key twice fails, even
// after null; unknown keys may repeat and their values, of any depth, are
// skipped without recursion; size numbers round to float32 as
// json-number.mjs says, and a magnitude beyond double fails.

import { JsonScanner } from "./json-scanner.mjs";
import { sizeFromNumber } from "./json-number.mjs";
import { NODE_FIELDS, NODE_TEXT_KEYS } from "./node-text-fields.mjs";

const FIELD_KINDS = NODE_FIELDS.map((field) => field.kind);

class NodeTextReader extends JsonScanner {
  constructor(bytes, start, end) {
    super(bytes, start, end);
    this.attributes = {};
  }

  read() {
    this.skipWhitespace();
    const first = this.pos < this.end ? this.bytes[this.pos] : -1;
    if (first === 0x7b) {
      this.readObject();
    } else if (first === 0x5b) {
      this.readArray();
    } else {
      this.fail("the node text is not an object or an array");
    }
    this.skipWhitespace();
    if (this.pos !== this.end) {
      this.fail("unexpected bytes after the node text's value");
    }
    return this.attributes;
  }

  readObject() {
    this.pos++;
    this.skipWhitespace();
    if (this.consume(0x7d)) {
      return;
    }
    let seen = 0;
    for (;;) {
      const keyStart = this.pos;
      const key = this.readString();
      this.skipWhitespace();
      this.expect(0x3a, "':' after a key");
      this.skipWhitespace();
      const position = NODE_TEXT_KEYS.indexOf(key);
      if (position >= 0) {
        // A known key counts as seen even when its value is null.
        if ((seen & (1 << position)) !== 0) {
          this.pos = keyStart;
          this.fail(`the key "${key}" occurs twice`);
        }
        seen |= 1 << position;
        this.readField(position);
      } else {
        this.skipValue();
      }
      this.skipWhitespace();
      if (!this.consume(0x2c)) {
        this.expect(0x7d, "',' or '}' after a member");
        return;
      }
      this.skipWhitespace();
    }
  }

  readArray() {
    this.pos++;
    for (let position = 0; position < NODE_FIELDS.length; position++) {
      this.skipWhitespace();
      if (position > 0) {
        this.expect(0x2c, "',': the array form holds exactly seven elements");
        this.skipWhitespace();
      }
      this.readField(position);
    }
    this.skipWhitespace();
    this.expect(0x5d, "']': the array form holds exactly seven elements");
  }

  readField(position) {
    if (this.consumeNull()) {
      return;
    }
    const key = NODE_TEXT_KEYS[position];
    const kind = FIELD_KINDS[position];
    let value;
    if (kind === "text") {
      value = this.readString();
    } else if (kind === "size") {
      value = this.readSize(key);
    } else if (kind === "colour") {
      value = this.readColour(key);
    } else {
      value = this.readBoolean(`${key} must be true, false or null`);
    }
    this.attributes[key] = value;
  }

  readSize(key) {
    const start = this.pos;
    this.readNumber(`${key} must be a number or null`);
    const value = sizeFromNumber(this.tokenText(start), this.numberNegative, this.numberIntegral);
    if (value === undefined) {
      this.pos = start;
      this.fail(`${key} is too large for a double`);
    }
    return value;
  }

  readColour(key) {
    const start = this.pos;
    this.readNumber(`${key} must be an integer 0..255 or null`);
    const length = this.pos - start;
    if (this.numberNegative || !this.numberIntegral || length > 3) {
      this.pos = start;
      this.fail(`${key} must be an integer 0..255 written with digits only`);
    }
    let value = 0;
    for (let index = start; index < this.pos; index++) {
      value = value * 10 + (this.bytes[index] - 0x30);
    }
    if (value > 255) {
      this.pos = start;
      this.fail(`${key} must be at most 255`);
    }
    return value;
  }
}

/**
 * The attributes that the node text in bytes [start, end) describes: an
 * object with only the present keys. Throws NodeTextError.
 */
export function readNodeText(bytes, start, end) {
  return new NodeTextReader(bytes, start, end).read();
}
