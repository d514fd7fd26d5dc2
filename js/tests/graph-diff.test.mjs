// Round trips of random diffs, and the decoder's and encoder's refusals with
// the offsets and reasons they report.
import assert from "node:assert/strict";
import { test } from "node:test";
import { setFlagsFromString } from "node:v8";
import { runInNewContext } from "node:vm";

import {
  decodeGraphDiff,
  decodeGraphDiffColumns,
  encodeGraphDiff,
  GraphDiffDecodeError,
  GraphDiffEncodeError,
} from "../graph-diff.mjs";
import { COUNT_SIZE, EMPTY_DIFF_SIZE, GROUP_HEADER_SIZE, ID_FIELD_SIZE, ID_LENGTH } from "../byte-layout.mjs";
import { checkAttributes } from "../graph-diff-encoder.mjs";
import { cachedSizeText, sizeText, writeNodeText } from "../node-text-writer.mjs";
import { randomAttributes, randomDiff, randomFloat32, seededRandom } from "./random-diff.mjs";

const ID_A = "00010203-0405-0607-0809-0a0b0c0d0e0f";
const ID_B = "10111213-1415-1617-1819-1a1b1c1d1e1f";

// What a diff reads back as: floats rounded to float32, a NaN or infinite
// size absent (it is written as null), repeated deleted ids held once.
function asWritten({ nodes, deletedNodes, edges, deletedEdges }) {
  const written = ({ size, ...rest }) => {
    if (size === undefined || !Number.isFinite(size)) return rest;
    return { ...rest, size: Math.fround(size) };
  };
  return {
    nodes: new Map([...nodes].map(([id, attributes]) => [id, written(attributes)])),
    deletedNodes: [...new Set(deletedNodes)],
    edges: new Map([...edges].map(([s, ts]) => [s, new Map([...ts].map(([t, w]) => [t, Math.fround(w)]))])),
    deletedEdges: new Map([...deletedEdges].map(([s, ts]) => [s, [...new Set(ts)]])),
  };
}

test("random diffs read back as written, every container in its original order", () => {
  const random = seededRandom(7);
  for (let round = 0; round < 2000; round++) {
    const diff = randomDiff(random);
    const bytes = encodeGraphDiff(diff);
    const decoded = decodeGraphDiff(bytes);
    // deepEqual compares Maps regardless of order, so the orders separately.
    const expected = asWritten(diff);
    assert.deepEqual(decoded, expected);
    assert.deepEqual([...decoded.nodes.keys()], [...expected.nodes.keys()]);
    assert.deepEqual([...decoded.edges.keys()], [...expected.edges.keys()]);
    for (const [source, targets] of decoded.edges) {
      assert.deepEqual([...targets.keys()], [...expected.edges.get(source).keys()]);
    }
    assert.deepEqual([...decoded.deletedEdges.keys()], [...expected.deletedEdges.keys()]);
    const sizes = [...diff.nodes.values()].map(({ size }) => size ?? 0);
    if (sizes.every(Number.isFinite)) {
      assert.deepEqual(encodeGraphDiff(decoded), bytes);
    }
    if (round % 40 === 0) {
      // Every proper prefix is cut off somewhere, and says so.
      for (let cut = 0; cut < bytes.length; cut++) {
        assert.throws(() => decodeGraphDiff(bytes.subarray(0, cut)), { kind: "premature-end" });
      }
    }
  }
});

test("the decoder reads any byte container in place", () => {
  const bytes = encodeGraphDiff({ nodes: new Map([[ID_A, { label: "a" }]]) });
  const padded = new Uint8Array(bytes.length + 3);
  padded.set(bytes, 3);
  const inputs = [bytes, bytes.buffer, Buffer.from(bytes), padded.subarray(3), new DataView(padded.buffer, 3)];
  for (const input of inputs) {
    assert.deepEqual(decodeGraphDiff(input).nodes, new Map([[ID_A, { label: "a" }]]));
  }
  for (const input of [null, "bytes", [0, 0, 0], 32]) {
    assert.throws(() => decodeGraphDiff(input), TypeError);
  }
});

