#!/usr/bin/env bash
# Installs what is missing, builds the module into .venv-cpython and runs
# the example program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

step "system packages"
install_missing_packages

step "build and install into .venv-cpython"
setup_cpython_venv

step "examples/basic_usage.py"
"$REPO_ROOT/.venv-cpython/bin/python" "$REPO_ROOT/examples/basic_usage.py"
