// The inspector page loads the decoder as a classic script generated from
// the modules: it must behave like them.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";
import vm from "node:vm";

import { COUNT_SIZE, EMPTY_DIFF_SIZE } from "../byte-layout.mjs";
import { classicScript } from "../build-classic.mjs";
import { decodeGraphDiff, encodeGraphDiff } from "../graph-diff.mjs";
import { randomDiff, seededRandom } from "./random-diff.mjs";

test("the command the README gives writes the classic script", () => {
  const directory = mkdtempSync(join(tmpdir(), "classic-script-"));
  try {
    const target = join(directory, "graph-diff.js");
    execFileSync(process.execPath, [fileURLToPath(new URL("../build-classic.mjs", import.meta.url)), target]);
    assert.equal(readFileSync(target, "utf8"), classicScript());
  } finally {
    rmSync(directory, { recursive: true, force: true });
  }
});

test("the classic script decodes and encodes as the module does", () => {
  // A bare context, as a page has: only what the script itself needs.
  const context = vm.createContext({ TextDecoder, TextEncoder });
  vm.runInContext(classicScript(), context);
  const classic = vm.runInContext("GraphDiff", context);
  const random = seededRandom(99);
  for (let round = 0; round < 200; round++) {
    const diff = randomDiff(random);
    const bytes = encodeGraphDiff(diff);
    assert.deepEqual(Buffer.from(classic.encodeGraphDiff(diff)), Buffer.from(bytes));
    // Objects from another context differ in prototype; compare their JSON form.
    const flatten = (decoded) =>
      JSON.stringify(decoded, (key, value) =>
        Object.prototype.toString.call(value) === "[object Map]" ? [...value] : value,
      );
    assert.equal(flatten(classic.decodeGraphDiff(bytes)), flatten(decodeGraphDiff(bytes)));
  }
  assert.throws(
    () => classic.decodeGraphDiff(new Uint8Array(EMPTY_DIFF_SIZE - 1)),
    (error) => error.name === "GraphDiffDecodeError" && error.offset === 3 * COUNT_SIZE,
  );
});
