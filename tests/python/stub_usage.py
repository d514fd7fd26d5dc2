"""Ordinary use of the module, which a strict type checker must accept with
the shipped stubs (checked by test_stubs.py; not run as a test)."""

import uuid

from quorl_api import PyGraphDiff


def build() -> PyGraphDiff:
    diff = PyGraphDiff()
    first, second = uuid.uuid4().bytes, uuid.uuid4().bytes
    diff.add_node(first, {"label": "a", "url": "", "size": 2, "red": 255, "show_label": True})
    diff.add_node(id=second, update={})
    diff.add_edge(first, second, 0.5)
    diff.add_edge(first, to=second, weight=1)
    diff.delete_edge(second, first)
    diff.delete_node(second)
    return diff


def summarise(diff: PyGraphDiff) -> dict[str, int]:
    nodes: dict[str, dict[str, str | float | int | bool]] = diff.new_or_updated_nodes()
    deleted: list[str] = diff.deleted_nodes()
    edges: dict[str, dict[str, float]] = diff.new_or_updated_edges()
    deleted_edges: dict[str, list[str]] = diff.deleted_edges()
    labels = [str(attributes.get("label", "")) for attributes in nodes.values()]
    return {
        "nodes": diff.num_nodes(),
        "edges": diff.num_edges(),
        "listed": len(deleted) + len(edges) + len(deleted_edges) + len(labels),
    }


def load(diff: PyGraphDiff) -> tuple[bytes, bytes, bytes]:
    import array

    ids = [uuid.uuid4().bytes for _ in range(3)]
    recorded: int = diff.add_edges(ids, b"".join(reversed(ids)), array.array("f", [1, 2, 3]))
    diff.add_edges(sources=memoryview(b"".join(ids)), targets=tuple(ids), weights=[1, 2.5, recorded])
    diff.delete_edges(ids[:1], bytearray(ids[1]))
    diff.add_nodes(ids, [{"label": "a"}, {}, {"red": 1}])
    diff.delete_nodes(ids[2])
    deleted: bytes = diff.deleted_node_ids()
    gone_sources, gone_targets = diff.deleted_edge_arrays()
    return diff.new_or_updated_edge_arrays()


def copy(diff: PyGraphDiff) -> PyGraphDiff:
    encoded: bytes = diff.to_bytes()
    return PyGraphDiff.from_bytes(encoded)


def coalesce(pending: PyGraphDiff, batch: PyGraphDiff) -> PyGraphDiff:
    pending.merge(batch)
    pending.merge(other=batch)
    return pending


if __name__ == "__main__":
    print(summarise(build()))