const count = (value) => {
  const bytes = new Uint8Array(COUNT_SIZE);
  new DataView(bytes.buffer).setBigUint64(0, BigInt(value), true);
  return [...bytes];
};
const idField = (first = 0, length = ID_LENGTH) => [
  ...count(length),
  ...Array.from({ length: ID_LENGTH }, (_, i) => first + i),
];
const text = (string) => [...count(Buffer.byteLength(string)), ...Buffer.from(string)];
const zeros = (n) => new Array(n).fill(0);
const bytesOf = (...parts) => Uint8Array.from(parts.flat(Infinity));

// Where the first node's text starts: after the node count, its id and its text's length.
const AFTER_NODE_HEADER = COUNT_SIZE + GROUP_HEADER_SIZE;

test("refusals name the kind, the offset and the reason", () => {
  const cases = [
    ["empty input", [], "premature-end", 0],
    ["one byte short of the empty diff", zeros(EMPTY_DIFF_SIZE - 1), "premature-end", 3 * COUNT_SIZE],
    ["an id length of 15", [count(1), idField(0, 15), zeros(40)], "wrong-id-length", COUNT_SIZE],
    ["an id length of 17", [count(1), idField(0, 17), zeros(40)], "wrong-id-length", COUNT_SIZE],
    ["an id length beyond the input", [count(1), count(2 ** 40), zeros(10)], "premature-end", 2 * COUNT_SIZE],
    [
      "a node count of 2^64 - 1",
      [count(2n ** 64n - 1n), idField(), text("{}")],
      "premature-end",
      AFTER_NODE_HEADER + 2,
    ],
    [
      "a deleted count beyond 2^53",
      [count(0), count(2n ** 60n), idField(), idField()],
      "premature-end",
      2 * COUNT_SIZE + 2 * ID_FIELD_SIZE,
    ],
    ["a text length of 2^63", [count(1), idField(), count(2n ** 63n), zeros(24)], "premature-end", AFTER_NODE_HEADER],
    [
      "an edge without its weight",
      [count(0), count(0), count(1), idField(), count(1), idField(), [0, 0]],
      "premature-end",
      3 * COUNT_SIZE + GROUP_HEADER_SIZE + ID_FIELD_SIZE,
    ],
    ["an empty node text", [count(1), idField(), text(""), zeros(24)], "invalid-node-text", AFTER_NODE_HEADER],
    [
      "a node text that is not JSON",
      [count(1), idField(), text("{x}"), zeros(24)],
      "invalid-node-text",
      AFTER_NODE_HEADER + 1,
    ],
    [
      "an encoded surrogate",
      [count(1), idField(), count(13), [...Buffer.from('{"label":"'), 0xed, 0xa0, 0x80]],
      "invalid-utf8",
      AFTER_NODE_HEADER + 10,
    ],
  ];
  for (const [name, parts, kind, offset] of cases) {
    assert.throws(
      () => decodeGraphDiff(bytesOf(...parts)),
      (error) => {
        assert.ok(error instanceof GraphDiffDecodeError, name);
        assert.equal(error.kind, kind, name);
        assert.equal(error.offset, offset, `${name}: ${error.message}`);
        assert.ok(error.message.includes(`at byte ${offset}`) && error.reason.length > 10, name);
        return true;
      },
    );
  }
});

test("a text is checked as UTF-8 within its own length, whatever follows it", () => {
  // The text ends in the lead byte of a two-byte sequence; the deleted-node
  // count that follows starts with a continuation byte.
  const parts = [
    count(1),
    idField(),
    [...count(3), 0x7b, 0x7d, 0xc3],
    count(0xa9),
    ...Array(0xa9).fill(idField()),
    zeros(16),
  ];
  assert.throws(() => decodeGraphDiff(bytesOf(...parts)), { kind: "invalid-utf8", offset: AFTER_NODE_HEADER + 2 });
});

