// The live view end to end: the server on 127.0.0.1 with a fixed number of
// changes, two pages in headless Chromium (one from the start, one that
// connects late and applies each message only after a delay). Once the
// server has made every change and both pages have applied all they were
// sent, each page's graph must equal the server's exactly: nodes, their
// attributes, edges and float32 weights. The slow page must have got fewer
// messages, and no pending diff may have named more elements than had
// changed since the client's last message.
//
//   node examples/live/tests/end_to_end.mjs [--python PYTHON] [--changes N]
//       [--rate N] [--ticks N] [--screenshot FILE]
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { fileURLToPath } from "node:url";

import { launchChromium, newPage } from "../../../js/tests/chromium.mjs";

const SERVER = process.env.LIVE_SERVER ?? fileURLToPath(new URL("../server.py", import.meta.url));
const TIME_LIMIT_MS = 240_000;
const SLOW_DELAY_MS = 300;

function option(name, fallback) {
  const index = process.argv.indexOf(`--${name}`);
  return index < 0 ? fallback : process.argv[index + 1];
}

const python = option("python", "python3");
const changes = Number(option("changes", 4000));
const rate = Number(option("rate", 400));
const ticks = Number(option("ticks", 20));
const screenshot = option("screenshot", null);

const sleep = (ms) =>
  new Promise((resolve) => {
    setTimeout(resolve, ms);
  });

function startServer() {
  const args = [
    SERVER,
    "--port",
    "0",
    "--rate",
    String(rate),
    "--ticks",
    String(ticks),
    "--changes",
    String(changes),
    "--seed",
    "7",
    "--check-bound",
    "--wait-for-client",
  ];
  const server = spawn(python, args, { stdio: ["ignore", "pipe", "inherit"] });
  const address = new Promise((resolve, reject) => {
    let output = "";
    server.stdout.on("data", (chunk) => {
      output += chunk;
      const match = output.match(/http:\/\/127\.0\.0\.1:(\d+)\//);
      if (match) resolve(match[0]);
    });
    server.on("exit", (code) => reject(new Error(`the server ended (${code}) before it listened: ${output}`)));
  });
  return { server, address };
}

async function serverState(base) {
  const response = await fetch(`${base}state`);
  return response.json();
}

async function until(what, test, deadline) {
  for (;;) {
    const value = await test();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(200);
  }
}

// The page's graph in the server's terms: the diff's own attributes only,
// with what the page added checked on the way.
function pageGraph(page) {
  return page.evaluate(() => {
    const { graph } = window.liveView;
    const hex = (value) => value.toString(16).padStart(2, "0");
    const problems = [];
    const nodes = {};
    graph.forEachNode((node, { x, y, color, forceLabel, ...attributes }) => {
      if (!Number.isFinite(x) || !Number.isFinite(y)) problems.push(`${node} has no position`);
      if (color !== `#${hex(attributes.red)}${hex(attributes.green)}${hex(attributes.blue)}`)
        problems.push(`${node} colour ${color}`);
      if (forceLabel !== attributes.showLabel) problems.push(`${node} forceLabel ${forceLabel}`);
      nodes[node] = attributes;
    });
    const edges = graph.mapEdges((_, { weight }, source, target) => [source, target, weight]);
    return { nodes, edges, problems, stats: window.liveView.stats };
  });
}

const byEnds = (edges) => [...edges].sort((a, b) => (a[0] + a[1] < b[0] + b[1] ? -1 : 1));

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted.length === 0 ? NaN : sorted[Math.floor(sorted.length / 2)];
}

const deadline = Date.now() + TIME_LIMIT_MS;
const { server, address } = startServer();
const killTimer = setTimeout(() => server.kill(), TIME_LIMIT_MS + 10_000);
let browser = null;
try {
  const base = await address;
  browser = await launchChromium({ viewport: { width: 1100, height: 760 } });
  const fast = await newPage(browser);
  await fast.goto(base);
  await until("a third of the changes", async () => (await serverState(base)).changes >= changes / 3, deadline);
  const slow = await newPage(browser);
  await slow.goto(`${base}?delay=${SLOW_DELAY_MS}`);
  if (screenshot) {
    // While the stream still runs, so that the rates show.
    await until("most of the changes", async () => (await serverState(base)).changes >= changes * 0.9, deadline);
    await fast.screenshot({ path: screenshot });
    console.log(`screenshot: ${screenshot}`);
  }
  const state = await until(
    "every change made and applied by both pages",
    async () => {
      const current = await serverState(base);
      return current.done && current.clients.length === 2 && current.clients.every((client) => client.idle) && current;
    },
    deadline,
  );
  const [fastClient, slowClient] = state.clients;
  for (const [name, page] of [
    ["fast", fast],
    ["slow", slow],
  ]) {
    const seen = await pageGraph(page);
    page.assertNoErrors();
    assert.deepEqual(seen.problems, [], `${name} page`);
    assert.deepEqual(seen.nodes, state.nodes, `${name} page: nodes`);
    assert.deepEqual(byEnds(seen.edges), byEnds(state.edges), `${name} page: edges`);
    // The first message is the whole graph; the stream follows.
    const stream = seen.stats.applyMs.slice(1);
    const largest = seen.stats.applyMs.reduce((most, row) => (row[0] > most[0] ? row : most), [0, 0]);
    console.log(
      `live view, ${name} page: ${seen.stats.messages} messages, ${seen.stats.bytes} bytes; after the first, ` +
        `median ${median(stream.map((row) => row[0]))} changes per message, decode + apply median ` +
        `${median(stream.map((row) => row[1])).toFixed(1)} ms; largest message ${largest[0]} changes in ${largest[1].toFixed(1)} ms`,
    );
  }
  assert.ok(
    slowClient.messages < fastClient.messages,
    `slow client: ${slowClient.messages} messages, fast: ${fastClient.messages}`,
  );
  for (const client of state.clients) {
    assert.ok(client.largestShare <= 1, `a pending diff named ${client.largestShare}x the elements changed`);
  }
  console.log(
    `live view: ${changes} changes, ${Object.keys(state.nodes).length} nodes and ${state.edges.length} edges at the end, ` +
      `equal on both pages; messages fast ${fastClient.messages}, slow ${slowClient.messages}; ` +
      `largest pending diff ${Math.max(...state.clients.map((c) => c.largestShare)).toFixed(2)} of the elements changed since the last message`,
  );
} finally {
  if (browser) await browser.close();
  server.kill();
  clearTimeout(killTimer);
}
