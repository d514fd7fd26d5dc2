// mergeGraphDiffs: one decoded diff's changes recorded after another's, with
// the rules of the Python module's merge, so that encoding the result gives
// the bytes that PyGraphDiff.merge gives for the same two diffs.
//
// The module's containers list their entries in an order that the history
// decides, which a JavaScript Map does not follow: a removal there moves
// the container's last entry into the hole. So the merge runs on ordered
// tables that do the same, and hands back Maps and arrays in their order.

// Keys in a dense array in listing order, a Map from key to position, and a
// value per key; removal moves the last entry into the hole.
class OrderedTable {
  constructor(entries = []) {
    this.keys = [];
    this.values = [];
    this.positions = new Map();
    for (const [key, value] of entries) {
      this.set(key, value);
    }
  }

  get size() {
    return this.keys.length;
  }

  has(key) {
    return this.positions.has(key);
  }

  get(key) {
    const position = this.positions.get(key);
    return position === undefined ? undefined : this.values[position];
  }

  // A present key keeps its place and takes the value.
  set(key, value) {
    const position = this.positions.get(key);
    if (position === undefined) {
      this.positions.set(key, this.keys.length);
      this.keys.push(key);
      this.values.push(value);
    } else {
      this.values[position] = value;
    }
  }

  // The value of `key`, made by `create()` and appended when absent.
  getOrAdd(key, create) {
    let value = this.get(key);
    if (value === undefined && !this.has(key)) {
      value = create();
      this.set(key, value);
    }
    return value;
  }

  delete(key) {
    const position = this.positions.get(key);
    if (position === undefined) {
      return false;
    }
    const last = this.keys.length - 1;
    if (position !== last) {
      this.keys[position] = this.keys[last];
      this.values[position] = this.values[last];
      this.positions.set(this.keys[position], position);
    }
    this.keys.pop();
    this.values.pop();
    this.positions.delete(key);
    return true;
  }

  *entries() {
    for (let position = 0; position < this.keys.length; position++) {
      yield [this.keys[position], this.values[position]];
    }
  }
}

const targetTable = (targets) => new OrderedTable(Array.from(targets, (target) => [target, true]));

// The diff as the module holds it, with its four editing rules.
class DiffModel {
  constructor(diff) {
    this.nodes = new OrderedTable(Array.from(diff.nodes, ([id, record]) => [id, { ...record }]));
    this.deletedNodes = targetTable(diff.deletedNodes);
    this.edges = new OrderedTable(Array.from(diff.edges, ([source, targets]) => [source, new OrderedTable(targets)]));
    this.deletedEdges = new OrderedTable(
      Array.from(diff.deletedEdges, ([source, targets]) => [source, targetTable(targets)]),
    );
  }

  addNode(id, record) {
    const held = this.nodes.get(id);
    if (held === undefined) {
      this.nodes.set(id, { ...record });
    } else {
      for (const [key, value] of Object.entries(record)) {
        if (value !== undefined) {
          held[key] = value;
        }
      }
    }
    this.deletedNodes.delete(id);
  }

  // The sources pointing at the node gain it as a deleted target in the
  // order the sources are listed once the node's own entry is gone (the
  // last entry then stands in its place); their emptied groups stay.
  deleteNode(id) {
    const sources = this.edges;
    const own = sources.positions.get(id);
    const last = sources.size - 1;
    const pointing = [];
    for (let position = 0; position < sources.size; position++) {
      if (sources.keys[position] !== id && sources.values[position].has(id)) {
        pointing.push(own !== undefined && position === last ? own : position);
      }
    }
    pointing.sort((left, right) => left - right);
    const sourceAt = (place) => sources.keys[own !== undefined && place === own ? last : place];
    const pointingSources = pointing.map(sourceAt);
    this.deletedNodes.set(id, true);
    for (const source of pointingSources) {
      this.deletedEdges.getOrAdd(source, () => new OrderedTable()).set(id, true);
    }
    this.nodes.delete(id);
    for (const source of pointingSources) {
      sources.get(source).delete(id);
    }
    sources.delete(id);
  }

  // Refused, silently, at a node marked deleted.
  addEdge(source, target, weight) {
    if (this.deletedNodes.has(source) || this.deletedNodes.has(target)) {
      return;
    }
    this.edges.getOrAdd(source, () => new OrderedTable()).set(target, weight);
    const deleted = this.deletedEdges.get(source);
    if (deleted !== undefined) {
      deleted.delete(target);
      if (deleted.size === 0) {
        this.deletedEdges.delete(source);
      }
    }
  }

  deleteEdge(source, target) {
    const deleted = this.deletedEdges.getOrAdd(source, () => new OrderedTable());
    if (!deleted.has(target)) {
      deleted.set(target, true);
    }
    const pending = this.edges.get(source);
    if (pending !== undefined) {
      pending.delete(target);
      if (pending.size === 0) {
        this.edges.delete(source);
      }
    }
  }

  toDiff() {
    const keysOf = (table) => table.keys.slice();
    return {
      nodes: new Map(this.nodes.entries()),
      deletedNodes: keysOf(this.deletedNodes),
      edges: new Map(Array.from(this.edges.entries(), ([source, targets]) => [source, new Map(targets.entries())])),
      deletedEdges: new Map(Array.from(this.deletedEdges.entries(), ([source, targets]) => [source, keysOf(targets)])),
    };
  }
}

/**
 * `a` with `b`'s changes recorded after it, as replaying `b` through the
 * module's single methods would: its deleted nodes, its deleted edges, its
 * node records, its edges, each in listing order. A new diff; neither
 * argument changes.
 */
export function mergeGraphDiffs(a, b) {
  const merged = new DiffModel(a);
  for (const id of b.deletedNodes) {
    merged.deleteNode(id);
  }
  for (const [source, targets] of b.deletedEdges) {
    for (const target of targets) {
      merged.deleteEdge(source, target);
    }
  }
  for (const [id, record] of b.nodes) {
    merged.addNode(id, record);
  }
  for (const [source, targets] of b.edges) {
    for (const [target, weight] of targets) {
      merged.addEdge(source, target, weight);
    }
  }
  return merged.toDiff();
}
