// Inputs made to exhaust the decoder: a skipped value nested millions of
// levels deep and a text of millions of escapes must decode in memory in
// line with the input, and the escaped text in time in line with a plain
// one. Each runs in a Node of its own whose heap is capped.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { test } from "node:test";

import { COUNT_SIZE, GROUP_HEADER_SIZE } from "../byte-layout.mjs";

const MODULE = new URL("../graph-diff.mjs", import.meta.url).href;
const LAYOUT = new URL("../byte-layout.mjs", import.meta.url).href;

// The start of a child program: diffOfText(text) is the byte form of one
// node whose node text is the given bytes, textOf(...) joins byte arrays.
const PRELUDE = `
import { decodeGraphDiff } from ${JSON.stringify(MODULE)};
import { COUNT_SIZE, EMPTY_DIFF_SIZE, GROUP_HEADER_SIZE, ID_FIELD_SIZE, ID_LENGTH } from ${JSON.stringify(LAYOUT)};
function diffOfText(text) {
  const bytes = new Uint8Array(EMPTY_DIFF_SIZE + GROUP_HEADER_SIZE + text.length);
  const view = new DataView(bytes.buffer);
  view.setUint32(0, 1, true);
  view.setUint32(COUNT_SIZE, ID_LENGTH, true);
  view.setUint32(COUNT_SIZE + ID_FIELD_SIZE, text.length, true);
  bytes.set(text, COUNT_SIZE + GROUP_HEADER_SIZE);
  return bytes;
}
const ascii = (text) => new TextEncoder().encode(text);
function textOf(...parts) {
  const length = parts.reduce((sum, part) => sum + part.length, 0);
  const text = new Uint8Array(length);
  let at = 0;
  for (const part of parts) {
    text.set(part, at);
    at += part.length;
  }
  return text;
}
const repeated = (byte, count) => new Uint8Array(count).fill(byte);
`;

// Runs `body` after the prelude in a Node with at most `megabytes` of heap;
// returns what it prints. The input lives outside the heap, in an ArrayBuffer.
function runWithHeap(megabytes, body) {
  return execFileSync(
    process.execPath,
    [`--max-old-space-size=${megabytes}`, "--input-type=module", "-e", PRELUDE + body],
    { encoding: "utf8", stdio: ["ignore", "pipe", "pipe"] },
  ).trim();
}

test("an unknown value nested ten million levels deep is skipped in little memory", () => {
  // 20 MB of brackets; a frame or an array slot per level would not fit.
  const depth = 10_000_000;
  const printed = runWithHeap(
    32,
    `
    const depth = ${depth};
    const text = textOf(ascii('{"x":[{"k":'), repeated(0x5b, depth), repeated(0x5d, depth), ascii('}],"red":1}'));
    console.log(JSON.stringify([...decodeGraphDiff(diffOfText(text)).nodes.values()]));
    try {
      decodeGraphDiff(diffOfText(textOf(ascii('{"x":'), repeated(0x5b, depth), repeated(0x5d, depth - 1), ascii("}"))));
    } catch (error) {
      console.log(error.kind, error.offset);
    }
    `,
  );
  // The refusal is at the '}' where the outermost ']' is due.
  const textStart = COUNT_SIZE + GROUP_HEADER_SIZE;
  assert.equal(printed, `[{"red":1}]\ninvalid-node-text ${textStart + '{"x":'.length + 2 * depth - 1}`);
});

test("a label of four million escapes decodes in memory and time in line with its length", () => {
  // 16 MB of "\\n" and "\\u00e9" escapes, 4 MB of text; a string piece per
  // escape would need many times that. The time is compared with a plain
  // label of as many bytes.
  const escapes = 4_000_000;
  const printed = runWithHeap(
    48,
    `
    const escapes = ${escapes};
    const pair = ascii("\\\\n\\\\u00e9");
    const middle = new Uint8Array(escapes * pair.length / 2);
    for (let at = 0; at < middle.length; at += pair.length) middle.set(pair, at);
    const escaped = diffOfText(textOf(ascii('{"label":"'), middle, ascii('"}')));
    const plain = diffOfText(textOf(ascii('{"label":"'), repeated(0x61, middle.length), ascii('"}')));
    const labelOf = (bytes) => decodeGraphDiff(bytes).nodes.values().next().value.label;
    const timeOf = (bytes) => {
      const started = process.hrtime.bigint();
      labelOf(bytes).charCodeAt(0);
      return Number(process.hrtime.bigint() - started);
    };
    const label = labelOf(escaped);
    console.log(label.length, label.slice(0, 4) === "\\né\\né", label.endsWith("\\né"));
    const ratio = Math.min(timeOf(escaped), timeOf(escaped)) / Math.min(timeOf(plain), timeOf(plain));
    console.log(ratio < 8 ? "in line" : \`\${ratio.toFixed(1)}x the time of a plain label\`);
    `,
  );
  assert.equal(printed, `${escapes} true true\nin line`);
});

test("past the first levels, a closing bracket must still match its opening one", async () => {
  const { readNodeText } = await import("../node-text-reader.mjs");
  const encoder = new TextEncoder();
  const pairs = 50_000; // 100,000 levels, objects and arrays in turn
  const read = (text) => {
    const bytes = encoder.encode(text);
    return readNodeText(bytes, 0, bytes.length);
  };
  const opened = `{"x":${'[{"k":'.repeat(pairs)}1`;
  assert.deepEqual(read(`${opened}${"}]".repeat(pairs)},"red":1}`), { red: 1 });
  for (const swapped of [0, 1, 20_000, pairs - 1]) {
    // The pair `swapped` places from the innermost closes in the wrong order.
    const closers = `${"}]".repeat(swapped)}]}${"}]".repeat(pairs - swapped - 1)}}`;
    assert.throws(() => read(opened + closers), { offset: opened.length + 2 * swapped }, String(swapped));
  }
});
