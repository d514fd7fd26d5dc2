// applyGraphDiff on a graph drawn by sigma, in headless Chromium, beside
// the same diff applied to the same graph with no renderer, in one run:
//
//   node bench/bench_apply.mjs [--nodes N] [--edges N] [--rounds N]
//
// The graph has 10^5 nodes and 5·10^5 edges; each diff has 1,000 node
// drops, 1,000 edge drops and 2,000 updates. Prints per round the time of
// the apply with no renderer, with sigma bound (and the renderer option),
// their ratio, and the time of the frame after them, in which sigma
// processes the graph once. The hand-written loop with sigma bound costs a full re-index per
// drop: it is timed on its first few drops and extrapolated to the diff.
import { fileURLToPath } from "node:url";

import { graphPage, launchChromium } from "../js/tests/chromium.mjs";

function option(name, fallback) {
  const index = process.argv.indexOf(`--${name}`);
  return index < 0 ? fallback : Number(process.argv[index + 1]);
}

const settings = {
  nodes: option("nodes", 100_000),
  edges: option("edges", 500_000),
  rounds: option("rounds", 3),
  shape: { nodeDrops: 1000, edgeDrops: 1000, updates: 2000 },
  naiveLimit: option("naive-drops", 3),
};

const browser = await launchChromium();
try {
  const page = await graphPage(browser, fileURLToPath(new URL("apply-page.mjs", import.meta.url)), {
    width: 800,
    height: 600,
  });
  const { setup, results, naive } = await page.evaluate((options) => window.runApplyBench(options), settings);
  page.assertNoErrors();
  const ms = (value) => `${value.toFixed(1)} ms`;
  console.log(
    `graph: ${settings.nodes} nodes, ${settings.edges} edges; sigma's first draw ${ms(setup.sigmaFirstDraw)}, one full refresh ${ms(setup.fullReindexAndDraw)}`,
  );
  console.log("round  no renderer  sigma bound  ratio");
  results.forEach((row, index) => {
    console.log(
      `${String(index + 1).padStart(5)}  ${ms(row.noRenderer).padStart(11)}  ${ms(row.withSigma).padStart(11)}  ${row.ratio.toFixed(2).padStart(4)}x`,
    );
  });
  console.log(`the frame after the rounds (sigma processes the graph once): ${ms(setup.nextFrame)}`);
  const ratios = results.map((row) => row.ratio);
  console.log(
    `ratio sigma bound / no renderer: ${Math.min(...ratios).toFixed(2)}x to ${Math.max(...ratios).toFixed(2)}x (target: at most 3x)`,
  );
  console.log(
    `naive loop with sigma bound: ${(naive.extrapolated / 1000).toFixed(1)} s for the diff, extrapolated from its first ${naive.measuredDrops} drops`,
  );
} finally {
  await browser.close();
}
