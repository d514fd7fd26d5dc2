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
