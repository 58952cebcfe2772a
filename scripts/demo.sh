#!/usr/bin/env bash
# The main job on the virtual bench: build everything, write the test pattern.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
work=$(mktemp -d)
cd "$work"
"$OLDPWD/build/bin/gridseed"
ls -l "$work/testpattern.hex"
