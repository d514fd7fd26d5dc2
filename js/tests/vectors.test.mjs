// The shared byte vectors (also read by the C++ and Python tests): each
// decodes to the containers it describes, and re-encodes to the same bytes
// where the vector says the module would; the refused ones fail with their
// cause.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";

import { decodeGraphDiff, encodeGraphDiff } from "../graph-diff.mjs";
import { NODE_FIELDS } from "../node-text-fields.mjs";

const { vectors, refused } = JSON.parse(
  readFileSync(new URL("../../tests/vectors/byte_vectors.json", import.meta.url), "utf8"),
);

const idText = (hex) =>
  `${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}`;
const bitsView = new DataView(new ArrayBuffer(4));
const weightBits = (weight) => {
  bitsView.setFloat32(0, weight);
  return bitsView.getUint32(0).toString(16).padStart(8, "0");
};
const attributesOf = (update) =>
  Object.fromEntries(
    NODE_FIELDS.filter(({ pythonKey }) => pythonKey in update).map(({ key, pythonKey }) => [key, update[pythonKey]]),
  );

// A signalling NaN becomes quiet as soon as it is a JavaScript number.
const KEEPS_BITS_IN_JS = (vector) => !vector.name.includes("signalling NaN");

test("vectors decode to the containers they describe", () => {
  assert.ok(vectors.length >= 10);
  for (const vector of vectors) {
    const diff = decodeGraphDiff(Buffer.from(vector.hex, "hex"));
    assert.equal(vector.hex.length / 2, vector.length, vector.name);
    assert.deepEqual(
      diff.nodes,
      new Map(vector.new_or_updated_nodes.map((node) => [idText(node.id), attributesOf(node.update)])),
      vector.name,
    );
    assert.deepEqual(diff.deletedNodes, vector.deleted_nodes.map(idText), vector.name);
    const edges = new Map(
      [...diff.edges].map(([source, targets]) => [source, [...targets].map(([t, w]) => [t, weightBits(w)])]),
    );
    const expectedEdges = new Map(
      vector.new_or_updated_edges.map(({ source, targets }) => [
        idText(source),
        targets.map(({ target, weight_bits: bits }) => [idText(target), bits]),
      ]),
    );
    if (KEEPS_BITS_IN_JS(vector)) {
      assert.deepEqual(edges, expectedEdges, vector.name);
    } else {
      assert.ok(Number.isNaN([...[...diff.edges.values()][0].values()][0]), vector.name);
    }
    assert.deepEqual(
      diff.deletedEdges,
      new Map(vector.deleted_edges.map(({ source, targets }) => [idText(source), targets.map(idText)])),
      vector.name,
    );
  }
});

test("canonical vectors re-encode to the same bytes, the others to bytes that decode alike", () => {
  for (const vector of vectors.filter(KEEPS_BITS_IN_JS)) {
    const diff = decodeGraphDiff(Buffer.from(vector.hex, "hex"));
    const bytes = encodeGraphDiff(diff);
    if (vector.canonical) {
      assert.equal(Buffer.from(bytes).toString("hex"), vector.hex, vector.name);
    } else {
      assert.deepEqual(decodeGraphDiff(bytes), diff, vector.name);
    }
  }
});

test("refused vectors fail with their cause", () => {
  assert.ok(refused.length >= 10);
  for (const vector of refused) {
    assert.throws(
      () => decodeGraphDiff(Buffer.from(vector.hex, "hex")),
      { kind: vector.cause.replaceAll("_", "-") },
      vector.name,
    );
  }
});