test("texts are parsed only after every section is read, and only the last text of an id", () => {
  const badText = [count(1), idField(), text("not json")];
  assert.throws(() => decodeGraphDiff(bytesOf(badText, zeros(8))), { kind: "premature-end" });
  const replaced = [count(2), idField(), text("not json"), idField(), text('{"red":7}'), zeros(24)];
  assert.deepEqual(decodeGraphDiff(bytesOf(replaced)).nodes, new Map([[ID_A, { red: 7 }]]));
  const trailing = [zeros(EMPTY_DIFF_SIZE), [1, 2, 3]];
  assert.equal(decodeGraphDiff(bytesOf(trailing)).nodes.size, 0);
});

test("the encoder refuses what the module could not hold, before writing anything", () => {
  const refused = [
    [{ nodes: new Map([[ID_A.toUpperCase(), {}]]) }, /id text/],
    [{ nodes: new Map([["0001020304050607", {}]]) }, /id text/],
    [{ deletedNodes: [ID_A, 5] }, /id text/],
    [{ deletedNodes: ID_A }, /iterable/],
    [{ edges: new Map([[ID_A, new Map([[ID_B, "1"]])]]) }, /weight must be a number/],
    [{ edges: new Map([[ID_A, new Map([[ID_B, 1n]])]]) }, /weight must be a number/],
    [{ edges: new Map([[ID_A, [[ID_B, 1]]]]) }, /Map/],
    [{ deletedEdges: new Map([[ID_A, [ID_B, `${ID_B} `]]]) }, /id text/],
    [{ nodes: new Map([[ID_A, { red: 256 }]]) }, /red must be an integer 0..255/],
    [{ nodes: new Map([[ID_A, { green: -1 }]]) }, /green must be/],
    [{ nodes: new Map([[ID_A, { blue: 1.5 }]]) }, /blue must be/],
    [{ nodes: new Map([[ID_A, { red: "1" }]]) }, /red must be/],
    [{ nodes: new Map([[ID_A, { label: "a\ud800" }]]) }, /lone surrogates/],
    [{ nodes: new Map([[ID_A, { url: "\udc00b" }]]) }, /lone surrogates/],
    [{ nodes: new Map([[ID_A, { label: 5 }]]) }, /label must be a string/],
    [{ nodes: new Map([[ID_A, { size: "1" }]]) }, /size must be a number/],
    [{ nodes: new Map([[ID_A, { showLabel: "yes" }]]) }, /showLabel must be true or false/],
    [{ nodes: new Map([[ID_A, { show_label: true }]]) }, /unknown attribute "show_label"/],
    [{ nodes: new Map([[ID_A, "label"]]) }, /must be an object/],
    [{ nodes: [[ID_A, {}]] }, /Map/],
    [null, /must be an object/],
  ];
  for (const [diff, message] of refused) {
    assert.throws(
      () => encodeGraphDiff(diff),
      (error) => error instanceof GraphDiffEncodeError && message.test(error.message),
    );
  }
});

test("the encoder takes plain objects and absent containers, and rounds floats to float32", () => {
  const bytes = encodeGraphDiff({
    nodes: { [ID_A]: { size: 0.1, label: undefined, red: null, showLabel: false } },
    edges: { [ID_A]: { [ID_B]: 0.1 } },
    deletedNodes: new Set([ID_B]),
  });
  const decoded = decodeGraphDiff(bytes);
  assert.deepEqual(decoded.nodes, new Map([[ID_A, { size: Math.fround(0.1), showLabel: false }]]));
  assert.equal(decoded.edges.get(ID_A).get(ID_B), Math.fround(0.1));
  assert.deepEqual(decoded.deletedNodes, [ID_B]);
  assert.equal(encodeGraphDiff({}).length, EMPTY_DIFF_SIZE);
});

