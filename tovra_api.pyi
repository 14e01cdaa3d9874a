"""Type information for the tovra_api extension module.

Installed twice by the build: as ``tovra_api.pyi`` beside the compiled module,
and as the stub-only package ``tovra_api-stubs/__init__.pyi``, which is the
copy mypy finds in site-packages.
"""

from typing import Any, TypedDict, final, type_check_only

__all__ = ["PyGraphDiff"]

@type_check_only
class _NodeUpdate(TypedDict, total=False):
    """A node update in dict form; every key is optional.

    Only a name for type checkers: at run time an update is a plain ``dict``.
    """

    label: str
    url: str
    size: float  # stored as a 32-bit float
    red: int  # 0 to 255
    green: int  # 0 to 255
    blue: int  # 0 to 255
    show_label: bool

@final
class PyGraphDiff:
    """One batch of changes to a directed, weighted graph.

    Node ids go in as 16-byte ``bytes`` and come out as 36-character
    lowercase UUID text.
    """

    def __new__(cls) -> PyGraphDiff:
        """A new, empty diff."""

    def new_or_updated_nodes(self) -> dict[str, _NodeUpdate]:
        """Node text -> its merged update, holding only the attributes that were set."""

    def deleted_nodes(self) -> list[str]:
        """The texts of the deleted nodes."""

    def new_or_updated_edges(self) -> dict[str, dict[str, float]]:
        """Source text -> {target text: weight}."""

    def deleted_edges(self) -> dict[str, list[str]]:
        """Source text -> the texts of the targets whose edges are deleted."""

    def num_nodes(self) -> int:
        """Updated nodes plus deleted nodes."""

    def num_edges(self) -> int:
        """Sources with new edges plus sources with deleted edges (each source once per kind)."""

    def add_node(self, id: bytes, update: _NodeUpdate | dict[str, Any]) -> None:
        """Merges ``update`` into the node's pending update; cancels a deletion of the node.

        Raises TypeError for an id that is not 16 bytes or a value of the wrong
        type, OverflowError for a colour channel outside 0..255 or an integer
        too large for a float.
        """

    def delete_node(self, id: bytes) -> None:
        """Deletes the node: drops its update and its outgoing edges; edges into it become deletions."""

    # The first parameter is named `from` at run time, a keyword in Python: it
    # can be passed by name only through **{"from": ...}, so the stub makes it
    # positional-only under another name.
    def add_edge(self, from_: bytes, /, to: bytes, weight: float) -> None:
        """Records the edge with ``weight`` (stored as a 32-bit float); cancels its deletion.

        Nothing is recorded when either end is a deleted node. Raises TypeError
        for an id that is not 16 bytes or a weight that is not a real number.
        """

    def delete_edge(self, from_: bytes, /, to: bytes) -> None:
        """Deletes the edge; cancels a pending new edge."""

    def clear(self) -> None:
        """Empties the diff."""

    def to_bytes(self) -> bytes:
        """The diff as one self-contained byte string."""

    @staticmethod
    def from_bytes(bytes: bytes) -> PyGraphDiff:
        """Decodes a byte string made by ``to_bytes``, exactly as stored.

        Raises ``Exception("Failed to deserialize graph diff.")`` for bytes
        that are not a valid diff.
        """
