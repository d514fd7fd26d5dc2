#!/usr/bin/env bash
# Builds the fuzz targets with clang-16 (libFuzzer, ASan, UBSan) and runs
# each of them for SECONDS (default 60), all at the same time. Exits non-zero
# if any target finds a crash, leak, timeout or out-of-memory input.
#
# Everything a run produces goes under fuzz/findings/ (ignored by git):
# the grown corpus of each target, its log, and any reproducer (artifact).
# Reproduce a finding with: build-fuzz/fuzz/<target> fuzz/findings/<target>/<artifact>
set -euo pipefail

seconds="${1:-60}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${root}/build-fuzz"
findings="${root}/fuzz/findings"
compiler="${CXX_FUZZ:-clang++-16}"

cmake -S "${root}" -B "${build}" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="${compiler}" \
  -DQUORL_BUILD_FUZZERS=ON \
  -DQUORL_BUILD_EXTENSION=OFF \
  -DQUORL_BUILD_TESTS=OFF \
  -DQUORL_SANITIZE=address,undefined \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "${build}"

declare -A dictionary=(
  [fuzz_bytes_to_graph_diff]=graph_diff_bytes.dict
  [fuzz_graph_diff_round_trip]=graph_diff_bytes.dict
  [fuzz_edits_on_decoded_diff]=graph_diff_bytes.dict
  [fuzz_read_node_text]=node_text.dict
  [fuzz_compact_node_text]=node_text.dict
)

declare -A running=()
for target in "${!dictionary[@]}"; do
  work="${findings}/${target}"
  mkdir -p "${work}/corpus"
  # The first directory receives new inputs; the seed corpus stays untouched.
  "${build}/fuzz/${target}" "${work}/corpus" "${root}/fuzz/corpus/${target}" \
    -dict="${root}/fuzz/${dictionary[${target}]}" \
    -max_total_time="${seconds}" \
    -max_len=4096 \
    -timeout=30 \
    -rss_limit_mb=2048 \
    -print_final_stats=1 \
    -artifact_prefix="${work}/" \
    >"${work}/log" 2>&1 &
  running[${target}]=$!
done

status=0
for target in "${!running[@]}"; do
  work="${findings}/${target}"
  if wait "${running[${target}]}"; then
    runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "${work}/log" | grep -o '[0-9]*$' || true)"
    echo "${target}: ok, ${runs:-?} executions in ${seconds} s"
  else
    status=1
    echo "${target}: FAILED (log: ${work}/log)"
    tail -n 40 "${work}/log"
  fi
  if compgen -G "${work}/crash-*" >/dev/null || compgen -G "${work}/leak-*" >/dev/null ||
     compgen -G "${work}/timeout-*" >/dev/null || compgen -G "${work}/oom-*" >/dev/null; then
    status=1
    echo "${target}: reproducers in ${work}/"
  fi
done
exit "${status}"
