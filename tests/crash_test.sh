#!/usr/bin/env bash
# Kills the program at each of its system calls in turn during a small patch
# run, and checks what a crash leaves: every file replaced by a rename is the
# whole old file or the whole new one, and once the next run has finished the
# game's folder holds the new files and nothing else (that run removes any
# temporary the killed one left, and says so).
#
# The calls of a full run are listed with strace; then for each call name
# and each of its invocations n, the run is repeated with strace killing the
# program as it enters that invocation (-e inject=NAME:signal=KILL:when=n).
# Usage: crash_test.sh path/to/patcher path/to/examples
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"
need basics strace
if ! strace -f -qq -o /dev/null true 2>/dev/null; then
  echo "skipped: strace cannot trace here (ptrace refused)"
  exit 77
fi
unset DISPLAY WAYLAND_DISPLAY  # boxes on the console
# The in-use check looks through the wine-* folders in $TMPDIR, which other
# suites make and remove while this one runs: a folder of our own keeps the
# number of system calls of every run the same.
export TMPDIR="$work/tmp"
mkdir "$TMPDIR"

# The example patch's three files, replaced by a rename (their old data
# longer than the new, so that a file written part way shows), and a fourth
# destination with a second name (outside the game's folder), written in
# place: a crash may leave that one part-written, but the next run mends it.
renamed=(game.dat Data/maps.mix Data/sounds.mix)
setup() {
  fresh
  list 'game.dat,game.dat' 'maps.mix,Data\maps.mix' 'sounds\sounds.mix,Data\sounds.mix' \
    'maps.mix,Data\linked.mix'
  local f
  for f in "${renamed[@]}"; do printf 'old %s,\nlonger than the new one\n' "$f" >"$game/$f"; done
  echo "old linked" >"$game/Data/linked.mix"
  ln "$game/Data/linked.mix" "$work/prefix/linked.bak"
}
setup
declare -A old new
for f in "${renamed[@]}"; do old[$f]=$(cat "$game/$f"); done
new[game.dat]=$(cat "$work/patch/game.dat")
new[Data/maps.mix]=$(cat "$work/patch/maps.mix")
new[Data/sounds.mix]=$(cat "$work/patch/sounds/sounds.mix")
names_after=$(cd "$game" && find . | sort)  # no name comes or goes

# patcher_traced STRACE_ARGS...: one run answering Yes under strace. A
# sanitizer build's leak check cannot work in a traced process (it traces
# the process itself); the next runs, not traced, keep it.
patcher_traced() {
  (cd "$work/patch" && printf 'y\n' | WINEPREFIX="$work/prefix" \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    strace -f -qq "$@" "$patcher" >"$work/out" 2>"$work/err")
}

patcher_traced -o "$work/calls"
check "full run: status" 0 "$?"
# One "COUNT NAME" line per call name, from lines such as "123 openat(...";
# not the execve that starts the program, before which nothing can happen.
sed -nE 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/p' "$work/calls" | sed '1{/^execve$/d}' | sort |
  uniq -c >"$work/counts"
total=$(awk '{ n += $1 } END { print n }' "$work/counts")
echo "a full run makes $total system calls of $(wc -l <"$work/counts") kinds"

tried=0 killed=0 left=0
while read -r count name; do
  for ((n = 1; n <= count; n++)); do
    at="$name #$n"
    setup
    tried=$((tried + 1))
    status=0
    patcher_traced -o /dev/null -e trace="$name" \
      -e inject="$name:signal=KILL:when=$n" 2>/dev/null || status=$?  # no job report
    if [ "$status" != 137 ]; then
      fail "$at: not killed (status $status)"
      continue
    fi
    killed=$((killed + 1))
    for f in "${renamed[@]}"; do
      content=$(cat "$game/$f" 2>&1)
      if [ "$content" != "${old[$f]}" ] && [ "$content" != "${new[$f]}" ]; then
        fail "$at: $f is neither the old file nor the new one: $content"
      else
        passed=$((passed + 1))
      fi
    done
    stray=$(find "$game" -name '.*' | wc -l)
    left=$((left + stray))

    run_answering $'y\n'
    check "$at: next run's status" 0 "$status"
    check "$at: next run says what it removed" "$stray" "$(grep -c '^patcher: removed ' <<<"$err")"
    check "$at: names" "$names_after" "$(cd "$game" && find . | sort)"
    for f in "${renamed[@]}"; do check "$at: $f new" "${new[$f]}" "$(cat "$game/$f")"; done
    check "$at: linked.mix new by both names" "new maps new maps" \
      "$(cat "$game/Data/linked.mix") $(cat "$work/prefix/linked.bak")"
  done
done <"$work/counts"

echo "kill points tried: $tried, killed there: $killed, temporaries they left: $left"
check "every kill point tried" "$total" "$tried"

# Ctrl-C, SIGTERM and SIGHUP (a terminal closed) at a call of each kind, the
# middle one of its kind: a file being replaced is finished first, even one
# written in place; then the run stops before the next file, says how far it
# came (files before that point new, after it old), shows no box and ends by
# the signal. Stopped before the copies (in the check, at the question) or
# after the last, it just ends by the signal. The next run finishes the patch.
order=("${renamed[@]}" Data/linked.mix)
new[Data/linked.mix]=$(cat "$work/patch/maps.mix")
old[Data/linked.mix]="old linked"
signals=(INT TERM HUP)
stops=0
while read -r count name; do
  [ "$name" != exit_group ] || continue  # past the end: nothing left to stop
  sig=${signals[stops % 3]}
  stops=$((stops + 1))
  at="SIG$sig at $name #$(((count + 1) / 2))"
  setup
  status=0
  patcher_traced -o /dev/null -e trace="$name" \
    -e inject="$name:signal=$sig:when=$(((count + 1) / 2))" 2>/dev/null || status=$?
  check "$at: ends by the signal" $((128 + $(kill -l "$sig"))) "$status"
  line=$(grep '^patcher: stopped' "$work/err")
  if [[ $line =~ ^patcher:\ stopped\ by\ SIG$sig\ after\ ([0-9])\ of\ 4\ files\;\ run\ the\ patch\ again\ to\ finish\ it$ ]]; then
    done_files=${BASH_REMATCH[1]}
  elif [ -z "$line" ]; then
    done_files=""
  else
    fail "$at: stop line: $line"
    continue
  fi
  states=""
  for i in "${!order[@]}"; do
    f=${order[i]}
    content=$(cat "$game/$f")
    if [ "$content" = "${new[$f]}" ]; then states+=n
    elif [ "$content" = "${old[$f]}" ]; then states+=o
    else states+=x; fi
  done
  if [ -n "$done_files" ]; then
    want=$(printf "%${done_files}s" "" | tr ' ' n)$(printf "%$((4 - done_files))s" "" | tr ' ' o)
    check "$at: new up to where it stopped" "$want" "$states"
  else
    case $states in nnnn | oooo) passed=$((passed + 1)) ;; *) fail "$at: files $states" ;; esac
  fi
  check "$at: no box after the question" "" "$(grep -x -e Error -e Failed -e Success "$work/err")"
  run_answering $'y\n'
  check "$at: next run's status" 0 "$status"
  check "$at: names" "$names_after" "$(cd "$game" && find . | sort)"
  for f in "${order[@]}"; do check "$at: $f new" "${new[$f]}" "$(cat "$game/$f")"; done
done <"$work/counts"
echo "stop points tried: $stops"
summary
