// The node text reader's acceptance and the writer's exact output, as
// tables of cases, plus round-trip properties over random float32 values.
import assert from "node:assert/strict";
import { test } from "node:test";

import { NodeTextError } from "../json-scanner.mjs";
import { readCompactNodeText } from "../node-text-compact.mjs";
import { NODE_TEXT_KEYS } from "../node-text-fields.mjs";
import { readNodeText } from "../node-text-reader.mjs";
import { sizeText, writeNodeText } from "../node-text-writer.mjs";
import { mutated, randomAttributes, seededRandom } from "./random-diff.mjs";

const encoder = new TextEncoder();

function read(text) {
  const bytes = encoder.encode(text);
  return readNodeText(bytes, 0, bytes.length);
}

const ACCEPTED = [
  ["{}", {}],
  [" \t\r\n{ }\n", {}],
  ["[null,null,null,null,null,null,null]", {}],
  [' [ "a" , 1 , "u" , 0 , 255 , 7 , false ] ', { label: "a", size: 1, url: "u", red: 0, green: 255, blue: 7, showLabel: false }],
  ['{"label":null}', {}],
  ['{"show_label":false}', {}],
  ['{"x":1,"x":2}', {}],
  ['{"\\u0073ize":2}', { size: 2 }],
  ['{"label":"\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\uD83D\\ude00"}', { label: '"\\/\b\f\n\r\té\u{1F600}' }],
  ['{"label":"é/\u007f😀"}', { label: "é/\u007f😀" }],
  ['{"red":255,"green":0,"blue":10}', { red: 255, green: 0, blue: 10 }],
  ['{"size":1}', { size: 1 }],
  ['{"size":1.0}', { size: 1 }],
  ['{"size":1e0}', { size: 1 }],
  ['{"size":10E-1}', { size: 1 }],
  ['{"size":-0}', { size: -0 }],
  ['{"size":-0.0e5}', { size: -0 }],
  ['{"size":1e-400}', { size: 0 }],
  ['{"size":-1e-400}', { size: -0 }],
  ['{"size":0e99999999999}', { size: 0 }],
  ['{"size":1e39}', { size: Infinity }],
  ['{"size":-3.5e38}', { size: -Infinity }],
  ['{"size":0.1}', { size: Math.fround(0.1) }],
  // Integers that fit 64 bits round to float32 once; through a double they
  // would round twice and land one float32 step lower.
  ['{"size":16777217}', { size: 16777216 }],
  ['{"size":9007199791611905}', { size: 9007200328482816 }],
  ['{"size":18446744073709551615}', { size: 18446744073709551616 }],
  ['{"size":-9223372036854775808}', { size: -9223372036854775808 }],
  ['{"size":18446744073709551616}', { size: 18446744073709551616 }],
  ['{"showLabel":true,"unknown":[{"a":[[],{},"\\ud800",-1.5e+3,true,null]}]}', { showLabel: true }],
  [`{"z":"\\uDFFF\\uD800"}`, {}],
];

const REFUSED = [
  "", "null", "5", '"a"', "{", "[", "{}{}", "{} x", '{"label":"a"}{}',
  '{"label":"a","label":"b"}', '{"label":null,"label":"b"}', '{"size":1,}',
  "[null,null,null,null,null,null]", "[null,null,null,null,null,null,null,null]",
  "[null,null,null,null,null,null,null,]", "[]",
  '{"red":256}', '{"red":-1}', '{"red":1.0}', '{"red":"1"}', '{"red":-0}', '{"red":1e2}', '{"red":0255}',
  '{"size":"5"}', '{"size":true}', '{"size":1e400}', '{"size":-1e400}', '{"size":+1}', '{"size":.5}',
  '{"size":1.}', '{"size":007}', '{"size":NaN}', '{"size":Infinity}', '{"size":1e}', '{"size":-}',
  '{"showLabel":1}', '{"showLabel":"true"}', '{"showLabel":True}', '{"label":nul}', '{"x":nul}',
  '{"x":01}', '{"x":[1,]}', '{"x":{"a":1,}}', '{"x":{"a"}}', '{"x":[1 2]}', '{"x":"\\x"}', '{"x":"\\u12"}', '{"x":"\\uzzzz"}',
  '{"label":"\\ud800"}', '{"label":"\\udc00"}', '{"label":"\\ud800\\u0041"}', '{"label":"\\ud800x"}',
  '{"label":"a\tb"}', '{"label":"a\u0000"}', '{"label":"abc', '{"label":"abc\\', '{label:"a"}',
  "{'label':'a'}", '{"label" "a"}', '{"label":"a";}', '\u00a0{}', '\ufeff{}', '{}\u000b', '{"x":[[[[[',
];

