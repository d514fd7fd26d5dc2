"""examples/sharded_build.py end to end: diffs built on the worker processes
of a Dask cluster, shipped back by Dask's serialisation and merged by a tree
reduction, equal to the diff recorded in one process."""

import platform
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "sharded_build.py"

pytestmark = [
    pytest.mark.skipif(platform.python_implementation() != "CPython", reason="Dask runs under CPython only"),
    pytest.mark.skipif(not EXAMPLE.exists(), reason="the examples are not beside these tests"),
]


def test_sharded_build_on_two_worker_processes():
    pytest.importorskip("dask.bag", reason="dask is not installed")
    pytest.importorskip("distributed", reason="distributed is not installed")
    # The example shuts its cluster down on every way out; the time limit
    # ends a cluster that hangs instead.
    completed = subprocess.run(
        [sys.executable, str(EXAMPLE), "--edges", "30000", "--partitions", "5", "--workers", "2"],
        capture_output=True,
        text=True,
        timeout=240,
        check=False,
    )
    assert completed.returncode == 0, completed.stdout + completed.stderr
    assert "byte for byte the diff recorded in one process" in completed.stdout
