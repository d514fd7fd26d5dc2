// The node text reader's acceptance and the writer's exact output, as
// tables of cases, plus round-trip properties over random float32 values.
import assert from "node:assert/strict";
import { test } from "node:test";

import { asciiText, SHORT_ASCII } from "../ascii-text.mjs";
import { NodeTextError } from "../json-cursor.mjs";
import { readCompactNodeText, scanCompactNodeText, scannedAttributes } from "../node-text-compact.mjs";
import { NODE_TEXT_KEYS } from "../node-text-fields.mjs";
import { readNodeText } from "../node-text-reader.mjs";
import { exactShortestDigits, fastShortestDigits, sizeText, writeNodeText } from "../node-text-writer.mjs";
import { ACCEPTED, REFUSED } from "./node-text-cases.mjs";
import { mutated, randomAttributes, randomText, seededRandom } from "./random-diff.mjs";

const encoder = new TextEncoder();

function read(text) {
  const bytes = encoder.encode(text);
  return readNodeText(bytes, 0, bytes.length);
}

test("the reader accepts what the module accepts, with the same fields", () => {
  for (const [text, expected] of ACCEPTED) {
    const got = read(text);
    if (expected !== null) {
      assert.deepEqual(got, expected, text);
    }
  }
});

test("the reader refuses what the module refuses, at the byte where the fault begins", () => {
  for (const [text, offset] of REFUSED) {
    assert.throws(
      () => read(text),
      (error) => error instanceof NodeTextError && error.offset === offset,
      `${JSON.stringify(text)} refused at ${offset}`,
    );
  }
});

test("numbers and strings of a million characters cost no more than their length", () => {
  const digits = "1".repeat(1_000_000);
  assert.throws(() => read(`{"size":${digits}}`), NodeTextError);
  assert.deepEqual(read(`{"size":0.${"0".repeat(1_000_000)}1,"x":${digits}}`), { size: 0 });
  assert.equal(read(`{"size":${digits}e-999999}`).size, Math.fround(1.1111111111111112));
  assert.equal(read(`{"label":"${"é\\n".repeat(300_000)}"}`).label.length, 600_000);
});

test("unknown values nested a million levels deep are skipped without recursion", () => {
  const depth = 1_000_000;
  assert.deepEqual(read(`{"x":${'[{"k":'.repeat(depth / 2)}1${"}]".repeat(depth / 2)},"red":1}`), { red: 1 });
  assert.throws(() => read(`{"x":${"[".repeat(depth)}${"]".repeat(depth - 1)}}`), NodeTextError);
});

test("the writer lays sizes out by the single-precision rules", () => {
  const cases = [
    [0, "0.0"],
    [-0, "-0.0"],
    [1, "1.0"],
    [123456789, "123456790.0"],
    [1.5, "1.5"],
    [1234.5678, "1234.5677"],
    [0.1, "0.1"],
    [0.000001, "0.000001"],
    [1e13, "1e13"],
    [1e-7, "1e-7"],
    [1e27, "1e27"],
    [1.5e-7, "1.5e-7"],
    [3.4028234663852886e38, "3.4028235e38"],
    [1e10, "10000000000.0"],
    [1e12, "1000000000000.0"],
    [2 / 3, "0.6666667"],
    [0.00001, "0.00001"],
    [2 ** -149, "1e-45"],
    [-2.5, "-2.5"],
    [9999999999999, "1e13"],
    [2 ** 24 + 2, "16777218.0"],
    [Infinity, "null"],
    [-Infinity, "null"],
    [NaN, "null"],
    [2 ** -126, "1.1754944e-38"],
  ];
  for (const [value, text] of cases) {
    assert.equal(sizeText(Math.fround(value)), text, String(value));
  }
});

test("the writer escapes only quotes, backslashes and control characters", () => {
  assert.equal(
    writeNodeText({ label: 'q"\\\n\u001f\u0000\b\t\f\r\u000b/é\u007f' }),
    '{"label":"q\\"\\\\\\n\\u001f\\u0000\\b\\t\\f\\r\\u000b/é\u007f"}',
  );
  assert.equal(
    writeNodeText({ showLabel: true, blue: 3, green: 2, red: 1, url: "b", size: 1.5, label: "a" }),
    '{"label":"a","size":1.5,"url":"b","red":1,"green":2,"blue":3,"showLabel":true}',
  );
  assert.equal(writeNodeText({}), "{}");
  assert.equal(writeNodeText({ showLabel: false }), '{"showLabel":false}');
});

