"""A first look at quorl_api: create a graph diff and see what it holds.

Run it with `bash scripts/run-example.sh`, which builds the module first.
"""

from quorl_api import PyGraphDiff


def show(title: str, diff: PyGraphDiff) -> None:
    """Prints what the diff holds."""
    print(f"{title}:")
    print(f"  nodes recorded: {diff.num_nodes()}")
    print(f"  edge sources recorded: {diff.num_edges()}")


def main() -> None:
    diff = PyGraphDiff()
    show("a new diff", diff)

    # clear() empties a diff so that it can be reused for the next batch of
    # changes.
    diff.clear()
    show("after clear()", diff)


if __name__ == "__main__":
    main()
