"""Random sequences of edits, checked against a small model of the editing
rules written here in plain Python."""

import uuid

from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from quorl_api import PyGraphDiff

IDS = [bytes([index]) * 16 for index in range(4)]
KEY_ORDER = ["label", "url", "size", "red", "green", "blue", "show_label"]

ids = st.sampled_from(IDS)
# Weights and sizes that a float32 holds exactly, so the model can keep them as given.
float32s = st.floats(width=32, allow_nan=False)
updates = st.fixed_dictionaries(
    {},
    optional={
        "label": st.sampled_from(["", "a", "b"]),
        "url": st.sampled_from(["", "u"]),
        "size": float32s,
        "red": st.integers(0, 255),
        "green": st.integers(0, 255),
        "blue": st.integers(0, 255),
        "show_label": st.booleans(),
    },
)


def text(node_id):
    return str(uuid.UUID(bytes=node_id))


class DiffModel:
    """The editing rules, over plain dictionaries and sets."""

    def __init__(self):
        self.clear()

    def clear(self):
        self.nodes = {}  # id -> attributes
        self.deleted = set()
        self.edges = {}  # source -> {target: weight}; may hold an emptied map
        self.deleted_edges = {}  # source -> {targets}

    def add_node(self, node, update):
        self.nodes.setdefault(node, {}).update(update)
        self.deleted.discard(node)

    def delete_node(self, node):
        self.nodes.pop(node, None)
        self.edges.pop(node, None)
        for source, targets in self.edges.items():
            if node in targets:
                del targets[node]
                self.deleted_edges.setdefault(source, set()).add(node)
        self.deleted.add(node)

    def add_edge(self, source, target, weight):
        if source in self.deleted or target in self.deleted:
            return
        self.deleted_edges.get(source, set()).discard(target)
        if not self.deleted_edges.get(source, True):
            del self.deleted_edges[source]
        self.edges.setdefault(source, {})[target] = weight

    def delete_edge(self, source, target):
        self.deleted_edges.setdefault(source, set()).add(target)
        if source in self.edges:
            self.edges[source].pop(target, None)
            if not self.edges[source]:
                del self.edges[source]


class EditingMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.diff = PyGraphDiff()
        self.model = DiffModel()

    @rule(node=ids, update=updates)
    def add_node(self, node, update):
        self.diff.add_node(node, update)
        self.model.add_node(node, update)

    @rule(node=ids)
    def delete_node(self, node):
        self.diff.delete_node(node)
        self.model.delete_node(node)

    # ("target" is taken by hypothesis's rule(), hence "end".)
    @rule(start=ids, end=ids, weight=float32s)
    def add_edge(self, start, end, weight):
        assert self.diff.add_edge(start, end, weight) is None
        self.model.add_edge(start, end, weight)

    @rule(start=ids, end=ids)
    def delete_edge(self, start, end):
        self.diff.delete_edge(start, end)
        self.model.delete_edge(start, end)

    @rule()
    def clear(self):
        self.diff.clear()
        self.model.clear()

    @invariant()
    def readings_match_the_model(self):
        model = self.model
        nodes = self.diff.new_or_updated_nodes()
        assert nodes == {text(node): attributes for node, attributes in model.nodes.items()}
        for attributes in nodes.values():
            assert list(attributes) == [key for key in KEY_ORDER if key in attributes]

        deleted = self.diff.deleted_nodes()
        assert sorted(deleted) == sorted(text(node) for node in model.deleted)

        assert self.diff.new_or_updated_edges() == {
            text(source): {text(target): weight for target, weight in targets.items()}
            for source, targets in model.edges.items()
            if targets
        }

        deleted_edges = self.diff.deleted_edges()
        assert {source: sorted(targets) for source, targets in deleted_edges.items()} == {
            text(source): sorted(text(target) for target in targets)
            for source, targets in model.deleted_edges.items()
        }

        assert self.diff.num_nodes() == len(model.nodes) + len(model.deleted)
        assert self.diff.num_edges() == len(model.edges) + len(model.deleted_edges)


# No deadline: a step is slow under a sanitizer build.
EditingMachine.TestCase.settings = settings(max_examples=200, stateful_step_count=40, deadline=None)
test_editing_follows_the_model = EditingMachine.TestCase
