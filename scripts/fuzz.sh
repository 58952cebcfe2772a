#!/usr/bin/env bash
# Bounded fuzz runs: builds the libFuzzer targets with clang in build-fuzz and
# runs each for FUZZ_SECONDS (default 30) from its seed corpus in
# tests/fuzz/corpus/<target>/. Any crash, hang, leak or sanitizer report fails
# the script; the input that caused it is kept in build-fuzz/artifacts/.
# Prints the number of executions per target.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
seconds=${FUZZ_SECONDS:-30}
jobs=$(nproc)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DPICWREN_FUZZ=ON -DPICWREN_TESTS=OFF -DPICWREN_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzztargets -j"$jobs"

artifacts=build-fuzz/artifacts
mkdir -p "$artifacts"
status=0
for target in fuzzhexread fuzzdevicetable fuzzconsoleinput fuzzbenchpacket; do
  program=build-fuzz/fuzz/$target
  [ -x "$program" ] || continue
  # A scratch copy of the seeds: what the run finds stays out of the tree.
  corpus=$(mktemp -d)
  cp tests/fuzz/corpus/"$target"/* "$corpus"/
  log=build-fuzz/$target.log
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -artifact_prefix="$artifacts/$target-" -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    echo "fuzz $target: ${runs:-?} executions in ${seconds} s, no failure"
  else
    echo "fuzz $target: FAILED (see $log; input kept in $artifacts/)"
    tail -40 "$log"
    status=1
  fi
  rm -rf "$corpus"
done
exit $status
