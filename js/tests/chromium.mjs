// Headless Chromium for the page tests and benchmarks: Debian's build,
// driven by playwright-core, with WebGL through SwiftShader (there is no
// GPU) and every background connection off, as the machine has no network
// beyond its own servers. Also makes pages that run a module bundled by
// esbuild.
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

import { build } from "esbuild";
import { chromium } from "playwright-core";

const EXECUTABLE = process.env.CHROMIUM ?? "/usr/bin/chromium";

const ARGS = [
  "--no-sandbox",
  "--use-gl=angle",
  "--use-angle=swiftshader",
  "--enable-unsafe-swiftshader",
  "--disable-quic",
  "--no-first-run",
  "--no-default-browser-check",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
  "--disable-extensions",
];

/** A browser context with a profile of its own; close() removes the profile too. */
export async function launchChromium({ viewport = { width: 1000, height: 700 } } = {}) {
  const profile = mkdtempSync(join(tmpdir(), "chromium-profile-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: EXECUTABLE,
    headless: true,
    args: ARGS,
    viewport,
  });
  return {
    context,
    async close() {
      try {
        await context.close();
      } finally {
        rmSync(profile, { recursive: true, force: true });
      }
    },
  };
}

/** A page that fails its caller on any uncaught error. */
export async function newPage(browser) {
  const page = await browser.context.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error));
  page.assertNoErrors = () => {
    if (errors.length > 0) throw new Error(`the page threw: ${errors.map((error) => error.stack ?? error).join("\n")}`);
  };
  return page;
}

/** A page with a div#graph of the given size that runs the entry module, bundled by esbuild. */
export async function graphPage(browser, entry, { width, height }) {
  const bundled = await build({ entryPoints: [entry], bundle: true, format: "iife", write: false, logLevel: "error" });
  const page = await newPage(browser);
  await page.setContent(`<div id="graph" style="width: ${width}px; height: ${height}px"></div>`);
  await page.addScriptTag({ content: bundled.outputFiles[0].text });
  return page;
}
