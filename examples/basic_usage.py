"""Record a few changes to a graph, read them back, and ship them as bytes
to a second process that rebuilds the diff.

Run after `pip install .`:  python examples/basic_usage.py
It also writes the byte form to examples/web/sample.bin, for the inspector
page examples/web/inspect.html (whose script `node js/build-classic.mjs`
generates).
"""

import subprocess
import sys
import uuid
from functools import partial
from pathlib import Path
from pprint import pprint as pprint_sorted

from quorl_api import PyGraphDiff

# Show attribute keys in the order the module gives them.
pprint = partial(pprint_sorted, sort_dicts=False)

# Node ids are the 16 bytes of a UUID; readings give them back as text.
alice, bob, carol = (uuid.uuid4().bytes for _ in range(3))
names = {str(uuid.UUID(bytes=i)): n for i, n in [(alice, "alice"), (bob, "bob"), (carol, "carol")]}


def show(title, diff):
    def name(text):
        return names.get(text, text)

    print(f"--- {title}")
    print("new or updated nodes:")
    pprint({name(i): attributes for i, attributes in diff.new_or_updated_nodes().items()})
    print("deleted nodes:", sorted(name(i) for i in diff.deleted_nodes()))
    print("new or updated edges:")
    edges = diff.new_or_updated_edges()
    pprint({name(s): {name(t): w for t, w in ts.items()} for s, ts in edges.items()})
    print("deleted edges:")
    pprint({name(s): sorted(name(t) for t in ts) for s, ts in diff.deleted_edges().items()})
    # num_edges counts source nodes, including those whose edges a node
    # deletion took away.
    print("counts: nodes", diff.num_nodes(), "edge sources", diff.num_edges())


diff = PyGraphDiff()

# Attributes are optional and merge field by field: the later value wins.
diff.add_node(alice, {"label": "Alice", "red": 255, "green": 0, "blue": 0})
diff.add_node(alice, {"size": 2.5, "show_label": True})
diff.add_node(bob, {"label": "Bob", "url": "https://example.org/bob"})
diff.add_node(carol, {})

# Weights are stored as 32-bit floats: 0.1 reads back as 0.10000000149011612.
diff.add_edge(alice, bob, 0.1)
diff.add_edge(carol, bob, 3.0)
diff.add_edge(bob, alice, 1.0)
show("after adding nodes and edges", diff)

# Deleting bob drops his record and his outgoing edge, and turns the edges
# that point at him into edge deletions.
diff.delete_node(bob)
show("after deleting bob", diff)

# An edge at a node marked deleted is ignored without an error.
diff.add_edge(alice, bob, 5.0)
print("--- alice -> bob recorded after bob's deletion:", diff.new_or_updated_edges() != {})

# The byte form carries the whole diff to another process: here a child
# Python reads it from its standard input and rebuilds an equal diff.
RECEIVER = """
import sys
from quorl_api import PyGraphDiff
received = PyGraphDiff.from_bytes(sys.stdin.buffer.read())
print("--- the receiving process rebuilt:")
print("nodes", sorted(received.new_or_updated_nodes().values(), key=str))
print("deleted edges", sum(len(t) for t in received.deleted_edges().values()))
print("counts: nodes", received.num_nodes(), "edge sources", received.num_edges())
"""
data = diff.to_bytes()
# The same bytes in a file, for examples/web/inspect.html to open.
sample = Path(__file__).resolve().parent / "web" / "sample.bin"
sample.write_bytes(data)
print(
    f"--- wrote {sample}: run `node js/build-classic.mjs` once, then open "
    "examples/web/inspect.html in a browser and choose it"
)
print(f"--- sending {len(data)} bytes to a second process")
sys.stdout.flush()
subprocess.run([sys.executable, "-c", RECEIVER], input=data, check=True)

# Bulk editing: whole columns in one call, from bytes (16 per id), NumPy
# arrays or lists, with the effect of one call per item in order.
people = [uuid.uuid4().bytes for _ in range(1000)]
bulk = PyGraphDiff()
sources = b"".join(people[i] for i in range(999))
targets = b"".join(people[i + 1] for i in range(999))
recorded = bulk.add_edges(sources, targets, [float(i) for i in range(999)])
bulk.delete_nodes(people[:10])
src, dst, weights = bulk.new_or_updated_edge_arrays()
print(f"--- bulk: {recorded} edges recorded; after deleting 10 nodes "
      f"{len(weights) // 4} remain and {len(bulk.deleted_node_ids()) // 16} nodes are deleted")
