#!/usr/bin/env bash
# Installs what is missing, builds the module into .venv-cpython, runs the
# example programs and generates the script of the inspector page, so that
# examples/web/inspect.html can open the sample basic_usage.py writes.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

step "system packages"
install_missing_packages

step "build and install into .venv-cpython"
setup_cpython_venv

step "examples/basic_usage.py"
"$REPO_ROOT/.venv-cpython/bin/python" "$REPO_ROOT/examples/basic_usage.py"

step "examples/parquet_to_diff.py"
"$REPO_ROOT/.venv-cpython/bin/python" "$REPO_ROOT/examples/parquet_to_diff.py"

step "examples/web/graph-diff.js for the inspector page"
node "$REPO_ROOT/js/build-classic.mjs"
