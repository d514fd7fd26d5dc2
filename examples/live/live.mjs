// The live view's page: a graph that the server changes, drawn by sigma and
// laid out by ForceAtlas2 a few iterations per frame. Each message is a
// diff in the byte form; the page decodes it, applies it to the graph and
// tells the server, which then sends what has changed since.
//
// ?delay=MS makes the page wait MS before applying each message, as a slow
// client would.
import Graph from "graphology";
import forceAtlas2 from "graphology-layout-forceatlas2";
import Sigma from "sigma";

import { applyGraphDiff, decodeGraphDiff } from "../../js/graph-diff.mjs";

const APPLIED = "applied";
const LAYOUT_ITERATIONS_PER_FRAME = 2;
const RATE_WINDOW_MS = 2000;

const delay = Number(new URLSearchParams(location.search).get("delay") ?? 0);
const graph = new Graph({ type: "directed" });
const renderer = new Sigma(graph, document.getElementById("graph"), {
  defaultEdgeColor: "#c8c8c8",
  labelRenderedSizeThreshold: 8,
});

const stats = { messages: 0, bytes: 0, changes: 0, lastApplyMs: 0, lastChanges: 0, applyMs: [] };
const recent = []; // [time, bytes] of the messages in the rate window

const show = (id, value) => {
  document.getElementById(id).textContent = value;
};

function changesIn(diff) {
  let count = diff.nodes.size + diff.deletedNodes.length;
  for (const targets of diff.edges.values()) count += targets.size;
  for (const targets of diff.deletedEdges.values()) count += targets.length;
  return count;
}

function applyMessage(data) {
  const started = performance.now();
  const diff = decodeGraphDiff(data);
  applyGraphDiff(graph, diff, { renderer });
  const elapsed = performance.now() - started;
  const changes = changesIn(diff);
  stats.messages++;
  stats.bytes += data.byteLength;
  stats.changes += changes;
  stats.lastApplyMs = elapsed;
  stats.lastChanges = changes;
  stats.applyMs.push([changes, elapsed]);
  recent.push([performance.now(), data.byteLength]);
  show("apply-time", elapsed.toFixed(1));
  show("apply-changes", changes.toLocaleString("en"));
}

function showCounts() {
  const now = performance.now();
  while (recent.length > 0 && recent[0][0] < now - RATE_WINDOW_MS) recent.shift();
  const seconds = RATE_WINDOW_MS / 1000;
  show("nodes", graph.order.toLocaleString("en"));
  show("edges", graph.size.toLocaleString("en"));
  show("messages-per-second", (recent.length / seconds).toFixed(1));
  show(
    "bytes-per-second",
    Math.round(recent.reduce((sum, [, bytes]) => sum + bytes, 0) / seconds).toLocaleString("en"),
  );
}
setInterval(showCounts, 250);

let layoutSettings = null;
function layoutFrame() {
  if (graph.order > 1) {
    layoutSettings ??= { ...forceAtlas2.inferSettings(graph), slowDown: 10 };
    layoutSettings.barnesHutOptimize = graph.order > 800;
    forceAtlas2.assign(graph, { iterations: LAYOUT_ITERATIONS_PER_FRAME, settings: layoutSettings });
  }
  requestAnimationFrame(layoutFrame);
}
requestAnimationFrame(layoutFrame);

function connect() {
  const status = document.getElementById("status");
  const socket = new WebSocket(`${location.protocol === "https:" ? "wss" : "ws"}://${location.host}/ws`);
  socket.binaryType = "arraybuffer";
  // Messages are applied one after another, however long each takes.
  let queue = Promise.resolve();
  socket.onopen = () => {
    // The first message is the whole graph.
    graph.clear();
    status.textContent = "connected";
    status.dataset.state = "open";
  };
  socket.onmessage = ({ data }) => {
    queue = queue.then(async () => {
      if (delay > 0) {
        await new Promise((resolve) => {
          setTimeout(resolve, delay);
        });
      }
      applyMessage(new Uint8Array(data));
      if (socket.readyState === WebSocket.OPEN) socket.send(APPLIED);
    });
  };
  socket.onclose = () => {
    status.textContent = "disconnected, reconnecting";
    status.dataset.state = "closed";
    setTimeout(connect, 1000);
  };
}
connect();

// For the tests: the graph and what the page has counted.
window.liveView = { graph, stats };