// Random float32 values by their bits, weighted towards the layout limits.
function* randomFloats(count) {
  const view = new DataView(new ArrayBuffer(4));
  let seed = 12345;
  const next = () => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0);
  for (let index = 0; index < count; index++) {
    view.setUint32(0, next() ^ (next() << 16));
    yield view.getFloat32(0);
    yield Math.fround(10 ** ((next() % 60) - 30) * (1 + (next() % 1000) / 1000));
  }
}

test("every size text reads back to the same float32, and no shorter digits would", () => {
  for (const value of randomFloats(20000)) {
    const text = sizeText(value);
    if (!Number.isFinite(value)) {
      assert.equal(text, "null");
      continue;
    }
    assert.ok(Object.is(read(`{"size":${text}}`).size, value), `${value} -> ${text}`);
    const digits = text.replace(/^-/, "").replace(/e.*$/, "").replace(".", "").replace(/^0+/, "").replace(/0+$/, "");
    if (digits.length > 1) {
      const shorter = Math.fround(Number(Math.abs(value).toPrecision(digits.length - 1)));
      assert.notEqual(shorter, Math.abs(value), `${value} has a shorter form than ${text}`);
    }
  }
});

test("the compact reader gives what the general reader gives, for every text it takes", () => {
  const random = seededRandom(5);
  const values = new Array(NODE_TEXT_KEYS.length);
  const texts = [...ACCEPTED, ...REFUSED].map(([text]) => text);
  for (let round = 0; round < 20000; round++) {
    texts.push(writeNodeText(randomAttributes(random)));
  }
  const sizes = [
    "0.0",
    "-0.0",
    "-0",
    "7",
    "123456789012345",
    "-99999999999999.9",
    "0.000000000000001",
    "1e5",
    "01.5",
    "2.",
    "1234567890123456",
  ];
  texts.push(
    ...sizes.map((size) => `{"size":${size}}`),
    '{"red":0,"green":09}',
    '{"label":"\u00e9"}',
    '{"url":"\ud800"}',
  );
  let taken = 0;
  for (const text of texts) {
    const written = encoder.encode(text);
    for (const bytes of [written, mutated(random, written), mutated(random, written)]) {
      if (!readCompactNodeText(bytes, 0, bytes.length, values)) {
        continue;
      }
      taken++;
      const expected = readNodeText(bytes, 0, bytes.length);
      const got = Object.fromEntries(
        NODE_TEXT_KEYS.flatMap((key, field) => (values[field] === undefined ? [] : [[key, values[field]]])),
      );
      assert.deepEqual(got, expected, new TextDecoder().decode(bytes));
      assert.deepEqual(Object.keys(got), Object.keys(expected));
    }
  }
  assert.ok(taken > 5000, `${taken} texts taken`);
});

test("the double-arithmetic shortest digits agree with the exact ones wherever they answer", () => {
  let answered = 0;
  const view = new DataView(new ArrayBuffer(4));
  const values = [...randomFloats(20000)];
  // Powers of two (an uneven rounding interval), and values on or near a
  // tie between two candidates.
  for (let exponent = -40; exponent < 60; exponent++) values.push(2 ** exponent);
  for (let index = 0; index < 2000; index++) values.push(Math.fround(index / 8 + 0.5), Math.fround((index * 5) / 1024));
  for (const value of values) {
    const magnitude = Math.abs(Math.fround(value));
    if (!Number.isFinite(magnitude) || magnitude === 0) continue;
    for (const neighbour of [-1, 0, 1]) {
      view.setFloat32(0, magnitude);
      view.setUint32(0, view.getUint32(0) + neighbour);
      const candidate = view.getFloat32(0);
      const fast = fastShortestDigits(candidate);
      if (fast !== undefined) {
        answered++;
        assert.deepEqual(fast, exactShortestDigits(candidate), String(candidate));
      }
    }
  }
  assert.ok(answered > 30000, `${answered} answered`);
});

