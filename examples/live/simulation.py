"""A simulated source of graph changes for the live view, and the graph it
has made so far.

Each change is recorded into a `PyGraphDiff` and made to the graph held
here, so that the graph is always what applying every recorded diff in
order to an empty graph gives. Deleted nodes are never used again: a diff
cannot say "deleted, then created anew" (it would only say "updated"), so a
receiver would keep the old node's attributes and edges.
"""

import random
import struct
import uuid

from quorl_api import PyGraphDiff

COLOURS = [(230, 85, 13), (49, 130, 189), (49, 163, 84), (117, 107, 177), (99, 99, 99), (214, 39, 40)]
WORDS = ["ash", "birch", "cedar", "elm", "fir", "hazel", "larch", "maple", "oak", "pine", "rowan", "yew"]


def float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


class Pool:
    """Items with picking at random, adding and removing in constant time."""

    def __init__(self):
        self.items = []
        self.index = {}

    def __len__(self):
        return len(self.items)

    def add(self, item):
        self.index[item] = len(self.items)
        self.items.append(item)

    def remove(self, item):
        position = self.index.pop(item)
        last = self.items.pop()
        if position < len(self.items):
            self.items[position] = last
            self.index[last] = position

    def pick(self, rng):
        return self.items[rng.randrange(len(self.items))]


class Simulation:
    """Makes random changes to a graph of at most `max_nodes` nodes."""

    def __init__(self, seed=None, max_nodes=1000):
        self.rng = random.Random(seed)
        self.max_nodes = max_nodes
        self.nodes = {}  # id -> attributes, as the module's readings name them
        self.out_edges = {}  # source -> {target: weight}
        self.in_edges = {}  # target -> set of sources
        self.node_pool = Pool()
        self.sources = Pool()  # the nodes that have out-edges
        self.created = 0
        self.changes = 0

    def edge_count(self):
        return sum(len(targets) for targets in self.out_edges.values())

    def step(self, diff, changed=None):
        """Makes one change, records it into `diff` and adds what it
        touched to `changed` (a set) if one is given."""
        self.changes += 1
        roll = self.rng.random()
        if len(self.nodes) < 8 or (roll < 0.22 and len(self.nodes) < self.max_nodes):
            self._add_node(diff, changed)
        elif roll < 0.35:
            self._update_node(diff, changed)
        elif roll < 0.78 or len(self.sources) == 0:
            self._set_edge(diff, changed)
        elif roll < 0.92 or len(self.nodes) < self.max_nodes // 2:
            self._delete_edge(diff, changed)
        else:
            self._delete_node(diff, changed)

    def _add_node(self, diff, changed):
        node = uuid.UUID(int=self.rng.getrandbits(128), version=4).bytes
        self.created += 1
        red, green, blue = self.rng.choice(COLOURS)
        attributes = {
            "label": f"{self.rng.choice(WORDS)} {self.created}",
            "size": float32(self.rng.uniform(2, 9)),
            "red": red,
            "green": green,
            "blue": blue,
        }
        if self.rng.random() < 0.05:
            attributes["show_label"] = True
            attributes["url"] = f"https://example.org/nodes/{self.created}"
        self.nodes[node] = attributes
        self.node_pool.add(node)
        diff.add_node(node, attributes)
        if changed is not None:
            changed.add(node)

    def _update_node(self, diff, changed):
        node = self.node_pool.pick(self.rng)
        if self.rng.random() < 0.5:
            update = {"size": float32(self.rng.uniform(2, 12))}
        else:
            red, green, blue = self.rng.choice(COLOURS)
            update = {"red": red, "green": green, "blue": blue}
        self.nodes[node].update(update)
        diff.add_node(node, update)
        if changed is not None:
            changed.add(node)

    def _set_edge(self, diff, changed):
        source = self.node_pool.pick(self.rng)
        target = self.node_pool.pick(self.rng)
        weight = float32(self.rng.choice([0.25, 0.5, 1.0, 2.0]) * self.rng.uniform(0.5, 1.5))
        targets = self.out_edges.setdefault(source, {})
        if not targets:
            self.sources.add(source)
        targets[target] = weight
        self.in_edges.setdefault(target, set()).add(source)
        diff.add_edge(source, target, weight)
        if changed is not None:
            changed.add((source, target))

    def _delete_edge(self, diff, changed):
        source = self.sources.pick(self.rng)
        targets = self.out_edges[source]
        target = self.rng.choice(list(targets))
        self._forget_edge(source, target)
        diff.delete_edge(source, target)
        if changed is not None:
            changed.add((source, target))

    def _forget_edge(self, source, target):
        targets = self.out_edges[source]
        del targets[target]
        if not targets:
            del self.out_edges[source]
            self.sources.remove(source)
        sources = self.in_edges[target]
        sources.discard(source)
        if not sources:
            del self.in_edges[target]

    def _delete_node(self, diff, changed):
        node = self.node_pool.pick(self.rng)
        for target in list(self.out_edges.get(node, ())):
            self._forget_edge(node, target)
        for source in list(self.in_edges.get(node, ())):
            self._forget_edge(source, node)
        del self.nodes[node]
        self.node_pool.remove(node)
        diff.delete_node(node)
        if changed is not None:
            changed.add(node)

    def snapshot(self):
        """The graph as one diff: what a client that connects now starts from."""
        diff = PyGraphDiff()
        for node, attributes in self.nodes.items():
            diff.add_node(node, attributes)
        for source, targets in self.out_edges.items():
            for target, weight in targets.items():
                diff.add_edge(source, target, weight)
        return diff

    def elements(self):
        """Every node and edge, as `step` names them in `changed`."""
        return set(self.nodes) | {(s, t) for s, targets in self.out_edges.items() for t in targets}

    def state(self):
        """The graph for JSON, attributes named as the byte form names them."""
        key = {"show_label": "showLabel"}
        return {
            "nodes": {
                str(uuid.UUID(bytes=node)): {key.get(name, name): value for name, value in attributes.items()}
                for node, attributes in self.nodes.items()
            },
            "edges": [
                [str(uuid.UUID(bytes=source)), str(uuid.UUID(bytes=target)), weight]
                for source, targets in self.out_edges.items()
                for target, weight in targets.items()
            ],
        }
