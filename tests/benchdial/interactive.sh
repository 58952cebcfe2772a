#!/usr/bin/env bash
# benchdial in a real terminal (tmux): the menu shows before anything is
# typed, each prompt shows while the program waits for its answer, and the
# dump's progress marks show while the dump is still running, not only when
# its line ends. The dump goes into a named pipe that nobody reads at first,
# so the dump stops part-way (the pipe is full) and the screen can be looked
# at then.
# Usage: interactive.sh BINDIR. Exit 77 (SKIP) when tmux is missing.
set -u
bin=$(cd "$1" && pwd) || exit 1
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIP: tmux is not installed"
  exit 77
fi
export TERM=${TERM:-xterm}

work=$(mktemp -d)
sock="$work/tmux.sock"
cleanup() {
  tmux -S "$sock" kill-server >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# The first failure ends the test, with the screen as it stood.
fail() {
  echo "FAIL: $*"
  echo "--- screen:"
  pane
  echo "---"
  exit 1
}
pane() { tmux -S "$sock" capture-pane -p -S -500 -t bench; }
# The last line of the screen that is not empty.
lastline() { pane | sed '/^$/d' | tail -n 1; }
# Waits up to 10 s for the screen to show a line that matches the pattern.
waitfor() {
  for _ in $(seq 100); do
    pane | grep -qE -- "$1" && return 0
    sleep 0.1
  done
  fail "the screen never showed /$1/"
}
# Waits up to 10 s until the last line of the screen is exactly the text.
waitlast() {
  for _ in $(seq 100); do
    [ "$(lastline)" = "$1" ] && return 0
    sleep 0.1
  done
  fail "the last line never became \"$1\""
}
typeline() { tmux -S "$sock" send-keys -t bench -l "$1"; tmux -S "$sock" send-keys -t bench Enter; }

"$bin/simbench" init "$work/bench" PIC18F452 >/dev/null || { echo "FAIL: simbench init"; exit 1; }
mkfifo "$work/dump.hex"

tmux -S "$sock" new-session -d -s bench -x 120 -y 50 -c "$work" \
  "MPUSBAPI_SIM='$work/bench' '$bin/benchdial'; echo \"exit code \$?\"; sleep 60"

# The menu, before anything is typed, with no prompt after it.
waitlast "10: write test 2"
pane | grep -qx "0: exit" || fail "no menu line 0: exit"

# Vpp up: its outcome, then the menu again.
typeline 1
waitfor "^success$"
waitlast "10: write test 2"

# A read: the prompt shows while the program waits for the location.
typeline 4
waitlast "enter location"
typeline 0
waitfor "^success-[0-9A-F]{2}$"
waitlast "10: write test 2"

# The dump: the prompt, then marks while the dump runs. Nobody reads the
# pipe yet, so the dump waits once it is full, part of the way through.
typeline 6
waitlast "enter filename"
typeline dump.hex
waitfor '^\*+$'
sleep 0.5
marks=$(lastline)
if ! [[ "$marks" =~ ^\*+$ ]] || [ ${#marks} -ge 64 ]; then
  fail "while the dump waits, the last line should be some of the 64 marks, not \"$marks\""
fi
# Read the pipe: the dump goes on to its 64 marks and the menu.
timeout 20 head -c 92190 "$work/dump.hex" >"$work/dumped.hex" || fail "the dump could not be read"
waitfor '^\*{64}$'
waitlast "10: write test 2"
size=$(stat -c %s "$work/dumped.hex")
[ "$size" = 92190 ] || fail "the dump gave $size bytes, not 92190"

# Vpp down, exit.
typeline 2
waitfor "^success$"
typeline 0
waitlast "exit code 0"

echo "PASS: menu, prompts and progress marks appear in a terminal when they should (${#marks} of 64 marks while the dump waited)"
