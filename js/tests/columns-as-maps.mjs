// What decodeGraphDiffColumns gives, turned back into decodeGraphDiff's
// containers, for the tests that compare the two.
import { NODE_FIELDS } from "../node-text-fields.mjs";

// The columns turned back into decodeGraphDiff's containers.
export function columnsAsMaps(columns) {
  const { idText, nodes: n, edges: e, deletedEdges: d } = columns;
  const nodes = new Map();
  for (let row = 0; row < n.nodeIndex.length; row++) {
    const attributes = {};
    for (const { key, kind } of NODE_FIELDS) {
      const value = n[key][row];
      if (kind === "text" ? value !== undefined : kind === "size" ? !Number.isNaN(value) : value !== -1) {
        attributes[key] = kind === "flag" ? value === 1 : value;
      }
    }
    nodes.set(idText(n.nodeIndex[row]), attributes);
  }
  const grouped = ({ groupSources, groupEnds, target }, valueOf) =>
    new Map(
      Array.from(groupSources, (source, group) => {
        const rows = Array.from(
          { length: groupEnds[group] - (group && groupEnds[group - 1]) },
          (_, i) => i + (group && groupEnds[group - 1]),
        );
        return [idText(source), valueOf(rows.map((row) => [idText(target[row]), row]))];
      }),
    );
  return {
    nodes,
    deletedNodes: Array.from(columns.deletedNodes, idText),
    edges: grouped(e, (targets) => new Map(targets.map(([target, row]) => [target, e.weight[row]]))),
    deletedEdges: grouped(d, (targets) => targets.map(([target]) => target)),
  };
}
