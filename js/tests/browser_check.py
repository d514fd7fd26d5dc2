"""The inspector page (examples/web/inspect.html) in headless Chromium.

Python writes fixture diffs with the installed module (250 nodes, and 2,000
to show that the page copes with them); the page loads them three ways and
the DOM it leaves behind is checked against
what Python wrote: the counts, a few table cells, and that the canvas is
drawn on (a share of its pixels differs from the background) with labels
cut whole (no half of a surrogate pair). The canvas is read by a script
that this check adds to its copy of the page (CANVAS_PROBE), so the page
itself never reads its pixels back.

The page is copied to a temporary directory with graph-diff.js generated
from the modules there (node js/build-classic.mjs), so what is checked is
the page as the modules are now.

1. Opened from disk (file://) with default settings, the small diff given as
   a data: URL in ?src=: no ES-module import and no file access needed.
2. Served over http on 127.0.0.1 by this script (a server on a free port,
   stopped before the script ends), the large diff named by ?src=.
3. Opened from disk with ?src= naming a file: the page must say why it
   cannot read it instead of showing nothing.
4. Served over http, a diff of more deleted edges than the page draws: it
   must draw the first of them, say so, and load in a time in line with
   the 2,000-node diff's.
5. Opened from disk without graph-diff.js: the page must say how to make it.

    python js/tests/browser_check.py [--screenshot docs/inspector.png]
"""

import argparse
import base64
import functools
import html
import http.server
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import uuid
from pathlib import Path

from quorl_api import PyGraphDiff

ROOT = Path(__file__).resolve().parents[2]
PAGE_DIR = ROOT / "examples" / "web"
PAGE_FILES = ["inspect.html", "inspect-drawing.js", "inspect.js"]
MIN_DRAWN_FRACTION = 0.03
TIMEOUT_SECONDS = 120
EDGE_DRAW_LIMIT = 50000  # as in inspect-drawing.js
# How many times as long as the 2,000-node diff 60,000 deleted edges may
# take to load: generous for 50,000 dashed arrows, well short of all of
# them in one path.
DELETED_EDGES_TIME_RATIO = 20

# Loaded after graph-diff.js and before inspect.js in the check's copy of the
# page: records the texts drawn on canvases, and once the page has loaded a
# diff, puts on the canvas element the share of its pixels that differ from
# the white background and how many drawn texts are not well-formed UTF-16.
CANVAS_PROBE = """
"use strict";
(() => {
  const texts = [];
  const fillText = CanvasRenderingContext2D.prototype.fillText;
  CanvasRenderingContext2D.prototype.fillText = function (text, ...rest) {
    texts.push(String(text));
    return fillText.call(this, text, ...rest);
  };
  const loneSurrogate = /[\\ud800-\\udbff](?![\\udc00-\\udfff])|(?<![\\ud800-\\udbff])[\\udc00-\\udfff]/;
  new MutationObserver(() => {
    if (document.body.dataset.state !== "loaded") return;
    const canvas = document.getElementById("graph");
    const pixels = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let drawn = 0;
    for (let index = 0; index < pixels.length; index += 4) {
      if (pixels[index] !== 255 || pixels[index + 1] !== 255 || pixels[index + 2] !== 255) drawn++;
    }
    canvas.dataset.drawnFraction = (drawn / (pixels.length / 4)).toFixed(4);
    canvas.dataset.texts = String(texts.length);
    canvas.dataset.brokenTexts = String(texts.filter((text) => loneSurrogate.test(text)).length);
  }).observe(document.body, { attributes: true, attributeFilter: ["data-state"] });
})();
"""
# A label whose 39th and 40th code units are one surrogate pair: cut after
# 39 units, as the page cuts long labels, it would keep half of the pair.
LABEL_ACROSS_THE_CUT = "x" * 38 + "\U0001F600" + " and more"


