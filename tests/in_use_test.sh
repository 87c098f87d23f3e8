#!/usr/bin/env bash
# Runs the built program on a real Wine prefix while a Windows program runs
# in it (cmd waiting at a pause), and again after Wine has stopped: the
# warning that programs run there comes before the question, No to it ends
# the run as No does, and without a wineserver nothing is shown. The prefix
# is named, then found in a fake home.
# Usage: in_use_test.sh path/to/patcher path/to/examples
# Exits 77 (skipped) when wine64 is missing.
set -uo pipefail
# shellcheck source=tests/lib.sh
source "$(dirname "$0")/lib.sh"
use_examples "$1" "$2"
# Debian keeps wine64 and wineserver out of PATH.
PATH=/usr/lib/wine:$PATH
need wine wine64 wineserver

started=$SECONDS
home=$work/home
export WINEPREFIX=$home/.wine WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
waiting_pid=""
# The name of this prefix's server folder: its device and inode in hex.
server_folder() {
  printf 'server-%x-%x' "$(stat -L -c %d "$WINEPREFIX")" \
    "$(stat -L -c %i "$WINEPREFIX")"
}
stop_wine() {
  [ -z "$waiting_pid" ] || { echo >"$work/pause"; wait "$waiting_pid"; }
  wineserver -k 2>/dev/null
  # Debian's Wine leaves folders of this prefix's servers behind in /tmp.
  local server folder
  server=$(server_folder) || return
  for folder in "${TMPDIR:-/tmp}"/wine-*/"$server"; do
    [ -d "$folder" ] && rm -rf "$(dirname "$folder")"
  done
}
at_exit stop_wine

mkdir -p "$home"
wine64 wineboot -i >"$work/wineboot.log" 2>&1 ||
  { echo "FAIL: wineboot"; cat "$work/wineboot.log"; exit 1; }
wine64 reg add 'HKLM\Software\Quelvar\Torvane 2000' /v 'Install Dir' \
  /d 'C:\Games\Torvane 2000' /reg:32 /f >/dev/null
wineserver -w  # the registry is on disk once the server has gone
echo "prefix ready in $((SECONDS - started)) s"
# (lib.sh's fresh sets $game to the example prefix's copy.)
wine_game="$WINEPREFIX/drive_c/Games/Torvane 2000"
pristine=$(cd "$examples/prefix/drive_c/Games/Torvane 2000" && pwd)
reset_game() {
  rm -rf "$wine_game" && mkdir -p "$(dirname "$wine_game")" &&
    cp -a "$pristine" "$wine_game"
}
old_game=$(cat "$pristine/game.dat")
new_game=$(cat "$examples/patch/game.dat")

# A Windows program that waits, keeping the prefix's wineserver running.
start_waiting() {
  rm -f "$work/pause" "$work/waiting"
  mkfifo "$work/pause"
  (exec 3<>"$work/pause"
   wine64 cmd /c "echo waiting & pause" <"$work/pause" >"$work/waiting" 2>&1) &
  waiting_pid=$!
  for _ in $(seq 300); do
    grep -q waiting "$work/waiting" 2>/dev/null && return
    sleep 0.1
  done
  fail "the waiting program did not start"
}
stop_waiting() {  # a key for the pause; then Wine's server goes too
  echo >"$work/pause"
  wait "$waiting_pid"
  waiting_pid=""
  # Its socket goes when it has gone (its folder and lock stay).
  local server
  server=$(server_folder)
  for _ in $(seq 200); do
    compgen -G "${TMPDIR:-/tmp}/wine-*/$server/socket" >/dev/null ||
      compgen -G "/tmp/.wine-$(id -u)/$server/socket" >/dev/null || return 0
    sleep 0.1
  done
  fail "Wine's server did not stop"
}

warning="Warning: Programs are running in the Wine prefix $WINEPREFIX (the game may be open). Files that they hold open may be replaced under them, and recent registry changes may not be saved yet."
question='Warning: This patch brings Torvane 2000 to version 1.1.'

# patch NAME INPUT [WRAPPER...]: the example patch on the prefix's game.
patch() {
  local name=$1 input=$2
  shift 2
  fresh
  reset_game
  run_answering "$input" "$@"
  check "$name: exit status" 0 "$status"
}
use() {  # use named|found: how run finds the prefix, in $wrapper
  if [ "$1" = named ]; then
    wrapper=(env WINEPREFIX="$WINEPREFIX")
  else
    wrapper=(env -u WINEPREFIX -u XDG_DATA_HOME HOME="$home")
  fi
}

start_waiting
for how in named found; do
  use "$how"
  patch "running, $how, No" $'n\n' "${wrapper[@]}"
  check "running, $how, No: only the warning" "$warning" "$(boxes)"
  check "running, $how, No: untouched" "$old_game" "$(cat "$wine_game/game.dat")"
  check "running, $how, No: console" "$banner" "$out"

  patch "running, $how, Yes" $'y\ny\n' "${wrapper[@]}"
  check "running, $how, Yes: boxes" "$warning
$question
Success: Patch successful" "$(boxes)"
  check "running, $how, Yes: patched" "$new_game" "$(cat "$wine_game/game.dat")"
done
check "found: said so" "patcher: found the game in the Wine prefix $WINEPREFIX" \
  "$(grep '^patcher: ' "$work/err")"
stop_waiting

for how in named found; do
  use "$how"
  patch "stopped, $how" $'y\n' "${wrapper[@]}"
  check "stopped, $how: no warning" "$question
Success: Patch successful" "$(boxes)"
done

echo "ran in $((SECONDS - started)) s"
summary
