// The inspector page loads the decoder as a classic script generated from
// the modules: it must be in step with them and behave like them.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { test } from "node:test";
import vm from "node:vm";

import { classicScript, TARGET } from "../build-classic.mjs";
import { decodeGraphDiff, encodeGraphDiff } from "../graph-diff.mjs";
import { randomDiff, seededRandom } from "./random-diff.mjs";

test("examples/web/graph-diff.js is what js/build-classic.mjs writes now", () => {
  assert.equal(readFileSync(TARGET, "utf8"), classicScript(), "run: node js/build-classic.mjs");
});

test("the classic script decodes and encodes as the module does", () => {
  // A bare context, as a page has: only what the script itself needs.
  const context = vm.createContext({ TextDecoder, TextEncoder });
  vm.runInContext(readFileSync(TARGET, "utf8"), context);
  const classic = vm.runInContext("GraphDiff", context);
  const random = seededRandom(99);
  for (let round = 0; round < 200; round++) {
    const diff = randomDiff(random);
    const bytes = encodeGraphDiff(diff);
    assert.deepEqual(Buffer.from(classic.encodeGraphDiff(diff)), Buffer.from(bytes));
    // Objects from another context differ in prototype; compare their JSON form.
    const flatten = (diff) => JSON.stringify(diff, (key, value) => (Object.prototype.toString.call(value) === "[object Map]" ? [...value] : value));
    assert.equal(flatten(classic.decodeGraphDiff(bytes)), flatten(decodeGraphDiff(bytes)));
  }
  assert.throws(() => classic.decodeGraphDiff(new Uint8Array(31)), (error) => error.name === "GraphDiffDecodeError" && error.offset === 24);
});
