#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the C++
# tests, the JavaScript tests, the Python tests under CPython, the checks of
# the JavaScript side against the module (differential test; in headless
# Chromium the inspector page, sigma and the live view), then the Python
# tests under PyPy.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

step "system packages and JavaScript tools"
install_dependencies

step "C++ tests (build/cpp-tests)"
run_cpp_tests "$REPO_ROOT/build/cpp-tests"

step "JavaScript tests (node --test js/)"
run_js_tests

step "Python tests under CPython (.venv-cpython)"
setup_cpython_venv
run_python_tests "$REPO_ROOT/.venv-cpython"

step "JavaScript against the module: differential test; inspector page, sigma and live view in Chromium"
run_js_cross_checks "$REPO_ROOT/.venv-cpython"

step "Python tests under PyPy (.venv-pypy)"
setup_pypy_venv
run_python_tests "$REPO_ROOT/.venv-pypy"
