// The inspector page: loads a diff's bytes (file picker, drop, or ?src=),
// decodes them with GraphDiff (graph-diff.js), and shows counts, searchable
// tables and a drawing. A classic script, so that the page also works when
// opened straight from disk.
"use strict";

(() => {
  const ROW_LIMIT = 1000;
  // Past this many edges of a kind a picture shows nothing more: the rest
  // are left out of the drawing, and the legend says so.
  const EDGE_DRAW_LIMIT = 50000;
  // Arrows per path: a path of many thousand dashed or overlapping pieces
  // costs the rasterizer far more than its share.
  const ARROWS_PER_PATH = 1000;
  // Labels on the canvas are cut to this many UTF-16 code units.
  const LABEL_LIMIT = 40;
  const BACKGROUND = "#ffffff";
  const $ = (id) => document.getElementById(id);

  let current = null; // { diff, layout, byteLength }

  function setStatus(text, isError = false) {
    $("status").textContent = text;
    $("status").className = isError ? "error" : "";
  }

  // graph-diff.js is generated from the modules, not kept in the repository.
  if (typeof GraphDiff === "undefined") {
    setStatus(
      "graph-diff.js is missing beside this page: run node js/build-classic.mjs " + "in the repository, then reload.",
      true,
    );
    document.body.dataset.state = "error";
    return;
  }

  // ------------------------------------------------------------ loading

  function load(buffer, name) {
    let diff;
    try {
      diff = GraphDiff.decodeGraphDiff(buffer);
    } catch (error) {
      current = null;
      setStatus(`${name} is not a graph diff: ${error.message}`, true);
      document.body.dataset.state = "error";
      return;
    }
    current = { diff, layout: layOut(diff), byteLength: buffer.byteLength };
    setStatus(`${name}: ${buffer.byteLength.toLocaleString("en")} bytes`);
    showCounts();
    showTables();
    draw();
    document.body.dataset.state = "loaded";
  }

  function loadFile(file) {
    file.arrayBuffer().then(
      (buffer) => load(buffer, file.name),
      (error) => setStatus(`cannot read ${file.name}: ${error.message}`, true),
    );
  }

  async function loadSource(src) {
    const name = src.startsWith("data:") ? "the diff in the address" : src;
    try {
      const response = await fetch(src);
      if (!response.ok) {
        throw new Error(`HTTP ${response.status}`);
      }
      load(await response.arrayBuffer(), name);
    } catch (error) {
      const fromDisk = location.protocol === "file:" && !src.startsWith("data:");
      setStatus(
        fromDisk
          ? `cannot fetch ${src}: a page opened from disk may not read other files. ` +
              "Open the file with the picker or drop it here, or serve this directory over http."
          : `cannot fetch ${src}: ${error.message}`,
        true,
      );
      document.body.dataset.state = "error";
    }
  }

  $("file").addEventListener("change", (event) => {
    if (event.target.files.length > 0) loadFile(event.target.files[0]);
  });
  document.addEventListener("dragover", (event) => {
    event.preventDefault();
    document.body.classList.add("dragging");
  });
  document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
  document.addEventListener("drop", (event) => {
    event.preventDefault();
    document.body.classList.remove("dragging");
    if (event.dataTransfer.files.length > 0) loadFile(event.dataTransfer.files[0]);
  });

  // ------------------------------------------------------------ counts and tables

  function showCounts() {
    const { diff, byteLength } = current;
    let edges = 0;
    for (const targets of diff.edges.values()) edges += targets.size;
    let deletedEdges = 0;
    for (const targets of diff.deletedEdges.values()) deletedEdges += targets.length;
    $("count-nodes").textContent = diff.nodes.size;
    $("count-deleted-nodes").textContent = diff.deletedNodes.length;
    $("count-edges").textContent = edges;
    $("count-edge-sources").textContent = diff.edges.size + diff.deletedEdges.size;
    $("count-deleted-edges").textContent = deletedEdges;
    $("count-bytes").textContent = byteLength;
  }

  function cell(row, text, className) {
    const td = row.insertCell();
    td.textContent = text;
    if (className) td.className = className;
    return td;
  }

  function colourOf(attributes) {
    const { red, green, blue } = attributes;
    if (red === undefined && green === undefined && blue === undefined) return null;
    return `rgb(${red ?? 0}, ${green ?? 0}, ${blue ?? 0})`;
  }

  // Fills a table's body with the rows that match, up to ROW_LIMIT.
  function fill(name, rows, matches, render) {
    const body = $(`table-${name}`).tBodies[0];
    const fragment = document.createDocumentFragment();
    let shown = 0;
    let matching = 0;
    for (const row of rows) {
      if (!matches(row)) continue;
      matching++;
      if (shown < ROW_LIMIT) {
        const tr = document.createElement("tr");
        render(tr, row);
        fragment.appendChild(tr);
        shown++;
      }
    }
    body.replaceChildren(fragment);
    $(`note-${name}`).textContent = shown < matching ? `first ${shown} of ${matching} matching` : `${matching} shown`;
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

  function showTables() {
    if (!current) return;
    const { diff } = current;
    const query = $("search").value.trim().toLowerCase();
    const has = (...texts) =>
      query === "" || texts.some((text) => text !== undefined && text.toLowerCase().includes(query));
    fill(
      "nodes",
      diff.nodes,
      ([id, a]) => has(id, a.label, a.url),
      (tr, [id, a]) => {
        tr.dataset.id = id;
        cell(tr, id, "id");
        cell(tr, a.label ?? "");
        cell(tr, a.size === undefined ? "" : String(a.size), "number");
        cell(tr, a.url ?? "");
        const colour = colourOf(a);
        const td = cell(tr, colour ?? "", "colour");
        if (colour) {
          const swatch = document.createElement("span");
          swatch.className = "swatch";
          swatch.style.background = colour;
          td.prepend(swatch);
        }
        cell(tr, a.showLabel === undefined ? "" : String(a.showLabel));
      },
    );
    fill(
      "edges",
      edgeRows(diff.edges, true),
      ([s, t]) => has(s, t),
      (tr, [s, t, w]) => {
        tr.dataset.id = `${s} ${t}`;
        cell(tr, s, "id");
        cell(tr, t, "id");
        cell(tr, String(w), "number");
      },
    );
    fill(
      "deleted-nodes",
      diff.deletedNodes,
      (id) => has(id),
      (tr, id) => {
        tr.dataset.id = id;
        cell(tr, id, "id");
      },
    );
    fill(
      "deleted-edges",
      edgeRows(diff.deletedEdges, false),
      ([s, t]) => has(s, t),
      (tr, [s, t]) => {
        tr.dataset.id = `${s} ${t}`;
        cell(tr, s, "id");
        cell(tr, t, "id");
      },
    );
  }

  let searchTimer = 0;
  $("search").addEventListener("input", () => {
    clearTimeout(searchTimer);
    searchTimer = setTimeout(showTables, 120);
  });

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

  function draw() {
    const canvas = $("graph");
    const ratio = window.devicePixelRatio || 1;
    const width = canvas.clientWidth;
    const height = canvas.clientHeight;
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    const context = canvas.getContext("2d");
    context.setTransform(ratio, 0, 0, ratio, 0, 0);
    context.fillStyle = BACKGROUND;
    context.fillRect(0, 0, width, height);
    if (!current) return;
    const { diff, layout } = current;

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
    $("legend-limit").textContent =
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
    current.at = at;
    current.radius = radius;
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

  $("graph").addEventListener("click", (event) => {
    if (!current || !current.at) return;
    const bounds = event.target.getBoundingClientRect();
    const x = event.clientX - bounds.left;
    const y = event.clientY - bounds.top;
    let nearest = null;
    let distance = Infinity;
    for (const [id, [nx, ny]] of current.at) {
      const d = Math.hypot(nx - x, ny - y) - current.radius.get(id);
      if (d < distance) [nearest, distance] = [id, d];
    }
    if (nearest !== null && distance < 6) {
      $("search").value = nearest;
      showTables();
    }
  });

  let resizeTimer = 0;
  window.addEventListener("resize", () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(draw, 150);
  });

  draw();
  const src = new URLSearchParams(location.search).get("src");
  if (src) loadSource(src);
})();
