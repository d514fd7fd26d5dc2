// The decoder of the byte form of a graph diff into typed-array columns over
// node indices, for renderers that draw from typed arrays. It reads through
// the same cursor as decodeGraphDiff, so it accepts and refuses exactly the
// same byte strings, and holds the same content: the same entries in the
// same order, a repeated key in its first place with its later value.
//
// Every id is interned once into an index; node rows come first, so the
// node of row r has index r. Memory stays in proportion to the input: 12
// bytes per edge, 16 per distinct id, nothing per id text until asked for.

import { COUNT_SIZE, GROUP_HEADER_SIZE, ID_FIELD_SIZE, TARGET_ENTRY_SIZE, WEIGHT_SIZE } from "./byte-layout.mjs";
import { asBytes, ByteReader, readNodeTextOf } from "./byte-reader.mjs";
import { IdTable, idText } from "./id-table.mjs";
import { scanCompactNodeText, scanned } from "./node-text-compact.mjs";
import { BLUE, GREEN, LABEL, NODE_FIELDS, RED, SHOW_LABEL, SIZE, URL } from "./node-text-fields.mjs";

// How each kind of field is held: its column type and the value that marks
// a row without it.
const COLUMN_OF_KIND = {
  text: { make: (length) => new Array(length).fill(undefined), absent: undefined },
  size: { make: (length) => new Float32Array(length).fill(NaN), absent: NaN },
  colour: { make: (length) => new Int16Array(length).fill(-1), absent: -1 },
  flag: { make: (length) => new Int8Array(length).fill(-1), absent: -1 },
};
const FIELD_COLUMNS = NODE_FIELDS.map(({ kind }) => COLUMN_OF_KIND[kind]);
const fieldsOfKind = (wanted) => NODE_FIELDS.flatMap(({ kind }, field) => (kind === wanted ? [field] : []));
const TEXT_FIELDS = fieldsOfKind("text");
const NUMBER_FIELDS = [...fieldsOfKind("size"), ...fieldsOfKind("colour")];
const FLAG_FIELDS = fieldsOfKind("flag");

// One loop per kind of column, so that each store sees one type of array.
function storeRow(columns, row, fieldValues) {
  for (const field of TEXT_FIELDS) {
    columns[field][row] = fieldValues[field];
  }
  for (const field of NUMBER_FIELDS) {
    columns[field][row] = fieldValues[field] ?? FIELD_COLUMNS[field].absent;
  }
  for (const field of FLAG_FIELDS) {
    const value = fieldValues[field];
    columns[field][row] = value === undefined ? -1 : value ? 1 : 0;
  }
}

// The row of the text the compact reader took, straight into the columns
// (which are in field order, as the compact reader's record).
function storeScanned(columns, row) {
  const { present } = scanned;
  columns[0][row] = (present & LABEL) !== 0 ? scanned.label : undefined;
  columns[1][row] = (present & SIZE) !== 0 ? scanned.size : NaN;
  columns[2][row] = (present & URL) !== 0 ? scanned.url : undefined;
  columns[3][row] = (present & RED) !== 0 ? scanned.red : -1;
  columns[4][row] = (present & GREEN) !== 0 ? scanned.green : -1;
  columns[5][row] = (present & BLUE) !== 0 ? scanned.blue : -1;
  columns[6][row] = (present & SHOW_LABEL) === 0 ? -1 : scanned.showLabel ? 1 : 0;
}

// The first `length` entries of a column; copied when the column is much
// longer, so that a result never holds far more memory than it shows.
function trimmed(column, length) {
  if (Array.isArray(column)) {
    column.length = length;
    return column;
  }
  return length >= column.length - (column.length >> 3) ? column.subarray(0, length) : column.slice(0, length);
}

const DELETED = 1;
const SOURCE = 1;
const DELETED_SOURCE = 2;

// Groups of edges as they are read, before repeats are resolved. A source
// that comes again replaces its earlier group's targets but keeps its
// place; the rows of the replaced group stay where they are until `resolve`
// drops them.
class Groups {
  constructor(capacity, rowCapacity, weighted) {
    this.count = 0;
    this.sources = new Uint32Array(capacity);
    this.ends = new Uint32Array(capacity);
    this.rows = 0;
    this.source = new Uint32Array(rowCapacity);
    this.target = new Uint32Array(rowCapacity);
    this.weight = weighted ? new Float32Array(rowCapacity) : null;
    // Set at the first repeated source: source index -> first group, and
    // first group -> the group that holds its targets now.
    this.firstGroup = null;
    this.latest = null;
  }