def float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def fixture(node_count):
    """A diff with every kind of change: nodes in many colours and sizes,
    some labelled, edges of many weights, deleted nodes and edges."""
    rng = random.Random(13)
    ids = [uuid.UUID(int=rng.getrandbits(128)).bytes for _ in range(node_count)]
    diff = PyGraphDiff()
    for index, node in enumerate(ids[: node_count * 9 // 10]):
        update = {"size": float32(rng.choice([1.0, 1.5, 2.25, 3.0, 6.5])) * (1 + index % 7)}
        if index % 3:
            update.update(red=rng.randrange(256), green=rng.randrange(256), blue=rng.randrange(256))
        if index % (node_count // 50) == 0:
            update.update(label=f"node {index}", show_label=True, url=f"https://example.org/{index}")
        diff.add_node(node, update)
    hubs = ids[: node_count // 30]
    for index in range(node_count * 2):
        source = rng.choice(hubs) if index % 2 else rng.choice(ids)
        diff.add_edge(source, rng.choice(ids), rng.choice([0.25, 0.5, 1.0, 2.0, 4.0, 8.0]))
    for node in ids[node_count * 95 // 100 : node_count * 98 // 100]:
        diff.delete_node(node)
    for index in range(node_count // 7):
        diff.delete_edge(rng.choice(ids), rng.choice(ids))
    diff.add_node(ids[0], {"label": LABEL_ACROSS_THE_CUT, "show_label": True})
    return diff


def deleted_edges_fixture(edge_count):
    """A diff of only deleted edges, each source with 10 targets."""
    rng = random.Random(17)
    ids = [uuid.UUID(int=rng.getrandbits(128)).bytes for _ in range(edge_count // 10)]
    diff = PyGraphDiff()
    for index in range(edge_count):
        diff.delete_edge(ids[index // 10], ids[(index * 7919 + 1) % len(ids)])
    return diff


def js_number(value):
    """How JavaScript writes a float that Python writes as repr(value), for
    the plain short values of the fixtures: 6.0 is "6"."""
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def expectations(diff):
    nodes = diff.new_or_updated_nodes()
    edges = diff.new_or_updated_edges()
    deleted_edges = diff.deleted_edges()
    counts = {
        "count-nodes": len(nodes),
        "count-deleted-nodes": len(diff.deleted_nodes()),
        "count-edges": sum(len(targets) for targets in edges.values()),
        "count-edge-sources": diff.num_edges(),
        "count-deleted-edges": sum(len(targets) for targets in deleted_edges.values()),
    }
    labelled = [(i, a) for i, a in nodes.items() if "label" in a]
    plain = [(i, a) for i, a in nodes.items() if "red" in a and "label" not in a]
    cells = {}
    for node_id, attributes in labelled[:3] + plain[:3]:
        colour = ""
        if "red" in attributes:
            colour = f"rgb({attributes['red']}, {attributes['green']}, {attributes['blue']})"
        label, url = attributes.get("label", ""), attributes.get("url", "")
        cells[node_id] = [node_id, label, js_number(attributes["size"]), url, colour]
    source, targets = next(iter(edges.items()))
    target, weight = next(iter(targets.items()))
    cells[f"{source} {target}"] = [source, target, js_number(weight)]
    return counts, cells


def generate_classic_script(target):
    node = shutil.which("node") or sys.exit("browser check: no node found (scripts/lib.sh installs it)")
    subprocess.run([node, str(ROOT / "js" / "build-classic.mjs"), str(target)], check=True, stdout=subprocess.DEVNULL)


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    sys.exit("browser check: no chromium found (scripts/lib.sh installs Debian's chromium)")


def run_chromium(url, profile, *extra):
    """Loads `url` headless and returns what Chromium prints (the DOM dump)."""
    command = [
        chromium(), "--headless", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
        "--disable-extensions", "--disable-background-networking", "--disable-sync", "--hide-scrollbars",
        f"--user-data-dir={profile}", "--window-size=1280,1000", "--virtual-time-budget=15000", *extra, url,
    ]
    if os.geteuid() == 0:
        command.insert(2, "--no-sandbox")  # the sandbox refuses to run as root
    result = subprocess.run(command, capture_output=True, text=True, timeout=TIMEOUT_SECONDS, check=False)
    if result.returncode != 0:
        sys.exit(f"browser check: chromium failed ({result.returncode}):\n{result.stderr[-2000:]}")
    return result.stdout


def element_text(dom, element_id):
    match = re.search(rf'id="{element_id}"[^>]*>(.*?)</', dom, re.S)
    return html.unescape(match.group(1)) if match else None


def row_cells(dom, row_id):
    match = re.search(rf'<tr data-id="{re.escape(row_id)}">(.*?)</tr>', dom, re.S)
    if not match:
        return None
    cells = re.findall(r"<td[^>]*>(.*?)</td>", match.group(1), re.S)
    return [html.unescape(re.sub(r"<[^>]+>", "", cell)) for cell in cells]


def check_loaded(how, dom, counts, cells):
    problems = []
    if 'data-state="loaded"' not in dom:
        problems.append(f"the page did not load the diff: status {element_text(dom, 'status')!r}")
    for element_id, expected in counts.items():
        got = element_text(dom, element_id)
        if got != str(expected):
            problems.append(f"{element_id}: {got!r}, Python wrote {expected}")
    for row_id, expected in cells.items():
        got = row_cells(dom, row_id)
        if got is None or got[: len(expected)] != expected:
            problems.append(f"row {row_id}: {got}, Python wrote {expected}")
    drawn = re.search(r'data-drawn-fraction="([0-9.]+)"', dom)
    if not drawn or float(drawn.group(1)) < MIN_DRAWN_FRACTION:
        problems.append(f"the canvas is blank or nearly: drawn fraction {drawn and drawn.group(1)}")
    texts = re.search(r'data-texts="([0-9]+)" data-broken-texts="([0-9]+)"', dom)
    if not texts or texts.group(1) == "0":
        problems.append("no label drawn on the canvas")
    elif texts.group(2) != "0":
        problems.append(f"{texts.group(2)} of {texts.group(1)} labels on the canvas cut between a surrogate pair")
    if problems:
        sys.exit(f"browser check ({how}) failed:\n  " + "\n  ".join(problems))
    print(
        f"browser check ({how}): {len(counts)} counts and {len(cells)} table rows match, "
        f"{float(drawn.group(1)):.1%} of the canvas drawn"
    )


def check_deleted_edges(dom, edge_count, time_ratio):
    note = f"Drawn: the first {EDGE_DRAW_LIMIT} of {edge_count} deleted edges."
    problems = []
    if 'data-state="loaded"' not in dom:
        problems.append(f"the page did not load the diff: status {element_text(dom, 'status')!r}")
    if note not in (element_text(dom, "legend-limit") or ""):
        problems.append(f"the legend does not say {note!r}: {element_text(dom, 'legend-limit')!r}")
    if time_ratio > DELETED_EDGES_TIME_RATIO:
        problems.append(f"it took {time_ratio:.1f} times as long as the 2,000-node diff")
    if problems:
        sys.exit("browser check (http page, deleted edges beyond the drawing limit) failed:\n  " + "\n  ".join(problems))
    print(
        f"browser check (http page, {edge_count} deleted edges): the first {EDGE_DRAW_LIMIT} drawn and the legend "
        f"says so, in {time_ratio:.1f} times the 2,000-node diff's time"
    )


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--screenshot", type=Path, help="also save a screenshot of the loaded page here")
    args = parser.parse_args()
    small, large = fixture(250), fixture(2000)
    with tempfile.TemporaryDirectory() as directory:
        work = Path(directory)
        profile = work / "profile"
        site = work / "site"
        site.mkdir()
        for name in PAGE_FILES:
            shutil.copy(PAGE_DIR / name, site / name)
        (site / "canvas-probe.js").write_text(CANVAS_PROBE)
        page = (site / "inspect.html").read_text()
        probed = page.replace('<script src="inspect.js">', '<script src="canvas-probe.js"></script>\n<script src="inspect.js">')
        if probed == page:
            sys.exit("browser check: inspect.html no longer loads inspect.js as this check expects")
        (site / "inspect.html").write_text(probed)
        generate_classic_script(site / "graph-diff.js")
        (site / "fixture.bin").write_bytes(large.to_bytes())
        deleted_edge_count = EDGE_DRAW_LIMIT * 6 // 5
        (site / "deleted-edges.bin").write_bytes(deleted_edges_fixture(deleted_edge_count).to_bytes())

        # Chromium takes the URL as one argument, and Linux limits one to 128 KiB.
        data_url = "data:application/octet-stream;base64," + base64.b64encode(small.to_bytes()).decode()
        from_disk = (site / "inspect.html").as_uri() + "?src=" + urllib.parse.quote(data_url, safe="")
        dom = run_chromium(from_disk, profile, "--dump-dom")
        check_loaded("file:// page, 250 nodes in a data: URL", dom, *expectations(small))
        if args.screenshot:
            args.screenshot.parent.mkdir(parents=True, exist_ok=True)
            run_chromium(from_disk, profile, f"--screenshot={args.screenshot.resolve()}")
            print(f"screenshot: {args.screenshot}")

        handler = functools.partial(QuietHandler, directory=str(site))
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        try:
            url = f"http://127.0.0.1:{server.server_address[1]}/inspect.html?src="
            started = time.monotonic()
            dom = run_chromium(url + "fixture.bin", profile, "--dump-dom")
            fixture_seconds = time.monotonic() - started
            check_loaded("http page, 2,000 nodes, ?src=fixture.bin", dom, *expectations(large))
            started = time.monotonic()
            dom = run_chromium(url + "deleted-edges.bin", profile, "--dump-dom")
            check_deleted_edges(dom, deleted_edge_count, (time.monotonic() - started) / fixture_seconds)

        finally:
            server.shutdown()
            server.server_close()
            thread.join(timeout=10)

        dom = run_chromium((site / "inspect.html").as_uri() + "?src=fixture.bin", profile, "--dump-dom")
        status = element_text(dom, "status") or ""
        if 'data-state="error"' not in dom or "opened from disk" not in status:
            sys.exit(f"browser check (file:// page, ?src=file) failed: status {status!r}")
        print("browser check (file:// page, ?src=fixture.bin): the page explains why it cannot read the file")

        (site / "graph-diff.js").unlink()
        dom = run_chromium((site / "inspect.html").as_uri(), profile, "--dump-dom")
        status = element_text(dom, "status") or ""
        if 'data-state="error"' not in dom or "node js/build-classic.mjs" not in status:
            sys.exit(f"browser check (file:// page without graph-diff.js) failed: status {status!r}")
        print("browser check (file:// page without graph-diff.js): the page says how to make it")


if __name__ == "__main__":
    main()
