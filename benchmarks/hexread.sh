#!/usr/bin/env bash
# Times loading a large HEX file (made by the writer) into an image of the
# same size, against srec_cat converting the same file to binary; prints the
# median of each and their ratio. Usage: benchmarks/hexread.sh [BUILD] [SIZE] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
size=${2:-$((2 * 1024 * 1024))}
runs=${3:-9}

cmake --build "$build" --target hexbench >/dev/null
bench="$build/bin/hexbench"
command -v srec_cat >/dev/null || { echo "srec_cat not found"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/large.hex"
"$bench" make "$file" "$size"
echo "file: $(stat -c %s "$file") bytes, image: $size bytes, $runs runs each"

# Median wall time of a command over the runs, in microseconds.
median() {
  local times=() start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

ours=$(median "$bench" load "$file" "$size")
theirs=$(median srec_cat "$file" -intel -o /dev/null -binary)
echo "loadhexfile (hexbench load): median ${ours} us"
echo "srec_cat -intel -o /dev/null -binary: median ${theirs} us"
awk -v a="$theirs" -v b="$ours" 'BEGIN { printf "ratio srec_cat / loadhexfile: %.1f\n", a / b }'
