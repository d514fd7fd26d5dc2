// Ids of one input interned into indices, and the text of an id.
//
// Each distinct 16-byte id gets the next index, in the order first met.
// The hash is keyed with a per-process random seed, so that ids crafted to
// collide cannot make interning quadratic.

// Lower-case hex digits as char codes, indexed by a byte: its high digit and
// its low digit, so an id text is one call over table lookups.
const HIGH_DIGIT = new Uint8Array(256);
const LOW_DIGIT = new Uint8Array(256);
for (let byte = 0; byte < 256; byte++) {
  HIGH_DIGIT[byte] = "0123456789abcdef".charCodeAt(byte >> 4);
  LOW_DIGIT[byte] = "0123456789abcdef".charCodeAt(byte & 15);
}

/** The 36-character text of the 16 id bytes at `p`. */
export function idText(b, p) {
  const h = HIGH_DIGIT;
  const l = LOW_DIGIT;
  // One call with every code unit makes a flat string at once; joining
  // pieces would make a rope that each later hash or compare flattens.
  // prettier-ignore
  return String.fromCharCode(
    h[b[p]], l[b[p]], h[b[p + 1]], l[b[p + 1]], h[b[p + 2]], l[b[p + 2]], h[b[p + 3]], l[b[p + 3]], 45,
    h[b[p + 4]], l[b[p + 4]], h[b[p + 5]], l[b[p + 5]], 45,
    h[b[p + 6]], l[b[p + 6]], h[b[p + 7]], l[b[p + 7]], 45,
    h[b[p + 8]], l[b[p + 8]], h[b[p + 9]], l[b[p + 9]], 45,
    h[b[p + 10]], l[b[p + 10]], h[b[p + 11]], l[b[p + 11]], h[b[p + 12]], l[b[p + 12]],
    h[b[p + 13]], l[b[p + 13]], h[b[p + 14]], l[b[p + 14]], h[b[p + 15]], l[b[p + 15]],
  );
}

function randomSeed() {
  const seed = new Int32Array(2);
  if (typeof globalThis.crypto?.getRandomValues === "function") {
    globalThis.crypto.getRandomValues(seed);
  } else {
    seed[0] = Math.random() * 4294967296;
    seed[1] = Math.random() * 4294967296;
  }
  return seed;
}
const [SEED_LOW, SEED_HIGH] = randomSeed();

const MINIMUM_SLOTS = 64;

function hashOf(w0, w1, w2, w3) {
  let h = Math.imul(w0 ^ SEED_LOW, 0x9e3779b1);
  h = Math.imul(h ^ (h >>> 15) ^ w1, 0x85ebca77);
  h = Math.imul(h ^ (h >>> 13) ^ w2, 0xc2b2ae3d);
  h = Math.imul(h ^ (h >>> 16) ^ w3 ^ SEED_HIGH, 0x27d4eb2f);
  return h ^ (h >>> 15);
}

/**
 * Distinct ids of one input, each with an index, held as their bytes; with
 * room for what a reader notes per id (`marks`, `flags`, and `places` once
 * asked for), grown with the table.
 */
export class IdTable {
  /**
   * @param {Uint8Array} bytes the input the ids are read from
   * @param {number} expected how many ids to make room for at once
   */
  constructor(bytes, expected = 0) {
    this.inputView = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    this.count = 0;
    this.capacity = MINIMUM_SLOTS / 2;
    while (this.capacity < expected) this.capacity *= 2;
    this.ids = new Uint8Array(16 * this.capacity);
    this.idsView = new DataView(this.ids.buffer);
    // Index + 1 of the id in each slot, 0 for an empty slot; at most half
    // full, so a probe ends soon.
    this.slots = new Int32Array(2 * this.capacity);
    this.marks = new Int32Array(this.capacity);
    this.flags = new Uint8Array(this.capacity);
    this.places = null;
  }

  /** The index of the 16 id bytes at `p` of the input, given one if new. */
  intern(p) {
    const view = this.inputView;
    const w0 = view.getInt32(p, true);
    const w1 = view.getInt32(p + 4, true);
    const w2 = view.getInt32(p + 8, true);
    const w3 = view.getInt32(p + 12, true);
    const h = hashOf(w0, w1, w2, w3);
    const slots = this.slots;
    const mask = slots.length - 1;
    const ids = this.idsView;
    for (let slot = h & mask; ; slot = (slot + 1) & mask) {
      const entry = slots[slot];
      if (entry === 0) {
        return this.add(h, w0, w1, w2, w3);
      }
      const k = (entry - 1) << 4;
      if (
        ids.getInt32(k, true) === w0 &&
        ids.getInt32(k + 4, true) === w1 &&
        ids.getInt32(k + 8, true) === w2 &&
        ids.getInt32(k + 12, true) === w3
      ) {
        return entry - 1;
      }
    }
  }

  add(h, w0, w1, w2, w3) {
    const index = this.count;
    if (index === this.capacity) {
      this.grow();
    }
    const slots = this.slots;
    const mask = slots.length - 1;
    let slot = h & mask;
    while (slots[slot] !== 0) slot = (slot + 1) & mask;
    slots[slot] = index + 1;
    const k = index << 4;
    const ids = this.idsView;
    ids.setInt32(k, w0, true);
    ids.setInt32(k + 4, w1, true);
    ids.setInt32(k + 8, w2, true);
    ids.setInt32(k + 12, w3, true);
    this.count = index + 1;
    return index;
  }

  grow() {
    const capacity = this.capacity * 2;
    this.capacity = capacity;
    const ids = new Uint8Array(16 * capacity);
    ids.set(this.ids);
    this.ids = ids;
    const view = new DataView(ids.buffer);
    this.idsView = view;
    const slots = new Int32Array(capacity * 2);
    const mask = slots.length - 1;
    for (let index = 0; index < this.count; index++) {
      const k = index << 4;
      const h = hashOf(
        view.getInt32(k, true),
        view.getInt32(k + 4, true),
        view.getInt32(k + 8, true),
        view.getInt32(k + 12, true),
      );
      let slot = h & mask;
      while (slots[slot] !== 0) slot = (slot + 1) & mask;
      slots[slot] = index + 1;
    }
    this.slots = slots;
    this.marks = widened(this.marks, capacity);
    this.flags = widened(this.flags, capacity);
    if (this.places !== null) this.places = widened(this.places, capacity);
  }

  /** Gives every id a `places` entry from now on. */
  keepPlaces() {
    this.places ??= new Int32Array(this.capacity);
  }

  /** The text of the id of `index`. */
  text(index) {
    return idText(this.ids, index << 4);
  }

  /** The ids' bytes, 16 per index, in a buffer of their own size. */
  bytes() {
    return this.ids.slice(0, this.count << 4);
  }
}

function widened(array, length) {
  const wider = new array.constructor(length);
  wider.set(array);
  return wider;
}
