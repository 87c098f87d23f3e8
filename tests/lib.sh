# Helpers that the shell test suites share: the tally of checks, a scratch
# folder that goes away on exit, scratch copies of the example prefix and
# patch and runs of the program on them, an Xvfb screen, runs as another
# user, and skipping a suite whose programs are missing.
#
# Source it first thing; a suite on the example prefix then names the
# program and the examples folder:
#   source "$(dirname "$0")/lib.sh"
#   use_examples path/to/patcher path/to/examples
# shellcheck shell=bash

# --- The tally. check compares, fail counts a failure, summary ends the
# suite with the closing line and fails when any check failed.
failures=0 passed=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then passed=$((passed + 1)); else
    fail "$1"; diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | head -20
  fi
}
summary() {
  echo "$passed passed, $failures failed"
  [ "$failures" -eq 0 ]
}

# need GROUP PROGRAM...: skips the suite (exit status 77) unless every
# PROGRAM is on PATH; tools/install_deps.sh GROUP installs them.
need() {
  local group=$1 program
  shift
  for program; do
    if ! command -v "$program" >/dev/null; then
      echo "skipped: no $program (tools/install_deps.sh $group)"
      exit 77
    fi
  done
}

# --- The scratch folder, $work. In memory where the host has it: thousands
# of copies, each synced to the disk before it is renamed into place, take a
# minute on a disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work=$(mktemp -d -p /dev/shm)
else
  work=$(mktemp -d)
fi
chmod 0755 "$work"
exit_steps=()
at_exit() { exit_steps+=("$1"); }  # at_exit FUNCTION: called on exit, last first
cleanup() {
  local i
  for ((i = ${#exit_steps[@]} - 1; i >= 0; i--)); do "${exit_steps[i]}"; done
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# --- The example prefix and patch, and the program run on copies of them.
# use_examples PATCHER EXAMPLES: the program and the examples folder that
# the helpers below use.
use_examples() {
  patcher=$(readlink -f "$1")
  examples=$(readlink -f "$2")
}
program_args=()  # what run passes the program
dir='C:\Games\Torvane 2000'  # where the example prefix's registry puts the game
banner=$'Patcher 1.0\t\tNot made or supported by Quelvar\n   Written by the patcher team'

fresh() {  # a new scratch prefix and patch folder; $game is the game's folder
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work/prefix" "$work/patch" "$work/outside"
  cp -a "${examples:?call use_examples first}/prefix" "$work/prefix"
  cp -a "$examples/patch" "$work/patch"
  game="$work/prefix/drive_c/Games/Torvane 2000"
}

# check_applied NAME: the console says the example patch was applied, and
# the game has the patch's files.
check_applied() {
  check "$1: console" "$banner
Game Installed in: '$dir'

game.dat -> $dir\\game.dat
maps.mix -> $dir\\DATA\\maps.mix
sounds\\sounds.mix -> $dir\\Data\\Sounds.mix" "$out"
  check "$1: files" \
    "$(cat "$work/patch/game.dat" "$work/patch/maps.mix" "$work/patch/sounds/sounds.mix")" \
    "$(cat "$game/game.dat" "$game/Data/maps.mix" "$game/Data/sounds.mix")"
}

list() {  # list LINE...: writes move.txt with a message, no exe name, LINEs
  printf 'Apply?\n\n' >"$work/patch/move.txt"
  printf '%s\n' "$@" >>"$work/patch/move.txt"
}

# run [WRAPPER...]: runs the program in the patch folder answering Yes,
# through WRAPPER if given (as_user, env -u VAR ...); keeps $out, $err and
# $status, and the output in $work/out and $work/err.
run() { run_answering $'y\n' "$@"; }
# run_answering INPUT [WRAPPER...]: the same with INPUT as the answer.
run_answering() {
  local input=$1
  shift
  status=0
  # shellcheck disable=SC2034  # status is the calling suite's to check
  (cd "$work/patch" && printf '%s' "$input" | WINEPREFIX="$work/prefix" "$@" \
    "$patcher" "${program_args[@]}" >"$work/out" 2>"$work/err") || status=$?
  keep_output
}
keep_output() { out=$(cat "$work/out"); err=$(cat "$work/err"); }

# The boxes on standard error, one "caption: text" line each (the first
# line of the text), without the detail lines and the prompt.
boxes() {
  grep -v -e '^patcher: ' -e '^\[y/N\] ' <<<"$err" |
    awk 'prev != "" { print prev ": " $0; prev = ""; next }
         /^(Error|Failed|Success|Warning)$/ { prev = $0 }'
}

# Every name below the game's folder with its type, size and content digest.
snapshot() {
  (cd "$game" && find . -printf '%p %y %s %m\n' | sort &&
    find . -type f -exec md5sum {} + | sort)
}

# Hidden names in the prefix, such as our temporaries: the examples have none.
temporaries() { find "$work/prefix" -name '.*' | sort; }

# --- Runs as an ordinary user, whom permission bits bind: as_user COMMAND...
# (a run WRAPPER too); as_user_in GROUP COMMAND... with GROUP (a number) as a
# supplementary group. Only root can switch users.
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
as_user_in() { setpriv --reuid=65534 --regid=65534 --groups="$1" "${@:2}"; }
can_switch_user() { command -v setpriv >/dev/null && [ "$(id -u)" = 0 ]; }

# --- start_xvfb: a screen of our own for the rest of the suite; exports
# DISPLAY. -displayfd picks a free display number and writes it once the
# server accepts clients; -fbdir keeps the screen's pixels in
# $work/Xvfb_screen0, for pictures. -noreset: by default the server resets
# whenever its last client leaves (each xdotool run, a closed dialog), and a
# dialog that connects meanwhile fails with "cannot open display".
start_xvfb() {
  Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1024x768x24 -fbdir "$work" \
    3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  at_exit stop_xvfb
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  if [ ! -s "$work/display" ]; then
    echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1
  fi
  DISPLAY=":$(head -n1 "$work/display")"
  export DISPLAY
  unset WAYLAND_DISPLAY
}
stop_xvfb() { kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
