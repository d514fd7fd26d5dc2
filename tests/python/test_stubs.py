"""The shipped type stubs: a strict type checker finds them for the
installed module, accepts ordinary use and catches misuse."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy", reason="mypy is not installed in this environment")

import quorl_api  # noqa: E402

HERE = Path(__file__).parent

MISUSE = '''\
from quorl_api import PyGraphDiff
d = PyGraphDiff()
d.add_node("not bytes", {})
d.add_node(bytes(16), {"label": 5})
d.add_node(bytes(16), {"lable": "typo"})
d.add_edge(bytes(16), bytes(16), "heavy")
count: str = d.num_edges()
d.deleted_nodes().append(b"bytes")
d.add_edges([bytes(16)], [bytes(16)], "1")
d.add_nodes([bytes(16)], [{"size": "big"}])
d.merge(d.to_bytes())
'''


def run_mypy(tmp_path, *arguments):
    # From an empty directory, so only the installed module can be found.
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", str(tmp_path / "cache")]
        + list(arguments),
        cwd=tmp_path,
        capture_output=True,
        text=True,
        check=False,
    )


def test_strict_checker_accepts_ordinary_use(tmp_path):
    shutil.copy(HERE / "stub_usage.py", tmp_path)
    result = run_mypy(tmp_path, "--strict", "stub_usage.py")
    assert result.returncode == 0, result.stdout + result.stderr


def test_strict_checker_catches_misuse(tmp_path):
    (tmp_path / "misuse.py").write_text(MISUSE)
    result = run_mypy(tmp_path, "--strict", "misuse.py")
    flagged = {
        int(line.split(":")[1]) for line in result.stdout.splitlines() if ": error:" in line
    }
    assert flagged == {3, 4, 5, 6, 7, 8, 9, 10, 11}, result.stdout


def test_stubs_match_the_runtime_module(tmp_path):
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "quorl_api"],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        check=False,
    )
    assert result.returncode == 0, result.stdout + result.stderr
