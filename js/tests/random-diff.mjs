// Random diffs for the property and differential tests: ids from a small
// pool so that containers share ids, texts with escapes and astral
// characters, floats from random bits.

/** A seeded generator of floats in [0, 1). */
export function seededRandom(seed) {
  let state = seed >>> 0;
  return () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const bitsView = new DataView(new ArrayBuffer(4));

export function randomFloat32(random) {
  const choice = random();
  if (choice < 0.5) {
    bitsView.setUint32(0, Math.floor(random() * 4294967296));
    return bitsView.getFloat32(0);
  }
  const specials = [0, -0, 1, 0.1, 1e-45, 3.4028234663852886e38, Infinity, -Infinity, NaN, 1e13, 1e-7, 123456789];
  if (choice < 0.7) {
    return specials[Math.floor(random() * specials.length)];
  }
  return (random() - 0.3) * 10 ** Math.floor(random() * 20 - 8);
}

const PIECES = [
  "a",
  "Z",
  " ",
  '"',
  "\\",
  "/",
  "\n",
  "\t",
  "\u0000",
  "\u001f",
  "\u007f",
  "é",
  "中",
  "😀",
  "\ufeff",
  "\u2028",
  "{",
  "}",
  ",",
  ":",
];

export function randomText(random) {
  let text = "";
  const length = Math.floor(random() * 8);
  for (let index = 0; index < length; index++) {
    text += PIECES[Math.floor(random() * PIECES.length)];
  }
  return text;
}

export function randomId(random, poolSize = 12) {
  const seed = Math.floor(random() * poolSize);
  const bytes = [];
  for (let index = 0; index < 16; index++) {
    bytes.push(((seed * 37 + index * 11) ^ (seed << 3)) & 0xff);
  }
  const hex = bytes.map((byte) => byte.toString(16).padStart(2, "0")).join("");
  return `${hex.slice(0, 8)}-${hex.slice(8, 12)}-${hex.slice(12, 16)}-${hex.slice(16, 20)}-${hex.slice(20)}`;
}

export function randomAttributes(random) {
  const attributes = {};
  if (random() < 0.5) attributes.label = randomText(random);
  if (random() < 0.5) attributes.size = randomFloat32(random);
  if (random() < 0.3) attributes.url = randomText(random);
  for (const key of ["red", "green", "blue"]) {
    if (random() < 0.4) attributes[key] = Math.floor(random() * 256);
  }
  if (random() < 0.4) attributes.showLabel = random() < 0.5;
  return attributes;
}

/** A diff of Maps and arrays with up to `scale` entries per container. */
export function randomDiff(random, scale = 8) {
  const count = () => Math.floor(random() * scale);
  const nodes = new Map();
  for (let index = count(); index > 0; index--) {
    nodes.set(randomId(random), randomAttributes(random));
  }
  const deletedNodes = [];
  for (let index = count(); index > 0; index--) {
    deletedNodes.push(randomId(random));
  }
  const edges = new Map();
  for (let index = count(); index > 0; index--) {
    const targets = new Map();
    for (let target = count(); target > 0; target--) {
      targets.set(randomId(random), randomFloat32(random));
    }
    edges.set(randomId(random), targets);
  }
  const deletedEdges = new Map();
  for (let index = count(); index > 0; index--) {
    const targets = [];
    for (let target = count(); target > 0; target--) {
      targets.push(randomId(random));
    }
    deletedEdges.set(randomId(random), targets);
  }
  return { nodes, deletedNodes, edges, deletedEdges };
}

const textBytes = new TextEncoder();

// The same attributes as a node text the writer would not write: spaces,
// members out of order, a null, an unknown key, or the array form.
function looseNodeText(random, attributes) {
  const keys = ["label", "size", "url", "red", "green", "blue", "showLabel"];
  if (random() < 0.2) {
    return ` [${keys.map((key) => JSON.stringify(attributes[key] ?? null)).join(" , ")}] `;
  }
  const members = Object.entries(attributes).map(([key, value]) => `${JSON.stringify(key)} : ${JSON.stringify(value)}`);
  if (random() < 0.5) members.reverse();
  if (random() < 0.3) members.push('"x":[{"y":null}]');
  return `{ ${members.join(",")} }`;
}

/**
 * A byte string in the byte form written piece by piece, as no encoder
 * would: ids from a pool of `poolSize` so that nodes, sources and targets
 * repeat, empty groups, and node texts from `nodeText(attributes)` (the
 * writer's, by default) or loose ones.
 */
export function randomDiffBytes(random, nodeText, poolSize = 5, scale = 6) {
  const parts = [];
  const count = (value) => {
    const bytes = new Uint8Array(8);
    new DataView(bytes.buffer).setUint32(0, value, true);
    parts.push(bytes);
  };
  const id = () => {
    count(16);
    const text = randomId(random, poolSize).replaceAll("-", "");
    parts.push(Uint8Array.from(text.match(/../g), (pair) => parseInt(pair, 16)));
  };
  const some = () => Math.floor(random() * scale);
  const entries = some();
  count(entries);
  for (let entry = 0; entry < entries; entry++) {
    id();
    const attributes = randomAttributes(random);
    if (attributes.size !== undefined && !Number.isFinite(attributes.size)) delete attributes.size;
    const text = textBytes.encode(random() < 0.25 ? looseNodeText(random, attributes) : nodeText(attributes));
    count(text.length);
    parts.push(text);
  }
  const deleted = some();
  count(deleted);
  for (let entry = 0; entry < deleted; entry++) id();
  for (const weighted of [true, false]) {
    const groups = some();
    count(groups);
    for (let group = 0; group < groups; group++) {
      id();
      const targets = some();
      count(targets);
      for (let target = 0; target < targets; target++) {
        id();
        if (weighted) {
          const weight = new Uint8Array(4);
          new DataView(weight.buffer).setFloat32(0, randomFloat32(random), true);
          parts.push(weight);
        }
      }
    }
  }
  const bytes = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let pos = 0;
  for (const part of parts) {
    bytes.set(part, pos);
    pos += part.length;
  }
  return bytes;
}

// Bytes that change what a node text means rather than only spoil it.
const MUTATION_BYTES = Array.from('{}[],:"\\ 0-.e9nu', (c) => c.charCodeAt(0));

/** `bytes` with a few bytes changed, or cut short. */
export function mutated(random, bytes) {
  const copy = Uint8Array.from(bytes);
  if (random() < 0.3) {
    return copy.subarray(0, Math.floor(random() * copy.length));
  }
  for (let change = 1 + Math.floor(random() * 3); change > 0 && copy.length > 0; change--) {
    const replacement =
      random() < 0.5 ? Math.floor(random() * 256) : MUTATION_BYTES[Math.floor(random() * MUTATION_BYTES.length)];
    copy[Math.floor(random() * copy.length)] = replacement;
  }
  return copy;
}