test("the encoder takes exactly the lower-case id texts", () => {
  const random = seededRandom(11);
  const ID_TEXT = /^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$/;
  const odd = ["-", "A", "F", "g", "/", ":", "`", "\u00e6", "\u0166", "\u0130", "\ud83d", " ", "0"];
  for (let round = 0; round < 5000; round++) {
    const chars = [...ID_A];
    chars[Math.floor(random() * chars.length)] = odd[Math.floor(random() * odd.length)];
    const id = chars.join("");
    const accepted = (() => {
      try {
        return decodeGraphDiff(encodeGraphDiff({ deletedNodes: [id] })).deletedNodes[0] === id;
      } catch (error) {
        assert.ok(error instanceof GraphDiffEncodeError);
        return false;
      }
    })();
    assert.equal(accepted, ID_TEXT.test(id), JSON.stringify(id));
  }
});

test("the encoder's node entries are the checked writer's, bytes and refusals alike", () => {
  const random = seededRandom(13);
  const utf8 = new TextEncoder();
  const pick = (values) => values[Math.floor(random() * values.length)];
  // Values of every kind a field might be given, valid or not.
  const odd = [undefined, null, -0, 0, 255, 256, -1, 1.5, NaN, Infinity, "7", true, "a\ud800", "😀é", '"\\\n', {}];
  const inherited = Object.create({ label: "from the prototype" });
  let written = 0;
  for (let round = 0; round < 20000; round++) {
    let attributes = randomAttributes(random);
    const choice = random();
    if (choice < 0.3) {
      attributes[pick(["label", "size", "url", "red", "green", "blue", "showLabel"])] = pick(odd);
    } else if (choice < 0.35) {
      attributes[pick(["x", "show_label", "constructor", "0"])] = 1;
    } else if (choice < 0.4) {
      attributes = Object.assign(Object.create(inherited), attributes);
    } else if (choice < 0.42) {
      attributes = pick([null, 5, "label", [1, 2], new Map()]);
    }
    const id = random() < 0.02 ? ID_A.toUpperCase() : ID_A;
    const where = `nodes[${JSON.stringify(id)}]`;
    let expected;
    try {
      expected = utf8.encode(writeNodeText(checkAttributes(attributes, () => where)));
      if (id !== ID_A) expected = undefined;
    } catch (error) {
      expected = error.message;
    }
    let got;
    try {
      const bytes = encodeGraphDiff({ nodes: new Map([[id, attributes]]) });
      got = bytes.subarray(COUNT_SIZE + GROUP_HEADER_SIZE, bytes.length - 3 * COUNT_SIZE);
      written++;
    } catch (error) {
      assert.ok(error instanceof GraphDiffEncodeError);
      got = expected === undefined ? undefined : error.message;
    }
    assert.deepEqual(got, expected, JSON.stringify(attributes));
  }
  assert.ok(written > 10000, `${written} written`);
});

test("a cached size text is the size text, whatever shares its slot", () => {
  const random = seededRandom(17);
  const values = Array.from({ length: 20000 }, () => Math.fround(randomFloat32(random)));
  for (const value of [...values, ...values.reverse()]) {
    assert.equal(cachedSizeText(value), sizeText(value));
  }
});

test("neither decoder holds on to its input once it returns", async () => {
  setFlagsFromString("--expose-gc");
  const collect = runInNewContext("gc");
  const decoded = [];
  const inputs = [decodeGraphDiff, decodeGraphDiffColumns].map((decode) => {
    const bytes = encodeGraphDiff({ nodes: new Map([[ID_A, { label: "a", size: 1.5, red: 1, green: 2, blue: 3 }]]) });
    decoded.push(decode(bytes));
    return new WeakRef(bytes.buffer);
  });
  // A WeakRef holds its target until the current job ends.
  await new Promise((resolve) => {
    setImmediate(resolve);
  });
  collect();
  assert.deepEqual(
    inputs.map((input) => input.deref()),
    [undefined, undefined],
  );
  assert.equal(decoded[0].nodes.get(ID_A).label, "a");
});
