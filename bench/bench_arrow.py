"""Arrow columns in and Arrow tables out, side by side with the NumPy
buffers, the lists of dicts and the dictionary readings they replace,
printed as one markdown table of ratios. CPython, with numpy, pyarrow and
polars installed:

    python bench/bench_arrow.py            # 10^6 edges, 10^5 nodes
    python bench/bench_arrow.py --quick    # small sizes, for a smoke run
    python bench/bench_arrow.py --cpu      # process CPU time, not the clock

Every figure is the best of several repeats, measured in the same run as
its baseline, the repeats of a figure and of its baseline taking turns:
the machines are shared and noisy, so only ratios mean anything. --cpu
times by the process's CPU time, which other processes on the machine
disturb less than they disturb the clock.
"""

import argparse
import gc
import time

import numpy as np
import polars as pl
import pyarrow as pa

from quorl_api import PyGraphDiff


clock = time.perf_counter


def best_times(repeats, runs, setup=lambda: None):
    """The best time of each of `runs` (name: run(state)), the runs taking
    turns so that none gets a quieter machine than another."""
    best = dict.fromkeys(runs, float("inf"))
    for _ in range(repeats):
        for name, run in runs.items():
            state = setup()
            gc.collect()
            gc.disable()
            try:
                start = clock()
                run(state)
                best[name] = min(best[name], clock() - start)
            finally:
                gc.enable()
    return best


def edge_columns(edges, sources):
    """`edges` edges over `sources` sources, grouped by source as a loader
    writes them, as NumPy S16 ids and float32 weights."""
    rng = np.random.default_rng(7)
    source_ids = rng.bytes(16 * sources)
    per_source = edges // sources
    picks = np.repeat(np.arange(sources), per_source)
    ids = np.frombuffer(source_ids, dtype="S16")
    targets = np.frombuffer(rng.bytes(16 * edges), dtype="S16")
    return ids[picks].copy(), targets.copy(), rng.random(edges, dtype=np.float32)


def fixed_size(column):
    """The NumPy S16 column as fixed_size_binary(16), without a copy."""
    return pa.FixedSizeBinaryArray.from_buffers(pa.binary(16), len(column), [None, pa.py_buffer(column)])


def bench_edges(edges, sources, repeats):
    numpy_columns = edge_columns(edges, sources)
    arrow_columns = (fixed_size(numpy_columns[0]), fixed_size(numpy_columns[1]), pa.array(numpy_columns[2]))
    polars_columns = (
        pl.Series(arrow_columns[0].cast(pa.binary())),
        pl.Series(arrow_columns[1].cast(pa.binary())),
        pl.Series(numpy_columns[2]),
    )
    assert polars_columns[0].dtype == pl.Binary and polars_columns[2].dtype == pl.Float32

    def adding(columns):
        return lambda d: d.add_edges(*columns)

    times = best_times(
        repeats,
        {"numpy": adding(numpy_columns), "arrow": adding(arrow_columns), "polars": adding(polars_columns)},
        PyGraphDiff,
    )
    numpy_time, arrow_time, polars_time = times["numpy"], times["arrow"], times["polars"]
    return [
        (f"`add_edges` of {edges:,} edges, pyarrow fixed_size_binary(16) + float32", arrow_time,
         f"{arrow_time / numpy_time:.2f}x the NumPy S16 + float32 path", "≤ 1.2x"),
        (f"`add_edges` of {edges:,} edges, polars Binary + Float32", polars_time,
         f"{polars_time / numpy_time:.2f}x the NumPy path", "≤ 2x"),
    ]


def node_rows(count):
    rng = np.random.default_rng(11)
    ids = np.frombuffer(rng.bytes(16 * count), dtype="S16").copy()
    labels = [f"node {index}" for index in range(count)]
    sizes = rng.random(count, dtype=np.float32)
    reds = rng.integers(0, 256, count)
    return ids, labels, sizes, reds


def bench_nodes(count, repeats):
    ids, labels, sizes, reds = node_rows(count)
    table = pa.table({"label": labels, "size": pa.array(sizes), "red": pa.array(reds, pa.uint8())})
    dicts = [
        {"label": label, "size": size, "red": red}
        for label, size, red in zip(labels, sizes.tolist(), reds.tolist())
    ]
    adds = best_times(
        repeats,
        {"table": lambda d: d.add_nodes(ids, table), "dicts": lambda d: d.add_nodes(ids, dicts)},
        PyGraphDiff,
    )
    from_table, from_dicts = adds["table"], adds["dicts"]

    d = PyGraphDiff()
    d.add_nodes(ids, dicts)
    reads = best_times(
        repeats,
        {"table": lambda _: pa.table(d.new_or_updated_node_table()), "dicts": lambda _: d.new_or_updated_nodes()},
    )
    to_table, to_dicts = reads["table"], reads["dicts"]
    return [
        (f"`add_nodes` of {count:,} nodes from an Arrow table (label, size, red)", from_table,
         f"{from_dicts / from_table:.1f}x faster than from a list of dicts", "≥ 3x"),
        (f"`pyarrow.table(d.new_or_updated_node_table())`, {count:,} nodes", to_table,
         f"{to_dicts / to_table:.1f}x faster than `new_or_updated_nodes()`", "≥ 5x"),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke run")
    parser.add_argument("--cpu", action="store_true", help="time by process CPU time")
    parser.add_argument("--repeats", type=int, default=7, help="repeats of each figure")
    options = parser.parse_args()
    global clock
    if options.cpu:
        clock = time.process_time
    edges, sources, nodes, repeats = (20_000, 2_000, 2_000, 2) if options.quick else (10**6, 10**5, 10**5, options.repeats)
    rows = bench_edges(edges, sources, repeats) + bench_nodes(nodes, repeats)
    print("| figure | time | ratio | target |")
    print("|---|---|---|---|")
    for figure, seconds, ratio, target in rows:
        print(f"| {figure} | {seconds * 1e3:,.1f} ms | {ratio} | {target} |")


if __name__ == "__main__":
    main()
