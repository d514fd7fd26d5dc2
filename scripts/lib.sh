# Shared parts of the build and test scripts; sourced, never run directly.
# Every script runs from the repository root, whatever directory it is
# started from.

REPO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO_ROOT"

# What a fresh Debian 12 machine lacks for building and testing everything:
# the build tools themselves (CMake and Ninja: the build would otherwise
# take whatever happens to be on the path, or scikit-build-core would fetch
# its own), headers and test libraries for the C++ side, PyPy with its
# headers and venv support, and clang for the fuzzers, formatting and static
# checks.
APT_PACKAGES=(
  cmake ninja-build
  libboost1.81-dev libgtest-dev libgmock-dev libbenchmark-dev
  pypy3 pypy3-dev pypy3-venv
  clang-16 libclang-rt-16-dev clang-format-14 clang-tidy-16
)

# Commands that the JavaScript tests and the browser check need (Node.js,
# npm for the development tools of package-lock.json, Chromium, the
# TypeScript compiler for the declarations), each with the Debian package
# that provides it; a package is installed only where the command is
# missing, so a Node.js installed some other way is kept.
APT_COMMANDS=(node:nodejs npm:npm chromium:chromium tsc:node-typescript)

# Test requirements per interpreter; mypy checks the type stubs, numpy
# feeds its own scalar types to the conversions, pyarrow, polars and DuckDB
# hand Arrow columns in and take tables out, Dask runs the sharded build
# example, and websockets serves the live view that the end-to-end test
# drives (CPython only: none of them is needed to exercise PyPy's C-API
# layer).
CPYTHON_TEST_REQUIREMENTS=(pytest hypothesis numpy mypy pyarrow polars duckdb "dask[distributed]" "websockets>=14")
PYPY_TEST_REQUIREMENTS=(pytest hypothesis)

# Prints a header line for the step that follows.
step() {
  printf '\n==== %s ====\n' "$*"
}

# Installs the packages of APT_PACKAGES that are missing. The package lists
# are refreshed only when something has to be installed.
install_missing_packages() {
  local missing=() package
  for package in "${APT_PACKAGES[@]}"; do
    if [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]]; then
      missing+=("$package")
    fi
  done
  local entry
  for entry in "${APT_COMMANDS[@]}"; do
    if ! command -v "${entry%%:*}" >/dev/null; then
      missing+=("${entry#*:}")
    fi
  done
  if ((${#missing[@]} == 0)); then
    echo "all system packages present"
    return
  fi
  echo "installing: ${missing[*]}"
  local sudo=()
  if ((EUID != 0)); then
    sudo=(sudo)
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Everything the build and the tests take from outside: the system packages,
# then the JavaScript development tools.
install_dependencies() {
  install_missing_packages
  install_node_packages
}

# The JavaScript development tools (linter, formatter, the live view's
# renderer and bundler, the browser driver), exactly as package-lock.json
# pins them. Reinstalled only when the lock file changed since the last
# install.
install_node_packages() {
  local stamp="$REPO_ROOT/node_modules/.quorl-lock"
  if [[ -f "$stamp" ]] && cmp -s "$stamp" "$REPO_ROOT/package-lock.json"; then
    echo "node packages present"
    return
  fi
  (cd "$REPO_ROOT" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$REPO_ROOT/package-lock.json" "$stamp"
}

# pip, quiet: errors and warnings still reach stderr, except the warning
# that a configured local package index does not exist on this machine.
#   pip_quiet PYTHON ARGUMENT...
pip_quiet() {
  local python="$1"
  shift
  local log status=0
  log="$(mktemp)"
  "$python" -m pip --quiet --disable-pip-version-check "$@" 2>"$log" || status=$?
  grep -v "is ignored: it is neither a file nor a directory" "$log" >&2 || true
  rm -f "$log"
  return "$status"
}

# Creates the virtual environment VENV with INTERPRETER unless it exists,
# upgrades pip and installs REQUIREMENTS. A stamp file remembers what was
# installed, so a reused environment is not asked again.
#   ensure_venv VENV INTERPRETER REQUIREMENT...
ensure_venv() {
  local venv="$1" interpreter="$2"
  shift 2
  local stamp="$venv/.quorl-requirements"
  if [[ ! -x "$venv/bin/python" ]]; then
    "$interpreter" -m venv "$venv"
  fi
  if [[ -f "$stamp" && "$(cat "$stamp")" == "$*" ]]; then
    return
  fi
  pip_quiet "$venv/bin/python" install --upgrade pip
  pip_quiet "$venv/bin/python" install --upgrade "$@"
  echo "$*" >"$stamp"
}

# Builds the working tree and installs it into VENV, replacing whatever was
# installed before. Extra arguments go to pip (for example -C options for
# scikit-build-core). The CMake build directory is kept under build/ per
# environment so that a rerun only recompiles what changed.
install_working_tree() {
  local venv="$1"
  shift
  local name
  name="$(basename "$venv")"
  pip_quiet "$venv/bin/python" install --force-reinstall --no-deps \
    -C "build-dir=$REPO_ROOT/build/pip${name#.venv}" "$@" "$REPO_ROOT"
}

# The two development environments: CPython and PyPy, each with the module
# built from the working tree and the test requirements.
setup_cpython_venv() {
  ensure_venv "$REPO_ROOT/.venv-cpython" python3 "${CPYTHON_TEST_REQUIREMENTS[@]}"
  install_working_tree "$REPO_ROOT/.venv-cpython"
}

setup_pypy_venv() {
  ensure_venv "$REPO_ROOT/.venv-pypy" pypy3 "${PYPY_TEST_REQUIREMENTS[@]}"
  install_working_tree "$REPO_ROOT/.venv-pypy"
}

# Runs the Python tests in VENV against the installed module. pytest is
# started through its console script, which puts nothing of the working
# directory on sys.path, so only the installed module can be imported.
run_python_tests() {
  local venv="$1"
  shift
  "$venv/bin/pytest" -p no:cacheprovider "$@" "$REPO_ROOT/tests/python"
}

# Configures, builds and runs the C++ tests in BUILD_DIR; extra arguments go
# to CMake. Finding no tests fails.
run_cpp_tests() {
  local build_dir="$1"
  shift
  cmake -S "$REPO_ROOT" -B "$build_dir" -G Ninja -DQUORL_BUILD_TESTS=ON \
    -DQUORL_BUILD_EXTENSION=OFF "$@" >/dev/null
  cmake --build "$build_dir"
  ctest --test-dir "$build_dir" --output-on-failure --no-tests=error -j "$(nproc)"
}

# The JavaScript side (js/): its unit tests under Node's own runner and a
# type check of its declarations; then, with the module installed in VENV,
# the differential test against the module, and in headless Chromium the
# inspector page, applyGraphDiff with sigma bound, and the live view end to
# end (its server on 127.0.0.1, stopped by the test).
run_js_tests() {
  node --test --test-reporter=spec "$REPO_ROOT/js/"
  tsc --noEmit --strict --module nodenext --moduleResolution nodenext --target es2022 \
    --lib es2022,dom "$REPO_ROOT/js/tests/types-usage.mts"
  echo "js/graph-diff.d.mts: js/tests/types-usage.mts type-checks"
}

run_js_cross_checks() {
  local venv="$1"
  "$venv/bin/python" "$REPO_ROOT/js/tests/differential.py"
  "$venv/bin/python" "$REPO_ROOT/js/tests/browser_check.py"
  node "$REPO_ROOT/js/tests/sigma-refresh.browser.mjs"
  node "$REPO_ROOT/examples/live/tests/end_to_end.mjs" --python "$venv/bin/python"
}
