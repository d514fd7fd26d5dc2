"""A pure-Python graph diff with the same editing rules, readings and byte
form as quorl_api.PyGraphDiff: what a user would write without the module.
The tests check the module's editing against it, and the benchmark measures
the module against it."""

import json
import struct

_NODE_KEYS = ("label", "url", "size", "red", "green", "blue", "show_label")
_JSON_KEYS = (
    ("label", "label"),
    ("size", "size"),
    ("url", "url"),
    ("red", "red"),
    ("green", "green"),
    ("blue", "blue"),
    ("show_label", "showLabel"),
)
_COUNT = struct.Struct("<Q")
_ID_LENGTH = _COUNT.pack(16)
_WEIGHT = struct.Struct("<f")
_TARGET = struct.Struct("<Q16sf")


def id_text(node_id):
    h = node_id.hex()
    return f"{h[:8]}-{h[8:12]}-{h[12:16]}-{h[16:20]}-{h[20:]}"


def _check_id(node_id):
    if not isinstance(node_id, bytes) or len(node_id) != 16:
        raise TypeError("node ids are 16-byte bytes objects")
    return node_id


class PureGraphDiff:
    __slots__ = ("nodes", "deleted", "edges", "deleted_edges")

    def __init__(self):
        self.nodes = {}
        self.deleted = set()
        self.edges = {}
        self.deleted_edges = {}

    # Editing.
    def add_node(self, node_id, update):
        _check_id(node_id)
        if not isinstance(update, dict):
            raise TypeError("update must be a dict")
        fields = {key: update[key] for key in _NODE_KEYS if key in update}
        record = self.nodes.get(node_id)
        if record is None:
            self.nodes[node_id] = fields
        else:
            record.update(fields)
        self.deleted.discard(node_id)

    def delete_node(self, node_id):
        _check_id(node_id)
        self.nodes.pop(node_id, None)
        self.edges.pop(node_id, None)
        for source, targets in self.edges.items():
            if node_id in targets:
                self.deleted_edges.setdefault(source, set()).add(node_id)
                del targets[node_id]
        self.deleted.add(node_id)

    def add_edge(self, source, target, weight):
        _check_id(source)
        _check_id(target)
        weight = float(weight)
        if source in self.deleted or target in self.deleted:
            return
        gone = self.deleted_edges.get(source)
        if gone is not None:
            gone.discard(target)
            if not gone:
                del self.deleted_edges[source]
        targets = self.edges.get(source)
        if targets is None:
            self.edges[source] = {target: weight}
        else:
            targets[target] = weight

    def delete_edge(self, source, target):
        _check_id(source)
        _check_id(target)
        self.deleted_edges.setdefault(source, set()).add(target)
        targets = self.edges.get(source)
        if targets is not None:
            targets.pop(target, None)
            if not targets:
                del self.edges[source]

    def clear(self):
        self.nodes.clear()
        self.deleted.clear()
        self.edges.clear()
        self.deleted_edges.clear()

    # Readings.
    def new_or_updated_nodes(self):
        return {id_text(k): dict(v) for k, v in self.nodes.items()}

    def deleted_nodes(self):
        return [id_text(k) for k in self.deleted]

    def new_or_updated_edges(self):
        return {
            id_text(s): {id_text(t): w for t, w in targets.items()}
            for s, targets in self.edges.items()
            if targets
        }

    def deleted_edges_reading(self):
        return {
            id_text(s): [id_text(t) for t in targets]
            for s, targets in self.deleted_edges.items()
            if targets
        }

    def num_nodes(self):
        return len(self.nodes) + len(self.deleted)

    def num_edges(self):
        return len(self.edges) + len(self.deleted_edges)

    # Byte form.
    def to_bytes(self):
        parts = [_COUNT.pack(len(self.nodes))]
        for node_id, record in self.nodes.items():
            text = json.dumps(
                {out: record[key] for key, out in _JSON_KEYS if key in record},
                separators=(",", ":"),
                ensure_ascii=False,
            ).encode()
            parts += (_ID_LENGTH, node_id, _COUNT.pack(len(text)), text)
        parts.append(_COUNT.pack(len(self.deleted)))
        for node_id in self.deleted:
            parts += (_ID_LENGTH, node_id)
        parts.append(_COUNT.pack(len(self.edges)))
        for source, targets in self.edges.items():
            parts += (_ID_LENGTH, source, _COUNT.pack(len(targets)))
            parts += [_TARGET.pack(16, t, w) for t, w in targets.items()]
        parts.append(_COUNT.pack(len(self.deleted_edges)))
        for source, targets in self.deleted_edges.items():
            parts += (_ID_LENGTH, source, _COUNT.pack(len(targets)))
            for target in targets:
                parts += (_ID_LENGTH, target)
        return b"".join(parts)

    @staticmethod
    def from_bytes(data):
        diff = PureGraphDiff()
        view = memoryview(data)
        offset = 0

        def count():
            nonlocal offset
            (value,) = _COUNT.unpack_from(view, offset)
            offset += 8
            return value

        def node_id():
            nonlocal offset
            if count() != 16 or offset + 16 > len(view):
                raise ValueError("bad id")
            value = bytes(view[offset : offset + 16])
            offset += 16
            return value

        texts = {}
        for _ in range(count()):
            key = node_id()
            length = count()
            texts[key] = bytes(view[offset : offset + length]).decode()
            offset += length
        for _ in range(count()):
            diff.deleted.add(node_id())
        for _ in range(count()):
            source = node_id()
            targets = {}
            for _ in range(count()):
                target = node_id()
                (targets[target],) = _WEIGHT.unpack_from(view, offset)
                offset += 4
            diff.edges[source] = targets
        for _ in range(count()):
            source = node_id()
            diff.deleted_edges[source] = {node_id() for _ in range(count())}
        for key, text in texts.items():
            parsed = json.loads(text)
            diff.nodes[key] = {key: parsed[out] for key, out in _JSON_KEYS if out in parsed}
        return diff
