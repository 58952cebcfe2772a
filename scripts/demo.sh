#!/usr/bin/env bash
# The main job on the virtual bench, as a user would see it: a bench with a
# PIC18F452 on it, the test pattern written by gridseed, programmed by
# flashwren, dumped back by benchdial and compared with the file.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build" >/dev/null
cmake --build "$top/build" -j"$(nproc)" >/dev/null
bin="$top/build/bin"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export MPUSBAPI_SIM="$work/bench"

echo "\$ simbench init bench PIC18F452"
"$bin/simbench" init "$MPUSBAPI_SIM" PIC18F452
echo "\$ gridseed"
"$bin/gridseed"
echo "\$ flashwren testpattern.hex"
"$bin/flashwren" testpattern.hex
echo "\$ benchdial   (1: bring up Vpp, 6: dump hex file to dump.hex, 2: take down Vpp, 0: exit)"
printf '1\n6\ndump.hex\n2\n0\n' | "$bin/benchdial"
echo
if cmp -s testpattern.hex dump.hex; then
  echo "the chip holds testpattern.hex: the dump is identical to the file ($(stat -c %s dump.hex) bytes)"
else
  echo "the chip does not hold testpattern.hex: the dump differs from the file"
  exit 1
fi
