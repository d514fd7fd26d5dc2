// The inspector page: loads a diff's bytes (file picker, drop, or ?src=),
// decodes them with GraphDiff (graph-diff.js), and shows counts, searchable
// tables and a drawing. A classic script, so that the page also works when
// opened straight from disk.
"use strict";

(() => {
  const ROW_LIMIT = 1000;
  const { layOut, colourOf, edgeRows } = InspectDrawing;
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

  function draw() {
    const drawn = InspectDrawing.draw($("graph"), current);
    $("legend-limit").textContent = drawn.limitNote;
    if (current) {
      current.at = drawn.at;
      current.radius = drawn.radius;
    }
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
