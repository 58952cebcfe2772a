#!/usr/bin/env bash
# Installs the build into a temporary prefix and programs a bench through the
# bin/ link: flashwren must find the table beside its real file, not in the
# current folder and not beside the link.
#   installtest.sh BUILD_DIR BIN_DIR
set -euo pipefail
build=$1
bin=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"

fail() { echo "FAIL: $*"; cat "$scratch/install.log"; exit 1; }
link=$prefix/bin/flashwren
[ -L "$link" ] || fail "bin/flashwren is not a symbolic link"
real=$(readlink -f "$link")
private=$(dirname "$real")
[ -x "$real" ] || fail "the link does not reach the program ($real)"
case "$private" in "$prefix"/lib*/picwren) ;; *) fail "program not in the private folder: $private" ;; esac
for f in picspecs.ini libmpusbapi.so; do
  [ -f "$private/$f" ] || fail "$f is not beside the program"
done
cmp -s "$private/picspecs.ini" "$bin/picspecs.ini" || fail "installed table differs from the built one"

if [ ! -x "$bin/simbench" ]; then
  echo "SKIP: simbench is not built, so no bench to program"
  exit 77
fi

# A bench with a part of the table, and a decoy table where it must not look.
"$bin/simbench" init "$scratch/bench" PIC18F452 >/dev/null
mkdir "$scratch/run"
printf '[0420]\nname=decoy in the current folder\n' >"$scratch/run/picspecs.ini"
printf '[0420]\nname=decoy beside the link\n' >"$prefix/bin/picspecs.ini"
printf ':0400000001020304F2\n:00000001FF\n' >"$scratch/run/small.hex"

cd "$scratch/run"
set +e
MPUSBAPI_SIM=$scratch/bench LD_LIBRARY_PATH= "$link" small.hex >"$scratch/out" 2>&1
code=$?
set -e
[ $code -eq 0 ] || { cat "$scratch/out"; fail "flashwren through the link: exit $code"; }
grep -qx 'target device detected is a PIC18F452' "$scratch/out" || { cat "$scratch/out"; fail "the table beside the program was not used"; }
"$bin/simbench" export "$scratch/bench" "$scratch/chip.hex"
grep -q '^:1000000001020304FFFFFFFFFFFFFFFFFFFFFFFFF2' "$scratch/chip.hex" || fail "the chip does not hold the file"
echo "installed flashwren found its table and programmed the bench"
