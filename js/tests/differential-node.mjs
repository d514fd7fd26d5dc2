// The Node half of the cross-language differential test (differential.py
// drives it; run by itself it does nothing useful).
//
//   node differential-node.mjs decode CASES OUT
//     CASES holds byte strings, each preceded by its length (u32 LE). OUT
//     gets one JSON line per case: the refusal, or the decoded content and
//     the bytes that encodeGraphDiff writes for it.
//   node differential-node.mjs merge CASES OUT
//     CASES holds pairs of byte strings, framed as for decode. OUT gets
//     the hex of encodeGraphDiff(mergeGraphDiffs(first, second)) per pair.
//   node differential-node.mjs generate COUNT SEED OUT
//     OUT gets one JSON line per random diff: its bytes as encodeGraphDiff
//     writes them and its content.
import { readFileSync, writeFileSync } from "node:fs";

import { decodeGraphDiff, encodeGraphDiff, GraphDiffDecodeError, mergeGraphDiffs } from "../graph-diff.mjs";
import { randomDiff, seededRandom } from "./random-diff.mjs";

const bitsView = new DataView(new ArrayBuffer(4));

// A float32 as the hex of its bits, or "nan": NaN payloads do not survive
// every conversion between float32 and double.
function floatBits(value) {
  if (Number.isNaN(value)) {
    return "nan";
  }
  bitsView.setFloat32(0, value);
  return bitsView.getUint32(0).toString(16).padStart(8, "0");
}

// The content in a form both languages write alike: lists in the order of
// the containers, floats as bits.
function content(diff) {
  return {
    nodes: [...diff.nodes].map(([id, attributes]) => [
      id,
      attributes.size === undefined ? attributes : { ...attributes, size: floatBits(attributes.size) },
    ]),
    deletedNodes: diff.deletedNodes,
    edges: [...diff.edges].map(([source, targets]) => [
      source,
      [...targets].map(([target, weight]) => [target, floatBits(weight)]),
    ]),
    deletedEdges: [...diff.deletedEdges],
  };
}

// The byte strings of CASES, each preceded by its length (u32 LE).
function* framedCases(casesPath) {
  const input = readFileSync(casesPath);
  for (let pos = 0; pos < input.length;) {
    const length = input.readUInt32LE(pos);
    yield input.subarray(pos + 4, pos + 4 + length);
    pos += 4 + length;
  }
}

function mergeCases(casesPath, outPath) {
  const cases = [...framedCases(casesPath)];
  const lines = [];
  for (let index = 0; index < cases.length; index += 2) {
    const merged = mergeGraphDiffs(decodeGraphDiff(cases[index]), decodeGraphDiff(cases[index + 1]));
    lines.push(JSON.stringify(Buffer.from(encodeGraphDiff(merged)).toString("hex")));
  }
  writeFileSync(outPath, lines.join("\n") + "\n");
}

function decodeCases(casesPath, outPath) {
  const lines = [];
  for (const bytes of framedCases(casesPath)) {
    let diff;
    try {
      diff = decodeGraphDiff(bytes);
    } catch (error) {
      if (!(error instanceof GraphDiffDecodeError) || error.offset < 0 || error.offset > bytes.length) {
        throw error;
      }
      lines.push(JSON.stringify({ ok: false, kind: error.kind, offset: error.offset }));
      continue;
    }
    const reencoded = Buffer.from(encodeGraphDiff(diff)).toString("hex");
    lines.push(JSON.stringify({ ok: true, content: content(diff), reencoded }));
  }
  writeFileSync(outPath, lines.join("\n") + "\n");
}

function generate(count, seed, outPath) {
  const random = seededRandom(seed);
  const lines = [];
  for (let index = 0; index < count; index++) {
    const diff = randomDiff(random);
    const bytes = Buffer.from(encodeGraphDiff(diff)).toString("hex");
    // What the bytes hold: the input with its float values rounded to float32.
    lines.push(
      JSON.stringify({ bytes, content: content(decodeGraphDiff(Buffer.from(bytes, "hex"))), input: content(diff) }),
    );
  }
  writeFileSync(outPath, lines.join("\n") + "\n");
}

const [command, ...args] = process.argv.slice(2);
if (command === "decode") {
  decodeCases(args[0], args[1]);
} else if (command === "merge") {
  mergeCases(args[0], args[1]);
} else if (command === "generate") {
  generate(Number(args[0]), Number(args[1]), args[2]);
} else {
  throw new Error(`unknown command ${command}`);
}
