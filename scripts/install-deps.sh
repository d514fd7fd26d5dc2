#!/usr/bin/env bash
# Installs the system packages and the JavaScript tools that building and
# testing need and that a fresh machine lacks. Safe to rerun: it installs
# only what is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

step "system packages and JavaScript tools"
install_dependencies
