// The columnar decoder holds what decodeGraphDiff holds: the same entries in
// the same order, the same acceptance and the same refusals, on random
// diffs, on byte strings that repeat every kind of key, and on mutations.
import assert from "node:assert/strict";
import { test } from "node:test";

import { decodeGraphDiff, decodeGraphDiffColumns, encodeGraphDiff } from "../graph-diff.mjs";
import { writeNodeText } from "../node-text-writer.mjs";
import { columnsAsMaps } from "./columns-as-maps.mjs";
import { mutated, randomDiff, randomDiffBytes, seededRandom } from "./random-diff.mjs";

// Maps compared with their orders, which deepEqual ignores.
function assertSame(actual, expected, message) {
  assert.deepEqual(actual, expected, message);
  const order = (diff) => [
    [...diff.nodes.keys()],
    [...diff.edges.keys()],
    [...diff.edges.values()].map((targets) => [...targets.keys()]),
    [...diff.deletedEdges.keys()],
  ];
  assert.deepEqual(order(actual), order(expected), message);
}

function outcome(decode, bytes) {
  try {
    return { diff: decode(bytes) };
  } catch (error) {
    return { kind: error.kind, offset: error.offset, name: error.name };
  }
}

test("columns hold decodeGraphDiff's content, and refuse where it refuses", () => {
  const random = seededRandom(21);
  let refused = 0;
  for (let round = 0; round < 3000; round++) {
    const bytes = round % 3 === 0 ? encodeGraphDiff(randomDiff(random)) : randomDiffBytes(random, writeNodeText);
    for (const input of [bytes, mutated(random, bytes)]) {
      const maps = outcome(decodeGraphDiff, input);
      const columns = outcome(decodeGraphDiffColumns, input);
      if (maps.diff === undefined) {
        refused++;
        assert.deepEqual(columns, maps);
        continue;
      }
      assertSame(columnsAsMaps(columns.diff), maps.diff, `round ${round}`);
      const { ids, idCount, nodes } = columns.diff;
      assert.equal(ids.length, 16 * idCount);
      assert.ok(nodes.nodeIndex.every((index, row) => index === row));
    }
  }
  assert.ok(refused > 1000, `${refused} refusals`);
});

test("a repeated source keeps its first place and takes its last group, empty or not", () => {
  const [a, b, c] = ["00", "11", "22"].map(
    (byte) => `${byte.repeat(4)}-${byte.repeat(2)}-${byte.repeat(2)}-${byte.repeat(2)}-${byte.repeat(6)}`,
  );
  const hex = (id) => id.replaceAll("-", "");
  const count = (n) => Buffer.alloc(8, 0).fill(n, 0, 1).toString("hex");
  const weight = (w) => {
    const bytes = Buffer.alloc(4);
    bytes.writeFloatLE(w);
    return bytes.toString("hex");
  };
  const field = (id) => count(16) + hex(id);
  // edges: a -> {b: 1, c: 2}, b -> {}, a -> {c: 3, c: 4}; deleted: c -> [a, a], c -> []
  const bytes = Buffer.from(
    count(0) +
      count(0) +
      count(3) +
      field(a) +
      count(2) +
      field(b) +
      weight(1) +
      field(c) +
      weight(2) +
      field(b) +
      count(0) +
      field(a) +
      count(2) +
      field(c) +
      weight(3) +
      field(c) +
      weight(4) +
      count(2) +
      field(c) +
      count(2) +
      field(a) +
      field(a) +
      field(c) +
      count(0),
    "hex",
  );
  const columns = decodeGraphDiffColumns(bytes);
  assertSame(columnsAsMaps(columns), decodeGraphDiff(bytes));
  assert.deepEqual([...columns.edges.weight], [4]);
  assert.deepEqual(decodeGraphDiff(bytes).deletedEdges, new Map([[c, []]]));
});

test("idText names every index and refuses others", () => {
  const { idText, idCount } = decodeGraphDiffColumns(
    encodeGraphDiff({ deletedNodes: ["0123abcd-0000-0000-0000-00000000ffff"] }),
  );
  assert.equal(idCount, 1);
  assert.equal(idText(0), "0123abcd-0000-0000-0000-00000000ffff");
  for (const index of [-1, 1, 0.5, "0", NaN]) {
    assert.throws(() => idText(index), RangeError);
  }
});

test("ids crafted to share hash bits intern as fast as random ones, and edge columns stay small", () => {
  // Ids equal in everything but their top bytes: a hash of the low bits
  // alone would put them in one chain.
  const edgesOf = (idOf) => {
    const targets = new Map();
    for (let index = 0; index < 20000; index++) targets.set(idOf(index), 1);
    return encodeGraphDiff({ edges: new Map([["00000000-0000-0000-0000-000000000000", targets]]) });
  };
  const hex = (n, width) => n.toString(16).padStart(width, "0");
  const crafted = edgesOf((i) => `${hex(i, 8)}-0000-0000-0000-000000000000`);
  const random = seededRandom(3);
  const spread = edgesOf(
    (i) => `${hex(i, 8)}-${hex(Math.floor(random() * 65536), 4)}-0000-0000-${hex(Math.floor(random() * 2 ** 48), 12)}`,
  );
  const time = (bytes) => {
    decodeGraphDiffColumns(bytes);
    let best = Infinity;
    for (let round = 0; round < 5; round++) {
      const started = process.hrtime.bigint();
      decodeGraphDiffColumns(bytes);
      best = Math.min(best, Number(process.hrtime.bigint() - started));
    }
    return best;
  };
  // One chain would cost 10^4 times as much; the margin is for a busy machine.
  assert.ok(time(crafted) < 5 * time(spread) + 100e6);
  const { ids, edges } = decodeGraphDiffColumns(spread);
  const held = ids.byteLength + edges.source.byteLength + edges.target.byteLength + edges.weight.byteLength;
  assert.ok(held <= 1.5 * spread.length, `${held} bytes held for ${spread.length}`);
});
