"""Random sequences of edits, checked against the editing rules written in
plain Python (the same pure-Python diff the benchmark measures)."""

from hypothesis import settings
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, invariant, rule

from pure_graph_diff import PureGraphDiff
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


class EditingMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.diff = PyGraphDiff()
        self.model = PureGraphDiff()

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
        diff, model = self.diff, self.model
        nodes = diff.new_or_updated_nodes()
        assert nodes == model.new_or_updated_nodes()
        for attributes in nodes.values():
            assert list(attributes) == [key for key in KEY_ORDER if key in attributes]
        assert sorted(diff.deleted_nodes()) == sorted(model.deleted_nodes())
        assert diff.new_or_updated_edges() == model.new_or_updated_edges()
        assert {source: sorted(targets) for source, targets in diff.deleted_edges().items()} == {
            source: sorted(targets) for source, targets in model.deleted_edges_reading().items()
        }
        assert (diff.num_nodes(), diff.num_edges()) == (model.num_nodes(), model.num_edges())


# No deadline: a step is slow under a sanitizer build.
EditingMachine.TestCase.settings = settings(max_examples=200, stateful_step_count=40, deadline=None)
test_editing_follows_the_model = EditingMachine.TestCase
