#!/usr/bin/env bash
# The whole test suite: a warnings-as-errors build and an address +
# undefined-behaviour sanitizer build, each run through CTest; then the
# bounded fuzz runs (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
jobs=$(nproc)

cmake -S . -B build -DPICWREN_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-sanitize -DPICWREN_WERROR=ON -DPICWREN_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

bash scripts/fuzz.sh
