"""The editing and reading methods as Python sees them: binding, the method
table, and the readings after the editing rules."""

import uuid

import pytest

from quorl_api import PyGraphDiff


A = bytes(range(16))
B = bytes(range(16, 32))
C = bytes(range(32, 48))
X = b"\xee" * 16


def text(node_id):
    return str(uuid.UUID(bytes=node_id))


def readings(d):
    return (
        d.new_or_updated_nodes(),
        d.deleted_nodes(),
        d.new_or_updated_edges(),
        d.deleted_edges(),
        d.num_nodes(),
        d.num_edges(),
    )


EMPTY = ({}, [], {}, {}, 0, 0)

BINDING_ERRORS = [
    (lambda d: d.add_node(A, {}, 3), "add_node() takes 2 positional arguments but 3 were given"),
    (lambda d: d.add_node(A, id=A), "add_node() got multiple values for argument 'id'"),
    (lambda d: d.add_node(A), "add_node() missing 1 required positional argument: 'update'"),
    (lambda d: d.add_node(update={}), "add_node() missing 1 required positional argument: 'id'"),
    (
        lambda d: d.add_node(),
        "add_node() missing 2 required positional arguments: 'id' and 'update'",
    ),
    (lambda d: d.add_node(A, {}, x=1), "add_node() got an unexpected keyword argument 'x'"),
    (lambda d: d.delete_node(), "delete_node() missing 1 required positional argument: 'id'"),
    (lambda d: d.delete_node(A, A), "delete_node() takes 1 positional arguments but 2 were given"),
    # Too many positional arguments is checked before any keyword.
    (
        lambda d: d.delete_node(A, A, id=A),
        "delete_node() takes 1 positional arguments but 2 were given",
    ),
    # An unexpected keyword is refused even when every parameter is given.
    (lambda d: d.delete_node(A, x=1), "delete_node() got an unexpected keyword argument 'x'"),
    (
        lambda d: d.delete_node(**{"from": A}),
        "delete_node() got an unexpected keyword argument 'from'",
    ),
    (
        lambda d: d.add_edge(),
        "add_edge() missing 3 required positional arguments: 'from', 'to', and 'weight'",
    ),
    (
        lambda d: d.add_edge(A),
        "add_edge() missing 2 required positional arguments: 'to' and 'weight'",
    ),
    (
        lambda d: d.add_edge(to=B),
        "add_edge() missing 2 required positional arguments: 'from' and 'weight'",
    ),
    (lambda d: d.add_edge(A, B), "add_edge() missing 1 required positional argument: 'weight'"),
    (
        lambda d: d.add_edge(A, B, 1.0, 2.0),
        "add_edge() takes 3 positional arguments but 4 were given",
    ),
    (
        lambda d: d.add_edge(A, **{"to": B, "weight": 1.0, "from": C}),
        "add_edge() got multiple values for argument 'from'",
    ),
    (
        lambda d: d.add_edge(A, B, weight=1.0, x=1),
        "add_edge() got an unexpected keyword argument 'x'",
    ),
    (
        lambda d: d.delete_edge(),
        "delete_edge() missing 2 required positional arguments: 'from' and 'to'",
    ),
    (
        lambda d: d.delete_edge(**{"from": A}),
        "delete_edge() missing 1 required positional argument: 'to'",
    ),
    (
        lambda d: d.delete_edge(A, B, C),
        "delete_edge() takes 2 positional arguments but 3 were given",
    ),
    (
        lambda d: d.delete_edge(A, B, weight=1.0),
        "delete_edge() got an unexpected keyword argument 'weight'",
    ),
    (
        lambda d: d.delete_edge(B, to=C, **{"from": A}),
        "delete_edge() got multiple values for argument 'from'",
    ),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_errors(call, message):
    d = PyGraphDiff()
    with pytest.raises(TypeError) as info:
        call(d)
    assert str(info.value) == "PyGraphDiff." + message
    assert readings(d) == EMPTY


def test_binding_fails_before_any_argument_is_converted():
    # The bad id would be reported if conversion came first.
    with pytest.raises(TypeError, match=r"^PyGraphDiff\.add_edge\(\) takes"):
        PyGraphDiff().add_edge(b"bad", b"bad", "bad", 4)


@pytest.mark.parametrize(
    "call",
    [
        lambda d: d.add_node(update={"label": "a"}, id=A),
        lambda d: d.add_node(A, update={"label": "a"}),
        lambda d: d.add_edge(**{"weight": 2.0, "to": B, "from": A}),
        lambda d: d.add_edge(A, weight=2.0, to=B),
        lambda d: d.delete_node(id=X),
        lambda d: d.delete_edge(to=C, **{"from": B}),
    ],
)
def test_keywords_in_any_order(call):
    d = PyGraphDiff()
    assert call(d) is None
    assert d.num_nodes() + d.num_edges() == 1


def test_new_instance_readings_are_empty():
    assert readings(PyGraphDiff()) == EMPTY


def cascade(d):
    d.add_edge(A, X, 1.0)
    d.add_edge(X, B, 2.0)
    d.delete_node(X)


SCENARIOS = [
    pytest.param(
        lambda d: d.add_node(bytes(16), {"label": "a"}),
        ({"00000000-0000-0000-0000-000000000000": {"label": "a"}}, [], {}, {}, 1, 0),
        id="add-node",
    ),
    pytest.param(
        lambda d: (d.add_node(A, {"label": "x"}), d.add_node(A, {"size": 2.0})),
        ({text(A): {"label": "x", "size": 2.0}}, [], {}, {}, 1, 0),
        id="updates-merge",
    ),
    pytest.param(
        lambda d: (d.add_node(A, {"label": "x"}), d.delete_node(A), d.add_node(A, {"size": 2.0})),
        ({text(A): {"size": 2.0}}, [], {}, {}, 1, 0),
        id="re-added-node-starts-afresh",
    ),
    pytest.param(
        lambda d: (d.delete_node(X), d.add_edge(A, X, 1.0), d.add_edge(X, A, 1.0)),
        ({}, [text(X)], {}, {}, 1, 0),
        id="edge-at-deleted-node-refused",
    ),
    pytest.param(
        lambda d: (d.add_edge(A, B, 1.0), d.add_edge(A, B, 3.0), d.add_edge(A, C, 0.1)),
        ({}, [], {text(A): {text(B): 3.0, text(C): 0.10000000149011612}}, {}, 0, 1),
        id="edges-counted-by-source",
    ),
    pytest.param(
        cascade,
        ({}, [text(X)], {}, {text(A): [text(X)]}, 1, 2),
        id="delete-node-cascades",
    ),
    pytest.param(
        lambda d: (cascade(d), d.delete_edge(A, C)),
        ({}, [text(X)], {}, {text(A): [text(X), text(C)]}, 1, 1),
        id="emptied-source-goes-on-delete-edge",
    ),
    pytest.param(
        lambda d: (d.add_edge(A, A, 1.0), d.delete_node(A)),
        ({}, [text(A)], {}, {}, 1, 0),
        id="loop-dropped-with-its-node",
    ),
    pytest.param(
        lambda d: d.delete_edge(A, B),
        ({}, [], {}, {text(A): [text(B)]}, 0, 1),
        id="delete-unknown-edge",
    ),
    pytest.param(
        lambda d: (d.delete_edge(A, B), d.add_edge(A, B, 1.0)),
        ({}, [], {text(A): {text(B): 1.0}}, {}, 0, 1),
        id="set-after-delete",
    ),
    pytest.param(
        lambda d: (d.add_edge(A, B, 1.0), d.delete_edge(A, B)),
        ({}, [], {}, {text(A): [text(B)]}, 0, 1),
        id="delete-after-set",
    ),
    pytest.param(
        lambda d: (d.delete_node(A), d.delete_edge(A, B)),
        ({}, [text(A)], {}, {text(A): [text(B)]}, 1, 1),
        id="delete-edge-at-deleted-node",
    ),
    pytest.param(
        lambda d: (cascade(d), d.add_node(B, {"red": 1}), d.delete_edge(B, C), d.clear()),
        EMPTY,
        id="clear",
    ),
]


def unordered(reading):
    """Readings list entries in the containers' own order; compare without it."""
    nodes, deleted, edges, deleted_edges, num_nodes, num_edges = reading
    return (
        nodes,
        sorted(deleted),
        edges,
        {source: sorted(targets) for source, targets in deleted_edges.items()},
        num_nodes,
        num_edges,
    )


@pytest.mark.parametrize("edit, expected", SCENARIOS)
def test_readings_after_edits(edit, expected):
    d = PyGraphDiff()
    edit(d)
    assert unordered(readings(d)) == unordered(expected)


def test_every_editing_method_returns_none():
    d = PyGraphDiff()
    d.delete_node(X)
    results = [
        d.add_node(A, {}),
        d.add_edge(A, B, 1.0),
        d.add_edge(A, X, 1.0),  # refused: X is deleted
        d.delete_edge(A, B),
        d.delete_node(A),
        d.clear(),
    ]
    assert results == [None] * len(results)


def test_results_share_nothing_with_the_diff():
    d = PyGraphDiff()
    d.add_node(A, {"label": "a"})
    d.delete_node(X)
    d.add_edge(A, B, 1.0)
    d.delete_edge(B, C)
    first = readings(d)
    nodes, deleted, edges, deleted_edges, _, _ = first
    nodes[text(A)]["label"] = "changed"
    nodes[text(B)] = {}
    deleted.append("x")
    edges[text(A)][text(B)] = 5.0
    deleted_edges[text(B)].clear()
    second = readings(d)
    assert second == (
        {text(A): {"label": "a"}},
        [text(X)],
        {text(A): {text(B): 1.0}},
        {text(B): [text(C)]},
        2,
        2,
    )
    assert all(a is not b for a, b in zip(second[:4], readings(d)[:4]))


def test_readings_of_a_large_diff_are_complete():
    d = PyGraphDiff()
    ids = [i.to_bytes(16, "big") for i in range(5000)]
    for index, node_id in enumerate(ids):
        d.add_node(node_id, {"red": index % 256})
        d.add_edge(ids[0], node_id, float(index))
        d.delete_edge(node_id, ids[0])
    d.delete_node(ids[-1])
    assert len(d.new_or_updated_nodes()) == 4999
    assert d.deleted_nodes() == [text(ids[-1])]
    # The loop at ids[0] was deleted again, the edge to ids[-1] went with it.
    assert len(d.new_or_updated_edges()[text(ids[0])]) == 4998
    deleted = d.deleted_edges()
    assert len(deleted) == 5000
    assert sorted(deleted[text(ids[0])]) == sorted([text(ids[0]), text(ids[-1])])
