# Type information for the quorl_api extension module.
#
# Installed twice from this one file: as quorl_api.pyi next to the compiled
# module (where IDEs and pyright look) and as quorl_api-stubs/__init__.pyi
# (mypy only takes stubs for an installed top-level module from a stub-only
# package).

from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, TypedDict, final

from typing_extensions import Buffer

__all__ = ["PyGraphDiff"]

# The attribute dictionary that add_node takes. Every key is optional; keys
# other than these seven are ignored at run time. Exists only for type
# checking.
class _NodeAttributes(TypedDict, total=False):
    label: str
    url: str
    size: SupportsFloat | SupportsIndex
    red: SupportsIndex
    green: SupportsIndex
    blue: SupportsIndex
    show_label: bool

# The attribute dictionary that new_or_updated_nodes gives per node, with its
# keys in the order label, url, size, red, green, blue, show_label.
_NodeAttributeValues = dict[str, str | float | int | bool]

_Weight = SupportsFloat | SupportsIndex

# A column of the bulk methods: one C-contiguous buffer (bytes, bytearray,
# memoryview, array.array, a NumPy array) or a sequence of single values.
# Ids in a buffer are its bytes, 16 per id (NumPy dtype "S16" or "V16", or
# shape (n, 16) uint8); weights in a buffer are float32 or float64 items.
_IdColumn = Buffer | Sequence[bytes]
_WeightColumn = Buffer | Sequence[_Weight]

@final
class PyGraphDiff:
    """A recorded set of changes to a directed, weighted graph keyed by
    16-byte node ids. Readings give ids as 36-character lower-case text."""

    def __init__(self) -> None: ...
    def new_or_updated_nodes(self) -> dict[str, _NodeAttributeValues]: ...
    def deleted_nodes(self) -> list[str]: ...
    def new_or_updated_edges(self) -> dict[str, dict[str, float]]: ...
    def deleted_edges(self) -> dict[str, list[str]]: ...
    def num_nodes(self) -> int: ...
    def num_edges(self) -> int: ...
    def add_node(self, id: bytes, update: _NodeAttributes) -> None: ...
    def delete_node(self, id: bytes) -> None: ...
    # The first parameter is called "from" at run time. That is a keyword, so
    # it cannot be spelled here; it is declared positional-only under another
    # name, which matches every call a type checker can follow (passing it by
    # name needs **{"from": ...}, which no checker looks into).
    def add_edge(self, from_: bytes, /, to: bytes, weight: _Weight) -> None: ...
    def delete_edge(self, from_: bytes, /, to: bytes) -> None: ...
    def clear(self) -> None: ...
    def to_bytes(self) -> bytes: ...
    @staticmethod
    def from_bytes(bytes: bytes) -> PyGraphDiff: ...

    # Bulk editing: the effect of the single method called for every item in
    # order, all or nothing. Every column is checked before anything changes;
    # a failure leaves the diff as it was and names the parameter and, for a
    # bad item, its index, raising the class the single call would raise:
    #   TypeError: argument 'targets': item 17: failed to extract field PyUuid.0
    # (with the single call's __cause__). Columns of unequal lengths raise
    # ValueError, a buffer of the wrong item format TypeError, one that is not
    # C-contiguous BufferError.

    # Returns the number of edges recorded: an edge at a node marked deleted
    # is refused, as add_edge refuses it.
    def add_edges(self, sources: _IdColumn, targets: _IdColumn, weights: _WeightColumn) -> int: ...
    def delete_edges(self, sources: _IdColumn, targets: _IdColumn) -> None: ...
    def delete_nodes(self, ids: _IdColumn) -> None: ...
    def add_nodes(self, ids: _IdColumn, updates: Sequence[_NodeAttributes]) -> None: ...

    # Columnar readings, in the order of the dictionary readings: 16-byte ids
    # back to back and little-endian float32 weights, for
    # numpy.frombuffer(..., "S16") and numpy.frombuffer(..., "<f4").
    def new_or_updated_edge_arrays(self) -> tuple[bytes, bytes, bytes]: ...
    def deleted_edge_arrays(self) -> tuple[bytes, bytes]: ...
    def deleted_node_ids(self) -> bytes: ...

    # Records other's content into this diff as replaying it through the
    # single methods would (its deleted nodes, deleted edges, nodes, edges).
    def merge(self, other: PyGraphDiff) -> None: ...
