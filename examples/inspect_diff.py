"""Prints a stored diff as readable JSON, for a person looking into a file.

    python examples/inspect_diff.py FILE           # FILE holds one diff, as to_bytes() wrote it
    python examples/inspect_diff.py --stream FILE  # FILE holds length-prefixed diffs, as
                                                   # 'stream_diffs.py record' writes them

FILE may be '-' for standard input. One diff prints as one JSON object, a
stream as a list of them. Each object holds the four listings and the two
counts, as the methods of the same names return them; lists are sorted and
keys are in order, so that two files are easy to compare. A weight that is NaN
or infinite is written as the string "nan", "inf" or "-inf", so that the output
stays valid JSON.
"""

import json
import math
import sys
from typing import Any

from frames import read_frames

from tovra_api import PyGraphDiff


def readable(value: Any) -> Any:
    """`value` with every non-finite float replaced by its name."""
    if isinstance(value, float) and not math.isfinite(value):
        return str(value)  # 'nan', 'inf', '-inf'
    if isinstance(value, dict):
        return {key: readable(item) for key, item in value.items()}
    if isinstance(value, list):
        return sorted(readable(item) for item in value)
    return value


def describe(data: bytes) -> dict[str, Any]:
    diff = PyGraphDiff.from_bytes(data)
    shown: dict[str, Any] = {
        "bytes": len(data),
        "new_or_updated_nodes": diff.new_or_updated_nodes(),
        "deleted_nodes": diff.deleted_nodes(),
        "new_or_updated_edges": diff.new_or_updated_edges(),
        "deleted_edges": diff.deleted_edges(),
        "num_nodes": diff.num_nodes(),
        "num_edges": diff.num_edges(),
    }
    return {key: readable(value) for key, value in shown.items()}


def main(argv: list[str]) -> int:
    stream = argv[:1] == ["--stream"]
    if stream:
        argv = argv[1:]
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    path = argv[0]
    try:
        with sys.stdin.buffer if path == "-" else open(path, "rb") as source:
            if stream:
                shown: Any = [describe(data) for data in read_frames(source)]
            else:
                shown = describe(source.read())
    except OSError as error:
        print(f"inspect_diff: {error}", file=sys.stderr)
        return 1
    except ValueError as error:  # a stream cut short
        print(f"inspect_diff: {path}: {error}", file=sys.stderr)
        return 1
    except Exception as error:
        if type(error) is not Exception:  # from_bytes raises the class Exception itself
            raise
        print(f"inspect_diff: {path}: not a diff: {error}", file=sys.stderr)
        return 1
    print(json.dumps(shown, indent=2, sort_keys=True, ensure_ascii=False, allow_nan=False))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