test("the reader accepts what the module accepts, with the same fields", () => {
  for (const [text, expected] of ACCEPTED) {
    const got = read(text);
    if (expected !== null) {
      assert.deepEqual(got, expected, text);
    }
  }
});

test("the reader refuses what the module refuses, with an offset inside the text", () => {
  for (const text of REFUSED) {
    assert.throws(
      () => read(text),
      (error) => error instanceof NodeTextError && error.offset >= 0 && error.offset <= encoder.encode(text).length,
      JSON.stringify(text),
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
  assert.deepEqual(read(`{"x":${"[{\"k\":".repeat(depth / 2)}1${"}]".repeat(depth / 2)},"red":1}`), { red: 1 });
  assert.throws(() => read(`{"x":${"[".repeat(depth)}${"]".repeat(depth - 1)}}`), NodeTextError);
});

test("the writer lays sizes out by the single-precision rules", () => {
  const cases = [
    [0, "0.0"], [-0, "-0.0"], [1, "1.0"], [123456789, "123456790.0"], [1.5, "1.5"],
    [1234.5678, "1234.5677"], [0.1, "0.1"], [0.000001, "0.000001"], [1e13, "1e13"],
    [1e-7, "1e-7"], [1e27, "1e27"], [1.5e-7, "1.5e-7"], [3.4028234663852886e38, "3.4028235e38"],
    [1e10, "10000000000.0"], [1e12, "1000000000000.0"], [2 / 3, "0.6666667"], [0.00001, "0.00001"],
    [2 ** -149, "1e-45"], [-2.5, "-2.5"], [9999999999999, "1e13"], [2 ** 24 + 2, "16777218.0"],
    [Infinity, "null"], [-Infinity, "null"], [NaN, "null"], [2 ** -126, "1.1754944e-38"],
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
  const texts = [...ACCEPTED.map(([text]) => text), ...REFUSED];
  for (let round = 0; round < 20000; round++) {
    texts.push(writeNodeText(randomAttributes(random)));
  }
  const sizes = ["0.0", "-0.0", "-0", "7", "123456789012345", "-99999999999999.9", "0.000000000000001", "1e5", "01.5", "2.", "1234567890123456"];
  texts.push(...sizes.map((size) => `{"size":${size}}`), '{"red":0,"green":09}', '{"label":"\u00e9"}', '{"url":"\ud800"}');
  let taken = 0;
  for (const text of texts) {
    const written = encoder.encode(text);
    for (const bytes of [written, mutated(random, written), mutated(random, written)]) {
      if (!readCompactNodeText(bytes, 0, bytes.length, values)) {
        continue;
      }
      taken++;
      const expected = readNodeText(bytes, 0, bytes.length);
      const got = Object.fromEntries(NODE_TEXT_KEYS.flatMap((key, field) => (values[field] === undefined ? [] : [[key, values[field]]])));
      assert.deepEqual(got, expected, new TextDecoder().decode(bytes));
      assert.deepEqual(Object.keys(got), Object.keys(expected));
    }
  }
  assert.ok(taken > 5000, `${taken} texts taken`);
});
