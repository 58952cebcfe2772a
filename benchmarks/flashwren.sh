#!/usr/bin/env bash
# flashwren on the virtual bench: a full 32 KB image (gridseed's file, every
# write group holding data) and a sparse one, on an old-style part (4 x 8192,
# 8 bytes a write) and a new-style part (1 x 32768, 32 bytes a write).
# Prints, over several runs:
#   - the packets sent against the protocol's minimum (one panel write per
#     group holding data, plus the fixed exchanges: version query, Vpp on,
#     device id, bulk erase, configuration write, Vpp off);
#   - the median whole-run time of flashwren beside the median time that
#     srec_cat takes merely to read the same file, timed alternately in one
#     run, and their ratio (goal: at most 1.5);
#   - host CPU time (user + system, the simulated bench included) per packet.
# Timed runs use a bench without its trace; the packets are counted on a
# traced run. Usage: benchmarks/flashwren.sh [BUILD] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-15}

cmake --build "$build" --target flashwren simbench gridseed >/dev/null
bin=$(cd "$build/bin" && pwd)
command -v srec_cat >/dev/null || { echo "srec_cat not found (Debian srecord)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bin/gridseed"
mv testpattern.hex full.hex
# A few islands of data: the start, a table in the middle, the last bytes.
srec_cat -generate 0x0000 0x0040 -repeat-data 0x12 0xEF 0x00 0xF0 \
         -generate 0x2100 0x2180 -repeat-data 0x55 0xAA \
         -generate 0x7FF0 0x8000 -constant 0x3C \
         -o sparse.hex -intel -line-length=44

# Write groups holding data in FILE for PANELSIZE, PANELCOUNT, BYTES a group.
groupswithdata() {
  local file=$1 panelsize=$2 panelcount=$3 bytes=$4 size=$(($2 * $3))
  srec_cat "$file" -intel -crop 0 $size -fill 0xFF 0 $size -o image.bin -binary
  od -An -v -tx1 -w"$bytes" image.bin |
    awk -v groups=$((panelsize / bytes)) '
      { for (i = 1; i <= NF; i++) if ($i != "ff") { data[(NR - 1) % groups] = 1; break } }
      END { print length(data) }'
}

median() { local all; all=$(sort -n); sed -n "$((($(echo "$all" | wc -l) + 1) / 2))p" <<<"$all"; }

now() { date +%s%N; }

printf '%-10s %-6s %8s %8s %12s %12s %7s %10s\n' part image packets minimum "flashwren us" "srec_cat us" ratio "cpu us/pkt"
for part in PIC18F452:8192:4:8 PIC18F2520:32768:1:32; do
  IFS=: read -r name panelsize panelcount bytes <<<"$part"
  for image in full sparse; do
    # Packets, on a traced bench.
    "$bin/simbench" init bench "$name" >/dev/null
    MPUSBAPI_SIM=bench "$bin/flashwren" $image.hex >run.out
    grep -q '^\*\{64\}$' run.out || { cat run.out; echo "flashwren run failed"; exit 1; }
    packets=$(grep -cE '^[0-9]+ [0-9]+ out ' bench/trace.txt)
    minimum=$((6 + $(groupswithdata $image.hex "$panelsize" "$panelcount" "$bytes")))

    # Timings, alternating the two programs, on a bench without a trace.
    # (flashwren erases the chip itself, so the runs follow each other.)
    "$bin/simbench" set bench trace=0
    : >ours.txt; : >theirs.txt
    for ((i = 0; i < runs; i++)); do
      start=$(now)
      MPUSBAPI_SIM=bench "$bin/flashwren" $image.hex >/dev/null
      end=$(now)
      echo $(((end - start) / 1000)) >>ours.txt
      start=$(now)
      srec_cat $image.hex -intel -o /dev/null -binary
      end=$(now)
      echo $(((end - start) / 1000)) >>theirs.txt
    done
    # CPU time, user and system, of as many runs again, per run in microseconds.
    TIMEFORMAT='%3U %3S'
    { time for ((i = 0; i < runs; i++)); do MPUSBAPI_SIM=bench "$bin/flashwren" $image.hex >/dev/null; done; } 2>time.txt
    cpu=$(awk -v n="$runs" '{ printf "%d\n", ($1 + $2) * 1000000 / n }' time.txt)
    ours=$(median <ours.txt)
    theirs=$(median <theirs.txt)
    printf '%-10s %-6s %8d %8d %12d %12d %7.2f %10.2f\n' "$name" $image "$packets" "$minimum" "$ours" "$theirs" \
      "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')" \
      "$(awk -v c="$cpu" -v p="$packets" 'BEGIN { print c / p }')"
  done
done
echo "($runs runs each; wall times are medians, ratio = flashwren / srec_cat; CPU per packet is the mean over the runs)"
