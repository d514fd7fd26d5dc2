"""Per-call times of the editing and reading methods of the installed module
beside those of another build of it, measured alternately in one run.

    python bench/compare_python.py DIRECTORY_WITH_OTHER_BUILD [calls] [--all]

DIRECTORY_WITH_OTHER_BUILD holds another quorl_api shared object for the
same interpreter (for instance a build of an older tree). Each side runs in
child processes, three rounds in turn; the table shows the best per-call
time of each method on each side and their ratio. --all adds the byte
methods on every shape (edges 100 per source, sparse, dense, scale-free,
labelled nodes) and the bulk methods, at `calls` edges or 10 * `calls`.
"""

import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

CHILD = """
import json, sys
sys.path.insert(0, {here!r})
import bench_python
calls, repeats = {calls}, 3
rows = bench_python.bench_editing(calls, repeats) + bench_python.bench_reading(calls, repeats)
times = {{row.method: row.module / row.calls * 1e9 for row in rows}}
if {every}:
    rows = bench_python.bench_bytes(10 * calls, repeats) + bench_python.bench_edge_shapes(10 * calls, repeats)
    rows += bench_python.bench_node_bytes(2 * calls, repeats)
    times.update({{row.method: row.module / row.calls * 1e9 for row in rows}})
    times.update({{row.figure: row.bulk / row.items * 1e9 for row in bench_python.bench_bulk(10 * calls, repeats)}})
print(json.dumps(times))
"""


def measure(extra_path, calls, every):
    env = dict(os.environ)
    if extra_path:
        env["PYTHONPATH"] = extra_path + os.pathsep + env.get("PYTHONPATH", "")
    output = subprocess.run(
        [sys.executable, "-c", CHILD.format(here=HERE, calls=calls, every=every)],
        check=True, capture_output=True, text=True, env=env,
    ).stdout
    return json.loads(output.splitlines()[-1])


def main():
    if len([argument for argument in sys.argv[1:] if argument != "--all"]) < 1:
        sys.exit(__doc__)
    every = "--all" in sys.argv
    arguments = [argument for argument in sys.argv[1:] if argument != "--all"]
    other = os.path.abspath(arguments[0])
    calls = int(arguments[1]) if len(arguments) > 1 else 50_000
    best = {"other": {}, "this": {}}
    for _ in range(3):
        for side, path in (("other", other), ("this", None)):
            for method, nanoseconds in measure(path, calls, every).items():
                best[side][method] = min(nanoseconds, best[side].get(method, float("inf")))
    print("| method | other build, per call | this build, per call | this / other |")
    print("|---|---|---|---|")
    for method, before in best["other"].items():
        after = best["this"][method]
        name = method if method.startswith("`") else f"`{method}`"
        print(f"| {name} | {before:,.1f} ns | {after:,.1f} ns | {after / before:.2f} |")


if __name__ == "__main__":
    main()
