"""The module across the interpreter's whole life: threads still inside a
call when the program ends, sub-interpreters, and an embedding host that
starts and finalises the interpreter several times."""

import os
import shutil
import subprocess
import sys
import sysconfig
import textwrap
from pathlib import Path

import pytest

import quorl_api

PROGRAMS = Path(__file__).parent / "programs"
CPYTHON = sys.implementation.name == "cpython"


def run_concurrently(commands, at_once=8, timeout=60):
    """Runs the commands, `at_once` at a time; returns their exit codes."""
    codes = []
    for start in range(0, len(commands), at_once):
        batch = [
            subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            for command in commands[start : start + at_once]
        ]
        for process in batch:
            _, errors = process.communicate(timeout=timeout)
            codes.append((process.returncode, errors.decode(errors="replace")[-500:]))
    return codes


@pytest.mark.parametrize("kind", ["float", "index", "eq", "bool"])
def test_the_program_exits_cleanly_while_daemon_threads_are_inside_calls(kind):
    runs = 20
    program = str(PROGRAMS / "daemon_threads_at_exit.py")
    results = run_concurrently([[sys.executable, program, kind]] * runs)
    failures = [result for result in results if result[0] != 0]
    assert not failures, f"{len(failures)} of {runs} runs failed, first: {failures[0]}"


@pytest.mark.skipif(not CPYTHON, reason="PyPy has no sub-interpreters")
def test_a_sub_interpreter_is_refused_and_the_main_module_stays_intact():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interpreter = interpreters.create()
    try:
        with pytest.raises(interpreters.RunFailedError, match="ImportError.*quorl_api cannot be imported in a sub-interpreter"):
            interpreters.run_string(interpreter, "import quorl_api")
    finally:
        interpreters.destroy(interpreter)
    assert quorl_api.__all__ == ["PyGraphDiff"]
    d = quorl_api.PyGraphDiff()
    d.add_node(bytes(16), {"label": "a"})
    assert quorl_api.PyGraphDiff.from_bytes(d.to_bytes()).num_nodes() == 1


@pytest.mark.skipif(not CPYTHON, reason="PyPy is not embedded through Py_Initialize")
def test_an_embedding_host_initialises_and_finalises_three_times(tmp_path):
    compiler = shutil.which(sysconfig.get_config_var("CC").split()[0]) or shutil.which("cc")
    library_dir = sysconfig.get_config_var("LIBDIR")
    if compiler is None or not sysconfig.get_config_var("Py_ENABLE_SHARED"):
        pytest.skip("needs a C compiler and a shared libpython")
    host = tmp_path / "host"
    subprocess.run(
        [
            compiler,
            str(PROGRAMS / "embedding_host.c"),
            "-o",
            str(host),
            "-I" + sysconfig.get_paths()["include"],
            "-L" + library_dir,
            "-Wl,-rpath," + library_dir,
            f"-lpython{sysconfig.get_config_var('LDVERSION')}",
        ],
        check=True,
    )
    environment = dict(
        os.environ,
        PYTHONHOME=sys.base_prefix,
        PYTHONPATH=str(Path(quorl_api.__file__).parent),
    )
    result = subprocess.run([str(host)], env=environment, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "round ok\n" * 3
