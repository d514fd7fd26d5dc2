// js/ as a package: packed by npm, installed into a new project and
// imported there by its name, each entry point, and its types.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { fileURLToPath } from "node:url";

const PACKAGE_DIR = fileURLToPath(new URL("..", import.meta.url));
const { name } = JSON.parse(readFileSync(join(PACKAGE_DIR, "package.json"), "utf8"));

const USAGE = `
import { applyGraphDiff, decodeGraphDiff, encodeGraphDiff, mergeGraphDiffs } from "${name}";
import { decodeGraphDiff as decode } from "${name}/decoder";
import { encodeGraphDiff as encode } from "${name}/encoder";
import { applyGraphDiff as apply } from "${name}/apply";
import { mergeGraphDiffs as merge } from "${name}/merge";
const bytes = encodeGraphDiff({ edges: { "00000000-0000-4000-8000-000000000001": { "00000000-0000-4000-8000-000000000002": 0.5 } } });
const { edges } = decodeGraphDiff(bytes);
if (decode !== decodeGraphDiff || encode !== encodeGraphDiff || apply !== applyGraphDiff || merge !== mergeGraphDiffs) throw new Error("entry points differ");
if (typeof applyGraphDiff !== "function") throw new Error("no applyGraphDiff");
console.log(JSON.stringify([...edges].map(([source, targets]) => [source, [...targets]])));
`;

const TYPED_USAGE = `
import { decodeGraphDiff, type GraphDiff } from "${name}";
const diff: GraphDiff = decodeGraphDiff(new Uint8Array(32));
console.log(diff.deletedNodes.length);
`;

test("npm pack of js/ installs into a new project and imports there, with its types", (t) => {
  const scratch = mkdtempSync(join(tmpdir(), "graph-diff-package-"));
  t.after(() => rmSync(scratch, { recursive: true, force: true }));
  const quiet = { cwd: scratch, stdio: ["ignore", "pipe", "inherit"], encoding: "utf8" };
  const tarball = execFileSync("npm", ["pack", "--silent", "--pack-destination", scratch, PACKAGE_DIR], quiet).trim();
  writeFileSync(join(scratch, "package.json"), JSON.stringify({ name: "scratch", private: true, type: "module" }));
  // No dependencies, so nothing is fetched.
  execFileSync("npm", ["install", "--offline", "--no-audit", "--no-fund", "--silent", `./${tarball}`], quiet);
  writeFileSync(join(scratch, "usage.mjs"), USAGE);
  const printed = execFileSync(process.execPath, ["usage.mjs"], quiet);
  const edges = [["00000000-0000-4000-8000-000000000001", [["00000000-0000-4000-8000-000000000002", 0.5]]]];
  assert.equal(printed.trim(), JSON.stringify(edges));
  writeFileSync(join(scratch, "usage.mts"), TYPED_USAGE);
  execFileSync(
    "tsc",
    [
      "--noEmit",
      "--strict",
      "--module",
      "nodenext",
      "--moduleResolution",
      "nodenext",
      "--target",
      "es2022",
      "--lib",
      "es2022,dom",
      "usage.mts",
    ],
    quiet,
  );
  const installed = JSON.parse(readFileSync(join(scratch, "node_modules", name, "package.json"), "utf8"));
  assert.equal(installed.dependencies, undefined);
});
