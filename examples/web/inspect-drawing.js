// The inspector's picture of a diff: every node placed on a spiral, edges
// as arrows, deleted nodes crossed out. A classic script, as inspect.js is;
// it defines InspectDrawing, which inspect.js uses.
"use strict";

const InspectDrawing = (() => {
  // Past this many edges of a kind a picture shows nothing more: the rest
  // are left out of the drawing, and the legend says so.
  const EDGE_DRAW_LIMIT = 50000;
  // Arrows per path: a path of many thousand dashed or overlapping pieces
  // costs the rasterizer far more than its share.
  const ARROWS_PER_PATH = 1000;
  // Labels on the canvas are cut to this many UTF-16 code units.
  const LABEL_LIMIT = 40;
  const BACKGROUND = "#ffffff";

  function colourOf(attributes) {
    const { red, green, blue } = attributes;
    if (red === undefined && green === undefined && blue === undefined) return null;
    return `rgb(${red ?? 0}, ${green ?? 0}, ${blue ?? 0})`;
  }

  function* edgeRows(edges, withWeights) {
    for (const [source, targets] of edges) {
      if (withWeights) {
        for (const [target, weight] of targets) yield [source, target, weight];
      } else {
        for (const target of targets) yield [source, target];
      }
    }
  }

  // ------------------------------------------------------------ layout

  // Every id the diff names, placed on a sunflower spiral: the most
  // connected nearest the centre, ties in the order the diff lists them.
  // Positions are in [-1, 1]; the same diff always gets the same picture.
  function layOut(diff) {
    const order = new Map(); // id -> degree, in order of first mention
    const mention = (id, weight) => order.set(id, (order.get(id) ?? 0) + weight);
    for (const id of diff.nodes.keys()) mention(id, 0);
    for (const id of diff.deletedNodes) mention(id, 0);
    for (const [source, targets] of diff.edges) {
      mention(source, targets.size);
      for (const target of targets.keys()) mention(target, 1);
    }
    for (const [source, targets] of diff.deletedEdges) {
      mention(source, targets.length);
      for (const target of targets) mention(target, 1);
    }
    const ids = [...order.keys()];
    const ranked = ids.map((id, index) => [id, order.get(id), index]);
    ranked.sort((a, b) => b[1] - a[1] || a[2] - b[2]);
    const golden = Math.PI * (3 - Math.sqrt(5));
    const scale = 1 / Math.sqrt(Math.max(ranked.length, 1));
    const positions = new Map();
    ranked.forEach(([id], index) => {
      const radius = Math.sqrt(index + 0.5) * scale;
      positions.set(id, [radius * Math.cos(index * golden), radius * Math.sin(index * golden)]);
    });
    return { positions, count: ranked.length };
  }

  // ------------------------------------------------------------ drawing

  // Draws `shown` ({ diff, layout }, or null for an empty canvas) on
  // `canvas`. Returns where each node went and its radius, and the legend's
  // note on edges left out.
  function draw(canvas, shown) {
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth;
    const height = canvas.clientHeight;
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    const context = canvas.getContext("2d");
    context.setTransform(ratio, 0, 0, ratio, 0, 0);
    context.fillStyle = BACKGROUND;
    context.fillRect(0, 0, width, height);
    if (!shown) return { at: new Map(), radius: new Map(), limitNote: "" };
    const { diff, layout } = shown;

    // The spiral stretched to the canvas; `spacing` is about the distance
    // between neighbouring nodes.
    const margin = 28;
    const halfWidth = width / 2 - margin;
    const halfHeight = height / 2 - margin;
    const spacing = (2 * Math.sqrt(halfWidth * halfHeight)) / Math.sqrt(Math.max(layout.count, 1));
    const at = new Map();
    for (const [id, [x, y]] of layout.positions) {
      at.set(id, [width / 2 + x * halfWidth, height / 2 + y * halfHeight]);
    }

    let largestSize = 1e-30;
    for (const { size } of diff.nodes.values()) {
      if (Number.isFinite(size) && size > largestSize) largestSize = size;
    }
    const cap = Math.max(1.5, spacing * 0.3);
    const radius = new Map();
    for (const id of at.keys()) {
      const attributes = diff.nodes.get(id);
      const size = attributes?.size;
      const r = Number.isFinite(size) && size > 0 ? 3 + 12 * Math.sqrt(size / largestSize) : attributes ? 4 : 2.5;
      radius.set(id, Math.min(r, cap));
    }

    let largestWeight = 0;
    for (const targets of diff.edges.values()) {
      for (const weight of targets.values()) {
        if (Number.isFinite(weight)) largestWeight = Math.max(largestWeight, Math.abs(weight));
      }
    }
    const widthOf = (weight) =>
      Number.isFinite(weight) && largestWeight > 0 ? 0.6 + 4.4 * (Math.abs(weight) / largestWeight) : 0.6;

    // Edges in a few stroke widths, a few paths per width, so that
    // thousands of edges cost a handful of draw calls; of each kind, the
    // first EDGE_DRAW_LIMIT.
    const buckets = new Map();
    let drawnEdges = 0;
    for (const [source, target, weight] of edgeRows(diff.edges, true)) {
      if (drawnEdges++ >= EDGE_DRAW_LIMIT) break;
      const key = Math.round(widthOf(weight) * 2) / 2;
      if (!buckets.has(key)) buckets.set(key, []);
      buckets.get(key).push(source, target);
    }
    const deleted = [];
    for (const [source, target] of edgeRows(diff.deletedEdges, false)) {
      if (deleted.length === 2 * EDGE_DRAW_LIMIT) break;
      deleted.push(source, target);
    }
    const edgeCount = [...diff.edges.values()].reduce((sum, targets) => sum + targets.size, 0);
    const deletedCount = [...diff.deletedEdges.values()].reduce((sum, targets) => sum + targets.length, 0);
    const drawnNote = (drawn, all, what) => (drawn < all ? ` Drawn: the first ${drawn} of ${all} ${what}.` : "");
    const limitNote =
      drawnNote(Math.min(edgeCount, EDGE_DRAW_LIMIT), edgeCount, "new or updated edges") +
      drawnNote(deleted.length / 2, deletedCount, "deleted edges");
    for (const [lineWidth, ends] of buckets) {
      drawArrows(context, ends, at, radius, lineWidth, "rgba(38, 84, 160, 0.55)", []);
    }
    drawArrows(context, deleted, at, radius, 1.2, "rgba(200, 50, 50, 0.8)", [5, 4]);

    // Nodes: filled in their colour; nodes only named by edges hollow.
    context.lineWidth = 1;
    for (const [id, [x, y]] of at) {
      const attributes = diff.nodes.get(id);
      context.beginPath();
      context.arc(x, y, radius.get(id), 0, 2 * Math.PI);
      if (attributes) {
        context.fillStyle = colourOf(attributes) ?? "#9aa5b1";
        context.fill();
        context.strokeStyle = "#1d2329";
      } else {
        context.fillStyle = BACKGROUND;
        context.fill();
        context.strokeStyle = "#7a848e";
      }
      context.stroke();
    }
    context.strokeStyle = "#c62828";
    context.lineWidth = 2;
    context.beginPath();
    for (const id of diff.deletedNodes) {
      const [x, y] = at.get(id);
      const r = radius.get(id) + 2;
      context.moveTo(x - r, y - r);
      context.lineTo(x + r, y + r);
      context.moveTo(x + r, y - r);
      context.lineTo(x - r, y + r);
    }
    context.stroke();

    context.font = "11px system-ui, sans-serif";
    context.fillStyle = "#1d2329";
    context.textBaseline = "middle";
    for (const [id, attributes] of diff.nodes) {
      if (attributes.showLabel && attributes.label) {
        const [x, y] = at.get(id);
        context.fillText(shortened(attributes.label), x + radius.get(id) + 3, y);
      }
    }
    return { at, radius, limitNote };
  }

  // A label cut to LABEL_LIMIT code units with an ellipsis, never between
  // the two halves of a surrogate pair.
  function shortened(label) {
    if (label.length <= LABEL_LIMIT) return label;
    let end = LABEL_LIMIT - 1;
    const last = label.charCodeAt(end - 1);
    if (last >= 0xd800 && last <= 0xdbff) end--;
    return `${label.slice(0, end)}…`;
  }

  // Lines from border to border with an arrowhead at the target; a node's
  // edge to itself is a small loop above it.
  function drawArrows(context, ends, at, radius, lineWidth, colour, dash) {
    context.save();
    context.strokeStyle = colour;
    context.fillStyle = colour;
    context.lineWidth = lineWidth;
    context.setLineDash(dash);
    for (let first = 0; first < ends.length; first += 2 * ARROWS_PER_PATH) {
      const last = Math.min(ends.length, first + 2 * ARROWS_PER_PATH);
      const [lines, heads] = arrowPaths(ends, first, last, at, radius, 4 + lineWidth * 1.5);
      context.stroke(lines);
      context.fill(heads);
    }
    context.restore();
  }

  // The lines and the heads of the arrows ends[first..last) as two paths.
  function arrowPaths(ends, first, last, at, radius, head) {
    const lines = new Path2D();
    const heads = new Path2D();
    for (let index = first; index < last; index += 2) {
      const [x1, y1] = at.get(ends[index]);
      const [x2, y2] = at.get(ends[index + 1]);
      const r1 = radius.get(ends[index]);
      const r2 = radius.get(ends[index + 1]);
      const length = Math.hypot(x2 - x1, y2 - y1);
      if (ends[index] === ends[index + 1] || length < 1e-6) {
        lines.moveTo(x1 + r1 + 4, y1 - r1 - 4);
        lines.arc(x1, y1 - r1 - 4, r1 + 4, 0, 2 * Math.PI);
        continue;
      }
      const ux = (x2 - x1) / length;
      const uy = (y2 - y1) / length;
      const tipX = x2 - ux * (r2 + 1);
      const tipY = y2 - uy * (r2 + 1);
      lines.moveTo(x1 + ux * r1, y1 + uy * r1);
      lines.lineTo(tipX - ux * head * 0.8, tipY - uy * head * 0.8);
      heads.moveTo(tipX, tipY);
      heads.lineTo(tipX - ux * head - uy * head * 0.45, tipY - uy * head + ux * head * 0.45);
      heads.lineTo(tipX - ux * head + uy * head * 0.45, tipY - uy * head - ux * head * 0.45);
      heads.closePath();
    }
    return [lines, heads];
  }

  return { layOut, draw, colourOf, edgeRows, EDGE_DRAW_LIMIT };
})();
