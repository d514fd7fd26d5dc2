// ESLint over the JavaScript package (js/), the inspector page
// (examples/web/), the live view (examples/live/) and the JavaScript
// benchmarks (bench/): the recommended rules, plus a few that catch faults the
// recommended set lets through. Formatting is Prettier's job, not ESLint's.
import js from "@eslint/js";
import globals from "globals";

export default [
  { ignores: ["examples/web/graph-diff.js", "node_modules/", "build*/"] },
  js.configs.recommended,
  {
    languageOptions: { ecmaVersion: 2022, sourceType: "module" },
    linterOptions: { reportUnusedDisableDirectives: "error" },
    rules: {
      eqeqeq: ["error", "always"],
      "no-var": "error",
      "prefer-const": "error",
      "no-shadow": "error",
      "no-unused-vars": ["error", { args: "after-used", argsIgnorePattern: "^_", caughtErrors: "all" }],
      "no-implicit-coercion": "error",
      "no-throw-literal": "error",
      "no-promise-executor-return": "error",
    },
  },
  // The library itself runs in browsers and in Node alike: only what both offer.
  { files: ["js/*.mjs"], languageOptions: { globals: globals["shared-node-browser"] } },
  // Its build script, benchmark and tests run under Node.
  {
    files: ["js/build-classic.mjs", "js/bench.mjs", "js/tests/**"],
    languageOptions: { globals: globals.node },
  },
  // The live view's page, and the page halves of the sigma check and the
  // apply benchmark, run in a browser.
  {
    files: ["examples/live/live.mjs", "js/tests/*-page.mjs", "js/tests/page-*.mjs", "bench/*-page.mjs"],
    languageOptions: { globals: globals.browser },
  },
  // What drives those pages runs under Node, and names the page's window
  // inside page.evaluate.
  {
    files: ["examples/live/build.mjs", "examples/live/tests/**", "bench/bench_*.mjs", "js/tests/*.browser.mjs"],
    languageOptions: { globals: { ...globals.node, window: "readonly" } },
  },
  // The inspector is two classic scripts that share globals:
  // inspect-drawing.js defines InspectDrawing, and inspect.js uses it and
  // the generated GraphDiff.
  {
    files: ["examples/web/**/*.js"],
    languageOptions: { sourceType: "script", globals: { ...globals.browser, GraphDiff: "readonly" } },
  },
  { files: ["examples/web/inspect.js"], languageOptions: { globals: { InspectDrawing: "readonly" } } },
  {
    files: ["examples/web/inspect-drawing.js"],
    rules: { "no-unused-vars": ["error", { varsIgnorePattern: "^InspectDrawing$" }] },
  },
];
