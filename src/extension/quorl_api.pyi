# Type information for the quorl_api extension module.
#
# Installed twice from this one file: as quorl_api.pyi next to the compiled
# module (where IDEs and pyright look) and as quorl_api-stubs/__init__.pyi
# (mypy only takes stubs for an installed top-level module from a stub-only
# package).

from typing import SupportsFloat, SupportsIndex, TypedDict, final

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
