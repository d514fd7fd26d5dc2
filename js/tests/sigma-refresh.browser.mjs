// applyGraphDiff with sigma bound to the graph, in headless Chromium where
// sigma can draw: a diff with the renderer option costs sigma at most one
// full re-index, however many drops it holds, leaves none of the dropped
// elements in sigma's indices and draws every node as its attributes say; without the option every drop is a
// re-index, which shows that the count sees them.
//
//   node js/tests/sigma-refresh.browser.mjs
import assert from "node:assert/strict";
import { fileURLToPath } from "node:url";

import { graphPage, launchChromium } from "./chromium.mjs";

const browser = await launchChromium();
try {
  const page = await graphPage(browser, fileURLToPath(new URL("sigma-page.mjs", import.meta.url)), {
    width: 600,
    height: 400,
  });
  const shape = { nodes: 3000, edges: 12000, size: 40 };
  const batched = await page.evaluate((options) => window.runSigmaCheck(options), {
    ...shape,
    rounds: 5,
    batched: true,
  });
  const naive = await page.evaluate((options) => window.runSigmaCheck(options), {
    ...shape,
    rounds: 1,
    batched: false,
  });
  page.assertNoErrors();
  for (const round of batched) {
    assert.ok(round.reindexes <= 1, `a diff cost ${round.reindexes} full re-indexes: ${JSON.stringify(round)}`);
    assert.equal(round.hovered, null, "the dropped hovered node is still hovered");
    assert.deepEqual(
      [round.stale, round.staleEdges, round.staleLabels, round.outdated],
      [0, 0, 0, 0],
      JSON.stringify(round),
    );
    assert.equal(round.cached, round.nodes);
  }
  assert.ok(naive[0].reindexes > shape.size, `the naive count saw only ${naive[0].reindexes} re-indexes`);
  const most = Math.max(...batched.map((round) => round.reindexes));
  console.log(
    `sigma check: ${batched.length} diffs of ${shape.size} node drops, ${shape.size} edge drops and ${2 * shape.size} updates ` +
      `on ${shape.nodes} nodes: at most ${most} full re-index per diff with the renderer option, ` +
      `${naive[0].reindexes} without; no dropped element left in sigma's indices, every node drawn as its attributes say`,
  );
} finally {
  await browser.close();
}