test("asciiText makes the string of exactly its bytes, in order, for every length it takes", () => {
  // Distinct bytes at every place, away from the start of the input.
  const bytes = Uint8Array.from({ length: SHORT_ASCII + 10 }, (_, index) => 0x20 + ((index * 37) % 0x5f));
  for (let length = 0; length <= SHORT_ASCII; length++) {
    for (const start of [0, 3]) {
      const expected = String.fromCharCode(...bytes.subarray(start, start + length));
      assert.equal(asciiText(bytes, start, length), expected, `length ${length} at ${start}`);
    }
  }
  assert.throws(() => asciiText(bytes, 0, SHORT_ASCII + 1), RangeError);
});

test("the compact reader's attributes are the general reader's, keys in order, read inside a larger input", () => {
  const random = seededRandom(11);
  // Plain texts, short and long, besides random ones with escapes.
  const plain = () =>
    ["", "hub 7", "Zürich station 12345", "x".repeat(Math.floor(random() * 90))][Math.floor(random() * 4)];
  const full = () => ({
    label: random() < 0.7 ? plain() : randomText(random),
    size: Math.fround(random() * 100),
    red: Math.floor(random() * 256),
    green: Math.floor(random() * 256),
    blue: Math.floor(random() * 256),
    ...(random() < 0.5 ? { url: plain() } : {}),
    ...(random() < 0.5 ? { showLabel: random() < 0.5 } : {}),
  });
  let taken = 0;
  for (let round = 0; round < 20000; round++) {
    const attributes = round % 2 === 0 ? full() : randomAttributes(random);
    const written = encoder.encode(writeNodeText(attributes));
    const text = random() < 0.5 ? written : mutated(random, written);
    // The text inside a larger input, followed by what the writer would
    // have written next, so that a read past its end would be seen.
    const before = Math.floor(random() * 5);
    const input = new Uint8Array(before + written.length + 16);
    input.set(written, before);
    input.set(text, before);
    const start = before;
    const end = before + text.length;
    if (!scanCompactNodeText(input, new DataView(input.buffer), start, end)) continue;
    taken++;
    const got = scannedAttributes();
    const expected = readNodeText(input, start, end);
    const shown = new TextDecoder().decode(text);
    assert.deepEqual(got, expected, shown);
    assert.deepEqual(Object.keys(got), Object.keys(expected), shown);
  }
  assert.ok(taken > 5000, `${taken} texts taken`);
});

test("the compact reader takes a string's UTF-8 exactly when the strict decoder does, with the same text", () => {
  const strict = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true });
  const edges = [0x00, 0x41, 0x7f, 0x80, 0x8f, 0x90, 0x9f, 0xa0, 0xbf, 0xc0, 0xc2, 0xe0, 0xed, 0xf0, 0xf4, 0xff];
  const values = new Array(NODE_TEXT_KEYS.length);
  const prefix = encoder.encode('{"label":"é');
  const suffix = encoder.encode('x"}');
  let taken = 0;
  for (let lead = 0x80; lead <= 0xff; lead++) {
    for (const second of edges) {
      for (const third of [0x80, 0xbf, 0x41]) {
        for (const sequence of [[lead], [lead, second], [lead, second, third], [lead, second, third, 0x80]]) {
          // Lengths either side of the longest made from code units here.
          for (const padding of [0, 42]) {
            const inner = [...prefix.subarray(10), ...new Array(padding).fill(0x61), ...sequence, 0x78];
            const bytes = Uint8Array.from([...prefix.subarray(0, 10), ...inner, ...suffix.subarray(1)]);
            let expected;
            try {
              expected = strict.decode(Uint8Array.from(inner));
            } catch {
              expected = undefined;
            }
            const got = readCompactNodeText(bytes, 0, bytes.length, values) ? values[0] : undefined;
            // A byte the string may not hold raw makes no label for either.
            if ([...inner].some((byte) => byte < 0x20 || byte === 0x22 || byte === 0x5c)) continue;
            assert.equal(got, expected, sequence.map((byte) => byte.toString(16)).join(" "));
            if (got !== undefined) taken++;
          }
        }
      }
    }
  }
  assert.ok(taken > 1000, `${taken} taken`);
});
