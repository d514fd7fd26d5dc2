"""Per-call times of the editing and reading methods of the installed module
beside those of another build of it, measured alternately in one run.

    python bench/compare_python.py DIRECTORY_WITH_OTHER_BUILD [calls]

DIRECTORY_WITH_OTHER_BUILD holds another quorl_api shared object for the
same interpreter (for instance a build of an older tree). Each side runs in
child processes, three rounds in turn; the table shows the best per-call
time of each method on each side and their ratio.
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
print(json.dumps({{row.method: row.module / row.calls * 1e9 for row in rows}}))
"""


def measure(extra_path, calls):
    env = dict(os.environ)
    if extra_path:
        env["PYTHONPATH"] = extra_path + os.pathsep + env.get("PYTHONPATH", "")
    output = subprocess.run(
        [sys.executable, "-c", CHILD.format(here=HERE, calls=calls)],
        check=True, capture_output=True, text=True, env=env,
    ).stdout
    return json.loads(output.splitlines()[-1])


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    other = os.path.abspath(sys.argv[1])
    calls = int(sys.argv[2]) if len(sys.argv) > 2 else 50_000
    best = {"other": {}, "this": {}}
    for _ in range(3):
        for side, path in (("other", other), ("this", None)):
            for method, nanoseconds in measure(path, calls).items():
                best[side][method] = min(nanoseconds, best[side].get(method, float("inf")))
    print("| method | other build, per call | this build, per call | this / other |")
    print("|---|---|---|---|")
    for method, before in best["other"].items():
        after = best["this"][method]
        print(f"| `{method}` | {before:,.0f} ns | {after:,.0f} ns | {after / before:.2f} |")


if __name__ == "__main__":
    main()
