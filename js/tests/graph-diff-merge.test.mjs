// mergeGraphDiffs beside what the differential test checks against the
// module: it leaves its arguments alone, and a few rules spelled out.
import assert from "node:assert/strict";
import { test } from "node:test";

import { decodeGraphDiff, encodeGraphDiff, mergeGraphDiffs } from "../graph-diff.mjs";
import { randomDiff, seededRandom } from "./random-diff.mjs";

const [A, B, C] = ["0", "1", "2"].map((digit) => `${digit.repeat(8)}-0000-0000-0000-000000000000`);
const empty = () => decodeGraphDiff(new Uint8Array(32));
const diffOf = (parts) => ({ ...empty(), ...parts });

test("neither argument changes, and merging an empty diff changes nothing", () => {
  const random = seededRandom(19);
  for (let round = 0; round < 300; round++) {
    const a = decodeGraphDiff(encodeGraphDiff(randomDiff(random, 5)));
    const b = decodeGraphDiff(encodeGraphDiff(randomDiff(random, 5)));
    const [aBytes, bBytes] = [encodeGraphDiff(a), encodeGraphDiff(b)];
    const merged = mergeGraphDiffs(a, b);
    assert.deepEqual([encodeGraphDiff(a), encodeGraphDiff(b)], [aBytes, bBytes]);
    assert.notEqual(merged.nodes, a.nodes);
    assert.deepEqual(encodeGraphDiff(mergeGraphDiffs(a, empty())), aBytes);
  }
});

test("deletions come first, then records and edges; removals move the last entry", () => {
  const a = diffOf({
    nodes: new Map([
      [A, { label: "a", red: 1 }],
      [B, {}],
      [C, { label: "c" }],
    ]),
    edges: new Map([
      [B, new Map([[A, 1]])],
      [C, new Map([[A, 2]])],
    ]),
  });
  const b = diffOf({ nodes: new Map([[A, { red: 9 }]]), deletedNodes: [A, C] });
  const merged = mergeGraphDiffs(a, b);
  // Deleting A made B's pending edge a deletion and left B's group empty;
  // the record of A starts again from b's alone, after B.
  assert.deepEqual(
    [...merged.nodes],
    [
      [B, {}],
      [A, { red: 9 }],
    ],
  );
  assert.deepEqual(merged.deletedNodes, [C]);
  assert.deepEqual([...merged.edges], [[B, new Map()]]);
  assert.deepEqual(
    [...merged.deletedEdges],
    [
      [B, [A]],
      [C, [A]],
    ],
  );
});
