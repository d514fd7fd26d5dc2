"""Load a graph from Parquet files into a diff, send the diff's bytes, and
read what the receiver rebuilt as polars data frames.

Run after `pip install . pyarrow polars`:  python examples/parquet_to_diff.py [DIRECTORY]
It writes nodes.parquet and edges.parquet into DIRECTORY (a temporary one
by default).
"""

import sys
import tempfile
import uuid
from pathlib import Path

import polars as pl
import pyarrow as pa
import pyarrow.parquet as pq

from quorl_api import PyGraphDiff


def write_parquet(directory):
    """A node list and an edge list as a data pipeline would keep them: ids
    as the canonical UUID extension type, weights as float32."""
    ids = [uuid.uuid5(uuid.NAMESPACE_DNS, f"node{index}.example").bytes for index in range(6)]
    id_column = pa.ExtensionArray.from_storage(pa.uuid(), pa.array(ids, pa.binary(16)))
    nodes = pa.table(
        {
            "id": id_column,
            "label": ["alpha", "beta", None, "delta", "epsilon", "zeta"],  # None: no label
            "size": pa.array([2.5, 1.0, 1.0, None, 3.0, 0.5], pa.float32()),
            "red": pa.array([255, 0, 10, 20, None, 30], pa.int64()),
            "rank": [1, 2, 3, 4, 5, 6],  # not a node attribute: ignored
        }
    )
    edges = pa.table(
        {
            "source": pa.array([ids[i] for i in (0, 0, 1, 2, 3, 4)], pa.binary(16)),
            "target": pa.array([ids[i] for i in (1, 2, 2, 3, 4, 5)], pa.binary(16)),
            "weight": pa.array([0.5, 1.5, 2.0, 0.25, 4.0, 1.0], pa.float32()),
        }
    )
    pq.write_table(nodes, directory / "nodes.parquet")
    # Small row groups: the edge column arrives in several chunks.
    pq.write_table(edges, directory / "edges.parquet", row_group_size=2)


def build_diff(directory):
    nodes = pq.read_table(directory / "nodes.parquet")
    edges = pq.read_table(directory / "edges.parquet")
    diff = PyGraphDiff()
    # Columns go in as they are: no Python object per row.
    diff.add_nodes(nodes["id"], nodes)
    recorded = diff.add_edges(edges["source"], edges["target"], edges["weight"])
    print(f"recorded {recorded} edges from {edges.num_rows} rows in {edges['source'].num_chunks} chunks")
    return diff


def main():
    directory = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(tempfile.mkdtemp())
    directory.mkdir(parents=True, exist_ok=True)
    write_parquet(directory)
    sent = build_diff(directory).to_bytes()
    print(f"sending {len(sent)} bytes")

    received = PyGraphDiff.from_bytes(sent)
    nodes = pl.DataFrame(received.new_or_updated_node_table())
    edges = pl.DataFrame(received.new_or_updated_edge_table())
    # Ids come as 16 bytes; show them as text.
    as_text = pl.col(pl.Binary).map_elements(lambda raw: str(uuid.UUID(bytes=raw))[:8], return_dtype=pl.String)
    with pl.Config(tbl_rows=20, tbl_width_chars=120):
        print(nodes.with_columns(as_text).select("id", "label", "size", "red"))
        print(edges.with_columns(as_text))
    assert nodes.height == 6 and edges.height == 6
    assert edges["weight"].sum() == 9.25


if __name__ == "__main__":
    main()
