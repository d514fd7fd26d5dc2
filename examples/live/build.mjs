// Bundles the live view's script (live.mjs with graphology, sigma,
// ForceAtlas2 and the decoder) into one classic script, written to the
// standard output or to FILE. The server runs it when it starts.
//
//   node examples/live/build.mjs [FILE]
import { writeFileSync } from "node:fs";
import { fileURLToPath } from "node:url";

import { build } from "esbuild";

const result = await build({
  entryPoints: [fileURLToPath(new URL("live.mjs", import.meta.url))],
  bundle: true,
  format: "iife",
  minify: true,
  target: "es2020",
  write: false,
  logLevel: "error",
});
const [output] = result.outputFiles;
if (process.argv[2]) writeFileSync(process.argv[2], output.contents);
else process.stdout.write(output.contents);
