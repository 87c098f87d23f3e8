# Helpers for the shell tests that run the built program on a scratch copy of
# the example prefix and patch. Source it with PATCHER and EXAMPLES set.
# shellcheck shell=bash disable=SC2034

patcher=$(readlink -f "$PATCHER")
examples=$(readlink -f "$EXAMPLES")
# In memory where the host has it: thousands of copies, each synced to the
# disk before it is renamed into place, take a minute on a disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work=$(mktemp -d -p /dev/shm)
else
  work=$(mktemp -d)
fi
chmod 0755 "$work"
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
failures=0 passed=0
dir='C:\Games\Torvane 2000'

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then passed=$((passed + 1)); else
    fail "$1"; diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | head -20
  fi
}

fresh() {  # a new scratch prefix and patch folder; $game is the game's folder
  chmod -R u+w "$work" 2>/dev/null
  rm -rf "$work/prefix" "$work/patch" "$work/outside"
  cp -a "$examples/prefix" "$work/prefix"
  cp -a "$examples/patch" "$work/patch"
  game="$work/prefix/drive_c/Games/Torvane 2000"
}

list() {  # list LINE...: writes move.txt with a message, no exe name, LINEs
  printf 'Apply?\n\n' >"$work/patch/move.txt"
  printf '%s\n' "$@" >>"$work/patch/move.txt"
}

# run [WRAPPER...]: runs the program in the patch folder answering Yes,
# through WRAPPER if given (e.g. setpriv ...); keeps $out, $err, $status.
run() {
  status=0
  (cd "$work/patch" && echo y | WINEPREFIX="$work/prefix" "$@" "$patcher" \
    >"$work/out" 2>"$work/err") || status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

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

# Names that look like our temporaries: hidden, a dot and six characters.
temporaries() { find "$work/prefix" -name '.*.??????' | sort; }

finish() {
  echo "$passed passed, $failures failed"
  [ "$failures" -eq 0 ]
}