  // Groups for a section of `groupCount` groups at the cursor, whose rows
  // take `rowSize` bytes each.
  static at(reader, groupCount, rowSize, weighted) {
    const remaining = reader.end - reader.pos;
    return new Groups(
      Math.min(groupCount, Math.floor(remaining / GROUP_HEADER_SIZE)),
      Math.floor(remaining / rowSize),
      weighted,
    );
  }

  // Reads a source id and opens its group; `bit` marks in the table's flags
  // the sources this section has met.
  openSource(table, reader, what, bit) {
    const source = table.intern(reader.id(what));
    this.open(source, (table.flags[source] & bit) !== 0);
    table.flags[source] |= bit;
    return source;
  }

  // Opens the group of `source`; `repeated` when the source had one before.
  open(source, repeated) {
    const group = this.count++;
    if (repeated || this.firstGroup !== null) {
      if (this.firstGroup === null) {
        this.firstGroup = new Map();
        this.latest = new Map();
        for (let earlier = 0; earlier < group; earlier++) {
          this.firstGroup.set(this.sources[earlier], earlier);
        }
      }
      const first = this.firstGroup.get(source);
      if (first === undefined) {
        this.firstGroup.set(source, group);
      } else {
        this.latest.set(first, group);
      }
    }
    this.sources[group] = source;
  }

  close() {
    this.ends[this.count - 1] = this.rows;
  }

  // The columns with every source once, in its first place, with the
  // targets of its last group.
  resolve() {
    let { sources, ends, source, target, weight } = this;
    let groupCount = this.count;
    let rowCount = this.rows;
    if (this.firstGroup !== null) {
      const kept = [...this.firstGroup.values()].sort((a, b) => a - b);
      const newSources = new Uint32Array(kept.length);
      const newEnds = new Uint32Array(kept.length);
      const newSource = new Uint32Array(rowCount);
      const newTarget = new Uint32Array(rowCount);
      const newWeight = weight === null ? null : new Float32Array(rowCount);
      let rows = 0;
      kept.forEach((group, index) => {
        const from = this.latest.get(group) ?? group;
        const start = from === 0 ? 0 : ends[from - 1];
        newSource.set(source.subarray(start, ends[from]), rows);
        newTarget.set(target.subarray(start, ends[from]), rows);
        newWeight?.set(weight.subarray(start, ends[from]), rows);
        rows += ends[from] - start;
        newSources[index] = sources[group];
        newEnds[index] = rows;
      });
      [sources, ends, source, target, weight] = [newSources, newEnds, newSource, newTarget, newWeight];
      groupCount = kept.length;
      rowCount = rows;
    }
    const columns = {
      source: trimmed(source, rowCount),
      target: trimmed(target, rowCount),
      groupSources: trimmed(sources, groupCount),
      groupEnds: trimmed(ends, groupCount),
    };
    if (weight !== null) columns.weight = trimmed(weight, rowCount);
    return columns;
  }
}

/**
 * Decodes the byte form of a graph diff into columns over node indices.
 * Accepts and refuses exactly what decodeGraphDiff does. Throws
 * GraphDiffDecodeError.
 */
