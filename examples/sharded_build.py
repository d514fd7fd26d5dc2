"""Sharded production: the diff of a large edge list, built in pieces on the
worker processes of a Dask cluster and merged in partition order.

The edge list (generated here) is split into partitions. Each partition's
diff is built on a worker: its edges and a label for every source it
introduces. The diffs come back through Dask's own serialisation (pickle
protocol 5, the byte form out of band) and a tree reduction merges them in
partition order. The diffs hold no deletions, so any tree of merges gives
the bytes of a left fold, and those are the bytes of one process recording
every partition in order, which the example checks.

    python examples/sharded_build.py [--edges N] [--partitions P] [--workers W]

Needs dask and distributed (pip install "dask[distributed]").
"""

import argparse
import random
import sys
import time

import dask.bag
from dask.distributed import Client, LocalCluster

from quorl_api import PyGraphDiff


def edge_list(edges, nodes, seed):
    """`edges` (source, target, weight) over `nodes` random ids, sources in
    runs as an export of a graph database gives them."""
    rng = random.Random(seed)
    ids = [rng.randbytes(16) for _ in range(nodes)]
    listed = []
    while len(listed) < edges:
        source = rng.choice(ids)
        for _ in range(rng.randint(1, 20)):
            listed.append((source, rng.choice(ids), rng.random()))
    return listed[:edges]


def record(diff, edges):
    """Records one partition: its edges and a label for each new source."""
    sources = [source for source, _, _ in edges]
    diff.add_edges(sources, [target for _, target, _ in edges], [weight for _, _, weight in edges])
    labelled = list(dict.fromkeys(sources))
    diff.add_nodes(labelled, [{"label": source.hex()[:8]} for source in labelled])
    return diff


def build_partition(chunks):
    """Runs on a worker: the diff of one partition's chunks of edges."""
    # Imported here: Dask pickles this script's functions by value, with the
    # globals they use, and the class (whose __module__ is "builtins") can
    # only be found by importing the module.
    from quorl_api import PyGraphDiff as WorkerGraphDiff

    diff = WorkerGraphDiff()
    for chunk in chunks:
        record(diff, chunk)
    return diff


def merge_in_order(diffs):
    """Merges a run of partition results, left to right, into the first."""
    diffs = list(diffs)
    merged = diffs[0]
    for diff in diffs[1:]:
        merged.merge(diff)
    return merged


def sharded_build(client, chunks):
    bag = dask.bag.from_sequence(chunks, npartitions=len(chunks))
    # reduction(per partition, aggregate): the aggregate takes consecutive
    # partition results in partition order, two at a time (split_every).
    total = bag.reduction(build_partition, merge_in_order, split_every=2)
    return client.compute(total).result()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--edges", type=int, default=200_000)
    parser.add_argument("--nodes", type=int, default=20_000)
    parser.add_argument("--partitions", type=int, default=8)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--seed", type=int, default=19)
    args = parser.parse_args()

    edges = edge_list(args.edges, args.nodes, args.seed)
    bounds = [len(edges) * index // args.partitions for index in range(args.partitions + 1)]
    chunks = [edges[first:last] for first, last in zip(bounds, bounds[1:])]
    with LocalCluster(
        n_workers=args.workers, threads_per_worker=1, processes=True, dashboard_address=None
    ) as cluster, Client(cluster) as client:
        started = time.perf_counter()
        merged = sharded_build(client, chunks)
        sharded_seconds = time.perf_counter() - started

    # The same partitions recorded one after another in this process.
    expected = PyGraphDiff()
    for chunk in chunks:
        record(expected, chunk)
    if merged.to_bytes() != expected.to_bytes():
        print("sharded build: the merged diff differs from the one recorded in order", file=sys.stderr)
        sys.exit(1)
    print(
        f"sharded build: {len(edges)} edges in {args.partitions} partitions on {args.workers} "
        f"workers merged in {sharded_seconds:.2f} s into {merged.num_edges()} sources and "
        f"{merged.num_nodes()} labelled nodes, byte for byte the diff recorded in one process"
    )


if __name__ == "__main__":
    main()
