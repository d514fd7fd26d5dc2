"""Storage figures of this tree side by side with those of another tree.

Builds the core library of both trees (in build/storage-*, never inside the
other tree), compiles bench/bench_storage.cpp against each, runs every figure
in both builds one after the other and prints one markdown table:

    python3 bench/compare_storage.py /path/to/older/tree [figure ...]

Figures: flooding memory decode_peak in_star codec operations (default: all).
Only the ratios between figures measured in the same run mean anything.
"""

import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
FIGURES = ["flooding", "memory", "decode_peak", "in_star", "codec", "operations"]


def build(tree, name):
    build_dir = os.path.join(ROOT, "build", "storage-" + name)
    subprocess.run(
        ["cmake", "-S", tree, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
         "-DQUORL_BUILD_EXTENSION=OFF", "-DQUORL_BUILD_TESTS=OFF"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "quorl_core"],
                   check=True, stdout=subprocess.DEVNULL)
    program = os.path.join(build_dir, "bench_storage")
    # The heap probe is this tree's, whatever tree the program is built against.
    support = os.path.join(ROOT, "tests", "support")
    # An older tree's codec has its own vector encoder, which this tree's
    # support would define a second time.
    older = [] if os.path.exists(os.path.join(tree, "tests", "support", "byte_string.hpp")) else [
        "-DQUORL_VECTOR_ENCODER_IN_CODEC"]
    subprocess.run(
        ["g++", "-std=c++23", "-O3", "-DNDEBUG", *older, "-I", os.path.join(tree, "src"), "-I", support,
         os.path.join(HERE, "bench_storage.cpp"), os.path.join(support, "heap_probe.cpp"),
         os.path.join(build_dir, "libquorl_core.a"), "-o", program],
        check=True)
    return build_dir, program


def run(build_dir, program, figure):
    output = subprocess.run([program, figure], cwd=build_dir, check=True,
                            capture_output=True, text=True).stdout
    return dict((name, float(value)) for name, value in
                (line.split() for line in output.splitlines() if line.strip()))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    figures = sys.argv[2:] or FIGURES
    today = build(os.path.abspath(sys.argv[1]), "baseline")
    after = build(ROOT, "current")
    print("| figure | today | after | after / today |")
    print("|---|---|---|---|")
    for figure in figures:
        before = run(*today, figure)
        now = run(*after, figure)
        for name in list(before) + [name for name in now if name not in before]:
            old, new = before.get(name), now.get(name)
            ratio = f"{new / old:.2f}" if old and new is not None else ""
            print(f"| {name} | {'' if old is None else f'{old:.3g}'} | "
                  f"{'' if new is None else f'{new:.3g}'} | {ratio} |", flush=True)


if __name__ == "__main__":
    main()