export function decodeGraphDiffColumns(input) {
  const bytes = asBytes(input, "decodeGraphDiffColumns");
  const reader = new ByteReader(bytes);
  const view = reader.view;
  const end = reader.end;

  // Each node entry takes an id field and a text length at least.
  const nodeCount = reader.count("the node count");
  const nodeCapacity = Math.min(nodeCount, Math.floor((end - reader.pos) / GROUP_HEADER_SIZE));
  const table = new IdTable(bytes, nodeCapacity);
  const columns = FIELD_COLUMNS.map((column) => column.make(nodeCapacity));
  // Rows whose last text waits for the general reader: row -> [start, end].
  const pending = new Map();
  for (let entry = 0; entry < nodeCount; entry++) {
    const row = table.intern(reader.id("a node id"));
    const start = reader.text("a node text");
    if (scanCompactNodeText(bytes, view, start, reader.pos)) {
      storeScanned(columns, row);
      if (pending.size > 0) pending.delete(row);
    } else {
      reader.checkUtf8(start, reader.pos, "a node text");
      pending.set(row, [start, reader.pos]);
    }
  }
  const rowCount = table.count;

  const deletedCount = reader.count("the deleted-node count");
  const deletedNodes = new Uint32Array(Math.min(deletedCount, Math.floor((end - reader.pos) / ID_FIELD_SIZE)));
  let deletedLength = 0;
  for (let entry = 0; entry < deletedCount; entry++) {
    const index = table.intern(reader.id("a deleted node id"));
    if (table.marks[index] !== DELETED) {
      table.marks[index] = DELETED;
      deletedNodes[deletedLength++] = index;
    }
  }

  // Each group is stamped on its targets' marks, so that a target repeated
  // within it is found at once; `places` then says which row it has.
  let stamp = DELETED;
  const sourceCount = reader.count("the edge source count");
  const edges = Groups.at(reader, sourceCount, TARGET_ENTRY_SIZE, true);
  for (let entry = 0; entry < sourceCount; entry++) {
    const source = edges.openSource(table, reader, "an edge source id", SOURCE);
    const targetCount = reader.count("an edge target count");
    const groupStart = edges.rows;
    stamp++;
    let p = reader.pos;
    for (let index = 0; index < targetCount; index++) {
      let target;
      let weight;
      if (end - p >= TARGET_ENTRY_SIZE && reader.idFieldAt(p)) {
        target = table.intern(p + COUNT_SIZE);
        weight = view.getFloat32(p + ID_FIELD_SIZE, true);
        p += TARGET_ENTRY_SIZE;
      } else {
        reader.pos = p;
        target = table.intern(reader.id("an edge target id"));
        if (end - reader.pos < WEIGHT_SIZE) {
          reader.prematureEnd(WEIGHT_SIZE, "an edge weight");
        }
        weight = view.getFloat32(reader.pos, true);
        p = reader.pos + WEIGHT_SIZE;
      }
      const marks = table.marks;
      if (marks[target] === stamp) {
        if (table.places === null) {
          table.keepPlaces();
          for (let row = groupStart; row < edges.rows; row++) table.places[edges.target[row]] = row;
        }
        edges.weight[table.places[target]] = weight;
        continue;
      }
      marks[target] = stamp;
      if (table.places !== null) table.places[target] = edges.rows;
      const row = edges.rows++;
      edges.source[row] = source;
      edges.target[row] = target;
      edges.weight[row] = weight;
    }
    reader.pos = p;
    edges.close();
  }

  const deletedSourceCount = reader.count("the deleted-edge source count");
  const deletedEdges = Groups.at(reader, deletedSourceCount, ID_FIELD_SIZE, false);
  for (let entry = 0; entry < deletedSourceCount; entry++) {
    const source = deletedEdges.openSource(table, reader, "a deleted-edge source id", DELETED_SOURCE);
    const targetCount = reader.count("a deleted-edge target count");
    stamp++;
    for (let index = 0; index < targetCount; index++) {
      const target = table.intern(reader.id("a deleted-edge target id"));
      if (table.marks[target] !== stamp) {
        table.marks[target] = stamp;
        const row = deletedEdges.rows++;
        deletedEdges.source[row] = source;
        deletedEdges.target[row] = target;
      }
    }
    deletedEdges.close();
  }

  if (pending.size > 0) {
    for (const row of [...pending.keys()].sort((a, b) => a - b)) {
      const [start, stop] = pending.get(row);
      const attributes = readNodeTextOf(bytes, start, stop, table.text(row));
      storeRow(
        columns,
        row,
        NODE_FIELDS.map(({ key }) => attributes[key]),
      );
    }
  }
  const nodes = { nodeIndex: new Uint32Array(rowCount) };
  for (let row = 0; row < rowCount; row++) nodes.nodeIndex[row] = row;
  NODE_FIELDS.forEach(({ key }, field) => {
    nodes[key] = trimmed(columns[field], rowCount);
  });
  const ids = table.bytes();
  const idCount = table.count;
  return {
    ids,
    idCount,
    idText: (index) => {
      if (!(Number.isInteger(index) && index >= 0 && index < idCount)) {
        throw new RangeError(`no id has index ${index}`);
      }
      return idText(ids, index * 16);
    },
    nodes,
    deletedNodes: trimmed(deletedNodes, deletedLength),
    edges: edges.resolve(),
    deletedEdges: deletedEdges.resolve(),
  };
}
