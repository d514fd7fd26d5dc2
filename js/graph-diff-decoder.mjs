// The decoder of the byte form of a graph diff into Maps keyed by id texts.
// Node texts are parsed only after all four sections have been read, so a
// cut-off input always fails as cut off, whatever its texts hold; texts in
// the writer's layout are read at once by the compact reader, which refuses
// nothing, and the others wait for the general reader at the end.

import { COUNT_SIZE, ID_FIELD_SIZE, ID_LENGTH, TARGET_ENTRY_SIZE, WEIGHT_SIZE } from "./byte-layout.mjs";
import { asBytes, ByteReader, readNodeTextOf } from "./byte-reader.mjs";
import { idText } from "./id-table.mjs";
import { scanCompactNodeText, scannedAttributes } from "./node-text-compact.mjs";

// A node text left for the general reader.
class PendingText {
  constructor(start, end) {
    this.start = start;
    this.end = end;
  }
}

/**
 * Decodes the byte form of a graph diff. Every container lists its entries
 * in the order of the bytes; a repeated key keeps its first place and takes
 * the later value. Throws GraphDiffDecodeError.
 */
export function decodeGraphDiff(input) {
  const bytes = asBytes(input, "decodeGraphDiff");
  const reader = new ByteReader(bytes);
  const view = reader.view;
  const end = reader.end;
  // Each place an id occurs gets a string of its own: made and hashed while
  // its bytes are in the cache, it costs less than looking up a shared one,
  // which lies cold wherever it was first made. Slices of one text of many
  // ids cost no less (the collector copies as many objects), and any slice
  // a caller keeps would keep the whole text.
  const textOf = (p) => idText(bytes, p);

  const nodes = new Map();
  let pending = false;
  const nodeCount = reader.count("the node count");
  for (let entry = 0; entry < nodeCount; entry++) {
    const id = textOf(reader.id("a node id"));
    const start = reader.text("a node text");
    if (scanCompactNodeText(bytes, view, start, reader.pos)) {
      nodes.set(id, scannedAttributes());
    } else {
      reader.checkUtf8(start, reader.pos, "a node text");
      nodes.set(id, new PendingText(start, reader.pos));
      pending = true;
    }
  }

  const deletedIds = new Set();
  const deletedCount = reader.count("the deleted-node count");
  for (let entry = 0; entry < deletedCount; entry++) {
    deletedIds.add(textOf(reader.id("a deleted node id")));
  }

  const edges = new Map();
  const sourceCount = reader.count("the edge source count");
  for (let entry = 0; entry < sourceCount; entry++) {
    const source = textOf(reader.id("an edge source id"));
    const targetCount = reader.count("an edge target count");
    const targets = new Map();
    // The bulk of a large diff: a whole target entry under one bounds
    // check, read straight from the bytes.
    let p = reader.pos;
    // Where the whole group is there, only each id's length is checked.
    const wholeGroup = targetCount <= (end - p) / TARGET_ENTRY_SIZE;
    for (let index = 0; index < targetCount; index++) {
      if (
        wholeGroup
          ? view.getUint32(p, true) === ID_LENGTH && view.getUint32(p + 4, true) === 0
          : end - p >= TARGET_ENTRY_SIZE && reader.idFieldAt(p)
      ) {
        targets.set(idText(bytes, p + COUNT_SIZE), view.getFloat32(p + ID_FIELD_SIZE, true));
        p += TARGET_ENTRY_SIZE;
        continue;
      }
      reader.pos = p;
      const target = textOf(reader.id("an edge target id"));
      if (end - reader.pos < WEIGHT_SIZE) {
        reader.prematureEnd(WEIGHT_SIZE, "an edge weight");
      }
      targets.set(target, view.getFloat32(reader.pos, true));
      p = reader.pos + WEIGHT_SIZE;
    }
    reader.pos = p;
    edges.set(source, targets);
  }

  const deletedEdges = new Map();
  const deletedSourceCount = reader.count("the deleted-edge source count");
  for (let entry = 0; entry < deletedSourceCount; entry++) {
    const source = textOf(reader.id("a deleted-edge source id"));
    const targetCount = reader.count("a deleted-edge target count");
    const targets = new Set();
    for (let index = 0; index < targetCount; index++) {
      targets.add(textOf(reader.id("a deleted-edge target id")));
    }
    deletedEdges.set(source, Array.from(targets));
  }

  if (pending) {
    for (const [id, text] of nodes) {
      if (text instanceof PendingText) {
        nodes.set(id, readNodeTextOf(bytes, text.start, text.end, id));
      }
    }
  }
  return { nodes, deletedNodes: Array.from(deletedIds), edges, deletedEdges };
}
